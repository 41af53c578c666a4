// vellumark-batch: converts PDF files into books without the desktop program's window,
// through the same configuration, job table and worker.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <termios.h>
#include <unistd.h>

#include "batch/BatchOptions.h"
#include "batch/BatchRun.h"
#include "batch/EmbedCode.h"
#include "batch/FarmList.h"
#include "batch/FarmReport.h"
#include "batch/ResultLog.h"
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

// --farm-report: needs no configuration and no lock, so that it runs beside the tasks.
int FarmReportCommand(const std::string& farm)
{
    if (!std::filesystem::is_directory(farm)) {
        std::fprintf(stderr, "vellumark-batch: %s: no such farm folder\n", farm.c_str());
        return 1;
    }
    const FarmSummary summary = ReadFarm(farm);
    const std::string text = SummaryText(summary);
    std::fputs(text.c_str(), stdout);
    if (!WriteFileWhole((std::filesystem::path(farm) / "report.txt").string(), text) ||
        !WriteFileWhole((std::filesystem::path(farm) / "report.json").string(), SummaryJson(summary))) {
        std::fprintf(stderr, "vellumark-batch: the report could not be written into %s\n", farm.c_str());
        return 1;
    }
    return summary.failed == 0 && summary.unfinished == 0 && summary.not_started == 0 && summary.items > 0 ? 0 : 1;
}

// The slice this run converts: --slice, --slice-from-env, else a Slurm array task's, else
// the whole list (task 0 of 1).
bool ResolveSlice(const BatchOptions& options, Slice& slice)
{
    std::string error;
    const EnvReader env = ProcessEnv();
    bool ok = true;
    if (options.slice)
        ok = ParseSlice(*options.slice, slice, error);
    else if (!options.slice_from_env.empty())
        ok = SliceFromEnv(options.slice_from_env, env, slice, error);
    else if (!options.list_file.empty())
        ok = SliceFromSlurm(env, slice, error) || error.empty();
    if (!ok)
        std::fprintf(stderr, "vellumark-batch: %s\n", error.c_str());
    return ok;
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
    if (!options.farm_report_dir.empty())
        return FarmReportCommand(options.farm_report_dir);
    Slice slice;
    if (!ResolveSlice(options, slice))
        return 2;
    // A farm task works in a folder of its own under the farm folder, with its own books
    // folder: tasks on one machine or on a shared filesystem never share a lock or a
    // meta.ini, and the task's results lie beside its books.
    std::string task_folder;
    if (!options.farm_dir.empty()) {
        std::error_code ec;
        const std::filesystem::path farm = std::filesystem::absolute(options.farm_dir, ec).lexically_normal();
        task_folder = (farm / ("task-" + std::to_string(slice.index))).string();
        std::filesystem::create_directories(task_folder + "/books", ec);
        if (ec) {
            std::fprintf(stderr, "vellumark-batch: cannot make %s: %s\n", task_folder.c_str(), ec.message().c_str());
            return 1;
        }
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
    const std::string books_folder =
        task_folder.empty() ? AppConfig::LocateBooksFolder() : task_folder + "/books";
    if (!TakeLock(lock, books_folder))
        return 1;
    // The passwords the desktop program keeps in the desktop's secret store are read
    // there, and kept there when one runs.
    static SecretServiceStore secrets;
    if (secrets.Available())
        InstallSecretStore(&secrets);
    AppConfig& cfg = TheConfig();
    if (!task_folder.empty())
        cfg.m_books_folder_override = books_folder;
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
    BatchRun run(cfg, options, slice, task_folder);
    return run.Run();
}
