// Conversion between UTF-8 (all text in memory) and UTF-16 (the wide settings files).
// Malformed input never fails a conversion: each bad sequence or lone surrogate becomes
// U+FFFD, so a value with stray bytes is still stored rather than lost.
#pragma once

#include <cstddef>
#include <string>

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

// The longest prefix of `text` of at most `max_bytes` bytes that does not end inside a
// UTF-8 sequence.
size_t Utf8PrefixLength(const std::string& text, size_t max_bytes);
