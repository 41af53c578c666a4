#include "config/IniFile.h"

#include "config/DiagLog.h"
#include "config/IniStorage.h"
#include "config/Rijndael.h"
#include "config/SecretStore.h"
#include "config/Utf16.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <sys/stat.h>

namespace {

// Read limits of the typed operations, in bytes or UTF-16 units without the final zero.
constexpr size_t kTextLimit = 2047;
constexpr size_t kNumberLimit = 63;
constexpr size_t kHexDigits = 2 * kCipherFieldSize;

std::string ReadValue(const std::string& path, const std::string& section, const std::string& key)
{
    if (path.empty())
        return {};
    return ini_storage::Load(path)->Find(section, key).value_or(std::string());
}

bool WriteValue(const std::string& path, const std::string& section, const std::string& key,
                const std::string& value)
{
    return ini_storage::Modify(path, [&](IniDocument& doc) {
        doc.Set(section, key, value);
        return true;
    });
}

// Cuts text to the bytes a buffer of `capacity` holds with its final zero.
std::string Bounded(std::string text, size_t capacity, bool whole_characters)
{
    const size_t max = capacity == 0 ? 0 : capacity - 1;
    if (text.size() > max)
        text.resize(whole_characters ? Utf8PrefixLength(text, max) : max);
    return text;
}

// One byte from two hexadecimal digits: only "0"-"9" and "A"-"F" count, any other
// character ends the byte at the value reached so far.
uint8_t DecodeHexByte(const char* digits)
{
    uint8_t value = 0;
    for (int i = 0; i < 2; ++i) {
        const char c = digits[i];
        int nibble;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else
            break;
        value = static_cast<uint8_t>((value << 4) + nibble);
    }
    return value;
}

} // namespace

void IniFile::SetPath(const std::string& dir, const std::string& name)
{
    if (dir.empty() || dir.back() == '/' || dir.back() == '\\')
        path_ = dir + name;
    else
        path_ = dir + "/" + name;
    section_names_.clear();
}

void IniFile::SetPath(const std::string& full_path)
{
    path_ = full_path;
    section_names_.clear();
}

bool IniFile::Exists() const
{
    struct stat st {};
    return !path_.empty() && ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int32_t IniFile::ReadInt(const std::string& section, const std::string& key) const
{
    const std::string text = ReadRaw(section, key, kNumberLimit + 1);
    if (text.empty())
        return -1;
    // Every character folds in, digit or not, taken as a signed char so that non-ASCII
    // bytes fold to the same number wherever these files are read; unsigned arithmetic
    // gives the 32-bit wrap-around without overflow.
    uint32_t value = 0;
    for (char c : text)
        value = value * 10u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)) - '0');
    return static_cast<int32_t>(value);
}

bool IniFile::WriteInt(const std::string& section, const std::string& key, int32_t value)
{
    return WriteText(section, key, std::to_string(value));
}

std::string IniFile::ReadText(const std::string& section, const std::string& key, size_t capacity) const
{
    std::string text = Bounded(ReadValue(path_, section, key), kTextLimit + 1, true);
    return Bounded(std::move(text), capacity, true);
}

bool IniFile::WriteText(const std::string& section, const std::string& key, const std::string& text)
{
    return WriteValue(path_, section, key, text);
}

bool IniFile::WriteTexts(const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& entries)
{
    return ini_storage::Modify(path_, [&](IniDocument& doc) {
        for (const auto& [key, value] : entries)
            doc.Set(section, key, value);
        return true;
    });
}

std::string IniFile::ReadRaw(const std::string& section, const std::string& key, size_t capacity) const
{
    return Bounded(ReadValue(path_, section, key), capacity, false);
}

bool IniFile::WriteRaw(const std::string& section, const std::string& key, const std::string& text)
{
    return WriteValue(path_, section, key, text);
}

std::string IniFile::ReadWide(const std::string& section, const std::string& key) const
{
    std::u16string units = Utf8ToUtf16(ReadValue(path_, section, key));
    if (units.size() > kTextLimit) {
        size_t len = kTextLimit;
        // Never keep half of a surrogate pair.
        if (units[len - 1] >= 0xD800 && units[len - 1] <= 0xDBFF)
            --len;
        units.resize(len);
    }
    return Utf16ToUtf8(units);
}

bool IniFile::WriteWide(const std::string& section, const std::string& key, const std::string& text_utf8)
{
    // The file keeps its encoding: UTF-16LE when it starts with FF FE, narrow otherwise.
    return WriteValue(path_, section, key, text_utf8);
}

std::string DateTimeText(const DateTimeRecord& r)
{
    char text[96];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d,%d,%d,", r.year, r.month, r.day_of_week, r.day, r.hour,
                  r.minute, r.second, r.milliseconds);
    return text;
}

bool IniFile::WriteDateTime(const std::string& section, const std::string& key, const DateTimeRecord& r)
{
    return WriteText(section, key, DateTimeText(r));
}

bool IniFile::ReadDateTime(const std::string& section, const std::string& key, DateTimeRecord& record) const
{
    record = DateTimeRecord{};
    const std::string text = ReadText(section, key, kNumberLimit + 1);
    uint16_t fields[8] = {};
    size_t pos = 0;
    for (uint16_t& field : fields) {
        const size_t comma = text.find(',', pos);
        if (comma == std::string::npos || comma == pos)
            return false;
        uint32_t value = 0;
        for (size_t i = pos; i < comma; ++i) {
            const char c = text[i];
            if (c < '0' || c > '9')
                return false;
            value = value * 10u + static_cast<uint32_t>(c - '0');
        }
        field = static_cast<uint16_t>(value);
        pos = comma + 1;
    }
    record = DateTimeRecord{fields[0], fields[1], fields[2], fields[3],
                            fields[4], fields[5], fields[6], fields[7]};
    return true;
}

bool IniFile::DeleteSection(const std::string& section)
{
    bool held_password = false;
    const bool ok = ini_storage::Modify(path_, [&](IniDocument& doc) {
        for (const char* key : kSecretKeys)
            held_password = held_password || doc.Find(section, key).has_value();
        return doc.DeleteSection(section);
    });
    // Its passwords in the secret store go with the section.
    if (SecretStore* store = held_password ? InstalledSecretStore() : nullptr)
        store->ForgetSection(path_, section);
    return ok;
}

int IniFile::SectionNames(int entry_count, int entry_length)
{
    section_names_.clear();
    const long long size = (static_cast<long long>(entry_length) + 1) * entry_count + 1;
    if (entry_count <= 0 || entry_length < 0 || size < 2)
        return 0;
    std::unique_ptr<char[]> buffer;
    if (size <= INT32_MAX)
        buffer.reset(new (std::nothrow) char[static_cast<size_t>(size)]);
    if (!buffer) {
        errno = ENOMEM;
        DIAG("Ini", errno, "NO memory for %lld bytes", size);
        return 0;
    }
    // Names follow each other, each ended by a zero, and the list ends with an empty
    // name. When the buffer is too small the last name is cut and still followed by two
    // zeros; the result counts the bytes before the final zero.
    const size_t cap = static_cast<size_t>(size);
    std::string list;
    for (const auto& name : ini_storage::Load(path_)->SectionNames()) {
        list += name;
        list += '\0';
    }
    list += '\0';
    size_t filled = list.size() - 1;
    if (list.size() <= cap) {
        std::memcpy(buffer.get(), list.data(), list.size());
    } else {
        filled = cap - 2;
        std::memcpy(buffer.get(), list.data(), filled);
        buffer[cap - 2] = '\0';
        buffer[cap - 1] = '\0';
    }
    for (size_t pos = 0; pos < filled && buffer[pos] != '\0';) {
        section_names_.emplace_back(buffer.get() + pos);
        pos += section_names_.back().size() + 1;
    }
    return static_cast<int>(filled);
}

bool IniFile::SectionExists(const std::string& name, int entry_count, int entry_length)
{
    SectionNames(entry_count, entry_length);
    bool found = false;
    for (const auto& listed : section_names_)
        if (listed == name)
            found = true;
    section_names_.clear();
    return found;
}

std::string IniFile::ReadEnciphered(const std::string& section, const std::string& key, Rijndael& cipher) const
{
    // A password in the secret store comes first; one written before stays readable here.
    std::string kept;
    if (SecretStore* store = IsSecretKey(key) ? InstalledSecretStore() : nullptr;
        store && store->Lookup({path_, section, key}, kept))
        return kept;
    char digits[kHexDigits + 1] = {};
    const std::string text = ReadText(section, key, sizeof digits);
    if (text.empty() || !cipher.IsKeyed())
        return {};
    std::memcpy(digits, text.data(), text.size());
    uint8_t sealed[kCipherFieldSize];
    for (int i = 0; i < kCipherFieldSize; ++i)
        sealed[i] = DecodeHexByte(digits + 2 * i);
    uint8_t field[kCipherFieldSize + 1] = {};
    if (!cipher.Decrypt(sealed, reinterpret_cast<uint8_t*>(field), kCipherFieldSize))
        return {};
    // The value is the text up to its first zero byte.
    return std::string(reinterpret_cast<const char*>(field));
}

bool IniFile::WriteEnciphered(const std::string& section, const std::string& key, const std::string& text,
                              Rijndael& cipher)
{
    if (SecretStore* store = IsSecretKey(key) ? InstalledSecretStore() : nullptr) {
        const SecretName name{path_, section, key};
        // Kept in the store, the password leaves the file (a value from before included).
        if (text.empty() ? store->Forget(name) : store->Store(name, text))
            return WriteText(section, key, "");
        DIAG("IniFile", 0, "INF:the secret store failed: the password is kept enciphered in %s", path_.c_str());
    }
    // The field holds the text and its zero, the rest zero bytes; longer text is cut to
    // fit, so the stored value always deciphers to a terminated text.
    uint8_t field[kCipherFieldSize] = {};
    const std::string value = text.substr(0, text.find('\0'));
    std::memcpy(field, value.data(), std::min(value.size(), static_cast<size_t>(kCipherFieldSize - 1)));
    uint8_t sealed[kCipherFieldSize];
    // An unkeyed cipher leaves the output untouched: store nothing rather than garbage.
    if (!cipher.Encrypt(field, sealed, kCipherFieldSize))
        return false;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string digits;
    digits.reserve(kHexDigits);
    for (uint8_t b : sealed) {
        digits += kHex[b >> 4];
        digits += kHex[b & 0x0F];
    }
    return WriteText(section, key, digits);
}
