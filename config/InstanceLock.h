// The lock that lets only one Vellumark program at a time work on a books folder and its
// job records: an exclusive flock on "rastrix@corvane.lock" inside the books folder. The
// path depends only on the books folder, not on the session's environment, so a desktop
// session and a cron job working on the same books exclude each other. The kernel
// releases the lock when the holder ends, however it ends, so a crash never leaves a
// stale lock behind. A program that must run beside those (the support tool) takes a
// lock of another name, which keeps only its own second copy out.
#pragma once

#include <string>
#include <utility>

class InstanceLock {
public:
    static constexpr const char* kProgramsLockName = "rastrix@corvane";

    explicit InstanceLock(std::string name = kProgramsLockName) : name_(std::move(name)) {}
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock of that name in `folder` without waiting, creating the folder when
    // it is missing. False when another program holds it (`error` empty) or when the
    // lock file cannot be opened or locked (`error` says why).
    bool TryAcquire(const std::string& folder, std::string& error);
    bool Held() const { return fd_ >= 0; }

    // The lock file of that name in a folder.
    static std::string LockPath(const std::string& folder, const std::string& name = kProgramsLockName);

private:
    std::string name_;
    int fd_ = -1;
};
