// Renders one page into its image files: one JPEG, or a background JPEG without text plus
// a foreground PNG with the text on transparency.
#pragma once

#include <mupdf/fitz.h>

#include <string>

#include "engine/EngineOptions.h"
#include "engine/JpegWriter.h"

struct RenderSettings {
    ImageMode mode = ImageMode::SingleJpeg;
    double dpi = 72.0;
    JpegSettings jpeg;
    bool single_bit_alpha = false;
    std::string folder;    // existing output folder
    std::string postfix;   // appended to every name before its extension
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

// Coverage (alpha out of 255) from which a foreground pixel is kept in single-bit mode.
// Edge pixels with less coverage show the background image instead.
constexpr unsigned kOpaqueFrom = 40;

// Turns the foreground's premultiplied RGBA into what the PNG stores. Normally straight
// (un-premultiplied) RGBA. With `single_bit` every pixel becomes fully transparent or
// fully opaque; an opaque edge pixel takes the text colour blended over the uncompressed
// `background` (gray or RGB by `background_components`, same size) at its coverage (four
// levels), so the letters keep smooth edges with a one-bit alpha and a small palette.
void FinishForegroundAlpha(unsigned char* samples, int width, int height, ptrdiff_t stride,
                           const unsigned char* background, int background_components,
                           ptrdiff_t background_stride, bool single_bit);
