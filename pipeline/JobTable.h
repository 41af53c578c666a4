// The table of job slots: 512 slots, a limit on the number of running workers and a
// first-in first-out list of jobs waiting for a worker. Every operation is called from
// one controlling thread (the UI thread, or the batch command's main loop); a worker
// thread writes only its own slot.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "pipeline/PdfJob.h"

class JobTable {
public:
    static constexpr int kSlotCount = 512;
    // The worker routine run on a thread of its own for one slot; its result is the
    // thread's exit code, which nobody reads.
    using Worker = std::function<int(PdfJob&)>;

    explicit JobTable(Worker worker = {});
    // Asks every active job to stop and waits for all worker threads.
    ~JobTable();
    JobTable(const JobTable&) = delete;
    JobTable& operator=(const JobTable&) = delete;

    void SetWorker(Worker worker) { worker_ = std::move(worker); }
    // The configured limit; a missing (-1) or non-positive value allows one worker.
    void SetThreadLimit(int32_t limit) { thread_limit_ = limit < 1 ? 1 : limit; }
    // Jobs launched from now on stop by themselves once their upload reaches `mark`
    // (-1: never), unless they start at or beyond it. Taken by the job itself, the stop
    // lands on the mark however late the controlling thread runs.
    void SetStopMark(int32_t mark) { stop_mark_ = mark; }
    int32_t ThreadLimit() const { return thread_limit_; }
    int32_t RunningCount() const { return running_; }
    const std::deque<int>& PendingList() const { return pending_; }

    PdfJob& Slot(int index) { return slots_[static_cast<size_t>(index)]; }
    const PdfJob& Slot(int index) const { return slots_[static_cast<size_t>(index)]; }

    // Index of the first slot whose key equals `key` exactly, or -1. Ended jobs keep
    // their key, so they are found again.
    int FindSlotByKey(const std::string& key) const;
    // Starts or queues a job; the slot index, or -1 when the job is active already or
    // every slot is busy.
    int LaunchJob(const std::string& key, const JobParams& params, JobObserver* notify,
                  int32_t initial_progress);
    // Starts waiting jobs while workers are free; drops entries of stopped jobs.
    void StartPendingJobs();
    // Running count = slots that are neither free nor pending.
    void RecountRunning();
    // -1 does nothing (false); a pending job is dropped, an active one asked to stop.
    bool RequestStop(int index);

    // True while any slot is running, stopping, uploading or pending.
    bool AnyActive() const;
    // True when LaunchJob would find a slot for a new job (an ended job's slot counts).
    bool HasFreeSlot() const;
    // Waits for every worker thread that has been started (the slots' jobs must end by
    // themselves or by a stop request).
    void JoinAll();

private:
    void StartWorker(int index);

    Worker worker_;
    std::array<PdfJob, kSlotCount> slots_;
    std::array<std::thread, kSlotCount> threads_;
    int32_t thread_limit_ = 4;  // until the configuration is loaded
    int32_t running_ = 0;
    int32_t stop_mark_ = -1;
    std::deque<int> pending_;
};
