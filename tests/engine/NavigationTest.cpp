// Page labels, link addresses and the page-ordered writing of layout.js, in-process.
#include <gtest/gtest.h>

#include <thread>

#include "engine/LayoutFile.h"
#include "tests/helpers/TempHome.h"

TEST(EngineNavigation, PageNumbersInEveryLabelStyle)
{
    EXPECT_EQ(FormatPageNumber('D', 12), "12");
    EXPECT_EQ(FormatPageNumber('r', 4), "iv");
    EXPECT_EQ(FormatPageNumber('R', 1994), "MCMXCIV");
    EXPECT_EQ(FormatPageNumber('r', 5000), "5000");   // beyond roman numerals
    EXPECT_EQ(FormatPageNumber('A', 1), "A");
    EXPECT_EQ(FormatPageNumber('a', 27), "aa");
    EXPECT_EQ(FormatPageNumber('A', 53), "AAA");
    EXPECT_EQ(FormatPageNumber('a', 100000), "100000");
    EXPECT_EQ(FormatPageNumber(0, 7), "");
    EXPECT_EQ(FormatPageNumber('D', -3), "1");
}

TEST(EngineNavigation, LabelsFollowTheRangeEachPageFallsIn)
{
    DocumentNavigation nav;
    nav.label_ranges = {{2, 'r', "", 1}, {5, 'D', "A-", 3}, {7, 0, "Cover", 1}};
    EXPECT_EQ(nav.LabelOf(0), "");   // before the first range
    EXPECT_EQ(nav.LabelOf(2), "i");
    EXPECT_EQ(nav.LabelOf(4), "iii");
    EXPECT_EQ(nav.LabelOf(5), "A-3");
    EXPECT_EQ(nav.LabelOf(6), "A-4");
    EXPECT_EQ(nav.LabelOf(9), "Cover");
}

TEST(EngineNavigation, OnlyWebAndMailAddressesAreSafe)
{
    for (const char* ok : {"https://example.org/", "HTTP://example.org/x?a=1&b=2", "mailto:a@example.org"})
        EXPECT_TRUE(IsSafeExternalAddress(ok)) << ok;
    for (const char* bad : {"javascript:alert(1)", "JavaScript:alert(1)", "file:///etc/passwd", "data:text/html,x",
                            "vbscript:x", "https:", "http:/x", "mailto:", "no scheme", "https://a b",
                            "https://a\nb", "/relative/path", "ftp://example.org/"})
        EXPECT_FALSE(IsSafeExternalAddress(bad)) << bad;
    EXPECT_FALSE(IsSafeExternalAddress("https://" + std::string(3000, 'a')));
}

TEST(EngineNavigation, PageEntriesAreWrittenInPageOrderWhateverOrderTheyComeIn)
{
    TempHome home;
    DocumentNavigation nav;
    nav.outline = {{"Intro </script>", 2, 1}};
    nav.right_to_left = true;
    LayoutFileWriter writer(nav, 4);
    std::string error;
    std::string path = (home.Root() / "layout.js").string();
    ASSERT_TRUE(writer.Open(path, error)) << error;
    auto page = [](const char* word) {
        PageLayout p;
        p.width = 100;
        p.height = 200;
        p.words.push_back({word, fz_make_rect(10, 20, 60, 40), true});
        p.links.push_back({fz_make_rect(0, 0, 50, 100), 9, ""});   // beyond the book: left out
        return p;
    };
    std::thread later([&] { writer.Add(3, page("four")); });
    writer.Add(1, page("two"));
    writer.Add(0, page("one"));
    later.join();
    // Page 3 (index 2) never comes: it is written as an empty entry.
    ASSERT_TRUE(writer.Finish(error)) << error;
    // The line's top 20 of 200 points and its height up to 40: 410 and 819 - 410 units,
    // "Ga" "GZ"; the word 10..60 of 100 points: 410 and 2458 - 410 units, "Ga" "gA".
    EXPECT_EQ(ReadFileBytes(path),
              "window.VELLUMARK_BOOK_LAYOUT = {\"version\":1,\"unit\":4096,\"pageCount\":4,\"direction\":\"rtl\","
              "\"outline\":[\n{\"title\":\"Intro \\u003c/script\\u003e\",\"page\":2,\"level\":1}],\"pages\":[\n"
              "{\"w\":100,\"h\":200,\"lines\":\"GaGZGagA\",\"links\":[]},\n"
              "{\"w\":100,\"h\":200,\"lines\":\"GaGZGagA\",\"links\":[]},\n"
              "{\"w\":0,\"h\":0,\"lines\":\"\",\"links\":[]},\n"
              "{\"w\":100,\"h\":200,\"lines\":\"GaGZGagA\",\"links\":[]}\n]};\n");
}
