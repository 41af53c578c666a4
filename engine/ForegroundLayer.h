// Finishing the text layer after drawing: MuPDF draws it as premultiplied RGBA over
// transparency; the PNG stores straight colours, and with single-bit alpha only fully
// opaque or fully transparent pixels.
#pragma once

#include <cstddef>

class PaletteImage;

// Coverage (alpha out of 255) from which a foreground pixel is kept in single-bit mode.
// Edge pixels with less coverage show the background image instead.
constexpr unsigned kOpaqueFrom = 40;

// Turns the foreground's premultiplied RGBA into what the PNG stores. Normally straight
// (un-premultiplied) RGBA. With `single_bit` every pixel becomes fully transparent or
// fully opaque; an opaque edge pixel takes the text colour blended over the uncompressed
// `background` (gray or RGB by `background_components`, same size) at its coverage (four
// levels), so the letters keep smooth edges with a one-bit alpha and a small palette.
// When `palette` is given (started at this size), every row is added to it as soon as it
// is final, while it is still in the cache. When the palette comes out complete it holds
// the finished layer, and in single-bit mode `samples` may be left unfinished (straight
// colours, the coverage level as alpha): the PNG is then written from the palette.
void FinishForegroundAlpha(unsigned char* samples, int width, int height, ptrdiff_t stride,
                           const unsigned char* background, int background_components,
                           ptrdiff_t background_stride, bool single_bit, PaletteImage* palette = nullptr);
