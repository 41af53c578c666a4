#include "service/AccountStore.h"

#include "config/DiagLog.h"
#include "service/AddressGroup.h"
#include "service/RequestParsers.h"
#include "service/SessionKey.h"

#include <ctime>
#include <semaphore>
#include <sodium.h>

namespace service {
namespace {

constexpr const char* kModule = "AccountStore";

// Each hash takes tens of MiB of memory on purpose: at most two run at once, so a burst
// of logins or sign-ups waits instead of exhausting the host's memory.
std::counting_semaphore<2> hash_slots(2);

struct HashSlot {
    HashSlot() { hash_slots.acquire(); }
    ~HashSlot() { hash_slots.release(); }
    HashSlot(const HashSlot&) = delete;
    HashSlot& operator=(const HashSlot&) = delete;
};

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

bool HashPassword(const std::string& password, std::string& hash) {
    char out[crypto_pwhash_STRBYTES];
    HashSlot slot;
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        DIAG(kModule, 0, "ERR:password hashing ran out of memory");
        return false;
    }
    hash = out;
    return true;
}

// A hash of no real password, checked against when the e-mail is unknown so that a
// refused login takes as long whether or not the account exists.
const std::string& DecoyHash() {
    static const std::string hash = [] {
        std::string made;
        HashPassword("decoy password of no account", made);
        return made;
    }();
    return hash;
}

}  // namespace

bool IsValidLoginText(const std::string& text) {
    if (text.empty() || text.size() > kLoginTextMax) return false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

AccountStore::AccountStore(ServiceDatabase& db, ThrottleClock clock, const AccountLimits& limits)
    : db_(db),
      account_logins_(db, "account", limits.account_logins, clock),
      address_logins_(db, "address", limits.address_logins, clock),
      signups_(db, limits.signups, clock) {}

bool AccountStore::InitCrypto() { return sodium_init() >= 0; }

CreateResult AccountStore::Create(const std::string& email, const std::string& password,
                                  const std::string& address) {
    if (!IsValidLoginText(email) || !IsValidLoginText(password) || email.find('@') == std::string::npos)
        return CreateResult::Invalid;
    const std::string group = AddressGroup(address);
    if (!signups_.Take(group)) {
        DIAG(kModule, 0, "INF:sign-up refused for %s: too many accounts from it this hour", group.c_str());
        return CreateResult::TooMany;
    }
    const CreateResult result = Insert(email, password);
    if (result != CreateResult::Created) signups_.GiveBack(group);
    return result;
}

CreateResult AccountStore::Insert(const std::string& email, const std::string& password) {
    std::string hash;
    if (!HashPassword(password, hash)) return CreateResult::Failed;
    auto lock = db_.Lock();
    {
        Statement exists(db_, "SELECT 1 FROM account WHERE lower(email) = lower(?1)");
        if (!exists.Ok()) return CreateResult::Failed;
        if (exists.Bind(1, email).Step()) return CreateResult::Exists;
    }
    Statement insert(db_, "INSERT INTO account (email, pwhash, created) VALUES (?1, ?2, ?3)");
    if (!insert.Ok() || !insert.Bind(1, email).Bind(2, hash).Bind(3, Now()).Run()) return CreateResult::Failed;
    return CreateResult::Created;
}

LoginOutcome AccountStore::Login(const std::string& email, const std::string& password, const std::string& address) {
    LoginOutcome outcome;
    const std::string group = AddressGroup(address);
    // A waiting address is refused before its e-mail is even looked up.
    if (MustWait(group, 0, outcome)) return outcome;
    int64_t account = 0;
    std::string hash;
    if (IsValidLoginText(email)) {
        auto lock = db_.Lock();
        Statement find(db_, "SELECT id, pwhash FROM account WHERE lower(email) = lower(?1)");
        if (find.Ok() && find.Bind(1, email).Step()) {
            account = find.Int(0);
            hash = find.Text(1);
        }
    }
    if (MustWait(group, account, outcome)) return outcome;

    // The slow check runs without the database lock, so logins do not hold up uploads.
    const std::string& against = account ? hash : DecoyHash();
    bool right = false;
    {
        HashSlot slot;
        // Attempts that queued for a slot while a wait began are refused now, so a burst
        // sent at once gets no more guesses than one sent in turn.
        if (MustWait(group, account, outcome)) return outcome;
        right = crypto_pwhash_str_verify(against.c_str(), password.data(), password.size()) == 0;
    }
    // An unknown e-mail counts against the address only: it has no account to count against.
    if (!account || !right) {
        address_logins_.Failure(group);
        if (account) account_logins_.Failure(std::to_string(account));
        return outcome;
    }
    account_logins_.Success(std::to_string(account));
    return OpenSession(account, address);
}

bool AccountStore::MustWait(const std::string& group, int64_t account, LoginOutcome& outcome) {
    int64_t wait = address_logins_.WaitMs(group);
    if (wait == 0 && account) wait = account_logins_.WaitMs(std::to_string(account));
    if (wait == 0) return false;
    outcome.throttled = true;
    outcome.retry_after_seconds = (wait + kSecondMs - 1) / kSecondMs;
    return true;
}

LoginOutcome AccountStore::OpenSession(int64_t account, const std::string& address) {
    LoginOutcome outcome;
    const std::string key = NewSessionKey();
    const std::string key_hash = SessionKeyHash(key);
    auto lock = db_.Lock();
    Statement expire(db_, "DELETE FROM session WHERE created < ?1");
    expire.Bind(1, Now() - kSessionSeconds).Run();
    for (int attempt = 0; attempt < 8; ++attempt) {
        // 1 .. 2^31 - 1: the client reads the answer as a positive 32-bit number.
        const auto token = static_cast<int32_t>(randombytes_uniform(0x7fffffffu - 1u) + 1u);
        Statement insert(db_, "INSERT INTO session (token, account, address, created, seq, keyhash)"
                         " VALUES (?1, ?2, ?3, ?4, (SELECT coalesce(max(seq), 0) + 1 FROM session), ?5)");
        insert.Bind(1, token).Bind(2, account).Bind(3, address).Bind(4, Now()).Bind(5, key_hash);
        if (insert.Ok() && insert.Run()) {
            outcome.token = token;
            outcome.key = key;
            return outcome;
        }
    }
    DIAG(kModule, 0, "ERR:no session could be stored for account %lld", static_cast<long long>(account));
    return outcome;
}

SessionInfo AccountStore::SessionByKey(const std::string& key) {
    SessionInfo info;
    if (!IsSessionKeyText(key)) return info;
    const std::string key_hash = SessionKeyHash(key);
    auto lock = db_.Lock();
    Statement find(db_, "SELECT account, token FROM session WHERE keyhash = ?1 AND created >= ?2");
    if (find.Ok() && find.Bind(1, key_hash).Bind(2, Now() - kSessionSeconds).Step()) {
        info.account = find.Int(0);
        info.token = find.Int(1);
    }
    return info;
}

}  // namespace service
