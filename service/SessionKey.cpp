#include "service/SessionKey.h"

#include "service/RandomHex.h"

#include <sodium.h>

namespace service {
namespace {

constexpr size_t kKeyBytes = 32;

}  // namespace

std::string NewSessionKey() { return RandomHex(kKeyBytes); }

bool IsSessionKeyText(std::string_view text) {
    if (text.size() != 2 * kKeyBytes) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string SessionKeyHash(std::string_view key) {
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(key.data()), key.size(), nullptr, 0);
    char hex[2 * sizeof hash + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return hex;
}

}  // namespace service
