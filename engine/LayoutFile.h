// layout.js: the geometry of every page (size, word boxes, links, label), the outline and
// the reading direction, for the viewer's text layer, search marks, link areas and
// contents panel; and the same in pieces (see BookPieces.h). Format in
// docs/book-folder.md. The files are written page by page while the search run reads the
// pages, so memory does not grow with the book.
#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "engine/AtomicFile.h"
#include "engine/DocumentNavigation.h"
#include "engine/PageLayout.h"

// Positions are written in this many parts of a point (half points: within a third of a
// pixel at 100 dpi on a page of any size), word boxes as short base-64 numbers.
constexpr int kLayoutUnit = 2;
constexpr int kLayoutVersion = 2;

// The file's text before the first page's entry, and after the last one.
std::string MakeLayoutHead(const DocumentNavigation& nav, int page_count);
std::string MakeLayoutTail();
// A piece: the fields every piece carries, `first` (its first page, from 1) and the
// page entries (joined with ",\n").
std::string MakeLayoutPiece(const DocumentNavigation& nav, int page_count, int first, const std::string& entries);
// The outline on its own, for a reader of pieces.
std::string MakeLayoutOutline(const DocumentNavigation& nav);

// The entry of one page (a JSON object). Links to pages outside 1..page_count are left out.
std::string MakeLayoutPage(const PageLayout& page, const std::string& label, int page_count);

// Writes layout.js with the page entries in page order, whatever order the pages are
// handed in: an entry waits only until the pages before it are in. Each piece of pages
// goes into its own file as soon as its last page is written, and the outline into
// layout-outline.js. Safe to use from several threads.
class LayoutFileWriter {
public:
    LayoutFileWriter(const DocumentNavigation& nav, int page_count) : nav_(nav), page_count_(page_count) {}

    // Creates the file (under a temporary name) and writes its head; the pieces go into
    // the same folder.
    bool Open(const std::string& path, std::string& error);
    // Hands in the entry of page `page_index` (from 0); a page that could not be read
    // is handed in with an empty layout.
    void Add(int page_index, const PageLayout& page);
    // Writes the pages not handed in as empty entries, the tail, and puts the file in place.
    bool Finish(std::string& error);

private:
    void WriteReadyLocked();
    void WriteLocked(const std::string& bytes);
    void WritePieceLocked();

    const DocumentNavigation& nav_;
    int page_count_;
    std::mutex mutex_;
    AtomicFile file_;
    std::map<int, std::string> waiting_;   // entries whose predecessors are not in yet
    int next_ = 0;                         // index of the next entry to write
    bool write_failed_ = false;
    std::string folder_;                   // with a trailing '/'
    std::string piece_;                    // entries of the piece being gathered
    int piece_first_ = 0;                  // index of its first page
};
