#include "publish/ServiceAddress.h"

#include "config/ServiceHostCheck.h"

bool ParseServiceAddress(const std::string& text, uint16_t default_port, ServiceAddress& address) {
    address = ServiceAddress{};
    ServiceHostParts parts;
    if (SplitServiceHost(text, parts) != ServiceHostProblem::kNone) return false;
    address.tls = parts.tls;
    address.host = parts.host;
    // The plain-HTTP default port means the https default over TLS.
    address.port = parts.port != 0 ? parts.port : (parts.tls && default_port == 80 ? 443 : default_port);
    return true;
}

std::string ServiceUrl(const ServiceAddress& address, const std::string& path) {
    std::string url = address.tls ? "https://" : "http://";
    url += address.host + ":" + std::to_string(address.port);
    if (path.empty() || path[0] != '/') url += '/';
    return url + path;
}
