// Skipping the empty parts of an RGBA layer quickly: a text layer is mostly transparent
// (all four bytes zero), and every pass over it should cost little there.
#pragma once

#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

inline uint32_t PixelAt(const unsigned char* row, int x)
{
    uint32_t v;
    std::memcpy(&v, row + 4 * static_cast<ptrdiff_t>(x), 4);
    return v;
}

// The first x from `x` on (at most `width`) whose RGBA pixel in `row` is not all zero.
inline int NextNonEmpty(const unsigned char* row, int x, int width)
{
    // Inside a letter the very next pixel is usually drawn: it is looked at first.
    if (x >= width || PixelAt(row, x) != 0)
        return x;
#ifdef __SSE2__
    // Eight pixels per step, with one bit per empty pixel telling where the run ends.
    const __m128i zero = _mm_setzero_si128();
    while (x + 8 <= width) {
        const unsigned char* p = row + 4 * static_cast<ptrdiff_t>(x);
        __m128i low = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero);
        __m128i high = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), zero);
        unsigned empty = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(low))) |
                         static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(high))) << 4;
        if (empty != 0xFFu)
            return x + __builtin_ctz(~empty);
        x += 8;
    }
#else
    // Eight pixels per step while they are all empty.
    while (x + 8 <= width) {
        uint64_t a, b, c, d;
        const unsigned char* p = row + 4 * static_cast<ptrdiff_t>(x);
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, 8);
        std::memcpy(&c, p + 16, 8);
        std::memcpy(&d, p + 24, 8);
        if ((a | b | c | d) != 0)
            break;
        x += 8;
    }
#endif
    while (x < width && PixelAt(row, x) == 0)
        ++x;
    return x;
}
