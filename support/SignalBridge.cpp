#include "support/SignalBridge.h"

#include "config/DiagLog.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the handler, so it must be a plain value readable in a signal handler.
volatile sig_atomic_t g_write_fd = -1;

void OnSignal(int signal_number)
{
    const int saved_errno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal_number);
    if (g_write_fd >= 0)
        (void)!write(g_write_fd, &byte, 1);
    errno = saved_errno;
}

}  // namespace

SignalBridge::SignalBridge(QObject* parent) : QObject(parent) {}

SignalBridge::~SignalBridge()
{
    for (int signal_number : installed_)
        std::signal(signal_number, SIG_DFL);
    if (g_write_fd >= 0)
        close(g_write_fd);
    g_write_fd = -1;
    if (read_fd_ >= 0)
        close(read_fd_);
}

bool SignalBridge::Install(std::initializer_list<int> signal_numbers)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        DIAG("Support", errno, "ERR:cannot create the signal pipe");
        return false;
    }
    read_fd_ = fds[0];
    g_write_fd = fds[1];
    notifier_ = new QSocketNotifier(read_fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalBridge::ReadPipe);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal_number : signal_numbers) {
        if (sigaction(signal_number, &action, nullptr) != 0) {
            DIAG("Support", errno, "ERR:cannot catch signal %d", signal_number);
            return false;
        }
        installed_.push_back(signal_number);
    }
    return true;
}

void SignalBridge::ReadPipe()
{
    unsigned char byte;
    while (read(read_fd_, &byte, 1) == 1)
        emit Caught(byte);
}
