// End to end: vellumark-batch --publish with the real engine publishes books to the real
// vellumark-service on 127.0.0.1, both directly and through nginx with TLS (the shipped
// site configuration): account, login, metadata, whole and chunked files; a wrong
// password leaves the book unpublished; a service that dies mid-book leaves the job
// resumable, and the resume completes the book. Through nginx also: the books' files come
// from the disk with safe types and headers, names beginning with a dot are never served,
// the service learns each client's own address from nginx and from nobody else, and
// requests the service must not see stop at nginx.
#include "tests/pipeline/BatchE2EFixture.h"
#include "tests/publish/FtpTestServer.h"
#include "tests/publish/NginxFront.h"
#include "tests/service/ServiceFixture.h"

#include "config/IniFile.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

enum class Route { Direct, ThroughNginx };

std::string RouteName(Route route) { return route == Route::Direct ? "Direct" : "ThroughNginx"; }
void PrintTo(Route route, std::ostream* out) { *out << RouteName(route); }

class ServiceE2E : public BatchE2E {
protected:
    void Begin(Route route) {
        route_ = route;
        BatchE2E::SetUp();
        if (IsSkipped()) return;
        std::string why;
        if (Proxied() && !NginxFront::Available(why)) GTEST_SKIP() << why;
        ASSERT_NO_FATAL_FAILURE(StartService());
        ASSERT_EQ(Post("/createPubAccount.asp", "email=reader@example.org&password=open-sesame").status, 200);
    }

    void TearDown() override {
        front_.reset();
        unsetenv("SSL_CERT_FILE");
    }

    bool Proxied() const { return route_ == Route::ThroughNginx; }

    // Starts the service on its data folder (again, after it was stopped) and, through
    // nginx, a new nginx in front of it whose authority the client trusts.
    void StartService() {
        front_.reset();
        std::vector<std::string> args;
        if (Proxied()) args = {"--trusted-proxy", "127.0.0.1"};
        service_ = std::make_unique<ServiceProcess>(home_.Root() / "svc", args);
        ASSERT_TRUE(service_->Running()) << service_->FirstLine();
        if (!Proxied()) return;
        front_ = std::make_unique<NginxFront>(home_.Root() / ("nginx-" + std::to_string(++fronts_)), service_->Port(),
                                              home_.Root() / "svc");
        ASSERT_TRUE(front_->Running()) << front_->Failure();
        setenv("SSL_CERT_FILE", front_->CaFile().c_str(), 1);
    }

    // The address desktop programs and readers use.
    std::string BaseUrl() const { return Proxied() ? front_->BaseUrl() : service_->BaseUrl(); }

    HttpResult Get(const std::string& path) const {
        if (!Proxied()) return service_->Get(path);
        return Result(front_->Get(path));
    }

    HttpResult Post(const std::string& path, const std::string& form) const {
        const std::string type = "application/x-www-form-urlencoded";
        if (!Proxied()) return service_->Post(path, form, type);
        FrontRequest request;
        request.method = "POST";
        request.path = path;
        request.body = form;
        request.headers = {"Content-Type: " + type};
        return Result(front_->Send(request));
    }

    static HttpResult Result(const FrontReply& reply) {
        HttpResult result;
        result.status = reply.status;
        result.body = reply.body;
        result.content_type = reply.Header("content-type");
        return result;
    }

    // Makes the service the web-service target with `password`, as a user does, and lets
    // big files go in chunks without the default pause between them.
    void UseService(const std::string& password) {
        const std::string host = Proxied() ? front_->BaseUrl() : "127.0.0.1:" + std::to_string(service_->Port());
        RunResult saved = Run({"--set-service-account", "reader@example.org", "--service-host", host}, "account",
                              password + "\n");
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
            const HttpResult served = Get(BookUrl(key) + rel);
            ASSERT_EQ(served.status, 200) << rel;
            EXPECT_TRUE(served.body == ReadFileBytes(entry.path())) << rel << " differs on the service";
            ++compared;
        }
        EXPECT_GT(compared, 20);
    }

    // Waits (at most 120 s) until the service has begun to store `file` of some book.
    void AwaitStored(const std::string& file) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        bool seen = false;
        while (!seen && std::chrono::steady_clock::now() < deadline) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(home_.Root() / "svc/books", ec))
                seen = seen || fs::exists(entry.path() / file);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(seen) << file;
    }

    Route route_ = Route::Direct;
    std::unique_ptr<ServiceProcess> service_;
    std::unique_ptr<NginxFront> front_;
    int fronts_ = 0;
};

class PublishServiceE2E : public ServiceE2E, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override { Begin(GetParam()); }
};

TEST_P(PublishServiceE2E, ABookIsPublishedToTheServiceAndOpensThere) {
    UseService("open-sesame");
    IniFile((data_ / "config.ini").string()).WriteInt("network", "http_chunk_size", 4);  // KiB
    RunResult run = Run({"--publish", (SourceDir() / "data/samples/sample.pdf").string()});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string key = OnlyKey();
    EXPECT_EQ(StoredProgress(key), 100000);
    const std::string address = BaseUrl() + "/vellumark/booklet.asp?guid=" + key;
    EXPECT_NE(run.err.find("published at " + address), std::string::npos) << run.err;
    ExpectPublished(key);
    // The page the service makes names the book and its pages.
    const HttpResult page = Get("/vellumark/booklet.asp?guid=" + key);
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Vellumark sample book"), std::string::npos);
    // Page images larger than a chunk crossed in chunks and arrived whole.
    bool chunked = false;
    for (const auto& entry : fs::directory_iterator(books_ / key / "100"))
        chunked = chunked || fs::file_size(entry.path()) > 4 * 1024;
    EXPECT_TRUE(chunked) << "no file was larger than one chunk";
}

TEST_P(PublishServiceE2E, AWrongPasswordLeavesTheBookUnpublished) {
    UseService("not-the-password");
    RunResult run = Run({"--publish", MakePdf("private.pdf", 2).string()});
    // The job goes on without the service: converted, not published, and said so with a
    // failing exit status.
    EXPECT_EQ(run.code, 1) << run.err;
    const std::string key = OnlyKey();
    EXPECT_TRUE(fs::exists(books_ / key / "index.html"));
    EXPECT_NE(run.err.find("login as reader@example.org failed"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("published at"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("not-the-password"), std::string::npos) << run.err;
    EXPECT_EQ(Get("/vellumark/booklet.asp?guid=" + key).status, 404);
}

TEST_P(PublishServiceE2E, AServiceThatDiesMidBookLeavesTheJobResumable) {
    UseService("open-sesame");
    const int pages = 8;
    pid_t batch = Start({"--publish", MakePdf("long.pdf", pages).string()}, "first");
    // Stop the service as soon as the HighRes folder has begun to arrive.
    ASSERT_NO_FATAL_FAILURE(AwaitStored("HighRes/img-1.jpg"));
    service_->Stop(SIGKILL);
    RunResult failed = Finish(batch, "first");
    EXPECT_EQ(failed.code, 1);
    EXPECT_NE(failed.err.find("Upload failed"), std::string::npos) << failed.err;
    const std::string key = OnlyKey();
    const int32_t stopped_at = StoredProgress(key);
    EXPECT_GE(stopped_at, 65000) << failed.err;
    EXPECT_LT(stopped_at, 87000) << failed.err;

    // The service comes back (on another port here); the resume completes the book.
    ASSERT_NO_FATAL_FAILURE(StartService());
    UseService("open-sesame");
    RunResult resumed = Run({"--resume", key}, "resume");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_EQ(StoredProgress(key), 100000);
    ExpectPublished(key);
}

TEST_P(PublishServiceE2E, WithBothTargetsEachReceivesTheWholeBook) {
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
    ASSERT_NO_FATAL_FAILURE(AwaitStored("MedRes/img-1.jpg"));
    service_->Stop(SIGKILL);
    EXPECT_EQ(Finish(batch, "first").code, 1);
    ASSERT_NO_FATAL_FAILURE(StartService());
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

TEST_P(PublishServiceE2E, AnUpdateKeepsTheAddressAndReplacesOnlyTheChangedPage) {
    if (GetParam() != Route::Direct) GTEST_SKIP() << "the update's exchanges are those of any publication";
    UseService("open-sesame");
    const int pages = 20;
    RunResult first = Run({"--publish", MakePdf("manual.pdf", pages).string()});
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string key = OnlyKey();
    const fs::path stored = home_.Root() / "svc/books" / key;
    // Which files the service wrote anew is told by their inodes: a file it kept is the same one.
    const auto inodes = [&] {
        std::map<std::string, ino_t> files;
        for (const auto& entry : fs::recursive_directory_iterator(stored)) {
            struct stat info {};
            if (entry.is_regular_file() && stat(entry.path().c_str(), &info) == 0)
                files[fs::relative(entry.path(), stored).string()] = info.st_ino;
        }
        return files;
    };
    const auto before = inodes();

    RunResult updated = Run({"--update", key, MakePdf("manual-2.pdf", pages, "Generated Book", 7).string()}, "update");
    ASSERT_EQ(updated.code, 0) << updated.err;
    EXPECT_NE(updated.err.find("published at " + BaseUrl() + "/vellumark/booklet.asp?guid=" + key), std::string::npos)
        << updated.err;
    ExpectPublished(key);
    const auto after = inodes();
    int rewritten = 0;
    for (const auto& [file, inode] : after) {
        const auto old = before.find(file);
        if (old != before.end() && old->second == inode) continue;
        ++rewritten;
        const bool page_7 = file.find("img-7.") != std::string::npos || file.find("img-7-") != std::string::npos;
        // The pieces of layout and text hold page 7 too (a book this short has one each).
        const bool text = file == "txt.js" || file == "text.html" || file == "layout.js" || file == "index.html" ||
                          file == "txt-1.js" || file == "layout-1.js";
        EXPECT_TRUE(page_7 || text || file == "book-manifest.txt") << file << " was replaced though unchanged";
    }
    EXPECT_GT(rewritten, 1);

    // An update killed half-way through its upload: readers still get the book as it
    // was, every file of it; the resume completes the update. Small chunks with a pause
    // (a user's choice for a slow line) keep the upload going long enough to be caught.
    std::map<std::string, std::string> served;
    for (const auto& entry : fs::recursive_directory_iterator(stored))
        if (entry.is_regular_file() && entry.path().filename() != "index.html")
            served[fs::relative(entry.path(), stored).string()] = ReadFileBytes(entry.path());
    IniFile config((data_ / "config.ini").string());
    config.WriteInt("network", "http_chunk_size", 1);
    config.WriteInt("network", "http_wait_after_upld_chunk", 20);
    const pid_t batch = Start({"--update", key, MakePdf("manual-4.pdf", pages, "Generated Book", 3).string()}, "killed");
    const fs::path stage = home_.Root() / "svc/books" / (".stage-" + key);
    bool sending = false;
    for (int i = 0; i < 6000 && !sending; ++i) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(stage, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            sending = sending || it->path().filename().string().rfind(".partial-", 0) == 0;
        if (!sending) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(sending) << "the update never began to send a file in chunks";
    kill(batch, SIGKILL);
    Finish(batch, "killed");
    for (const auto& [file, bytes] : served) {
        const HttpResult now = Get(BookUrl(key) + file);
        EXPECT_EQ(now.status, 200) << file;
        EXPECT_TRUE(now.body == bytes) << file << " changed before the update was whole";
    }
    config.WriteInt("network", "http_chunk_size", 48);
    config.WriteInt("network", "http_wait_after_upld_chunk", 1);
    RunResult resumed = Run({"--resume", key}, "resumed");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    ExpectPublished(key);

    // A shorter edition: the pages it no longer has are gone from the service.
    RunResult shorter = Run({"--update", key, MakePdf("manual-3.pdf", pages - 2).string()}, "short");
    ASSERT_EQ(shorter.code, 0) << shorter.err;
    ExpectPublished(key);
    EXPECT_EQ(Get(BookUrl(key) + "HighRes/img-20.jpg").status, 404);
    EXPECT_EQ(Get(BookUrl(key) + "thumb/img-19-e.jpg").status, 404);
}

INSTANTIATE_TEST_SUITE_P(Routes, PublishServiceE2E, ::testing::Values(Route::Direct, Route::ThroughNginx),
                         [](const ::testing::TestParamInfo<Route>& info) { return RouteName(info.param); });

// What only the nginx front does.
class NginxFrontE2E : public ServiceE2E {
protected:
    void SetUp() override { Begin(Route::ThroughNginx); }

    // The client addresses of the service's login sessions.
    std::set<std::string> SessionAddresses() {
        std::set<std::string> addresses;
        sqlite3* db = nullptr;
        const std::string path = (home_.Root() / "svc/service.db").string();
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* select = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT address FROM session", -1, &select, nullptr) == SQLITE_OK) {
                while (sqlite3_step(select) == SQLITE_ROW)
                    addresses.insert(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
            }
            sqlite3_finalize(select);
        }
        sqlite3_close(db);
        return addresses;
    }

    // A message of the desktop program's kind to the service path.
    FrontReply Message(const std::string& body, const std::vector<std::string>& headers = {}) {
        FrontRequest request;
        request.method = "POST";
        request.path = "/vellumark/standalone.ashx";
        request.body = body;
        request.headers = headers;
        return front_->Send(request);
    }
};

TEST_F(NginxFrontE2E, BookFilesComeFromTheDiskWithSafeTypesAndDotFilesNever) {
    UseService("open-sesame");
    IniFile((data_ / "config.ini").string()).WriteInt("general", "upload_pdf", 1);
    RunResult run = Run({"--publish", MakePdf("small.pdf", 2).string()});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string key = OnlyKey();
    const std::string book = BookUrl(key);
    const HttpResult page = Get(book);
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Generated Book"), std::string::npos);

    // Beside the published files: a file of a chunked upload still in progress, and a
    // page under a name the viewer never asks for.
    const fs::path stored = home_.Root() / "svc/books" / key;
    WriteFileBytes(stored / "100/.img-1.jpg.part", "partial");
    WriteFileBytes(stored / "note.html", "<script>document.title = 'ran'</script>");
    // nginx alone serves the files: the service is gone, and with it the book's page.
    service_->Stop(SIGKILL);
    EXPECT_EQ(front_->Get(book).status, 502);

    struct Case {
        std::string name, type;
        bool sandboxed, attachment;
    };
    const Case cases[] = {
        {"100/img-1.jpg", "image/jpeg", true, false},     {"100/img-1-f.png", "image/png", true, false},
        {"txt.js", "text/javascript", true, false},       {"layout.js", "text/javascript", true, false},
        {"txt-1.js", "text/javascript", true, false},     {"layout-1.js", "text/javascript", true, false},
        {"text.html", "text/html", true, false},          {"small.pdf", "application/pdf", false, false},
        {"note.html", "application/octet-stream", true, true},
    };
    for (const Case& c : cases) {
        const FrontReply file = front_->Get(book + c.name);
        ASSERT_EQ(file.status, 200) << c.name;
        EXPECT_TRUE(file.body == ReadFileBytes(stored / c.name)) << c.name;
        EXPECT_EQ(file.Header("content-type").substr(0, c.type.size()), c.type) << c.name;
        EXPECT_EQ(file.Header("x-content-type-options"), "nosniff") << c.name;
        const std::string policy = file.Header("content-security-policy");
        EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << c.name << ": " << policy;
        EXPECT_EQ(policy.find("sandbox") != std::string::npos, c.sandboxed) << c.name << ": " << policy;
        EXPECT_EQ(file.Header("content-disposition"), c.attachment ? "attachment" : "") << c.name;
    }
    for (const std::string hidden : {"100/.img-1.jpg.part", "100/%2eimg-1.jpg.part"})
        EXPECT_EQ(front_->Get(book + hidden).status, 404) << hidden;

    // The shared viewer files beside the program, but not the page template.
    const FrontReply viewer = front_->Get("/vellumark/books/index.js");
    EXPECT_EQ(viewer.status, 200);
    EXPECT_TRUE(viewer.body == ReadFileBytes(ProgramDir() / "DefaultCfg/Upload/index.js"));
    EXPECT_EQ(front_->Get("/vellumark/books/booklet.asp").status, 404);
}

TEST_F(NginxFrontE2E, TheServiceTakesTheClientAddressFromTheProxyAlone) {
    const std::string login = service_bodies::Login("reader@example.org", "open-sesame");
    // Through nginx from 127.0.0.2, with an address of the client's own choosing.
    FrontRequest request;
    request.method = "POST";
    request.path = "/vellumark/standalone.ashx";
    request.body = login;
    request.headers = {"X-Real-IP: 203.0.113.9"};
    request.source_address = "127.0.0.2";
    const FrontReply proxied = front_->Send(request);
    ASSERT_EQ(proxied.status, 200);
    EXPECT_EQ(proxied.body.rfind("ERR", 0), std::string::npos) << proxied.body;
    // Straight to the service from 127.0.0.3, which is not the proxy.
    request.base = service_->BaseUrl();
    request.source_address = "127.0.0.3";
    const FrontReply direct = front_->Send(request);
    ASSERT_EQ(direct.status, 200);
    EXPECT_EQ(direct.body.rfind("ERR", 0), std::string::npos) << direct.body;
    EXPECT_EQ(SessionAddresses(), (std::set<std::string>{"127.0.0.2", "127.0.0.3"}));
}

TEST_F(NginxFrontE2E, WhatTheServiceMustNotSeeStopsAtTheFront) {
    const std::string login = service_bodies::Login("reader@example.org", "open-sesame");
    // Plain HTTP only leads to TLS.
    FrontRequest plain;
    plain.method = "POST";
    plain.path = "/vellumark/standalone.ashx";
    plain.body = login;
    plain.plain_http = true;
    const FrontReply redirected = front_->Send(plain);
    EXPECT_EQ(redirected.status, 301);
    EXPECT_EQ(redirected.Header("location").rfind("https://", 0), 0u) << redirected.Header("location");
    // Bodies not framed by Content-Length, compressed, or larger than 1 MiB.
    EXPECT_EQ(Message(login, {"Transfer-Encoding: chunked"}).status, 411);
    EXPECT_EQ(Message(login, {"Content-Encoding: gzip"}).status, 415);
    EXPECT_EQ(Message(std::string(1024 * 1024 + 1, 'x')).status, 413);
    EXPECT_TRUE(SessionAddresses().empty());
    // The largest message passes.
    const long largest = Message(std::string(1024 * 1024, 'x')).status;
    EXPECT_TRUE(largest != 0 && largest != 413) << largest;

    // A flood of posts to the account form (incomplete ones, which the service itself
    // would answer forever) is cut off with a time to come back; the desktop program's
    // messages from the same address still go through.
    FrontRequest form;
    form.method = "POST";
    form.path = "/createPubAccount.asp";
    form.body = "email=flood@example.org";
    FrontReply answer;
    for (int i = 0; i < 10 && answer.status != 429; ++i) answer = front_->Send(form);
    ASSERT_EQ(answer.status, 429);
    EXPECT_FALSE(answer.Header("retry-after").empty());
    EXPECT_EQ(Message(login).status, 200);
    EXPECT_EQ(SessionAddresses(), std::set<std::string>{"127.0.0.1"});
}

}  // namespace
