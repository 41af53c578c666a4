// A file written under a hidden temporary name in its final folder and renamed into place
// on Commit(), so readers never see a half-written image and a failed run leaves none.
#pragma once

#include <cstdio>
#include <string>

class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Opens the temporary file next to `final_path`; false (and `error`) on failure.
    bool Open(const std::string& final_path, std::string& error);
    FILE* Stream() const { return file_; }
    // Flushes, closes and renames; false (and `error`) when any step fails, in which case
    // the temporary file is removed and the final name is left as it was.
    bool Commit(std::string& error);

private:
    void Discard();

    FILE* file_ = nullptr;
    std::string final_path_;
    std::string temp_path_;
};

// Writes `bytes` to `path` through a temporary name; false (and `error`) on failure.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

// Folder part and name part of a path ("a/b/c.jpg" -> "a/b", "c.jpg").
std::string FolderOf(const std::string& path);
// Creates a folder and its missing parents; false (and `error`) on failure.
bool MakeFolders(const std::string& folder, std::string& error);
