// Updating a published book in one step on the real vellumark-service (127.0.0.1): the
// owner stages the changed files and commits them with the book's manifest; readers see
// the old book until the commit and the new one after it; refused commits and a killed
// service leave the live book as it was, and the stage is continued after a restart.
#include "ServiceFixture.h"
#include "config/BookManifest.h"
#include "config/GzipBytes.h"
#include "tests/helpers/PostgresCluster.h"
#include "tests/helpers/TempHome.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <random>
#include <thread>

namespace fs = std::filesystem;
namespace bodies = service_bodies;

namespace {

const std::string kKey = "0123456789ABCDEF0123456789ABCDEF";
const std::string kNewKey = "FEDCBA9876543210FEDCBA9876543210";

std::string BookText(const std::string& version) {
    return "window.VELLUMARK_BOOK_TEXT = {\"version\": \"" + version + "\"};\n";
}

// The service's answer form of a text: its length in 16 NUL-padded bytes, then the text.
std::string LengthPrefixed(const std::string& text) {
    std::string reply = std::to_string(text.size());
    reply.resize(16, '\0');
    return reply + text;
}

// A book as the client has it on disk: relative path -> bytes.
using Files = std::map<std::string, std::string>;

Files Version1() {
    return {{"HighRes/img-1.jpg", FakeJpeg(5000, 1)},
            {"HighRes/img-2.jpg", FakeJpeg(6000, 2)},
            {"HighRes/img-3.jpg", FakeJpeg(7000, 3)},
            {"txt.js", BookText("v1")}};
}

// Version 2: page 2 and the text changed (page 2 larger than a chunk), page 3 gone.
Files Version2() {
    return {{"HighRes/img-1.jpg", FakeJpeg(5000, 1)},
            {"HighRes/img-2.jpg", FakeJpeg(120 * 1024, 22)},
            {"txt.js", BookText("v2")}};
}

class ServiceUpdateTest : public ::testing::Test {
protected:
    void SetUp() override { Start(); }

    void Start(const std::vector<std::string>& args = {}) {
        service_ = std::make_unique<ServiceProcess>(Data(), args);
        ASSERT_TRUE(service_->Running()) << service_->FirstLine();
    }
    fs::path Data() const { return home_.Root() / "data"; }
    fs::path Live(const std::string& key = kKey) const { return Data() / "books" / key; }
    fs::path Stage(const std::string& key = kKey) const { return Data() / "books" / (".stage-" + key); }

    long long Account(const std::string& email) {
        service_->Post("/createPubAccount.asp", "email=" + email + "&password=secret1",
                       "application/x-www-form-urlencoded");
        return Login(email);
    }
    long long Login(const std::string& email) {
        return std::atoll(service_->Exchange(bodies::Login(email, "secret1")).body.c_str());
    }
    // The requests of the open update name it, as the client does.
    std::vector<std::string> UpdateHeaders() const {
        return update_.empty() ? std::vector<std::string>() : std::vector<std::string>{"X-Vellumark-Update: " + update_};
    }
    std::string Meta(long long token, const std::string& title, int pages, const std::string& key = kKey) {
        return service_->Exchange(bodies::Metadata(key, token, title, "d", "t", "book.pdf", pages), UpdateHeaders())
            .body;
    }
    std::string Send(const std::string& path, const std::string& data, const std::string& key = kKey) {
        const size_t slash = path.find('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return bodies::UploadFile(*service_, key, name, folder, data, 48, UpdateHeaders()).body;
    }
    // The manifest the client makes of `files`, written out under the test's folder.
    std::string ManifestOf(const Files& files, const std::string& key = kKey) {
        const fs::path local = home_.Root() / "local" / key;
        fs::remove_all(local);
        BookManifest manifest;
        manifest.book_key = key;
        for (const auto& [path, bytes] : files) {  // a map: sorted by path
            WriteFileBytes(local / path, bytes);
            manifest.entries.push_back({path, static_cast<int64_t>(bytes.size()), FileSha256(local / path)});
        }
        return manifest.Text();
    }
    // A staged update's request; "stag" keeps the id it answers, a commit ends it.
    std::string Request(const char* code, const std::string& rest, const std::string& key = kKey) {
        const HttpResult reply = service_->Exchange(code + key + rest, UpdateHeaders());
        if (std::string(code) == "stag" && reply.body == "OK") update_ = reply.Header("X-Vellumark-Update");
        if (std::string(code) == "comm" && reply.body == "OK") update_.clear();
        return reply.body;
    }
    std::string Served(const std::string& path, const std::string& key = kKey) {
        const HttpResult reply = service_->Get("/vellumark/books/" + key + "/" + path);
        return reply.status == 200 ? reply.body : "status " + std::to_string(reply.status);
    }
    // Version 1 published directly, as a client that does not stage publishes, with its
    // manifest sent last, and a file that no manifest lists.
    long long PublishVersion1() {
        const long long token = Account("owner@example.org");
        EXPECT_EQ(Meta(token, "First title", 3), "OK");
        for (const auto& [path, bytes] : Version1()) EXPECT_EQ(Send(path, bytes), "OK") << path;
        EXPECT_EQ(Send("book.pdf", "%PDF-1.4 not listed"), "OK");
        EXPECT_EQ(Send(BookManifest::kFileName, ManifestOf(Version1())), "OK");
        return token;
    }
    void ExpectServed(const Files& files) {
        for (const auto& [path, bytes] : files) EXPECT_TRUE(Served(path) == bytes) << path;
    }

    TempHome home_;
    std::unique_ptr<ServiceProcess> service_;
    std::string update_;  // the id of the update this test's session began
};

// Which version a served answer is: 1, 2, or 0 for anything else (a mix, a gap, an error).
int VersionOf(const std::string& body, const std::string& v1, const std::string& v2) {
    return body == v1 ? 1 : body == v2 ? 2 : 0;
}

TEST_F(ServiceUpdateTest, ReadersSeeTheOldBookUntilTheCommitAndTheWholeNewOneAfter) {
    const long long token = PublishVersion1();
    EXPECT_EQ(Request("mani", ""), LengthPrefixed(ManifestOf(Version1())));

    // A reader polls the text, page 2 and the page's title from another connection.
    std::atomic<bool> stop{false};
    std::atomic<bool> committed{false};
    std::vector<std::pair<bool, int>> seen;  // (commit answered before the request, version)
    std::thread reader([&] {
        const Files v1 = Version1(), v2 = Version2();
        for (int i = 0; i < 5000 && !stop; ++i) {
            const bool after = committed;
            seen.emplace_back(after, VersionOf(Served("txt.js"), v1.at("txt.js"), v2.at("txt.js")));
            seen.emplace_back(after, VersionOf(Served("HighRes/img-2.jpg"), v1.at("HighRes/img-2.jpg"),
                                               v2.at("HighRes/img-2.jpg")));
            const std::string page = Served("");
            seen.emplace_back(after, page.find("First title") != std::string::npos    ? 1
                                     : page.find("Second title") != std::string::npos ? 2
                                                                                      : 0);
        }
    });

    EXPECT_EQ(Request("stag", ""), "OK");
    EXPECT_EQ(Meta(token, "Second title", 2), "OK");
    for (const auto& [path, bytes] : Version2()) {
        if (Version1()[path] != bytes) {
            EXPECT_EQ(Send(path, bytes), "OK") << path;
        }
    }
    // The stage is never served, neither under its own name nor as the book.
    EXPECT_EQ(service_->Get("/vellumark/books/.stage-" + kKey + "/txt.js").status, 404);
    ExpectServed(Version1());
    EXPECT_NE(Served("").find("First title"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    EXPECT_EQ(Request("comm", ManifestOf(Version2())), "OK");
    committed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    reader.join();

    ExpectServed(Version2());
    EXPECT_EQ(Served("HighRes/img-3.jpg"), "status 404");  // dropped from the book
    EXPECT_EQ(Served("book.pdf"), "%PDF-1.4 not listed");   // no manifest listed it: kept
    EXPECT_NE(Served("").find("Second title"), std::string::npos);
    EXPECT_EQ(Request("mani", ""), LengthPrefixed(ManifestOf(Version2())));
    EXPECT_FALSE(fs::exists(Stage()));

    // Every answer was whole and of one version: version 1 until the commit, never
    // version 1 again once version 2 was seen, version 2 once the commit was answered.
    ASSERT_FALSE(seen.empty());
    bool new_seen = false;
    int old_answers = 0;
    for (const auto& [after, version] : seen) {
        ASSERT_NE(version, 0);
        if (new_seen || after) {
            ASSERT_EQ(version, 2);
        }
        new_seen = new_seen || version == 2;
        old_answers += version == 1;
    }
    EXPECT_GT(old_answers, 0);
    EXPECT_TRUE(new_seen);
}

TEST_F(ServiceUpdateTest, RefusedRequestsAndCommitsChangeNothing) {
    PublishVersion1();
    const std::string owner_key = service_->SessionKey();
    const Files v1 = Version1();

    // Another account may neither read the manifest nor stage nor commit the book.
    Account("other@example.org");
    for (const char* code : {"mani", "stag", "comm"})
        EXPECT_EQ(Request(code, ""), "ERR:the book belongs to another account") << code;
    EXPECT_EQ(Request("mani", "", "not-a-key-not-a-key-not-a-key-xx").substr(0, 4), "ERR:");
    service_->SetSessionKey(owner_key);
    EXPECT_EQ(Request("comm", ManifestOf(Version2())), "ERR:no update of this book was begun");

    EXPECT_EQ(Request("stag", ""), "OK");
    EXPECT_EQ(Send("txt.js", BookText("v2")), "OK");
    // Manifests of the staged text and the live page 1, with one file wrong.
    const Files staged = {{"HighRes/img-1.jpg", v1.at("HighRes/img-1.jpg")}, {"txt.js", BookText("v2")}};
    Files wrong_size = staged;
    wrong_size["txt.js"] = BookText("v2 longer");
    Files wrong_bytes = staged;
    wrong_bytes["txt.js"] = BookText("v3");
    Files missing = staged;
    missing["HighRes/img-9.jpg"] = "nine";
    const std::pair<std::string, std::string> refused[] = {
        {ManifestOf(Version2()), "ERR:HighRes/img-2.jpg is not the size the manifest gives"},
        {ManifestOf(missing), "ERR:HighRes/img-9.jpg is missing from the update"},
        {ManifestOf(wrong_size), "ERR:txt.js is not the size the manifest gives"},
        {ManifestOf(wrong_bytes), "ERR:txt.js does not match its SHA-256 in the manifest"},
        {ManifestOf(staged, kNewKey), "ERR:the manifest is of another book"},
        {"not a manifest\n", "ERR:the manifest is refused: not a book manifest"},
        {"", "ERR:the update has no manifest"},
    };
    for (const auto& [manifest, answer] : refused) {
        EXPECT_EQ(Request("comm", manifest), answer);
        ExpectServed(v1);
        EXPECT_EQ(Request("mani", ""), LengthPrefixed(ManifestOf(v1)));
    }

    // The stage survived the refusals: the rest of the update completes it.
    EXPECT_EQ(Send("HighRes/img-2.jpg", Version2().at("HighRes/img-2.jpg")), "OK");
    EXPECT_EQ(Request("comm", ManifestOf(Version2())), "OK");
    ExpectServed(Version2());

    // A direct upload makes the manifest untrue: it is dropped, so a later update sends all.
    EXPECT_EQ(Send("HighRes/img-1.jpg", FakeJpeg(5000, 11)), "OK");
    EXPECT_EQ(Request("mani", ""), LengthPrefixed(""));
}

TEST_F(ServiceUpdateTest, KilledServiceKeepsTheLiveBookAndTheStagedFiles) {
    PublishVersion1();
    EXPECT_EQ(Request("stag", ""), "OK");
    const std::string text_v2 = Version2().at("txt.js");
    EXPECT_EQ(Send("txt.js", text_v2), "OK");
    // Page 2 cut off after its first chunk.
    const std::string page_v2 = Version2().at("HighRes/img-2.jpg");
    std::vector<std::string> headers = UpdateHeaders();
    headers.push_back(bodies::FileSizeHeader(page_v2.size()));
    EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, "img-2.jpg", "HighRes", page_v2.substr(0, 48 * 1024), 0, 48),
                                 headers)
                  .body,
              "OK");
    EXPECT_EQ(service_->Stop(SIGKILL), 128 + SIGKILL);

    Start();
    ExpectServed(Version1());
    Login("owner@example.org");
    EXPECT_EQ(Request("mani", ""), LengthPrefixed(ManifestOf(Version1())));
    EXPECT_EQ(Request("stag", ""), "OK");
    // The whole staged file stayed; the cut one is sent again, then the commit completes.
    EXPECT_EQ(ReadFileBytes(Stage() / "txt.js"), text_v2);
    EXPECT_EQ(Send("HighRes/img-2.jpg", page_v2), "OK");
    EXPECT_EQ(Request("comm", ManifestOf(Version2())), "OK");
    ExpectServed(Version2());
    EXPECT_EQ(Served("HighRes/img-3.jpg"), "status 404");
}

TEST_F(ServiceUpdateTest, FirstPublicationThroughAStage) {
    const long long token = Account("new@example.org");
    EXPECT_EQ(Request("mani", "", kNewKey), LengthPrefixed(""));
    EXPECT_EQ(Request("stag", "", kNewKey), "OK");
    EXPECT_EQ(Meta(token, "Fresh", 2, kNewKey), "OK");
    EXPECT_EQ(Send("txt.js", BookText("v1"), kNewKey), "OK");
    // Not published before the commit; the key is taken for this account.
    EXPECT_EQ(service_->Get("/vellumark/booklet.asp?guid=" + kNewKey, false).status, 404);
    // The manifest sent as a file of the stage, the commit naming none.
    EXPECT_EQ(Send(BookManifest::kFileName, ManifestOf({{"txt.js", BookText("v1")}}, kNewKey), kNewKey), "OK");
    EXPECT_EQ(Request("comm", "", kNewKey), "OK");
    EXPECT_EQ(Served("txt.js", kNewKey), BookText("v1"));
    EXPECT_NE(Served("", kNewKey).find("Fresh"), std::string::npos);
}

TEST_F(ServiceUpdateTest, RefusedUploadsLeaveTheLiveBookAndItsManifestAlone) {
    PublishVersion1();
    const std::string manifest = LengthPrefixed(ManifestOf(Version1()));
    const std::string page = FakeJpeg(100 * 1024, 5);
    const auto upload = [&](const std::string& body, size_t announced, std::vector<std::string> headers = {}) {
        headers.push_back(bodies::FileSizeHeader(announced));
        return service_->Exchange(body, headers).body;
    };
    const std::string refused[] = {
        // a whole file of another size than announced
        upload(bodies::Upload(kKey, "img-1.jpg", "HighRes", FakeJpeg(5000, 9)), 5001),
        // a chunk before the chunks ahead of it, into a folder the book does not have
        upload(bodies::Upload(kKey, "img-2.jpg", "MedRes", page.substr(48 * 1024, 48 * 1024), 1, 48), page.size()),
        // a script that is not book data
        upload(bodies::Upload(kKey, "txt.js", "", "alert(1);"), 9),
        // a packed file that unpacks short of its size
        upload(bodies::Upload(kKey, "text.html", "", GzipBytes("<p>short</p>")), 1000, {"X-Vellumark-File-Encoding: gzip"}),
    };
    for (const std::string& answer : refused) {
        EXPECT_EQ(answer.rfind("ERR:", 0), 0u) << answer;
        EXPECT_EQ(Request("mani", ""), manifest) << answer;
    }
    ExpectServed(Version1());
    EXPECT_FALSE(fs::exists(Live() / "MedRes"));
    EXPECT_FALSE(fs::exists(Live() / "text.html"));
}

TEST_F(ServiceUpdateTest, StagedManifestsAreBoundedAndAnAccountHoldsAtMostFourOpenUpdates) {
    PublishVersion1();
    EXPECT_EQ(Request("stag", ""), "OK");
    // A manifest larger than 8 MiB is refused when announced, and when the stage holds
    // one, before it is read.
    EXPECT_EQ(service_->Exchange(bodies::Upload(kKey, BookManifest::kFileName, "", std::string(1000, 'm'), 0, 48),
                                 {bodies::FileSizeHeader(9u << 20), "X-Vellumark-Update: " + update_})
                  .body,
              "ERR:a manifest cannot be this large");
    WriteFileBytes(Stage() / BookManifest::kFileName, std::string(60u << 20, 'm'));
    const long before = PeakMemoryMb(service_->Pid());
    EXPECT_EQ(Request("comm", ""), "ERR:the manifest is larger than 8 MiB");
    EXPECT_LT(PeakMemoryMb(service_->Pid()) - before, 30);
    ExpectServed(Version1());

    // Three more open updates of other books are taken; the fifth is refused.
    const std::string first_update = update_;
    const std::string keys[] = {"10000000000000000000000000000000", "20000000000000000000000000000000",
                                "30000000000000000000000000000000", "40000000000000000000000000000000"};
    for (const std::string& key : keys) {
        update_.clear();
        const std::string answer = Request("stag", "", key);
        if (&key == &keys[3]) {
            EXPECT_EQ(answer.rfind("ERR:too many open updates", 0), 0u) << answer;
            EXPECT_FALSE(fs::exists(Stage(key)));
        } else {
            EXPECT_EQ(answer, "OK") << key;
        }
    }
    // Committing one makes room again.
    update_ = first_update;
    fs::remove(Stage() / BookManifest::kFileName);
    EXPECT_EQ(Request("comm", ManifestOf(Version1())), "OK");
    EXPECT_EQ(Request("stag", "", keys[3]), "OK");
}

TEST_F(ServiceUpdateTest, AnUpdateUntouchedForTheExpiryTimeIsRemovedAtStartAndWhileRunning) {
    PublishVersion1();
    EXPECT_EQ(Request("stag", ""), "OK");
    EXPECT_EQ(Send("txt.js", BookText("v2")), "OK");
    const std::string expired = update_;
    EXPECT_EQ(service_->Stop(SIGTERM), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));

    Start({"--stage-expiry-seconds", "1"});
    EXPECT_FALSE(fs::exists(Stage()));
    Login("owner@example.org");
    ExpectServed(Version1());
    EXPECT_EQ(Request("mani", ""), LengthPrefixed(ManifestOf(Version1())));
    EXPECT_EQ(Send("txt.js", BookText("v3")), "ERR:the update is no longer open (committed, replaced or expired)");

    // A new update is not refused as busy; left alone, the periodic sweep removes it.
    update_.clear();
    EXPECT_EQ(Request("stag", ""), "OK");
    EXPECT_NE(update_, expired);
    EXPECT_TRUE(fs::exists(Stage()));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(6);
    while (fs::exists(Stage()) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(Stage()));
    EXPECT_EQ(Send("txt.js", BookText("v3")), "ERR:the update is no longer open (committed, replaced or expired)");
    ExpectServed(Version1());
}

}  // namespace

// The answer of a begin lost on its way (a service process died): the same session asks
// again without the id and gets the same update back; another session of the owner is
// still told to wait.
TEST_F(ServiceUpdateTest, ASessionAskingAgainForItsUpdateGetsItAnotherSessionWaits) {
    const long long token = PublishVersion1();
    EXPECT_EQ(Request("stag", ""), "OK");
    const std::string first = update_;
    EXPECT_EQ(Send("txt.js", Version2().at("txt.js")), "OK");
    update_.clear();
    EXPECT_EQ(Request("stag", ""), "OK");
    EXPECT_EQ(update_, first);
    EXPECT_EQ(ReadFileBytes(Stage() / "txt.js"), Version2().at("txt.js")) << "the staged file stayed";

    const std::string session = service_->SessionKey();
    EXPECT_GT(Login("owner@example.org"), 0);
    update_.clear();
    EXPECT_EQ(Request("stag", "").rfind("ERR:busy:", 0), 0u);
    service_->SetSessionKey(session);
    update_ = first;
    EXPECT_EQ(Meta(token, "Second title", 2), "OK");
    EXPECT_EQ(Send("HighRes/img-2.jpg", Version2().at("HighRes/img-2.jpg")), "OK");
    EXPECT_EQ(Request("comm", ManifestOf(Version2())), "OK");
    ExpectServed(Version2());
}

// A data folder of the SQLite service moved to PostgreSQL with --migrate-to: the
// session, the account, the book, the open update and the reference data carry over,
// and the update is committed on the new database.
TEST_F(ServiceUpdateTest, MigrationToPostgresqlKeepsSessionsBooksOpenUpdatesAndReferenceData) {
    if (TestsUsePostgres()) GTEST_SKIP() << "migrates an SQLite data folder";
    if (const std::string missing = PostgresUnavailable(); !missing.empty()) GTEST_SKIP() << missing;
    const long long token = PublishVersion1();
    EXPECT_EQ(Request("stag", ""), "OK");
    EXPECT_EQ(Send("txt.js", Version2().at("txt.js")), "OK");
    EXPECT_EQ(service_->Stop(SIGTERM), 0);

    std::string why;
    const std::string url = NewPostgresDatabase(why);
    ASSERT_FALSE(url.empty()) << why;
    std::string output;
    EXPECT_EQ(RunServiceExpectingFailure({"--data", Data().string(), "--migrate-to", url}, output), 0) << output;
    // A second run finds the accounts there and copies nothing.
    EXPECT_NE(RunServiceExpectingFailure({"--data", Data().string(), "--migrate-to", url}, output), 0);
    EXPECT_NE(output.find("holds accounts already"), std::string::npos) << output;

    const std::string session = service_->SessionKey();
    Start({"--database", url});
    service_->SetSessionKey(session);
    ExpectServed(Version1());
    // The session of before the move goes on with the open update without a new login.
    EXPECT_EQ(Meta(token, "Second title", 2), "OK");
    EXPECT_EQ(Send("HighRes/img-2.jpg", Version2().at("HighRes/img-2.jpg")), "OK");
    EXPECT_EQ(Request("comm", ManifestOf(Version2())), "OK");
    ExpectServed(Version2());
    EXPECT_GT(Login("owner@example.org"), 0) << "the account and its password came along";

    // The reference data came along: all the shipped categories are in the database.
    PGconn* conn = PQconnectdb(url.c_str());
    PGresult* result = PQexec(conn, "SELECT count(*) FROM reference_category");
    ASSERT_EQ(PQresultStatus(result), PGRES_TUPLES_OK) << PQerrorMessage(conn);
    EXPECT_GT(std::atoi(PQgetvalue(result, 0, 0)), 0);
    PQclear(result);
    PQfinish(conn);
}
