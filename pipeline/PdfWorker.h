// The worker of one conversion job: its steps from the cover to the publication, run on
// the job's own thread. Private to the pipeline.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/AppConfig.h"
#include "pipeline/EngineCommand.h"
#include "pipeline/EngineRun.h"
#include "pipeline/JobSection.h"
#include "pipeline/PdfJob.h"

class Uploader;

namespace pipeline_detail {

namespace fs = std::filesystem;

class PdfWorker {
public:
    PdfWorker(PdfJob& job, const AppConfig& cfg)
        : job_(job), cfg_(cfg), key_(job.key), meta_(cfg.m_meta_ini.Path()), meta_w_(cfg.m_meta_w_ini.Path())
    {
    }
    int Run();

private:
    struct ImageStep {
        int run_index;
        int32_t start, end;
        const char* folder;
        int32_t box_width, box_height;
    };

    int EndEarly();
    // The publishing steps (login, metadata, upload plan) and then the finish.
    int PublishAndFinish();
    // Publishes through one target's uploader; false when the job ended early.
    bool RunUploadPlan(Uploader& uploader, int& ended);
    // Finishes the job once it has reached the targets it still has. An update replaces
    // the local book first, and only when it reached every target it was given; else it
    // ends early, resumable, and the local book stays the old edition.
    int CompletePublished();
    // Ends early with the conversion-failed result and a note saying why.
    int Fail(const std::string& why);
    int Finish();
    // Tells the log (and the status report, also when its switch is off) and the job's
    // observer about notes for the user; each text once per job.
    void Note(const std::vector<std::string>& texts);
    // Reports the run's warnings (each text once per job); true when the run exited
    // cleanly, else logs the command and the engine's messages and sets `why`.
    bool RunSucceeded(const EngineRun& run, const EngineCommand& command, std::string& why);
    bool StopRequested() const { return job_.state.load() == JOB_STATE_STOPPING; }
    void SetBack(int32_t start)
    {
        if (job_.progress.load() > start)
            job_.progress.store(start);
    }
    // Ends a step: the progress and the stored resume point become the step's end, so
    // that a process killed later still resumes after this step.
    void Reach(int32_t end)
    {
        job_.progress.store(end);
        WriteJobProgress(meta_, key_, end);
    }
    std::string Folder(const char* name) const { return book_folder_ + "/" + name; }
    bool ReadPublishingAccount();
    // The FTP profile named by the job: false (nothing set) when its account is empty.
    bool SetFtpTargetFromProfile(Uploader& uploader);
    // Each step: true when done, else false with `why` empty for a stop request or
    // saying what failed.
    bool CoverStep(std::string& why);
    // Page 1 as the link-preview picture into `thumb`; a failure is only noted. False
    // when the job was stopped meanwhile.
    bool ShareImageStep(const std::string& thumb);
    // The PDF is published beside the book for download (the publisher's choice, and a
    // publishing target to hold it).
    bool OffersPdf() const;
    // The book's page prints from a print set of its own rather than from its images.
    bool NeedsPrintSet() const;
    bool PageStep(std::string& why);
    bool SearchStep(std::string& why);
    bool ImageRun(int run_index, const EngineCommand& command, const std::string& folder, int32_t end,
                  int32_t weight, std::string& why);
    // True when every page's image files of the run are in `folder` and were written
    // since `since`.
    bool AllPagesWritten(int run_index, const std::string& folder, fs::file_time_type since) const;

    PdfJob& job_;
    const AppConfig& cfg_;
    std::string key_;
    IniFile meta_;    // this worker's own objects for the shared job files
    IniFile meta_w_;
    std::string book_folder_;
    bool updating_ = false;  // an update of a finished book: book_folder_ is the update's
    int32_t use_ftp_ = 0, use_vazirudu_ = 0, export_ = 0, dpi_ = 0;
    // The service took a staged update of the book: the upload plan commits it at its end.
    bool web_staged_ = false;
    std::string service_user_, service_password_;
    std::string pdf_path_, title_, tags_, description_;
    int32_t pagenum_ = 0, page_width_ = 0, page_height_ = 0;
    EngineRun runs_[ENGINE_RUN_COUNT];
    std::vector<std::string> noted_;  // warnings told already
};

}  // namespace pipeline_detail
