// The characters of a text line in reading order. Most PDF writers set right-to-left
// text (Arabic, Hebrew) as glyphs in the order they stand on the page, left to right, so
// the extracted line reads backwards; a line whose right-to-left runs go rightwards on
// the page is put back into reading order here. Lines already in reading order (their
// right-to-left runs go leftwards) and lines without such text are left as they are.
#pragma once

#include <mupdf/fitz.h>

#include <vector>

struct LineChar {
    int c;
    fz_quad quad;
};

std::vector<LineChar> LineInReadingOrder(const fz_stext_line* line);

// The same for characters in the order they come in (for tests and for callers that do
// not hold a MuPDF line); `dir` is the direction of the line's baseline.
std::vector<LineChar> InReadingOrder(std::vector<LineChar> chars, fz_point dir);
