// Runs the real vellumark-service program for a test: on 127.0.0.1 with a free port
// and a fresh data folder, reading its port from the first line it prints; the process
// is stopped when the object goes. A small libcurl client talks to it the way the
// desktop program does (an empty POST before every message). Other tests reuse it.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

struct HttpResult {
    long status = 0;  // 0: no answer
    std::string body;
    std::string content_type;
    std::string session_key;  // the X-Vellumark-Session answer header of a login
    std::vector<std::string> headers;  // every answer header line, as received
    // The value of answer header `name` (case-insensitive), empty when absent.
    std::string Header(const std::string& name) const;
};

class ServiceProcess {
public:
    // Starts the service with --data `data_dir`, --listen 127.0.0.1, --port 0 and
    // `extra_args`. Running() tells whether it printed its address within `wait`.
    // Its standard error goes to `log_file` when one is given.
    explicit ServiceProcess(const std::filesystem::path& data_dir, const std::vector<std::string>& extra_args = {},
                            std::chrono::seconds wait = std::chrono::seconds(15),
                            const std::filesystem::path& log_file = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Running() const { return port_ > 0; }
    int Port() const { return port_; }
    const std::string& FirstLine() const { return first_line_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Sends `signal` and waits (bounded) for the exit; the exit status, or -1.
    int Stop(int signal);

    // One client message: the empty probe POST, then `body` on the service path, both
    // with the session key of the last login (as the client quotes it) and `headers`.
    // A login's answer replaces the key.
    HttpResult Exchange(const std::string& body, const std::vector<std::string>& headers = {}) const;
    // A single POST of `body` (no probe) with the given content type.
    HttpResult Post(const std::string& path, const std::string& body,
                    const std::string& content_type = "application/octet-stream",
                    const std::vector<std::string>& headers = {}) const;
    const std::string& SessionKey() const { return session_key_; }
    void SetSessionKey(const std::string& key) const { session_key_ = key; }
    pid_t Pid() const { return pid_; }
    // A GET; redirects are followed when `follow` is set.
    HttpResult Get(const std::string& path, bool follow = true) const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    mutable std::string session_key_;
    std::string first_line_;
};

// When the tests run against PostgreSQL: the database of the services on `data_dir`,
// made the first time it is asked for.
std::string TestDatabaseFor(const std::filesystem::path& data_dir);

// The program under test: vellumark-service in the build's program folder.
std::filesystem::path ServiceProgram();

// Runs the service with `args` that should keep it from starting: its exit status
// (-1 when it had to be killed after `wait`) and what it wrote to standard error.
int RunServiceExpectingFailure(const std::vector<std::string>& args, std::string& stderr_text,
                               std::chrono::seconds wait = std::chrono::seconds(15));

// The most memory process `pid` has held, in MB (VmHWM); -1 when unknown.
long PeakMemoryMb(pid_t pid);

// The client's bodies, built as the desktop program builds them.
// `size` bytes of a fixed pseudo-random sequence chosen by `seed`.
std::string RandomBytes(size_t size, unsigned seed);
// A JPEG start (frame header of 300 x 200) followed by filler: enough for the service's
// page to read the image size and for a byte-for-byte comparison.
std::string FakeJpeg(size_t size, unsigned seed);

namespace service_bodies {
std::string Login(const std::string& user, const std::string& password);
std::string VersionCheck(const std::string& build);
std::string ReferenceIds(const std::vector<long long>& subcategory_ids, const std::vector<long long>& category_ids);
// Eighteen numbers as the client writes them; lengths are taken from the texts.
std::string Metadata(const std::string& key, long long user_row_id, const std::string& title,
                     const std::string& description, const std::string& tags, const std::string& pdf_name,
                     int page_count = 3, int page_width = 595, int page_height = 842);
// A whole-file upload (chunk_kib 0) or chunk `chunk_index` of `chunk_kib` KiB.
std::string Upload(const std::string& key, const std::string& file_name, const std::string& sub_folder,
                   const std::string& data, int chunk_index = -1, int chunk_kib = 0);
// The header an upload of a file of `size` bytes carries.
std::string FileSizeHeader(size_t size);
// Sends `data` as the client does: one request when it fits a chunk, else chunk by chunk,
// each announcing the file's size (and carrying `headers`). The reply of the last request.
HttpResult UploadFile(const ServiceProcess& service, const std::string& key, const std::string& file_name,
                      const std::string& sub_folder, const std::string& data, int chunk_kib = 48,
                      const std::vector<std::string>& headers = {});
}  // namespace service_bodies
