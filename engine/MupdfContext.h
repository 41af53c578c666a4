// The MuPDF contexts of one process: a base context with real locks, and one clone per
// worker thread (MuPDF contexts must not be shared between threads; clones share the
// resource store and the glyph cache through the locks).
#pragma once

#include <mupdf/fitz.h>

#include <memory>
#include <mutex>

class MupdfContext {
public:
    // Creates the base context; Get() is null when MuPDF could not start. Every MuPDF
    // allocation of the process counts against one budget (RASTRIX_MEMORY_MB, default
    // 1536): a hostile page that would eat the machine's memory fails with "out of
    // memory" instead, and the run goes on with the next page.
    MupdfContext();
    ~MupdfContext();
    MupdfContext(const MupdfContext&) = delete;
    MupdfContext& operator=(const MupdfContext&) = delete;

    fz_context* Get() const { return ctx_; }

private:
    static void Lock(void* user, int lock);
    static void Unlock(void* user, int lock);

    std::mutex mutexes_[FZ_LOCK_MAX];
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

// A per-thread clone of the base context, dropped with the object.
class ThreadContext {
public:
    explicit ThreadContext(fz_context* base) : ctx_(base ? fz_clone_context(base) : nullptr) {}
    ~ThreadContext() { if (ctx_) fz_drop_context(ctx_); }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;
    fz_context* Get() const { return ctx_; }

private:
    fz_context* ctx_;
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
