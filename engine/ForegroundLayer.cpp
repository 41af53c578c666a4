#include "engine/ForegroundLayer.h"

#include <cstdint>
#include <cstring>

#include "engine/PaletteImage.h"
#include "engine/PixelScan.h"

namespace {

// Coverage quantised to four levels, 0 when the pixel is left to the background.
unsigned CoverageLevel(unsigned a)
{
    if (a < kOpaqueFrom)
        return 0;
    if (a < 96)
        return 64;
    if (a < 160)
        return 128;
    if (a < 224)
        return 192;
    return 255;
}

// Straight colour values by alpha and premultiplied value, rounded and capped at 255:
// a look-up instead of three divisions per edge pixel.
class Unpremultiply {
public:
    Unpremultiply()
    {
        for (unsigned a = 1; a < 256; ++a)
            for (unsigned v = 0; v < 256; ++v) {
                unsigned s = (v * 255u + a / 2) / a;
                table_[a][v] = static_cast<unsigned char>(s > 255 ? 255 : s);
            }
    }
    unsigned char operator()(unsigned a, unsigned v) const { return table_[a][v]; }

private:
    unsigned char table_[256][256] = {};
};

// Small set of RGB keys that gives up beyond 255 members.
class ColourSet {
public:
    bool Add(uint32_t key)
    {
        if (key == last_)
            return true;
        last_ = key;
        uint32_t slot = (key * 2654435761u) >> 22;   // 1024 slots
        while (used_[slot]) {
            if (keys_[slot] == key)
                return true;
            slot = (slot + 1) & 1023;
        }
        if (++count_ > 255)
            return false;
        used_[slot] = true;
        keys_[slot] = key;
        return true;
    }

private:
    uint32_t keys_[1024] = {};
    bool used_[1024] = {};
    uint32_t last_ = 0xFFFFFFFFu;
    int count_ = 0;
};

// What the one-pass loop worked out for an edge pixel over a given background colour:
// the letters of a page repeat the same few edge pixels over the same paper, so most are
// looked up here instead of being straightened and blended again. Valid for one page
// (the palette entries are the page's own).
class EdgeMemo {
public:
    struct Slot {
        uint64_t key = 0;        // MemoKey() of the pixel; 0 = free
        uint32_t straight = 0;   // the pixel as straighten() leaves it
        int entry = 0;           // its palette entry, 0 when left to the background
    };
    // The premultiplied pixel and the colour under it, made non-zero.
    static uint64_t MemoKey(uint32_t pixel, uint32_t under) { return (uint64_t(under) << 32 | pixel) + 1; }
    Slot& At(uint64_t key) { return slots_[(key * 0x9E3779B97F4A7C15ull) >> 56]; }

private:
    Slot slots_[256];
};

unsigned char Blend(unsigned text, unsigned under, unsigned level)
{
    return static_cast<unsigned char>((text * level + under * (255u - level) + 127u) / 255u);
}

} // namespace

void FinishForegroundAlpha(unsigned char* samples, int width, int height, ptrdiff_t stride,
                           const unsigned char* background, int background_components,
                           ptrdiff_t background_stride, bool single_bit, PaletteImage* palette)
{
    static const Unpremultiply unpremultiply;
    const int bc = background_components == 1 ? 1 : 3;
    const int step[3] = {0, bc == 1 ? 0 : 1, bc == 1 ? 0 : 2};   // channel offsets in a background pixel
    // Rows go to the palette image while it can hold them.
    auto add_row = [&](const unsigned char* row) {
        if (palette && !palette->AddRow(row))
            palette = nullptr;
    };
    // Straight colour of a non-empty pixel, its alpha replaced by its coverage level (the
    // alpha itself without single-bit); a pixel left to the background becomes empty.
    // Returns the level.
    auto straighten = [&](unsigned char* p) {
        unsigned a = p[3];
        unsigned level = single_bit ? CoverageLevel(a) : a;
        if (level == 0) {
            p[0] = p[1] = p[2] = p[3] = 0;
            return 0u;
        }
        if (a != 255)
            for (int c = 0; c < 3; ++c)
                p[c] = unpremultiply(a, p[c]);
        p[3] = static_cast<unsigned char>(level);
        return level;
    };
    auto blended = [&](const unsigned char* p, const unsigned char* u, unsigned level) {
        return (uint32_t(Blend(p[0], u[step[0]], level)) << 16) | (uint32_t(Blend(p[1], u[step[1]], level)) << 8) |
               Blend(p[2], u[step[2]], level);
    };
    // Most of a text layer is empty: a transparent premultiplied pixel is four zero
    // bytes, and runs of them are skipped in large steps.
    bool blend = single_bit && background != nullptr;
    int y = 0;
    if (blend && palette && palette->Empty(width, height)) {
        EdgeMemo memo;
        // The usual case, in one pass: every pixel is straightened, blended over the
        // background at its level and mapped straight to its palette entry, so the
        // samples are read once. The samples themselves are left straightened only:
        // the palette image is the finished layer. When the blended colours overflow
        // the palette, the rest of the page is straightened and the layer is finished
        // below without blending, exactly as if it had been counted first.
        for (; y < height && blend; ++y) {
            unsigned char* row = samples + stride * y;
            const unsigned char* b = background + background_stride * y;
            unsigned char* entries = palette->BeginRow();
            RowEntries lookup(palette);
            for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
                unsigned char* p = row + 4 * x;
                if (!blend) {
                    straighten(p);   // the rest of the row a failed palette leaves to the passes below
                    continue;
                }
                int entry;
                if (p[3] == 255) {
                    // A fully covered pixel keeps the text colour: no blending to do.
                    entry = lookup.Of(RgbKey(p));
                } else {
                    const unsigned char* u = b + bc * x;
                    uint32_t under = (uint32_t(u[step[0]]) << 16) | (uint32_t(u[step[1]]) << 8) | u[step[2]];
                    uint64_t memo_key = EdgeMemo::MemoKey(PixelAt(row, x), under);
                    EdgeMemo::Slot& slot = memo.At(memo_key);
                    if (slot.key == memo_key) {
                        std::memcpy(p, &slot.straight, 4);
                    } else {
                        unsigned level = straighten(p);
                        slot.key = memo_key;
                        std::memcpy(&slot.straight, p, 4);
                        slot.entry = level == 0 ? 0 : palette->Entry(blended(p, u, level));
                    }
                    entry = slot.entry;
                }
                if (entry < 0)
                    blend = false;
                else
                    entries[x] = static_cast<unsigned char>(entry);
            }
            if (blend)
                palette->EndRow();
        }
        if (blend)
            return;
        // Blending needs more colours than a palette holds: the rows added so far go.
        if (!palette->Start(width, height))
            palette = nullptr;
    }

    if (single_bit && !blend) {
        // Without blending (text over pictures, whose blended edges overflow a palette)
        // edges are decided by a plain half-coverage threshold, keeping the file small.
        // Each row is finished in one pass: straightened (the rows above `straightened`
        // already are), cut and mapped to its palette entries.
        const int straightened = y;
        for (y = 0; y < height; ++y) {
            unsigned char* row = samples + stride * y;
            unsigned char* entries = palette ? palette->BeginRow() : nullptr;
            RowEntries lookup(palette);
            for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
                unsigned char* p = row + 4 * x;
                unsigned level = y < straightened ? p[3] : straighten(p);
                if (level == 0)
                    continue;
                if (level < 128) {
                    p[0] = p[1] = p[2] = p[3] = 0;
                    continue;
                }
                p[3] = 255;
                if (!entries)
                    continue;
                int entry = lookup.Of(RgbKey(p));
                if (entry < 0)
                    entries = nullptr;   // more than 255 colours: the layer is written as RGBA
                else
                    entries[x] = static_cast<unsigned char>(entry);
            }
            if (entries)
                palette->EndRow();
            else
                palette = nullptr;
        }
        return;
    }

    // First pass: straight colours; in single-bit mode the alpha becomes a coverage
    // level, and the colours that blending would need are counted.
    ColourSet colours;
    for (; y < height; ++y) {
        unsigned char* row = samples + stride * y;
        const unsigned char* b = background ? background + background_stride * y : nullptr;
        for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
            unsigned char* p = row + 4 * x;
            unsigned level = straighten(p);
            if (level != 0 && blend)
                blend = colours.Add(blended(p, b + bc * x, level));
        }
        if (!single_bit)
            add_row(row);
    }
    if (!single_bit)
        return;

    // Second pass: edge pixels take the text colour blended over the uncompressed
    // background at their coverage level, i.e. (nearly) the colour the full page has
    // there. When that needs more colours than a palette holds (text over pictures),
    // edges are decided by a plain half-coverage threshold instead, keeping the file small.
    for (y = 0; y < height; ++y) {
        unsigned char* row = samples + stride * y;
        const unsigned char* b = background ? background + background_stride * y : nullptr;
        for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
            unsigned char* p = row + 4 * x;
            if (p[3] == 255)
                continue;
            unsigned level = p[3];
            if (blend) {
                for (int c = 0; c < 3; ++c)
                    p[c] = Blend(p[c], b[bc * x + step[c]], level);
            } else if (level < 128) {
                p[0] = p[1] = p[2] = p[3] = 0;
                continue;
            }
            p[3] = 255;
        }
        add_row(row);
    }
}
