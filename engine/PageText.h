// The text of one page as MuPDF reads it: blocks of lines in reading order, UTF-8.
#pragma once

#include <mupdf/fitz.h>

#include <string>
#include <vector>

struct PageText {
    std::vector<std::vector<std::string>> blocks;   // each block: its lines
    // The page's lines joined by "\n" (blocks follow each other without a blank line).
    std::string Joined() const;
};

struct PageLayout;

// Extracts the text of page `page_index` (from 0). False (and `error`) on failure.
// `cookie` (may be null) lets another thread stop the page. With `layout` set, the same
// reading of the page also gives its size, word boxes and links.
bool ExtractPageText(fz_context* ctx, fz_document* doc, int page_index, fz_cookie* cookie, PageText& out,
                     std::string& error, PageLayout* layout = nullptr);
