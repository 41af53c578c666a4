// The book folder's text and data files beside its images: the search files (txt.js,
// text.html), the page layout (layout.js, absent in books made before it existed) and
// the pieces both come in since books are read piece by piece (layout-1.js, txt-1.js,
// layout-outline.js, ...; absent in books made before).
#pragma once

#include <string>
#include <vector>

// The names of those files in `book_folder`, the whole files first, then the pieces in
// name order. txt.js and text.html are listed whether or not they exist.
std::vector<std::string> BookDataFiles(const std::string& book_folder);

// True for the name of a piece ("layout-33.js", "txt-1.js", "layout-outline.js").
bool IsBookDataPiece(const std::string& name);
