#include "pipeline/BookAddress.h"

#include "config/IniFile.h"
#include "pipeline/JobSection.h"

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

PublishedAddresses BookWebAddresses(const IniFile& meta, const std::string& job_key, const std::string& service_base)
{
    PublishedAddresses where;
    const bool use_ftp = meta.ReadInt(job_key, "use_ftp") == 1;
    const bool use_service = meta.ReadInt(job_key, "use_vazirudu") == 1;
    if ((use_ftp || use_service) && !IsFinished(meta, job_key)) {
        where.unfinished = true;
        return where;
    }
    // Without a service address there is no service page to show.
    if (use_service && !service_base.empty())
        where.service = WebServiceBookAddress(service_base, job_key);
    if (use_ftp)
        where.ftp = FtpBookAddress(meta.ReadText(job_key, "ftp_webaddr", 512), job_key);
    return where;
}
