#include "config/IniDocument.h"

#include "config/Utf16.h"

#include <strings.h>

namespace {

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The name of a section header line, or nothing for any other line.
std::optional<std::string_view> HeaderName(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    // The name ends at the last "]", so a name that holds one (a profile named after a
    // user's folder) reads back as written.
    const auto close = line.rfind(']');
    return Trim(close == std::string_view::npos ? line : line.substr(0, close));
}

// Splits a key line into trimmed key and value; comment lines and lines without "=" are
// not key lines.
bool SplitEntry(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';')
        return false;
    const auto eq = trimmed.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return true;
}

// A line break or zero byte inside a name or value would split the line and could plant
// other keys or sections in the file; the text ends at a zero byte (as a C string does)
// and line breaks become blanks.
std::string OneLine(const std::string& text)
{
    std::string out = text.substr(0, text.find('\0'));
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

struct SectionRange {
    size_t header;  // index of the header line
    size_t end;     // one past the section's last line
};

std::optional<SectionRange> FindSection(const std::vector<std::string>& lines, std::string_view name,
                                        size_t from = 0)
{
    name = Trim(name);
    for (size_t i = from; i < lines.size(); ++i) {
        const auto header = HeaderName(lines[i]);
        if (!header || !SameName(*header, name))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && !HeaderName(lines[end]))
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

} // namespace

IniDocument IniDocument::Parse(const std::string& bytes)
{
    IniDocument doc;
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        doc.encoding_ = Encoding::Utf16Le;
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8));
        text = Utf16ToUtf8(units);
        // Wide files are shared with programs that expect CR LF line ends.
        doc.eol_ = "\r\n";
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        doc.encoding_ = Encoding::Utf8WithMark;
        text = bytes.substr(3);
    } else {
        text = bytes;
    }

    // Keep the file's own line ending; a file with none yet gets the encoding's default.
    const auto first_lf = text.find('\n');
    if (first_lf != std::string::npos)
        doc.eol_ = (first_lf > 0 && text[first_lf - 1] == '\r') ? "\r\n" : "\n";

    size_t start = 0;
    while (start < text.size()) {
        auto lf = text.find('\n', start);
        if (lf == std::string::npos)
            lf = text.size();
        std::string line = text.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        doc.lines_.push_back(std::move(line));
        start = lf + 1;
    }
    return doc;
}

std::string IniDocument::Serialize() const
{
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += eol_;
    }
    switch (encoding_) {
    case Encoding::Narrow:
        return text;
    case Encoding::Utf8WithMark:
        return "\xEF\xBB\xBF" + text;
    case Encoding::Utf16Le: {
        const std::u16string units = Utf8ToUtf16(text);
        std::string bytes = "\xFF\xFE";
        bytes.reserve(2 + units.size() * 2);
        for (char16_t u : units) {
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        return bytes;
    }
    }
    return text;
}

std::optional<std::string> IniDocument::Find(const std::string& section, const std::string& key) const
{
    const auto range = FindSection(lines_, OneLine(section));
    if (!range)
        return std::nullopt;
    const std::string wanted = OneLine(key);
    for (size_t i = range->header + 1; i < range->end; ++i) {
        std::string_view k, v;
        if (SplitEntry(lines_[i], k, v) && SameName(k, Trim(wanted)))
            return std::string(v);
    }
    return std::nullopt;
}

void IniDocument::Set(const std::string& section, const std::string& key, const std::string& value)
{
    const std::string name = OneLine(section);
    const std::string k_clean = std::string(Trim(OneLine(key)));
    const std::string line = k_clean + "=" + OneLine(value);
    const auto range = FindSection(lines_, name);
    if (!range) {
        std::string header = "[";
        header.append(Trim(name)).append("]");
        lines_.push_back(header);
        lines_.push_back(line);
        return;
    }
    size_t insert_at = range->header + 1;
    for (size_t i = range->header + 1; i < range->end; ++i) {
        std::string_view k, v;
        if (SplitEntry(lines_[i], k, v) && SameName(k, k_clean)) {
            lines_[i] = line;
            return;
        }
        // New keys go after the section's last non-blank line, before the blank lines
        // that separate it from the next section.
        if (!Trim(lines_[i]).empty())
            insert_at = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), line);
}

bool IniDocument::DeleteSection(const std::string& section)
{
    const std::string name = OneLine(section);
    bool deleted = false;
    // Every section of that name goes, so that a duplicate further down cannot come to
    // light once the first one is deleted.
    while (const auto range = FindSection(lines_, name)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(range->end));
        deleted = true;
    }
    return deleted;
}

std::vector<std::string> IniDocument::SectionNames() const
{
    std::vector<std::string> names;
    for (const auto& line : lines_)
        if (const auto header = HeaderName(line))
            names.emplace_back(*header);
    return names;
}
