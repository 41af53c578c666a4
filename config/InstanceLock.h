// The lock that lets only one Vellumark program at a time work on the user's books
// folder and job records: an exclusive flock on "rastrix@corvane.lock" in
// $XDG_RUNTIME_DIR (else /tmp/rastrix@corvane-<uid>.lock). The kernel releases it when
// the holder ends, however it ends, so a crash never leaves a stale lock behind.
// A program that must run beside those (the support tool) takes a lock of another name,
// which keeps only its own second copy out.
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

    // Takes the lock without waiting. False when another program holds it (`error`
    // empty) or when the lock file cannot be opened (`error` says why).
    bool TryAcquire(std::string& error);
    bool Held() const { return fd_ >= 0; }

    // Where the lock file of that name lives for the current environment.
    static std::string LockPath(const std::string& name = kProgramsLockName);

private:
    std::string name_;
    int fd_ = -1;
};
