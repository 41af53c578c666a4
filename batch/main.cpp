// vellumark-batch: converts PDF files into books without the desktop program's window,
// through the same configuration, job table and worker.
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

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

bool TakeLock(InstanceLock& lock, const std::string& books_folder)
{
    std::string error;
    if (lock.TryAcquire(books_folder, error))
        return true;
    if (error.empty())
        error = "another Vellumark program is running; try again when it has ended";
    std::fprintf(stderr, "vellumark-batch: %s\n", error.c_str());
    return false;
}
// The password of a target being saved: the first line of standard input, asked for
// without echo when standard input is a terminal.
bool ReadPassword(const std::string& account, std::string& password)
{
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fprintf(stderr, "Password for %s: ", account.c_str());
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    const bool read = ReadPasswordLine(stdin, password);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputc('\n', stderr);
    }
    return read;
}

int SaveTarget(AppConfig& cfg, const BatchOptions& options)
{
    const std::string account = options.ftp_target ? options.ftp_target->user : options.service_account->user;
    std::string password, error;
    if (!ReadPassword(account, password)) {
        std::fprintf(stderr, "vellumark-batch: no password on standard input\n");
        return 1;
    }
    const bool saved = options.ftp_target ? SaveFtpTarget(cfg, *options.ftp_target, password, error)
                                          : SaveServiceAccount(cfg, *options.service_account, password, error);
    if (!saved) {
        std::fprintf(stderr, "vellumark-batch: the target is not saved: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "vellumark-batch: saved; vellumark-batch --publish now publishes there\n");
    return 0;
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
    // changes: while the desktop program or another batch command works on the same
    // books folder, do nothing. The lock is held before the configuration is loaded,
    // since loading already writes to the books folder.
    InstanceLock lock;
    const std::string books_folder = AppConfig::LocateBooksFolder();
    if (!TakeLock(lock, books_folder))
        return 1;
    AppConfig& cfg = TheConfig();
    cfg.Load();
    // A first start may take the books folder from the shipped settings instead.
    InstanceLock loaded_lock;
    if (cfg.m_books_folder != books_folder && !TakeLock(loaded_lock, cfg.m_books_folder))
        return 1;
    if (options.ftp_target || options.service_account)
        return SaveTarget(cfg, options);
    BatchRun run(cfg, options);
    return run.Run();
}
