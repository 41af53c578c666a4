// Measures what a background/foreground page pair costs and how close it comes to the
// page, next to plain JPEGs of the same page.
//
//   rastrix_quality_probe PDF PAGE DPI BACKGROUND.jpg FOREGROUND.png QUALITY
//
// Renders page PAGE (from 1) losslessly at DPI with the engine's own page sizing, lays
// the PNG over the JPEG and compares the result with that render; then encodes the render
// as a plain JPEG at QUALITY and at the lowest quality whose file is at least as large as
// the pair (so the plain JPEG never gets fewer bytes), with the engine's JPEG writer and
// smoothing 0. Prints one line per image: "<kind> <quality> <bytes> <mean abs error> <psnr>"
// with kind layers, plain or equal (quality 0 for the pair). Errors are over R, G and B.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/JpegWriter.h"
#include "engine/MupdfContext.h"
#include "engine/PageGeometry.h"
#include "engine/PdfOpener.h"

namespace {

struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> px;   // width * height * 3
};

bool RenderPage(fz_context* ctx, fz_document* doc, int index, double dpi, Rgb* out)
{
    fz_page* volatile page = nullptr;
    fz_pixmap* volatile pix = nullptr;
    fz_device* volatile dev = nullptr;
    fz_var(page);
    fz_var(pix);
    fz_var(dev);
    bool ok = true;
    fz_try(ctx)
    {
        page = fz_load_page(ctx, doc, index);
        PagePixels px;
        if (!ComputePagePixels(fz_bound_page(ctx, page), dpi, px))
            fz_throw(ctx, FZ_ERROR_GENERIC, "page cannot be sized");
        pix = fz_new_pixmap_with_bbox(ctx, fz_device_rgb(ctx), fz_make_irect(0, 0, px.width, px.height), nullptr, 0);
        fz_clear_pixmap_with_value(ctx, pix, 255);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        fz_run_page(ctx, page, dev, px.ctm, nullptr);
        fz_close_device(ctx, dev);
        out->width = px.width;
        out->height = px.height;
        out->px.resize(static_cast<size_t>(px.width) * px.height * 3);
        for (int y = 0; y < px.height; ++y)
            std::memcpy(&out->px[static_cast<size_t>(y) * px.width * 3],
                        fz_pixmap_samples(ctx, pix) + y * fz_pixmap_stride(ctx, pix),
                        static_cast<size_t>(px.width) * 3);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, pix);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
        ok = false;
    return ok;
}

bool DecodeJpeg(const std::vector<unsigned char>& bytes, Rgb& out)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.px.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out.px[static_cast<size_t>(cinfo.output_scanline) * out.width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool ReadFile(const char* path, std::vector<unsigned char>& bytes)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    unsigned char buf[65536];
    size_t n;
    bytes.clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

// The PNG laid over `base` (straight alpha, any PNG kind).
bool Overlay(const char* png_path, Rgb& base)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, png_path))
        return false;
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr))
        return false;
    if (static_cast<int>(image.width) != base.width || static_cast<int>(image.height) != base.height)
        return false;
    for (size_t i = 0, n = static_cast<size_t>(base.width) * base.height; i < n; ++i) {
        unsigned a = rgba[i * 4 + 3];
        for (int c = 0; c < 3; ++c) {
            unsigned v = (rgba[i * 4 + c] * a + base.px[i * 3 + c] * (255 - a) + 127) / 255;
            base.px[i * 3 + c] = static_cast<unsigned char>(v);
        }
    }
    return true;
}

void Compare(const Rgb& a, const Rgb& b, double& mae, double& psnr)
{
    double abs_sum = 0, sq_sum = 0;
    for (size_t i = 0; i < a.px.size(); ++i) {
        double d = static_cast<double>(a.px[i]) - b.px[i];
        abs_sum += std::fabs(d);
        sq_sum += d * d;
    }
    double n = static_cast<double>(a.px.size());
    mae = abs_sum / n;
    double mse = sq_sum / n;
    psnr = mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

bool EncodeJpeg(const Rgb& img, int quality, std::vector<unsigned char>& bytes)
{
    char* buf = nullptr;
    size_t size = 0;
    FILE* mem = open_memstream(&buf, &size);
    if (!mem)
        return false;
    JpegSettings settings;
    settings.quality = quality;
    settings.smoothing = 0;
    std::string error;
    bool ok = WriteJpeg(mem, img.px.data(), img.width, img.height, img.width * 3, 3, settings, error);
    std::fclose(mem);
    if (ok)
        bytes.assign(buf, buf + size);
    std::free(buf);
    return ok;
}

long FileSize(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool PrintPlain(const char* kind, const Rgb& page, int quality)
{
    std::vector<unsigned char> bytes;
    Rgb decoded;
    if (!EncodeJpeg(page, quality, bytes) || !DecodeJpeg(bytes, decoded))
        return false;
    double mae, psnr;
    Compare(page, decoded, mae, psnr);
    std::printf("%s %d %zu %.4f %.3f\n", kind, quality, bytes.size(), mae, psnr);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s PDF PAGE DPI BACKGROUND.jpg FOREGROUND.png QUALITY\n", argv[0]);
        return 2;
    }
    int page_number = std::atoi(argv[2]);
    double dpi = std::atof(argv[3]);
    int quality = std::atoi(argv[6]);
    MupdfContext base;
    if (!base.Get())
        return 1;
    int page_count = 0;
    std::string error;
    DocumentHandle doc(base.Get(), OpenPdf(base.Get(), argv[1], page_count, error));
    Rgb page;
    if (!doc.Get() || page_number < 1 || page_number > page_count ||
        !RenderPage(base.Get(), doc.Get(), page_number - 1, dpi, &page)) {
        std::fprintf(stderr, "cannot render page %d of %s %s\n", page_number, argv[1], error.c_str());
        return 1;
    }

    std::vector<unsigned char> jpeg;
    Rgb layers;
    if (!ReadFile(argv[4], jpeg) || !DecodeJpeg(jpeg, layers) || layers.width != page.width ||
        layers.height != page.height || !Overlay(argv[5], layers)) {
        std::fprintf(stderr, "cannot read the pair %s + %s at %d x %d\n", argv[4], argv[5], page.width, page.height);
        return 1;
    }
    long pair_bytes = FileSize(argv[4]) + FileSize(argv[5]);
    double mae, psnr;
    Compare(page, layers, mae, psnr);
    std::printf("layers 0 %ld %.4f %.3f\n", pair_bytes, mae, psnr);

    if (!PrintPlain("plain", page, quality))
        return 1;
    // Lowest quality whose plain JPEG is at least as large as the pair (sizes grow with
    // quality, so a binary search finds it).
    int lo = 1, hi = 100;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        std::vector<unsigned char> bytes;
        if (!EncodeJpeg(page, mid, bytes))
            return 1;
        if (static_cast<long>(bytes.size()) >= pair_bytes)
            hi = mid;
        else
            lo = mid + 1;
    }
    return PrintPlain("equal", page, lo) ? 0 : 1;
}
