// Remembers the SHA-256 of a book's files by size and modification time, in a small
// file of the user's cache folder. A book published again, to a second target or later
// is then not read and hashed whole each time: only files written since are. Losing the
// cache costs only the time to hash the book again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

class FileHashCache {
public:
    // The cache of the book `book_key`: $XDG_CACHE_HOME (or ~/.cache)/vellumark/file-hashes/KEY;
    // empty (no cache) for a key that is not a plain name.
    static std::filesystem::path OfBook(const std::string& book_key);

    // Reads the cache file `file`; a missing or damaged cache is an empty one.
    explicit FileHashCache(std::filesystem::path file);

    // The SHA-256 of `file` (64 lower-case hex digits), remembered under `name`: from the
    // cache while the file keeps its size and modification time, else read now. Empty
    // when the file cannot be read.
    std::string Sha256(const std::string& name, const std::filesystem::path& file);
    // Writes the cache back when it changed (whole or not at all), making its folder.
    // False when it could not be written; the hashes are then made again next time.
    bool Save();

private:
    struct Entry {
        int64_t size = 0;
        int64_t mtime_ns = 0;
        std::string sha256;
    };

    std::filesystem::path file_;
    std::map<std::string, Entry> entries_;
    bool changed_ = false;
};
