// Where things are on a page, for the viewer's text layer, search marks and link areas:
// the page size, its words with their boxes and its links with their targets. Boxes are
// in points from the page's top left corner, as the page is shown (after its rotation).
#pragma once

#include <mupdf/fitz.h>

#include <string>
#include <vector>

struct LayoutWord {
    std::string text;          // no blanks inside
    fz_rect box;
    bool starts_line = false;  // the first word of a line
};

struct LayoutLink {
    fz_rect box;
    int page = 0;              // internal target page from 1, or 0 for an external address
    std::string uri;           // the external address (http:, https: or mailto: only)
};

struct PageLayout {
    float width = 0;           // points; 0 when the page could not be read
    float height = 0;
    std::vector<LayoutWord> words;
    std::vector<LayoutLink> links;
};

// The words of a text page, in reading order (the order of its blocks and lines, each
// line's characters in reading order, right-to-left text included), measured from
// `bounds`' top left corner. They are the words of the page's txt.js text split at white
// space, line by line.
void CollectWords(fz_stext_page* text, fz_rect bounds, PageLayout& out);

// Appends the links of `links` that lead somewhere a reader may safely go: a page of
// the document, or an http:, https: or mailto: address. Everything else (scripts, local
// files, data addresses, launch actions) is dropped.
void CollectLinks(fz_context* ctx, fz_document* doc, fz_link* links, fz_rect bounds, PageLayout& out);

// True for an address a book may open in a new browser tab.
bool IsSafeExternalAddress(const std::string& uri);
