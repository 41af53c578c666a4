#include "pipeline/ExportBook.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

const char* const kKey = "0123456789ABCDEF0123456789ABCDEF";
const std::string kPage =
    "<script src=\"../index.js\"></script><link href=\"../RurovOzeza.v1.css\">"
    "<img src=\"../skins/2/a.png\"><a href=\"HighRes/img-1.jpg\">..</a>../";

}  // namespace

class ExportBookTest : public ::testing::Test {
protected:
    void SetUp() override {
        books = home.Home() / "Documents" / "vAziruduues";
        book = books / kKey;
        for (const char* name : {"index.js", "service.asp", "print.html", "RurovOzeza.v1.css"})
            WriteFileBytes(books / name, std::string("shared ") + name);
        WriteFileBytes(books / "skins/2/a.png", "skin");
        WriteFileBytes(book / "index.html", kPage);
        WriteFileBytes(book / "HighRes/img-1.jpg", "jpeg");
        WriteFileBytes(book / "txt.js", "text");
        dst = home.Root() / "export";
    }
    int Export(const fs::path& to, const std::string& key = kKey) {
        return ExportBook(to.string(), key, books.string());
    }

    TempHome home;
    fs::path books, book, dst;
};

TEST_F(ExportBookTest, ExportMakesASelfContainedFolderAndRemovesWhatWasThere) {
    WriteFileBytes(dst / "old.txt", "old");
    WriteFileBytes(dst / "old/deep/x.bin", "old");
    fs::create_directories(home.Root() / "keep");
    WriteFileBytes(home.Root() / "keep/precious", "mine");
    fs::create_directory_symlink(home.Root() / "keep", dst / "link");

    EXPECT_EQ(Export(dst), 0);
    EXPECT_FALSE(fs::exists(dst / "old.txt"));
    EXPECT_FALSE(fs::exists(dst / "old"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dst / "link")));
    EXPECT_EQ(ReadFileBytes(home.Root() / "keep/precious"), "mine");  // links are removed, not followed

    EXPECT_EQ(ReadFileBytes(dst / "HighRes/img-1.jpg"), "jpeg");
    EXPECT_EQ(ReadFileBytes(dst / "txt.js"), "text");
    EXPECT_EQ(ReadFileBytes(dst / "service.asp"), "shared service.asp");
    EXPECT_EQ(ReadFileBytes(dst / "RurovOzeza.v1.css"), "shared RurovOzeza.v1.css");
    EXPECT_EQ(ReadFileBytes(dst / "skins/2/a.png"), "skin");

    std::string page = ReadFileBytes(dst / "index.html");
    EXPECT_EQ(page.size(), kPage.size());
    EXPECT_EQ(page.find("../"), std::string::npos);
    EXPECT_NE(page.find("\" ./index.js\""), std::string::npos);
    EXPECT_NE(page.find("\" ./skins/2/a.png\""), std::string::npos);
    EXPECT_NE(page.find(">..</a> ./"), std::string::npos);  // ".." alone and a final "../"
    EXPECT_EQ(ReadFileBytes(book / "index.html"), kPage);  // the book itself is untouched
}

TEST_F(ExportBookTest, PageWithoutParentReferencesIsWrittenBackUnchanged) {
    const std::string page = "<p>a/b ./c .. ..</p>\n..";
    WriteFileBytes(book / "index.html", page);
    EXPECT_EQ(Export(dst), 0);
    EXPECT_EQ(ReadFileBytes(dst / "index.html"), page);

    WriteFileBytes(book / "index.html", "");
    EXPECT_EQ(Export(dst), 0);
    EXPECT_EQ(ReadFileBytes(dst / "index.html"), "");
}

TEST_F(ExportBookTest, BookWithoutPageIsCopiedAndReportsOne) {
    fs::remove(book / "index.html");
    EXPECT_EQ(Export(dst), 1);
    EXPECT_EQ(ReadFileBytes(dst / "HighRes/img-1.jpg"), "jpeg");
    EXPECT_TRUE(fs::exists(dst / "index.js"));
    EXPECT_TRUE(fs::exists(dst / "skins/2/a.png"));
}

// Emptying any of these would destroy the user's books or home: each is refused before
// anything is deleted.
TEST_F(ExportBookTest, DangerousDestinationsAreRefusedAndNothingIsDeleted) {
    WriteFileBytes(home.Home() / "notes.txt", "mine");
    fs::create_directory_symlink(books, home.Root() / "books-link");
    fs::create_directory_symlink(home.Home(), home.Root() / "home-link");

    const fs::path refused[] = {
        books,
        book,
        books / "other",
        books.parent_path(),
        home.Home(),
        home.Root(),
        home.Root() / "books-link",
        home.Root() / "books-link" / kKey,
        home.Root() / "home-link",
        books / ".." / "vAziruduues" / "",
        "/",
    };
    for (const fs::path& to : refused) {
        SCOPED_TRACE(to.string());
        EXPECT_EQ(Export(to), 1);
        EXPECT_EQ(ReadFileBytes(book / "index.html"), kPage);
        EXPECT_EQ(ReadFileBytes(books / "index.js"), "shared index.js");
        EXPECT_EQ(ReadFileBytes(home.Home() / "notes.txt"), "mine");
    }
    EXPECT_FALSE(fs::exists(books / "other"));
}

TEST_F(ExportBookTest, InvalidKeysAndMissingBooksAreRefusedBeforeEmptying) {
    WriteFileBytes(dst / "keep.txt", "keep");
    for (const std::string& key : std::vector<std::string>{"../vAziruduues", "0123456789abcdef0123456789abcdef", "",
                                  "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", std::string(kKey) + "/.."}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Export(dst, key), 1);
        EXPECT_EQ(ReadFileBytes(dst / "keep.txt"), "keep");
    }
    EXPECT_EQ(ExportBook("relative/dir", kKey, books.string()), 1);
    EXPECT_EQ(ExportBook("", kKey, books.string()), 1);
}

// Workers of different jobs export at the same time: each export is complete and none
// disturbs another (the home-folder check runs in every one of them).
TEST_F(ExportBookTest, ConcurrentExportsEachProduceACompleteBook) {
    constexpr int kThreads = 4;
    std::vector<int> results(kThreads * 5, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                results[t * 5 + round] = Export(home.Root() / ("export" + std::to_string(t)));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int result : results) EXPECT_EQ(result, 0);
    for (int t = 0; t < kThreads; ++t) {
        const fs::path to = home.Root() / ("export" + std::to_string(t));
        EXPECT_EQ(ReadFileBytes(to / "HighRes/img-1.jpg"), "jpeg");
        EXPECT_EQ(ReadFileBytes(to / "index.html").find("../"), std::string::npos);
    }
}
