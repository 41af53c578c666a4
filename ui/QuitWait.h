// The end of the desktop program after its window has gone: every job is asked to stop,
// and the program waits a short, bounded while for the workers and the start-up checks.
// A worker or check that still waits on a silent server then does not hold the program
// (or its single-instance lock) any longer: the job's record keeps its last finished
// step, so the next start lists the job for resuming, as after a power cut.
#pragma once

#include <chrono>
#include <functional>

class JobTable;

// How long a quit waits for the work to end.
inline constexpr std::chrono::milliseconds kQuitWait{1500};

// Asks every job of `table` to stop, then waits until no job is active and
// `checks_running` says false, at most `limit`. True when everything ended in time.
bool StopWorkWithin(JobTable& table, const std::function<bool()>& checks_running, std::chrono::milliseconds limit);
