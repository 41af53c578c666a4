// The book's search files: txt.js (the text of every page for the viewer's search, also
// in pieces: txt-1.js, txt-33.js, ...) and
// text.html (the same text as a plain page for readers without script and for search
// engines). Formats are described in docs/book-folder.md.
#pragma once

#include <string>
#include <vector>

#include "engine/PageText.h"

std::string MakeTxtJs(const std::string& title, const std::vector<PageText>& pages);
// The piece of txt.js that starts at page `first_index` (from 0): the same fields, with
// `first` (from 1) and at most kPiecePages pages.
std::string MakeTxtPiece(const std::string& title, const std::vector<PageText>& pages, size_t first_index);
// The plain page has the title, the description (when there is one) and a link back to
// the book's page beside it, so a reader who lands on it from a search finds the book.
std::string MakeTextHtml(const std::string& title, const std::string& description,
                         const std::vector<PageText>& pages);

// Writes both files and the text pieces into `folder` (created when missing), each
// through a temporary name.
bool WriteSearchFiles(const std::string& folder, const std::string& title, const std::string& description,
                      const std::vector<PageText>& pages, std::string& error);
