// The web-service client against the real vellumark-service on 127.0.0.1: login, version
// check, the reference update applied to a copy of data.db3, the metadata's title status,
// and the notifier page.
#include "tests/service/ServiceFixture.h"

#include "config/BookManifest.h"
#include "pipeline/PdfJob.h"
#include "publish/FetchUrlText.h"
#include "publish/ReferenceUpdate.h"
#include "publish/Uploader.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "00112233445566778899AABBCCDDEEFF";

class ServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(home_.Root() / "notice.txt", "show=1\nurl=http://127.0.0.1/news\nwidth=300\n");
        service_ = std::make_unique<ServiceProcess>(
            home_.Root() / "svc",
            std::vector<std::string>{"--latest-build", "201402020000", "--notice", (home_.Root() / "notice.txt").string()});
        ASSERT_TRUE(service_->Running());
        ASSERT_EQ(service_->Post("/createPubAccount.asp", "email=ann@example.org&password=right",
                                 "application/x-www-form-urlencoded")
                      .status,
                  200);
        settings_.http_wait_after_upld_chunk = 1;
    }

    void Target(Uploader& up) const {
        up.SetHttpTarget("127.0.0.1:" + std::to_string(service_->Port()), 80, "/vellumark/standalone.ashx");
    }

    // The ids of one reference table in `db`.
    static std::vector<int64_t> Ids(sqlite3* db, const char* table) {
        std::vector<int64_t> ids;
        sqlite3_stmt* row = nullptr;
        sqlite3_prepare_v2(db, (std::string("select ID from ") + table + " order by ID").c_str(), -1, &row, nullptr);
        while (sqlite3_step(row) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(row, 0));
        sqlite3_finalize(row);
        return ids;
    }

    TempHome home_;
    std::unique_ptr<ServiceProcess> service_;
    PublishSettings settings_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> state_{JOB_STATE_RUNNING};
};

TEST_F(ServiceClientTest, LoginVersionCheckAndTitleStatus) {
    Uploader wrong(&progress_, &state_, settings_);
    Target(wrong);
    EXPECT_EQ(wrong.LoginHttp("ann@example.org", "wrong"), 0);

    Uploader up(&progress_, &state_, settings_);
    Target(up);
    ASSERT_GT(up.LoginHttp("ann@example.org", "right"), 0);
    EXPECT_TRUE(up.CheckNewVersion());  // the service knows a later build

    // A book without a title gets one from the service, which says so with status 5.
    up.SetJobValues({1, 0, 0, 0, 0, 0});
    ASSERT_TRUE(up.handle_pdf_metadata_http("/tmp/Annual Report.pdf", kKey, 3, 595, 842, "", "", "", 0, 1000));
    EXPECT_EQ(up.StatusValue(), 5);
    up.ResetStatusValue();
    ASSERT_TRUE(up.handle_pdf_metadata_http("/tmp/Annual Report.pdf", kKey, 3, 595, 842, "Annual", "", "", 0, 1000));
    EXPECT_EQ(up.StatusValue(), 0);

    // The notifier text reaches the main window's fetch unchanged.
    EXPECT_EQ(FetchUrlText(service_->BaseUrl() + "/vellumark/corvanenotifier.aspx?ver=1.3bld=201302010343"),
              "show=1\nurl=http://127.0.0.1/news\nwidth=300\n");
}

TEST_F(ServiceClientTest, ReferenceUpdateBringsAnOlderDatabaseToTheServicesRows) {
    const fs::path reference = ProgramDir() / "DefaultCfg" / "data.db3";
    const fs::path client = home_.Root() / "client.db3";
    fs::copy_file(reference, client);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(client.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM subcategory WHERE categoryID = 3; INSERT INTO category VALUES (99, 'Gone', 2);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);

    Uploader up(&progress_, &state_, settings_);
    Target(up);
    EXPECT_EQ(up.UpdateReferenceDb(db), 0);
    EXPECT_FALSE(g_reference_db_updating.load());

    sqlite3* service_db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(reference.c_str(), &service_db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    for (const char* table : {"category", "subcategory"}) EXPECT_EQ(Ids(db, table), Ids(service_db, table)) << table;
    sqlite3_close(service_db);
    sqlite3_close(db);
}

}  // namespace

TEST_F(ServiceClientTest, ASecondSessionOfTheOwnerWaitsForTheOpenUpdateAndNeverWritesIntoIt) {
    settings_.http_upld_try_times = 1;  // a refused stage is asked for twice, 1 s apart
    const fs::path text = home_.Root() / "book" / "txt.js";
    WriteFileBytes(text, "window.VELLUMARK_BOOK_TEXT = {\"v\": 1};\n");
    BookManifest manifest;
    manifest.book_key = kKey;
    manifest.entries.push_back({"txt.js", static_cast<int64_t>(fs::file_size(text)), FileSha256(text)});

    Uploader first(&progress_, &state_, settings_), second(&progress_, &state_, settings_);
    for (Uploader* up : {&first, &second}) {
        Target(*up);
        ASSERT_GT(up->LoginHttp("ann@example.org", "right"), 0);
        up->SetJobValues({1, 0, 0, 0, 0, 0});
    }
    ASSERT_TRUE(first.BeginUpdateHttp(kKey));
    EXPECT_FALSE(first.UpdateId().empty());
    ASSERT_TRUE(first.handle_pdf_metadata_http("/tmp/b.pdf", kKey, 1, 595, 842, "First", "", "", 0, 10));

    // Refused while the first update is open: asked again, then reported as busy, and
    // the second session's files go nowhere.
    EXPECT_FALSE(second.BeginUpdateHttp(kKey));
    EXPECT_TRUE(second.HttpBookBusy());
    EXPECT_FALSE(second.upload_one_file_http(text.string(), kKey, ""));

    // Asked again while the first one commits: the second begins an update of its own.
    std::thread waiting([&] { EXPECT_TRUE(second.BeginUpdateHttp(kKey)); });
    ASSERT_TRUE(first.upload_one_file_http(text.string(), kKey, ""));
    ASSERT_TRUE(first.CommitUpdateHttp(kKey, manifest.Text()));
    waiting.join();
    EXPECT_FALSE(second.HttpBookBusy());
    EXPECT_FALSE(second.UpdateId().empty());
    EXPECT_NE(second.UpdateId(), first.UpdateId());
    // The first session, its update committed, cannot write into the second's.
    EXPECT_FALSE(first.upload_one_file_http(text.string(), kKey, ""));
    ASSERT_TRUE(second.upload_one_file_http(text.string(), kKey, ""));
    EXPECT_TRUE(second.CommitUpdateHttp(kKey, manifest.Text()));
    EXPECT_EQ(service_->Get(std::string("/vellumark/books/") + kKey + "/txt.js").body,
              "window.VELLUMARK_BOOK_TEXT = {\"v\": 1};\n");

    // With four updates of the account open, a fifth is refused as beyond the limit.
    for (const char* key : {"10000000000000000000000000000000", "20000000000000000000000000000000",
                            "30000000000000000000000000000000", "40000000000000000000000000000000"})
        ASSERT_TRUE(second.BeginUpdateHttp(key)) << key;
    EXPECT_FALSE(first.BeginUpdateHttp("50000000000000000000000000000000"));
    EXPECT_TRUE(first.HttpUpdateLimit());
    EXPECT_FALSE(first.HttpBookBusy());
}
