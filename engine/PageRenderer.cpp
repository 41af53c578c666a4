#include "engine/PageRenderer.h"

#include <cstdint>
#include <cstring>

#include "engine/AtomicFile.h"
#include "engine/LayerDevice.h"
#include "engine/PageGeometry.h"
#include "engine/PixelScan.h"
#include "engine/PngWriter.h"

namespace {

struct PagePixmaps {
    fz_pixmap* background = nullptr;   // RGB or gray, white, no alpha
    fz_pixmap* foreground = nullptr;   // RGBA premultiplied, transparent
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

// Runs `list` (or the page, when there is no list) through an optional layer filter into
// a fresh pixmap. Throws MuPDF errors to the caller's fz_try.
fz_pixmap* DrawLayer(fz_context* ctx, fz_display_list* list, const PagePixels& px, bool split, PageLayer layer,
                     bool gray, fz_cookie* cookie)
{
    int alpha = split && layer == PageLayer::Foreground ? 1 : 0;
    fz_colorspace* cs = gray && !alpha ? fz_device_gray(ctx) : fz_device_rgb(ctx);
    fz_pixmap* pix = fz_new_pixmap_with_bbox(ctx, cs, fz_make_irect(0, 0, px.width, px.height), nullptr, alpha);
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
bool DrawPage(fz_context* ctx, fz_document* doc, int page_index, double dpi, bool split, PagePixmaps* out,
              fz_cookie* cookie, char* message, size_t message_size)
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
        out->background = DrawLayer(ctx, list, px, split, PageLayer::Background, !out->background_has_colour, cookie);
        if (split)
            out->foreground = DrawLayer(ctx, list, px, true, PageLayer::Foreground, false, cookie);
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
        out->background = out->foreground = nullptr;
        std::strncpy(message, fz_caught_message(ctx), message_size - 1);
        message[message_size - 1] = 0;
        ok = false;
    }
    return ok;
}

// Drops both pixmaps when the page is done, however it ends.
class PixmapsGuard {
public:
    PixmapsGuard(fz_context* ctx, PagePixmaps& p) : ctx_(ctx), p_(p) {}
    ~PixmapsGuard()
    {
        fz_drop_pixmap(ctx_, p_.background);
        fz_drop_pixmap(ctx_, p_.foreground);
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
    if (!WriteJpeg(file.Stream(), fz_pixmap_samples(ctx, pix), fz_pixmap_width(ctx, pix),
                   fz_pixmap_height(ctx, pix), fz_pixmap_stride(ctx, pix), fz_pixmap_components(ctx, pix), jpeg,
                   error)) {
        error = "'" + path + "': " + error;
        return false;
    }
    return file.Commit(error);
}

bool WritePngFile(fz_context* ctx, fz_pixmap* pix, const std::string& path, int dpi, std::string& error)
{
    AtomicFile file;
    if (!file.Open(path, error))
        return false;
    if (!WritePngRgba(file.Stream(), fz_pixmap_samples(ctx, pix), fz_pixmap_width(ctx, pix),
                      fz_pixmap_height(ctx, pix), fz_pixmap_stride(ctx, pix), dpi, error)) {
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

namespace {

// Coverage quantised to four levels, 0 when the pixel is left to the background.
unsigned CoverageLevel(unsigned a)
{
    if (a < kOpaqueFrom)
        return 0;
    if (a < 96)
        return 64;
    if (a < 160)
        return 128;
    if (a < 224)
        return 192;
    return 255;
}

// Small set of RGB keys that gives up beyond 255 members.
class ColourSet {
public:
    bool Add(uint32_t key)
    {
        if (key == last_)
            return true;
        last_ = key;
        uint32_t slot = (key * 2654435761u) >> 22;   // 1024 slots
        while (used_[slot]) {
            if (keys_[slot] == key)
                return true;
            slot = (slot + 1) & 1023;
        }
        if (++count_ > 255)
            return false;
        used_[slot] = true;
        keys_[slot] = key;
        return true;
    }

private:
    uint32_t keys_[1024] = {};
    bool used_[1024] = {};
    uint32_t last_ = 0xFFFFFFFFu;
    int count_ = 0;
};

unsigned char Blend(unsigned text, unsigned under, unsigned level)
{
    return static_cast<unsigned char>((text * level + under * (255u - level) + 127u) / 255u);
}

} // namespace

void FinishForegroundAlpha(unsigned char* samples, int width, int height, ptrdiff_t stride,
                           const unsigned char* background, int background_components,
                           ptrdiff_t background_stride, bool single_bit)
{
    const int bc = background_components == 1 ? 1 : 3;
    const int step[3] = {0, bc == 1 ? 0 : 1, bc == 1 ? 0 : 2};   // channel offsets in a background pixel
    // Most of a text layer is empty: a transparent premultiplied pixel is four zero
    // bytes, and runs of them are skipped in large steps.
    // First pass: straight colours; in single-bit mode the alpha becomes a coverage
    // level, and the colours that blending would need are counted.
    ColourSet colours;
    bool blend = single_bit && background != nullptr;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = samples + stride * y;
        const unsigned char* b = background ? background + background_stride * y : nullptr;
        for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
            unsigned char* p = row + 4 * x;
            unsigned a = p[3];
            unsigned level = single_bit ? CoverageLevel(a) : a;
            if (level == 0) {
                p[0] = p[1] = p[2] = p[3] = 0;
                continue;
            }
            if (a != 255)
                for (int c = 0; c < 3; ++c) {
                    unsigned v = (p[c] * 255u + a / 2) / a;
                    p[c] = static_cast<unsigned char>(v > 255 ? 255 : v);
                }
            p[3] = static_cast<unsigned char>(level);
            if (blend) {
                const unsigned char* u = b + bc * x;
                uint32_t key = (uint32_t(Blend(p[0], u[step[0]], level)) << 16) |
                               (uint32_t(Blend(p[1], u[step[1]], level)) << 8) | Blend(p[2], u[step[2]], level);
                blend = colours.Add(key);
            }
        }
    }
    if (!single_bit)
        return;

    // Second pass: edge pixels take the text colour blended over the uncompressed
    // background at their coverage level, i.e. (nearly) the colour the full page has
    // there. When that needs more colours than a palette holds (text over pictures),
    // edges are decided by a plain half-coverage threshold instead, keeping the file small.
    for (int y = 0; y < height; ++y) {
        unsigned char* row = samples + stride * y;
        const unsigned char* b = background ? background + background_stride * y : nullptr;
        for (int x = NextNonEmpty(row, 0, width); x < width; x = NextNonEmpty(row, x + 1, width)) {
            unsigned char* p = row + 4 * x;
            if (p[3] == 255)
                continue;
            unsigned level = p[3];
            if (blend) {
                for (int c = 0; c < 3; ++c)
                    p[c] = Blend(p[c], b[bc * x + step[c]], level);
            } else if (level < 128) {
                p[0] = p[1] = p[2] = p[3] = 0;
                continue;
            }
            p[3] = 255;
        }
    }
}

bool RenderPageToFiles(fz_context* ctx, fz_document* doc, int page_index, const RenderSettings& settings,
                       fz_cookie* cookie, std::string& error)
{
    bool split = settings.mode == ImageMode::SplitLayers;
    PagePixmaps pixmaps;
    char message[256] = {0};
    bool drawn = DrawPage(ctx, doc, page_index, settings.dpi, split, &pixmaps, cookie, message, sizeof message);
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

    fz_pixmap* fg = pixmaps.foreground;
    fz_pixmap* bg = pixmaps.background;
    FinishForegroundAlpha(fz_pixmap_samples(ctx, fg), fz_pixmap_width(ctx, fg), fz_pixmap_height(ctx, fg),
                          fz_pixmap_stride(ctx, fg), fz_pixmap_samples(ctx, bg), fz_pixmap_components(ctx, bg),
                          fz_pixmap_stride(ctx, bg), settings.single_bit_alpha);
    return WriteJpegFile(ctx, pixmaps.background, ImagePath(settings, page_number, ImageKind::Background), jpeg,
                         error) &&
           WritePngFile(ctx, fg, ImagePath(settings, page_number, ImageKind::Foreground), dpi, error);
}
