// libjpeg's input smoothing, done before the encoder: libjpeg smooths one sample at a
// time, this does it eight at a time where it can and hands libjpeg the finished
// component rows as raw data, so a smoothed JPEG comes out byte for byte the same in
// less time. The arithmetic is libjpeg's own fixed-point arithmetic, on the image
// extended by repeating its edge pixels, and the rows are padded to whole blocks alike:
// - gray, or the luma of a colour image (full size): each sample becomes
//   sample * (1 - 8 SF) + sum of its 8 neighbours * SF, with SF = smoothing / 1024;
// - the two chroma components of a colour image, halved both ways (4:2:0): each sample
//   is the mean of the four samples it covers, each smoothed so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class SmoothedRows {
public:
    // Prepares for an image of 8-bit gray (1 component) or RGB (3) rows `stride` bytes
    // apart, smoothing 1..100. False when there is no memory for the rows.
    bool Start(const unsigned char* samples, int width, int height, ptrdiff_t stride, int components,
               int smoothing);

    // Image rows per group of block rows: 8 for gray, 16 for colour (libjpeg's iMCU row).
    int RowsPerGroup() const { return components_ == 1 ? 8 : 16; }

    // Makes the component rows of group `index` (from the top); Rows(c) then holds them
    // (RowsPerGroup() luma rows, half as many chroma rows), as libjpeg's raw data wants.
    void Fill(int index);
    unsigned char** Rows(int component) { return rows_[component].data(); }

private:
    const unsigned char* Source(int y) const;

    const unsigned char* samples_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    ptrdiff_t stride_ = 0;
    int components_ = 1;
    int smoothing_ = 0;
    int luma_width_ = 0;     // whole blocks (gray) or whole 16-pixel units (colour)
    int chroma_width_ = 0;   // half of luma_width_
    std::vector<unsigned char> full_;    // colour: Y, Cb, Cr at full size, RowsPerGroup() + 2 rows each
    std::vector<unsigned char> out_;     // the component rows handed over
    std::vector<uint16_t> sums_;
    std::vector<unsigned char*> rows_[3];
};
