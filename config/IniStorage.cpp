#include "config/IniStorage.h"

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ini_storage {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    void Reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now and reports whether the close succeeded (a late write error shows here).
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// The file a path stands for: symbolic links are followed so that a write replaces the
// link's target rather than the link itself, and different spellings of one file share
// one lock.
std::string ResolvedPath(const std::string& path)
{
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::path(path), ec);
    if (ec || resolved.empty())
        return path;
    return resolved.string();
}

std::mutex& LockFor(const std::string& resolved)
{
    static std::mutex map_lock;
    static std::map<std::string, std::unique_ptr<std::mutex>> locks;
    std::lock_guard<std::mutex> guard(map_lock);
    auto& slot = locks[resolved];
    if (!slot)
        slot = std::make_unique<std::mutex>();
    return *slot;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the new file beside the old one and renames it into place. The temporary file
// keeps the old file's permissions; a new file gets 0666 less the umask, as any file the
// user's programs create.
bool ReplaceFile(const std::string& target, const std::string& bytes)
{
    static std::atomic<unsigned> counter{0};
    const fs::path target_path(target);
    fs::path temp;
    UniqueFd fd(-1);
    // A name left behind by a process that died mid-write (its id may come again) is
    // skipped, not reused.
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
        std::string name = ".";
        name += target_path.filename().string();
        name += ".tmp";
        name += std::to_string(::getpid());
        name += '-';
        name += std::to_string(counter.fetch_add(1));
        temp = target_path.parent_path() / name;
        fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() < 0 && errno != EEXIST)
            return false;
    }
    if (fd.get() < 0)
        return false;
    struct stat old_stat {};
    bool ok = true;
    if (::stat(target.c_str(), &old_stat) == 0)
        ok = ::fchmod(fd.get(), old_stat.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

// The documents of the last files read or written, by the path they were asked for. A
// process reads few settings files, so a handful of entries serve them all and bound
// the memory the cache holds.
class DocumentCache {
public:
    // The cached document when it was parsed from exactly `bytes`.
    std::shared_ptr<IniDocument> Find(const std::string& path, const std::string& bytes)
    {
        std::lock_guard<std::mutex> guard(lock_);
        Entry* entry = EntryFor(path);
        if (!entry || entry->bytes != bytes)
            return nullptr;
        entry->last_use = ++clock_;
        return entry->doc;
    }

    // The cached document parsed from exactly `bytes`, for the caller alone to change:
    // taken out of the cache when no reader holds it, a copy otherwise. Null on a miss.
    std::shared_ptr<IniDocument> Take(const std::string& path, const std::string& bytes)
    {
        std::lock_guard<std::mutex> guard(lock_);
        Entry* entry = EntryFor(path);
        if (!entry || entry->bytes != bytes)
            return nullptr;
        std::shared_ptr<IniDocument> doc = std::move(entry->doc);
        entries_.erase(path);
        // Readers get their reference under this lock, so a single owner stays single.
        if (doc.use_count() == 1)
            return doc;
        return std::make_shared<IniDocument>(*doc);
    }

    void Remember(const std::string& path, std::string bytes, std::shared_ptr<IniDocument> doc)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!entries_.count(path) && entries_.size() >= kEntries) {
            auto oldest = entries_.begin();
            for (auto it = entries_.begin(); it != entries_.end(); ++it)
                if (it->second.last_use < oldest->second.last_use)
                    oldest = it;
            entries_.erase(oldest);
        }
        entries_[path] = Entry{std::move(bytes), std::move(doc), ++clock_};
    }

private:
    static constexpr size_t kEntries = 8;
    struct Entry {
        std::string bytes;
        std::shared_ptr<IniDocument> doc;
        uint64_t last_use = 0;
    };

    Entry* EntryFor(const std::string& path)
    {
        auto it = entries_.find(path);
        return it == entries_.end() ? nullptr : &it->second;
    }

    std::mutex lock_;
    std::map<std::string, Entry> entries_;
    uint64_t clock_ = 0;
};

DocumentCache& Cache()
{
    static DocumentCache cache;
    return cache;
}

} // namespace

bool ReadBytes(const std::string& path, std::string& bytes)
{
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false;  // errno tells why
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            bytes.clear();
            errno = err;
            return false;
        }
        if (n == 0)
            return true;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

std::shared_ptr<const IniDocument> Load(const std::string& path)
{
    std::string bytes;
    ReadBytes(path, bytes);
    if (auto cached = Cache().Find(path, bytes))
        return cached;
    auto doc = std::make_shared<IniDocument>(IniDocument::Parse(bytes));
    Cache().Remember(path, std::move(bytes), doc);
    return doc;
}

bool Modify(const std::string& path, const std::function<bool(IniDocument&)>& change)
{
    if (path.empty())
        return false;
    const std::string target = ResolvedPath(path);
    std::lock_guard<std::mutex> guard(LockFor(target));
    // A file that exists but cannot be read is left alone: writing an empty document
    // over it would throw away every other setting in it.
    std::string bytes;
    if (!ReadBytes(target, bytes) && errno != ENOENT)
        return false;
    std::shared_ptr<IniDocument> doc = Cache().Take(path, bytes);
    if (!doc)
        doc = std::make_shared<IniDocument>(IniDocument::Parse(bytes));
    // A change that reports no change may still have touched the document: it is not
    // kept, so the cache only ever holds what a file holds.
    if (!change(*doc))
        return true;
    std::string written = doc->Serialize();
    if (!ReplaceFile(target, written))
        return false;
    Cache().Remember(path, std::move(written), std::move(doc));
    return true;
}

} // namespace ini_storage
