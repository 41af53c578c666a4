// An image as palette entries, built row by row from straight RGBA while the rows are
// still in the cache, and stored directly as PNG scanlines. Entry 0 is the transparent
// colour; entries 1.. hold the opaque colours in the order they first appear. An image
// with a pixel neither fully transparent nor fully opaque, or with more than 255 opaque
// colours, is no palette image: the caller then stores it as RGBA.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/MupdfContext.h"

class PaletteImage {
public:
    // Starts an image of `width` x `height` pixels (the buffer is kept for the next image).
    // False when there is no memory for it.
    bool Start(int width, int height);

    // Maps the next row (from the top) to palette entries. False, from then on, once the
    // image turns out to be no palette image.
    bool AddRow(const unsigned char* rgba);

    // Building the next row pixel by pixel, for a caller that works out each pixel's
    // colour itself: BeginRow() gives the row's entries, all transparent (null once the
    // image is no palette image); Entry() the entry of an opaque colour (0xRRGGBB), or -1
    // past 255 colours, which makes the image no palette image; EndRow() completes the row.
    unsigned char* BeginRow();
    int Entry(uint32_t rgb);
    void EndRow() { ++rows_; }

    // Whether the image has been started at this size, can still be a palette image and
    // has no row yet.
    bool Empty(int width, int height) const
    {
        return usable_ && rows_ == 0 && width_ == width && height_ == height;
    }

    // Whether every row has been added and the image is a palette image.
    bool Complete() const { return usable_ && rows_ == height_; }

    // Packs the rows to the smallest bit depth that holds the palette (1, 2, 4 or 8), as
    // PNG scanlines: each row a filter byte (none) and its packed entries. Call once, when
    // Complete().
    void Pack();

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitDepth() const;
    int ColourCount() const { return count_; }
    // RGB of every entry, three bytes each; entry 0 (transparent) is black.
    const unsigned char* Colours() const { return colours_; }
    const unsigned char* Scanlines() const { return scanlines_; }
    size_t ScanlineBytes() const;

private:
    int Find(uint32_t key);

    static constexpr int kSlots = 1024;   // open addressing, at most a quarter full
    uint32_t slot_key_[kSlots] = {};      // key + 1; 0 = free
    uint8_t slot_index_[kSlots] = {};
    unsigned char colours_[256 * 3] = {};
    int count_ = 1;
    int width_ = 0;
    int height_ = 0;
    int rows_ = 0;
    bool usable_ = false;
    bool packed_ = false;
    BudgetBuffer buffer_;
    unsigned char* scanlines_ = nullptr;
};

// The colour of an RGB(A) pixel as a palette key, 0xRRGGBB.
inline uint32_t RgbKey(const unsigned char* p)
{
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

// Palette entries of the pixels of one row, in order: neighbouring pixels of a letter
// mostly share a colour, so the last look-up is reused.
class RowEntries {
public:
    explicit RowEntries(PaletteImage* image) : image_(image) {}
    // The entry of `rgb`, or -1 (see PaletteImage::Entry).
    int Of(uint32_t rgb)
    {
        if (rgb + 1 != last_) {
            entry_ = image_->Entry(rgb);
            last_ = rgb + 1;
        }
        return entry_;
    }

private:
    PaletteImage* image_;
    uint32_t last_ = 0;   // key + 1 of the last look-up; 0 = none yet
    int entry_ = 0;
};
