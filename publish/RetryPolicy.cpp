#include "publish/RetryPolicy.h"

#include "publish/PublishControl.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

namespace retry {

namespace {
constexpr std::array<int32_t, kMaxAttempts> kDelays = {1000, 2000, 4000, 8000, 16000, 16000, 16000};
constexpr int32_t kSliceMs = 20;
}  // namespace

int32_t DelayMs(int32_t attempt) {
    const int32_t index = std::clamp(attempt, 0, kMaxAttempts - 1);
    return kDelays[static_cast<size_t>(index)];
}

int32_t ClampTryTimes(int32_t stored) {
    if (stored <= 0) return 4;
    return std::min(stored, kMaxAttempts);
}

bool StopRequested(const std::atomic<int32_t>* state) {
    return PublishControl::AsksToStop(state);
}

bool WaitUnlessStopped(int32_t ms, const std::atomic<int32_t>* state) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (StopRequested(state)) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
    }
    return !StopRequested(state);
}

}  // namespace retry
