#include "engine/JpegSmoothing.h"

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define HAVE_SSSE3_PATH 1
#endif

namespace {

// One full-size row smoothed from the rows above, at and below it (`width` samples
// each), padded with the edge to `padded_width`. `sums` has room for padded_width + 2.
void SmoothFullRow(const unsigned char* above, const unsigned char* here, const unsigned char* below, int width,
                   int padded_width, int smoothing, uint16_t* sums, unsigned char* out)
{
    // sums[i]: the sum of the column at x = i - 1 and its samples above and below.
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
    for (x = width + 1; x < padded_width + 2; ++x)
        sums[x] = sums[width];
    // (1 - 8 SF) and SF scaled by 2^16 share the factor 64: scaled by 2^10 instead.
    const int member = 8 * (128 - smoothing);
    x = 0;
#ifdef __SSE2__
    // Sample and neighbour sum side by side as 16-bit pairs, multiplied and added in one step.
    const __m128i factors = _mm_set1_epi32((smoothing << 16) | member);
    const __m128i half = _mm_set1_epi32(512);
    for (; x + 8 <= width; x += 8) {
        __m128i sample = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(here + x)), zero);
        auto load = [&](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + x + i)); };
        __m128i neighbours = _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(load(0), load(1)), load(2)), sample);
        __m128i low = _mm_madd_epi16(_mm_unpacklo_epi16(sample, neighbours), factors);
        __m128i high = _mm_madd_epi16(_mm_unpackhi_epi16(sample, neighbours), factors);
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
    for (; x < padded_width; ++x) {
        int neighbours = sums[x] + sums[x + 1] + sums[x + 2] - edge;
        out[x] = static_cast<unsigned char>((member * edge + smoothing * neighbours + 512) >> 10);
    }
}

// One half-size row from the two full-size rows it covers and the rows above and below
// them (`width` samples each), `out_width` samples. `inner` and `outer` have room for
// 2 * out_width + 2 each.
void SmoothHalfRow(const unsigned char* above, const unsigned char* top, const unsigned char* bottom,
                   const unsigned char* below, int width, int out_width, int smoothing, uint16_t* inner,
                   uint16_t* outer, unsigned char* out)
{
    // Column sums at x = i - 1: of the two covered rows, and of the rows above and below.
    int x = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    auto wide = [&](const unsigned char* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + x)), zero);
    };
    for (; x + 8 <= width; x += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(inner + x + 1), _mm_add_epi16(wide(top), wide(bottom)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outer + x + 1), _mm_add_epi16(wide(above), wide(below)));
    }
#endif
    for (; x < width; ++x) {
        inner[x + 1] = static_cast<uint16_t>(top[x] + bottom[x]);
        outer[x + 1] = static_cast<uint16_t>(above[x] + below[x]);
    }
    inner[0] = inner[1];
    outer[0] = outer[1];
    for (x = width + 1; x < 2 * out_width + 2; ++x) {
        inner[x] = inner[width];
        outer[x] = outer[width];
    }
    // The four covered samples count (1 - 5 SF) / 4, the eight edge neighbours SF / 2 and
    // the four corner neighbours SF / 4, scaled by 2^16, which share the factor 16.
    const int member = 1024 - 5 * smoothing;
    int j = 0;
#ifdef __SSE2__
    // Four outputs at a time, in 32-bit lanes: pairs of column sums added by multiply-adds
    // with (1, 1), their left and right columns picked by (1, 0) and (0, 1).
    auto pair = [](int lo, int hi) { return _mm_set1_epi32(lo | (hi << 16)); };
    const __m128i both = pair(1, 1), left = pair(1, 0), right = pair(0, 1);
    const __m128i factors = pair(member, smoothing);
    const __m128i half = _mm_set1_epi32(2048);
    for (; j + 4 <= out_width; j += 4) {
        auto load = [&](const uint16_t* v, int i) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 2 * j + i));
        };
        __m128i members = _mm_madd_epi16(load(inner, 1), both);
        __m128i sides = _mm_add_epi32(_mm_madd_epi16(load(inner, 0), left), _mm_madd_epi16(load(inner, 2), right));
        __m128i ends = _mm_add_epi32(_mm_madd_epi16(load(outer, 0), left), _mm_madd_epi16(load(outer, 2), right));
        __m128i neighbours = _mm_add_epi32(
            _mm_slli_epi32(_mm_add_epi32(_mm_madd_epi16(load(outer, 1), both), sides), 1), ends);
        __m128i sum = _mm_madd_epi16(_mm_or_si128(members, _mm_slli_epi32(neighbours, 16)), factors);
        sum = _mm_srai_epi32(_mm_add_epi32(sum, half), 12);
        __m128i packed = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
        int four = _mm_cvtsi128_si32(packed);
        std::memcpy(out + j, &four, 4);
    }
#endif
    for (; j < out_width; ++j) {
        const int l = 2 * j, a = l + 1, b = l + 2, r = l + 3;
        int members = inner[a] + inner[b];
        int neighbours = 2 * (outer[a] + outer[b] + inner[l] + inner[r]) + outer[l] + outer[r];
        out[j] = static_cast<unsigned char>((members * member + neighbours * smoothing + 2048) >> 12);
    }
}

// RGB to YCbCr in libjpeg's fixed-point arithmetic (its coefficients scaled by 2^16),
// from pixel `x` on.
void RgbToYccFrom(int x, const unsigned char* rgb, int width, unsigned char* y, unsigned char* cb,
                  unsigned char* cr)
{
    for (; x < width; ++x) {
        const int r = rgb[3 * x], g = rgb[3 * x + 1], b = rgb[3 * x + 2];
        y[x] = static_cast<unsigned char>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
        cb[x] = static_cast<unsigned char>((-11059 * r - 21709 * g + 32768 * b + 8421375) >> 16);
        cr[x] = static_cast<unsigned char>((32768 * r - 27439 * g - 5329 * b + 8421375) >> 16);
    }
}

#ifdef HAVE_SSSE3_PATH
// The same eight pixels at a time: the channels are pulled apart by byte shuffles and
// each sum is two 16-bit multiply-adds (a coefficient above 32767 is split in two).
__attribute__((target("ssse3"))) void RgbToYccSsse3(const unsigned char* rgb, int width, unsigned char* y,
                                                    unsigned char* cb, unsigned char* cr)
{
    // Byte k of the first 16 bytes or of bytes 8..23 of eight pixels, widened to 16 bits.
    auto pick = [](int a, int b, int c, int d, int e, int f, int g, int h) {
        auto lane = [](int k) { return k < 0 ? char(-128) : char(k); };
        return _mm_setr_epi8(lane(a), -128, lane(b), -128, lane(c), -128, lane(d), -128, lane(e), -128, lane(f),
                             -128, lane(g), -128, lane(h), -128);
    };
    const __m128i r0 = pick(0, 3, 6, 9, 12, 15, -1, -1), r1 = pick(-1, -1, -1, -1, -1, -1, 10, 13);
    const __m128i g0 = pick(1, 4, 7, 10, 13, -1, -1, -1), g1 = pick(-1, -1, -1, -1, -1, 8, 11, 14);
    const __m128i b0 = pick(2, 5, 8, 11, 14, -1, -1, -1), b1 = pick(-1, -1, -1, -1, -1, 9, 12, 15);
    auto pair = [](int lo, int hi) { return _mm_set1_epi32(int(uint32_t(uint16_t(lo)) | (uint32_t(uint16_t(hi)) << 16))); };
    const __m128i y_rg = pair(19595, 22086), y_bg = pair(7471, 16384);
    const __m128i cb_rg = pair(-11059, -21709), c_half = pair(16384, 16384);
    const __m128i cr_gb = pair(-27439, -5329);
    const __m128i y_round = _mm_set1_epi32(32768), c_round = _mm_set1_epi32(8421375);
    auto finish = [](__m128i lo, __m128i hi, __m128i round) {
        lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 16);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 16);
        return _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
    };
    // White paper, the most common colour of a page, needs no arithmetic.
    const __m128i white = _mm_set1_epi8(-1);
    const __m128i white_cbcr = _mm_set1_epi8(-128);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const unsigned char* p = rgb + 3 * x;
        __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(head, tail), white)) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(y + x), white);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + x), white_cbcr);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + x), white_cbcr);
            continue;
        }
        __m128i r = _mm_or_si128(_mm_shuffle_epi8(head, r0), _mm_shuffle_epi8(tail, r1));
        __m128i g = _mm_or_si128(_mm_shuffle_epi8(head, g0), _mm_shuffle_epi8(tail, g1));
        __m128i b = _mm_or_si128(_mm_shuffle_epi8(head, b0), _mm_shuffle_epi8(tail, b1));
        __m128i rg_lo = _mm_unpacklo_epi16(r, g), rg_hi = _mm_unpackhi_epi16(r, g);
        __m128i bg_lo = _mm_unpacklo_epi16(b, g), bg_hi = _mm_unpackhi_epi16(b, g);
        __m128i gb_lo = _mm_unpacklo_epi16(g, b), gb_hi = _mm_unpackhi_epi16(g, b);
        __m128i bb_lo = _mm_unpacklo_epi16(b, b), bb_hi = _mm_unpackhi_epi16(b, b);
        __m128i rr_lo = _mm_unpacklo_epi16(r, r), rr_hi = _mm_unpackhi_epi16(r, r);
        __m128i vy = finish(_mm_add_epi32(_mm_madd_epi16(rg_lo, y_rg), _mm_madd_epi16(bg_lo, y_bg)),
                            _mm_add_epi32(_mm_madd_epi16(rg_hi, y_rg), _mm_madd_epi16(bg_hi, y_bg)), y_round);
        __m128i vcb = finish(_mm_add_epi32(_mm_madd_epi16(rg_lo, cb_rg), _mm_madd_epi16(bb_lo, c_half)),
                             _mm_add_epi32(_mm_madd_epi16(rg_hi, cb_rg), _mm_madd_epi16(bb_hi, c_half)), c_round);
        __m128i vcr = finish(_mm_add_epi32(_mm_madd_epi16(rr_lo, c_half), _mm_madd_epi16(gb_lo, cr_gb)),
                             _mm_add_epi32(_mm_madd_epi16(rr_hi, c_half), _mm_madd_epi16(gb_hi, cr_gb)), c_round);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(y + x), vy);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + x), vcb);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + x), vcr);
    }
    RgbToYccFrom(x, rgb, width, y, cb, cr);
}
#endif

void RgbToYcc(const unsigned char* rgb, int width, unsigned char* y, unsigned char* cb, unsigned char* cr)
{
#ifdef HAVE_SSSE3_PATH
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        RgbToYccSsse3(rgb, width, y, cb, cr);
        return;
    }
#endif
    RgbToYccFrom(0, rgb, width, y, cb, cr);
}

} // namespace

bool SmoothedRows::Start(const unsigned char* samples, int width, int height, ptrdiff_t stride, int components,
                         int smoothing)
{
    samples_ = samples;
    width_ = width;
    height_ = height;
    stride_ = stride;
    components_ = components == 1 ? 1 : 3;
    smoothing_ = smoothing;
    const int unit = components_ == 1 ? 8 : 16;
    luma_width_ = (width + unit - 1) / unit * unit;
    chroma_width_ = luma_width_ / 2;
    const size_t luma = static_cast<size_t>(luma_width_);
    const size_t group = static_cast<size_t>(RowsPerGroup());
    try {
        sums_.resize(2 * (luma + 2));
        if (components_ == 3)
            full_.resize(3 * (group + 2) * luma);
        out_.resize(group * luma + (components_ == 3 ? group * luma / 2 : 0));
        rows_[0].resize(group);
        for (size_t r = 0; r < group; ++r)
            rows_[0][r] = out_.data() + r * luma;
        if (components_ == 3)
            for (int c = 1; c < 3; ++c) {
                rows_[c].resize(group / 2);
                for (size_t r = 0; r < group / 2; ++r)
                    rows_[c][r] = out_.data() + group * luma + ((c - 1) * group / 2 + r) * luma / 2;
            }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

const unsigned char* SmoothedRows::Source(int y) const
{
    return samples_ + stride_ * static_cast<ptrdiff_t>(std::clamp(y, 0, height_ - 1));
}

void SmoothedRows::Fill(int index)
{
    const int top = index * RowsPerGroup();
    if (components_ == 1) {
        for (int r = 0; r < RowsPerGroup(); ++r)
            SmoothFullRow(Source(top + r - 1), Source(top + r), Source(top + r + 1), width_, luma_width_, smoothing_,
                          sums_.data(), rows_[0][r]);
        return;
    }
    // The group's rows with one more above and below, converted to YCbCr at full size.
    const size_t luma = static_cast<size_t>(luma_width_);
    const int span = RowsPerGroup() + 2;
    auto full = [&](int c, int i) { return full_.data() + (static_cast<size_t>(c) * span + i) * luma; };
    for (int i = 0; i < span; ++i)
        RgbToYcc(Source(top - 1 + i), width_, full(0, i), full(1, i), full(2, i));
    for (int r = 0; r < RowsPerGroup(); ++r)
        SmoothFullRow(full(0, r), full(0, r + 1), full(0, r + 2), width_, luma_width_, smoothing_, sums_.data(),
                      rows_[0][r]);
    for (int c = 1; c < 3; ++c)
        for (int r = 0; r < RowsPerGroup() / 2; ++r)
            SmoothHalfRow(full(c, 2 * r), full(c, 2 * r + 1), full(c, 2 * r + 2), full(c, 2 * r + 3), width_,
                          chroma_width_, smoothing_, sums_.data(), sums_.data() + luma + 2, rows_[c][r]);
}
