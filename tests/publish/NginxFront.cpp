#include "NginxFront.h"

#include "tests/helpers/TempHome.h"

#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <regex>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kOpenssl = "/usr/bin/openssl";

// A port of 127.0.0.1 that nothing listens on now (nginx takes it a moment later).
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Starts `args` with standard output and error appended to `log`, in a process group of
// its own (so that nginx's workers can be stopped with it); -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for `pid` until `end`; its exit status, or -1 when it is still running.
int WaitUntil(pid_t pid, Clock::time_point end) {
    int status = 0;
    do {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < end);
    return -1;
}

// Runs a tool to its end (at most 30 s); true when it exited with status 0.
bool RunTool(const std::vector<std::string>& args, const fs::path& log) {
    const pid_t pid = Spawn(args, log);
    if (pid <= 0) return false;
    const int status = WaitUntil(pid, Clock::now() + std::chrono::seconds(30));
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return status == 0;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Run as root, nginx would hand its workers to "nobody", who cannot read the test's
// private folders: they keep the test's own user then.
std::string UserLine() {
    if (::geteuid() != 0) return std::string();
    const passwd* user = ::getpwuid(::geteuid());
    const group* group = ::getgrgid(::getegid());
    if (!user || !group) return std::string();
    return std::string("user ") + user->pw_name + " " + group->gr_name + ";\n";
}

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* target) {
    auto* headers = static_cast<std::map<std::string, std::string>*>(target);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        headers->clear();  // a new answer (after a redirect or 100 Continue)
    } else if (const size_t colon = line.find(':'); colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t value = line.find_first_not_of(' ', colon + 1);
        (*headers)[name] = value == std::string::npos ? std::string() : line.substr(value);
    }
    return size * count;
}

}  // namespace

std::string FrontReply::Header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

bool NginxFront::Available(std::string& why) {
    for (const char* tool : {kNginx, kOpenssl}) {
        if (::access(tool, X_OK) != 0) {
            why = std::string(tool) + " is not installed (scripts/install-deps.sh --test installs it)";
            return false;
        }
    }
    return true;
}

NginxFront::NginxFront(const fs::path& root, int service_port, const fs::path& data_dir)
    : NginxFront(root, std::vector<int>{service_port}, data_dir) {}

NginxFront::NginxFront(const fs::path& root, const std::vector<int>& service_ports, const fs::path& data_dir)
    : root_(root), ca_file_(root / "ca.pem") {
    std::error_code error;
    fs::create_directories(root_ / "temp", error);
    if (!Available(failure_) || !MakeCertificates()) return;
    // A port taken between the probe and nginx's bind makes nginx fail: try new ports.
    for (int attempt = 0; attempt < 3 && !Running(); ++attempt) {
        if (!WriteConfiguration(service_ports, data_dir)) return;
        if (!Start() && failure_.find("Address already in use") == std::string::npos) return;
    }
}

NginxFront::~NginxFront() { Stop(); }

std::string NginxFront::BaseUrl() const { return "https://127.0.0.1:" + std::to_string(https_port_); }

bool NginxFront::MakeCertificates() {
    const fs::path log = root_ / "openssl.log";
    const std::string ca_key = (root_ / "ca.key").string();
    const std::string key = (root_ / "server.key").string();
    const std::string request = (root_ / "server.csr").string();
    const std::string extensions = (root_ / "server.ext").string();
    WriteFileBytes(extensions,
                   "subjectAltName = IP:127.0.0.1\nbasicConstraints = CA:FALSE\n"
                   "keyUsage = critical, digitalSignature\nextendedKeyUsage = serverAuth\n");
    const std::vector<std::vector<std::string>> steps = {
        {kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         ca_key, "-out", ca_file_.string(), "-days", "2", "-subj", "/CN=Vellumark test authority", "-addext",
         "basicConstraints = critical, CA:TRUE", "-addext", "keyUsage = critical, keyCertSign"},
        {kOpenssl, "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
         "-out", request, "-subj", "/CN=127.0.0.1"},
        {kOpenssl, "x509", "-req", "-in", request, "-CA", ca_file_.string(), "-CAkey", ca_key, "-set_serial", "2",
         "-days", "2", "-extfile", extensions, "-out", (root_ / "server.pem").string()},
    };
    for (const auto& step : steps) {
        if (!RunTool(step, log)) {
            failure_ = "openssl " + step[1] + " failed: " + ReadFileBytes(log);
            return false;
        }
    }
    return true;
}

bool NginxFront::WriteConfiguration(const std::vector<int>& service_ports, const fs::path& data_dir) {
    const fs::path shipped = SourceDir() / "service/deploy/nginx-vellumark.conf.in";
    std::string site = ReadFileBytes(shipped);
    // The upstream's server line, once for each service process.
    const size_t port_at = site.find("server 127.0.0.1:@SERVICE_PORT@");
    if (port_at != std::string::npos) {
        const size_t start = site.rfind('\n', port_at) + 1;
        const size_t end = site.find('\n', port_at) + 1;
        const std::string line = site.substr(start, end - start);
        std::string lines;
        for (int port : service_ports) {
            std::string one = line;
            ReplaceAll(one, "@SERVICE_PORT@", std::to_string(port));
            lines += one;
        }
        site.replace(start, end - start, lines);
    }
    https_port_ = FreePort();
    http_port_ = FreePort();
    if (site.empty() || https_port_ == 0 || http_port_ == 0 || https_port_ == http_port_) {
        failure_ = site.empty() ? "cannot read " + shipped.string() : "no free port";
        return false;
    }
    const std::pair<std::string, std::string> values[] = {
        {"@SERVER_NAME@", "127.0.0.1"},
        {"@HTTPS_LISTEN@", "127.0.0.1:" + std::to_string(https_port_)},
        {"@HTTP_LISTEN@", "127.0.0.1:" + std::to_string(http_port_)},
        {"@CERTIFICATE@", (root_ / "server.pem").string()},
        {"@CERTIFICATE_KEY@", (root_ / "server.key").string()},
        {"@SERVICE_PORT@", std::to_string(service_ports.front())},
        {"@DATA_DIR@", fs::absolute(data_dir).lexically_normal().string()},
        {"@PROGRAM_DIR@", fs::absolute(ProgramDir()).lexically_normal().string()},
    };
    for (const auto& [name, value] : values) ReplaceAll(site, name, value);
    std::smatch left;
    if (std::regex_search(site, left, std::regex("@[A-Z_]+@"))) {
        failure_ = "the site configuration has a placeholder the test does not fill: " + left.str();
        return false;
    }
    WriteFileBytes(root_ / "site.conf", site);

    // The http block as Debian's /etc/nginx/nginx.conf has it, so that the site runs in
    // the surroundings it is shipped for; every file nginx writes stays under root_.
    const std::string r = root_.string();
    std::string main = UserLine() +
                       "daemon off;\n"
                       "worker_processes 1;\n"
                       "pid " + r + "/nginx.pid;\n"
                       "error_log " + r + "/error.log info;\n"
                       "events { worker_connections 512; }\n"
                       "http {\n"
                       "    sendfile on;\n"
                       "    tcp_nopush on;\n"
                       "    types_hash_max_size 2048;\n"
                       "    include /etc/nginx/mime.types;\n"
                       "    default_type application/octet-stream;\n"
                       "    ssl_protocols TLSv1 TLSv1.1 TLSv1.2 TLSv1.3;\n"
                       "    ssl_prefer_server_ciphers on;\n"
                       "    access_log " + r + "/access.log;\n"
                       "    gzip on;\n"
                       "    client_body_temp_path " + r + "/temp/body;\n"
                       "    proxy_temp_path " + r + "/temp/proxy;\n"
                       "    fastcgi_temp_path " + r + "/temp/fastcgi;\n"
                       "    uwsgi_temp_path " + r + "/temp/uwsgi;\n"
                       "    scgi_temp_path " + r + "/temp/scgi;\n"
                       "    include " + r + "/site.conf;\n"
                       "}\n";
    WriteFileBytes(root_ / "nginx.conf", main);
    return true;
}

bool NginxFront::Start() {
    const fs::path log = root_ / "nginx.log";
    std::error_code error;
    fs::remove(log, error);
    failure_.clear();
    pid_ = Spawn({kNginx, "-p", root_.string() + "/", "-c", (root_ / "nginx.conf").string()}, log);
    if (pid_ <= 0) {
        failure_ = "cannot start " + std::string(kNginx);
        return false;
    }
    const auto end = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < end) {
        if (Accepts(https_port_) && Accepts(http_port_)) return true;
        if (WaitUntil(pid_, Clock::now()) != -1) {
            pid_ = -1;  // ended (and reaped) already
            break;
        }
    }
    Stop();
    failure_ = "nginx did not start: " + ReadFileBytes(log) + ReadFileBytes(root_ / "error.log");
    return false;
}

void NginxFront::Stop() {
    if (pid_ <= 0) return;
    // SIGTERM: the master stops its workers and ends; the group is killed if it hangs.
    ::kill(pid_, SIGTERM);
    if (WaitUntil(pid_, Clock::now() + std::chrono::seconds(10)) == -1) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

FrontReply NginxFront::Send(const FrontRequest& request) const {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(initialised ? curl_easy_init() : nullptr,
                                                              curl_easy_cleanup);
    if (!curl) return FrontReply{};
    return Send(request, curl.get());
}

FrontReply NginxFront::Send(const FrontRequest& request, void* handle) const {
    CURL* h = static_cast<CURL*>(handle);
    FrontReply reply;
    curl_easy_reset(h);
    std::string url = request.plain_http ? "http://127.0.0.1:" + std::to_string(http_port_) : BaseUrl();
    if (!request.base.empty()) url = request.base;
    url += request.path;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CAINFO, ca_file_.c_str());
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.follow ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &reply.headers);
    if (!request.source_address.empty()) curl_easy_setopt(h, CURLOPT_INTERFACE, request.source_address.c_str());
    if (request.method == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(curl_slist_append(nullptr, "Expect:"),
                                                                         curl_slist_free_all);
    for (const std::string& header : request.headers)
        headers.reset(curl_slist_append(headers.release(), header.c_str()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (curl_easy_perform(h) != CURLE_OK) return FrontReply{};
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.status);
    return reply;
}

FrontReply NginxFront::Get(const std::string& path) const {
    FrontRequest request;
    request.path = path;
    request.follow = true;
    return Send(request);
}
