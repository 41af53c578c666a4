// Removes expired staged updates while the service runs: a thread of its own wakes
// every `period` and asks BookUpdates to remove the updates untouched for the expiry
// time, until the object goes.
#pragma once

#include "service/BookUpdates.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace service {

class StageSweep {
public:
    StageSweep(BookUpdates& updates, int64_t expiry_seconds);
    ~StageSweep();
    StageSweep(const StageSweep&) = delete;
    StageSweep& operator=(const StageSweep&) = delete;

    // How often it looks: a quarter of the expiry time, from 1 s to 1 hour, so a stage
    // goes at most that long after it expired.
    static std::chrono::seconds Period(int64_t expiry_seconds);

private:
    void Run();

    BookUpdates& updates_;
    const int64_t expiry_seconds_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace service
