#include "engine/MupdfContext.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
// Each block carries its size in a header that keeps the malloc alignment.
constexpr size_t kHeader = 16;
std::atomic<size_t> g_in_use{0};

size_t ReadBudgetBytes()
{
    size_t mb = 1536;
    if (const char* env = std::getenv("RASTRIX_MEMORY_MB")) {
        long v = std::atol(env);
        if (v >= 64 && v <= 1048576)
            mb = static_cast<size_t>(v);
    }
    return mb << 20;
}

// Read once, by whichever comes first: the base context or a buffer of ours.
size_t BudgetBytes()
{
    static const size_t budget = ReadBudgetBytes();
    return budget;
}

bool Reserve(size_t size)
{
    size_t now = g_in_use.fetch_add(size) + size;
    if (now > BudgetBytes()) {
        g_in_use.fetch_sub(size);
        return false;
    }
    return true;
}

void* CountedMalloc(void*, size_t size)
{
    if (size > BudgetBytes() || !Reserve(size))
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block) {
        g_in_use.fetch_sub(size);
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    return block + kHeader;
}

void CountedFree(void*, void* ptr)
{
    if (!ptr)
        return;
    auto* block = static_cast<unsigned char*>(ptr) - kHeader;
    size_t size;
    std::memcpy(&size, block, sizeof size);
    g_in_use.fetch_sub(size);
    std::free(block);
}

void* CountedRealloc(void* user, void* old, size_t size)
{
    if (!old)
        return CountedMalloc(user, size);
    if (size == 0) {
        CountedFree(user, old);
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(old) - kHeader;
    size_t old_size;
    std::memcpy(&old_size, block, sizeof old_size);
    if (size > old_size && (size > BudgetBytes() || !Reserve(size - old_size)))
        return nullptr;
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
    if (!grown) {
        if (size > old_size)
            g_in_use.fetch_sub(size - old_size);
        return nullptr;
    }
    if (size < old_size)
        g_in_use.fetch_sub(old_size - size);
    std::memcpy(grown, &size, sizeof size);
    return grown + kHeader;
}

fz_alloc_context g_alloc = {nullptr, CountedMalloc, CountedRealloc, CountedFree};
} // namespace

BudgetBuffer::~BudgetBuffer()
{
    Release();
}

void BudgetBuffer::Release()
{
    if (!data_)
        return;
    std::free(data_);
    g_in_use.fetch_sub(size_);
    data_ = nullptr;
    size_ = 0;
}

unsigned char* BudgetBuffer::Get(size_t bytes)
{
    if (data_ && bytes <= size_ && bytes >= size_ / 2)
        return data_;
    Release();
    if (bytes == 0 || bytes > BudgetBytes() || !Reserve(bytes))
        return nullptr;
    data_ = static_cast<unsigned char*>(std::malloc(bytes));
    if (!data_) {
        g_in_use.fetch_sub(bytes);
        return nullptr;
    }
    size_ = bytes;
    return data_;
}

MupdfContext::MupdfContext(size_t store_bytes)
{
    // No locks: the context and everything made with it stay on one thread.
    ctx_ = fz_new_context(&g_alloc, nullptr, store_bytes);
    if (!ctx_)
        return;
    // MuPDF's own messages would reach standard error in its own words and lines. They
    // are silenced here; the page workers collect them per page instead (PageWarnings)
    // and report a damaged page in one line of ours.
    fz_set_warning_callback(ctx_, [](void*, const char*) {}, nullptr);
    fz_set_error_callback(ctx_, [](void*, const char*) {}, nullptr);
    fz_try(ctx_)
        fz_register_document_handlers(ctx_);
    fz_catch(ctx_)
    {
        fz_drop_context(ctx_);
        ctx_ = nullptr;
    }
}

MupdfContext::~MupdfContext()
{
    if (ctx_)
        fz_drop_context(ctx_);
}
