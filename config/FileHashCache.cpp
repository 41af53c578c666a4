#include "config/FileHashCache.h"

#include "config/BookManifest.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
// Size and modification time (ns) of `file`; false when it cannot be examined.
bool SizeAndTime(const std::filesystem::path& file, int64_t& size, int64_t& mtime_ns) {
    struct stat status {};
    if (stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    size = status.st_size;
    mtime_ns = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return true;
}
}  // namespace

std::filesystem::path FileHashCache::OfBook(const std::string& book_key) {
    // Only a plain name becomes a file name: anything else has no cache.
    if (book_key.empty() || book_key == "." || book_key == ".." || book_key.find('/') != std::string::npos)
        return {};
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path base = cache && *cache == '/' ? std::filesystem::path(cache)
                                 : home && *home          ? std::filesystem::path(home) / ".cache"
                                                          : std::filesystem::temp_directory_path();
    return base / "vellumark" / "file-hashes" / book_key;
}

FileHashCache::FileHashCache(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream in(file_);
    std::string line;
    // Each line: hash, size, modification time (ns), name. A damaged line is skipped:
    // its file is hashed again.
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Entry entry;
        std::string name;
        if (!(fields >> entry.sha256 >> entry.size >> entry.mtime_ns) || entry.sha256.size() != 64) continue;
        fields.get();
        std::getline(fields, name);
        if (!name.empty()) entries_[name] = std::move(entry);
    }
}

std::string FileHashCache::Sha256(const std::string& name, const std::filesystem::path& file) {
    Entry now;
    if (!SizeAndTime(file, now.size, now.mtime_ns)) return {};
    const auto known = entries_.find(name);
    if (known != entries_.end() && known->second.size == now.size && known->second.mtime_ns == now.mtime_ns)
        return known->second.sha256;
    now.sha256 = FileSha256(file);
    // A name with a line break cannot be stored in the cache: it is hashed every time.
    if (!now.sha256.empty() && name.find('\n') == std::string::npos) {
        entries_[name] = now;
        changed_ = true;
    }
    return now.sha256;
}

bool FileHashCache::Save() {
    if (!changed_) return true;
    if (file_.empty()) return false;
    const std::filesystem::path temporary = file_.string() + ".new";
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const auto& [name, entry] : entries_)
            out << entry.sha256 << ' ' << entry.size << ' ' << entry.mtime_ns << ' ' << name << '\n';
        if (!out.flush()) {
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, file_, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    changed_ = false;
    return true;
}
