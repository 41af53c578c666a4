#include "pipeline/BookAddress.h"

std::string FtpBookAddress(const std::string& webaddr, const std::string& job_key)
{
    std::string address = webaddr;
    if (address.empty() || (address.back() != '/' && address.back() != '\\'))
        address += '/';
    return address + job_key + "/index.html";
}

std::string WebServiceBookAddress(const std::string& base, const std::string& job_key)
{
    std::string address = base;
    if (address.empty() || address.back() != '/')
        address += '/';
    return address + "booklet.asp?guid=" + job_key;
}
