#include "engine/JpegWriter.h"

#include <csetjmp>
#include <cstring>
#include <jpeglib.h>
#include <vector>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo)
{
    auto* mgr = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, mgr->message);
    longjmp(mgr->jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}

// Kept free of C++ objects with destructors: libjpeg reports errors by longjmp.
bool Encode(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
            int components, const JpegSettings& settings, unsigned char* gray_row, char* message)
{
    jpeg_compress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnJpegError;
    err.base.emit_message = OnJpegMessage;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::memcpy(message, err.message, sizeof err.message);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, settings.quality, TRUE);
    cinfo.smoothing_factor = settings.smoothing;
    // Huffman tables fitted to the image: large flat areas (paper) then cost a bit per
    // block instead of four.
    cinfo.optimize_coding = TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(settings.dpi);
    cinfo.Y_density = static_cast<UINT16>(settings.dpi);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const unsigned char* src = samples + stride * static_cast<ptrdiff_t>(cinfo.next_scanline);
        JSAMPROW row = const_cast<JSAMPROW>(src);
        if (gray_row) {
            // Source is RGB with equal channels: keep one of them.
            for (int x = 0; x < width; ++x)
                gray_row[x] = src[3 * x];
            row = gray_row;
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool IsGray(const unsigned char* samples, int width, int height, ptrdiff_t stride)
{
    for (int y = 0; y < height; ++y) {
        const unsigned char* p = samples + stride * y;
        for (int x = 0; x < width; ++x, p += 3)
            if (p[0] != p[1] || p[1] != p[2])
                return false;
    }
    return true;
}

} // namespace

bool WriteJpeg(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
               int components, const JpegSettings& settings, std::string& error)
{
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        error = "image size out of range for JPEG";
        return false;
    }
    // A page without colour (most text pages) is stored as gray: a third of the data.
    std::vector<unsigned char> gray;
    if (components == 3 && IsGray(samples, width, height, stride)) {
        gray.resize(static_cast<size_t>(width));
        components = 1;
    }
    char message[JMSG_LENGTH_MAX];
    if (!Encode(out, samples, width, height, stride, components, settings, gray.empty() ? nullptr : gray.data(),
                message)) {
        error = std::string("JPEG encoding failed: ") + message;
        return false;
    }
    return true;
}
