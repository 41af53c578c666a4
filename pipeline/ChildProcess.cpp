#include "pipeline/ChildProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

bool UniqueFd::Reset() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    // close() must not be retried on Linux: the descriptor is gone even after EINTR.
    return ::close(fd) == 0 || errno == EINTR;
}

namespace {

// Moves a descriptor that landed on 0, 1 or 2 (the process started with a standard stream
// closed) to 3 or above, keeping close-on-exec.
bool AboveStandardStreams(UniqueFd& fd) {
    if (fd.Get() > 2) return true;
    int moved = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    fd = UniqueFd(moved);
    return true;
}

// posix_spawn objects released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool actions_ok = false;
    bool attr_ok = false;
    SpawnSetup() {
        actions_ok = posix_spawn_file_actions_init(&actions) == 0;
        attr_ok = posix_spawnattr_init(&attr) == 0;
    }
    ~SpawnSetup() {
        if (actions_ok) posix_spawn_file_actions_destroy(&actions);
        if (attr_ok) posix_spawnattr_destroy(&attr);
    }
};

void SleepMs(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

bool MakeCloexecPipe(UniqueFd& read_end, UniqueFd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end = UniqueFd(fds[0]);
    write_end = UniqueFd(fds[1]);
    if (!AboveStandardStreams(read_end) || !AboveStandardStreams(write_end)) {
        int saved = errno;
        read_end.Reset();
        write_end.Reset();
        errno = saved;
        return false;
    }
    return true;
}

pid_t SpawnWithPipe(const std::string& program, const std::vector<std::string>& args, int write_fd, int stream) {
    if (write_fd <= 2 || (stream != STDOUT_FILENO && stream != STDERR_FILENO)) {
        errno = EINVAL;
        return -1;
    }
    SpawnSetup setup;
    if (!setup.actions_ok || !setup.attr_ok) {
        errno = ENOMEM;
        return -1;
    }
    int other = stream == STDOUT_FILENO ? STDERR_FILENO : STDOUT_FILENO;
    int rc = posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&setup.actions, other, "/dev/null", O_WRONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&setup.actions, write_fd, stream);
    // Descriptors opened without close-on-exec elsewhere in the process (another thread,
    // a library) must not reach the engine either: another run's pipe end held open by a
    // second engine would keep that run's output from ever ending.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    sigset_t defaults;
    sigset_t empty;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigemptyset(&empty);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&setup.attr, &empty);
    if (rc == 0) rc = posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (rc != 0) {
        errno = rc;
        return -1;
    }

    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

ssize_t ReadRetry(int fd, void* buffer, size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

int ReapChild(pid_t pid) {
    if (pid <= 0) return -1;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r == pid ? status : -1;
}

bool TryReapChild(pid_t pid, int& status) {
    if (pid <= 0) return true;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    // An error (ECHILD) means there is nothing left to wait for.
    return r != 0;
}

void TerminateChild(pid_t pid, int grace_ms) {
    if (pid <= 0) return;
    int status = 0;
    if (TryReapChild(pid, status)) return;
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < grace_ms; waited += 10) {
        if (TryReapChild(pid, status)) return;
        SleepMs(10);
    }
    ::kill(pid, SIGKILL);
    ReapChild(pid);
}
