// One conversion job's slot in the job table: the values that the user-interface thread
// and the job's worker thread share. Progress, state and result code are single 32-bit
// atomics, read and written whole without a lock; every other field is filled before the
// worker starts and only read afterwards.
#pragma once

#include <atomic>
#include <cstdint>

// Slot states.
enum : int32_t {
    JOB_STATE_FREE = 0,       // no running or waiting job (also every ended job)
    JOB_STATE_RUNNING = 1,    // a worker runs the job
    JOB_STATE_PENDING = 2,    // waiting in the pending list for a free worker
    JOB_STATE_STOPPING = 3,   // a stop was requested; worker, engine runner and upload poll it
    JOB_STATE_UPLOADING = 4,  // the worker runs the upload plan
};

// Job progress in thousandths of a percent; the step ends double as resume points.
inline constexpr int32_t kProgressCoverDone = 3000;
inline constexpr int32_t kProgressPageDone = 5000;
inline constexpr int32_t kProgressSearchDone = 6000;
inline constexpr int32_t kProgressThumbsDone = 10000;
inline constexpr int32_t kProgressZoomDone = 18000;
inline constexpr int32_t kProgressHighDone = 26000;
inline constexpr int32_t kProgressMediumDone = 34000;
inline constexpr int32_t kProgressLowDone = 42000;
inline constexpr int32_t kProgressPrintDone = 50000;
inline constexpr int32_t kProgressLoginDone = 51000;
inline constexpr int32_t kProgressMetadataDone = 55000;
inline constexpr int32_t kProgressUploadStart = 60000;
inline constexpr int32_t kProgressFinished = 100000;

// The message number with which a worker reports an unfinished end.
inline constexpr int32_t WM_JOB_INCOMPLETE = 2025;

// The worker's exit code for a job that ended early.
inline constexpr int kExitEndedEarly = 102;

struct PdfJob;

// Receives the unfinished end of a job. Called on the worker's thread: an implementation
// hands the slot on to its own thread (a queued call in the UI, a locked queue in the
// batch command). Finished jobs are noticed by polling and never reported here.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    virtual void OnJobIncomplete(PdfJob* slot) = 0;
};

// The launch parameters of a job (everything LaunchJob copies into its slot besides
// the key, the receiver and the initial progress).
struct JobParams {
    int32_t use_ftp = 0;
    int32_t use_vazirudu = 0;
    int32_t preview_quality = 0;
    int32_t preview_smooth = 0;
    int32_t zoomin_quality = 0;
    int32_t zoomin_smooth = 0;
    int32_t dpi = 0;
    int32_t cat_id = 0;
    int32_t subcat_id = 0;
    int32_t country_id = 0;
    int32_t state_id = 0;
    int32_t city_id = 0;
    int32_t export_flag = 0;
};

// One slot of the job table: the launch parameters plus what worker and UI share.
struct PdfJob : JobParams {
    std::atomic<int32_t> progress{0};
    std::atomic<int32_t> state{JOB_STATE_FREE};
    std::atomic<int32_t> result_code{0};

    bool has_thread = false;           // a worker thread was started for this run
    JobObserver* notify = nullptr;     // receiver of WM_JOB_INCOMPLETE; null = nobody
    char key[36] = {};                 // the job key, NUL-terminated
};


