// Writes an RGBA image (straight, not premultiplied alpha) as PNG. When every pixel is
// fully opaque or fully transparent and the opaque pixels use few colours, the image is
// stored as a palette of 1, 2, 4 or 8 bits per pixel with one transparent entry, which
// keeps text layers small; otherwise as 8-bit RGBA.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

bool WritePngRgba(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
                  int dpi, std::string& error);
