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
    // In half points: the line's top 40, folded 80 = 1 * 56 + 24, "5Y"; its height 40,
    // "o"; the word's left edge 20, folded 40, "o"; its width 100 = 1 * 56 + 44, "5s".
    EXPECT_EQ(ReadFileBytes(path),
              "window.VELLUMARK_BOOK_LAYOUT = {\"version\":2,\"unit\":2,\"pageCount\":4,\"direction\":\"rtl\","
              "\"outline\":[\n{\"title\":\"Intro \\u003c/script\\u003e\",\"page\":2,\"level\":1}],\"pages\":[\n"
              "{\"w\":100,\"h\":200,\"lines\":\"5Yoo5s\"},\n"
              "{\"w\":100,\"h\":200,\"lines\":\"5Yoo5s\"},\n"
              "{\"w\":0,\"h\":0,\"lines\":\"\"},\n"
              "{\"w\":100,\"h\":200,\"lines\":\"5Yoo5s\"}\n]};\n");
}

TEST(EngineNavigation, WordBoxesAreWrittenAsDifferencesInHalfPoints)
{
    PageLayout p;
    p.width = 100;
    p.height = 200;
    auto word = [&](float x0, float y0, float x1, float y1, bool starts_line) {
        p.words.push_back({"w", fz_make_rect(x0, y0, x1, y1), starts_line});
    };
    word(10, 20, 60, 40, true);   // as above: "5Yoo5s"
    word(70, 22, 90, 38, false);  // 10 points after the last word, 20 wide: "o" "o"
    // A line higher up than the last one, left of its first word, with a word to the left
    // of the one before it (as right-to-left words stand): top 20 - 80 = -60, folded 119
    // = 2 * 56 + 7, "6H"; height 16 "Q"; left 10 - 20 = -10, folded 19 "T"; width 20 "U";
    // then 0 - 30 = -30, folded 59 = 1 * 56 + 3, "5D", and width 8 "I".
    word(5, 10, 15, 18, true);
    word(0, 10, 4, 18, false);
    // A box reaching beyond the page is cut at its edge: top 300 - 36 = 264, folded 528
    // = 9 * 56 + 24 with 9 = 11 in base 8, "55Y"; height 400 - 300 = 100 "5s"; left
    // 180 - 10 = 170, folded 340 = 6 * 56 + 4, "-E"; width 200 - 180 = 20 "U".
    word(90, 150, 130, 210, true);
    p.links.push_back({fz_make_rect(10, 20, 60, 40), 2, ""});
    p.links.push_back({fz_make_rect(0, 0, 5, 5), 3, ""});   // beyond a two-page book: left out
    EXPECT_EQ(MakeLayoutPage(p, "", 2),
              "{\"w\":100,\"h\":200,\"lines\":\"5Yoo5soo6HQTU5DI55Y5s-EU\",\"links\":[[20,40,100,40,2]]}");
}
