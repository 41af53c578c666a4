#include "engine/DocumentNavigation.h"

#include <mupdf/pdf.h>

#include <algorithm>
#include <cstring>

#include "engine/TextUtil.h"

namespace {

// Bounds against hostile documents: a table of contents or a label tree larger than any
// real book needs is cut there.
constexpr size_t kMaxOutlineEntries = 10000;
constexpr int kMaxOutlineDepth = 32;
constexpr int kMaxLabelNodes = 10000;
constexpr size_t kTitleBytes = 500;
constexpr size_t kLabelBytes = 100;

// The helpers below run inside fz_try: they hold no C++ object with a destructor while
// they call MuPDF (which reports errors by longjmp), and only append to the caller's
// vectors in between.

void CollectOutline(fz_context* ctx, fz_document* doc, fz_outline* node, int level, int page_count,
                    std::vector<OutlineEntry>* out)
{
    for (; node && out->size() < kMaxOutlineEntries; node = node->next) {
        // An entry that opens an address outside the document leads nowhere in the book.
        bool external = node->uri && fz_is_external_link(ctx, node->uri);
        int page = external || node->page.page < 0 ? -1 : fz_page_number_from_location(ctx, doc, node->page);
        out->push_back(OutlineEntry{OneLine(node->title ? node->title : "", kTitleBytes),
                                    page >= 0 && page < page_count ? page + 1 : 0, level});
        if (node->down && level < kMaxOutlineDepth)
            CollectOutline(ctx, doc, node->down, level + 1, page_count, out);
    }
}

void ReadOutline(fz_context* ctx, fz_document* doc, int page_count, std::vector<OutlineEntry>* out)
{
    fz_outline* volatile outline = nullptr;
    fz_var(outline);
    fz_try(ctx)
    {
        outline = fz_load_outline(ctx, doc);
        CollectOutline(ctx, doc, outline, 1, page_count, out);
    }
    fz_always(ctx)
        fz_drop_outline(ctx, outline);
    fz_catch(ctx)
        out->clear();
}

void CollectLabelRanges(fz_context* ctx, pdf_obj* node, int* budget, std::vector<PageLabelRange>* out)
{
    if (!pdf_is_dict(ctx, node) || --*budget < 0 || pdf_mark_obj(ctx, node))
        return;
    pdf_obj* nums = pdf_dict_get(ctx, node, PDF_NAME(Nums));
    int n = pdf_array_len(ctx, nums);
    for (int i = 0; i + 1 < n; i += 2) {
        pdf_obj* label = pdf_array_get(ctx, nums, i + 1);
        if (!pdf_is_dict(ctx, label))
            continue;
        const char* style = pdf_to_name(ctx, pdf_dict_get(ctx, label, PDF_NAME(S)));
        char style_char = std::strlen(style) == 1 && std::strchr("DRrAa", style[0]) ? style[0] : 0;
        const char* prefix = pdf_to_text_string(ctx, pdf_dict_get(ctx, label, PDF_NAME(P)));
        pdf_obj* st = pdf_dict_gets(ctx, label, "St");
        int start = pdf_is_int(ctx, st) ? pdf_to_int(ctx, st) : 1;
        int first_index = pdf_to_int(ctx, pdf_array_get(ctx, nums, i));
        out->push_back(PageLabelRange{first_index, style_char, OneLine(prefix, kLabelBytes), start < 1 ? 1 : start});
    }
    pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    for (int i = 0, k = pdf_array_len(ctx, kids); i < k && *budget >= 0; ++i)
        CollectLabelRanges(ctx, pdf_array_get(ctx, kids, i), budget, out);
    pdf_unmark_obj(ctx, node);
}

// Reads the label tree and the reading direction of the document catalog.
void ReadCatalog(fz_context* ctx, pdf_document* pdf, std::vector<PageLabelRange>* ranges, bool* rtl)
{
    fz_try(ctx)
    {
        pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, pdf), PDF_NAME(Root));
        const char* direction =
            pdf_to_name(ctx, pdf_dict_gets(ctx, pdf_dict_gets(ctx, root, "ViewerPreferences"), "Direction"));
        *rtl = std::strcmp(direction, "R2L") == 0;
        int budget = kMaxLabelNodes;
        CollectLabelRanges(ctx, pdf_dict_gets(ctx, root, "PageLabels"), &budget, ranges);
    }
    fz_catch(ctx)
        ranges->clear();
}

std::string Roman(int number, bool upper)
{
    static const struct { int value; const char* text; } kDigits[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"}, {10, "x"}, {9, "ix"}, {5, "v"}, {4, "iv"}, {1, "i"}};
    std::string out;
    for (const auto& d : kDigits)
        for (; number >= d.value; number -= d.value)
            out += d.text;
    if (upper)
        std::transform(out.begin(), out.end(), out.begin(), [](char c) { return static_cast<char>(c - 'a' + 'A'); });
    return out;
}

} // namespace

std::string FormatPageNumber(char style, int number)
{
    if (number < 1)
        number = 1;
    switch (style) {
    case 'R':
    case 'r':
        if (number <= 4999)
            return Roman(number, style == 'R');
        break;
    case 'A':
    case 'a':
        // A..Z, then AA..ZZ, AAA..ZZZ: the letter repeated once more every 26 pages.
        if (number <= 2600)
            return std::string(static_cast<size_t>((number - 1) / 26 + 1),
                               static_cast<char>((style == 'A' ? 'A' : 'a') + (number - 1) % 26));
        break;
    case 0:
        return std::string();
    default:
        break;
    }
    return std::to_string(number);
}

std::string DocumentNavigation::LabelOf(int page_index) const
{
    // The last range that starts at or before the page.
    auto after = std::upper_bound(label_ranges.begin(), label_ranges.end(), page_index,
                                  [](int index, const PageLabelRange& r) { return index < r.first_index; });
    if (after == label_ranges.begin())
        return std::string();
    const PageLabelRange& r = *(after - 1);
    long long number = static_cast<long long>(r.start) + (page_index - r.first_index);
    return r.prefix + FormatPageNumber(r.style, number > 1000000000 ? 1000000000 : static_cast<int>(number));
}

DocumentNavigation ReadDocumentNavigation(fz_context* ctx, fz_document* doc, int page_count)
{
    DocumentNavigation nav;
    ReadOutline(ctx, doc, page_count, &nav.outline);
    if (pdf_document* pdf = pdf_specifics(ctx, doc)) {
        ReadCatalog(ctx, pdf, &nav.label_ranges, &nav.right_to_left);
        std::stable_sort(nav.label_ranges.begin(), nav.label_ranges.end(),
                         [](const PageLabelRange& a, const PageLabelRange& b) { return a.first_index < b.first_index; });
    }
    return nav;
}
