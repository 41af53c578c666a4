#include "ui/QuitWait.h"

#include "pipeline/JobTable.h"

#include <thread>

bool StopWorkWithin(JobTable& table, const std::function<bool()>& checks_running, std::chrono::milliseconds limit)
{
    for (int i = 0; i < JobTable::kSlotCount; ++i)
        table.RequestStop(i);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (table.AnyActive() || checks_running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
