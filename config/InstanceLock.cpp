#include "config/InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string InstanceLock::LockPath(const std::string& name)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info{};
    if (runtime && *runtime == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
        return std::string(runtime) + "/" + name + ".lock";
    return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0)
        close(fd_);  // closing the last descriptor releases the lock
}

bool InstanceLock::TryAcquire(std::string& error)
{
    error.clear();
    if (fd_ >= 0)
        return true;
    std::string path = LockPath(name_);
    // Close-on-exec: an engine started by the holder must not keep the lock alive after
    // the holder has ended. O_NOFOLLOW: in the shared /tmp, a planted link is refused.
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
