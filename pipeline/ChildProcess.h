// The process plumbing under the engine runs: close-on-exec pipes, spawning a program
// without a shell so that it inherits exactly one pipe end, reading with retries, and
// ending and reaping a child.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor; returns false when close reports an error.
    bool Reset();

private:
    int fd_ = -1;
};

// Creates a pipe with close-on-exec on both ends, each end numbered 3 or above so that it
// can never be mistaken for a standard stream. Returns false (errno set) on failure.
bool MakeCloexecPipe(UniqueFd& read_end, UniqueFd& write_end);

// Starts `program` with `args` (argv[0] is the program path) without a shell. In the
// child: standard input and the standard stream that is not `stream` come from /dev/null,
// `write_fd` becomes `stream` (1 or 2), and every other descriptor is closed. Signal
// dispositions and the mask are reset to their defaults. Returns the child's pid, or -1
// with errno set (a missing or non-executable program fails here).
pid_t SpawnWithPipe(const std::string& program, const std::vector<std::string>& args, int write_fd, int stream);

// read() that retries on EINTR.
ssize_t ReadRetry(int fd, void* buffer, size_t size);

// Waits for `pid` to end (retrying on EINTR); returns its wait status or -1.
int ReapChild(pid_t pid);

// Non-blocking check: true (status stored) when `pid` has ended and was reaped.
bool TryReapChild(pid_t pid, int& status);

// SIGTERM, then SIGKILL when the child has not ended within `grace_ms`; always reaps.
void TerminateChild(pid_t pid, int grace_ms = 1000);
