// The MuPDF contexts of one process. A context is used by one thread only: the main
// thread has one, and every page worker makes its own, with its own resource store and
// glyph cache. Workers thus never wait for each other's locks (on small pages, where
// glyph look-ups are most of the work, that waiting took longer than the drawing); a
// font or picture that two workers need is read by each.
#pragma once

#include <mupdf/fitz.h>

#include <cstddef>
#include <memory>

class MupdfContext {
public:
    // Room for the fonts and pictures that the pages of a document share; the store
    // evicts beyond its size.
    static constexpr size_t kDefaultStoreBytes = 96u << 20;

    // Creates a context for one thread; Get() is null when MuPDF could not start. Every
    // MuPDF allocation of the process counts against one budget (RASTRIX_MEMORY_MB,
    // default 1536): a hostile page that would eat the machine's memory fails with "out
    // of memory" instead, and the run goes on with the next page.
    explicit MupdfContext(size_t store_bytes = kDefaultStoreBytes);
    ~MupdfContext();
    MupdfContext(const MupdfContext&) = delete;
    MupdfContext& operator=(const MupdfContext&) = delete;

    fz_context* Get() const { return ctx_; }

private:
    fz_context* ctx_ = nullptr;
};

// Memory of our own (page pixels, encoder buffers) that counts against the same budget as
// MuPDF's allocations and is kept from one page to the next: a worker reuses it instead of
// asking the system for fresh pages, which the kernel would have to fault in and clear
// every time.
class BudgetBuffer {
public:
    BudgetBuffer() = default;
    ~BudgetBuffer();
    BudgetBuffer(const BudgetBuffer&) = delete;
    BudgetBuffer& operator=(const BudgetBuffer&) = delete;

    // At least `bytes` bytes (contents left from earlier use), or null when the budget or
    // the system has no room. A buffer more than twice as large as asked for is given
    // back first, so that one huge page does not hold its memory for the rest of a run.
    unsigned char* Get(size_t bytes);

private:
    void Release();

    unsigned char* data_ = nullptr;
    size_t size_ = 0;
};

// An open document, dropped with the object.
class DocumentHandle {
public:
    DocumentHandle(fz_context* ctx, fz_document* doc) : ctx_(ctx), doc_(doc) {}
    ~DocumentHandle() { if (doc_) fz_drop_document(ctx_, doc_); }
    DocumentHandle(const DocumentHandle&) = delete;
    DocumentHandle& operator=(const DocumentHandle&) = delete;
    fz_document* Get() const { return doc_; }

private:
    fz_context* ctx_;
    fz_document* doc_;
};
