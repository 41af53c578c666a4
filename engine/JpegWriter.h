// Writes 8-bit RGB or gray rows as a baseline JPEG with libjpeg's quality scaling and its
// input smoothing factor.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct JpegSettings {
    int quality = 75;    // 1..100
    int smoothing = 0;   // 0..100, libjpeg's smoothing_factor
    int dpi = 72;        // stored in the JFIF header
    bool optimize_coding = false;   // Huffman tables fitted to the image (smaller, slower)
};

// `samples` holds `height` rows of `width` pixels with `components` bytes each (3 = RGB,
// 1 = gray), rows `stride` bytes apart. False (and `error`) on failure.
bool WriteJpeg(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
               int components, const JpegSettings& settings, std::string& error);
