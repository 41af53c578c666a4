// Session keys: the secret a login hands the client, which its later messages carry to
// show the live session they belong to. The service stores only a hash of each key, so
// a copy of its database opens no session.
#pragma once

#include <string>
#include <string_view>

namespace service {

// 32 random bytes as 64 lower-case hexadecimal digits.
std::string NewSessionKey();
// True when `text` is 64 lower-case hexadecimal digits, the form of every key.
bool IsSessionKeyText(std::string_view text);
// The stored form of a key: its 256-bit BLAKE2b hash in lower-case hexadecimal. A plain
// hash is enough, since a key is 256 random bits and cannot be guessed.
std::string SessionKeyHash(std::string_view key);

}  // namespace service
