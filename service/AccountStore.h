// Accounts (e-mail and a slow salted password hash) and login sessions.
//
// A login opens a session: a number (the client quotes it in a book's metadata) and a
// secret key that the client's later messages carry; the key, not the client's address,
// says which live session and so which account a message comes from. Only a hash of the
// key is stored. Password guessing and sign-up floods are slowed down (AccountLimits.h):
// a throttled attempt is refused at once, before any slow password hash.
#pragma once

#include "service/AccountLimits.h"
#include "service/LoginThrottle.h"
#include "service/ServiceDatabase.h"
#include "service/SignupLimit.h"

#include <cstdint>
#include <string>

namespace service {

enum class CreateResult { Created, Exists, Invalid, Failed, TooMany };

struct LoginOutcome {
    int32_t token = 0;    // the session number (> 0), 0 when refused
    std::string key;      // the session key (64 lower-case hex digits), empty when refused
    bool throttled = false;  // refused unchecked: too many failures, wait and try again
    int64_t retry_after_seconds = 0;  // how long, when throttled
};

struct SessionInfo {
    int64_t account = 0;  // 0: no live session
    int64_t token = 0;
};

class AccountStore {
public:
    // How long a login stays usable for metadata and uploads.
    static constexpr int64_t kSessionSeconds = 24 * 60 * 60;

    // `clock` and `limits` are for tests; the service uses the defaults.
    explicit AccountStore(ServiceDatabase& db, ThrottleClock clock = WallMilliseconds,
                          const AccountLimits& limits = kAccountLimits);
    // Must be called once before use (sodium_init); false when the library cannot start.
    static bool InitCrypto();

    // E-mail and password: 1..31 bytes, no control bytes, the e-mail with an "@".
    // TooMany when `address` has made its allowed accounts for the hour.
    CreateResult Create(const std::string& email, const std::string& password, const std::string& address);
    // A new session (number and key) for a right e-mail and password from `address`;
    // token 0 otherwise, with throttled set when the attempt was refused unchecked.
    LoginOutcome Login(const std::string& email, const std::string& password, const std::string& address);
    // The live session a key belongs to; account 0 when none (unknown, expired, malformed).
    SessionInfo SessionByKey(const std::string& key);

private:
    CreateResult Insert(const std::string& email, const std::string& password);
    // True (and `outcome` says how long to wait) when the address group, or the account
    // when it is not 0, must wait before its next attempt.
    bool MustWait(const std::string& group, int64_t account, LoginOutcome& outcome);
    LoginOutcome OpenSession(int64_t account, const std::string& address);

    ServiceDatabase& db_;
    LoginThrottle account_logins_;
    LoginThrottle address_logins_;
    SignupLimit signups_;
};

// True when `text` is 1..31 bytes without control bytes.
bool IsValidLoginText(const std::string& text);

}  // namespace service
