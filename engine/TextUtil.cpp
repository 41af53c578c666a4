#include "engine/TextUtil.h"

#include <cstdint>

namespace {

// Decodes one UTF-8 character at text[i]; returns its length, or 0 when invalid.
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t& cp)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b0 = byte(i);
    size_t len;
    uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2; cp = b0 & 0x1F; min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3; cp = b0 & 0x0F; min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4; cp = b0 & 0x07; min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

const char kReplacement[] = "\xEF\xBF\xBD";

} // namespace

std::string SanitizeUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

std::string OneLine(const std::string& text, size_t max_bytes)
{
    std::string clean = SanitizeUtf8(text);
    std::string out;
    for (size_t i = 0; i < clean.size();) {
        uint32_t cp = 0;
        size_t len = DecodeUtf8(clean, i, cp);
        bool blank = cp < 0x20 || cp == 0x7F || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
        size_t add = blank ? 1 : len;
        if (out.size() + add > max_bytes)
            break;
        if (blank)
            out += ' ';
        else
            out.append(clean, i, len);
        i += len;
    }
    return out;
}

std::string DiagnosticLine(const std::string& text, size_t max_bytes)
{
    std::string line = OneLine(text, max_bytes);
    for (size_t at = line.find("PN:"); at != std::string::npos; at = line.find("PN:", at + 4))
        line.insert(at + 2, 1, ' ');
    return line;
}

std::string JsonString(const std::string& utf8)
{
    std::string clean = SanitizeUtf8(utf8);
    std::string out = "\"";
    static const char hex[] = "0123456789abcdef";
    auto escape = [&](uint32_t cp) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(cp >> shift) & 0xF];
    };
    for (size_t i = 0; i < clean.size();) {
        uint32_t cp = 0;
        size_t len = DecodeUtf8(clean, i, cp);
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '<': case '>': case '&': case 0x2028: case 0x2029: escape(cp); break;
        default:
            if (cp < 0x20 || cp == 0x7F)
                escape(cp);
            else
                out.append(clean, i, len);
        }
        i += len;
    }
    out += '"';
    return out;
}

std::string HtmlEscape(const std::string& utf8)
{
    std::string clean = SanitizeUtf8(utf8);
    std::string out;
    out.reserve(clean.size());
    for (char c : clean) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}
