#include "engine/TempFileRegistry.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kSlots = 128;
constexpr size_t kPathBytes = 4096;

// 0 free, 1 being written, 2 holds a path.
std::atomic<int> g_state[kSlots];
char g_paths[kSlots][kPathBytes];

void OnTerminate(int sig)
{
    for (int i = 0; i < kSlots; ++i)
        if (g_state[i].load() == 2)
            unlink(g_paths[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

namespace TempFileRegistry {

void InstallSignalHandlers()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

void Add(const std::string& path)
{
    if (path.size() >= kPathBytes)
        return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_state[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
            g_state[i].store(2);
            return;
        }
    }
}

void Remove(const std::string& path)
{
    for (int i = 0; i < kSlots; ++i) {
        if (g_state[i].load() == 2 && path == g_paths[i]) {
            int expected = 2;
            g_state[i].compare_exchange_strong(expected, 0);
            return;
        }
    }
}

} // namespace TempFileRegistry
