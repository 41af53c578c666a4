#include "service/StageSweep.h"

#include <algorithm>

namespace service {

StageSweep::StageSweep(BookUpdates& updates, int64_t expiry_seconds)
    : updates_(updates), expiry_seconds_(expiry_seconds), thread_([this] { Run(); }) {}

StageSweep::~StageSweep() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::chrono::seconds StageSweep::Period(int64_t expiry_seconds) {
    return std::chrono::seconds(std::clamp<int64_t>(expiry_seconds / 4, 1, 3600));
}

void StageSweep::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, Period(expiry_seconds_), [this] { return stopping_; })) {
        lock.unlock();
        updates_.RemoveExpired(expiry_seconds_);
        lock.lock();
    }
}

}  // namespace service
