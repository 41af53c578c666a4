#include "engine/PageWarnings.h"

#include <mupdf/pdf.h>

#include <cstring>

namespace {
// MuPDF folds repeats of one message into a summary line when it flushes; that line says
// nothing new.
bool IsRepeatSummary(const char* message)
{
    return std::strncmp(message, "... repeated ", 13) == 0;
}

// A link to a destination the document does not define (common in excerpts cut from a
// longer document) leaves the link inert but the page whole: nothing to warn about.
bool IsHarmless(const char* message)
{
    return std::strcmp(message, "undefined link destination") == 0;
}
} // namespace

PageWarnings::PageWarnings(fz_context* ctx) : ctx_(ctx)
{
    fz_set_warning_callback(ctx_, &PageWarnings::OnMessage, this);
    fz_set_error_callback(ctx_, &PageWarnings::OnMessage, this);
}

PageWarnings::~PageWarnings()
{
    collecting_ = false;
    fz_flush_warnings(ctx_);
    fz_set_warning_callback(ctx_, [](void*, const char*) {}, nullptr);
    fz_set_error_callback(ctx_, [](void*, const char*) {}, nullptr);
}

void PageWarnings::OnMessage(void* user, const char* message)
{
    auto* self = static_cast<PageWarnings*>(user);
    if (!self->collecting_ || !message || IsRepeatSummary(message) || IsHarmless(message))
        return;
    if (self->count_++ == 0)
        self->first_ = message;
}

void PageWarnings::Begin()
{
    // MuPDF passes on a warning only when it differs from the last one: forget the last
    // one, so that the same damage on the next page is reported again.
    collecting_ = false;
    fz_flush_warnings(ctx_);
    count_ = 0;
    first_.clear();
    collecting_ = true;
}

std::string PageWarnings::End(const fz_cookie& cookie)
{
    collecting_ = false;
    if (count_ == 0 && cookie.errors == 0)
        return std::string();
    // The first message names the damage; later ones mostly follow from it.
    if (first_.empty())
        return "read only in part (" + std::to_string(cookie.errors) + " errors in its content)";
    return "read only in part (" + first_ + ")";
}

bool DocumentWasRepaired(fz_context* ctx, fz_document* doc)
{
    pdf_document* pdf = pdf_specifics(ctx, doc);
    return pdf && pdf_was_repaired(ctx, pdf);
}
