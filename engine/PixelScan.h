// Skipping the empty parts of an RGBA layer quickly: a text layer is mostly transparent
// (all four bytes zero), and every pass over it should cost little there.
#pragma once

#include <cstdint>
#include <cstring>

// The first x from `x` on (at most `width`) whose RGBA pixel in `row` is not all zero.
inline int NextNonEmpty(const unsigned char* row, int x, int width)
{
    // Eight pixels per step while they are all empty.
    while (x + 8 <= width) {
        uint64_t v[4];
        std::memcpy(v, row + 4 * static_cast<ptrdiff_t>(x), sizeof v);
        if ((v[0] | v[1] | v[2] | v[3]) != 0)
            break;
        x += 8;
    }
    while (x < width) {
        uint32_t v;
        std::memcpy(&v, row + 4 * static_cast<ptrdiff_t>(x), 4);
        if (v != 0)
            break;
        ++x;
    }
    return x;
}
