#include "engine/JpegWriter.h"

#include <csetjmp>
#include <cstring>
#include <jpeglib.h>

#include "engine/JpegSmoothing.h"

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
            int components, const JpegSettings& settings, SmoothedRows* smoothed, char* message)
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
    // Smoothed rows come finished, as raw component data.
    cinfo.smoothing_factor = smoothed ? 0 : settings.smoothing;
    cinfo.raw_data_in = smoothed ? TRUE : FALSE;
    cinfo.optimize_coding = settings.optimize_coding ? TRUE : FALSE;
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(settings.dpi);
    cinfo.Y_density = static_cast<UINT16>(settings.dpi);
    jpeg_start_compress(&cinfo, TRUE);
    if (smoothed) {
        JSAMPARRAY planes[3] = {smoothed->Rows(0), components == 3 ? smoothed->Rows(1) : nullptr,
                                components == 3 ? smoothed->Rows(2) : nullptr};
        const int group = smoothed->RowsPerGroup();
        for (int index = 0; index * group < height; ++index) {
            smoothed->Fill(index);
            jpeg_write_raw_data(&cinfo, planes, static_cast<JDIMENSION>(group));
        }
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples + stride * static_cast<ptrdiff_t>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
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
    if (components != 1 && components != 3) {
        error = "JPEG needs gray or RGB pixels";
        return false;
    }
    if (settings.smoothing < 0 || settings.smoothing > 100) {
        error = "JPEG smoothing out of range";
        return false;
    }
    // The rows for the smoothing, kept by the thread from one image to the next.
    thread_local SmoothedRows rows;
    bool smooth_here = settings.smoothing > 0 && rows.Start(samples, width, height, stride, components,
                                                              settings.smoothing);
    char message[JMSG_LENGTH_MAX];
    if (!Encode(out, samples, width, height, stride, components, settings, smooth_here ? &rows : nullptr,
                message)) {
        error = std::string("JPEG encoding failed: ") + message;
        return false;
    }
    return true;
}
