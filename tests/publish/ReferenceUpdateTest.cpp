// The reference database update on a private copy of the shipped data.db3: the
// service's changes apply all or nothing, anything beyond changing reference rows is
// refused, and the update flag never stays set.
#include "HttpTestPeer.h"

#include "pipeline/PdfJob.h"
#include "publish/HttpReplies.h"
#include "publish/ReferenceUpdate.h"
#include "publish/Uploader.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// `bytes` as a JSON string; the peer sends it back as latin-1, byte for byte.
std::string JsonString(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        char escaped[8];
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string LengthPrefixed(const std::string& message) {
    std::string field = std::to_string(message.size());
    field.resize(16, '\0');
    return field + message;
}

class ReferenceUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("NO_PROXY", "*", 1);
        settings_.net_timeout_ms = 5000;
        ASSERT_TRUE(fs::exists(ProgramDir() / "DefaultCfg/data.db3"));
        fs::copy_file(ProgramDir() / "DefaultCfg/data.db3", db_path_);
        ASSERT_EQ(sqlite3_open_v2(db_path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(db_); }

    std::string Scalar(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        std::string value;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        return value;
    }

    void StartPeer(const std::string& script) {
        peer_ = std::make_unique<HttpTestPeer>(home_.Root() / ("peer" + std::to_string(++peers_)), script);
        ASSERT_TRUE(peer_->Running());
    }

    int32_t UpdateThroughPeer(const std::string& reply) {
        StartPeer(R"({"replies": {"updt": )" + JsonString(reply) + "}}");
        Uploader up(nullptr, nullptr, settings_);
        up.SetHttpTarget(peer_->Host(), 80, "/s.ashx");
        g_reference_db_updating = false;
        return up.UpdateReferenceDb(db_);
    }

    TempHome home_;
    fs::path db_path_ = home_.Root() / "data.db3";
    sqlite3* db_ = nullptr;
    int peers_ = 0;
    std::unique_ptr<HttpTestPeer> peer_;
    PublishSettings settings_;
};

TEST_F(ReferenceUpdateTest, ChangesToReferenceRowsApplyTogether) {
    ASSERT_TRUE(ApplyReferenceSql(db_,
                                  "INSERT INTO category (ID, title, status) VALUES (99, 'Maps', 2);\n"
                                  "INSERT INTO subcategory (ID, Title, categoryID) SELECT 9901, 'Old maps', ID "
                                  "FROM category WHERE title = 'Maps';\n"
                                  "UPDATE subcategory SET status = 1 WHERE ID = 101; -- switched off\n"
                                  "INSERT INTO citystateview (countryid, StateID, StateName, ID, CityName) "
                                  "VALUES (4, 4001, 'Kabul', 4001001, 'Kabul city');\n"
                                  "DELETE FROM city WHERE ID = 4001001;"));
    EXPECT_EQ(Scalar("SELECT categoryID FROM subcategory WHERE ID = 9901"), "99");
    EXPECT_EQ(Scalar("SELECT status FROM subcategory WHERE ID = 101"), "1");
    EXPECT_EQ(Scalar("SELECT StateName FROM state WHERE ID = 4001"), "Kabul") << "the view writes through";
    EXPECT_EQ(Scalar("SELECT count(*) FROM city WHERE ID = 4001001"), "0");

    EXPECT_TRUE(ApplyReferenceSql(db_, "UPDATE category SET status = 1 WHERE ID = 99;\0DROP TABLE city"s))
        << "the text ends at a NUL";
    EXPECT_EQ(Scalar("SELECT status FROM category WHERE ID = 99"), "1");
    EXPECT_EQ(Scalar("SELECT name FROM sqlite_master WHERE name = 'city'"), "city") << "nothing after the NUL runs";
}

TEST_F(ReferenceUpdateTest, AnythingElseIsRefusedAndLeavesTheDatabaseUnchanged) {
    ASSERT_EQ(sqlite3_exec(db_, "CREATE TABLE notes (t TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string before = ReadFileBytes(db_path_);
    const std::string outside = (home_.Root() / "copied.db").string();
    const std::string hostile[] = {
        "DROP TABLE category",
        "ATTACH DATABASE '" + (home_.Root() / "other.db").string() + "' AS other",
        "PRAGMA user_version = 7",
        "PRAGMA writable_schema = ON",
        "INSERT INTO notes VALUES ('x')",
        "CREATE TABLE extra (x)",
        "ALTER TABLE category ADD COLUMN extra",
        "CREATE TRIGGER t AFTER INSERT ON category BEGIN DELETE FROM city; END",
        "SELECT load_extension('/tmp/x.so')",
        "VACUUM INTO '" + outside + "'",
        "INSERT INTO category (ID, title) SELECT 98, name FROM sqlite_master",
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) INSERT INTO category (ID) SELECT i FROM n",
        "INSERT INTO category (ID, title) VALUES (97, 'x'); DROP TABLE city",
        "INSERT INTO category (ID, title) VALUES (96, 'x'); COMMIT; DROP TABLE city",
        "INSERT INTO category (ID, title) VALUES (95, 'x'); INSERT INTO category (ID) VALUES (",
        "SELECT * FROM category",
    };
    for (const std::string& sql : hostile) {
        EXPECT_FALSE(ApplyReferenceSql(db_, sql)) << sql;
        EXPECT_TRUE(ReadFileBytes(db_path_) == before) << "database changed by: " << sql;
    }
    EXPECT_FALSE(fs::exists(home_.Root() / "other.db"));
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_EQ(Scalar("SELECT count(*) FROM category WHERE ID >= 95 AND ID <= 98"), "0");
}

// `count` statements that each double the rows of `table` (new ids differ in a bit of
// their own), giving the new rows `value`.
std::string Doublings(const std::string& table, const std::string& columns, const std::string& value, int count) {
    std::string sql;
    for (int k = 0; k < count; ++k)
        sql += "INSERT INTO " + table + " (" + columns + ") SELECT ID + (1 << " + std::to_string(32 + k) + "), " +
               value + " FROM " + table + ";\n";
    return sql;
}

TEST_F(ReferenceUpdateTest, UpdatesBeyondWhatReferenceTablesNeedAreRefusedWhole) {
    const std::string before = ReadFileBytes(db_path_);
    const std::string first = "UPDATE category SET title = 'Changed' WHERE ID = 1;\n";
    std::string busy;
    for (int i = 0; i < 120000; ++i) busy += "UPDATE city SET status = 2;";
    const std::pair<std::string, std::string> hostile[] = {
        {first + "UPDATE category SET title = zeroblob(50000000) WHERE ID = 2", "longer than 4096 bytes"},
        {first + "INSERT INTO country (ID, CountryName) VALUES (999, hex(randomblob(3000)))", "longer than 4096 bytes"},
        // 25 categories become 1600.
        {first + Doublings("category", "ID, title", "title", 6), "category would hold 1600 rows"},
        // Rows within every other limit, but far more bytes than the tables need.
        {first + Doublings("city", "ID, stateID, CityName", "stateID, randomblob(4000)", 4), "grow beyond 32 MiB"},
        // Statements that would keep the database busy for minutes.
        {first + busy, "ran longer than 5 s"},
        {first + std::string(5u * 1024 * 1024, ' '), "5242932 bytes of SQL"},
    };
    for (const auto& [sql, reason] : hostile) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(ApplyReferenceSql(db_, sql)) << sql.substr(0, 200);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("ERR:reference update refused: "), std::string::npos) << log;
        EXPECT_NE(log.find(reason), std::string::npos) << log;
        EXPECT_TRUE(ReadFileBytes(db_path_) == before) << "database changed by: " << sql.substr(0, 200);
    }
    EXPECT_EQ(Scalar("SELECT title FROM category WHERE ID = 1"), "Arts & Entertainment");
}

TEST_F(ReferenceUpdateTest, ServiceSqlIsAppliedAndTheFlagAlwaysCleared) {
    ASSERT_EQ(UpdateThroughPeer(LengthPrefixed("INSERT INTO category (ID, title) VALUES (99, 'Maps');")), 0);
    EXPECT_FALSE(g_reference_db_updating);
    EXPECT_EQ(Scalar("SELECT title FROM category WHERE ID = 99"), "Maps");
    const auto requests = peer_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "") << "the probe";
    ASSERT_EQ(requests[1].Code(), "updt");
    const std::string text = requests[1].body.substr(4, requests[1].body.find('\0') - 4);
    const std::string start = "201302010343\nsubcat_ids:" + Scalar("SELECT count(*) FROM subcategory") + "\n101\n";
    EXPECT_EQ(text.rfind(start, 0), 0u) << text;
    EXPECT_NE(text.find("\ncat_ids:" + Scalar("SELECT count(*) FROM category WHERE ID <> 99") + "\n1\n2\n"),
              std::string::npos);

    const std::string before = ReadFileBytes(db_path_);
    EXPECT_EQ(UpdateThroughPeer(LengthPrefixed("UPDATE category SET title = 'x'; DROP TABLE city;")), 0) << "the exchange worked";
    EXPECT_FALSE(g_reference_db_updating) << "cleared after refused SQL";
    EXPECT_TRUE(ReadFileBytes(db_path_) == before);

    StartPeer(R"({"probe_status": 407})");
    Uploader refused(nullptr, nullptr, settings_);
    refused.SetHttpTarget(peer_->Host(), 80, "/s.ashx");
    EXPECT_EQ(refused.UpdateReferenceDb(db_), 1);
    EXPECT_FALSE(g_reference_db_updating) << "cleared after a failed exchange";

    EXPECT_EQ(UpdateThroughPeer(" 5" + std::string(14, '\0') + "hello"), 1) << "a reply that is not length-prefixed";
    EXPECT_FALSE(g_reference_db_updating);
}

TEST_F(ReferenceUpdateTest, NoDatabaseOrNoSubcategoriesSendsNothing) {
    Uploader up(nullptr, nullptr, settings_);
    EXPECT_EQ(up.UpdateReferenceDb(nullptr), 2);
    ASSERT_EQ(sqlite3_exec(db_, "DELETE FROM subcategory", nullptr, nullptr, nullptr), SQLITE_OK);
    StartPeer("{}");
    up.SetHttpTarget(peer_->Host(), 80, "/s.ashx");
    EXPECT_EQ(up.UpdateReferenceDb(db_), 2);
    EXPECT_TRUE(peer_->Requests().empty());
}

}  // namespace
