// The job table: slot choice, thread limit, first-in first-out start of waiting jobs,
// stop requests and reuse of ended slots. The worker here is a stand-in that waits for
// the test to release it, so the order in which jobs run is observable.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/JobTable.h"

namespace {

// Records which jobs ran, in what order, and lets a test end each job when it likes.
class GatedWorker {
public:
    int operator()(PdfJob& job)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        started_.push_back(job.key);
        changed_.notify_all();
        // Polls as well: a stop request changes the slot without notifying.
        while (released_.count(job.key) == 0 && job.state.load() != JOB_STATE_STOPPING)
            changed_.wait_for(lock, std::chrono::milliseconds(10));
        job.progress = kProgressFinished;
        job.state = JOB_STATE_FREE;
        return 0;
    }
    void Release(const std::string& key)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_.insert(key);
        changed_.notify_all();
    }
    void WakeAll() { changed_.notify_all(); }
    bool WaitStarted(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return started_.size() >= count; });
    }
    std::vector<std::string> Started()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> started_;
    std::set<std::string> released_;
};

std::string Key(int n)
{
    char text[40];
    std::snprintf(text, sizeof text, "%032X", n);
    return text;
}

bool WaitFree(const PdfJob& job)
{
    for (int i = 0; i < 500 && job.state.load() != JOB_STATE_FREE; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return job.state.load() == JOB_STATE_FREE;
}

}  // namespace

TEST(JobTable, NonPositiveThreadLimitAllowsOneWorker)
{
    JobTable table;
    EXPECT_EQ(table.ThreadLimit(), 4);  // before the configuration is loaded
    table.SetThreadLimit(0);
    EXPECT_EQ(table.ThreadLimit(), 1);
    table.SetThreadLimit(-1);
    EXPECT_EQ(table.ThreadLimit(), 1);
    table.SetThreadLimit(3);
    EXPECT_EQ(table.ThreadLimit(), 3);
}

TEST(JobTable, LaunchCopiesParametersAndRefusesAnActiveKey)
{
    GatedWorker worker;
    JobTable table([&](PdfJob& job) { return worker(job); });
    JobParams params;
    params.dpi = 120;
    params.zoomin_quality = 33;
    params.city_id = 7;
    params.export_flag = 1;
    int slot = table.LaunchJob(Key(1), params, nullptr, 21000);
    ASSERT_EQ(slot, 0);
    ASSERT_TRUE(worker.WaitStarted(1));
    const PdfJob& job = table.Slot(slot);
    EXPECT_EQ(job.dpi, 120);
    EXPECT_EQ(job.zoomin_quality, 33);
    EXPECT_EQ(job.city_id, 7);
    EXPECT_EQ(job.export_flag, 1);
    EXPECT_EQ(job.result_code.load(), 0);
    EXPECT_EQ(table.RunningCount(), 1);
    // The same key while the job is active is refused.
    EXPECT_EQ(table.LaunchJob(Key(1), params, nullptr, 0), -1);
    worker.Release(Key(1));
    ASSERT_TRUE(WaitFree(job));
    // The ended job keeps its key and slot and is launched there again.
    EXPECT_EQ(table.FindSlotByKey(Key(1)), 0);
    EXPECT_EQ(table.FindSlotByKey(Key(1).substr(0, 31)), -1);
    table.RecountRunning();
    EXPECT_EQ(table.LaunchJob(Key(1), params, nullptr, 0), 0);
    EXPECT_EQ(table.LaunchJob(Key(2), params, nullptr, 0), 1);
    worker.Release(Key(1));
    worker.Release(Key(2));
}

TEST(JobTable, JobsBeyondTheLimitWaitAndStartInSubmissionOrder)
{
    GatedWorker worker;
    JobTable table([&](PdfJob& job) { return worker(job); });
    table.SetThreadLimit(1);
    int a = table.LaunchJob(Key(10), {}, nullptr, 0);
    int b = table.LaunchJob(Key(11), {}, nullptr, 0);
    int c = table.LaunchJob(Key(12), {}, nullptr, 0);
    int d = table.LaunchJob(Key(13), {}, nullptr, 0);
    ASSERT_TRUE(worker.WaitStarted(1));
    EXPECT_EQ(table.Slot(a).state.load(), JOB_STATE_RUNNING);
    EXPECT_EQ(table.Slot(b).state.load(), JOB_STATE_PENDING);
    EXPECT_FALSE(table.Slot(b).has_thread);
    EXPECT_EQ(table.PendingList(), (std::deque<int>{b, c, d}));

    // A stopped pending job is dropped and never runs.
    EXPECT_TRUE(table.RequestStop(c));
    EXPECT_EQ(table.Slot(c).state.load(), JOB_STATE_FREE);

    // Nothing decrements the running count when a worker ends: only the recount frees
    // the thread for the next waiting job.
    worker.Release(Key(10));
    ASSERT_TRUE(WaitFree(table.Slot(a)));
    table.StartPendingJobs();
    EXPECT_EQ(table.Slot(b).state.load(), JOB_STATE_PENDING);
    table.RecountRunning();
    table.StartPendingJobs();
    EXPECT_EQ(table.Slot(b).state.load(), JOB_STATE_RUNNING);
    EXPECT_EQ(table.PendingList(), (std::deque<int>{d}));  // the stopped entry was dropped
    ASSERT_TRUE(worker.WaitStarted(2));

    worker.Release(Key(11));
    ASSERT_TRUE(WaitFree(table.Slot(b)));
    table.RecountRunning();
    table.StartPendingJobs();
    EXPECT_TRUE(table.PendingList().empty());
    ASSERT_TRUE(worker.WaitStarted(3));
    worker.Release(Key(13));
    ASSERT_TRUE(WaitFree(table.Slot(d)));
    EXPECT_EQ(worker.Started(), (std::vector<std::string>{Key(10), Key(11), Key(13)}));
}

TEST(JobTable, StopRequestsByState)
{
    GatedWorker worker;
    JobTable table([&](PdfJob& job) { return worker(job); });
    EXPECT_FALSE(table.RequestStop(-1));
    EXPECT_TRUE(table.RequestStop(5));  // a free slot is left alone
    EXPECT_EQ(table.Slot(5).state.load(), JOB_STATE_FREE);

    int slot = table.LaunchJob(Key(20), {}, nullptr, 0);
    ASSERT_TRUE(worker.WaitStarted(1));
    table.Slot(slot).state = JOB_STATE_UPLOADING;
    EXPECT_TRUE(table.RequestStop(slot));
    EXPECT_EQ(table.Slot(slot).state.load(), JOB_STATE_STOPPING);
    worker.WakeAll();
    EXPECT_TRUE(WaitFree(table.Slot(slot)));
}

TEST(JobTable, FullTableRefusesAndEndedSlotsAreReused)
{
    GatedWorker worker;
    JobTable table([&](PdfJob& job) { return worker(job); });
    table.SetThreadLimit(1);
    for (int i = 0; i < JobTable::kSlotCount; ++i)
        ASSERT_EQ(table.LaunchJob(Key(100 + i), {}, nullptr, 0), i);
    EXPECT_EQ(table.LaunchJob(Key(999), {}, nullptr, 0), -1);

    // The running job ends: its slot counts as free again and takes the next new job.
    ASSERT_TRUE(worker.WaitStarted(1));
    worker.Release(Key(100));
    ASSERT_TRUE(WaitFree(table.Slot(0)));
    EXPECT_EQ(table.LaunchJob(Key(999), {}, nullptr, 0), 0);
    EXPECT_EQ(table.FindSlotByKey(Key(100)), -1);

    // A stopped pending job's slot is reused too.
    ASSERT_TRUE(table.RequestStop(300));
    EXPECT_EQ(table.LaunchJob(Key(1000), {}, nullptr, 0), 300);
    for (int i = 0; i < JobTable::kSlotCount; ++i)
        table.RequestStop(i);
}
