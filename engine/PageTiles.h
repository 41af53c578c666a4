// The sharp zoom's tiles: a page's text layer drawn at a higher resolution than its zoom
// image and cut into square tiles, so that a reader fetches only the part it shows. Tiles
// without any text are not written; the tile index (tiles.js) says which tiles exist.
#pragma once

#include <mupdf/fitz.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "engine/PaletteImage.h"
#include "engine/PngWriter.h"

constexpr int kTileSize = 512;

// Which tiles of each page exist, gathered from the worker threads and written at the end
// of the run as "window.VELLUMARK_BOOK_TILES = {...};" into the tile folder's tiles.js.
class TileIndex {
public:
    // Page `page_index` (from 0) has an image of `width` x `height` pixels at the tile
    // resolution; `present` holds one flag per tile, row by row from the top left.
    void Add(int page_index, int width, int height, const std::vector<bool>& present);
    // Writes tiles.js into `folder`; pages not added are null.
    bool Write(const std::string& folder, double dpi, std::string& error) const;

private:
    struct Page {
        int width = 0;
        int height = 0;
        std::string tiles;   // hexadecimal digits, tile t in bit t % 4 of digit t / 4
    };
    mutable std::mutex mutex_;
    std::vector<Page> pages_;
};

// The tile index, "tiles.js" in `folder`.
std::string TileIndexPath(const std::string& folder);

// "img-<page>-<column>-<row>.png" in `folder`; page numbers count from 1, columns and rows
// from 0.
std::string TilePath(const std::string& folder, int page_number, int column, int row);

// Cuts `foreground` (premultiplied RGBA as drawn) into tiles and writes those with text,
// each pixel fully opaque in its text colour from half coverage, else transparent.
// `foreground`'s pixels are finished in place. `present` receives one flag per tile.
bool WritePageTiles(fz_context* ctx, fz_pixmap* foreground, const std::string& folder, int page_number, int dpi,
                    PaletteImage& palette, PngWriter& png, std::vector<bool>& present, std::string& error);
