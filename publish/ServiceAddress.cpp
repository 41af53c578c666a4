#include "publish/ServiceAddress.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::char_traits<char>::length(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

bool IsHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool IsIpv6Char(char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; }

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
    const int value = std::stoi(text);
    if (value < 1 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool ParseServiceAddress(const std::string& text, uint16_t default_port, ServiceAddress& address) {
    address = ServiceAddress{};
    address.port = default_port;
    std::string rest = text;
    if (StartsWithNoCase(rest, "https://")) {
        address.tls = true;
        if (default_port == 80) address.port = 443;
        rest = rest.substr(8);
    } else if (StartsWithNoCase(rest, "http://")) {
        rest = rest.substr(7);
    } else if (rest.find("://") != std::string::npos) {
        return false;
    }
    // Only the host and port are taken; the service path is configured on its own.
    rest = rest.substr(0, rest.find('/'));
    std::string port_text;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        address.host = rest.substr(0, close + 1);
        if (!std::all_of(address.host.begin() + 1, address.host.end() - 1, IsIpv6Char)) return false;
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            port_text = rest.substr(close + 2);
            if (!ParsePort(port_text, address.port)) return false;
        }
        return address.host.size() > 2;
    }
    const size_t colon = rest.find(':');
    address.host = rest.substr(0, colon);
    if (colon != std::string::npos && !ParsePort(rest.substr(colon + 1), address.port)) return false;
    return !address.host.empty() && std::all_of(address.host.begin(), address.host.end(), IsHostChar);
}

std::string ServiceUrl(const ServiceAddress& address, const std::string& path) {
    std::string url = address.tls ? "https://" : "http://";
    url += address.host + ":" + std::to_string(address.port);
    if (path.empty() || path[0] != '/') url += '/';
    return url + path;
}
