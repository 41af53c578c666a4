// How long a failed FTP attempt waits before the next one, and a wait that ends early
// when the job is asked to stop.
#pragma once

#include <atomic>
#include <cstdint>

namespace retry {

constexpr int32_t kMaxAttempts = 7;

// The wait in milliseconds after failed attempt `attempt` (counted from 0):
// 1000, 2000, 4000, 8000, 16000, 16000, 16000. Out-of-range attempts use the last entry.
int32_t DelayMs(int32_t attempt);

// The number of attempts a stored try-times setting allows: 0 or less reads as 4,
// above 7 as 7.
int32_t ClampTryTimes(int32_t stored);

// True when `state` (may be null) says a stop was requested.
bool StopRequested(const std::atomic<int32_t>* state);

// Sleeps `ms` milliseconds in short slices; returns false at once when a stop is
// requested through `state`, true when the whole wait passed.
bool WaitUnlessStopped(int32_t ms, const std::atomic<int32_t>* state);

}  // namespace retry
