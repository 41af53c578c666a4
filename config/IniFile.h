// The settings store: one object per INI file with typed reads and writes.
// Sections and keys are matched without regard to letter case, the first matching key
// wins, a write replaces the key's line or appends it at the end of its section, and the
// file and section are created on first write. Every write is one read-modify-write under
// a process-wide lock for that path and lands through a temporary file and rename.
// Wide operations use UTF-16LE files that start with FF FE; in memory all text is UTF-8.
// Every file keeps the encoding it has; a new file is UTF-8 without a mark. Line breaks in
// a written section, key or value become blanks, so a value can never add lines.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class Rijndael;

// The platform date-time record: year, month, day of week, day, hour, minute, second, ms.
struct DateTimeRecord {
    uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// The stored text of a date-time record: "%d,%d,%d,%d,%d,%d,%d,%d," in record order.
std::string DateTimeText(const DateTimeRecord& record);

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(std::string full_path) : path_(std::move(full_path)) {}

    // Joins folder and name with "/" unless the folder is empty or already ends in a
    // separator; releases the section-name list.
    void SetPath(const std::string& dir, const std::string& name);
    void SetPath(const std::string& full_path);
    const std::string& Path() const { return path_; }
    bool Exists() const;

    // Decimal fold of the stored text: missing or empty gives -1; every character c adds
    // (c - '0') after multiplying by ten, with 32-bit wrap-around ("-1" reads as -29).
    int32_t ReadInt(const std::string& section, const std::string& key) const;
    bool WriteInt(const std::string& section, const std::string& key, int32_t value);

    // Text stored as UTF-8 (at most 2047 bytes read); `capacity` bounds the result as the
    // caller's buffer would (result holds at most capacity - 1 bytes).
    std::string ReadText(const std::string& section, const std::string& key, size_t capacity = 2048) const;
    bool WriteText(const std::string& section, const std::string& key, const std::string& text);

    // Several keys of one section written in one file replacement, in order: the file ends
    // as after writing them one by one, and a reader sees all of them or none.
    bool WriteTexts(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries);

    // Bytes stored unchanged; at most capacity - 1 bytes are returned.
    std::string ReadRaw(const std::string& section, const std::string& key, size_t capacity = 2048) const;
    bool WriteRaw(const std::string& section, const std::string& key, const std::string& text);

    // UTF-16LE files (when the file starts with FF FE); values are UTF-8 in memory,
    // at most 2047 UTF-16 units read.
    std::string ReadWide(const std::string& section, const std::string& key) const;
    bool WriteWide(const std::string& section, const std::string& key, const std::string& text_utf8);

    // "%d,%d,%d,%d,%d,%d,%d,%d," in record order. Read returns false when the text does
    // not hold eight comma-ended numbers (the record is then left zeroed).
    bool WriteDateTime(const std::string& section, const std::string& key, const DateTimeRecord& record);
    bool ReadDateTime(const std::string& section, const std::string& key, DateTimeRecord& record) const;

    // Removes every section of that name (letter case ignored) with its keys; a missing
    // file or section is not an error and no file is created.
    bool DeleteSection(const std::string& section);

    // Reads every section name into a list buffer of (entry_length + 1) * entry_count + 1
    // bytes (names zero-ended, the list ended by an empty name; names that do not fit are
    // cut as the platform does). Returns the bytes filled, 0 when none. The names are
    // then available from SectionNameList() until the next call or SetPath.
    int SectionNames(int entry_count, int entry_length);
    const std::vector<std::string>& SectionNameList() const { return section_names_; }
    // Exact, case-sensitive comparison against the listed names.
    bool SectionExists(const std::string& name, int entry_count, int entry_length);

    // 64-byte field enciphered with 32-byte Rijndael blocks, stored as 128 upper-case
    // hex digits. Reading an empty value gives "". The field holds at most 63 bytes of
    // text (longer text is cut); an unkeyed cipher writes nothing and returns false.
    // The caller serialises use of `cipher`.
    std::string ReadEnciphered(const std::string& section, const std::string& key, Rijndael& cipher) const;
    bool WriteEnciphered(const std::string& section, const std::string& key, const std::string& text,
                         Rijndael& cipher);

private:
    std::string path_;
    std::vector<std::string> section_names_;
};
