#include "pipeline/ExportBook.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

const char* const kKey = "0123456789ABCDEF0123456789ABCDEF";
// The template's own addresses of the shared files, and text from the PDF that looks
// like them (title, description) and must survive the export unchanged.
const std::string kPage =
    "<title>Doc ../ title ../index.js</title><meta name=\"description\" content=\"../index.js\">"
    "<script src=\"../index.js\"></script><link href=\"../RurovOzeza.v1.css\">"
    "<img src='../skins/2/a.png'><div data-print=\"../print.html\"></div>"
    "<a href=\"HighRes/img-1.jpg\">..</a>../";
const std::string kExportedPage =
    "<title>Doc ../ title ../index.js</title><meta name=\"description\" content=\"../index.js\">"
    "<script src=\" ./index.js\"></script><link href=\" ./RurovOzeza.v1.css\">"
    "<img src=' ./skins/2/a.png'><div data-print=\" ./print.html\"></div>"
    "<a href=\"HighRes/img-1.jpg\">..</a>../";

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
        guard.books_folder = books.string();
        guard.data_folder = (home.Root() / "data/Corvane/Vellumark/").string();
        guard.program_folder = (home.Root() / "program/").string();
        guard.pdf_path = (home.Root() / "pdfs/doc.pdf").string();
        WriteFileBytes(guard.data_folder + "config.ini", "[general]");
        WriteFileBytes(guard.program_folder + "rastrix", "engine");
        WriteFileBytes(guard.pdf_path, "%PDF");
        dst = home.Root() / "export";
    }
    int Export(const fs::path& to, const std::string& key = kKey) {
        return ExportBook(to.string(), key, guard);
    }
    // Nothing the program or the user keeps was touched.
    void ExpectKeptFilesIntact() {
        EXPECT_EQ(ReadFileBytes(book / "index.html"), kPage);
        EXPECT_EQ(ReadFileBytes(books / "index.js"), "shared index.js");
        EXPECT_EQ(ReadFileBytes(guard.data_folder + "config.ini"), "[general]");
        EXPECT_EQ(ReadFileBytes(guard.program_folder + "rastrix"), "engine");
        EXPECT_EQ(ReadFileBytes(guard.pdf_path), "%PDF");
    }

    TempHome home;
    ExportGuard guard;
    fs::path books, book, dst;
};

TEST_F(ExportBookTest, ExportMakesASelfContainedFolderAndRewritesOnlyTheTemplateAddresses) {
    EXPECT_EQ(Export(dst), 0);
    EXPECT_EQ(ReadFileBytes(dst / "HighRes/img-1.jpg"), "jpeg");
    EXPECT_EQ(ReadFileBytes(dst / "txt.js"), "text");
    EXPECT_EQ(ReadFileBytes(dst / "service.asp"), "shared service.asp");
    EXPECT_EQ(ReadFileBytes(dst / "RurovOzeza.v1.css"), "shared RurovOzeza.v1.css");
    EXPECT_EQ(ReadFileBytes(dst / "skins/2/a.png"), "skin");
    EXPECT_EQ(ReadFileBytes(dst / "index.html"), kExportedPage);
    EXPECT_EQ(ReadFileBytes(book / "index.html"), kPage);  // the book itself is untouched
    EXPECT_TRUE(IsEarlierExport(dst.string()));
}

TEST_F(ExportBookTest, AnEarlierExportIsReplacedWithoutFollowingLinks) {
    ASSERT_EQ(Export(dst), 0);
    WriteFileBytes(dst / "thumb/stale.jpg", "old");
    fs::create_directories(home.Root() / "keep");
    WriteFileBytes(home.Root() / "keep/precious", "mine");
    fs::create_directory_symlink(home.Root() / "keep", dst / "LowRes");

    EXPECT_EQ(Export(dst), 0);
    EXPECT_FALSE(fs::exists(dst / "thumb/stale.jpg"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dst / "LowRes")));
    EXPECT_EQ(ReadFileBytes(home.Root() / "keep/precious"), "mine");  // links are removed, not followed
    EXPECT_EQ(ReadFileBytes(dst / "index.html"), kExportedPage);
}

// A folder that holds anything but an earlier export is the user's: it is refused before
// anything is created or deleted, whatever else it holds.
TEST_F(ExportBookTest, AFolderThatIsNotAnExportIsRefusedAndKept) {
    WriteFileBytes(dst / "old.txt", "old");
    EXPECT_EQ(Export(dst), 1);
    EXPECT_EQ(ReadFileBytes(dst / "old.txt"), "old");
    EXPECT_FALSE(fs::exists(dst / "index.html"));

    // An export the user has added a file of their own to is theirs too.
    fs::remove(dst / "old.txt");
    ASSERT_EQ(Export(dst), 0);
    WriteFileBytes(dst / "notes.txt", "mine");
    EXPECT_FALSE(IsEarlierExport(dst.string()));
    EXPECT_EQ(Export(dst), 1);
    EXPECT_EQ(ReadFileBytes(dst / "notes.txt"), "mine");
    EXPECT_NE(ExportRefusal(dst.string(), guard).find("notes.txt"), std::string::npos);

    // A file is no folder.
    WriteFileBytes(home.Root() / "file", "x");
    EXPECT_EQ(Export(home.Root() / "file"), 1);
    EXPECT_EQ(ReadFileBytes(home.Root() / "file"), "x");
}

TEST_F(ExportBookTest, SubFolderNamesMadeFromPdfNamesStayInsideTheirFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"/in/...pdf", "book"},          {"/in/..pdf", "book"},
        {"/in/.pdf", "book"},            {"/in/.ssh.pdf", "ssh"},
        {"/in/Desktop.pdf", "Desktop"},  {"/in/Report.PDF", "Report"},
        {"/in/two\nlines.pdf", "two_lines"}, {"C:\\x\\win.pdf", "win"},
        {"/in/ . hidden .pdf", "hidden"}, {"/in/notes", "notes"},
    };
    for (const auto& [pdf, name] : cases)
        EXPECT_EQ(ExportFolderName(pdf), name) << pdf;
    // Long names are cut at a character boundary.
    std::string long_name;
    for (int i = 0; i < 150; ++i) long_name += "\xC3\xA9";  // é, two bytes each
    std::string cut = ExportFolderName("/in/" + long_name + ".pdf");
    EXPECT_LE(cut.size(), 200u);
    EXPECT_EQ(cut.size() % 2, 0u);
}

TEST_F(ExportBookTest, PageWithoutParentReferencesIsWrittenBackUnchanged) {
    const std::string page = "<p>a/b ./c .. .. ../x</p>\n..";
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

// Emptying any of these would destroy the user's books, settings, program, PDF or home:
// each is refused before anything is created or deleted.
TEST_F(ExportBookTest, DangerousDestinationsAreRefusedAndNothingIsDeleted) {
    WriteFileBytes(home.Home() / "notes.txt", "mine");
    fs::create_directory_symlink(books, home.Root() / "books-link");
    fs::create_directory_symlink(home.Home(), home.Root() / "home-link");

    fs::create_directories(home.Root() / "pdfs/sub");
    const fs::path refused[] = {
        guard.data_folder,
        home.Root() / "data",
        fs::path(guard.data_folder) / "inside",
        guard.program_folder,
        fs::path(guard.program_folder) / "out",
        home.Root() / "pdfs",
        guard.pdf_path,
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
        ExpectKeptFilesIntact();
        EXPECT_EQ(ReadFileBytes(home.Home() / "notes.txt"), "mine");
    }
    EXPECT_FALSE(fs::exists(books / "other"));  // nothing is created for a refused export
    EXPECT_FALSE(fs::exists(fs::path(guard.program_folder) / "out"));
}

TEST_F(ExportBookTest, InvalidKeysAndMissingBooksAreRefusedBeforeEmptying) {
    ASSERT_EQ(Export(dst), 0);  // an earlier export: only the key can refuse it
    for (const std::string& key : std::vector<std::string>{"../vAziruduues", "0123456789abcdef0123456789abcdef", "",
                                  "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", std::string(kKey) + "/.."}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Export(dst, key), 1);
        EXPECT_EQ(ReadFileBytes(dst / "index.html"), kExportedPage);
    }
    EXPECT_EQ(ExportBook("relative/dir", kKey, guard), 1);
    EXPECT_EQ(ExportBook("", kKey, guard), 1);
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
        EXPECT_EQ(ReadFileBytes(to / "index.html"), kExportedPage);
    }
}
