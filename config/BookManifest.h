// The manifest of a published book folder: every file a publication put there, with its
// size and SHA-256. It is written last, so a folder whose manifest is present holds what
// it lists; the next publication compares with it to send only new or changed files and
// to remove only files that it put there itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FileHashCache;

struct ManifestEntry {
    std::string path;  // relative to the book folder, '/' between folders
    int64_t size = 0;
    std::string sha256;  // 64 lower-case hexadecimal digits
};

class BookManifest {
public:
    // The manifest's name inside the book folder.
    static constexpr const char* kFileName = "book-manifest.txt";

    std::string book_key;
    std::vector<ManifestEntry> entries;  // sorted by path, no path twice

    // Reads a manifest's text. False (with `why`) for anything else: a missing or other
    // first line, a malformed line, a path that leaves the folder, a path listed twice.
    static bool Parse(std::string_view text, BookManifest& out, std::string& why);
    // The manifest of `files`: each a path in the book folder ('/' separated) and the
    // local file that goes there, hashed now (or taken from `hashes` while the file is
    // unchanged). False (with `why`) when one of them cannot be read.
    static bool OfFiles(const std::string& book_key,
                        const std::vector<std::pair<std::string, std::filesystem::path>>& files, BookManifest& out,
                        std::string& why, FileHashCache* hashes = nullptr);

    std::string Text() const;
    // Adds `entry`, in its place by path (replacing an entry of the same path).
    void Insert(const ManifestEntry& entry);
    const ManifestEntry* Find(std::string_view path) const;
    // True when this manifest lists `entry`'s path with the same size and hash.
    bool Holds(const ManifestEntry& entry) const;
};

// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits; empty when the file
// cannot be read.
std::string FileSha256(const std::filesystem::path& file);
