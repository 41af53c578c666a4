// vellumark-batch: converts PDF files into books without the desktop program's window,
// through the same configuration, job table and worker.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

#include "batch/BatchOptions.h"
#include "batch/BatchRun.h"
#include "batch/EmbedCode.h"
#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "config/InstanceLock.h"
#include "config/SecretServiceStore.h"
#include "config/ServiceHostCheck.h"

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
// The password (or a key's passphrase) of a target being saved: the first line of
// standard input, asked for without echo when standard input is a terminal.
bool ReadPassword(const std::string& prompt, std::string& password)
{
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fprintf(stderr, "%s: ", prompt.c_str());
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

// Prints each line of `text` as a message of the command.
void PrintLines(const std::string& text)
{
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::fprintf(stderr, "vellumark-batch: %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

int SaveFtp(AppConfig& cfg, const FtpTargetSetup& setup)
{
    const bool key_login = !setup.key_file.empty();
    std::string secret, error, fingerprint;
    // A key without a passphrase may come with no input at all.
    if (!ReadPassword(key_login ? "Passphrase for " + setup.key_file : "Password for " + setup.user, secret) &&
        !key_login) {
        std::fprintf(stderr, "vellumark-batch: no password on standard input\n");
        return 1;
    }
    if (!CheckFtpTarget(setup, secret, error)) {
        std::fprintf(stderr, "vellumark-batch: the target is not saved: %s\n", error.c_str());
        return 1;
    }
    if (!VerifyFtpServer(cfg, setup, secret, fingerprint, error)) {
        PrintLines(error);
        return 1;
    }
    if (!SaveFtpTarget(cfg, setup, secret, fingerprint, error)) {
        std::fprintf(stderr, "vellumark-batch: the target is not saved: %s\n", error.c_str());
        return 1;
    }
    if (!fingerprint.empty())
        std::fprintf(stderr, "vellumark-batch: the server's key %s is accepted\n", fingerprint.c_str());
    std::fprintf(stderr, "vellumark-batch: saved; vellumark-batch --publish now publishes there\n");
    return 0;
}

int SaveTarget(AppConfig& cfg, const BatchOptions& options)
{
    if (options.ftp_target)
        return SaveFtp(cfg, *options.ftp_target);
    std::string password, error;
    if (!ReadPassword("Password for " + options.service_account->user, password)) {
        std::fprintf(stderr, "vellumark-batch: no password on standard input\n");
        return 1;
    }
    if (!SaveServiceAccount(cfg, *options.service_account, password, error)) {
        std::fprintf(stderr, "vellumark-batch: the target is not saved: %s\n", error.c_str());
        return 1;
    }
    if (ServiceHostInClear(cfg.m_config_ini.ReadText("network", "vazirudu_domain", 128)))
        std::fprintf(stderr, "vellumark-batch: the service is reached over plain http: the password and the books "
                             "travel unencrypted\n");
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
    // The passwords the desktop program keeps in the desktop's secret store are read
    // there, and kept there when one runs.
    static SecretServiceStore secrets;
    if (secrets.Available())
        InstallSecretStore(&secrets);
    AppConfig& cfg = TheConfig();
    cfg.Load();
    // A first start may take the books folder from the shipped settings instead.
    InstanceLock loaded_lock;
    if (cfg.m_books_folder != books_folder && !TakeLock(loaded_lock, cfg.m_books_folder))
        return 1;
    if (options.ftp_target || options.service_account)
        return SaveTarget(cfg, options);
    if (!options.embed_keys.empty())
        return PrintEmbedCodes(cfg, options.embed_keys, stdout, stderr);
    // For this command's books only: the desktop program's choice stays as it is.
    if (options.offer_pdf)
        cfg.m_upload_pdf = 1;
    BatchRun run(cfg, options);
    return run.Run();
}
