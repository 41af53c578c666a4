#include "engine/PageRenderer.h"

#include <cstring>

#include "engine/AtomicFile.h"
#include "engine/ForegroundLayer.h"
#include "engine/LayerDevice.h"
#include "engine/MupdfContext.h"
#include "engine/PageGeometry.h"
#include "engine/PageTiles.h"
#include "engine/PaletteImage.h"
#include "engine/PngWriter.h"
#include "engine/UniformJpeg.h"

namespace {

// What a worker thread keeps from one page to the next: the layers' pixels, the text
// layer's palette image, the PNG writer's compressors and buffers and the last blank
// page's JPEG file. Freed when the thread ends.
struct WorkerBuffers {
    BudgetBuffer background;
    BudgetBuffer foreground;
    BudgetBuffer tiles;
    PaletteImage palette;
    PngWriter png;
    UniformJpeg uniform_jpeg;
};

WorkerBuffers& Buffers()
{
    thread_local WorkerBuffers buffers;
    return buffers;
}

struct PagePixmaps {
    fz_pixmap* background = nullptr;   // RGB or gray, white, no alpha
    fz_pixmap* foreground = nullptr;   // RGBA premultiplied, transparent
    fz_pixmap* tiles = nullptr;        // the foreground at the tile resolution, or null
    int page_has_colour = 0;           // set by MuPDF's colour test while recording
    int background_has_colour = 0;
};

// Colour differences below this (0..1) count as gray.
constexpr float kColourThreshold = 0.02f;

// Whether the background layer alone draws anything coloured. The test device stops the
// run by throwing once it sees colour.
void TestBackgroundColour(fz_context* ctx, fz_display_list* list, int* has_colour)
{
    fz_device* volatile test = nullptr;
    fz_device* volatile filter = nullptr;
    fz_var(test);
    fz_var(filter);
    fz_try(ctx)
    {
        test = fz_new_test_device(ctx, has_colour, kColourThreshold, 0, nullptr);
        filter = NewLayerDevice(ctx, test, PageLayer::Background);
        fz_run_display_list(ctx, list, filter, fz_identity, fz_infinite_rect, nullptr);
        fz_close_device(ctx, filter);
        fz_close_device(ctx, test);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, filter);
        fz_drop_device(ctx, test);
    }
    fz_catch(ctx)
        *has_colour = 1;   // colour found, or unsure: keep the colour
}

// Runs `list` through an optional layer filter into a pixmap over `memory` (the worker's
// buffer for that layer). Throws MuPDF errors to the caller's fz_try.
fz_pixmap* DrawLayer(fz_context* ctx, fz_display_list* list, const PagePixels& px, bool split, PageLayer layer,
                     bool gray, BudgetBuffer& memory, fz_cookie* cookie)
{
    int alpha = split && layer == PageLayer::Foreground ? 1 : 0;
    fz_colorspace* cs = gray && !alpha ? fz_device_gray(ctx) : fz_device_rgb(ctx);
    size_t components = static_cast<size_t>(fz_colorspace_n(ctx, cs) + alpha);
    unsigned char* samples = memory.Get(static_cast<size_t>(px.width) * static_cast<size_t>(px.height) * components);
    if (!samples)
        fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory for the page's pixels");
    fz_pixmap* pix = fz_new_pixmap_with_bbox_and_data(ctx, cs, fz_make_irect(0, 0, px.width, px.height), nullptr,
                                                      alpha, samples);
    fz_device* volatile draw = nullptr;
    fz_device* volatile filter = nullptr;
    fz_var(draw);
    fz_var(filter);
    fz_try(ctx)
    {
        if (alpha)
            fz_clear_pixmap(ctx, pix);
        else
            fz_clear_pixmap_with_value(ctx, pix, 255);
        draw = fz_new_draw_device(ctx, fz_identity, pix);
        fz_device* dev = draw;
        if (split) {
            filter = NewLayerDevice(ctx, draw, layer);
            dev = filter;
        }
        fz_run_display_list(ctx, list, dev, px.ctm, fz_infinite_rect, cookie);
        if (cookie && cookie->abort)
            fz_throw(ctx, FZ_ERROR_GENERIC, "the page took too long to draw");
        if (filter)
            fz_close_device(ctx, filter);
        fz_close_device(ctx, draw);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, filter);
        fz_drop_device(ctx, draw);
    }
    fz_catch(ctx)
    {
        fz_drop_pixmap(ctx, pix);
        fz_rethrow(ctx);
    }
    return pix;
}

// Kept free of C++ objects with destructors: MuPDF reports errors by longjmp.
bool DrawPage(fz_context* ctx, fz_document* doc, int page_index, double dpi, bool split, double tile_dpi,
              PagePixmaps* out, fz_cookie* cookie, char* message, size_t message_size)
{
    fz_page* volatile page = nullptr;
    fz_display_list* volatile list = nullptr;
    fz_device* volatile recorder = nullptr;
    fz_device* volatile tester = nullptr;
    fz_var(page);
    fz_var(list);
    fz_var(recorder);
    fz_var(tester);
    bool ok = true;
    fz_try(ctx)
    {
        page = fz_load_page(ctx, doc, page_index);
        PagePixels px;
        // A page too large for the pixel cap comes out at the largest size under it.
        if (!ComputePagePixels(fz_bound_page(ctx, page), dpi, px))
            fz_throw(ctx, FZ_ERROR_GENERIC, "the page has an empty page box");
        // Interpret the page once into a list, noting whether it uses colour; a page
        // without colour is drawn and stored as gray (a third of the work and data).
        list = fz_new_display_list(ctx, fz_bound_page(ctx, page));
        recorder = fz_new_list_device(ctx, list);
        tester = fz_new_test_device(ctx, &out->page_has_colour, kColourThreshold, 0, recorder);
        fz_run_page(ctx, page, tester, fz_identity, cookie);
        fz_close_device(ctx, tester);
        fz_close_device(ctx, recorder);
        if (cookie && cookie->abort)
            fz_throw(ctx, FZ_ERROR_GENERIC, "the page took too long to read");
        out->background_has_colour = out->page_has_colour;
        if (split && out->page_has_colour)
            TestBackgroundColour(ctx, list, &out->background_has_colour);
        WorkerBuffers& buffers = Buffers();
        out->background = DrawLayer(ctx, list, px, split, PageLayer::Background, !out->background_has_colour,
                                    buffers.background, cookie);
        // The tiles' text comes from the same list, so the page is read only once. A page
        // with tiles carries its text there, so its own text layer is not drawn. A page
        // whose tiles do not fit the memory budget keeps its own text layer instead.
        PagePixels tile_px;
        if (split && tile_dpi > 0 && ComputePagePixels(fz_bound_page(ctx, page), tile_dpi, tile_px) &&
            buffers.tiles.Get(static_cast<size_t>(tile_px.width) * static_cast<size_t>(tile_px.height) * 4))
            out->tiles = DrawLayer(ctx, list, tile_px, true, PageLayer::Foreground, false, buffers.tiles, cookie);
        if (split && !out->tiles)
            out->foreground = DrawLayer(ctx, list, px, true, PageLayer::Foreground, false, buffers.foreground,
                                        cookie);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, tester);
        fz_drop_device(ctx, recorder);
        fz_drop_display_list(ctx, list);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
        fz_drop_pixmap(ctx, out->background);
        fz_drop_pixmap(ctx, out->foreground);
        fz_drop_pixmap(ctx, out->tiles);
        out->background = out->foreground = out->tiles = nullptr;
        std::strncpy(message, fz_caught_message(ctx), message_size - 1);
        message[message_size - 1] = 0;
        ok = false;
    }
    return ok;
}

// Drops both pixmaps (not their pixels, which the worker keeps) when the page is done,
// however it ends.
class PixmapsGuard {
public:
    PixmapsGuard(fz_context* ctx, PagePixmaps& p) : ctx_(ctx), p_(p) {}
    ~PixmapsGuard()
    {
        fz_drop_pixmap(ctx_, p_.background);
        fz_drop_pixmap(ctx_, p_.foreground);
        fz_drop_pixmap(ctx_, p_.tiles);
    }
    PixmapsGuard(const PixmapsGuard&) = delete;
    PixmapsGuard& operator=(const PixmapsGuard&) = delete;

private:
    fz_context* ctx_;
    PagePixmaps& p_;
};

bool WriteJpegFile(fz_context* ctx, fz_pixmap* pix, const std::string& path, const JpegSettings& jpeg,
                   std::string& error)
{
    AtomicFile file;
    if (!file.Open(path, error))
        return false;
    const unsigned char* samples = fz_pixmap_samples(ctx, pix);
    int width = fz_pixmap_width(ctx, pix);
    int height = fz_pixmap_height(ctx, pix);
    ptrdiff_t stride = fz_pixmap_stride(ctx, pix);
    int components = fz_pixmap_components(ctx, pix);
    UniformJpeg::Result uniform =
        Buffers().uniform_jpeg.Write(file.Stream(), samples, width, height, stride, components, jpeg, error);
    if (uniform == UniformJpeg::Result::Failed ||
        (uniform == UniformJpeg::Result::NotUniform &&
         !WriteJpeg(file.Stream(), samples, width, height, stride, components, jpeg, error))) {
        error = "'" + path + "': " + error;
        return false;
    }
    return file.Commit(error);
}

// A text layer written under a temporary name and renamed into place.
bool WriteLayerPng(PaletteImage& palette, PngWriter& png, const unsigned char* samples, int width, int height,
                   ptrdiff_t stride, const std::string& path, int dpi, std::string& error)
{
    AtomicFile file;
    if (!file.Open(path, error))
        return false;
    if (!png.WriteLayer(file.Stream(), palette, samples, width, height, stride, dpi, error)) {
        error = "'" + path + "': " + error;
        return false;
    }
    return file.Commit(error);
}

} // namespace

std::string ImagePath(const RenderSettings& settings, int page_number, ImageKind kind)
{
    std::string path = settings.folder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += "img-" + std::to_string(page_number);
    switch (kind) {
    case ImageKind::Single: return path + "-e" + settings.postfix + ".jpg";
    case ImageKind::Background: return path + settings.postfix + ".jpg";
    case ImageKind::Foreground: return path + "-f" + settings.postfix + ".png";
    }
    return path;
}

bool RenderPageToFiles(fz_context* ctx, fz_document* doc, int page_index, const RenderSettings& settings,
                       fz_cookie* cookie, std::string& error)
{
    bool split = settings.mode == ImageMode::SplitLayers;
    PagePixmaps pixmaps;
    char message[256] = {0};
    const double tile_dpi = settings.tile_index ? settings.tile_dpi : 0;
    bool drawn = DrawPage(ctx, doc, page_index, settings.dpi, split, tile_dpi, &pixmaps, cookie, message,
                          sizeof message);
    PixmapsGuard guard(ctx, pixmaps);
    if (!drawn) {
        error = message;
        return false;
    }
    int page_number = page_index + 1;
    int dpi = static_cast<int>(settings.dpi + 0.5);
    JpegSettings jpeg = settings.jpeg;
    if (!split)
        return WriteJpegFile(ctx, pixmaps.background, ImagePath(settings, page_number, ImageKind::Single), jpeg,
                             error);
    // A background without its text is mostly flat paper, where fitted Huffman tables
    // cut the file to about a third; on full pages they gain little for their time.
    jpeg.optimize_coding = true;

    WorkerBuffers& buffers = Buffers();
    if (pixmaps.tiles) {
        // The page's text is in its tiles: its own text layer is an empty 1x1 image, so
        // that the book keeps one text layer file per page image.
        const unsigned char transparent[4] = {0, 0, 0, 0};
        std::vector<bool> present;
        buffers.palette.Start(1, 1);   // no rows given: written from `transparent`
        if (!WriteJpegFile(ctx, pixmaps.background, ImagePath(settings, page_number, ImageKind::Background), jpeg,
                           error) ||
            !WriteLayerPng(buffers.palette, buffers.png, transparent, 1, 1, 4,
                           ImagePath(settings, page_number, ImageKind::Foreground), dpi, error) ||
            !WritePageTiles(ctx, pixmaps.tiles, settings.tile_folder, page_number,
                            static_cast<int>(settings.tile_dpi + 0.5), buffers.palette, buffers.png, present, error))
            return false;
        settings.tile_index->Add(page_index, fz_pixmap_width(ctx, pixmaps.tiles),
                                 fz_pixmap_height(ctx, pixmaps.tiles), present);
        return true;
    }
    fz_pixmap* fg = pixmaps.foreground;
    fz_pixmap* bg = pixmaps.background;
    // The text layer's rows go into its palette image as soon as they are final; without
    // room for one it is written as RGBA.
    bool palette = buffers.palette.Start(fz_pixmap_width(ctx, fg), fz_pixmap_height(ctx, fg));
    FinishForegroundAlpha(fz_pixmap_samples(ctx, fg), fz_pixmap_width(ctx, fg), fz_pixmap_height(ctx, fg),
                          fz_pixmap_stride(ctx, fg), fz_pixmap_samples(ctx, bg), fz_pixmap_components(ctx, bg),
                          fz_pixmap_stride(ctx, bg), settings.single_bit_alpha, palette ? &buffers.palette : nullptr);
    return WriteJpegFile(ctx, pixmaps.background, ImagePath(settings, page_number, ImageKind::Background), jpeg,
                         error) &&
           WriteLayerPng(buffers.palette, buffers.png, fz_pixmap_samples(ctx, fg), fz_pixmap_width(ctx, fg),
                         fz_pixmap_height(ctx, fg), fz_pixmap_stride(ctx, fg),
                         ImagePath(settings, page_number, ImageKind::Foreground), dpi, error);
}
