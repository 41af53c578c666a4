// vellumark-service: the publishing web service the desktop program uploads books to.
// Starts on the options of the command line, prints the address it listens on as its
// first line, and serves until SIGINT or SIGTERM.
#include "config/DiagLog.h"
#include "service/AccountStore.h"
#include "service/BookPages.h"
#include "service/BookStore.h"
#include "service/BookUpdates.h"
#include "service/DatabaseMigration.h"
#include "service/PostgresConnection.h"
#include "service/ClientRequests.h"
#include "service/ReferenceSync.h"
#include "service/ServiceDatabase.h"
#include "service/ServiceOptions.h"
#include "service/ServiceRoutes.h"
#include "service/StageSweep.h"

#include "service/http/HttpServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace service;

namespace {

int Fail(const std::string& why) {
    std::fprintf(stderr, "vellumark-service: %s\n", why.c_str());
    return 1;
}

// The folder of this program, where the build and the installation put DefaultCfg/.
fs::path ProgramFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path(error) : self.parent_path();
}

// Keeps a second service from using the same data folder; held until the process ends.
bool LockDataFolder(const fs::path& folder) {
    const int fd = ::open((folder / "service.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Every open connection holds a descriptor: take as many as the system lets this
// process have, and keep some for files and the database. The connection limit.
size_t ConnectionLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const size_t descriptors = static_cast<size_t>(limit.rlim_cur);
    return std::clamp<size_t>(descriptors > 128 ? descriptors - 128 : 16, 16, 10000);
}

// Copies the data folder's SQLite database to the PostgreSQL database at `url`.
int MigrateTo(const fs::path& data, const std::string& url) {
    const fs::path file = data / "service.db";
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return Fail("no database to migrate: " + file.string() + " is missing");
    if (!LockDataFolder(data)) return Fail("data folder " + data.string() + " is in use by a running service; stop it first");
    ServiceDatabase from;
    ServiceDatabase to;
    std::string why;
    std::string summary;
    if (!from.Open(file.string(), why) || !to.Open(url, why)) return Fail(why);
    if (!CopyDatabase(from, to, summary, why)) return Fail("migration failed, nothing was copied: " + why);
    std::printf("vellumark-service: copied %s\n", summary.c_str());
    return 0;
}

// Where this process makes its pages. Service processes sharing a data folder each
// have a folder of their own in tmp/ (named by host and process), and remove the ones
// of processes of this host that no longer run.
fs::path PrivateTempFolder(const fs::path& tmp, bool shared) {
    std::error_code error;
    if (!shared) {
        // What a killed run left there is junk.
        for (const auto& entry : fs::directory_iterator(tmp, error)) fs::remove_all(entry.path(), error);
        return tmp;
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string prefix = std::string(host) + "-";
    for (const auto& entry : fs::directory_iterator(tmp, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str() + prefix.size()));
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), error);
    }
    const fs::path own = tmp / (prefix + std::to_string(::getpid()));
    fs::remove_all(own, error);
    fs::create_directories(own, error);
    return own;
}

}  // namespace

int main(int argc, char** argv) {
    ServiceOptions options;
    std::string why;
    if (!ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), options, why)) {
        std::fprintf(stderr, "vellumark-service: %s\n%s", why.c_str(), kUsage);
        return 2;
    }
    if (!AccountStore::InitCrypto()) return Fail("the cryptography library cannot start");

    const fs::path data = options.data_dir;
    const fs::path default_cfg = ProgramFolder() / "DefaultCfg";
    const fs::path upload_dir = default_cfg / "Upload";
    // A reference file the host names replaces the database's reference data; the
    // shipped one only fills a database that has none.
    const bool replace_reference = !options.reference_db.empty();
    if (options.reference_db.empty()) options.reference_db = (default_cfg / "data.db3").string();

    std::error_code error;
    for (const fs::path& folder : {data, data / "books", data / "tmp"}) {
        fs::create_directories(folder, error);
        if (error) return Fail("data folder " + data.string() + " unusable: " + error.message());
    }
    if (::access(data.c_str(), W_OK) != 0) return Fail("data folder " + data.string() + " is not writable");
    if (!options.migrate_to.empty()) return MigrateTo(data, options.migrate_to);
    // Service processes on one PostgreSQL database share the data folder; on an SQLite
    // file, one process has it to itself.
    const std::string database_target =
        options.database.empty() ? (data / "service.db").string() : options.database;
    const bool shared = IsPostgresUrl(database_target);
    if (!shared && !LockDataFolder(data)) return Fail("data folder " + data.string() + " is in use by another service");
    // Pages are made in tmp/ and read back at once.
    const fs::path page_tmp = PrivateTempFolder(data / "tmp", shared);
    if (!fs::is_regular_file(upload_dir / "booklet.asp", error))
        return Fail("the page template " + (upload_dir / "booklet.asp").string() + " is missing");

    ServiceDatabase database;
    if (!database.Open(database_target, why)) return Fail(why);
    ReferenceSync reference(database);
    if (!reference.Load(options.reference_db, replace_reference, why)) return Fail(why);
    AccountLimits limits = kAccountLimits;
    limits.signups.max_accounts = options.signups_per_hour;
    AccountStore accounts(database, WallMilliseconds, limits);
    BookStore books(database, data / "books");
    BookUpdates updates(books);
    BookPages pages(books, upload_dir, page_tmp);
    ClientRequests requests(accounts, books, updates, reference, options.latest_build);
    ServiceRoutes routes(options, requests, pages, accounts);
    // A commit of an update cut off by a crash is completed; no request runs yet.
    if (const int repaired = updates.FinishInterrupted(); repaired > 0)
        DIAG("ServiceMain", 0, "INF:completed %d interrupted book updates", repaired);
    // Updates left unfinished for longer than the expiry time are given up.
    if (const int expired = updates.RemoveExpired(options.stage_expiry_seconds); expired > 0)
        DIAG("ServiceMain", 0, "INF:removed %d expired book updates", expired);
    // Uploads cut off by a crash leave hidden files behind.
    // Other processes sharing the folder may be writing theirs: only old ones go then.
    if (const int removed = books.RemoveLeftovers(shared ? std::chrono::hours(1) : std::chrono::hours(0)); removed > 0)
        DIAG("ServiceMain", 0, "INF:removed %d unfinished upload files", removed);

    // SIGINT and SIGTERM are taken by one waiting thread only (every thread the server
    // starts inherits the blocked mask), which stops the server cleanly.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started after the mask, like every other thread.
    StageSweep sweep(updates, options.stage_expiry_seconds);

    http::ServerLimits server_limits;
    server_limits.max_body_bytes = kMaxBodyBytes;
    server_limits.request_threads = options.request_threads;
    server_limits.max_connections = ConnectionLimit();
    server_limits.head_time = std::chrono::seconds(options.client_seconds);
    server_limits.idle_time = std::chrono::seconds(options.client_seconds);
    server_limits.body_time = std::chrono::seconds(6 * options.client_seconds);
    http::HttpServer server([&routes](const http::HttpRequest& request) { return routes.Handle(request); },
                            server_limits);
    const int port = server.Listen(options.listen, options.port, why);
    if (port < 0)
        return Fail("cannot listen on " + options.listen + " port " + std::to_string(options.port) + ": " + why +
                    " (in use, not an address of this machine, or port below 1024 without the right)");
    std::printf("vellumark-service: listening on http://%s:%d/\n", options.listen.c_str(), port);
    std::fflush(stdout);

    std::thread stopper([&server, stop_signals] {
        int signal = 0;
        sigwait(&stop_signals, &signal);
        server.Stop();
    });
    const bool served = server.Run();
    // Wakes the stopper when the server ended by itself.
    server.Stop();
    ::kill(::getpid(), SIGTERM);
    stopper.join();
    if (!served) DIAG("ServiceMain", 0, "INF:the server ended");
    return 0;
}
