#include "config/JobKey.h"

#include "config/DiagLog.h"

#include <cerrno>
#include <cstdint>
#include <sys/random.h>

std::string NewJobKey()
{
    uint8_t bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            DIAG("CommonUtil", errno, "ERR:getrandom failed");
            return std::string();
        }
        filled += static_cast<size_t>(n);
    }
    // Version 4 (random) and the RFC 4122 variant, as any GUID generator shapes them.
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);

    static const char kDigits[] = "0123456789ABCDEF";
    std::string key;
    key.reserve(32);
    for (uint8_t b : bytes) {
        key.push_back(kDigits[b >> 4]);
        key.push_back(kDigits[b & 0x0F]);
    }
    return key;
}

bool IsJobKey(std::string_view text)
{
    if (text.size() != 32)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}
