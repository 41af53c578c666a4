// A page image of one colour all over (the background of a page of plain text is blank
// paper) always encodes to the same JPEG file for the same size and settings: one worker
// encodes it once and reuses the bytes for every such page after it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/JpegWriter.h"

class UniformJpeg {
public:
    enum class Result {
        NotUniform,   // nothing written: the caller encodes the image itself
        Written,
        Failed,       // `error` says why
    };

    // Writes the JPEG file of the image to `out` when all its pixels are the same, with
    // the same arguments as WriteJpeg().
    Result Write(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride, int components,
                 const JpegSettings& settings, std::string& error);

private:
    struct Key {
        int width = 0;
        int height = 0;
        int components = 0;
        unsigned colour = 0;   // the pixel, its bytes from the lowest
        int quality = 0;
        int smoothing = 0;
        int dpi = 0;
        bool optimize_coding = false;
        bool operator==(const Key&) const = default;
    };
    bool Encode(const unsigned char* samples, int width, int height, ptrdiff_t stride, int components,
                const JpegSettings& settings, std::string& error);

    Key key_;
    std::vector<unsigned char> file_;   // empty until an image has been encoded
};
