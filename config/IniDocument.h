// One INI file held in memory as lines of UTF-8 text, with the lookup and edit rules of
// the settings store: sections and keys match without regard to ASCII letter case, the
// first matching section and the first matching key in it win, a write replaces the
// key's line or appends it after the last line of its section, and a missing section is
// appended at the end of the file. Lines the store does not understand (comments, text
// without "=") are kept as they are.
#pragma once

#include <optional>
#include <string>
#include <vector>

class IniDocument {
public:
    enum class Encoding { Narrow, Utf8WithMark, Utf16Le };

    // Reads file bytes: a leading FF FE makes the file UTF-16LE, EF BB BF UTF-8 with the
    // mark; anything else is taken as narrow (UTF-8) bytes as they stand.
    static IniDocument Parse(const std::string& bytes);
    // The file bytes in the encoding and line ending the file was read with.
    std::string Serialize() const;

    Encoding encoding() const { return encoding_; }

    // The value (spaces and tabs around it removed), or nothing when the section or key
    // is missing.
    std::optional<std::string> Find(const std::string& section, const std::string& key) const;
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Removes every section of that name with its lines; false when there was none.
    bool DeleteSection(const std::string& section);
    // Section names in file order, as written between the brackets.
    std::vector<std::string> SectionNames() const;

private:
    std::vector<std::string> lines_;
    Encoding encoding_ = Encoding::Narrow;
    std::string eol_ = "\n";
};
