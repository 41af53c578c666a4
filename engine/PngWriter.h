// Writes PNG files: a palette image of 1, 2, 4 or 8 bits per pixel with one transparent
// entry (text layers), or 8-bit RGBA with straight alpha. One writer per worker thread:
// it keeps its compressors and buffers from one image to the next.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "engine/MupdfContext.h"
#include "engine/PaletteImage.h"

struct libdeflate_compressor;

class PngWriter {
public:
    PngWriter() = default;
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Writes a complete palette image (packing it first).
    bool WritePalette(FILE* out, PaletteImage& image, int dpi, std::string& error);

    // Writes straight RGBA as it is.
    bool WriteRgba(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride, int dpi,
                   std::string& error);

    // Writes a text layer: from `palette` when it holds the layer complete, else the
    // straight RGBA `samples`.
    bool WriteLayer(FILE* out, PaletteImage& palette, const unsigned char* samples, int width, int height,
                    ptrdiff_t stride, int dpi, std::string& error)
    {
        return palette.Complete() ? WritePalette(out, palette, dpi, error)
                                  : WriteRgba(out, samples, width, height, stride, dpi, error);
    }

    // Writes straight RGBA as a palette image when every pixel is fully opaque or fully
    // transparent and the opaque pixels use at most 255 colours, otherwise as RGBA.
    bool Write(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride, int dpi,
               std::string& error);

private:
    struct Header {
        int width;
        int height;
        int bit_depth;
        int colour_type;
        int dpi;
        const unsigned char* palette;   // RGB triples, entry 0 transparent; null for RGBA
        int palette_count;
    };
    bool WriteFile(FILE* out, const Header& header, const unsigned char* scanlines, size_t bytes,
                   libdeflate_compressor*& compressor, int level, std::string& error);

    libdeflate_compressor* palette_compressor_ = nullptr;
    libdeflate_compressor* rgba_compressor_ = nullptr;
    BudgetBuffer filtered_;     // RGBA scanlines with their filters
    BudgetBuffer compressed_;   // the zlib stream of the image data
    PaletteImage palette_;      // for Write()
};
