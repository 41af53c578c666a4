// Text helpers for the engine's outputs: UTF-8 clean-up and escaping for JavaScript/JSON
// and HTML.
#pragma once

#include <string>

// Replaces every invalid UTF-8 sequence (including encoded surrogates and overlong forms)
// by U+FFFD, so that the result is always valid UTF-8.
std::string SanitizeUtf8(const std::string& text);

// One line of text: sanitised, every control character, line or paragraph separator
// becomes a blank, and the result is cut to at most `max_bytes` bytes on a character
// boundary.
std::string OneLine(const std::string& text, size_t max_bytes);

// The text of one diagnostic line on standard error: OneLine, and every "PN:" written as
// "PN :". The caller takes the first "PN:" anywhere in what the engine prints for a
// progress report, so a file name or argument quoted in a message must never contain it.
std::string DiagnosticLine(const std::string& text, size_t max_bytes);

// A JSON string literal (with its quotes) that is also safe inside a <script> element:
// <, >, & and U+2028/U+2029 are written as \u escapes.
std::string JsonString(const std::string& utf8);

// Text with &, <, >, " and ' escaped for HTML content and attribute values.
std::string HtmlEscape(const std::string& utf8);
