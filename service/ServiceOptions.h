// The command line of vellumark-service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace service {

struct ServiceOptions {
    std::string data_dir;                 // --data DIR (required)
    std::string listen = "0.0.0.0";       // --listen ADDR: every interface, as the desktop
    int port = 80;                        // --port N: program always talks to port 80
    uint64_t latest_build = 201302010343; // --latest-build N: answer to the version check
    std::string reference_db;             // --reference FILE; empty: beside the program
    std::string notice_file;              // --notice FILE; empty: the notifier says nothing
    std::string service_path = "/vellumark/standalone.ashx";  // --service-path PATH
};

inline constexpr const char* kUsage =
    "usage: vellumark-service --data DIR [--listen ADDR] [--port N] [--latest-build N]\n"
    "                         [--reference FILE] [--notice FILE] [--service-path PATH]\n";

// Parses argv (without the program name). False with `why` set on a usage mistake.
bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& out, std::string& why);

}  // namespace service
