#include "engine/ReadingOrder.h"

#include <algorithm>

namespace {

enum class Kind { Ltr, Rtl, Digit, Separator, Neutral };

Kind KindOf(int c)
{
    if ((c >= '0' && c <= '9') || (c >= 0x0660 && c <= 0x0669) || (c >= 0x06F0 && c <= 0x06F9))
        return Kind::Digit;
    // Within a number: 3.14, 1,000, 12:30, 1/2 and the Arabic decimal and thousands signs.
    if (c == '.' || c == ',' || c == ':' || c == '/' || c == 0x066B || c == 0x066C)
        return Kind::Separator;
    // Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic and their presentation
    // forms, and the right-to-left scripts beyond the first plane.
    if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFE) ||
        (c >= 0x10800 && c <= 0x10FFF) || (c >= 0x1E800 && c <= 0x1EFFF))
        return Kind::Rtl;
    // Blanks, punctuation and symbols take the direction of the text around them.
    if (c < 0x30 || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0xBF) ||
        c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || c == 0xFEFF)
        return Kind::Neutral;
    return Kind::Ltr;
}

// Where a character stands along the line.
float Along(const fz_quad& q, fz_point dir)
{
    float x = (q.ll.x + q.lr.x + q.ul.x + q.ur.x) / 4, y = (q.ll.y + q.lr.y + q.ul.y + q.ur.y) / 4;
    return x * dir.x + y * dir.y;
}

// True when most right-to-left words of the line come letter by letter in the direction
// of the line (as they stand on the page), false when they go against it (in reading
// order already).
bool StoredAsShown(const std::vector<LineChar>& chars, const std::vector<Kind>& kind, fz_point dir)
{
    int forwards = 0, backwards = 0;
    for (size_t i = 0; i < chars.size();) {
        size_t end = i;
        while (end < chars.size() && kind[end] == Kind::Rtl)
            ++end;
        if (end - i >= 2) {
            float first = Along(chars[i].quad, dir), last = Along(chars[end - 1].quad, dir);
            forwards += last > first;
            backwards += last < first;
        }
        i = std::max(end, i + 1);
    }
    return forwards > backwards;
}

} // namespace

std::vector<LineChar> InReadingOrder(std::vector<LineChar> chars, fz_point dir)
{
    const size_t n = chars.size();
    std::vector<Kind> kind(n);
    int ltr = 0, rtl = 0;
    for (size_t i = 0; i < n; ++i) {
        kind[i] = KindOf(chars[i].c);
        ltr += kind[i] == Kind::Ltr;
        rtl += kind[i] == Kind::Rtl;
    }
    if (rtl == 0 || !StoredAsShown(chars, kind, dir))
        return chars;

    // What follows undoes the display order of the Unicode bidirectional algorithm in a
    // simple form: each character gets an embedding level (0 left to right, 1 right to
    // left, 2 left to right inside right-to-left text), and every run at level 2 or more
    // and then every run at level 1 or more is reversed. Shown text and reading order map
    // onto each other the same way in both directions. A line is right-to-left text when
    // most of its letters are.
    const bool rtl_line = rtl > ltr;
    const int ltr_level = rtl_line ? 2 : 0, base_level = rtl_line ? 1 : 0;
    for (size_t i = 0; i < n; ++i)
        if (kind[i] == Kind::Separator)
            kind[i] = i > 0 && i + 1 < n && kind[i - 1] == Kind::Digit && KindOf(chars[i + 1].c) == Kind::Digit
                          ? Kind::Digit
                          : Kind::Neutral;

    // The direction each character counts as: 'L', 'R', or 0 for a neutral.
    std::vector<char> dir_of(n, 0);
    std::vector<int> level(n, base_level);
    auto nearest_letter = [&](size_t from, int step) -> char {
        for (long i = static_cast<long>(from) + step; i >= 0 && i < static_cast<long>(n); i += step)
            if (kind[i] == Kind::Ltr || kind[i] == Kind::Rtl)
                return kind[i] == Kind::Ltr ? 'L' : 'R';
        return 0;
    };
    for (size_t i = 0; i < n;) {
        if (kind[i] == Kind::Ltr) {
            dir_of[i] = 'L';
            level[i++] = ltr_level;
        } else if (kind[i] == Kind::Rtl) {
            dir_of[i] = 'R';
            level[i++] = 1;
        } else if (kind[i] == Kind::Digit) {
            // A number beside a Latin word belongs to it; otherwise it is a number inside
            // right-to-left text, which still reads left to right.
            size_t end = i;
            while (end < n && kind[end] == Kind::Digit)
                ++end;
            bool latin = nearest_letter(i, -1) == 'L' || nearest_letter(end - 1, 1) == 'L';
            for (; i < end; ++i) {
                dir_of[i] = latin ? 'L' : 'R';
                level[i] = latin ? ltr_level : 2;
            }
        } else {
            ++i;
        }
    }
    // Neutrals between text of one direction take it; between different directions, and
    // at the ends of the line, that of the line.
    const char line_dir = rtl_line ? 'R' : 'L';
    for (size_t i = 0; i < n;) {
        if (dir_of[i]) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < n && !dir_of[end])
            ++end;
        char before = i > 0 ? dir_of[i - 1] : line_dir, after = end < n ? dir_of[end] : line_dir;
        int run_level = before != after ? base_level : before == 'R' ? 1 : ltr_level;
        for (; i < end; ++i)
            level[i] = run_level;
    }

    for (int at_least = 2; at_least >= 1; --at_least)
        for (size_t i = 0; i < n;) {
            if (level[i] < at_least) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < n && level[end] >= at_least)
                ++end;
            std::reverse(chars.begin() + static_cast<long>(i), chars.begin() + static_cast<long>(end));
            std::reverse(level.begin() + static_cast<long>(i), level.begin() + static_cast<long>(end));
            i = end;
        }
    return chars;
}

std::vector<LineChar> LineInReadingOrder(const fz_stext_line* line)
{
    std::vector<LineChar> chars;
    for (const fz_stext_char* ch = line->first_char; ch; ch = ch->next)
        chars.push_back({ch->c, ch->quad});
    return InReadingOrder(std::move(chars), line->dir);
}
