// The one rule for a page's pixel size, used by the queries and by every renderer:
//   width  = floor(page box width in points  * N / 72 + 0.5)
//   height = floor(page box height in points * N / 72 + 0.5)
// on the page's box after its rotation (the box MuPDF reports for the page), N being the
// resolution in dots per inch, and at least 1. The page is then scaled to exactly that
// many pixels.
#pragma once

#include <mupdf/fitz.h>

struct PagePixels {
    int width = 0;
    int height = 0;
    fz_matrix ctm = fz_identity;   // page space to pixel space
};

// Pixel size of a page box in points at `dpi`. False when the box is empty or the image
// would exceed the largest size we render (then `out` holds the computed size anyway).
bool ComputePagePixels(fz_rect bounds, double dpi, PagePixels& out);

// Pixel count of one page image above which a page is refused instead of rendered.
constexpr long long kMaxPagePixels = 50LL * 1000 * 1000;
constexpr int kMaxPageSide = 60000;
