// Where the publishing web service is reached. The configured host may carry a scheme
// and a port ("host", "host:8080", "http://host", "https://host:8443"); a host without a
// scheme is reached over https unless it is a loopback address.
#pragma once

#include <cstdint>
#include <string>

struct ServiceAddress {
    bool tls = false;
    std::string host;
    uint16_t port = 80;
};

// Reads `text` into `address`; `default_port` applies when the text names none. False
// when the text is empty, names another scheme, or holds a host or port that cannot be
// used as it stands (characters that would change the meaning of the address).
bool ParseServiceAddress(const std::string& text, uint16_t default_port, ServiceAddress& address);

// The full address of `path` on the service ("/" is put in front when it is missing).
std::string ServiceUrl(const ServiceAddress& address, const std::string& path);
