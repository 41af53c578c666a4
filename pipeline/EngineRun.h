// One run of the conversion engine as a child process whose output is followed through a
// pipe. Image runs (Start, Follow) read the engine's standard error for progress lines
// "PN:<done>/<total>"; the two metadata queries read its standard output. The child gets
// only its own pipe end (on standard error for image runs, standard output for queries),
// standard input and the unused output stream from /dev/null, and no other descriptor of
// this process, whichever thread opened it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/ChildProcess.h"
#include "pipeline/EngineCommand.h"
#include "pipeline/PdfJob.h"

// Indexes of a worker's image runs (one EngineRun each).
enum : int32_t {
    ENGINE_RUN_COVER = 0,
    ENGINE_RUN_THUMBS = 1,
    ENGINE_RUN_ZOOM = 2,
    ENGINE_RUN_HIGH = 3,
    ENGINE_RUN_MEDIUM = 4,
    ENGINE_RUN_LOW = 5,
    ENGINE_RUN_PRINT = 6,
    ENGINE_RUN_COUNT = 7,
};

// The information query's results. Texts are UTF-8, each cut to at most 1024 UTF-16 units.
struct EngineDocInfo {
    std::string title;
    std::string tags;
    std::string description;
    int32_t page_count = 0;
    int32_t page_width = 0;
    int32_t page_height = 0;
};

class EngineRun {
public:
    // Creates the pipe (close-on-exec on both ends). A failure is remembered: Start then
    // fails and reads end at once.
    EngineRun();
    // Closes both pipe ends; an engine still running is terminated and reaped.
    ~EngineRun();
    EngineRun(const EngineRun&) = delete;
    EngineRun& operator=(const EngineRun&) = delete;

    // Starts `engine_path` with the arguments of `command`, standard error on the pipe.
    // When log_cmd is on, the command text goes to section "cmdline" of the status report
    // first. On failure logs "ERR:Cannot Start rastrix.exe", closes the write end (so a
    // later read fails at once) and returns false.
    bool Start(const std::string& engine_path, const EngineCommand& command);

    // One blocking read of at most 4095 bytes. Returns -2 when the read fails or the engine
    // closed its output (logs "ERR:ReadFile failed"); -1 when the chunk holds no "PN:"
    // (the chunk goes to section "errlog" when log_err is on) or a number in it is 0 or not
    // a number; 0 with `done` and `total` set otherwise. Only the first "PN:" of the chunk
    // counts; `done` is never more than `total`.
    int32_t ReadProgress(int32_t& done, int32_t& total);

    // Follows a started run until its output ends (true) or the job's state becomes
    // JOB_STATE_STOPPING (false: logs "INF:user abort" and terminates the engine). Each
    // progress line sets job.progress = base + done * weight / total, where base is the
    // progress on entry. `run_index` is one of ENGINE_RUN_* (the caller's bookkeeping).
    // The state is also checked while a silent engine writes nothing, so a hung engine
    // can be stopped.
    bool Follow(PdfJob& job, int32_t run_index, int32_t weight);

    // Ends the engine when it runs: logs "INF:process terminated", sends SIGTERM, then
    // SIGKILL after a short grace, and reaps it.
    void Terminate();

    // True while a started engine has not been reaped.
    bool Running() const { return pid_ > 0; }
    // The reaped engine's exit code (128 + signal number when a signal ended it); -1
    // while it runs, when it never started or was terminated.
    int ExitStatus() const { return exit_status_; }
    // The engine's own message lines read so far ("rastrix: page 3: ...", "rastrix:
    // warning: page 4: ..."), at most kMaxMessages of them, without their line ends.
    const std::vector<std::string>& Messages() const { return messages_; }
    static constexpr size_t kMaxMessages = 64;
    pid_t Pid() const { return pid_; }

    // The size query: the engine's first two output lines as width and height. Fails
    // (false) when the engine cannot be run or does not print two positive numbers.
    static bool QuerySize(int32_t resolution, const std::string& engine_path, const std::string& pdf,
                          int32_t& width, int32_t& height);

    // The information query. Fails (false) when the engine cannot be run or does not print
    // a positive page count, page width and page height on lines 5 to 7.
    static bool QueryInfo(int32_t resolution, const std::string& engine_path, const std::string& pdf,
                          EngineDocInfo& info);

    // Runs the engine with its standard output on a fresh pipe and reads that output to
    // its end, keeping at most 64 KiB of it in `output` when one is given (the rest is
    // read and dropped). Logs under `module`: "ERR:Stdout pipe creation failed",
    // "ERR:Cannot get the meta infomation of the PDF" or "ERR:Closing handle failed", and
    // returns false for those; true once the output ended and the engine was reaped.
    static bool RunToEnd(const char* module, const std::string& engine_path, const EngineCommand& command,
                         std::string* output, size_t chunk_size);

private:
    // Waits until the pipe can be read or `timeout_ms` passed; false on time-out.
    bool WaitReadable(int timeout_ms);
    // Waits for the engine to exit after its output ended; a stop request meanwhile
    // terminates it and gives false.
    bool WaitExit(const PdfJob& job);
    // Keeps the engine's message lines of a chunk; a line cut by the read is completed
    // by the next chunk.
    void CollectMessages(std::string_view chunk);

    UniqueFd read_end_;
    UniqueFd write_end_;
    pid_t pid_ = -1;
    int exit_status_ = -1;
    std::string partial_line_;
    std::vector<std::string> messages_;
    char buffer_[4096] = {};
};
