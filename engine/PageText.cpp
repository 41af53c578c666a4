#include "engine/PageText.h"

#include <cstring>

#include "engine/PageLayout.h"
#include "engine/ReadingOrder.h"

namespace {

// Kept free of C++ objects with destructors: MuPDF reports errors by longjmp. With
// `links` set, the page's links are loaded too (the caller drops them) and `bounds`
// receives the page box.
fz_stext_page* LoadText(fz_context* ctx, fz_document* doc, int page_index, fz_cookie* cookie, fz_link** links,
                        fz_rect* bounds, char* message, size_t message_size)
{
    fz_page* volatile page = nullptr;
    fz_stext_page* volatile text = nullptr;
    fz_device* volatile dev = nullptr;
    fz_var(page);
    fz_var(text);
    fz_var(dev);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, doc, page_index);
        fz_stext_options options;
        std::memset(&options, 0, sizeof options);
        // Ligatures split into their letters and blanks normalised, so that searching
        // for "office" finds the word however the font spells it.
        *bounds = fz_bound_page(ctx, page);
        text = fz_new_stext_page(ctx, *bounds);
        dev = fz_new_stext_device(ctx, text, &options);
        fz_run_page(ctx, page, dev, fz_identity, cookie);
        fz_close_device(ctx, dev);
        if (cookie && cookie->abort)
            fz_throw(ctx, FZ_ERROR_GENERIC, "the page took too long to read");
        if (links)
            *links = fz_load_links(ctx, page);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, dev);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
        fz_drop_stext_page(ctx, text);
        std::strncpy(message, fz_caught_message(ctx), message_size - 1);
        message[message_size - 1] = 0;
        return nullptr;
    }
    return text;
}

void AppendRune(std::string& out, int rune)
{
    // Control characters (unmapped glyphs often come out as such) are not text.
    if (rune < 0x20 || rune == 0x7F || (rune >= 0x80 && rune < 0xA0)) {
        out += ' ';
        return;
    }
    char buf[FZ_UTFMAX];
    int len = fz_runetochar(buf, rune);
    out.append(buf, static_cast<size_t>(len));
}

std::string Trimmed(const std::string& s)
{
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

} // namespace

std::string PageText::Joined() const
{
    std::string out;
    for (const auto& block : blocks)
        for (const auto& line : block) {
            if (!out.empty())
                out += '\n';
            out += line;
        }
    return out;
}

bool ExtractPageText(fz_context* ctx, fz_document* doc, int page_index, fz_cookie* cookie, PageText& out,
                     std::string& error, PageLayout* layout)
{
    out.blocks.clear();
    char message[256] = {0};
    fz_link* links = nullptr;
    fz_rect bounds = fz_empty_rect;
    fz_stext_page* text =
        LoadText(ctx, doc, page_index, cookie, layout ? &links : nullptr, &bounds, message, sizeof message);
    if (!text) {
        error = message;
        return false;
    }
    if (layout) {
        *layout = PageLayout();
        layout->width = bounds.x1 - bounds.x0;
        layout->height = bounds.y1 - bounds.y0;
        CollectWords(text, bounds, *layout);
        CollectLinks(ctx, doc, links, bounds, *layout);
        fz_drop_link(ctx, links);
    }
    for (fz_stext_block* block = text->first_block; block; block = block->next) {
        if (block->type != FZ_STEXT_BLOCK_TEXT)
            continue;
        std::vector<std::string> lines;
        for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
            std::string s;
            for (const LineChar& ch : LineInReadingOrder(line))
                AppendRune(s, ch.c);
            s = Trimmed(s);
            if (!s.empty())
                lines.push_back(std::move(s));
        }
        if (!lines.empty())
            out.blocks.push_back(std::move(lines));
    }
    fz_drop_stext_page(ctx, text);
    return true;
}
