// The engine's command lines. Each builder returns the command-line text exactly as it is
// logged (it begins with a blank and never repeats the program name) together with the
// argument vector handed to the engine. Both are made from the same pieces: a quoted
// piece appears in the text between double quotes and in the vector as one argument,
// unchanged, so a quote or a blank in a title or a path can never split or add arguments.
// All numbers are written in decimal without leading zeros.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EngineCommand {
    std::string text;               // the command line as logged, e.g. " -r 72 -size \"a.pdf\""
    std::vector<std::string> args;  // the arguments after the program name
};

// Cover image "img-1-e-cover.jpg" into `dir` (the book's thumb folder).
EngineCommand CoverCommand(int32_t resolution, const std::string& dir, const std::string& pdf);
// Link-preview picture "img-1-e-share.jpg" into `dir` (thumb): page 1 at a resolution of
// `centi_dpi` hundredths of a dot per inch, so that the picture fills its box.
EngineCommand ShareImageCommand(int32_t centi_dpi, const std::string& dir, const std::string& pdf);
// The resolution, in hundredths of a dot per inch rounded down (so that the picture never
// exceeds the box), at which a page of `page_width` x `page_height` pixels at `dpi` fills
// as much of a `box_width` x `box_height` box as its shape allows; 0 for an empty page.
int32_t FitResolution(int32_t box_width, int32_t box_height, int32_t dpi, int32_t page_width, int32_t page_height);
// Thumbnails "img-<n>-e.jpg" into `dir` (thumb), with progress lines.
EngineCommand ThumbsCommand(int32_t resolution, const std::string& dir, const std::string& pdf);
// Page images "img-<n>.jpg" and "img-<n>-f.png" into `dir`: the zoom, high, medium and low
// runs, which differ only in their values. A quality is passed within 1..100 and a
// smoothing factor within 0..100, the ranges the engine takes.
EngineCommand PageImagesCommand(int32_t resolution, int32_t quality, int32_t smooth,
                                const std::string& dir, const std::string& pdf);
// The zoom run: the page images of PageImagesCommand at `resolution` plus the sharp
// zoom's tiles of the text layer at `tile_resolution` into `tile_dir` (tiles).
EngineCommand ZoomImagesCommand(int32_t resolution, int32_t tile_resolution, int32_t quality, int32_t smooth,
                                const std::string& dir, const std::string& tile_dir, const std::string& pdf);
// The resolution of the sharp zoom's tiles for a book at `dpi` whose pages are
// `page_width` pixels wide at it: 2048 pixels (four tiles) across the page, so that a
// page zoomed to twice its fitted width on a phone (about 2250 device pixels on a 390 px
// screen at ratio 3) gets at least 0.9 image pixels per device pixel; and at least one and
// a half times `dpi`, so that the tiles are always sharper than the zoom images. Whole
// dots per inch, rounded up; 0 for an empty page.
int32_t TileResolution(int32_t dpi, int32_t page_width);
// Print images "img-<n>-e.jpg" at 108, quality 70, into `dir` (print).
EngineCommand PrintCommand(const std::string& dir, const std::string& pdf);
// The search files into the book folder `book_dir`; `title` is UTF-8 and passed unescaped.
// A non-empty `description` (UTF-8, unescaped) follows the title as "-description".
EngineCommand SearchCommand(const std::string& book_dir, int32_t resolution, const std::string& title,
                            int32_t page_count, const std::string& pdf, const std::string& description = {});
// Page size query: width and height on the first two output lines.
EngineCommand SizeQueryCommand(int32_t resolution, const std::string& pdf);
// Document information query: seven output lines (title, -, tags, description, page
// count, page width, page height).
EngineCommand InfoQueryCommand(int32_t resolution, const std::string& pdf);

// The resolution at which a page side of `page_side` pixels at `dpi` becomes `size`
// pixels (cover 128, thumbnails 60): size * dpi / page_side, remainder dropped. Returns 0
// when `page_side` is not positive instead of dividing by zero.
int32_t SideResolution(int32_t size, int32_t dpi, int32_t page_side);
