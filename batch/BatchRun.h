// One run of the batch command: submits or resumes jobs through the same job table and
// job submission as the desktop program, polls the slots until every job has ended, and
// reports each book.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "batch/BatchOptions.h"
#include "batch/ProgressView.h"
#include "pipeline/JobTable.h"
#include "pipeline/PdfItemList.h"
#include "pipeline/PdfJob.h"

class AppConfig;

class BatchRun : public JobObserver {
public:
    BatchRun(AppConfig& cfg, const BatchOptions& options);
    ~BatchRun() override;

    // Runs every job to its end; the process exit status (0 only when all finished).
    int Run();

    // Called on a worker thread when a job ends early.
    void OnJobIncomplete(PdfJob* slot) override;

    // Set from a signal handler: stop every job (they stay resumable).
    static std::atomic<bool> interrupted;

private:
    struct Job {
        std::string key;
        std::string pdf;
        std::string export_dir;     // where this job's book is exported, or empty
        int32_t start_progress = 0;
        bool stop_requested = false;
        bool ended_early = false;
    };

    bool Submit(const std::string& pdf, const std::string& export_dir);
    bool Resume();
    void Poll();
    void TakeIncomplete();
    int Report();

    AppConfig& cfg_;
    const BatchOptions& options_;
    JobTable table_;
    CPdfItemList queue_{false};
    ProgressView view_;
    std::vector<Job> jobs_;
    int failures_ = 0;

    std::mutex incomplete_lock_;
    std::vector<std::string> incomplete_;  // keys of jobs reported ended early
};
