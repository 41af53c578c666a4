#include "pipeline/EmbedSnippet.h"

#include "pagegen/TextLimits.h"

#include <numeric>

namespace {

constexpr size_t kValueCapacity = 8192;

// The frame's width to height: two pages side by side, and about an eighth of a page
// more height for the toolbar. Pages of no known size give a landscape 3 / 2.
std::string AspectRatio(int32_t page_width, int32_t page_height)
{
    if (page_width < 1 || page_height < 1)
        return "3 / 2";
    int64_t width = int64_t{2} * page_width * 8;
    int64_t height = int64_t{page_height} * 9;
    const int64_t divisor = std::gcd(width, height);
    return std::to_string(width / divisor) + " / " + std::to_string(height / divisor);
}

}  // namespace

std::string EmbedSnippet(const std::string& book_address, const std::string& title, int32_t page_width,
                         int32_t page_height)
{
    if (book_address.empty())
        return {};
    const std::string name = title.empty() ? book_address : title;
    return "<iframe src=\"" + pagegen::EscapeHtml(book_address, kValueCapacity) + "\" title=\"" +
           pagegen::EscapeHtml(name, kValueCapacity) + "\" style=\"width: 100%; aspect-ratio: " +
           AspectRatio(page_width, page_height) +
           "; border: 0\" allow=\"fullscreen\" allowfullscreen loading=\"lazy\"></iframe>";
}
