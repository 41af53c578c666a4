#include "config/IniStorage.h"

#include <atomic>
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

IniDocument Load(const std::string& path)
{
    std::string bytes;
    ReadBytes(path, bytes);
    return IniDocument::Parse(bytes);
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
    IniDocument doc = IniDocument::Parse(bytes);
    if (!change(doc))
        return true;
    return ReplaceFile(target, doc.Serialize());
}

} // namespace ini_storage
