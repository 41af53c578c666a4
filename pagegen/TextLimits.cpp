#include "pagegen/TextLimits.h"

namespace pagegen {
namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of the UTF-8 unit (lead byte and its continuation bytes) that starts at `at`.
size_t UnitLength(std::string_view text, size_t at) {
    size_t end = at + 1;
    while (end < text.size() && IsContinuationByte(text[end])) ++end;
    return end - at;
}

}  // namespace

std::string FitText(std::string_view text, size_t capacity) {
    if (capacity == 0) return {};
    size_t limit = capacity - 1;
    if (text.size() <= limit) return std::string(text);
    // Back off to the start of the UTF-8 unit that would be split.
    while (limit > 0 && IsContinuationByte(text[limit])) --limit;
    return std::string(text.substr(0, limit));
}

int32_t FoldDecimal(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        // The character is taken as signed, as the stored bytes were on the platform the
        // templates come from.
        const int32_t digit = static_cast<signed char>(c) - '0';
        value = value * 10u + static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
}

std::string EscapeHtml(std::string_view text, size_t capacity) {
    std::string out;
    if (capacity == 0) return out;
    const size_t limit = capacity - 1;
    for (size_t at = 0; at < text.size();) {
        const size_t length = UnitLength(text, at);
        std::string_view piece = text.substr(at, length);
        switch (text[at]) {
            case '&': piece = "&amp;"; break;
            case '<': piece = "&lt;"; break;
            case '>': piece = "&gt;"; break;
            case '"': piece = "&quot;"; break;
            case '\'': piece = "&#39;"; break;
            default: break;
        }
        if (out.size() + piece.size() > limit) break;
        out.append(piece);
        at += length;
    }
    return out;
}

}  // namespace pagegen
