#include "engine/PageLayout.h"

#include <cctype>

#include "engine/ReadingOrder.h"
#include "engine/TextUtil.h"

namespace {

// Addresses longer than this are not real links.
constexpr size_t kMaxAddressBytes = 2048;

// Word breaks are exactly where a script splitting the page's txt.js text at white space
// breaks it: control characters (written there as blanks) and JavaScript's white space.
bool IsBlank(int c)
{
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

void AppendRune(std::string& out, int rune)
{
    char buf[FZ_UTFMAX];
    int len = fz_runetochar(buf, rune);
    out.append(buf, static_cast<size_t>(len));
}

fz_rect Relative(fz_rect r, fz_rect bounds)
{
    return fz_make_rect(r.x0 - bounds.x0, r.y0 - bounds.y0, r.x1 - bounds.x0, r.y1 - bounds.y0);
}

// The page (from 0) an internal link leads to, or -1. Free of C++ objects with
// destructors: MuPDF reports errors by longjmp.
int ResolvePage(fz_context* ctx, fz_document* doc, const char* uri)
{
    volatile int page = -1;
    fz_try(ctx)
    {
        fz_location loc = fz_resolve_link(ctx, doc, uri, nullptr, nullptr);
        page = loc.page < 0 ? -1 : fz_page_number_from_location(ctx, doc, loc);
    }
    fz_catch(ctx)
        page = -1;
    return page;
}

} // namespace

void CollectWords(fz_stext_page* text, fz_rect bounds, PageLayout& out)
{
    for (fz_stext_block* block = text->first_block; block; block = block->next) {
        if (block->type != FZ_STEXT_BLOCK_TEXT)
            continue;
        for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
            bool line_start = true;
            LayoutWord word;
            auto finish = [&]() {
                if (word.text.empty())
                    return;
                word.box = Relative(word.box, bounds);
                word.starts_line = line_start;
                line_start = false;
                out.words.push_back(std::move(word));
                word = LayoutWord();
            };
            for (const LineChar& ch : LineInReadingOrder(line)) {
                if (IsBlank(ch.c)) {
                    finish();
                    continue;
                }
                fz_rect box = fz_rect_from_quad(ch.quad);
                word.box = word.text.empty() ? box : fz_union_rect(word.box, box);
                AppendRune(word.text, ch.c);
            }
            finish();
        }
    }
}

bool IsSafeExternalAddress(const std::string& uri)
{
    if (uri.size() > kMaxAddressBytes)
        return false;
    std::string scheme;
    for (char c : uri) {
        if (c == ':')
            break;
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (scheme.size() == uri.size())
        return false;
    // Nothing a browser would strip or read as a break may hide in the address.
    for (unsigned char c : uri)
        if (c < 0x21 || c == 0x7F)
            return false;
    if (scheme == "mailto")
        return uri.size() > 7;
    return (scheme == "http" || scheme == "https") && uri.compare(scheme.size(), 3, "://") == 0 &&
           uri.size() > scheme.size() + 3;
}

void CollectLinks(fz_context* ctx, fz_document* doc, fz_link* links, fz_rect bounds, PageLayout& out)
{
    for (fz_link* link = links; link; link = link->next) {
        if (!link->uri || fz_is_empty_rect(link->rect))
            continue;
        LayoutLink item;
        item.box = Relative(fz_intersect_rect(link->rect, bounds), bounds);
        if (fz_is_empty_rect(item.box))
            continue;
        if (fz_is_external_link(ctx, link->uri)) {
            item.uri = SanitizeUtf8(link->uri);
            if (!IsSafeExternalAddress(item.uri))
                continue;
        } else {
            int page = ResolvePage(ctx, doc, link->uri);
            if (page < 0)
                continue;
            item.page = page + 1;
        }
        out.links.push_back(std::move(item));
    }
}
