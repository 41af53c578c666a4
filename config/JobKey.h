// The job key: names a job's section in meta.ini and meta_w.ini, its book folder, its
// folder on the FTP server and the guid of its web address.
#pragma once

#include <string>
#include <string_view>

// A new key: 32 upper-case hexadecimal digits of a random version-4 GUID (16 bytes from
// getrandom). Returns an empty string only when the system gives no random bytes, which
// is logged.
std::string NewJobKey();

// True when `text` is exactly 32 upper-case hexadecimal digits.
bool IsJobKey(std::string_view text);
