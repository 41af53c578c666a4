// vellumark-batch: converts PDF files into books without the desktop program's window,
// through the same configuration, job table and worker.
#include <csignal>
#include <cstdio>

#include "batch/BatchOptions.h"
#include "batch/BatchRun.h"
#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "config/InstanceLock.h"

namespace {
void OnSignal(int)
{
    BatchRun::interrupted.store(true);
}
}  // namespace

int main(int argc, char** argv)
{
    BatchOptions options;
    std::string error;
    if (!ParseBatchOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "vellumark-batch: %s\n%s", error.c_str(), BatchUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(BatchUsage(), stdout);
        return 0;
    }
    // Ctrl-C or a polite kill stops the jobs where they are; they can be resumed.
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // The diagnostic records would drown the progress display; they still reach the
    // status report when the log is switched on in config.ini.
    DiagLog::Instance().SetDebugOutput(options.verbose);

    // Two programs updating the same job records at once would lose each other's
    // changes: while the desktop program or another batch command runs, do nothing.
    InstanceLock lock;
    if (!lock.TryAcquire(error)) {
        if (error.empty())
            error = "another Vellumark program is running; try again when it has ended";
        std::fprintf(stderr, "vellumark-batch: %s\n", error.c_str());
        return 1;
    }

    AppConfig& cfg = TheConfig();
    cfg.Load();
    BatchRun run(cfg, options);
    return run.Run();
}
