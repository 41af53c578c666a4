// One run of the batch command: checks every export destination, submits the PDFs
// through the same job table and job submission as the desktop program (more PDFs than
// there are job slots wait in the batch's own queue), resumes jobs, follows them to
// their end, and reports each job's real outcome.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "batch/BatchOptions.h"
#include "batch/FarmList.h"
#include "batch/ResultLog.h"
#include "batch/ProgressView.h"
#include "pipeline/JobTable.h"
#include "pipeline/PdfItemList.h"
#include "pipeline/PdfJob.h"

class AppConfig;
struct EngineDocInfo;

class BatchRun : public JobObserver {
public:
    // `task_folder`: a farm task's folder (its results go there), or empty.
    BatchRun(AppConfig& cfg, const BatchOptions& options, const Slice& slice = {},
             const std::string& task_folder = {});
    ~BatchRun() override;

    // Runs every job to its end; the process exit status (0 only when all finished).
    int Run();

    // Called on worker threads, while the slot still belongs to the job.
    void OnJobIncomplete(PdfJob* slot) override;
    void OnJobFinished(PdfJob* slot, int exit_code) override;
    void OnJobNote(PdfJob* slot, const std::string& text) override;

    // Set from a signal handler: stop every job (they stay resumable).
    static std::atomic<bool> interrupted;

private:
    // A PDF of the command line, before it is submitted.
    struct Planned {
        std::string pdf_arg;     // as given
        std::string pdf;         // absolute
        std::string export_dir;  // where its book is exported, or empty
        bool farm_item = false;  // from the list: its result is recorded
        std::string sha256;
    };
    // What a farm item's result line says beyond its outcome.
    struct Record {
        bool farm_item = false;
        bool written = false;
        std::string sha256;
        int pages = 0;
        std::chrono::steady_clock::time_point taken;
    };
    // What the workers reported about one job.
    struct Outcome {
        bool ended = false;
        bool finished = false;
        int exit_code = 0;       // of a finished job: 0, or the export's failure
        int32_t result_code = 0; // of a job that ended early
        std::vector<std::string> notes;
    };
    struct Job {
        std::string key;
        std::string pdf;
        std::string export_dir;
        int32_t start_progress = 0;
        bool stop_requested = false;
        Outcome outcome;  // copied from the reports as they arrive
        Record record;
    };

    // Adds the slice of the list to the PDFs; false when the list cannot be read.
    bool PlanList(std::vector<std::string>& resume_keys);
    bool Plan(std::vector<Planned>& plan);
    void SubmitWaiting();
    bool Submit(const Planned& planned);
    bool StartJob(const Planned& planned, const EngineDocInfo& info, std::chrono::steady_clock::time_point taken);
    // Why `planned` cannot be submitted, or empty; fills `info`.
    std::string SubmitRefusal(const Planned& planned, EngineDocInfo& info);
    // Why a job that ended did not succeed, or empty.
    std::string FailureOf(const Job& job) const;
    void RecordEnded(Job& job);
    void RecordResult(ItemResult result);
    // Resumes the unfinished jobs `keys` (every unfinished job when empty).
    bool Resume(const std::vector<std::string>& keys);
    // Readies the finished books that are to be published or updated now; the keys of
    // those ready are added to `keys`.
    void PrepareFinishedBooks(std::vector<std::string>& keys);
    void Poll();
    void TakeOutcomes();
    int32_t StoredProgress(const std::string& key) const;
    int Report();

    AppConfig& cfg_;
    const BatchOptions& options_;
    JobTable table_;
    CPdfItemList queue_{false};
    ProgressView view_;
    std::deque<Planned> waiting_;
    std::vector<Job> jobs_;
    int failures_ = 0;
    Slice slice_;
    std::string results_file_;  // a farm task's results, or empty
    std::vector<Planned> listed_;  // the list's items this run converts
    std::map<std::string, Planned> resumed_items_;  // list items resumed, by job key

    std::mutex outcomes_lock_;
    std::map<std::string, Outcome> outcomes_;  // by job key, filled by the workers
};
