// Finishing the text layer: mapped to its palette in the same pass or finished as RGBA
// first, a layer comes out as the same pixels, whether its blended edges fit a palette or
// overflow it part-way down the page.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/ForegroundLayer.h"
#include "engine/PaletteImage.h"
#include "engine/PngWriter.h"
#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 90;
constexpr int kHeight = 60;

struct Layers {
    std::vector<unsigned char> text;         // premultiplied RGBA, as drawn
    std::vector<unsigned char> background;   // RGB
};

// Letters with soft edges (every coverage) over a background that is white above
// `picture_from` and a picture of many colours below it. The letters are of one dark
// colour, or with `rainbow` of more colours than a palette holds from `picture_from` on.
Layers MakeLayers(int picture_from, unsigned seed, bool rainbow = false)
{
    Layers l;
    l.text.assign(4u * kWidth * kHeight, 0);
    l.background.assign(3u * kWidth * kHeight, 255);
    std::mt19937 random(seed);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            unsigned char* b = &l.background[3u * (y * kWidth + x)];
            if (y >= picture_from) {
                b[0] = static_cast<unsigned char>(x * 2);
                b[1] = static_cast<unsigned char>(y * 4);
                b[2] = static_cast<unsigned char>(random());
            }
            if ((x / 3 + y / 4) % 3 == 0)
                continue;   // between letters
            unsigned a = random() % 4 == 0 ? random() % 256 : 255;
            unsigned char* p = &l.text[4u * (y * kWidth + x)];
            const bool many = rainbow && y >= picture_from;
            const unsigned colour[3] = {many ? 3u * x : 20u, many ? 4u * y : 30u, 90};
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<unsigned char>(colour[c] * a / 255);
            p[3] = static_cast<unsigned char>(a);
        }
    return l;
}

// The finished layer as written to a PNG file and read back; `as_palette` tells whether
// it was written from its palette image.
Raster Finish(Layers l, bool with_palette, bool single_bit, const fs::path& path, bool* as_palette = nullptr)
{
    PaletteImage palette;
    EXPECT_TRUE(palette.Start(kWidth, kHeight));
    FinishForegroundAlpha(l.text.data(), kWidth, kHeight, 4 * kWidth, l.background.data(), 3, 3 * kWidth,
                          single_bit, with_palette ? &palette : nullptr);
    PngWriter png;
    std::string error;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (as_palette)
        *as_palette = with_palette && palette.Complete();
    bool ok = with_palette && palette.Complete()
                  ? png.WritePalette(f, palette, 96, error)
                  : png.WriteRgba(f, l.text.data(), kWidth, kHeight, 4 * kWidth, 96, error);
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(std::fclose(f), 0);
    Raster out;
    EXPECT_TRUE(ReadPng(path, out)) << path;
    return out;
}

} // namespace

TEST(ForegroundLayer, PaletteInTheSamePassGivesTheSamePixelsAsFinishingFirst)
{
    TempHome home;
    struct Case {
        const char* name;
        int picture_from;   // row where the many-coloured background starts
        bool single_bit;
        bool rainbow = false;
    };
    // Over white the blended edges fit a palette; over the picture they overflow it,
    // from the first row or part-way down, and the edges are cut at half coverage. Text
    // of many colours overflows even that palette and is stored as RGBA.
    for (Case c : {Case{"white", kHeight, true}, Case{"picture", 0, true}, Case{"half", kHeight / 2, true},
                   Case{"smooth", kHeight / 2, false}, Case{"rainbow", kHeight / 3, true, true}}) {
        SCOPED_TRACE(c.name);
        Layers layers = MakeLayers(c.picture_from, 11, c.rainbow);
        bool as_palette = false;
        Raster fused =
            Finish(layers, true, c.single_bit, home.Root() / (std::string(c.name) + "-p.png"), &as_palette);
        EXPECT_EQ(as_palette, c.single_bit && !c.rainbow);
        Raster plain = Finish(layers, false, c.single_bit, home.Root() / (std::string(c.name) + "-r.png"));
        ASSERT_EQ(fused.width, kWidth);
        ASSERT_EQ(plain.width, kWidth);
        int opaque = 0;
        int partial = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const unsigned char* a = fused.At(x, y);
                const unsigned char* b = plain.At(x, y);
                ASSERT_TRUE(std::equal(a, a + 4, b)) << x << "," << y;
                opaque += a[3] == 255;
                partial += a[3] != 0 && a[3] != 255;
            }
        EXPECT_GT(opaque, kWidth * kHeight / 3);
        EXPECT_EQ(partial > 0, !c.single_bit);
    }
}
