// The addresses under which a published book is read: on the user's FTP site (through
// the web address of its profile) and on the publishing web service.
#pragma once

#include <string>

// `webaddr`, a "/" unless it ends with one (or a backslash), the key and "/index.html".
std::string FtpBookAddress(const std::string& webaddr, const std::string& job_key);

// The service's base address, a "/" unless it ends with one, "booklet.asp?guid=" and the key.
std::string WebServiceBookAddress(const std::string& base, const std::string& job_key);
