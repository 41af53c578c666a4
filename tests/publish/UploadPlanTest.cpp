// The upload plan against a real loopback FTP server: which files a plan sends from a
// given progress mark, and how a stop or a missing file leaves the mark for a resume.
#include "FtpTestServer.h"

#include "pipeline/PdfJob.h"
#include "publish/UploadPlan.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "0123456789ABCDEF0123456789ABCDEF";
constexpr int kPages = 10;

class UploadPlanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Running());
        fs::create_directories(server_.Root() / "site");
        const fs::path books = home_.Root() / "books";
        settings_.books_folder = books.string();
        settings_.net_timeout_ms = 5000;
        WriteFileBytes(books / "skins/2/skin.js", "var skin = ['bg.png', 'skin.js',];");
        WriteFileBytes(books / "skins/2/bg.png", "background");
        WriteFileBytes(books / "index.js", "index");
        WriteFileBytes(books / "RurovOzeza.v1.css", "css");
        for (const char* name : {"index.html", "txt.js", "text.html"}) WriteFileBytes(Book() / name, name);
        for (int page = 1; page <= kPages; ++page) {
            const std::string n = std::to_string(page);
            for (const char* folder : {"100", "HighRes", "MedRes", "LowRes"}) {
                WriteFileBytes(Book() / folder / ("img-" + n + ".jpg"), std::string(folder) + " jpg " + n);
                WriteFileBytes(Book() / folder / ("img-" + n + "-f.png"), std::string(folder) + " png " + n);
            }
            for (const char* folder : {"print", "thumb"})
                WriteFileBytes(Book() / folder / ("img-" + n + "-e.jpg"), std::string(folder) + " " + n);
        }
        WriteFileBytes(Book() / "thumb/img-1-e-cover.jpg", "cover");
        WriteFileBytes(home_.Root() / "source.pdf", "%PDF-1.4 source");
    }

    fs::path Book() const { return home_.Root() / "books" / kKey; }
    fs::path Remote() const { return server_.Root() / "site" / kKey; }

    int32_t Publish(int32_t from, int32_t upload_pdf = 0, int32_t pages = kPages) {
        progress_.store(from);
        Uploader up(&progress_, &state_, settings_);
        up.SetFtpTarget("127.0.0.1/site", "alice", "secret", 1, server_.Port());
        if (!up.ConnectFtp()) return -100;
        return UploadBook(up, (home_.Root() / "source.pdf").string(), Book().string(), pages, upload_pdf);
    }

    // The files the server stored since the last call, relative to the book folder.
    std::multiset<std::string> Received() {
        const fs::path log = server_.Root().parent_path() / "received.log";
        std::multiset<std::string> files;
        std::istringstream lines(fs::exists(log) ? ReadFileBytes(log) : std::string());
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("site/" + std::string(kKey) + "/", 0) == 0) files.insert(line.substr(5 + 33));
            else files.insert(line);
        fs::remove(log);
        return files;
    }

    // The remote book's files, relative to its folder.
    std::set<std::string> RemoteFiles() const {
        std::set<std::string> files;
        if (!fs::exists(Remote())) return files;
        for (const auto& entry : fs::recursive_directory_iterator(Remote()))
            if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), Remote()).string());
        return files;
    }

    TempHome home_;
    FtpTestServer server_{home_.Root() / "ftp"};
    PublishSettings settings_;
    std::atomic<int32_t> progress_{0};
    std::atomic<int32_t> state_{JOB_STATE_RUNNING};
};

TEST_F(UploadPlanTest, AWholePublicationSendsEveryFileAndThePdfWhenAsked) {
    ASSERT_EQ(Publish(kMarkFoldersStart, 1), kPlanPublished);
    EXPECT_EQ(progress_.load(), kMarkStaticDone);
    EXPECT_EQ(state_.load(), JOB_STATE_UPLOADING);
    // Six folders of pages, the cover, the page, two search files, the PDF and the manifest.
    EXPECT_EQ(RemoteFiles().size(), 4u * 2 * kPages + 2 * kPages + 1 + 3 + 1 + 1);
    EXPECT_EQ(ReadFileBytes(Remote() / "source.pdf"), "%PDF-1.4 source");
    EXPECT_EQ(ReadFileBytes(Remote() / "HighRes/img-10-f.png"), "HighRes png 10");
    EXPECT_EQ(ReadFileBytes(server_.Root() / "site/skins/2/bg.png"), "background");
}

TEST_F(UploadPlanTest, AResumeSendsOnlyWhatIsMissingFromItsPage) {
    // 67500 in the HighRes stage of a 10-page book: that stage starts at page 6.
    ASSERT_EQ(Publish(67500), kPlanPublished);
    std::set<std::string> files = RemoteFiles();
    EXPECT_FALSE(files.count("100/img-1.jpg"));
    EXPECT_FALSE(files.count("HighRes/img-5.jpg"));
    EXPECT_TRUE(files.count("HighRes/img-6.jpg"));
    EXPECT_TRUE(files.count("HighRes/img-10-f.png"));
    EXPECT_TRUE(files.count("MedRes/img-1.jpg"));
    EXPECT_TRUE(files.count("thumb/img-1-e-cover.jpg"));
    EXPECT_FALSE(files.count("source.pdf"));

    // From the static stage on only the page and the search files go.
    fs::remove_all(Remote());
    ASSERT_EQ(Publish(85000, 1), kPlanPublished);
    EXPECT_EQ(RemoteFiles(), (std::set<std::string>{"book-manifest.txt", "index.html", "text.html", "txt.js"}));
}

TEST_F(UploadPlanTest, ThePageLayoutGoesWithTheSearchFilesWhenTheBookHasOne) {
    WriteFileBytes(Book() / "layout.js", "layout");
    ASSERT_EQ(Publish(85000, 1), kPlanPublished);
    EXPECT_EQ(RemoteFiles(),
              (std::set<std::string>{"book-manifest.txt", "index.html", "layout.js", "text.html", "txt.js"}));
    EXPECT_EQ(ReadFileBytes(Remote() / "layout.js"), "layout");
}

TEST_F(UploadPlanTest, TheTilesAndTheirIndexGoWithTheBookAndAResumeStartsAtItsPage) {
    // Tiles of pages 2 and 7 (page 7 has two), and a name of no tile form, which stays home.
    for (const char* name : {"img-2-0-0.png", "img-7-1-0.png", "img-7-0-3.png", "notes.png"})
        WriteFileBytes(Book() / "tiles" / name, name);
    WriteFileBytes(Book() / "tiles/tiles.js", "index");
    ASSERT_EQ(Publish(85000), kPlanPublished);
    const std::multiset<std::string> sent = Received();
    std::vector<std::string> tiles;
    for (const std::string& file : sent)
        if (file.rfind("tiles/", 0) == 0) tiles.push_back(file);
    EXPECT_EQ(tiles, (std::vector<std::string>{"tiles/img-2-0-0.png", "tiles/img-7-0-3.png", "tiles/img-7-1-0.png",
                                               "tiles/tiles.js"}));
    EXPECT_NE(ReadFileBytes(Remote() / "book-manifest.txt").find("tiles/img-7-0-3.png"), std::string::npos);

    // 85500 is half of the stage: from page 6 on, then the index.
    fs::remove_all(Remote());
    ASSERT_EQ(Publish(85500), kPlanPublished);
    std::set<std::string> files = RemoteFiles();
    EXPECT_FALSE(files.count("tiles/img-2-0-0.png"));
    EXPECT_TRUE(files.count("tiles/img-7-1-0.png") && files.count("tiles/img-7-0-3.png") && files.count("tiles/tiles.js"));
}

TEST_F(UploadPlanTest, AStopInAResumedStageLeavesAMarkInsideThatStage) {
    // Ask for a stop while the server holds a page of the resumed HighRes stage (page 6
    // is the first the mark 67500 resends), then let that page through.
    server_.Hold("img-8.jpg");
    std::thread watcher([this] {
        const bool held = server_.WaitUntilHeld(20);
        state_.store(JOB_STATE_STOPPING);
        server_.Release();
        EXPECT_TRUE(held);
    });
    const int32_t result = Publish(67500);
    watcher.join();
    ASSERT_EQ(result, kPlanStopped);
    // The mark stays below the stage's end: the pages not sent yet are sent on resume.
    EXPECT_GT(progress_.load(), 67500);
    EXPECT_LT(progress_.load(), 70000);
    state_.store(JOB_STATE_RUNNING);
    ASSERT_EQ(Publish(progress_.load()), kPlanPublished);
    for (int page = 6; page <= kPages; ++page)
        EXPECT_TRUE(fs::exists(Remote() / ("HighRes/img-" + std::to_string(page) + "-f.png"))) << page;
}

TEST_F(UploadPlanTest, AMissingLayerFailsTheStageAfterEveryPageAndIsSentOnResume) {
    const std::string layer = ReadFileBytes(Book() / "MedRes/img-3-f.png");
    fs::remove(Book() / "MedRes/img-3-f.png");
    ASSERT_EQ(Publish(kMarkFoldersStart), kPlanFailed);
    EXPECT_TRUE(fs::exists(Remote() / "MedRes/img-10-f.png"));  // every page was tried
    EXPECT_FALSE(fs::exists(Remote() / "LowRes"));
    // The mark stays before the page that failed.
    EXPECT_EQ(progress_.load(), 70000 + 2 * 5000 / kPages);

    WriteFileBytes(Book() / "MedRes/img-3-f.png", layer);
    ASSERT_EQ(Publish(progress_.load()), kPlanPublished);
    EXPECT_EQ(ReadFileBytes(Remote() / "MedRes/img-3-f.png"), layer);
}

TEST_F(UploadPlanTest, AMissingCoverOrPageImageFailsAtOnce) {
    fs::remove(Book() / "thumb/img-1-e-cover.jpg");
    ASSERT_EQ(Publish(82000), kPlanFailed);
    EXPECT_FALSE(fs::exists(Remote() / "thumb/img-1-e.jpg"));
    EXPECT_EQ(progress_.load(), 82000);
}

}  // namespace

TEST_F(UploadPlanTest, ALaterPublicationSendsOnlyWhatChangedAndRemovesOnlyPagesItHadPut) {
    ASSERT_EQ(Publish(kMarkFoldersStart), kPlanPublished);
    EXPECT_EQ(Received().size(), 4u * 2 * kPages + 2 * kPages + 1 + 3 + 1 + 4) << "every file, the skin and manifest";
    ASSERT_EQ(Publish(kMarkFoldersStart), kPlanPublished);
    EXPECT_EQ(Received(), std::multiset<std::string>{}) << "an unchanged book sends nothing";

    // A changed page and a book one page shorter; files beside the book and in the web
    // root that no publication put there stay.
    WriteFileBytes(Book() / "HighRes/img-3.jpg", "HighRes jpg 3, corrected");
    WriteFileBytes(Book() / "txt.js", "txt.js, corrected");
    WriteFileBytes(Remote() / "HighRes/canary.jpg", "mine");
    WriteFileBytes(Remote() / "img-10.jpg", "mine");
    WriteFileBytes(server_.Root() / "site/canary.html", "mine");
    ASSERT_EQ(Publish(kMarkFoldersStart, 0, kPages - 1), kPlanPublished);
    EXPECT_EQ(Received(), (std::multiset<std::string>{"HighRes/img-3.jpg", "txt.js", "book-manifest.txt"}));
    EXPECT_EQ(ReadFileBytes(Remote() / "HighRes/img-3.jpg"), "HighRes jpg 3, corrected");
    for (const char* gone : {"100/img-10.jpg", "HighRes/img-10-f.png", "print/img-10-e.jpg", "thumb/img-10-e.jpg"})
        EXPECT_FALSE(fs::exists(Remote() / gone)) << gone;
    for (const fs::path& kept : {Remote() / "HighRes/canary.jpg", Remote() / "img-10.jpg", server_.Root() / "site/canary.html"})
        EXPECT_EQ(ReadFileBytes(kept), "mine") << kept;

    // A manifest of another book, or one that is not a manifest, sends everything again.
    WriteFileBytes(Remote() / "book-manifest.txt", "<html>Not found</html>");
    ASSERT_EQ(Publish(kMarkFoldersStart, 0, kPages - 1), kPlanPublished);
    EXPECT_EQ(Received().size(), 4u * 2 * (kPages - 1) + 2 * (kPages - 1) + 1 + 3 + 1);
}
