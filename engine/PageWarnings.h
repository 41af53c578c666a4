// What MuPDF reports while one worker thread reads a page. MuPDF gets past damage it can
// live with (a cut or corrupt content stream, a broken image) by leaving the rest out and
// saying so through its warning and error callbacks and the cookie's error count; the
// page then draws without error, only incomplete. This collects those reports per page
// so that the run can say which pages came out incomplete.
#pragma once

#include <mupdf/fitz.h>

#include <string>

class PageWarnings {
public:
    // Takes over the warning and error callbacks of `ctx`, a context of this thread only.
    explicit PageWarnings(fz_context* ctx);
    ~PageWarnings();
    PageWarnings(const PageWarnings&) = delete;
    PageWarnings& operator=(const PageWarnings&) = delete;

    // Starts collecting for a page (what came before is forgotten).
    void Begin();
    // Stops collecting. Returns a short reason when MuPDF reported a problem while the
    // page was read (messages, or errors counted in `cookie`), else "".
    std::string End(const fz_cookie& cookie);

private:
    static void OnMessage(void* user, const char* message);

    fz_context* ctx_;
    bool collecting_ = false;
    int count_ = 0;
    std::string first_;
};

// Whether MuPDF had to rebuild the file's cross-reference table (a damaged or cut file)
// when it opened `doc` or since.
bool DocumentWasRepaired(fz_context* ctx, fz_document* doc);
