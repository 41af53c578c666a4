// Small text helpers of the page generator: bounded copies into the builder's fixed-size
// texts, the decimal fold of template numbers, and HTML escaping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pagegen {

// `text` cut to at most capacity - 1 bytes, never inside a UTF-8 sequence, so a value
// that is too long for its field is shortened instead of overrunning it.
std::string FitText(std::string_view text, size_t capacity);

// Decimal fold of a template number: every character c gives value * 10 + (c - '0'),
// with 32-bit wrap-around. Template writers keep numbers plain; anything else still
// gives a defined value.
int32_t FoldDecimal(std::string_view text);

// `text` with & < > " ' replaced by character references, cut to at most capacity - 1
// bytes without splitting a reference or a UTF-8 sequence.
std::string EscapeHtml(std::string_view text, size_t capacity);

}  // namespace pagegen
