// The one rule for a page's pixel size, used by the queries and by every renderer:
//   width  = floor(page box width in points  * N / 72 + 0.5)
//   height = floor(page box height in points * N / 72 + 0.5)
// on the page's box after its rotation (the box MuPDF reports for the page), N being the
// resolution in dots per inch, and at least 1. A page whose image would exceed the pixel
// cap (kMaxPagePixels in all, kMaxPageSide on a side) is drawn at the largest resolution
// under the cap instead: both exact sides (points * N / 72) are scaled by one factor
//   f = min(sqrt(kMaxPagePixels / (W * H)), kMaxPageSide / W, kMaxPageSide / H)
// and rounded down (at least 1). The page is then scaled to exactly that many pixels.
#pragma once

#include <mupdf/fitz.h>

struct PagePixels {
    int width = 0;
    int height = 0;
    fz_matrix ctm = fz_identity;   // page space to pixel space
};

// Pixel size of a page box in points at `dpi` by the rule, before the cap. False when the
// box is empty.
bool NominalPagePixels(fz_rect bounds, double dpi, int& width, int& height);

// Pixel size of the image a page box gets at `dpi`, within the cap, and the matrix that
// draws the page into it. False when the box is empty.
bool ComputePagePixels(fz_rect bounds, double dpi, PagePixels& out);

// Largest image of one page; a larger page is drawn smaller (see above).
constexpr long long kMaxPagePixels = 50LL * 1000 * 1000;
constexpr int kMaxPageSide = 60000;
