// Remembers the SHA-256 of a book folder's files by size and modification time, in a
// small file inside the folder. A book published again, to a second target or later
// is then not read and hashed whole each time: only files written since are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

class FileHashCache {
public:
    // The cache file's name inside the folder (never published: publications list their
    // files by name).
    static constexpr const char* kFileName = ".file-hashes";

    // Reads the cache of `folder`; a missing or damaged cache is an empty one.
    explicit FileHashCache(std::filesystem::path folder);

    // The SHA-256 of `file` (64 lower-case hex digits), remembered under `name`: from the
    // cache while the file keeps its size and modification time, else read now. Empty
    // when the file cannot be read.
    std::string Sha256(const std::string& name, const std::filesystem::path& file);
    // Writes the cache back when it changed (whole or not at all). False when it could
    // not be written; the hashes are then only made again next time.
    bool Save();

private:
    struct Entry {
        int64_t size = 0;
        int64_t mtime_ns = 0;
        std::string sha256;
    };

    std::filesystem::path folder_;
    std::map<std::string, Entry> entries_;
    bool changed_ = false;
};
