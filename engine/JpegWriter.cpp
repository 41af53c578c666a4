#include "engine/JpegWriter.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <jpeglib.h>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// libjpeg's input smoothing of a gray image works one pixel at a time; done here instead,
// eight pixels at a time, and handed over as raw data, the file comes out
// byte for byte the same in less time. Each pixel becomes
//     (pixel * (1 - 8 SF) + sum of its 8 neighbours * SF),  SF = smoothing / 1024,
// in the same fixed-point arithmetic, on the image extended by repeating its edge pixels;
// the rows are padded to whole 8x8 blocks the same way.
struct GraySmoothing {
    int padded_width;      // whole blocks
    uint16_t* column_sums; // padded_width + 2 entries
    unsigned char* rows;   // 8 rows of padded_width
};

void SmoothGrayRow(const unsigned char* samples, ptrdiff_t stride, int width, int height, int y, int smoothing,
                   const GraySmoothing& work, unsigned char* out)
{
    auto row = [&](int r) { return samples + stride * static_cast<ptrdiff_t>(std::clamp(r, 0, height - 1)); };
    const unsigned char* above = row(y - 1);
    const unsigned char* here = row(y);
    const unsigned char* below = row(y + 1);
    // sums[i]: the sum of the column at x = i - 1 and its pixels above and below.
    uint16_t* sums = work.column_sums;
    int x = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; x + 8 <= width; x += 8) {
        auto wide = [&](const unsigned char* p) {
            return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + x)), zero);
        };
        __m128i sum = _mm_add_epi16(_mm_add_epi16(wide(above), wide(here)), wide(below));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x + 1), sum);
    }
#endif
    for (; x < width; ++x)
        sums[x + 1] = static_cast<uint16_t>(above[x] + here[x] + below[x]);
    sums[0] = sums[1];
    for (x = width + 1; x < work.padded_width + 2; ++x)
        sums[x] = sums[width];
    // (1 - 8 SF) and SF scaled by 2^16 share the factor 64: scaled by 2^10 instead.
    const int member = 8 * (128 - smoothing);
    x = 0;
#ifdef __SSE2__
    // Pixel and neighbour sum side by side as 16-bit pairs, multiplied and added in one step.
    const __m128i factors = _mm_set1_epi32((smoothing << 16) | member);
    const __m128i half = _mm_set1_epi32(512);
    for (; x + 8 <= width; x += 8) {
        __m128i pixel = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(here + x)), zero);
        auto load = [&](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + x + i)); };
        __m128i neighbours = _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(load(0), load(1)), load(2)), pixel);
        __m128i low = _mm_madd_epi16(_mm_unpacklo_epi16(pixel, neighbours), factors);
        __m128i high = _mm_madd_epi16(_mm_unpackhi_epi16(pixel, neighbours), factors);
        low = _mm_srai_epi32(_mm_add_epi32(low, half), 10);
        high = _mm_srai_epi32(_mm_add_epi32(high, half), 10);
        __m128i packed = _mm_packus_epi16(_mm_packs_epi32(low, high), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), packed);
    }
#endif
    for (; x < width; ++x) {
        int neighbours = sums[x] + sums[x + 1] + sums[x + 2] - here[x];
        out[x] = static_cast<unsigned char>((member * here[x] + smoothing * neighbours + 512) >> 10);
    }
    const int edge = here[width - 1];
    for (int x = width; x < work.padded_width; ++x) {
        int neighbours = sums[x] + sums[x + 1] + sums[x + 2] - edge;
        out[x] = static_cast<unsigned char>((member * edge + smoothing * neighbours + 512) >> 10);
    }
}

// Kept free of C++ objects with destructors: libjpeg reports errors by longjmp.
bool Encode(FILE* out, const unsigned char* samples, int width, int height, ptrdiff_t stride,
            int components, const JpegSettings& settings, const GraySmoothing* gray_smoothing, char* message)
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
    cinfo.smoothing_factor = gray_smoothing ? 0 : settings.smoothing;
    cinfo.raw_data_in = gray_smoothing ? TRUE : FALSE;
    cinfo.optimize_coding = settings.optimize_coding ? TRUE : FALSE;
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(settings.dpi);
    cinfo.Y_density = static_cast<UINT16>(settings.dpi);
    jpeg_start_compress(&cinfo, TRUE);
    if (gray_smoothing) {
        // One row of 8x8 blocks at a time, the last padded below by repeating the last row.
        JSAMPROW rows[DCTSIZE];
        for (int r = 0; r < DCTSIZE; ++r)
            rows[r] = gray_smoothing->rows + static_cast<ptrdiff_t>(r) * gray_smoothing->padded_width;
        JSAMPARRAY planes[1] = {rows};
        for (int top = 0; top < height; top += DCTSIZE) {
            for (int r = 0; r < DCTSIZE; ++r)
                SmoothGrayRow(samples, stride, width, height, top + r, settings.smoothing, *gray_smoothing, rows[r]);
            jpeg_write_raw_data(&cinfo, planes, DCTSIZE);
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
    // Room for the gray smoothing, kept by the thread from one image to the next.
    thread_local std::vector<uint16_t> column_sums;
    thread_local std::vector<unsigned char> rows;
    GraySmoothing smoothing{};
    bool smooth_here = components == 1 && settings.smoothing > 0;
    if (smooth_here) {
        smoothing.padded_width = (width + DCTSIZE - 1) / DCTSIZE * DCTSIZE;
        column_sums.resize(static_cast<size_t>(smoothing.padded_width) + 2);
        rows.resize(static_cast<size_t>(smoothing.padded_width) * DCTSIZE);
        smoothing.column_sums = column_sums.data();
        smoothing.rows = rows.data();
    }
    char message[JMSG_LENGTH_MAX];
    if (!Encode(out, samples, width, height, stride, components, settings, smooth_here ? &smoothing : nullptr,
                message)) {
        error = std::string("JPEG encoding failed: ") + message;
        return false;
    }
    return true;
}
