#include "config/InstanceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

#include "config/CommonUtil.h"

std::string InstanceLock::LockPath(const std::string& folder, const std::string& name)
{
    return JoinPath(folder, name + ".lock");
}

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        close(fd_);  // closing the last descriptor releases the lock
}

bool InstanceLock::TryAcquire(const std::string& folder, std::string& error)
{
    error.clear();
    if (fd_ >= 0)
        return true;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string path = LockPath(folder, name_);
    // Close-on-exec: an engine started by the holder must not keep the lock alive after
    // the holder has ended. O_NOFOLLOW: a link planted in place of the file is refused.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open the lock file '" + path + "': " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int code = errno;
        close(fd);
        if (code != EWOULDBLOCK)
            error = "cannot lock '" + path + "': " + std::strerror(code);
        return false;
    }
    fd_ = fd;
    return true;
}
