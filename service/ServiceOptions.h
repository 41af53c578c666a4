// The command line of vellumark-service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace service {

struct ServiceOptions {
    std::string data_dir;                 // --data DIR (required)
    // --database URL: a postgresql:// URL (a database several service processes share)
    // or the path of an SQLite file; empty: service.db in the data folder.
    std::string database;
    // --migrate-to URL: copy the data folder's SQLite database into the (empty)
    // PostgreSQL database at URL, then end.
    std::string migrate_to;
    std::string listen = "0.0.0.0";       // --listen ADDR: every interface, as the desktop
    int port = 80;                        // --port N: program always talks to port 80
    uint64_t latest_build = 201302010343; // --latest-build N: answer to the version check
    std::string reference_db;             // --reference FILE; empty: beside the program
    std::string notice_file;              // --notice FILE; empty: the notifier says nothing
    std::string service_path = "/vellumark/standalone.ashx";  // --service-path PATH
    // --trusted-proxy ADDR (repeatable): requests from these peers name the client's
    // address in their X-Real-IP header (a reverse proxy in front of the service).
    std::vector<std::string> trusted_proxies;
    size_t request_threads = 16;          // --request-threads N: requests handled at once
    int signups_per_hour = 5;             // --signups-per-hour N: new accounts per address
    // --client-seconds N: a client sends a request head (or stays silent between
    // requests) within N seconds, and a body within 6 N seconds.
    int client_seconds = 10;
    // --stage-expiry-seconds N: a staged update untouched for N seconds is removed (1 day).
    int64_t stage_expiry_seconds = 24 * 60 * 60;
};

inline constexpr const char* kUsage =
    "usage: vellumark-service --data DIR [--database URL] [--listen ADDR] [--port N]\n"
    "                         [--latest-build N]\n"
    "                         [--reference FILE] [--notice FILE] [--service-path PATH]\n"
    "                         [--trusted-proxy ADDR]... [--request-threads N]\n"
    "                         [--signups-per-hour N] [--client-seconds N]\n"
    "                         [--stage-expiry-seconds N]\n"
    "       vellumark-service --data DIR --migrate-to postgresql://...\n";

// True for an IPv4 or IPv6 address literal.
bool IsIpAddress(const std::string& text);

// Parses argv (without the program name). False with `why` set on a usage mistake.
bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& out, std::string& why);

}  // namespace service
