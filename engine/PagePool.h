// Runs one task per page on a pool of worker threads. Each worker has its own MuPDF
// context and its own open copy of the document (a document must not be used by two
// threads at once), takes the next page number when it is free, and frees a page's
// memory before it takes the next one (only its pixel and encoder buffers are kept for
// the next page), so memory does not grow with the page count.
#pragma once

#include <mupdf/fitz.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/MupdfContext.h"

// Writes whole lines to standard error, one write per line so that lines of different
// threads never mix, and counts finished pages for the progress lines.
class ProgressReporter {
public:
    ProgressReporter(int total, bool verbose) : total_(total), verbose_(verbose) {}
    // Counts one finished (or failed) page and, when verbose, prints "PN:<done>/<total>"
    // ended by CR LF; done therefore rises by one per line whatever order pages finish in.
    void PageDone();
    // Prints "rastrix: <text>" on its own line.
    void Error(const std::string& text);
    // Prints "rastrix: warning: <text>" on its own line: something the run got past.
    void Warning(const std::string& text);
    // Prints "rastrix: warning: the file is damaged and was repaired", once per process
    // however many runs and workers find it.
    void RepairWarning();
    int Done() const;

private:
    mutable std::mutex mutex_;
    int done_ = 0;
    int total_;
    bool verbose_;
};

// Task for one page (index from 0); returns false with `error` set when the page failed.
// The task passes `cookie` to MuPDF, which stops the page when the watchdog sets its
// abort flag (a page that runs past the time limit).
using PageTask = std::function<bool(fz_context* ctx, fz_document* doc, int page_index, fz_cookie* cookie,
                                    std::string& error)>;

// Runs `task` for every page index in `pages` on `threads` workers (0 = one per core).
// Failed pages are reported as "page N: <error>" and the run goes on. A page that MuPDF
// read only in part (it reported damage but the page did not fail) is reported as the
// warning "page N: <reason>", and a file that had to be repaired as RepairWarning().
// Returns the number of pages that failed.
int RunPages(const std::string& pdf_path, const std::vector<int>& pages, unsigned threads, const PageTask& task,
             ProgressReporter& progress);

// Seconds one page may take before it is stopped and reported as failed:
// RASTRIX_PAGE_SECONDS when set to a number from 1 to 86400, else 120. A hostile page
// (endless patterns, enormous content) thus cannot hang a run.
int PageTimeLimitSeconds();

// Worker count: RASTRIX_THREADS when set to a number from 1 to 64, else one per core.
unsigned DefaultWorkerCount();
