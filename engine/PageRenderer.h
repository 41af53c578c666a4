// Renders one page into its image files: one JPEG, or a background JPEG without text plus
// a foreground PNG with the text on transparency.
#pragma once

#include <mupdf/fitz.h>

#include <string>

#include "engine/EngineOptions.h"
#include "engine/JpegWriter.h"

class TileIndex;

struct RenderSettings {
    ImageMode mode = ImageMode::SingleJpeg;
    double dpi = 72.0;
    JpegSettings jpeg;
    bool single_bit_alpha = false;
    std::string folder;    // existing output folder
    std::string postfix;   // appended to every name before its extension
    // With two layers and a tile resolution, the text layer is also drawn at tile_dpi and
    // cut into tiles in tile_folder (an existing folder), noted in tile_index.
    double tile_dpi = 0;
    std::string tile_folder;
    TileIndex* tile_index = nullptr;
};

// "img-<page>-e<postfix>.jpg", "img-<page><postfix>.jpg" or "img-<page>-f<postfix>.png"
// in `folder`; page numbers count from 1.
enum class ImageKind { Single, Background, Foreground };
std::string ImagePath(const RenderSettings& settings, int page_number, ImageKind kind);

// Renders page `page_index` (from 0) and writes its files. False (and `error`) when the
// page cannot be rendered or written; no partial file is left behind.
// `cookie` (may be null) lets another thread stop the page.
bool RenderPageToFiles(fz_context* ctx, fz_document* doc, int page_index, const RenderSettings& settings,
                       fz_cookie* cookie, std::string& error);
