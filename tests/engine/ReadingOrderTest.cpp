// Lines of right-to-left text come out in reading order, whichever way the PDF stores
// their glyphs, and each character keeps its place on the page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/ReadingOrder.h"

namespace {

// The characters of `text` standing left to right, 10 points apart, as a PDF writer sets
// them when it stores glyphs in the order they are shown.
std::vector<LineChar> Shown(const std::string& text, float step = 10)
{
    std::vector<LineChar> out;
    float x = step > 0 ? 0 : 1000;
    for (const char* s = text.c_str(); *s;) {
        int rune = 0;
        s += fz_chartorune(&rune, s);
        out.push_back({rune, fz_quad_from_rect(fz_make_rect(x, 0, x + 8, 10))});
        x += step;
    }
    return out;
}

std::string Text(const std::vector<LineChar>& chars)
{
    std::string out;
    for (const LineChar& ch : chars) {
        char buf[FZ_UTFMAX];
        out.append(buf, static_cast<size_t>(fz_runetochar(buf, ch.c)));
    }
    return out;
}

const fz_point kRightwards = {1, 0};

} // namespace

TEST(EngineReadingOrder, RightToLeftTextStoredAsShownIsReadRightToLeft)
{
    // {as shown from left to right, in reading order}; Hebrew letters alef, bet, gimel, ...
    const char* cases[][2] = {
        {"דג בא", "אב גד"},
        // Punctuation at the end of the sentence stands at its left.
        {".דג ,בא", "אב, גד."},
        // Numbers read left to right inside right-to-left text, apart when apart.
        {"דג 2024 בא", "אב 2024 גד"},
        {"דג 3.14 12 בא", "אב 12 3.14 גד"},
        // Latin words inside a right-to-left line (most of its letters), with the number
        // that belongs to them.
        {"חזוה PDF 2 דגבא", "אבגד PDF 2 הוזח"},
        {"חזוה PDF A4 דגבא", "אבגד PDF A4 הוזח"},
        // Right-to-left words inside a left-to-right line.
        {"see דג בא here", "see אב גד here"},
        // Arabic letters (alef, lam, ain) likewise.
        {"\u0639\u0644\u0627 abc", "\u0627\u0644\u0639 abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text(InReadingOrder(Shown(c[0]), kRightwards)), c[1]) << c[0];
}

TEST(EngineReadingOrder, LinesAlreadyInReadingOrderStayAsTheyAre)
{
    // Right-to-left glyphs stored in reading order step leftwards on the page.
    std::vector<LineChar> stored = Shown("אב גד 2024", -10);
    EXPECT_EQ(Text(InReadingOrder(stored, kRightwards)), "אב גד 2024");
    EXPECT_EQ(Text(InReadingOrder(Shown("plain text, 12 words."), kRightwards)), "plain text, 12 words.");
    EXPECT_EQ(Text(InReadingOrder(Shown("א b"), kRightwards)), "א b");   // one letter: no way to tell
}

TEST(EngineReadingOrder, EveryCharacterKeepsItsPlace)
{
    std::vector<LineChar> shown = Shown("דג בא"), read = InReadingOrder(shown, kRightwards);
    ASSERT_EQ(read.size(), shown.size());
    // Alef is read first and stands rightmost.
    EXPECT_EQ(read[0].c, 0x05D0);
    EXPECT_EQ(read[0].quad.ll.x, shown[4].quad.ll.x);
    EXPECT_EQ(read[4].c, 0x05D3);
    EXPECT_EQ(read[4].quad.ll.x, shown[0].quad.ll.x);
}
