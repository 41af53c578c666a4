#include "engine/PngWriter.h"

#include "engine/PixelScan.h"

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <png.h>
#include <vector>
#include <zlib.h>

namespace {

struct Palette {
    // Entry 0 is the transparent colour; entries 1.. hold opaque RGB colours.
    png_color colors[256];
    int count = 1;
    int bit_depth = 8;
    // Open-addressing map from 0xRRGGBB to entry; slots hold key + 1 (0 = free).
    uint32_t slot_key[1024] = {};
    uint8_t slot_index[1024] = {};

    static uint32_t Slot(uint32_t key) { return (key * 2654435761u) >> 22; }

    // Index of `key`, adding it when new; -1 when the palette is full.
    int Find(uint32_t key)
    {
        uint32_t slot = Slot(key);
        while (slot_key[slot]) {
            if (slot_key[slot] == key + 1)
                return slot_index[slot];
            slot = (slot + 1) & 1023;
        }
        if (count == 256)
            return -1;
        slot_key[slot] = key + 1;
        slot_index[slot] = static_cast<uint8_t>(count);
        colors[count] = png_color{static_cast<png_byte>(key >> 16), static_cast<png_byte>(key >> 8),
                                  static_cast<png_byte>(key)};
        return count++;
    }
};

inline uint32_t Pixel(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint32_t Key(const unsigned char* p)
{
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

// Finds a palette for an image whose alpha is only 0 or 255; false when the image has
// partial alpha or more than 255 opaque colours.
bool FindPalette(const unsigned char* samples, int width, int height, ptrdiff_t stride, Palette& pal)
{
    pal.colors[0] = png_color{0, 0, 0};
    uint32_t last = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = samples + stride * y;
        for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
            const unsigned char* p = row + 4 * x;
            uint32_t v = Pixel(p);
            if (v == last || p[3] == 0)
                continue;
            if (p[3] != 255 || pal.Find(Key(p)) < 0)
                return false;
            last = v;
        }
    }
    pal.bit_depth = pal.count <= 2 ? 1 : pal.count <= 4 ? 2 : pal.count <= 16 ? 4 : 8;
    return true;
}

// Packs one RGBA row into palette indices of `bit_depth` bits.
void PackRow(const unsigned char* src, int width, Palette& pal, unsigned char* row)
{
    int per_byte = 8 / pal.bit_depth;
    std::memset(row, 0, static_cast<size_t>((width + per_byte - 1) / per_byte));
    uint32_t last = 0;
    int last_index = 0;
    for (int x = NextNonEmpty(src, 0, width); x < width; x = NextNonEmpty(src, x + 1, width)) {
        const unsigned char* p = src + 4 * x;
        if (p[3] == 0)
            continue;
        uint32_t v = Pixel(p);
        if (v != last) {
            last = v;
            last_index = pal.Find(Key(p));
        }
        int shift = 8 - pal.bit_depth * (x % per_byte + 1);
        row[x / per_byte] = static_cast<unsigned char>(row[x / per_byte] | (last_index << shift));
    }
}

// Kept free of C++ objects with destructors: libpng reports errors by longjmp.
bool Encode(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
            int dpi, Palette* pal, unsigned char* row, char* message)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        std::strcpy(message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::strcpy(message, "libpng failure");
        return false;
    }
    png_init_io(png, out);
    png_uint_32 ppm = static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    if (pal) {
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     pal->bit_depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_PLTE(png, info, pal->colors, pal->count);
        png_byte trans[1] = {0};
        png_set_tRNS(png, info, trans, 1, nullptr);
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_set_compression_level(png, 6);
    } else {
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_filter(png, 0, PNG_FILTER_SUB | PNG_FILTER_UP);
        png_set_compression_level(png, 3);
    }
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = samples + stride * y;
        if (pal) {
            PackRow(src, width, *pal, row);
            png_write_row(png, row);
        } else {
            png_write_row(png, const_cast<png_bytep>(src));
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool WritePngRgba(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
                  int dpi, std::string& error)
{
    if (width <= 0 || height <= 0) {
        error = "empty image";
        return false;
    }
    Palette pal;
    bool use_palette = FindPalette(samples, width, height, stride, pal);
    std::vector<unsigned char> row(use_palette ? static_cast<size_t>(width) : 0);
    char message[64];
    if (!Encode(out, samples, width, height, stride, dpi, use_palette ? &pal : nullptr, row.data(), message)) {
        error = std::string("PNG encoding failed: ") + message;
        return false;
    }
    return true;
}
