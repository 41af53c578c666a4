// What a reader needs to find their way through a document beyond its pages: the outline
// (table of contents), the page labels ("iv", "A-3") and the reading direction.
#pragma once

#include <mupdf/fitz.h>

#include <string>
#include <vector>

struct OutlineEntry {
    std::string title;   // one line, UTF-8
    int page = 0;        // target page from 1, or 0 when the entry leads nowhere in the book
    int level = 1;       // 1 for the top level
};

// One range of the page label tree: pages from `first_index` (from 0) on are labelled
// `prefix` followed by their number `start`, `start` + 1, ... in `style`.
struct PageLabelRange {
    int first_index = 0;
    char style = 0;      // 'D' decimal, 'R'/'r' roman, 'A'/'a' letters, 0 prefix only
    std::string prefix;
    int start = 1;
};

struct DocumentNavigation {
    std::vector<OutlineEntry> outline;
    std::vector<PageLabelRange> label_ranges;   // sorted by first_index
    bool right_to_left = false;

    // The label of page `page_index` (from 0), or "" when the document has no labels
    // for it.
    std::string LabelOf(int page_index) const;
};

// Reads outline, labels and direction; parts that cannot be read are left empty (a
// damaged outline never stops a book). Targets outside 1..page_count are dropped.
DocumentNavigation ReadDocumentNavigation(fz_context* ctx, fz_document* doc, int page_count);

// "iv", "B", "xii"...: `number` written in `style` (see PageLabelRange); numbers a style
// cannot write sensibly (roman above 4999, letters above 2600) are written in decimal.
std::string FormatPageNumber(char style, int number);
