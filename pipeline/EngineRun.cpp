#include "pipeline/EngineRun.h"

#include <errno.h>
#include <poll.h>
#include <sys/wait.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string_view>

#include "config/DiagLog.h"

namespace {

constexpr const char* kModule = "ChildProcess";

// How often a silent engine's run looks at the job's state: a stop request must reach an
// engine that hangs without writing anything.
constexpr int kStopPollMs = 200;

// Reads the decimal digits at the start of `text`. Returns 0 for no digits and for a value
// beyond 32 bits, which the callers treat as "no number".
int32_t LeadingDecimal(std::string_view text) {
    int64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

EngineRun::EngineRun() {
    if (!MakeCloexecPipe(read_end_, write_end_)) {
        DIAG(kModule, errno, "ERR:pipe creation failed");
    }
}

EngineRun::~EngineRun() {
    // Closing the read end first lets an engine blocked on a full pipe fail its write.
    read_end_.Reset();
    write_end_.Reset();
    if (pid_ > 0) {
        TerminateChild(pid_);
        pid_ = -1;
    }
}

bool EngineRun::Start(const std::string& engine_path, const EngineCommand& command) {
    // Recorded only once the log knows where the status report lies (configuration loaded).
    DiagLog& log = DiagLog::Instance();
    if (log.log_cmd() == 1 && !log.ReportPath().empty()) log.WriteRecord("cmdline", command.text);

    pid_t pid = -1;
    int error = EBADF;
    // A run is started once; without its write end (pipe failure, second start) it fails.
    if (write_end_.Valid() && pid_ <= 0) {
        pid = SpawnWithPipe(engine_path, command.args, write_end_.Get(), STDERR_FILENO);
        error = errno;
    }
    // The parent's copy of the write end goes in every case, so that reading ends as soon
    // as the engine exits, or at once when it never started.
    write_end_.Reset();
    if (pid < 0) {
        DIAG(kModule, error, "ERR:Cannot Start rastrix.exe");
        return false;
    }
    pid_ = pid;
    return true;
}

int32_t EngineRun::ReadProgress(int32_t& done, int32_t& total) {
    ssize_t n = read_end_.Valid() ? ReadRetry(read_end_.Get(), buffer_, sizeof(buffer_) - 1) : -1;
    if (n <= 0) {
        DIAG(kModule, n < 0 ? errno : 0, "ERR:ReadFile failed");
        return -2;
    }
    buffer_[n] = '\0';
    std::string_view chunk(buffer_, static_cast<size_t>(n));
    CollectMessages(chunk);

    size_t pn = chunk.find("PN:");
    if (pn == std::string_view::npos) {
        DiagLog& log = DiagLog::Instance();
        if (log.log_err()) log.WriteRecord("errlog", std::string(chunk));
        return -1;
    }
    // The progress line runs to the first line end or the chunk's end; a line cut by the
    // read is parsed as far as it arrived.
    size_t end = chunk.find_first_of("\r\n", pn);
    if (end == std::string_view::npos) end = chunk.size();
    std::string_view line = chunk.substr(pn + 3, end - pn - 3);
    size_t slash = line.rfind('/');
    int32_t d = LeadingDecimal(line);
    int32_t t = slash == std::string_view::npos ? 0 : LeadingDecimal(line.substr(slash + 1));
    if (d == 0 || t == 0) return -1;
    // More pages done than exist would push the progress into the next step's range.
    done = d < t ? d : t;
    total = t;
    return 0;
}

void EngineRun::CollectMessages(std::string_view chunk) {
    constexpr std::string_view kPrefix = "rastrix: ";
    constexpr size_t kMaxLine = 2048;
    for (char c : chunk) {
        if (c != '\n' && c != '\r') {
            if (partial_line_.size() < kMaxLine) partial_line_ += c;
            continue;
        }
        if (partial_line_.compare(0, kPrefix.size(), kPrefix) == 0 && messages_.size() < kMaxMessages)
            messages_.push_back(partial_line_);
        partial_line_.clear();
    }
}

bool EngineRun::WaitReadable(int timeout_ms) {
    if (!read_end_.Valid()) return true;  // the read fails at once
    pollfd pfd{read_end_.Get(), POLLIN, 0};
    int r = ::poll(&pfd, 1, timeout_ms);
    return r != 0 && !(r < 0 && errno == EINTR);
}

bool EngineRun::WaitExit(const PdfJob& job) {
    // The engine closes its output when it exits, so it is normally gone at once; the
    // pause between checks grows from 1 ms so a short run is not held up.
    long pause_ms = 1;
    while (pid_ > 0) {
        int status = -1;  // stays -1 when there was nothing left to reap
        if (TryReapChild(pid_, status)) {
            pid_ = -1;
            if (status != -1 && WIFEXITED(status))
                exit_status_ = WEXITSTATUS(status);
            else if (status != -1 && WIFSIGNALED(status))
                exit_status_ = 128 + WTERMSIG(status);
            break;
        }
        if (job.state.load() == JOB_STATE_STOPPING) {
            DIAG(kModule, 0, "INF:user abort");
            Terminate();
            return false;
        }
        timespec ts{0, pause_ms * 1000000L};
        nanosleep(&ts, nullptr);
        if (pause_ms < 20) pause_ms *= 2;
    }
    return true;
}

bool EngineRun::Follow(PdfJob& job, int32_t /*run_index*/, int32_t weight) {
    const int32_t base = job.progress.load();
    while (job.state.load() != JOB_STATE_STOPPING) {
        if (!WaitReadable(kStopPollMs)) continue;
        int32_t done = 0;
        int32_t total = 0;
        int32_t r = ReadProgress(done, total);
        if (r == -2) {
            read_end_.Reset();
            CollectMessages("\n");  // a last line without its line end
            return WaitExit(job);
        }
        if (r == -1 || weight == 0) continue;
        job.progress.store(base + static_cast<int32_t>(static_cast<int64_t>(done) * weight / total));
    }
    DIAG(kModule, 0, "INF:user abort");
    Terminate();
    return false;
}

void EngineRun::Terminate() {
    if (pid_ <= 0) return;
    DIAG(kModule, 0, "INF:process terminated");
    TerminateChild(pid_);
    pid_ = -1;
    read_end_.Reset();
}
