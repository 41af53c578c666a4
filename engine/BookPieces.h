// The book's layout and search text are also written in pieces of a fixed number of
// pages ("layout-33.js" holds pages 33 to 64, "txt-33.js" their text), so that the viewer
// fetches what the pages on show need, whatever the length of the book, instead of one
// file that grows with it. The whole files stay for readers that know no pieces.
#pragma once

#include <string>

// The page template announces the same size to the viewer (data-layout-pieces in
// booklet.asp), which asks for the first spread's piece by it.
constexpr int kPiecePages = 32;

// "layout-33.js" for stem "layout" and the piece that starts at page 33 (from 1).
std::string PieceFileName(const std::string& stem, int first_page);
// The name of the file that holds the outline beside the layout pieces.
constexpr const char* kOutlinePieceName = "layout-outline.js";

// Removes the pieces in `folder` that a book of `page_count` pages does not have (left by
// an earlier conversion of a longer document), and the outline piece unless `keep_outline`.
void RemoveStalePieces(const std::string& folder, int page_count, bool keep_outline);
