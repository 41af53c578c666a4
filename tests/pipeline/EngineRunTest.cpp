#include "pipeline/EngineRun.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "config/DiagLog.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kFakeVars[] = {"FAKE_ENGINE_MODE", "FAKE_ENGINE_PAGES", "FAKE_ENGINE_LAST", "FAKE_ENGINE_DELAY",
                                 "FAKE_ENGINE_TEXT", "FAKE_ENGINE_STREAM", "FAKE_ENGINE_BYTES", "FAKE_ENGINE_EXIT",
                                 "FAKE_ENGINE_ARGS", "FAKE_ENGINE_FDS"};

// True when `pid` no longer exists as a child of ours (reaped, no zombie left).
bool Reaped(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) < 0 && errno == ECHILD;
}

// The descriptors a fake engine listed: fd -> what it points to.
std::map<int, std::string> ReadFdList(const fs::path& file) {
    std::map<int, std::string> fds;
    std::istringstream in(ReadFileBytes(file));
    int fd;
    std::string target;
    while (in >> fd >> target) fds[fd] = target;
    return fds;
}

bool WaitForFile(const fs::path& file) {
    for (int i = 0; i < 500 && !fs::exists(file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(file);
}

}  // namespace

class EngineRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* var : kFakeVars) unsetenv(var);
    }
    void TearDown() override {
        for (const char* var : kFakeVars) unsetenv(var);
        DiagLog::Instance().SetSwitches(0, 0);
        DiagLog::Instance().SetReportPath("");
    }
    static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
    static std::string Fake() { return FAKE_ENGINE_PATH; }
    EngineCommand Thumbs() const { return ThumbsCommand(10, (home.Root() / "thumb").string(), "/in/a.pdf"); }

    // One chunk written by the engine in a single write, read back by ReadProgress.
    int32_t ReadChunk(const std::string& chunk, int32_t& done, int32_t& total) {
        Set("FAKE_ENGINE_MODE", "raw");
        Set("FAKE_ENGINE_TEXT", chunk);
        EngineRun run;
        EXPECT_TRUE(run.Start(Fake(), Thumbs()));
        return run.ReadProgress(done, total);
    }

    // Starts the stand-in engine as the environment now sets it up, follows it from
    // progress `start` with `weight` until its output ends, and returns the progress.
    int32_t FollowToEnd(PdfJob& job, int32_t start, int32_t run_index, int32_t weight) {
        job.progress = start;
        EngineRun run;
        EXPECT_TRUE(run.Start(Fake(), Thumbs()));
        EXPECT_TRUE(run.Follow(job, run_index, weight));
        EXPECT_FALSE(run.Running());
        return job.progress.load();
    }

    TempHome home;
};

TEST_F(EngineRunTest, ReadProgressUsesTheFirstProgressLineOfAChunk) {
    int32_t done = -7, total = -7;
    EXPECT_EQ(ReadChunk("PN:5/20\r\nPN:6/20\r\nPN:7/20\r\n", done, total), 0);
    EXPECT_EQ(done, 5);
    EXPECT_EQ(total, 20);

    // Text before the progress line, a bare CR ending, and a line cut at the chunk's end.
    EXPECT_EQ(ReadChunk("rendering...\nPN:3/4\rPN:4/4\r", done, total), 0);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(ReadChunk("PN:12/15", done, total), 0);
    EXPECT_EQ(total, 15);
    // The page count follows the last slash of the line.
    EXPECT_EQ(ReadChunk("PN:2/x/9\n", done, total), 0);
    EXPECT_EQ(total, 9);
}

TEST_F(EngineRunTest, ReadProgressRejectsChunksWithoutUsableNumbers) {
    int32_t done = 0, total = 0;
    EXPECT_EQ(ReadChunk("no progress here\n", done, total), -1);
    EXPECT_EQ(ReadChunk("PN:0/20\n", done, total), -1);
    EXPECT_EQ(ReadChunk("PN:3/0\n", done, total), -1);
    EXPECT_EQ(ReadChunk("PN:3\n", done, total), -1);
    EXPECT_EQ(ReadChunk("PN:-5/20\n", done, total), -1);
    EXPECT_EQ(ReadChunk("PN:99999999999/20\n", done, total), -1);
    // More pages done than the document has counts as all of them.
    EXPECT_EQ(ReadChunk("PN:30/20\n", done, total), 0);
    EXPECT_EQ(done, 20);
}

TEST_F(EngineRunTest, FollowAddsTheWeightedShareToTheProgressOnEntry) {
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    Set("FAKE_ENGINE_MODE", "raw");
    Set("FAKE_ENGINE_TEXT", "PN:10/20\n");
    EXPECT_EQ(FollowToEnd(job, 10000, ENGINE_RUN_ZOOM, 8000), 14000);

    // Every page in separate writes ends at the step's end; weight 0 leaves it alone.
    Set("FAKE_ENGINE_MODE", "progress");
    Set("FAKE_ENGINE_PAGES", "7");
    Set("FAKE_ENGINE_DELAY", "5");
    const int32_t all = FollowToEnd(job, 6000, ENGINE_RUN_THUMBS, 4000);
    EXPECT_LE(all, 10000);
    EXPECT_GE(all, 6000 + 4000 / 7);
    EXPECT_EQ(FollowToEnd(job, 42000, ENGINE_RUN_PRINT, 0), 42000);
}

TEST_F(EngineRunTest, CrashNonZeroExitAndHugeOutputEndTheRunNormally) {
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    Set("FAKE_ENGINE_MODE", "crash");
    EngineRun crash;
    ASSERT_TRUE(crash.Start(Fake(), Thumbs()));
    pid_t pid = crash.Pid();
    EXPECT_TRUE(crash.Follow(job, ENGINE_RUN_ZOOM, 8000));
    EXPECT_EQ(job.progress.load(), 2000);
    EXPECT_TRUE(Reaped(pid));

    Set("FAKE_ENGINE_MODE", "raw");
    Set("FAKE_ENGINE_TEXT", "PN:3/3\n");
    Set("FAKE_ENGINE_EXIT", "3");
    EXPECT_EQ(FollowToEnd(job, 0, ENGINE_RUN_ZOOM, 8000), 8000);

    // A megabyte of noise is drained in bounded reads without blocking the engine.
    unsetenv("FAKE_ENGINE_EXIT");
    Set("FAKE_ENGINE_MODE", "big");
    EXPECT_EQ(FollowToEnd(job, 0, ENGINE_RUN_ZOOM, 8000), 8000);
}

TEST_F(EngineRunTest, StopRequestTerminatesAndReapsTheEngine) {
    for (const char* mode : {"hang", "hang_ignore_term"}) {
        SCOPED_TRACE(mode);
        PdfJob job;
        job.state = JOB_STATE_RUNNING;
        job.progress = 18000;
        Set("FAKE_ENGINE_MODE", mode);
        EngineRun run;
        ASSERT_TRUE(run.Start(Fake(), Thumbs()));
        pid_t pid = run.Pid();
        std::thread stopper([&job] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            job.state = JOB_STATE_STOPPING;
        });
        testing::internal::CaptureStderr();
        auto start = Clock::now();
        bool ended = run.Follow(job, ENGINE_RUN_HIGH, 8000);
        auto elapsed = Clock::now() - start;
        std::string log = testing::internal::GetCapturedStderr();
        stopper.join();
        EXPECT_FALSE(ended);
        EXPECT_LT(elapsed, std::chrono::seconds(5));
        EXPECT_EQ(job.progress.load(), 18000);
        EXPECT_TRUE(Reaped(pid));
        EXPECT_FALSE(run.Running());
        size_t abort_at = log.find("INF:user abort");
        ASSERT_NE(abort_at, std::string::npos) << log;
        EXPECT_NE(log.find("INF:process terminated", abort_at), std::string::npos) << log;
    }
}

TEST_F(EngineRunTest, StopKeepsTheLastReportedProgress) {
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    job.progress = 18000;
    Set("FAKE_ENGINE_MODE", "progress");
    Set("FAKE_ENGINE_PAGES", "1000");
    Set("FAKE_ENGINE_DELAY", "20");
    EngineRun run;
    ASSERT_TRUE(run.Start(Fake(), Thumbs()));
    std::thread stopper([&job] {
        while (job.progress.load() < 18000 + 8000 * 3 / 1000) std::this_thread::yield();
        job.state = JOB_STATE_STOPPING;
    });
    EXPECT_FALSE(run.Follow(job, ENGINE_RUN_HIGH, 8000));
    stopper.join();
    int32_t stopped_at = job.progress.load();
    EXPECT_GT(stopped_at, 18000);
    EXPECT_LT(stopped_at, 26000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(job.progress.load(), stopped_at);
}

TEST_F(EngineRunTest, MissingEngineFailsToStartAndTheRunEndsAtOnce) {
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    job.progress = 3000;
    EngineRun run;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(run.Start((home.Root() / "no-such-engine").string(), Thumbs()));
    auto start = Clock::now();
    EXPECT_TRUE(run.Follow(job, ENGINE_RUN_THUMBS, 4000));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(job.progress.load(), 3000);
    EXPECT_NE(log.find("ERR:Cannot Start rastrix.exe"), std::string::npos) << log;
    EXPECT_NE(log.find("ERR:ReadFile failed"), std::string::npos) << log;
}

// Two runs at once: each engine holds only its own pipe end, so the short run's output
// ends when its engine exits although the long run's engine is still alive.
TEST_F(EngineRunTest, EnginesInheritOnlyTheirOwnPipeEnd) {
    UniqueFd stray(::open("/dev/null", O_RDONLY));  // deliberately without close-on-exec
    ASSERT_TRUE(stray.Valid());
    const fs::path long_list = home.Root() / "long.fds";
    const fs::path short_list = home.Root() / "short.fds";

    Set("FAKE_ENGINE_MODE", "fds");
    Set("FAKE_ENGINE_DELAY", "3000");
    Set("FAKE_ENGINE_FDS", long_list.string());
    EngineRun long_run;
    ASSERT_TRUE(long_run.Start(Fake(), Thumbs()));
    ASSERT_TRUE(WaitForFile(long_list));

    Set("FAKE_ENGINE_DELAY", "0");
    Set("FAKE_ENGINE_FDS", short_list.string());
    EngineRun short_run;
    ASSERT_TRUE(short_run.Start(Fake(), Thumbs()));
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    auto start = Clock::now();
    EXPECT_TRUE(short_run.Follow(job, ENGINE_RUN_THUMBS, 4000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_TRUE(long_run.Running());

    std::map<int, std::string> a = ReadFdList(long_list);
    std::map<int, std::string> b = ReadFdList(short_list);
    for (auto* fds : {&a, &b}) {
        ASSERT_EQ(fds->size(), 3u);
        EXPECT_EQ((*fds)[0], "/dev/null");
        EXPECT_EQ((*fds)[1], "/dev/null");
        EXPECT_EQ((*fds)[2].rfind("pipe:", 0), 0u) << (*fds)[2];
    }
    EXPECT_NE(a[2], b[2]);
    long_run.Terminate();
    EXPECT_FALSE(long_run.Running());
}

TEST_F(EngineRunTest, ArgumentsReachTheEngineUnsplitAndTheCommandLineIsRecorded) {
    const fs::path args_file = home.Root() / "args";
    Set("FAKE_ENGINE_ARGS", args_file.string());
    Set("FAKE_ENGINE_PAGES", "1");
    const fs::path report = home.Root() / "report.txt";
    DiagLog::Instance().SetReportPath(report.string());
    DiagLog::Instance().SetSwitches(0, 1);

    EngineCommand cover = CoverCommand(21, (home.Root() / "my book/thumb").string(), "/in/a \"quoted\" name.pdf");
    EngineRun run;
    ASSERT_TRUE(run.Start(Fake(), cover));
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    EXPECT_TRUE(run.Follow(job, ENGINE_RUN_COVER, 0));

    std::string expected;
    for (const std::string& arg : cover.args) expected += arg + '\0';
    EXPECT_EQ(ReadFileBytes(args_file), expected);
    std::string log = ReadFileBytes(report);
    EXPECT_NE(log.find("[cmdline]"), std::string::npos) << log;
    EXPECT_NE(log.find(cover.text), std::string::npos) << log;
}
