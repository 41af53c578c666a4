#include "ui/ReferenceUpdate.h"

#include <atomic>

namespace {
std::atomic<bool> g_reference_update_running{false};
}

bool ReferenceUpdateRunning()
{
    return g_reference_update_running.load();
}

void SetReferenceUpdateRunning(bool running)
{
    g_reference_update_running.store(running);
}
