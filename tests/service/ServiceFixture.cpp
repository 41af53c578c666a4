#include "ServiceFixture.h"

#include "tests/helpers/PostgresCluster.h"
#include "tests/helpers/TempHome.h"

#include <cerrno>
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pid_t Spawn(const std::vector<std::string>& args, int stdout_fd, int stderr_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    if (stderr_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stderr_fd, STDERR_FILENO);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Reads from `fd` until a line feed arrived, the writer closed it or the time is up.
std::string ReadLine(int fd, Clock::time_point end, bool whole = false) {
    std::string text;
    while (Clock::now() < end && (whole || text.find('\n') == std::string::npos)) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
        char buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

// Waits for `pid` at most until `end`; its exit status, or -1 (then it is killed).
int WaitBounded(pid_t pid, Clock::time_point end) {
    int status = 0;
    while (Clock::now() < end) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t CollectHeader(char* data, size_t size, size_t count, void* target) {
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) static_cast<std::vector<std::string>*>(target)->push_back(line);
    return size * count;
}

HttpResult Transfer(const std::string& url, const std::string* post_body, const std::string& content_type,
                    bool follow, const std::vector<std::string>& extra_headers = {}) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    HttpResult result;
    std::unique_ptr<CURL, CurlDeleter> curl(initialised ? curl_easy_init() : nullptr);
    if (!curl) return result;
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &result.headers);
    if (post_body) {
        curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, post_body->data());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_body->size()));
        headers.reset(curl_slist_append(nullptr, ("Content-Type: " + content_type).c_str()));
        headers.reset(curl_slist_append(headers.release(), "Expect:"));
        for (const std::string& line : extra_headers) headers.reset(curl_slist_append(headers.release(), line.c_str()));
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    }
    if (curl_easy_perform(curl.get()) != CURLE_OK) return result;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
    char* type = nullptr;
    curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type);
    if (type) result.content_type = type;
    result.session_key = result.Header("X-Vellumark-Session");
    return result;
}

}  // namespace

std::string HttpResult::Header(const std::string& name) const {
    for (const std::string& line : headers) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon != name.size() || strncasecmp(line.c_str(), name.c_str(), colon) != 0)
            continue;
        const size_t start = line.find_first_not_of(' ', colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return std::string();
}

std::string TestDatabaseFor(const fs::path& data_dir) {
    // A service started again on the same data folder finds the same database.
    static std::map<std::string, std::string> databases;
    std::string& url = databases[data_dir.string()];
    std::string why;
    if (url.empty()) url = NewPostgresDatabase(why);
    if (url.empty()) std::fprintf(stderr, "no test database: %s\n", why.c_str());
    return url;
}

fs::path ServiceProgram() { return ProgramDir() / "vellumark-service"; }

long PeakMemoryMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
    return -1;
}

ServiceProcess::ServiceProcess(const fs::path& data_dir, const std::vector<std::string>& extra_args,
                               std::chrono::seconds wait, const fs::path& log_file) {
    std::vector<std::string> args = {ServiceProgram().string(), "--data", data_dir.string(),
                                     "--listen", "127.0.0.1", "--port", "0"};
    if (TestsUsePostgres()) args.insert(args.end(), {"--database", TestDatabaseFor(data_dir)});
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    const int log_fd =
        log_file.empty() ? -1 : ::open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_ = Spawn(args, out[1], log_fd);
    ::close(out[1]);
    if (log_fd >= 0) ::close(log_fd);
    if (pid_ > 0) {
        first_line_ = ReadLine(out[0], Clock::now() + wait);
        if (!first_line_.empty() && first_line_.back() == '\n') first_line_.pop_back();
        const std::string prefix = "vellumark-service: listening on http://127.0.0.1:";
        if (first_line_.rfind(prefix, 0) == 0) port_ = std::atoi(first_line_.c_str() + prefix.size());
    }
    // Later output is not read: the service only prints the one line.
    ::close(out[0]);
}

ServiceProcess::~ServiceProcess() { Stop(SIGKILL); }

int ServiceProcess::Stop(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    const int status = WaitBounded(pid_, Clock::now() + std::chrono::seconds(15));
    pid_ = -1;
    port_ = 0;
    return status;
}

HttpResult ServiceProcess::Exchange(const std::string& body, const std::vector<std::string>& headers) const {
    const std::string path = "/vellumark/standalone.ashx";
    std::vector<std::string> all = headers;
    if (!session_key_.empty()) all.push_back("X-Vellumark-Session: " + session_key_);
    const HttpResult probe = Post(path, std::string(), "application/octet-stream", all);
    if (probe.status != 200) return probe;
    HttpResult reply = Post(path, body, "application/octet-stream", all);
    if (!reply.session_key.empty()) session_key_ = reply.session_key;
    return reply;
}

HttpResult ServiceProcess::Post(const std::string& path, const std::string& body, const std::string& content_type,
                                const std::vector<std::string>& headers) const {
    return Transfer(BaseUrl() + path, &body, content_type, false, headers);
}

HttpResult ServiceProcess::Get(const std::string& path, bool follow) const {
    return Transfer(BaseUrl() + path, nullptr, std::string(), follow);
}

int RunServiceExpectingFailure(const std::vector<std::string>& args, std::string& stderr_text,
                               std::chrono::seconds wait) {
    std::vector<std::string> full = {ServiceProgram().string()};
    full.insert(full.end(), args.begin(), args.end());
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) return -1;
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn(full, null_fd, err[1]);
    ::close(err[1]);
    if (null_fd >= 0) ::close(null_fd);
    if (pid <= 0) {
        ::close(err[0]);
        return -1;
    }
    const auto end = Clock::now() + wait;
    stderr_text = ReadLine(err[0], end, true);
    ::close(err[0]);
    return WaitBounded(pid, end);
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string FakeJpeg(size_t size, unsigned seed) {
    const std::string head("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\xC8\x01\x2C", 11);
    return head + RandomBytes(size - head.size(), seed);
}

namespace service_bodies {

std::string Login(const std::string& user, const std::string& password) {
    std::string body = "logi";
    for (const std::string* field : {&user, &password}) {
        std::string text = field->substr(0, 31);
        text.resize(32, '\0');
        body += text;
    }
    return body;
}

std::string VersionCheck(const std::string& build) {
    std::string field = build;
    field.resize(128, '\0');
    return "upgr" + field;
}

std::string ReferenceIds(const std::vector<long long>& subcategory_ids, const std::vector<long long>& category_ids) {
    std::string text = "201302010343\nsubcat_ids:" + std::to_string(subcategory_ids.size()) + "\n";
    for (long long id : subcategory_ids) text += std::to_string(id) + "\n";
    text += "cat_ids:" + std::to_string(category_ids.size()) + "\n";
    for (long long id : category_ids) text += std::to_string(id) + "\n";
    // The client's block is sized from the row counts; it always ends in zero bytes.
    text.resize(text.size() + 16, '\0');
    return "updt" + text;
}

std::string Metadata(const std::string& key, long long user_row_id, const std::string& title,
                     const std::string& description, const std::string& tags, const std::string& pdf_name,
                     int page_count, int page_width, int page_height) {
    const long long numbers[18] = {page_count, page_width, page_height, user_row_id, 0, 1, 3, 301, 276, 276000,
                                   276000000, static_cast<long long>(title.size()),
                                   static_cast<long long>(description.size()), static_cast<long long>(tags.size()),
                                   static_cast<long long>(pdf_name.size()), 123456, 128, -1};
    std::string body = "meta" + key;
    for (int i = 0; i < 18; ++i) body += std::to_string(numbers[i]) + (i < 17 ? "," : ":");
    return body + title + description + tags + pdf_name;
}

std::string Upload(const std::string& key, const std::string& file_name, const std::string& sub_folder,
                   const std::string& data, int chunk_index, int chunk_kib) {
    std::string header = file_name + '\0' + sub_folder + '\0';
    if (chunk_index >= 0) header += std::to_string(chunk_index) + '\0' + std::to_string(chunk_kib) + '\0';
    std::string length = std::to_string(header.size());
    length.resize(8, '\0');
    return "upld" + key + length + header + data;
}

std::string FileSizeHeader(size_t size) { return "X-Vellumark-File-Size: " + std::to_string(size); }

HttpResult UploadFile(const ServiceProcess& service, const std::string& key, const std::string& file_name,
                      const std::string& sub_folder, const std::string& data, int chunk_kib,
                      const std::vector<std::string>& headers) {
    const size_t chunk = static_cast<size_t>(chunk_kib) * 1024;
    std::vector<std::string> size = headers;
    size.push_back(FileSizeHeader(data.size()));
    if (data.size() <= chunk) return service.Exchange(Upload(key, file_name, sub_folder, data), size);
    HttpResult last;
    const size_t count = (data.size() + chunk - 1) / chunk;
    for (size_t k = 0; k < count; ++k) {
        last = service.Exchange(
            Upload(key, file_name, sub_folder, data.substr(k * chunk, chunk), static_cast<int>(k), chunk_kib), size);
    }
    return last;
}

}  // namespace service_bodies
