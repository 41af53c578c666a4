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

std::string WebServiceReadingAddress(const std::string& base, const std::string& job_key)
{
    std::string address = base;
    if (address.empty() || address.back() != '/')
        address += '/';
    return address + "books/" + job_key + "/";
}

std::string PublishedPageAddress(bool use_ftp, const std::string& ftp_webaddr, bool use_service,
                                 const std::string& service_base, const std::string& job_key)
{
    std::string address;
    if (use_ftp && !ftp_webaddr.empty())
        address = FtpBookAddress(ftp_webaddr, job_key);
    else if (use_service && !service_base.empty())
        address = WebServiceReadingAddress(service_base, job_key);
    const bool web = address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
    return web ? address : std::string();
}
