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
} // namespace

bool ComputePagePixels(fz_rect bounds, double dpi, PagePixels& out)
{
    out = PagePixels();
    double w_pt = static_cast<double>(bounds.x1) - bounds.x0;
    double h_pt = static_cast<double>(bounds.y1) - bounds.y0;
    if (!(w_pt > 0.0) || !(h_pt > 0.0) || !std::isfinite(w_pt) || !std::isfinite(h_pt))
        return false;
    // A sliver of a page still gets one pixel rather than no image at all.
    out.width = std::max(1, PixelsFor(w_pt, dpi));
    out.height = std::max(1, PixelsFor(h_pt, dpi));
    if (out.width > kMaxPageSide || out.height > kMaxPageSide ||
        static_cast<long long>(out.width) * out.height > kMaxPagePixels)
        return false;
    // Scale each axis on its own so that the page fills the rounded pixel size exactly.
    float sx = static_cast<float>(out.width / w_pt);
    float sy = static_cast<float>(out.height / h_pt);
    out.ctm = fz_concat(fz_translate(-bounds.x0, -bounds.y0), fz_scale(sx, sy));
    return true;
}
