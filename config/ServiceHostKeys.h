// The keys of config.ini that name the publishing service: its host (a name, optionally
// with ":port" or a scheme; see ServiceHostCheck.h) and the web address its books are read under. The desktop
// program's publishing settings and the batch command's --service-host write them the
// same way; an empty host means that no publishing service is set.
#pragma once

#include "config/IniFile.h"
#include "config/ServiceHostCheck.h"

#include <string>

// A host as typed or read: without the spaces and tabs around it.
inline std::string TrimmedServiceHost(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The scheme and host of the service at `host`, with a trailing slash: as written when
// it carries a scheme, else https (plain http for a loopback address).
inline std::string ServiceRootAddress(const std::string& host)
{
    ServiceHostParts parts;
    const bool has_scheme = host.find("://") != std::string::npos;
    std::string root = has_scheme ? host
                       : SplitServiceHost(host, parts) == ServiceHostProblem::kNone && !parts.tls ? "http://" + host
                                                                                                 : "https://" + host;
    if (root.back() != '/')
        root += '/';
    return root;
}

// The address the service at `host` serves its books under ("https://HOST/vellumark/");
// empty for an empty host.
inline std::string ServiceBooksAddress(const std::string& host)
{
    return host.empty() ? std::string() : ServiceRootAddress(host) + "vellumark/";
}

// Writes the host and its books address to section network; false when either cannot
// be written.
inline bool WriteServiceHostKeys(IniFile& config_ini, const std::string& host)
{
    return config_ini.WriteText("network", "vazirudu_domain", host) &&
           config_ini.WriteText("network", "vazirudu_webaddr", ServiceBooksAddress(host));
}
