#include "engine/PaletteImage.h"

#include <cstring>

#include "engine/PixelScan.h"

namespace {

size_t RowBytes(int width, int bit_depth)
{
    return (static_cast<size_t>(width) * static_cast<size_t>(bit_depth) + 7) / 8;
}

} // namespace

bool PaletteImage::Start(int width, int height)
{
    width_ = width;
    height_ = height;
    rows_ = 0;
    count_ = 1;
    packed_ = false;
    std::memset(slot_key_, 0, sizeof slot_key_);
    std::memset(colours_, 0, 3);
    scanlines_ = width > 0 && height > 0 ? buffer_.Get((RowBytes(width, 8) + 1) * static_cast<size_t>(height))
                                         : nullptr;
    usable_ = scanlines_ != nullptr;
    return usable_;
}

int PaletteImage::Find(uint32_t key)
{
    uint32_t slot = (key * 2654435761u) >> 22;
    while (slot_key_[slot]) {
        if (slot_key_[slot] == key + 1)
            return slot_index_[slot];
        slot = (slot + 1) & (kSlots - 1);
    }
    if (count_ == 256)
        return -1;
    slot_key_[slot] = key + 1;
    slot_index_[slot] = static_cast<uint8_t>(count_);
    colours_[3 * count_] = static_cast<unsigned char>(key >> 16);
    colours_[3 * count_ + 1] = static_cast<unsigned char>(key >> 8);
    colours_[3 * count_ + 2] = static_cast<unsigned char>(key);
    return count_++;
}

unsigned char* PaletteImage::BeginRow()
{
    if (!usable_ || rows_ >= height_) {
        usable_ = false;
        return nullptr;
    }
    unsigned char* out = scanlines_ + (RowBytes(width_, 8) + 1) * static_cast<size_t>(rows_);
    std::memset(out, 0, RowBytes(width_, 8) + 1);   // filter "none", every pixel transparent
    return out + 1;
}

int PaletteImage::Entry(uint32_t rgb)
{
    int index = Find(rgb);
    if (index < 0)
        usable_ = false;
    return index;
}

bool PaletteImage::AddRow(const unsigned char* rgba)
{
    unsigned char* out = BeginRow();
    if (!out)
        return false;
    RowEntries entries(this);
    for (int x = NextNonEmpty(rgba, 0, width_); x < width_; x = NextNonEmpty(rgba, x + 1, width_)) {
        const unsigned char* p = rgba + 4 * static_cast<ptrdiff_t>(x);
        if (p[3] == 0)
            continue;
        if (p[3] != 255)
            return usable_ = false;
        int index = entries.Of(RgbKey(p));
        if (index < 0)
            return false;
        out[x] = static_cast<unsigned char>(index);
    }
    EndRow();
    return true;
}

int PaletteImage::BitDepth() const
{
    return count_ <= 2 ? 1 : count_ <= 4 ? 2 : count_ <= 16 ? 4 : 8;
}

size_t PaletteImage::ScanlineBytes() const
{
    return (RowBytes(width_, packed_ ? BitDepth() : 8) + 1) * static_cast<size_t>(height_);
}

namespace {

// Packs one row of 8-bit entries, each below 2^depth, at `depth` bits per pixel, the
// leftmost pixel in the high bits. `dst` may be `src` itself: a byte is written only
// after the entries it holds have been read.
template <int depth>
void PackRow(const unsigned char* src, unsigned char* dst, int width)
{
    constexpr int per_byte = 8 / depth;
    int x = 0;
    for (; x + per_byte <= width; x += per_byte) {
        unsigned byte = 0;
        for (int k = 0; k < per_byte; ++k)
            byte = (byte << depth) | src[x + k];
        *dst++ = static_cast<unsigned char>(byte);
    }
    if (x < width) {
        unsigned byte = 0;
        for (int k = 0; k < per_byte; ++k)
            byte = (byte << depth) | (x + k < width ? src[x + k] : 0u);
        *dst = static_cast<unsigned char>(byte);
    }
}

} // namespace

void PaletteImage::Pack()
{
    if (packed_ || !Complete())
        return;
    packed_ = true;
    const int depth = BitDepth();
    if (depth == 8)
        return;
    // In place, from the top: a packed row never reaches past the unpacked bytes it has
    // yet to read (it starts no later and is shorter).
    const size_t wide = RowBytes(width_, 8) + 1;
    const size_t narrow = RowBytes(width_, depth) + 1;
    for (int y = 0; y < height_; ++y) {
        const unsigned char* src = scanlines_ + wide * static_cast<size_t>(y) + 1;
        unsigned char* dst = scanlines_ + narrow * static_cast<size_t>(y);
        dst[0] = 0;
        switch (depth) {
        case 1: PackRow<1>(src, dst + 1, width_); break;
        case 2: PackRow<2>(src, dst + 1, width_); break;
        default: PackRow<4>(src, dst + 1, width_); break;
        }
    }
}
