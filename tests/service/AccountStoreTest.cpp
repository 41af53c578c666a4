// Accounts and sessions on a real SQLite file in a temporary folder: session keys, the
// slow-down of password guessing and sign-ups as a login sees it, and a database of the
// service's former tables taken over with its rows. Each real login or sign-up costs a
// deliberately slow password hash (about 0.1 s), so the tests make few of them.
#include "tests/helpers/TempHome.h"
#include "service/AccountStore.h"
#include "service/ServiceDatabase.h"
#include "tests/helpers/PostgresCluster.h"

#include <gtest/gtest.h>

#include <sodium.h>
#include <sqlite3.h>

#include <cctype>
#include <ctime>
#include <memory>
#include <string>

using namespace service;

namespace {

// Small limits, so that a few real logins reach them.
constexpr AccountLimits kTestLimits{
    {2, 1000, 4000, 60000, 100},  // accounts: 2 free failures
    {3, 1000, 4000, 60000, 100},  // addresses: 3 free failures
    {2, 3600000, 100},            // 2 sign-ups per address and hour
};

class AccountStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AccountStore::InitCrypto());
        std::string why;
        const std::string target = TestDatabaseTarget(DbPath(), why);
        ASSERT_TRUE(!target.empty() && db_.Open(target, why)) << why;
        accounts_ = std::make_unique<AccountStore>(db_, [this] { return now_; }, kTestLimits);
    }

    std::string DbPath() const { return (home_.Root() / "service.db").string(); }

    int64_t AccountId(const std::string& email) {
        auto lock = db_.Lock();
        Statement find(db_, "SELECT id FROM account WHERE email = ?1");
        return find.Bind(1, email).Step() ? find.Int(0) : 0;
    }

    int64_t SessionRows() {
        auto lock = db_.Lock();
        Statement count(db_, "SELECT count(*) FROM session");
        return count.Step() ? count.Int(0) : -1;
    }

    TempHome home_;
    ServiceDatabase db_;
    int64_t now_ = 1000000;
    std::unique_ptr<AccountStore> accounts_;
};

std::string Flipped(std::string key) {
    key[10] = key[10] == '0' ? '1' : '0';
    return key;
}

}  // namespace

TEST_F(AccountStoreTest, SessionKeyOpensItsLiveSessionOnlyAndIsNotStoredInClear) {
    ASSERT_EQ(accounts_->Create("ann@example.org", "secret", "10.0.0.1"), CreateResult::Created);
    const int64_t ann = AccountId("ann@example.org");
    const LoginOutcome first = accounts_->Login("ann@example.org", "secret", "10.0.0.1");
    ASSERT_GT(first.token, 0);
    ASSERT_EQ(first.key.size(), 64u);
    EXPECT_EQ(first.key.find_first_not_of("0123456789abcdef"), std::string::npos) << first.key;
    EXPECT_FALSE(first.throttled);

    const SessionInfo session = accounts_->SessionByKey(first.key);
    EXPECT_EQ(session.account, ann);
    EXPECT_EQ(session.token, first.token);

    for (const std::string& wrong : {Flipped(first.key), first.key.substr(0, 63), first.key + "0", std::string(),
                                     std::string(64, 'A'), std::string(64, 'g')})
        EXPECT_EQ(accounts_->SessionByKey(wrong).account, 0) << "key \"" << wrong << "\"";
    std::string upper = first.key;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(upper, first.key);
    EXPECT_EQ(accounts_->SessionByKey(upper).account, 0) << "keys are lower-case";

    // Neither the database file nor its write-ahead log holds the key as it was given.
    {
        auto lock = db_.Lock();
        Statement row(db_, "SELECT token, account, address, keyhash FROM session");
        ASSERT_TRUE(row.Step());
        for (int column = 0; column < 4; ++column) EXPECT_EQ(row.Text(column).find(first.key), std::string::npos);
    }
    if (db_.Kind() == DatabaseKind::Sqlite) {
        const std::string stored = ReadFileBytes(DbPath()) + ReadFileBytes(DbPath() + "-wal");
        ASSERT_FALSE(stored.empty());
        EXPECT_EQ(stored.find(first.key), std::string::npos);
    }

    // A day later the session is over: its key opens nothing, and the next login
    // purges it. A second login has a key of its own.
    {
        auto lock = db_.Lock();
        Statement age(db_, "UPDATE session SET created = created - ?1");
        ASSERT_TRUE(age.Bind(1, AccountStore::kSessionSeconds + 1).Run());
    }
    EXPECT_EQ(accounts_->SessionByKey(first.key).account, 0);
    const LoginOutcome second = accounts_->Login("ANN@example.org", "secret", "10.0.0.2");
    ASSERT_GT(second.token, 0);
    EXPECT_NE(second.key, first.key);
    EXPECT_EQ(accounts_->SessionByKey(second.key).account, ann);
    EXPECT_EQ(SessionRows(), 1);
}

TEST_F(AccountStoreTest, GuessingAnAccountFromManyAddressesMakesItWaitThenTheRightPasswordWorks) {
    ASSERT_EQ(accounts_->Create("ann@example.org", "secret", "10.0.0.1"), CreateResult::Created);
    // One wrong password from each of three addresses: none of them is slowed, the
    // account is after its 2 free failures.
    for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
        const LoginOutcome wrong = accounts_->Login("ann@example.org", "guess", address);
        EXPECT_EQ(wrong.token, 0);
        EXPECT_FALSE(wrong.throttled) << address;
    }
    // While it waits even the right password is refused, unchecked, from anywhere.
    LoginOutcome refused = accounts_->Login("ann@example.org", "secret", "10.0.0.4");
    EXPECT_EQ(refused.token, 0);
    EXPECT_TRUE(refused.key.empty());
    EXPECT_TRUE(refused.throttled);
    EXPECT_EQ(refused.retry_after_seconds, 1);
    now_ += 999;
    EXPECT_TRUE(accounts_->Login("ann@example.org", "secret", "10.0.0.4").throttled);
    EXPECT_FALSE(accounts_->Login("bob@example.org", "secret", "10.0.0.4").throttled)
        << "other accounts and the addresses are not slowed";

    // After the wait the owner's password works at once, and the count starts over:
    // one more wrong password is free again.
    now_ += 1;
    const LoginOutcome owner = accounts_->Login("ann@example.org", "secret", "10.0.0.5");
    EXPECT_GT(owner.token, 0);
    EXPECT_FALSE(owner.throttled);
    EXPECT_FALSE(accounts_->Login("ann@example.org", "guess", "10.0.0.5").throttled);
    EXPECT_GT(accounts_->Login("ann@example.org", "secret", "10.0.0.6").token, 0);
}

TEST_F(AccountStoreTest, SprayingManyEmailsFromOneNetworkMakesTheAddressWait) {
    ASSERT_EQ(accounts_->Create("ann@example.org", "secret", "10.0.0.1"), CreateResult::Created);
    // Unknown e-mails from one IPv6 /64, each from an address of its own in it: they
    // count against the network. The first 3 failures are free, the 4th starts a wait.
    const char* sprayers[] = {"2001:db8:5:6::1", "2001:db8:5:6::2", "2001:db8:5:6::3", "2001:db8:5:6:1::4"};
    for (int i = 0; i < 4; ++i) {
        const LoginOutcome guess = accounts_->Login("user" + std::to_string(i) + "@example.org", "pw", sprayers[i]);
        EXPECT_FALSE(guess.throttled) << i;
    }
    // Now every login from that network is refused the same way, whether or not the
    // e-mail has an account; other networks are not slowed, and the account is not.
    const LoginOutcome unknown = accounts_->Login("user9@example.org", "pw", "2001:db8:5:6::99");
    const LoginOutcome known = accounts_->Login("ann@example.org", "secret", "2001:db8:5:6::99");
    EXPECT_TRUE(unknown.throttled);
    EXPECT_TRUE(known.throttled);
    EXPECT_EQ(known.token, 0);
    EXPECT_EQ(unknown.retry_after_seconds, known.retry_after_seconds);
    EXPECT_GT(accounts_->Login("ann@example.org", "secret", "2001:db8:5:7::1").token, 0);

    // The wait is over after a second; the address's count stays, so its next failure
    // makes it wait twice as long, even after its owner's successful login.
    now_ += 1000;
    EXPECT_GT(accounts_->Login("ann@example.org", "secret", "2001:db8:5:6::99").token, 0);
    EXPECT_FALSE(accounts_->Login("user9@example.org", "pw", "2001:db8:5:6::99").throttled);
    EXPECT_EQ(accounts_->Login("user9@example.org", "pw", "2001:db8:5:6::99").retry_after_seconds, 2);
}

TEST_F(AccountStoreTest, SignUpsPerAddressAreLimited) {
    EXPECT_EQ(accounts_->Create("ann@example.org", "pw", "10.0.0.1"), CreateResult::Created);
    EXPECT_EQ(accounts_->Create("ANN@example.org", "pw", "10.0.0.1"), CreateResult::Exists)
        << "and a sign-up that makes no account does not count";
    EXPECT_EQ(accounts_->Create("no-at-sign", "pw", "10.0.0.1"), CreateResult::Invalid);
    EXPECT_EQ(accounts_->Create("bob@example.org", "pw", "10.0.0.1"), CreateResult::Created);
    EXPECT_EQ(accounts_->Create("cid@example.org", "pw", "10.0.0.1"), CreateResult::TooMany);
    EXPECT_EQ(accounts_->Create("cid@example.org", "pw", "::ffff:10.0.0.1"), CreateResult::TooMany)
        << "the same IPv4 address written as IPv6";
    EXPECT_EQ(AccountId("cid@example.org"), 0);
    EXPECT_EQ(accounts_->Create("cid@example.org", "pw", "10.0.0.2"), CreateResult::Created);
}

TEST(AccountStoreMigration, DatabaseOfTheFormerTablesKeepsItsRowsAndGainsSessionKeys) {
    if (TestsUsePostgres()) GTEST_SKIP() << "the upgrade of an SQLite file of a former service";
    TempHome home;
    const std::string path = (home.Root() / "service.db").string();
    ASSERT_TRUE(AccountStore::InitCrypto());
    char pwhash[crypto_pwhash_STRBYTES];
    ASSERT_EQ(crypto_pwhash_str(pwhash, "secret", 6, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                crypto_pwhash_MEMLIMIT_INTERACTIVE),
              0);
    const std::string now = std::to_string(time(nullptr));
    // The tables as the service made them before session keys, with an account, its
    // book and a live session.
    const std::string former = R"sql(
PRAGMA journal_mode = WAL;
CREATE TABLE account (id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE COLLATE NOCASE,
  pwhash TEXT NOT NULL, created INTEGER NOT NULL);
CREATE TABLE session (token INTEGER PRIMARY KEY, account INTEGER NOT NULL REFERENCES account(id),
  address TEXT NOT NULL, created INTEGER NOT NULL, seq INTEGER NOT NULL);
CREATE INDEX session_address ON session (address, created);
CREATE TABLE book (key TEXT PRIMARY KEY, owner INTEGER NOT NULL REFERENCES account(id),
  title TEXT NOT NULL, description TEXT NOT NULL, tags TEXT NOT NULL, pdf_name TEXT NOT NULL,
  page_count INTEGER NOT NULL, page_width INTEGER NOT NULL, page_height INTEGER NOT NULL,
  category INTEGER NOT NULL, subcategory INTEGER NOT NULL, country INTEGER NOT NULL,
  state INTEGER NOT NULL, city INTEGER NOT NULL, pdf_size INTEGER NOT NULL,
  cover_width INTEGER NOT NULL, cover_height INTEGER NOT NULL, updated INTEGER NOT NULL);
INSERT INTO account VALUES (7, 'ann@example.org', ')sql" + std::string(pwhash) + "', " + now + R"sql();
INSERT INTO session VALUES (12345, 7, '10.0.0.1', )sql" + now + R"sql(, 1);
INSERT INTO book VALUES ('0123456789ABCDEF0123456789ABCDEF', 7, 'Title', 'd', 't', 'a.pdf',
  3, 600, 800, 1, 2, 3, 4, 5, 1000, 60, 80, 1);
)sql";
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(raw, former.c_str(), nullptr, nullptr, &error);
        const std::string message = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(raw);
        ASSERT_EQ(rc, SQLITE_OK) << message;
    }

    for (int opening = 0; opening < 2; ++opening) {  // and a migrated database opens as it is
        ServiceDatabase db;
        std::string why;
        ASSERT_TRUE(db.Open(path, why)) << why;
        AccountStore accounts(db);
        {
            auto lock = db.Lock();
            Statement session(db, "SELECT account FROM session WHERE token = 12345");
            ASSERT_TRUE(session.Step()) << "the former session lives on";
            EXPECT_EQ(session.Int(0), 7);
            Statement book(db, "SELECT owner, title FROM book");
            ASSERT_TRUE(book.Step());
            EXPECT_EQ(book.Int(0), 7);
            EXPECT_EQ(book.Text(1), "Title");
        }
        if (opening == 0) {
            const LoginOutcome login = accounts.Login("ann@example.org", "secret", "10.0.0.1");
            ASSERT_GT(login.token, 0) << "the account and its password hash were kept";
            const SessionInfo session = accounts.SessionByKey(login.key);
            EXPECT_EQ(session.account, 7);
            EXPECT_EQ(session.token, login.token);
        }
    }
}
