#include "TransportServers.h"

#include "tests/helpers/TempHome.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kComment = "Vellumark transport tests";
// As many accounts as test programs may run side by side; a program waits for a free one.
constexpr int kAccounts = 4;
constexpr auto kLockWait = std::chrono::seconds(600);
constexpr auto kStartWait = std::chrono::seconds(15);

std::string RandomText(size_t size) {
    static constexpr char kChars[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string text;
    while (text.size() < size) {
        unsigned char byte = 0;
        if (getrandom(&byte, 1, 0) == 1 && byte < 4 * (sizeof kChars - 1)) text += kChars[byte % (sizeof kChars - 1)];
    }
    return text;
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// Every process whose ancestors include `root` (not `root` itself).
std::vector<pid_t> Descendants(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> parents;  // pid, parent
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid <= 0) continue;
            const std::string stat = ReadFileBytes(fs::path("/proc") / entry->d_name / "stat");
            const size_t close_paren = stat.rfind(')');
            if (close_paren == std::string::npos) continue;
            std::istringstream rest(stat.substr(close_paren + 2));
            std::string state;
            pid_t parent = 0;
            rest >> state >> parent;
            parents.emplace_back(pid, parent);
        }
        closedir(proc);
    }
    std::vector<pid_t> found{root};
    for (size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, parent] : parents)
            if (parent == found[i]) found.push_back(pid);
    found.erase(found.begin());
    return found;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

int RunTool(const std::vector<std::string>& argv, const std::string& input, std::string* output) {
    int in_pipe[2], out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) return -1;
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in_pipe[0]);
        close(in_pipe[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    close(out_pipe[1]);
    if (spawned == 0 && !input.empty()) {
        const ssize_t written = write(in_pipe[1], input.data(), input.size());
        (void)written;
    }
    close(in_pipe[1]);
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out_pipe[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
    close(out_pipe[0]);
    if (output) *output = text;
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// Locks the first free one of the accounts' lock files; its number, or -1 after kLockWait.
static int TakeAccountSlot() {
    const auto end = std::chrono::steady_clock::now() + kLockWait;
    while (std::chrono::steady_clock::now() < end) {
        for (int slot = 0; slot < kAccounts; ++slot) {
            const std::string path = slot == 0 ? std::string("/tmp/vellumark-test-account.lock")
                                               : "/tmp/vellumark-test-account-" + std::to_string(slot + 1) + ".lock";
            const int lock = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
            if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0) return slot;
            if (lock >= 0) close(lock);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
}

const TestAccount* TestAccount::Get(std::string& why) {
    static TestAccount account;
    static std::string failure = [] {
        if (geteuid() != 0) return std::string("the servers log in a local account, which only root may set up");
        // The lock of the account taken stays held (its descriptor open) until the program ends.
        const int slot = TakeAccountSlot();
        if (slot < 0) return std::string("other test programs hold every test account");
        const std::string name = slot == 0 ? "vellumark-test" : "vellumark-test-" + std::to_string(slot + 1);
        if (!getpwnam(name.c_str()) &&
            RunTool({"/usr/sbin/useradd", "--system", "--no-create-home", "--home-dir", "/", "--shell",
                     "/usr/sbin/nologin", "--comment", kComment, name}) != 0)
            return std::string("useradd failed");
        const passwd* entry = getpwnam(name.c_str());
        if (!entry) return std::string("the account is missing");
        if (std::string(entry->pw_gecos ? entry->pw_gecos : "") != kComment)
            return std::string("an account named ") + name + " exists that the tests did not make";
        // vsftpd enters the home folder before the folder it serves, so it must exist.
        if (std::string(entry->pw_dir) != "/" && RunTool({"/usr/sbin/usermod", "--home", "/", name}) != 0)
            return std::string("usermod failed");
        account.name = name;
        account.uid = entry->pw_uid;
        account.gid = entry->pw_gid;
        if (!account.ChangePassword()) return std::string("chpasswd failed");
        return std::string();
    }();
    why = failure;
    return failure.empty() ? &account : nullptr;
}

bool TestAccount::ChangePassword() {
    const std::string fresh = RandomText(20);
    if (RunTool({"/usr/sbin/chpasswd"}, name + ":" + fresh + "\n") != 0) return false;
    password = fresh;
    return true;
}

ServerFolder::ServerFolder() {
    std::string pattern = (fs::temp_directory_path() / "vellumark-servers-XXXXXX").string();
    if (mkdtemp(pattern.data())) {
        path_ = pattern;
        chmod(path_.c_str(), 0755);
        std::string why;
        fs::create_directories(Site());
        if (const TestAccount* account = TestAccount::Get(why)) {
            const int changed = chown(Site().c_str(), account->uid, account->gid);
            (void)changed;
        }
    }
}

ServerFolder::~ServerFolder() {
    std::error_code ec;
    if (!path_.empty() && !std::getenv("VELLUMARK_KEEP_TEST_FILES")) fs::remove_all(path_, ec);
}

bool ServerProcess::Start(const std::vector<std::string>& argv, const fs::path& log, int port) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // A server that outlived its test must not hold the test's output open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, pointers[0], &actions, &attributes, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        pid_ = -1;
        return false;
    }
    if (port == 0) return true;
    const auto end = std::chrono::steady_clock::now() + kStartWait;
    while (std::chrono::steady_clock::now() < end) {
        if (Accepts(port)) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
}

int ServerProcess::KillSessions() {
    if (pid_ <= 0) return 0;
    const std::vector<pid_t> sessions = Descendants(pid_);
    for (pid_t pid : sessions) kill(pid, SIGKILL);
    return static_cast<int>(sessions.size());
}

void ServerProcess::Stop() {
    if (pid_ <= 0) return;
    // Sessions may have left the process group (a new session of their own).
    KillSessions();
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

SshdServer::SshdServer(const TestAccount& account, const ServerFolder& folder) : dir_(folder.Path() / "sshd") {
    fs::create_directories(dir_);
    chmod(dir_.c_str(), 0755);
    // sshd insists on its privilege separation folder, which only a running system
    // service would otherwise have made.
    std::error_code ec;
    if (!fs::exists("/run/sshd", ec)) {
        fs::create_directories("/run/sshd", ec);
        chmod("/run/sshd", 0755);
    }
    const fs::path host_key = dir_ / "host_key";
    if (RunTool({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "test-host", "-f", host_key.string()}) != 0 ||
        RunTool({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", KeyPassphrase(), "-C", "test-client", "-f",
                 KeyFile().string()}) != 0)
        return;
    std::string listing;
    RunTool({"/usr/bin/ssh-keygen", "-l", "-E", "sha256", "-f", host_key.string() + ".pub"}, "", &listing);
    std::istringstream fields(listing);
    std::string bits;
    fields >> bits >> fingerprint_;
    std::istringstream line(ReadFileBytes(host_key.string() + ".pub"));
    std::string type, blob;
    line >> type >> blob;
    public_key_ = type + " " + blob;
    // The server reads the authorised keys as the account.
    const fs::path authorized = dir_ / "authorized_keys";
    WriteFileBytes(authorized, ReadFileBytes(KeyFile().string() + ".pub"));
    chmod(authorized.c_str(), 0644);

    port_ = FreePort();
    const fs::path config = dir_ / "sshd_config";
    std::ostringstream text;
    text << "Port " << port_ << "\nListenAddress 127.0.0.1\nHostKey " << host_key.string()
         << "\nPidFile none\nUsePAM no\nPasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
         << "PubkeyAuthentication yes\nAuthorizedKeysFile " << authorized.string()
         << "\nStrictModes no\nPermitRootLogin no\nAllowUsers " << account.name
         << "\nAllowTcpForwarding no\nX11Forwarding no\nMaxStartups 100\nLogLevel VERBOSE\n"
         << "Subsystem sftp internal-sftp -d " << folder.Site().string() << "\nForceCommand internal-sftp -d "
         << folder.Site().string() << "\n";
    WriteFileBytes(config, text.str());
    running_ = process_.Start({"/usr/sbin/sshd", "-D", "-e", "-f", config.string()}, dir_ / "sshd.log", port_);
}

VsftpdServer::VsftpdServer(const TestAccount&, const ServerFolder& folder, int max_rate) {
    const fs::path dir = folder.Path() / "vsftpd";
    fs::create_directories(dir / "empty");
    chmod(dir.c_str(), 0755);
    chmod((dir / "empty").c_str(), 0755);
    certificate_ = dir / "cert.pem";
    const fs::path key = dir / "key.pem";
    if (RunTool({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key.string(), "-out",
                 certificate_.string(), "-days", "2", "-subj", "/CN=vellumark-test", "-addext", "subjectAltName=IP:127.0.0.1"}) != 0)
        return;
    // The fingerprint is worked out by openssl alone, independently of the code tested.
    const fs::path pub = dir / "pub.pem", der = dir / "pub.der", digest = dir / "pub.sha256";
    std::string encoded;
    if (RunTool({"/usr/bin/openssl", "x509", "-in", certificate_.string(), "-pubkey", "-noout", "-out", pub.string()}) != 0 ||
        RunTool({"/usr/bin/openssl", "pkey", "-pubin", "-in", pub.string(), "-outform", "DER", "-out", der.string()}) != 0 ||
        RunTool({"/usr/bin/openssl", "dgst", "-sha256", "-binary", "-out", digest.string(), der.string()}) != 0 ||
        RunTool({"/usr/bin/base64", "-w0", digest.string()}, "", &encoded) != 0)
        return;
    encoded = Trimmed(encoded);
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    fingerprint_ = "SHA256:" + encoded;

    port_ = FreePort();
    const int passive_from = FreePort();
    std::ostringstream text;
    text << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
         << "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
         << "local_root=" << folder.Site().string() << "\nchroot_local_user=NO\n"
         // No PAM service of that name exists: PAM then uses its "other" service, which
         // checks the account's password and, unlike Debian's vsftpd service, does not
         // ask for a login shell the test account does not have.
         << "pam_service_name=vellumark-test\n"
         << "userlist_enable=NO\ntcp_wrappers=NO\nseccomp_sandbox=NO\nsecure_chroot_dir=" << (dir / "empty").string()
         << "\npasv_enable=YES\npasv_address=127.0.0.1\npasv_min_port=" << passive_from
         << "\npasv_max_port=" << std::min(passive_from + 20, 65535)
         << "\nssl_enable=YES\nrsa_cert_file=" << certificate_.string() << "\nrsa_private_key_file=" << key.string()
         << "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\nxferlog_enable=NO\nvsftpd_log_file="
         << (dir / "vsftpd.log").string() << "\nmax_per_ip=0\nmax_clients=0\n";
    if (max_rate > 0) text << "local_max_rate=" << max_rate << "\n";
    const fs::path config = dir / "vsftpd.conf";
    WriteFileBytes(config, text.str());
    running_ = process_.Start({"/usr/sbin/vsftpd", config.string()}, dir / "stderr.log", port_);
}

CuttingRelay::CuttingRelay(int target_port, long cut_after, long rate, int passed)
    : target_port_(target_port), cut_after_(cut_after), rate_(rate), passed_(passed) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    port_ = ntohs(address.sin_port);
    threads_.emplace_back([this] { Accept(); });
}

CuttingRelay::~CuttingRelay() {
    stop_.store(true);
    for (auto& thread : threads_) thread.join();
    if (listener_ >= 0) close(listener_);
}

void CuttingRelay::Accept() {
    std::vector<std::thread> passes;
    while (!stop_.load()) {
        pollfd wait{listener_, POLLIN, 0};
        if (poll(&wait, 1, 50) <= 0) continue;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        passes.emplace_back([this, client] { Pass(client); });
    }
    for (auto& pass : passes) pass.join();
}

void CuttingRelay::Pass(int client) {
    const int index = connections_.fetch_add(1);
    const bool first = index == 0;
    if (index >= passed_) {
        close(client);
        return;
    }
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(target_port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        long towards_server = 0;
        char buffer[16384];
        // Slowed down, small reads keep the pace even.
        const size_t chunk = rate_ > 0 ? std::min(sizeof buffer, static_cast<size_t>(rate_ / 50 + 1)) : sizeof buffer;
        const auto start = std::chrono::steady_clock::now();
        bool open = true;
        while (open && !stop_.load()) {
            pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(ends, 2, 50) <= 0) continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(ends[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                if (i == 0 && rate_ > 0)
                    std::this_thread::sleep_until(start + std::chrono::milliseconds(towards_server * 1000 / rate_));
                const ssize_t got = read(ends[i].fd, buffer, i == 0 ? chunk : sizeof buffer);
                if (got <= 0 || !WriteAll(ends[1 - i].fd, buffer, static_cast<size_t>(got))) {
                    open = false;
                    break;
                }
                if (i == 0) towards_server += got;
                if (first && i == 0 && towards_server >= cut_after_ && !cut_.exchange(true)) open = false;
            }
        }
    }
    shutdown(client, SHUT_RDWR);
    shutdown(server, SHUT_RDWR);
    close(client);
    close(server);
}
