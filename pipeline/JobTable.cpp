#include "pipeline/JobTable.h"

#include <cstring>

JobTable::JobTable(Worker worker) : worker_(std::move(worker)) {}

JobTable::~JobTable()
{
    for (int i = 0; i < kSlotCount; ++i)
        RequestStop(i);
    JoinAll();
}

int JobTable::FindSlotByKey(const std::string& key) const
{
    for (int i = 0; i < kSlotCount; ++i)
        if (key == slots_[static_cast<size_t>(i)].key)
            return i;
    return -1;
}

int JobTable::LaunchJob(const std::string& key, const JobParams& params, JobObserver* notify,
                        int32_t initial_progress)
{
    int index = FindSlotByKey(key);
    if (index >= 0) {
        if (Slot(index).state.load() != JOB_STATE_FREE)
            return -1;
    } else {
        for (int i = 0; i < kSlotCount && index < 0; ++i)
            if (Slot(i).state.load() == JOB_STATE_FREE)
                index = i;
        if (index < 0)
            return -1;
    }

    // The previous worker of this slot has set the slot free as its last step; wait for
    // its thread to end before the slot is filled again.
    std::thread& previous = threads_[static_cast<size_t>(index)];
    if (previous.joinable())
        previous.join();

    PdfJob& job = Slot(index);
    std::memset(job.key, 0, sizeof job.key);
    std::strncpy(job.key, key.c_str(), sizeof job.key - 1);
    static_cast<JobParams&>(job) = params;
    job.notify = notify;
    job.progress.store(initial_progress);
    job.result_code.store(0);
    job.stopped.store(0);
    job.stop_at_progress = stop_mark_ >= 0 && initial_progress < stop_mark_ ? stop_mark_ : -1;

    if (running_ >= thread_limit_) {
        job.state.store(JOB_STATE_PENDING);
        job.has_thread = false;
        pending_.push_back(index);
    } else {
        job.state.store(JOB_STATE_RUNNING);
        StartWorker(index);
        ++running_;
    }
    return index;
}

void JobTable::StartPendingJobs()
{
    for (auto it = pending_.begin(); it != pending_.end();) {
        PdfJob& job = Slot(*it);
        if (job.state.load() != JOB_STATE_PENDING) {
            it = pending_.erase(it);
        } else if (running_ >= thread_limit_) {
            ++it;
        } else {
            job.state.store(JOB_STATE_RUNNING);
            StartWorker(*it);
            ++running_;
            it = pending_.erase(it);
        }
    }
}

void JobTable::RecountRunning()
{
    int32_t count = 0;
    for (const PdfJob& job : slots_) {
        int32_t state = job.state.load();
        if (state != JOB_STATE_FREE && state != JOB_STATE_PENDING)
            ++count;
    }
    running_ = count;
}

bool JobTable::RequestStop(int index)
{
    if (index < 0 || index >= kSlotCount)
        return false;
    PdfJob& job = Slot(index);
    int32_t state = job.state.load();
    if (state == JOB_STATE_PENDING) {
        job.stopped.store(1);
        job.state.store(JOB_STATE_FREE);
    } else if (state != JOB_STATE_FREE) {
        // The worker may have set the slot free meanwhile: only an active state turns
        // into a stop request, a free slot stays free.
        job.state.compare_exchange_strong(state, JOB_STATE_STOPPING);
    }
    return true;
}

bool JobTable::AnyActive() const
{
    for (const PdfJob& job : slots_)
        if (job.state.load() != JOB_STATE_FREE)
            return true;
    return false;
}

bool JobTable::HasFreeSlot() const
{
    for (const PdfJob& job : slots_)
        if (job.state.load() == JOB_STATE_FREE)
            return true;
    return false;
}

void JobTable::JoinAll()
{
    for (std::thread& thread : threads_)
        if (thread.joinable())
            thread.join();
}

void JobTable::StartWorker(int index)
{
    std::thread& thread = threads_[static_cast<size_t>(index)];
    if (thread.joinable())
        thread.join();
    PdfJob& job = Slot(index);
    job.has_thread = true;
    Worker worker = worker_;
    thread = std::thread([worker, &job]() {
        if (worker) {
            worker(job);
        } else {
            // Without a worker routine the job cannot run: it ends at once.
            job.state.store(JOB_STATE_FREE);
        }
    });
}
