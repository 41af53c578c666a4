// The rule for a publishing service address as a user or the batch command gives it: a
// host name or address with an optional port, or a full http:// or https:// address. A
// host given without a scheme is reached over https, except a loopback address (a
// service on this machine), which is reached over plain http; http elsewhere only when
// written out. The desktop program, the batch command and the web-service client all
// read addresses through this one rule.
#pragma once

#include <cstdint>
#include <string>

// Why an address cannot be used; kNone when it can.
enum class ServiceHostProblem {
    kNone,
    kEmpty,        // nothing given
    kScheme,       // a scheme other than http:// or https://
    kCredentials,  // a user name or password in the address
    kCharacters,   // characters no host name or address has
    kPort,         // a port that is not a number from 1 to 65535
};

struct ServiceHostParts {
    bool tls = false;
    std::string host;  // a name, an IPv4 address or "[IPv6]"
    uint16_t port = 0; // 0: none given
};

// Splits `text` (without surrounding spaces) into its parts; a path after the host is
// ignored, since the service path is configured on its own.
ServiceHostProblem SplitServiceHost(const std::string& text, ServiceHostParts& parts);

// True for "localhost", 127.x.x.x and [::1].
bool IsLoopbackHost(const std::string& host);

// True when the address is reached without encryption (the password travels in clear).
// False for an address that cannot be used.
bool ServiceHostInClear(const std::string& text);

// One line that says why `problem` refuses an address, for the batch command.
const char* ServiceHostProblemText(ServiceHostProblem problem);
