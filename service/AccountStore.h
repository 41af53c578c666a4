// Accounts (e-mail and a slow salted password hash) and login sessions.
//
// A login answers a session number, not the account's row id: the number the client
// later quotes in a book's metadata must come from a login of that account from the
// same address within the session's life, so a guessed or forged number does not let
// anyone file books under another account. The upload message names no account at all:
// the newest login from its address stands for it.
#pragma once

#include "service/ServiceDatabase.h"

#include <cstdint>
#include <string>

namespace service {

enum class CreateResult { Created, Exists, Invalid, Failed };

class AccountStore {
public:
    // How long a login stays usable for metadata and uploads.
    static constexpr int64_t kSessionSeconds = 24 * 60 * 60;

    explicit AccountStore(ServiceDatabase& db);
    // Must be called once before use (sodium_init); false when the library cannot start.
    static bool InitCrypto();

    // E-mail and password: 1..31 bytes, no control bytes, the e-mail with an "@".
    CreateResult Create(const std::string& email, const std::string& password);
    // A new session number (> 0) for a right e-mail and password, else 0.
    int32_t Login(const std::string& email, const std::string& password, const std::string& address);
    // The account of a live session opened from `address`, else 0.
    int64_t SessionAccount(int64_t token, const std::string& address);
    // The account of the newest live session opened from `address`, else 0.
    int64_t NewestSessionAccount(const std::string& address);

private:
    ServiceDatabase& db_;
};

// True when `text` is 1..31 bytes without control bytes.
bool IsValidLoginText(const std::string& text);

}  // namespace service
