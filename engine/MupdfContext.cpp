#include "engine/MupdfContext.h"

namespace {
// Room for fonts and images that several pages share; the store evicts beyond this.
constexpr size_t kStoreBytes = 96u << 20;
} // namespace

MupdfContext::MupdfContext()
{
    fz_locks_context locks;
    locks.user = this;
    locks.lock = &MupdfContext::Lock;
    locks.unlock = &MupdfContext::Unlock;
    ctx_ = fz_new_context(nullptr, &locks, kStoreBytes);
    if (!ctx_)
        return;
    // MuPDF's own warnings about damaged files are noise for our callers, who only read
    // progress lines; real failures are reported by us, one line each.
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

void MupdfContext::Lock(void* user, int lock)
{
    static_cast<MupdfContext*>(user)->mutexes_[lock].lock();
}

void MupdfContext::Unlock(void* user, int lock)
{
    static_cast<MupdfContext*>(user)->mutexes_[lock].unlock();
}
