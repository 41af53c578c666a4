#include "engine/PageGeometry.h"

#include <algorithm>
#include <cmath>

namespace {
int PixelsFor(double points, double dpi)
{
    double px = std::floor(points * dpi / 72.0 + 0.5);
    if (!(px >= 0.0))
        return 0;
    return px > 1e9 ? 1000000000 : static_cast<int>(px);
}

bool WithinCap(long long width, long long height)
{
    return width <= kMaxPageSide && height <= kMaxPageSide && width * height <= kMaxPagePixels;
}

int ScaledDown(double exact, double factor)
{
    // A side the factor makes whole (the longest side of a capped strip) must not lose a
    // pixel to the factor's last bit; a pixel too many is taken off by CapSize.
    double px = std::floor(exact * factor * (1.0 + 1e-12));
    return px < 1.0 ? 1 : static_cast<int>(std::min(px, double(kMaxPageSide)));
}

// The largest size under the cap with the page's aspect: both exact sides scaled by one
// factor and rounded down, so that the product stays under the cap.
void CapSize(double w_exact, double h_exact, int& width, int& height)
{
    double f = std::min({std::sqrt(double(kMaxPagePixels) / w_exact / h_exact), kMaxPageSide / w_exact,
                         kMaxPageSide / h_exact});
    width = ScaledDown(w_exact, f);
    height = ScaledDown(h_exact, f);
    // Rounding in the factor can leave the product a hair over; take a pixel off the
    // longer side until it fits (at most a step or two).
    while (!WithinCap(width, height)) {
        if (width >= height)
            --width;
        else
            --height;
    }
}
} // namespace

bool NominalPagePixels(fz_rect bounds, double dpi, int& width, int& height)
{
    width = height = 0;
    double w_pt = static_cast<double>(bounds.x1) - bounds.x0;
    double h_pt = static_cast<double>(bounds.y1) - bounds.y0;
    if (!(w_pt > 0.0) || !(h_pt > 0.0) || !std::isfinite(w_pt) || !std::isfinite(h_pt))
        return false;
    // A sliver of a page still gets one pixel rather than no image at all.
    width = std::max(1, PixelsFor(w_pt, dpi));
    height = std::max(1, PixelsFor(h_pt, dpi));
    return true;
}

bool ComputePagePixels(fz_rect bounds, double dpi, PagePixels& out)
{
    out = PagePixels();
    if (!NominalPagePixels(bounds, dpi, out.width, out.height))
        return false;
    double w_pt = static_cast<double>(bounds.x1) - bounds.x0;
    double h_pt = static_cast<double>(bounds.y1) - bounds.y0;
    if (!WithinCap(out.width, out.height))
        CapSize(w_pt * dpi / 72.0, h_pt * dpi / 72.0, out.width, out.height);
    // Scale each axis on its own so that the page fills the rounded pixel size exactly.
    float sx = static_cast<float>(out.width / w_pt);
    float sy = static_cast<float>(out.height / h_pt);
    out.ctm = fz_concat(fz_translate(-bounds.x0, -bounds.y0), fz_scale(sx, sy));
    return true;
}
