#include "service/ServiceOptions.h"

#include "service/PostgresConnection.h"

#include <arpa/inet.h>
#include <charconv>
#include <netinet/in.h>

namespace service {
namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool IsIpAddress(const std::string& text) {
    unsigned char bytes[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& out, std::string& why) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) {
            why = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name;
            return false;
        }
        const std::string& value = args[++i];
        if (name == "--data") {
            out.data_dir = value;
        } else if (name == "--database") {
            out.database = value;
        } else if (name == "--migrate-to") {
            if (!IsPostgresUrl(value)) {
                why = "--migrate-to needs a postgresql:// URL";
                return false;
            }
            out.migrate_to = value;
        } else if (name == "--listen") {
            out.listen = value;
        } else if (name == "--port") {
            if (!ParseNumber(value, out.port) || out.port < 0 || out.port > 65535) {
                why = "--port needs a number from 0 to 65535";
                return false;
            }
        } else if (name == "--latest-build") {
            if (!ParseNumber(value, out.latest_build)) {
                why = "--latest-build needs a decimal number";
                return false;
            }
        } else if (name == "--reference") {
            out.reference_db = value;
        } else if (name == "--notice") {
            out.notice_file = value;
        } else if (name == "--trusted-proxy") {
            if (!IsIpAddress(value)) {
                why = "--trusted-proxy needs an IP address";
                return false;
            }
            out.trusted_proxies.push_back(value);
        } else if (name == "--request-threads") {
            if (!ParseNumber(value, out.request_threads) || out.request_threads < 1 || out.request_threads > 256) {
                why = "--request-threads needs a number from 1 to 256";
                return false;
            }
        } else if (name == "--client-seconds") {
            if (!ParseNumber(value, out.client_seconds) || out.client_seconds < 1 || out.client_seconds > 3600) {
                why = "--client-seconds needs a number from 1 to 3600";
                return false;
            }
        } else if (name == "--stage-expiry-seconds") {
            if (!ParseNumber(value, out.stage_expiry_seconds) || out.stage_expiry_seconds < 1) {
                why = "--stage-expiry-seconds needs a number of at least 1";
                return false;
            }
        } else if (name == "--signups-per-hour") {
            if (!ParseNumber(value, out.signups_per_hour) || out.signups_per_hour < 1) {
                why = "--signups-per-hour needs a number of at least 1";
                return false;
            }
        } else if (name == "--service-path") {
            if (value.empty() || value.front() != '/') {
                why = "--service-path must start with /";
                return false;
            }
            out.service_path = value;
        } else {
            why = "unknown option " + name;
            return false;
        }
    }
    if (out.data_dir.empty()) {
        why = "--data DIR is required";
        return false;
    }
    return true;
}

}  // namespace service
