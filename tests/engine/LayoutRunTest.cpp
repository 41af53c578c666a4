// layout.js from the search run: page sizes, word boxes, links, labels, outline and
// reading direction, checked against what the test document's generator put in the PDF
// (tests/engine/check_layout.py compares the two).
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

// Runs the comparison script; its output lists every difference.
std::string CompareLayout(const fs::path& book, const std::string& expected)
{
    std::string command = "python3 '" + (SourceDir() / "tests/engine/check_layout.py").string() + "' '" +
                          book.string() + "' '" + expected + "' 2>&1";
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

// The numbers of a page's "lines": digits from 56 up carry a number's high part.
std::vector<long> LayoutNumbers(const std::string& packed)
{
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::vector<long> out;
    long high = 0;
    for (char c : packed) {
        long d = static_cast<long>(digits.find(c));
        if (d >= 56) {
            high = high * 8 + d - 56;
        } else {
            out.push_back(high * 56 + d);
            high = 0;
        }
    }
    return out;
}

} // namespace

TEST(RastrixLayout, MatchesWhatTheGeneratorPutInThePdf)
{
    TempHome home;
    fs::path book = home.Root() / "BOOK";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "100", "-title", "t",
                              Fixture("navigation.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(CompareLayout(book, Fixture("navigation.expected.json")), "");

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
    ASSERT_EQ(layout.rfind("window.VELLUMARK_BOOK_LAYOUT = {\"version\":2,\"unit\":2,\"pageCount\":100,"
                           "\"direction\":\"ltr\",\"outline\":[],\"pages\":[\n",
                           0),
              0u)
        << layout.substr(0, 200);
    EXPECT_EQ(layout.find("\"label\""), std::string::npos);
    // Every page's entry in order: a text page starts with the heading line, whose top
    // lies 60 points minus the heading's ascent below the page top (A4: 841.89 points),
    // "Page" 50 points from the left. Every seventh page is a picture without words.
    size_t at = 0;
    for (int n = 1; n <= 100; ++n) {
        size_t found = layout.find("\"lines\":\"", at);
        ASSERT_NE(found, std::string::npos) << "page " << n;
        std::string packed = layout.substr(found + 9, layout.find('"', found + 9) - found - 9);
        if (n % 7 == 0) {
            EXPECT_EQ(packed, "") << "page " << n;
        } else {
            // The first line's top and first word's left edge are differences from the
            // page's edges: half points, folded (0, -1, 1, ... as 0, 1, 2, ...).
            std::vector<long> v = LayoutNumbers(packed);
            ASSERT_GE(v.size(), 4u) << "page " << n;
            EXPECT_NEAR(v[2] / 2 / 2.0, 50.0, 0.3) << "page " << n;
            EXPECT_NEAR(v[0] / 2 / 2.0, 60.0 - 20 * 0.9, 6.0) << "page " << n;
        }
        at = found + 1;
    }
    // No page of this document has links, so no entry has "links".
    EXPECT_EQ(layout.find("\"links\""), std::string::npos);
    EXPECT_EQ(layout.substr(layout.size() - 7), "\"}\n]};\n");
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
    // Page 2 is stopped: the second of three entries, empty.
    const std::string empty = "{\"w\":0,\"h\":0,\"lines\":\"\"}";
    size_t first = layout.find("{\"w\":595.28,\"h\":841.89,\"lines\":\"");
    size_t second = layout.find(",\n" + empty + ",\n{\"w\":595.28,\"h\":841.89,\"lines\":\"");
    ASSERT_NE(first, std::string::npos) << layout;
    ASSERT_NE(second, std::string::npos) << layout;
    EXPECT_LT(first, second);
}
