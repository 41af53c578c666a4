// End to end: vellumark-batch --publish with the real engine sends books to a loopback
// FTP server, survives a dropped connection, resumes a stopped upload at its page,
// reports a server that refuses writes as a failed upload, publishes a local book later
// and updates a published book in place, sending only what changed, keeping the local
// book until the update has reached the server.
#include "PublishedBook.h"
#include "tests/pipeline/BatchE2EFixture.h"
#include "tests/publish/FtpTestServer.h"

#include <chrono>
#include <csignal>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class PublishFtpE2E : public BatchE2E {
protected:
    // Points the configured FTP target at `server`'s folder "books", as a user without the
    // desktop program does.
    void UseFtpServer(const FtpTestServer& server) {
        ASSERT_TRUE(server.Running());
        fs::create_directories(server.Root() / "books");
        RunResult saved = Run({"--set-ftp-target", "127.0.0.1/books", "--ftp-user", "alice", "--ftp-webaddr",
                               "http://127.0.0.1/books/", "--ftp-port", std::to_string(server.Port())},
                              "target", "secret\n");
        ASSERT_EQ(saved.code, 0) << saved.err;
        // Neither the account nor the password is readable in the profile.
        const std::string profile = ReadFileBytes(data_ / "ftp.ini");
        EXPECT_EQ(profile.find("secret"), std::string::npos);
        EXPECT_EQ(profile.find("alice"), std::string::npos);
    }

    // The remote book folder equals the local one file for file, byte for byte.
    void ExpectPublished(const FtpTestServer& server, const std::string& key) {
        ExpectPublishedBook(books_ / key, server.Root() / "books" / key);
    }

    static fs::file_time_type TimeOf(const fs::path& file) {
        std::error_code ec;
        return fs::last_write_time(file, ec);
    }
};

TEST_F(PublishFtpE2E, ABookIsPublishedWholeAndTheSharedFilesOnlyOnce) {
    FtpTestServer server(home_.Root() / "ftp");
    UseFtpServer(server);
    RunResult first = Run({"--publish", MakePdf("brochure.pdf", 3).string()});
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string key = OnlyKey();
    ASSERT_EQ(StoredProgress(key), 100000);
    ExpectPublished(server, key);
    EXPECT_NE(first.err.find("published at http://127.0.0.1/books/" + key + "/index.html"), std::string::npos)
        << first.err;

    // The skin and the shared files of the books folder are there, byte for byte.
    const fs::path remote = server.Root() / "books";
    const auto skin = Tree(remote / "skins/2");
    ASSERT_FALSE(skin.empty());
    for (const auto& [name, bytes] : skin) EXPECT_TRUE(bytes == ReadFileBytes(books_ / "skins/2" / name)) << name;
    for (const char* shared : {"index.js", "RurovOzeza.v1.css"})
        EXPECT_TRUE(ReadFileBytes(remote / shared) == ReadFileBytes(books_ / shared)) << shared;

    // A second book (the shipped sample) finds the skin current and leaves skins and
    // shared files alone.
    const auto skin_time = TimeOf(remote / "skins/2/skin.js");
    const auto script_time = TimeOf(remote / "index.js");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    RunResult second = Run({"--publish", (SourceDir() / "data/samples/sample.pdf").string()}, "second");
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(TimeOf(remote / "skins/2/skin.js"), skin_time);
    EXPECT_EQ(TimeOf(remote / "index.js"), script_time);
    for (const std::string& other : Keys()) ExpectPublished(server, other);
}

TEST_F(PublishFtpE2E, AStoppedUploadResumesAtThePageItStoppedAt) {
    FtpTestServer server(home_.Root() / "ftp");
    UseFtpServer(server);
    const int pages = 10;
    RunResult stopped = Run({"--publish", "--stop-after-progress", "67000", MakePdf("manual.pdf", pages).string()});
    EXPECT_NE(stopped.code, 0);
    const std::string key = OnlyKey();
    const int32_t mark = StoredProgress(key);
    ASSERT_GE(mark, 67000) << stopped.err;
    ASSERT_LT(mark, 70000) << stopped.err;
    // The stored mark lies in the large images' folder: the zoom images' folder before it
    // is whole on the server. (The display refreshes on a timer and may never print the
    // folder's name for a stage a fast machine passes between two refreshes.)
    for (int page = 1; page <= pages; ++page)
        EXPECT_TRUE(fs::exists(server.Root() / "books" / key / "100" / ("img-" + std::to_string(page) + ".jpg")))
            << "zoom page " << page;

    // Pages before the resume page stay as they are; the rest arrive in the second run.
    const int32_t first_page = (mark - 65000) * pages / 5000 + 1;
    const fs::path high = server.Root() / "books" / key / "HighRes";
    std::map<int, fs::file_time_type> before;
    for (int page = 1; page < first_page; ++page)
        before[page] = TimeOf(high / ("img-" + std::to_string(page) + ".jpg"));
    const auto zoom_time = TimeOf(server.Root() / "books" / key / "100/img-1.jpg");
    EXPECT_FALSE(fs::exists(high / ("img-" + std::to_string(pages) + ".jpg")));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    RunResult resumed = Run({"--resume", key}, "resume");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_EQ(StoredProgress(key), 100000);
    for (const auto& [page, time] : before)
        EXPECT_EQ(TimeOf(high / ("img-" + std::to_string(page) + ".jpg")), time) << "page " << page << " was sent again";
    EXPECT_EQ(TimeOf(server.Root() / "books" / key / "100/img-1.jpg"), zoom_time);
    ExpectPublished(server, key);
}

TEST_F(PublishFtpE2E, AConnectionDroppedMidFileIsSurvived) {
    FtpTestServer server(home_.Root() / "ftp", FtpFault::DropOnce);
    UseFtpServer(server);
    RunResult run = Run({"--publish", MakePdf("flaky.pdf", 2).string()});
    ASSERT_EQ(run.code, 0) << run.err;
    ExpectPublished(server, OnlyKey());
    // The batch's own connection and at least one reconnection after the drop.
    EXPECT_GE(Lines(ReadFileBytes(home_.Root() / "ftp/connections.log")).size(), 2u);
}

TEST_F(PublishFtpE2E, AServerThatRefusesWritesFailsTheUpload) {
    FtpTestServer server(home_.Root() / "ftp", FtpFault::ReadOnly);
    UseFtpServer(server);
    RunResult run = Run({"--publish", MakePdf("refused.pdf", 2).string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find("Upload failed"), std::string::npos) << run.err;
    const std::string key = OnlyKey();
    // Converted, not published: resumable from the upload.
    EXPECT_GE(StoredProgress(key), 60000);
    EXPECT_LT(StoredProgress(key), 100000);
    EXPECT_TRUE(Tree(server.Root() / "books").empty());
}

}  // namespace

TEST_F(PublishFtpE2E, ABookKeptOnThisComputerIsPublishedLaterAndAgainWithoutResending) {
    RunResult local = Run({MakePdf("flyer.pdf", 3).string()});
    ASSERT_EQ(local.code, 0) << local.err;
    const std::string key = OnlyKey();
    // Kept on this computer, the page names no address of its own.
    EXPECT_EQ(ReadFileBytes(books_ / key / "index.html").find("rel=\"canonical\""), std::string::npos);
    RunResult early = Run({"--publish-book", key}, "early");
    EXPECT_NE(early.code, 0);
    EXPECT_NE(early.err.find("no publishing target is configured"), std::string::npos) << early.err;

    FtpTestServer server(home_.Root() / "ftp");
    UseFtpServer(server);
    RunResult later = Run({"--publish-book", key}, "later");
    ASSERT_EQ(later.code, 0) << later.err;
    EXPECT_EQ(StoredProgress(key), 100000);
    EXPECT_NE(later.err.find("published at http://127.0.0.1/books/" + key + "/index.html"), std::string::npos)
        << later.err;
    ExpectPublished(server, key);
    // The published page names the FTP web site's address and page 1's preview picture,
    // which is there, as large as 1200 x 630 allows.
    const std::string page = ReadFileBytes(server.Root() / "books" / key / "index.html");
    const std::string address = "http://127.0.0.1/books/" + key + "/";
    const auto [width, height] = JpegSize(server.Root() / "books" / key / "thumb/img-1-e-share.jpg");
    EXPECT_GE(height, 628);
    EXPECT_LE(height, 630);
    for (const std::string& tag : {"<link rel=\"canonical\" href=\"" + address + "index.html\">",
                                   "<meta property=\"og:url\" content=\"" + address + "index.html\">",
                                   "<meta property=\"og:image\" content=\"" + address + "thumb/img-1-e-share.jpg\">",
                                   "<meta property=\"og:image:width\" content=\"" + std::to_string(width) + "\">",
                                   "<meta property=\"og:image:height\" content=\"" + std::to_string(height) + "\">",
                                   std::string("data-pdf=\"\"")})
        EXPECT_NE(page.find(tag), std::string::npos) << tag;
    EXPECT_FALSE(fs::exists(server.Root() / "books" / key / "flyer.pdf")) << "the PDF only when offered";

    // Published again unchanged: the server receives no file at all.
    const fs::path received = server.Root().parent_path() / "received.log";
    fs::remove(received);
    RunResult again = Run({"--publish-book", key}, "again");
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_FALSE(fs::exists(received)) << ReadFileBytes(received);
    ExpectPublished(server, key);

    // Offered, the PDF goes beside the book whole and the page names it for its download
    // button; no longer offered, both go again.
    RunResult offered = Run({"--offer-pdf", "--publish-book", key}, "offered");
    ASSERT_EQ(offered.code, 0) << offered.err;
    EXPECT_EQ(ReadFileBytes(server.Root() / "books" / key / "flyer.pdf"), ReadFileBytes(home_.Root() / "flyer.pdf"));
    EXPECT_NE(ReadFileBytes(server.Root() / "books" / key / "index.html").find("data-pdf=\"flyer.pdf\""),
              std::string::npos);
    RunResult withdrawn = Run({"--publish-book", key}, "withdrawn");
    ASSERT_EQ(withdrawn.code, 0) << withdrawn.err;
    EXPECT_FALSE(fs::exists(server.Root() / "books" / key / "flyer.pdf"));
    EXPECT_NE(ReadFileBytes(server.Root() / "books" / key / "index.html").find("data-pdf=\"\""), std::string::npos);

    RunResult unknown = Run({"--publish-book", "0123456789ABCDEF0123456789ABCDEF"}, "unknown");
    EXPECT_NE(unknown.code, 0);
    EXPECT_NE(unknown.err.find("no book with this key"), std::string::npos) << unknown.err;
}

TEST_F(PublishFtpE2E, AnUpdateKeepsTheAddressAndSendsOnlyTheChangedPage) {
    FtpTestServer server(home_.Root() / "ftp");
    UseFtpServer(server);
    const int pages = 20;
    RunResult first = Run({"--publish", MakePdf("manual.pdf", pages).string()});
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string key = OnlyKey();
    const std::string address = "published at http://127.0.0.1/books/" + key + "/index.html";
    const fs::path remote = server.Root() / "books" / key;
    const fs::path received = server.Root().parent_path() / "received.log";
    WriteFileBytes(remote / "canary.txt", "mine");
    WriteFileBytes(server.Root() / "books/canary.html", "mine");
    fs::remove(received);

    // Page 7 corrected: only its images, the text files, the page and the manifest go.
    RunResult updated = Run({"--update", key, MakePdf("manual-2.pdf", pages, "Generated Book", 7).string()}, "update");
    ASSERT_EQ(updated.code, 0) << updated.err;
    EXPECT_NE(updated.err.find(address), std::string::npos) << updated.err;
    EXPECT_EQ(Keys().size(), 1u) << "no new book";
    std::istringstream sent(fs::exists(received) ? ReadFileBytes(received) : std::string());
    std::set<std::string> files;
    for (std::string line; std::getline(sent, line);) files.insert(fs::path(line).lexically_relative("books/" + key));
    EXPECT_TRUE(files.count("HighRes/img-7-f.png")) << "the corrected page's text layer";
    for (const std::string& file : files) {
        const bool page_7 = file.find("img-7.") != std::string::npos || file.find("img-7-") != std::string::npos;
        // The pieces of layout and text hold page 7 too (a book this short has one each).
        const bool text = file == "txt.js" || file == "text.html" || file == "layout.js" || file == "index.html" ||
                          file == "txt-1.js" || file == "layout-1.js";
        EXPECT_TRUE(page_7 || text || file == "book-manifest.txt") << file << " was sent though unchanged";
    }
    ExpectPublishedBook(books_ / key, remote, {"canary.txt"});

    // A shorter edition removes exactly the pages it no longer has, nothing else.
    RunResult shorter = Run({"--update", key, MakePdf("manual-3.pdf", pages - 2, "Generated Book", 7).string()}, "short");
    ASSERT_EQ(shorter.code, 0) << shorter.err;
    for (const char* gone : {"HighRes/img-19.jpg", "100/img-20-f.png", "thumb/img-20-e.jpg"})
        EXPECT_FALSE(fs::exists(remote / gone)) << gone;
    EXPECT_EQ(ReadFileBytes(remote / "canary.txt"), "mine");
    EXPECT_EQ(ReadFileBytes(server.Root() / "books/canary.html"), "mine");
    ExpectPublishedBook(books_ / key, remote, {"canary.txt"});
    fs::remove(remote / "canary.txt");

    // An update stopped in its conversion leaves the local and the published book as they
    // were; its resume completes it.
    const auto local_before = Tree(books_ / key);
    const auto remote_before = Tree(remote);
    RunResult stopped = Run({"--update", key, MakePdf("manual-4.pdf", pages, "Generated Book", 3).string(),
                             "--stop-after-progress", "20000"},
                            "stopped");
    EXPECT_NE(stopped.code, 0);
    EXPECT_NE(stopped.err.find("the local book stays the old edition until the update is resumed"), std::string::npos)
        << stopped.err;
    EXPECT_TRUE(Tree(books_ / key) == local_before) << "the local book changed before the update was whole";
    EXPECT_TRUE(Tree(remote) == remote_before) << "the published book changed";
    RunResult resumed = Run({"--resume", key}, "resumed");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_FALSE(Tree(books_ / key) == local_before);
    ExpectPublished(server, key);
    EXPECT_FALSE(fs::exists(books_ / (".update-" + key)));
}

TEST_F(PublishFtpE2E, AnUpdateKilledInItsUploadKeepsTheLocalBookUntilItsResumePublishesIt) {
    FtpTestServer server(home_.Root() / "ftp");
    UseFtpServer(server);
    const int pages = 3;
    RunResult first = Run({"--publish", MakePdf("guide.pdf", pages).string()});
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string key = OnlyKey();
    const auto old_edition = Tree(books_ / key);
    const fs::path remote = server.Root() / "books" / key;
    // A temporary file an earlier run left when it was killed in mid-file.
    WriteFileBytes(remote / "HighRes/img-1.jpg.0badc0de.vellumark-part", "half");

    // Killed outright once the server has received the first file of the new edition.
    const fs::path received = server.Root().parent_path() / "received.log";
    fs::remove(received);
    WriteFileBytes(server.Root().parent_path() / "slow", "");
    const pid_t update = Start({"--update", key, MakePdf("guide-2.pdf", pages, "Generated Book", 2).string()}, "update");
    for (int wait = 0; wait < 1200 && (!fs::exists(received) || fs::file_size(received) == 0); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    kill(update, SIGKILL);
    Finish(update, "update");
    ASSERT_TRUE(fs::exists(received)) << "nothing was uploaded";
    fs::remove(server.Root().parent_path() / "slow");
    EXPECT_TRUE(Tree(books_ / key) == old_edition) << "the local book changed before the update was published";
    const auto new_edition = Tree(books_ / (".update-" + key));
    ASSERT_FALSE(new_edition.empty());

    RunResult resumed = Run({"--resume", key}, "resume");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_TRUE(Tree(books_ / key) == new_edition) << "the local book is not the new edition";
    EXPECT_FALSE(fs::exists(books_ / (".update-" + key)));
    // The leftover is gone and the server holds the new edition whole.
    ExpectPublished(server, key);
}
