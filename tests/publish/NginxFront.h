// Runs Debian's nginx for one test in front of a vellumark-service on 127.0.0.1, from
// the shipped site configuration (service/deploy/nginx-vellumark.conf.in) with this
// test's ports, folders and certificate filled in, so that what is tested is what is
// shipped. A main configuration of the test's own keeps the prefix, pid, temporary and
// log files in a folder of the test; the system's nginx service is never touched. A
// certificate authority and a server certificate for 127.0.0.1 are made with the openssl
// command; clients trust the authority through CaFile(). nginx is stopped when the
// object goes.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct FrontReply {
    long status = 0;  // 0: no answer
    std::string body;
    std::map<std::string, std::string> headers;  // the last answer's, names in lower case

    // The header's value, empty when it was not sent.
    std::string Header(const std::string& name) const;
};

struct FrontRequest {
    std::string method = "GET";  // GET or POST
    std::string path;
    std::string body;
    std::vector<std::string> headers;  // "Name: value"
    std::string source_address;        // connect from this local address ("127.0.0.2")
    bool plain_http = false;           // the plain-HTTP port instead of TLS
    std::string base;                  // another server's base address instead of this nginx
    bool follow = false;               // follow redirects
};

class NginxFront {
public:
    // Serves on free ports of 127.0.0.1 in front of the service at 127.0.0.1:service_port
    // whose data folder is `data_dir`; its own files go into `root`.
    NginxFront(const std::filesystem::path& root, int service_port, const std::filesystem::path& data_dir);
    // In front of several service processes on one database, at these ports: the
    // upstream's server line is repeated for each.
    NginxFront(const std::filesystem::path& root, const std::vector<int>& service_ports,
               const std::filesystem::path& data_dir);
    ~NginxFront();
    NginxFront(const NginxFront&) = delete;
    NginxFront& operator=(const NginxFront&) = delete;

    // False (with the reason in `why`) when nginx or openssl is not installed.
    static bool Available(std::string& why);

    bool Running() const { return pid_ > 0; }
    // Why nginx is not running: the failing step and what it wrote.
    const std::string& Failure() const { return failure_; }
    // The address clients are given: https://127.0.0.1:PORT
    std::string BaseUrl() const;
    const std::filesystem::path& CaFile() const { return ca_file_; }

    // One request over TLS (or plain HTTP), trusting only the test's authority.
    FrontReply Send(const FrontRequest& request) const;
    // The same on `handle`, whose connection stays open for the next request, as the
    // desktop program keeps its connection (libcurl's easy handle).
    FrontReply Send(const FrontRequest& request, void* handle) const;
    FrontReply Get(const std::string& path) const;

private:
    bool MakeCertificates();
    bool WriteConfiguration(const std::vector<int>& service_ports, const std::filesystem::path& data_dir);
    bool Start();
    void Stop();

    std::filesystem::path root_;
    std::filesystem::path ca_file_;
    int https_port_ = 0;
    int http_port_ = 0;
    pid_t pid_ = -1;
    std::string failure_;
};
