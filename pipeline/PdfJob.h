// One conversion job's slot in the job table: the values that the user-interface thread
// and the job's worker thread share. Progress, state and result code are single 32-bit
// atomics, read and written whole without a lock; every other field is filled before the
// worker starts and only read afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Slot states.
enum : int32_t {
    JOB_STATE_FREE = 0,       // no running or waiting job (also every ended job)
    JOB_STATE_RUNNING = 1,    // a worker runs the job
    JOB_STATE_PENDING = 2,    // waiting in the pending list for a free worker
    JOB_STATE_STOPPING = 3,   // a stop was requested; worker, engine runner and upload poll it
    JOB_STATE_UPLOADING = 4,  // the worker runs the upload plan
};

// Result codes: why a job ended early (0 also for a stop and for failures without a
// code of their own). Each has a text in section PROCESS_MSG of the language file.
enum : int32_t {
    JOB_RESULT_OK = 0,
    JOB_RESULT_FTP_LOGIN_FAILED = 1,
    JOB_RESULT_UPLOAD_FAILED = 2,
    JOB_RESULT_UPLOAD_STOPPED = 3,
    JOB_RESULT_TITLE_MODIFIED = 4,
    JOB_RESULT_CONVERSION_FAILED = 5,  // the engine failed or left an expected file unwritten
    JOB_RESULT_COUNT = 6,
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

// Receives the end of a job and the notes about it. Called on the worker's thread: an
// implementation hands what it needs on to its own thread (a queued call in the UI, a
// locked queue in the batch command). The desktop program notices finished jobs by
// polling; a front end that must know each job's outcome after its slot is reused (the
// batch command) takes it from OnJobFinished.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    // The job ended early. Called before the slot is given back (state free), so the
    // slot's key and result code are still this job's.
    virtual void OnJobIncomplete(PdfJob* slot) = 0;
    // The job finished; `exit_code` is the worker's (0, or the export's result when the
    // book was exported). Called before the slot is given back.
    virtual void OnJobFinished(PdfJob* /*slot*/, int /*exit_code*/) {}
    // A note for the user about the job: a page the engine could not fully read, or why
    // the job failed. Called on the worker's thread.
    virtual void OnJobNote(PdfJob* /*slot*/, const std::string& /*text*/) {}
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
    // 1 when the job's last run ended early because a stop was asked for, 0 otherwise
    // (so an early end with it 0 is a failure, whatever the result code).
    std::atomic<int32_t> stopped{0};
    // The progress at which the job asks itself to stop before its next file is sent
    // (vellumark-batch --stop-after-progress); -1: never. Set at launch.
    int32_t stop_at_progress = -1;

    bool has_thread = false;           // a worker thread was started for this run
    JobObserver* notify = nullptr;     // receiver of WM_JOB_INCOMPLETE; null = nobody
    char key[36] = {};                 // the job key, NUL-terminated
};


