// The engine's PNG writer: files decode to exactly the pixels given, in the smallest form
// the book folder allows (a palette of 1 to 8 bits when there are at most 255 opaque
// colours and no partial alpha, else RGBA); and the text layers of the test documents
// decode to the same pixels as the reference files written by the earlier libpng-based
// encoder, and take no more bytes than those altogether.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/PngWriter.h"
#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

struct Image {
    int width = 0;
    int height = 0;
    ptrdiff_t stride = 0;
    std::vector<unsigned char> rgba;
    unsigned char* At(int x, int y) { return &rgba[static_cast<size_t>(y * stride + 4 * x)]; }
};

Image Blank(int width, int height, int padding = 0)
{
    Image img;
    img.width = width;
    img.height = height;
    img.stride = 4 * width + padding;
    img.rgba.assign(static_cast<size_t>(img.stride * height), 0);
    return img;
}

// Colour type and bit depth from the header of a PNG file.
std::pair<int, int> TypeAndDepth(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> head(26);
    in.read(reinterpret_cast<char*>(head.data()), 26);
    return {head[25], head[24]};
}

fs::path Write(PngWriter& writer, const Image& img, const fs::path& path)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::string error;
    EXPECT_TRUE(writer.Write(f, img.rgba.data(), img.width, img.height, img.stride, 96, error)) << error;
    EXPECT_EQ(std::fclose(f), 0);
    return path;
}

// The decoded file holds exactly the image's pixels.
void ExpectSamePixels(const fs::path& path, const Image& img)
{
    Raster decoded;
    ASSERT_TRUE(ReadPng(path, decoded)) << path;
    ASSERT_EQ(decoded.width, img.width);
    ASSERT_EQ(decoded.height, img.height);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const unsigned char* want = &img.rgba[static_cast<size_t>(y * img.stride + 4 * x)];
            const unsigned char* got = decoded.At(x, y);
            ASSERT_TRUE(std::equal(want, want + 4, got)) << path << " at " << x << "," << y;
        }
}

} // namespace

TEST(PngWriter, FewColoursBecomeAPaletteOfTheSmallestDepthAndDecodeExactly)
{
    TempHome home;
    PngWriter writer;   // one writer for every image, as a worker uses it
    struct Case {
        int colours;
        int depth;
    };
    for (Case c : {Case{1, 1}, Case{3, 2}, Case{12, 4}, Case{200, 8}})
        for (int width : {1, 7, 13, 333}) {
            // Tall enough that every colour appears.
            Image img = Blank(width, 9 + 2 * c.colours / width);
            int opaque = 0;
            for (int y = 0; y < img.height; ++y)
                for (int x = 0; x < width; ++x) {
                    if ((x + y) % 3 == 0)
                        continue;   // transparent
                    int k = opaque++ % c.colours;
                    unsigned char* p = img.At(x, y);
                    p[0] = static_cast<unsigned char>(k);
                    p[1] = static_cast<unsigned char>(255 - k);
                    p[2] = static_cast<unsigned char>(k * 3);
                    p[3] = 255;
                }
            fs::path path = home.Root() / ("p" + std::to_string(c.colours) + "-" + std::to_string(width) + ".png");
            Write(writer, img, path);
            SCOPED_TRACE(path.string());
            ExpectSamePixels(path, img);
            EXPECT_EQ(TypeAndDepth(path), std::make_pair(3, c.depth));
        }
}

TEST(PngWriter, PartialAlphaManyColoursAndNoiseStayRgbaAndDecodeExactly)
{
    TempHome home;
    PngWriter writer;
    // Smooth edges (partial alpha), in rows with padding at their ends.
    Image smooth = Blank(50, 20, 12);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 50; ++x) {
            unsigned char* p = smooth.At(x, y);
            p[0] = 10;
            p[1] = 20;
            p[2] = static_cast<unsigned char>(x);
            p[3] = static_cast<unsigned char>(x * 5);
        }
    // 256 opaque colours: one more than a palette with its transparent entry holds.
    Image many = Blank(256, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x) {
            unsigned char* p = many.At(x, y);
            p[0] = static_cast<unsigned char>(x);
            p[1] = p[2] = 0;
            p[3] = 255;
        }
    // Noise does not compress: the writer must find room for more than half its size.
    Image noise = Blank(300, 200);
    std::mt19937 random(7);
    for (unsigned char& v : noise.rgba)
        v = static_cast<unsigned char>(random());
    int n = 0;
    for (const Image* img : {&smooth, &many, &noise, &smooth}) {
        fs::path path = home.Root() / ("rgba" + std::to_string(n++) + ".png");
        Write(writer, *img, path);
        SCOPED_TRACE(path.string());
        ExpectSamePixels(path, *img);
        EXPECT_EQ(TypeAndDepth(path), std::make_pair(6, 8));
    }
}

TEST(PngWriter, TextLayersOfTheTestDocumentsDecodeAsBeforeAndTakeNoMoreBytes)
{
    const fs::path reference = SourceDir() / "tests/engine/data/reference-layers";
    const std::string sample = (SourceDir() / "data/samples/sample.pdf").string();
    struct Case {
        std::string reference;
        std::vector<std::string> args;   // writes img-N-f.png for the page
        std::string file;
    };
    const std::vector<Case> cases = {
        // Single-bit alpha: letters blended over the paper (palette of 4 and 8 bits) ...
        {"text3-p1-single-bit.png", {"-png-single-bit-alpha", "-page", "1", Fixture("text3.pdf")}, "img-1-f.png"},
        {"sample-p1-single-bit.png", {"-png-single-bit-alpha", "-page", "1", sample}, "img-1-f.png"},
        {"sample-p2-single-bit.png", {"-png-single-bit-alpha", "-page", "2", sample}, "img-2-f.png"},
        // ... and cut at half coverage over a picture (1 bit).
        {"mixed-single-bit.png", {"-png-single-bit-alpha", Fixture("mixed.pdf")}, "img-1-f.png"},
        // Smooth edges: RGBA.
        {"text3-p1-smooth.png", {"-page", "1", Fixture("text3.pdf")}, "img-1-f.png"},
        {"mixed-smooth.png", {Fixture("mixed.pdf")}, "img-1-f.png"},
    };
    TempHome home;
    uintmax_t bytes_now = 0, bytes_before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        fs::path dir = home.Root() / c.reference;
        std::vector<std::string> args = {"-r", "60", "-bf", "-d", dir.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = RunRastrix(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        Raster now, before;
        ASSERT_TRUE(ReadPng(dir / c.file, now));
        ASSERT_TRUE(ReadPng(reference / c.reference, before));
        ASSERT_EQ(now.width, before.width);
        ASSERT_EQ(now.height, before.height);
        EXPECT_TRUE(now.pixels == before.pixels);
        EXPECT_EQ(TypeAndDepth(dir / c.file), TypeAndDepth(reference / c.reference));
        bytes_now += fs::file_size(dir / c.file);
        bytes_before += fs::file_size(reference / c.reference);
    }
    // A nearly empty layer may come out a few dozen bytes larger; text-heavy ones smaller.
    EXPECT_LE(bytes_now, bytes_before);
}
