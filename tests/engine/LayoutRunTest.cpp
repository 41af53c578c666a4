// layout.js from the search run: page sizes, word boxes, links, labels, outline and
// reading direction, checked against what the test document's generator put in the PDF
// (tests/engine/check_layout.py compares the two).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

// Runs the comparison script; its output lists every difference.
std::string CompareLayout(const fs::path& layout, const std::string& expected)
{
    std::string command = "python3 '" + (SourceDir() / "tests/engine/check_layout.py").string() + "' '" +
                          layout.string() + "' '" + expected + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
            output.append(buf, n);
        if (pclose(pipe) != 0 && output.empty())
            output = "the comparison failed without a message";
    } else {
        output = "cannot run the comparison";
    }
    return output;
}

} // namespace

TEST(RastrixLayout, MatchesWhatTheGeneratorPutInThePdf)
{
    TempHome home;
    fs::path book = home.Root() / "BOOK";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "100", "-title", "t",
                              Fixture("navigation.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(CompareLayout(book / "layout.js", Fixture("navigation.expected.json")), "");

    // Links to scripts, local files, data addresses and programs are not in the book at all.
    std::string layout = ReadFileBytes(book / "layout.js");
    for (const char* hostile : {"javascript", "file:", "data:", "/bin/sh", "alert", "passwd"})
        EXPECT_EQ(layout.find(hostile), std::string::npos) << hostile;
    // Nothing in the file can end the script element that loads it.
    EXPECT_EQ(layout.find('<'), std::string::npos);
}

TEST(RastrixLayout, PagesStayInOrderWithManyWorkersAndPlainDocumentsGetNoExtras)
{
    TempHome home;
    fs::path book = home.Root() / "BOOK";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "t",
                              Fixture("pages100.pdf")},
                             {"RASTRIX_THREADS=4"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string layout = ReadFileBytes(book / "layout.js");
    ASSERT_EQ(layout.rfind("window.VELLUMARK_BOOK_LAYOUT = {\"version\":1,\"unit\":10000,\"pageCount\":100,"
                           "\"direction\":\"ltr\",\"outline\":[],\"pages\":[\n",
                           0),
              0u)
        << layout.substr(0, 200);
    EXPECT_EQ(layout.find("\"label\""), std::string::npos);
    size_t at = 0;
    for (int n = 1; n <= 100; ++n) {
        // Every seventh page is a picture without text.
        std::string start = n % 7 ? "\"text\":\"Page " + std::to_string(n) + " heading\\nThis is page" : "\"text\":\"\"";
        size_t found = layout.find(start, at);
        ASSERT_NE(found, std::string::npos) << "page " << n;
        at = found + 1;
    }
    EXPECT_EQ(layout.substr(layout.size() - 7), "]}\n]};\n");
}

TEST(RastrixLayout, APageThatFailsKeepsItsPlaceAsAnEmptyEntry)
{
    TempHome home;
    fs::path book = home.Root() / "BOOK";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "t",
                              Fixture("slow-page.pdf")},
                             {"RASTRIX_PAGE_SECONDS=1"});
    EXPECT_NE(r.exit_code, 0);
    std::string layout = ReadFileBytes(book / "layout.js");
    size_t p1 = layout.find("\"text\":\"Page 1 heading");
    size_t empty = layout.find("{\"w\":0,\"h\":0,\"text\":\"\",\"boxes\":[],\"links\":[]}");
    size_t p3 = layout.find("\"text\":\"Page 3 heading");
    ASSERT_NE(p1, std::string::npos);
    ASSERT_NE(empty, std::string::npos);
    ASSERT_NE(p3, std::string::npos);
    EXPECT_LT(p1, empty);
    EXPECT_LT(empty, p3);
}
