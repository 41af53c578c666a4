// End to end: vellumark-batch --publish with the real engine publishes books to the real
// vellumark-service on 127.0.0.1: account, login, metadata, whole and chunked files; a
// wrong password leaves the book unpublished; a service that dies mid-book leaves the
// job resumable, and the resume completes the book.
#include "tests/pipeline/BatchE2EFixture.h"
#include "tests/publish/FtpTestServer.h"
#include "tests/service/ServiceFixture.h"

#include "config/IniFile.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace fs = std::filesystem;

namespace {

class PublishServiceE2E : public BatchE2E {
protected:
    void SetUp() override {
        BatchE2E::SetUp();
        if (IsSkipped()) return;
        service_ = std::make_unique<ServiceProcess>(home_.Root() / "svc");
        ASSERT_TRUE(service_->Running()) << service_->FirstLine();
        ASSERT_EQ(service_->Post("/createPubAccount.asp", "email=reader@example.org&password=open-sesame",
                                 "application/x-www-form-urlencoded")
                      .status,
                  200);
    }

    // Makes `service_` the web-service target with `password`, as a user does, and lets
    // big files go in chunks without the default pause between them.
    void UseService(const std::string& password) {
        RunResult saved = Run({"--set-service-account", "reader@example.org", "--service-host",
                               "127.0.0.1:" + std::to_string(service_->Port())},
                              "account", password + "\n");
        ASSERT_EQ(saved.code, 0) << saved.err;
        EXPECT_EQ(ReadFileBytes(data_ / "http_user.ini").find(password), std::string::npos);
        IniFile config((data_ / "config.ini").string());
        config.WriteInt("network", "http_wait_after_upld_chunk", 1);
        config.WriteInt("network", "http_upld_try_times", 1);
    }

    std::string BookUrl(const std::string& key) const { return "/vellumark/books/" + key + "/"; }

    // Every file the service must hold (all but index.html, which it makes itself) is
    // served with the local bytes.
    void ExpectPublished(const std::string& key) {
        const fs::path book = books_ / key;
        int compared = 0;
        for (const auto& entry : fs::recursive_directory_iterator(book)) {
            if (!entry.is_regular_file() || entry.path().filename() == "index.html") continue;
            const std::string rel = fs::relative(entry.path(), book).string();
            const HttpResult served = service_->Get(BookUrl(key) + rel);
            ASSERT_EQ(served.status, 200) << rel;
            EXPECT_TRUE(served.body == ReadFileBytes(entry.path())) << rel << " differs on the service";
            ++compared;
        }
        EXPECT_GT(compared, 20);
    }

    std::unique_ptr<ServiceProcess> service_;
};

TEST_F(PublishServiceE2E, ABookIsPublishedToTheServiceAndOpensThere) {
    UseService("open-sesame");
    IniFile((data_ / "config.ini").string()).WriteInt("network", "http_chunk_size", 4);  // KiB
    RunResult run = Run({"--publish", (SourceDir() / "data/samples/sample.pdf").string()});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string key = OnlyKey();
    EXPECT_EQ(StoredProgress(key), 100000);
    const std::string address = service_->BaseUrl() + "/vellumark/booklet.asp?guid=" + key;
    EXPECT_NE(run.err.find("published at " + address), std::string::npos) << run.err;
    ExpectPublished(key);
    // The page the service makes names the book and its pages.
    const HttpResult page = service_->Get("/vellumark/booklet.asp?guid=" + key);
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Vellumark sample book"), std::string::npos);
    // Page images larger than a chunk crossed in chunks and arrived whole.
    bool chunked = false;
    for (const auto& entry : fs::directory_iterator(books_ / key / "100"))
        chunked = chunked || fs::file_size(entry.path()) > 4 * 1024;
    EXPECT_TRUE(chunked) << "no file was larger than one chunk";
}

TEST_F(PublishServiceE2E, AWrongPasswordLeavesTheBookUnpublished) {
    UseService("not-the-password");
    RunResult run = Run({"--publish", MakePdf("private.pdf", 2).string()});
    // The job goes on without the service: converted, not published, and said so.
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string key = OnlyKey();
    EXPECT_NE(run.err.find("login as reader@example.org failed"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("published at"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("not-the-password"), std::string::npos) << run.err;
    EXPECT_EQ(service_->Get("/vellumark/booklet.asp?guid=" + key).status, 404);
}

TEST_F(PublishServiceE2E, AServiceThatDiesMidBookLeavesTheJobResumable) {
    UseService("open-sesame");
    const int pages = 8;
    pid_t batch = Start({"--publish", MakePdf("long.pdf", pages).string()}, "first");
    // Stop the service as soon as the HighRes folder has begun to arrive.
    const fs::path books = home_.Root() / "svc/books";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(books, ec))
            seen = seen || fs::exists(entry.path() / "HighRes/img-1.jpg");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(seen);
    service_->Stop(SIGKILL);
    RunResult failed = Finish(batch, "first");
    EXPECT_EQ(failed.code, 1);
    EXPECT_NE(failed.err.find("Upload failed"), std::string::npos) << failed.err;
    const std::string key = OnlyKey();
    const int32_t stopped_at = StoredProgress(key);
    EXPECT_GE(stopped_at, 65000) << failed.err;
    EXPECT_LT(stopped_at, 87000) << failed.err;

    // The service comes back (on another port here); the resume completes the book.
    service_ = std::make_unique<ServiceProcess>(home_.Root() / "svc");
    ASSERT_TRUE(service_->Running());
    UseService("open-sesame");
    RunResult resumed = Run({"--resume", key}, "resume");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_EQ(StoredProgress(key), 100000);
    ExpectPublished(key);
}

TEST_F(PublishServiceE2E, WithBothTargetsEachReceivesTheWholeBook) {
    FtpTestServer ftp(home_.Root() / "ftp");
    ASSERT_TRUE(ftp.Running());
    fs::create_directories(ftp.Root() / "books");
    RunResult saved = Run({"--set-ftp-target", "127.0.0.1/books", "--ftp-user", "alice", "--ftp-webaddr",
                           "http://127.0.0.1/books/", "--ftp-port", std::to_string(ftp.Port())},
                          "target", "secret\n");
    ASSERT_EQ(saved.code, 0) << saved.err;
    UseService("open-sesame");

    // The first run dies with the service; the resume finishes both targets.
    pid_t batch = Start({"--publish", MakePdf("both.pdf", 4).string()}, "first");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(home_.Root() / "svc/books", ec))
            seen = seen || fs::exists(entry.path() / "MedRes/img-1.jpg");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(seen);
    service_->Stop(SIGKILL);
    EXPECT_EQ(Finish(batch, "first").code, 1);
    service_ = std::make_unique<ServiceProcess>(home_.Root() / "svc");
    ASSERT_TRUE(service_->Running());
    UseService("open-sesame");
    RunResult resumed = Run({"--resume", OnlyKey()}, "resume");
    ASSERT_EQ(resumed.code, 0) << resumed.err;

    const std::string key = OnlyKey();
    ExpectPublished(key);
    for (const auto& entry : fs::recursive_directory_iterator(books_ / key)) {
        if (!entry.is_regular_file()) continue;
        const fs::path remote = ftp.Root() / "books" / key / fs::relative(entry.path(), books_ / key);
        EXPECT_TRUE(ReadFileBytes(remote) == ReadFileBytes(entry.path())) << remote;
    }
}

}  // namespace
