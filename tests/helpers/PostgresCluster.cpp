#include "tests/helpers/PostgresCluster.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <libpq-fe.h>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const fs::path kBin = "/usr/lib/postgresql/15/bin";
std::atomic<bool> durable{false};

// Runs `args` and waits; true when it ended with status 0.
bool RunCommand(const std::vector<std::string>& args) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

std::vector<std::string> AsPostgres(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
    return args;
}

class Cluster {
public:
    ~Cluster() {
        if (!started_) return;
        RunCommand(AsPostgres({(kBin / "pg_ctl").string(), "-D", Data(), "-m", "immediate", "-s", "stop"}));
        std::error_code error;
        fs::remove_all(root_, error);
    }

    // Starts the server once; false with `why` set.
    bool Start(std::string& why) {
        if (started_) return true;
        if (!failure_.empty()) {
            why = failure_;
            return false;
        }
        failure_ = Launch();
        why = failure_;
        return started_;
    }

    std::string Url(const std::string& database) const {
        return "postgresql://postgres@/" + database + "?host=" + root_.string() + "&port=" + std::to_string(port_);
    }

private:
    std::string Data() const { return (root_ / "data").string(); }

    std::string Launch() {
        const passwd* user = ::getpwnam("postgres");
        if (!user) return "no postgres user";
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vellumark-pg.XXXXXX";
        if (!::mkdtemp(pattern.data())) return "cannot make a temporary folder";
        root_ = pattern;
        if (::chown(root_.c_str(), user->pw_uid, user->pw_gid) != 0) return "cannot give the folder to postgres";
        if (!RunCommand(AsPostgres({(kBin / "initdb").string(), "-D", Data(), "-A", "trust", "-U", "postgres", "-N",
                                    "-E", "UTF8", "--locale=C", "--no-instructions"})))
            return "initdb failed";
        // A port taken between the probe and the start is tried again on another.
        for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
            port_ = FreePort();
            const std::string options =
                "-p " + std::to_string(port_) + " -k " + root_.string() + " -c listen_addresses= -c max_connections=200" +
                (durable ? "" : " -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
            started_ = RunCommand(AsPostgres({(kBin / "pg_ctl").string(), "-D", Data(), "-o", options, "-l",
                                              (root_ / "log").string(), "-w", "-t", "60", "-s", "start"}));
        }
        if (!started_) return "the PostgreSQL server did not start (see " + (root_ / "log").string() + ")";
        Watch();
        return std::string();
    }

    // Should this process die without stopping the server, a watcher does it.
    void Watch() {
        const std::string script = "while [ -d /proc/" + std::to_string(::getpid()) + " ]; do sleep 1; done; " +
                                   "[ -d " + Data() + " ] && " + (kBin / "pg_ctl").string() + " -D " + Data() +
                                   " -m immediate -s stop >/dev/null 2>&1; rm -rf " + Data();
        std::vector<std::string> args = AsPostgres({"/bin/sh", "-c", script});
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
    }

    fs::path root_;
    int port_ = 0;
    bool started_ = false;
    std::string failure_;
};

std::mutex cluster_mutex;

Cluster& TheCluster() {
    static Cluster cluster;
    return cluster;
}

}  // namespace

std::string PostgresUnavailable() {
    if (!fs::exists(kBin / "initdb") || !fs::exists(kBin / "pg_ctl"))
        return "postgresql-15 is not installed (scripts/install-deps.sh --test installs it)";
    if (::geteuid() != 0) return "starting PostgreSQL as the postgres user needs root";
    if (!::getpwnam("postgres")) return "there is no postgres user";
    return std::string();
}

std::string NewPostgresDatabase(std::string& why) {
    static std::atomic<int> made{0};
    std::lock_guard<std::mutex> guard(cluster_mutex);
    why = PostgresUnavailable();
    if (!why.empty() || !TheCluster().Start(why)) return std::string();
    const std::string name = "test" + std::to_string(++made);
    PGconn* conn = PQconnectdb(TheCluster().Url("postgres").c_str());
    PGresult* result = PQexec(conn, ("CREATE DATABASE " + name).c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok) why = std::string("cannot create a database: ") + PQerrorMessage(conn);
    PQclear(result);
    PQfinish(conn);
    return ok ? TheCluster().Url(name) : std::string();
}

void UseDurablePostgres() { durable = true; }

bool TestsUsePostgres() {
    const char* kind = std::getenv("VELLUMARK_TEST_DATABASE");
    return kind && std::string(kind) == "postgresql";
}

std::string TestDatabaseTarget(const std::string& sqlite_file, std::string& why) {
    return TestsUsePostgres() ? NewPostgresDatabase(why) : sqlite_file;
}

namespace {

// When the tests run against PostgreSQL, the server starts before the first test, and
// every test is skipped, saying why, where it cannot.
class PostgresEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string missing = PostgresUnavailable();
        if (!missing.empty()) GTEST_SKIP() << "PostgreSQL tests skipped: " << missing;
        std::string why;
        std::lock_guard<std::mutex> guard(cluster_mutex);
        ASSERT_TRUE(TheCluster().Start(why)) << why;
    }
};

const bool environment_added =
    TestsUsePostgres() && ::testing::AddGlobalTestEnvironment(new PostgresEnvironment) != nullptr;

}  // namespace
