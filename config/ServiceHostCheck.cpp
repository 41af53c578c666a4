#include "config/ServiceHostCheck.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t n = std::char_traits<char>::length(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

bool IsHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool IsIpv6Char(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return false;
    const int value = std::stoi(text);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// The host and port after the scheme, up to the first slash.
ServiceHostProblem SplitAuthority(const std::string& authority, ServiceHostParts& parts)
{
    if (authority.find('@') != std::string::npos)
        return ServiceHostProblem::kCredentials;
    std::string port_text;
    bool has_port = false;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos || close < 2)
            return ServiceHostProblem::kCharacters;
        parts.host = authority.substr(0, close + 1);
        if (!std::all_of(parts.host.begin() + 1, parts.host.end() - 1, IsIpv6Char))
            return ServiceHostProblem::kCharacters;
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return ServiceHostProblem::kCharacters;
            has_port = true;
            port_text = authority.substr(close + 2);
        }
    } else {
        const size_t colon = authority.find(':');
        parts.host = authority.substr(0, colon);
        if (parts.host.empty() || !std::all_of(parts.host.begin(), parts.host.end(), IsHostChar))
            return ServiceHostProblem::kCharacters;
        if (colon != std::string::npos) {
            has_port = true;
            port_text = authority.substr(colon + 1);
        }
    }
    if (has_port && !ParsePort(port_text, parts.port))
        return ServiceHostProblem::kPort;
    return ServiceHostProblem::kNone;
}

}  // namespace

ServiceHostProblem SplitServiceHost(const std::string& text, ServiceHostParts& parts)
{
    parts = ServiceHostParts{};
    if (text.empty())
        return ServiceHostProblem::kEmpty;
    std::string rest = text;
    bool scheme = false;
    if (StartsWithNoCase(rest, "https://")) {
        parts.tls = true;
        scheme = true;
        rest = rest.substr(8);
    } else if (StartsWithNoCase(rest, "http://")) {
        scheme = true;
        rest = rest.substr(7);
    } else if (rest.find("://") != std::string::npos) {
        return ServiceHostProblem::kScheme;
    }
    const ServiceHostProblem problem = SplitAuthority(rest.substr(0, rest.find('/')), parts);
    if (problem != ServiceHostProblem::kNone)
        return problem;
    // Without a scheme only a service on this machine is reached in clear.
    if (!scheme)
        parts.tls = !IsLoopbackHost(parts.host);
    return ServiceHostProblem::kNone;
}

bool IsLoopbackHost(const std::string& host)
{
    return strcasecmp(host.c_str(), "localhost") == 0 || host.rfind("127.", 0) == 0 || host == "[::1]";
}

bool ServiceHostInClear(const std::string& text)
{
    ServiceHostParts parts;
    return SplitServiceHost(text, parts) == ServiceHostProblem::kNone && !parts.tls;
}

const char* ServiceHostProblemText(ServiceHostProblem problem)
{
    switch (problem) {
    case ServiceHostProblem::kNone: return "";
    case ServiceHostProblem::kEmpty: return "no address is given";
    case ServiceHostProblem::kScheme: return "only http:// and https:// addresses can be used";
    case ServiceHostProblem::kCredentials: return "the address cannot carry a user name or password";
    case ServiceHostProblem::kCharacters:
        return "a host name has only letters, digits, '-' and '.' (an IPv6 address goes in [ ])";
    case ServiceHostProblem::kPort: return "the port must be a number from 1 to 65535";
    }
    return "";
}
