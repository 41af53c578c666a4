// The JPEG writer smooths images itself before encoding: its files must be byte for byte
// those of libjpeg smoothing them, gray and colour, at every size (partial blocks at the
// right and bottom edges, images narrower than a block) and smoothing factor. A page of
// one colour reuses its file: that file must be the one the writer makes for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "engine/JpegWriter.h"
#include "engine/UniformJpeg.h"

namespace {

struct Pixels {
    int width;
    int height;
    int components;
    ptrdiff_t stride;
    std::vector<unsigned char> samples;
};

// Noise with sharp edges and flat areas (white, saturated colours), rows with padding
// at their ends.
Pixels MakePixels(int width, int height, int components, unsigned seed)
{
    Pixels g{width, height, components, components * width + 5, {}};
    g.samples.assign(static_cast<size_t>(g.stride * height), 77);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) {
                int area = (x / 11 + y / 3) % 4;   // white runs longer than eight pixels
                g.samples[static_cast<size_t>(y * g.stride + components * x + c)] = static_cast<unsigned char>(
                    area == 0 ? 255 : area == 1 ? (c == 1 ? 255 : 0) : random() % 256);
            }
    return g;
}

std::vector<unsigned char> ReadAll(FILE* f)
{
    std::vector<unsigned char> bytes;
    std::rewind(f);
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f))
        bytes.push_back(static_cast<unsigned char>(c));
    return bytes;
}

std::vector<unsigned char> Ours(const Pixels& g, const JpegSettings& settings)
{
    FILE* f = std::tmpfile();
    std::string error;
    EXPECT_TRUE(WriteJpeg(f, g.samples.data(), g.width, g.height, g.stride, g.components, settings, error)) << error;
    std::vector<unsigned char> bytes = ReadAll(f);
    std::fclose(f);
    return bytes;
}

// libjpeg with its own smoothing, the settings otherwise as the writer's.
std::vector<unsigned char> Reference(const Pixels& g, const JpegSettings& settings)
{
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(g.width);
    cinfo.image_height = static_cast<JDIMENSION>(g.height);
    cinfo.input_components = g.components;
    cinfo.in_color_space = g.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, settings.quality, TRUE);
    cinfo.smoothing_factor = settings.smoothing;
    cinfo.optimize_coding = settings.optimize_coding ? TRUE : FALSE;
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = static_cast<UINT16>(settings.dpi);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&g.samples[static_cast<size_t>(g.stride * cinfo.next_scanline)]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

} // namespace

TEST(JpegWriter, SmoothedImagesAreTheFilesLibjpegWritesWhenItSmooths)
{
    struct Size {
        int width;
        int height;
    };
    for (int components : {1, 3})
        for (Size size : {Size{1, 1}, Size{5, 3}, Size{8, 8}, Size{9, 17}, Size{16, 16}, Size{31, 40}, Size{203, 97}})
            for (int smoothing : {1, 37, 100})
                for (bool optimize : {false, true}) {
                    SCOPED_TRACE(std::to_string(components) + " components " + std::to_string(size.width) + "x" +
                                 std::to_string(size.height) + " smoothing " + std::to_string(smoothing) +
                                 (optimize ? " optimized" : ""));
                    Pixels g = MakePixels(size.width, size.height, components,
                                          static_cast<unsigned>(size.width * 131 + smoothing));
                    JpegSettings settings;
                    settings.quality = smoothing == 37 ? 90 : 25;
                    settings.smoothing = smoothing;
                    settings.dpi = 120;
                    settings.optimize_coding = optimize;
                    std::vector<unsigned char> ours = Ours(g, settings);
                    ASSERT_GT(ours.size(), 100u);
                    EXPECT_TRUE(ours == Reference(g, settings));
                }
}

namespace {

Pixels OneColour(int width, int height, int components, const unsigned char* colour)
{
    Pixels g{width, height, components, components * width + 3, {}};
    g.samples.assign(static_cast<size_t>(g.stride * height), 0);   // the padding differs on purpose
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::copy(colour, colour + components, &g.samples[static_cast<size_t>(y * g.stride + components * x)]);
    return g;
}

// What the reuse writes for `g`, and what it answered.
std::vector<unsigned char> Reused(UniformJpeg& uniform, const Pixels& g, const JpegSettings& settings,
                                  UniformJpeg::Result& result)
{
    FILE* f = std::tmpfile();
    std::string error;
    result = uniform.Write(f, g.samples.data(), g.width, g.height, g.stride, g.components, settings, error);
    EXPECT_NE(result, UniformJpeg::Result::Failed) << error;
    std::vector<unsigned char> bytes = ReadAll(f);
    std::fclose(f);
    return bytes;
}

} // namespace

TEST(UniformJpeg, OneColourPagesGetTheWritersFileEvenWhenSizeColourOrSettingsChange)
{
    const unsigned char white[3] = {255, 255, 255};
    const unsigned char cream[3] = {250, 244, 222};
    JpegSettings base;
    base.quality = 25;
    base.smoothing = 100;
    base.dpi = 120;
    base.optimize_coding = true;
    struct Case {
        const char* name;
        int width, height, components;
        const unsigned char* colour;
        JpegSettings settings;
    };
    // One after the other through the same writer: each differs from the one before in
    // one thing, and a repeat must come from the remembered file.
    JpegSettings settings = base;
    auto then = [&](auto change) {
        change(settings);
        return settings;
    };
    const Case cases[] = {
        {"white gray page", 203, 97, 1, white, base},
        {"again", 203, 97, 1, white, base},
        {"other height", 203, 98, 1, white, base},
        {"other width", 9, 98, 1, white, base},
        {"colour page", 9, 98, 3, white, base},
        {"other colour", 9, 98, 3, cream, base},
        {"other quality", 9, 98, 3, cream, then([](JpegSettings& s) { s.quality = 90; })},
        {"no smoothing", 9, 98, 3, cream, then([](JpegSettings& s) { s.smoothing = 0; })},
        {"other dpi", 9, 98, 3, cream, then([](JpegSettings& s) { s.dpi = 64; })},
        {"standard tables", 9, 98, 3, cream, then([](JpegSettings& s) { s.optimize_coding = false; })},
        {"one pixel", 1, 1, 3, cream, settings},
    };
    UniformJpeg uniform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels g = OneColour(c.width, c.height, c.components, c.colour);
        UniformJpeg::Result result;
        std::vector<unsigned char> reused = Reused(uniform, g, c.settings, result);
        EXPECT_EQ(result, UniformJpeg::Result::Written);
        ASSERT_GT(reused.size(), 100u);
        EXPECT_TRUE(reused == Ours(g, c.settings));
    }
}

TEST(UniformJpeg, APageWithOneOtherPixelIsLeftToTheWriterAndAFullDiskIsAnError)
{
    const unsigned char white[3] = {255, 255, 255};
    UniformJpeg uniform;
    JpegSettings settings;
    for (int components : {1, 3})
        for (auto [x, y] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{40, 30}}) {
            SCOPED_TRACE(std::to_string(components) + " components, pixel " + std::to_string(x) + "," +
                         std::to_string(y));
            Pixels g = OneColour(41, 31, components, white);
            g.samples[static_cast<size_t>(y * g.stride + components * x + components - 1)] = 254;
            UniformJpeg::Result result;
            EXPECT_TRUE(Reused(uniform, g, settings, result).empty());
            EXPECT_EQ(result, UniformJpeg::Result::NotUniform);
        }

    FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    Pixels g = OneColour(64, 64, 3, white);
    std::string error;
    for (int attempt = 0; attempt < 2; ++attempt) {   // encoding first, then the remembered file
        error.clear();
        EXPECT_EQ(uniform.Write(full, g.samples.data(), g.width, g.height, g.stride, g.components, settings, error),
                  UniformJpeg::Result::Failed);
        EXPECT_FALSE(error.empty());
    }
    std::fclose(full);
}
