// The keys of config.ini that name the publishing service: its host (a name, optionally
// with ":port" or a scheme) and the web address its books are read under. The desktop
// program's publishing settings and the batch command's --service-host write them the
// same way; an empty host means that no publishing service is set.
#pragma once

#include "config/IniFile.h"

#include <string>

// A host as typed or read: without the spaces and tabs around it.
inline std::string TrimmedServiceHost(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The address the service at `host` serves its books under ("http://HOST/vellumark/");
// empty for an empty host.
inline std::string ServiceBooksAddress(const std::string& host)
{
    if (host.empty())
        return {};
    std::string base = host.rfind("http://", 0) == 0 || host.rfind("https://", 0) == 0 ? host : "http://" + host;
    if (base.back() != '/')
        base += '/';
    return base + "vellumark/";
}

// Writes the host and its books address to section network; false when either cannot
// be written.
inline bool WriteServiceHostKeys(IniFile& config_ini, const std::string& host)
{
    return config_ini.WriteText("network", "vazirudu_domain", host) &&
           config_ini.WriteText("network", "vazirudu_webaddr", ServiceBooksAddress(host));
}
