#include "engine/PageTiles.h"

#include <algorithm>

#include "engine/AtomicFile.h"
#include "engine/ForegroundLayer.h"

namespace {

// Whether any pixel of the tile is drawn (premultiplied RGBA: alpha is the fourth byte).
bool HasText(const unsigned char* samples, int width, int height, ptrdiff_t stride)
{
    for (int y = 0; y < height; ++y) {
        const unsigned char* p = samples + y * stride + 3;
        for (int x = 0; x < width; ++x, p += 4)
            if (*p)
                return true;
    }
    return false;
}

const char kHex[] = "0123456789abcdef";

} // namespace

void TileIndex::Add(int page_index, int width, int height, const std::vector<bool>& present)
{
    Page page;
    page.width = width;
    page.height = height;
    std::vector<int> digits((present.size() + 3) / 4, 0);
    for (size_t t = 0; t < present.size(); ++t)
        if (present[t])
            digits[t / 4] |= 1 << (t % 4);
    for (int d : digits)
        page.tiles += kHex[d];
    std::lock_guard<std::mutex> lock(mutex_);
    if (pages_.size() <= static_cast<size_t>(page_index))
        pages_.resize(static_cast<size_t>(page_index) + 1);
    pages_[static_cast<size_t>(page_index)] = std::move(page);
}

bool TileIndex::Write(const std::string& folder, double dpi, std::string& error) const
{
    std::string text = "window.VELLUMARK_BOOK_TILES = {\"version\":1,\"size\":" + std::to_string(kTileSize) +
                       ",\"dpi\":" + std::to_string(static_cast<int>(dpi + 0.5)) + ",\"pages\":[";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < pages_.size(); ++i) {
            if (i)
                text += ",\n";
            const Page& p = pages_[i];
            text += p.width > 0 ? "{\"w\":" + std::to_string(p.width) + ",\"h\":" + std::to_string(p.height) +
                                      ",\"tiles\":\"" + p.tiles + "\"}"
                                : "null";
        }
    }
    text += "]};\n";
    AtomicFile file;
    if (!file.Open(TileIndexPath(folder), error))
        return false;
    if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
        error = "cannot write the tile index";
        return false;
    }
    return file.Commit(error);
}

std::string TileIndexPath(const std::string& folder)
{
    return folder + "/tiles.js";
}

std::string TilePath(const std::string& folder, int page_number, int column, int row)
{
    std::string path = folder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + "img-" + std::to_string(page_number) + "-" + std::to_string(column) + "-" + std::to_string(row) +
           ".png";
}

namespace {

// A tile straight under its name (see TileIndexPath); a failed write removes it.
bool WriteTilePng(PaletteImage& palette, PngWriter& png, const unsigned char* samples, int width, int height,
                  ptrdiff_t stride, const std::string& path, int dpi, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create '" + path + "'";
        return false;
    }
    bool written = png.WriteLayer(file, palette, samples, width, height, stride, dpi, error);
    if (std::fclose(file) != 0 && written) {
        error = "cannot write";
        written = false;
    }
    if (!written) {
        error = "'" + path + "': " + error;
        std::remove(path.c_str());
    }
    return written;
}

} // namespace

bool WritePageTiles(fz_context* ctx, fz_pixmap* foreground, const std::string& folder, int page_number, int dpi,
                    PaletteImage& palette, PngWriter& png, std::vector<bool>& present, std::string& error)
{
    const int width = fz_pixmap_width(ctx, foreground), height = fz_pixmap_height(ctx, foreground);
    const ptrdiff_t stride = fz_pixmap_stride(ctx, foreground);
    unsigned char* samples = fz_pixmap_samples(ctx, foreground);
    const int columns = (width + kTileSize - 1) / kTileSize, rows = (height + kTileSize - 1) / kTileSize;
    present.assign(static_cast<size_t>(columns) * static_cast<size_t>(rows), false);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int x0 = column * kTileSize, y0 = row * kTileSize;
            const int tw = std::min(kTileSize, width - x0), th = std::min(kTileSize, height - y0);
            unsigned char* tile = samples + y0 * stride + x0 * 4;
            if (!HasText(tile, tw, th, stride))
                continue;
            // Hard edges (half coverage) in the text's own colours: one bit per pixel for
            // one-colour text, which keeps the tiles of a text page small; at this
            // resolution a screen shows no steps.
            const bool as_palette = palette.Start(tw, th);
            FinishForegroundAlpha(tile, tw, th, stride, nullptr, 0, 0, true, as_palette ? &palette : nullptr);
            if (!WriteTilePng(palette, png, tile, tw, th, stride, TilePath(folder, page_number, column, row), dpi,
                              error))
                return false;
            present[static_cast<size_t>(row) * static_cast<size_t>(columns) + static_cast<size_t>(column)] = true;
        }
    }
    return true;
}
