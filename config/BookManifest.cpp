#include "config/BookManifest.h"

#include "config/FileHashCache.h"

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>

namespace {
constexpr std::string_view kHeading = "vellumark-book-manifest 1 ";

struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

bool IsLowerHex(std::string_view text, size_t length) {
    return text.size() == length &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A relative path that stays inside the folder: plain components, no "." or "..", no
// backslash or control character (it names a file on a server as well as here).
bool IsFolderPath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return std::none_of(path.begin(), path.end(),
                        [](char c) { return c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool ParseEntry(std::string_view line, ManifestEntry& entry) {
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos) return false;
    const std::string_view hash = line.substr(0, first);
    const std::string_view size = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), entry.size);
    if (!IsLowerHex(hash, 64) || error != std::errc() || end != size.data() + size.size() || entry.size < 0 ||
        !IsFolderPath(path))
        return false;
    entry.sha256.assign(hash);
    entry.path.assign(path);
    return true;
}
}  // namespace

std::string FileSha256(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
    if (!in || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return {};
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(in.gcount())) != 1) return {};
        if (in.eof()) break;
    }
    if (in.bad()) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

bool BookManifest::Parse(std::string_view text, BookManifest& out, std::string& why) {
    out = BookManifest{};
    const size_t first_end = text.find('\n');
    const std::string_view heading = text.substr(0, first_end);
    if (heading.substr(0, kHeading.size()) != kHeading || heading.size() == kHeading.size()) {
        why = "not a book manifest";
        return false;
    }
    out.book_key.assign(heading.substr(kHeading.size()));
    size_t at = first_end == std::string_view::npos ? text.size() : first_end + 1;
    int line_number = 1;
    while (at < text.size()) {
        ++line_number;
        const size_t end = std::min(text.find('\n', at), text.size());
        ManifestEntry entry;
        if (!ParseEntry(text.substr(at, end - at), entry)) {
            why = "malformed manifest line " + std::to_string(line_number);
            return false;
        }
        out.entries.push_back(std::move(entry));
        at = end + 1;
    }
    std::sort(out.entries.begin(), out.entries.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
    const auto twice = std::adjacent_find(out.entries.begin(), out.entries.end(),
                                          [](const ManifestEntry& a, const ManifestEntry& b) { return a.path == b.path; });
    if (twice != out.entries.end()) {
        why = "the manifest lists " + twice->path + " twice";
        return false;
    }
    return true;
}

bool BookManifest::OfFiles(const std::string& book_key,
                           const std::vector<std::pair<std::string, std::filesystem::path>>& files, BookManifest& out,
                           std::string& why, FileHashCache* hashes) {
    out = BookManifest{};
    out.book_key = book_key;
    for (const auto& [path, local] : files) {
        ManifestEntry entry;
        entry.path = path;
        std::error_code error;
        const auto size = std::filesystem::file_size(local, error);
        entry.sha256 = error ? std::string() : hashes ? hashes->Sha256(path, local) : FileSha256(local);
        if (entry.sha256.empty() || !IsFolderPath(path)) {
            why = "cannot read " + local.string();
            return false;
        }
        entry.size = static_cast<int64_t>(size);
        out.entries.push_back(std::move(entry));
    }
    std::sort(out.entries.begin(), out.entries.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
    out.entries.erase(std::unique(out.entries.begin(), out.entries.end(),
                                  [](const ManifestEntry& a, const ManifestEntry& b) { return a.path == b.path; }),
                      out.entries.end());
    return true;
}

std::string BookManifest::Text() const {
    std::string text(kHeading);
    text += book_key + "\n";
    for (const ManifestEntry& entry : entries)
        text += entry.sha256 + " " + std::to_string(entry.size) + " " + entry.path + "\n";
    return text;
}

void BookManifest::Insert(const ManifestEntry& entry) {
    const auto at = std::lower_bound(entries.begin(), entries.end(), entry.path,
                                     [](const ManifestEntry& e, const std::string& p) { return e.path < p; });
    if (at != entries.end() && at->path == entry.path) *at = entry;
    else entries.insert(at, entry);
}

const ManifestEntry* BookManifest::Find(std::string_view path) const {
    const auto at = std::lower_bound(entries.begin(), entries.end(), path,
                                     [](const ManifestEntry& entry, std::string_view p) { return entry.path < p; });
    return at != entries.end() && at->path == path ? &*at : nullptr;
}

bool BookManifest::Holds(const ManifestEntry& entry) const {
    const ManifestEntry* mine = Find(entry.path);
    return mine && mine->size == entry.size && mine->sha256 == entry.sha256;
}
