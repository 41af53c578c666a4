// The addresses under which a published book is read: on the user's FTP site (through
// the web address of its profile) and on the publishing web service.
#pragma once

#include <string>

class IniFile;

// `webaddr`, a "/" unless it ends with one (or a backslash), the key and "/index.html".
std::string FtpBookAddress(const std::string& webaddr, const std::string& job_key);

// The service's base address, a "/" unless it ends with one, "booklet.asp?guid=" and the key.
std::string WebServiceBookAddress(const std::string& base, const std::string& job_key);

// The address the service reads a published book at once its booklet address has
// forwarded: the base, a "/" unless it ends with one, "books/", the key and "/".
std::string WebServiceReadingAddress(const std::string& base, const std::string& job_key);

// The absolute address of the page this computer makes for a book, for the tags that tell
// link previews and search engines where the book is: the FTP web site's when the book goes
// there (that site serves this very page), else the service's reading address; empty when
// the book is published nowhere or the address is not a web address (http or https).
std::string PublishedPageAddress(bool use_ftp, const std::string& ftp_webaddr, bool use_service,
                                 const std::string& service_base, const std::string& job_key);

// Where a book's job says it is read on the web.
struct PublishedAddresses {
    std::string service;  // empty unless the book goes to the service and its address is known
    std::string ftp;      // empty unless the book goes to the FTP site
    // The book is meant for the web but its upload has not finished: its addresses would
    // answer with an error page, so none is given.
    bool unfinished = false;
};

// The addresses of the book `job_key` from its job section in `meta` (meta.ini) and the
// service's base address.
PublishedAddresses BookWebAddresses(const IniFile& meta, const std::string& job_key, const std::string& service_base);
