#include "engine/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/TempFileRegistry.h"

namespace {
std::atomic<unsigned> g_sequence{0};

std::string ErrnoText(int err)
{
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}
} // namespace

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool MakeFolders(const std::string& folder, std::string& error)
{
    if (folder.empty())
        return true;
    std::string partial;
    size_t pos = 0;
    while (pos <= folder.size()) {
        size_t next = folder.find('/', pos);
        if (next == std::string::npos)
            next = folder.size();
        partial = folder.substr(0, next);
        pos = next + 1;
        if (partial.empty())
            continue;
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create folder '" + partial + "': " + ErrnoText(errno);
            return false;
        }
    }
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "'" + folder + "' is not a folder";
        return false;
    }
    return true;
}

AtomicFile::~AtomicFile()
{
    Discard();
}

bool AtomicFile::Open(const std::string& final_path, std::string& error)
{
    Discard();
    final_path_ = final_path;
    size_t slash = final_path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
    temp_path_ = folder + "." + name + "." + std::to_string(getpid()) + "-" +
                 std::to_string(g_sequence.fetch_add(1)) + ".tmp";
    // Registered before it exists, so that a termination at any moment removes it.
    TempFileRegistry::Add(temp_path_);
    int fd = open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "cannot create '" + final_path + "': " + ErrnoText(errno);
        TempFileRegistry::Remove(temp_path_);
        temp_path_.clear();
        return false;
    }
    file_ = fdopen(fd, "wb");
    if (!file_) {
        error = "cannot write '" + final_path + "': " + ErrnoText(errno);
        close(fd);
        Discard();
        return false;
    }
    return true;
}

bool AtomicFile::Commit(std::string& error)
{
    if (!file_) {
        error = "no file open for '" + final_path_ + "'";
        return false;
    }
    bool ok = !ferror(file_);
    int err = ok ? 0 : EIO;
    if (fflush(file_) != 0) {
        ok = false;
        err = errno;
    }
    if (fclose(file_) != 0 && ok) {
        ok = false;
        err = errno;
    }
    file_ = nullptr;
    if (ok && rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        error = "cannot write '" + final_path_ + "': " + ErrnoText(err);
        Discard();
        return false;
    }
    TempFileRegistry::Remove(temp_path_);
    temp_path_.clear();
    return true;
}

void AtomicFile::Discard()
{
    if (file_) {
        fclose(file_);
        file_ = nullptr;
    }
    if (!temp_path_.empty()) {
        unlink(temp_path_.c_str());
        TempFileRegistry::Remove(temp_path_);
        temp_path_.clear();
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error)
{
    AtomicFile file;
    if (!file.Open(path, error))
        return false;
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        error = "cannot write '" + path + "'";
        return false;
    }
    return file.Commit(error);
}
