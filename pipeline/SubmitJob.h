// Registering and relaunching jobs: the two operations through which a front end (the
// desktop program or the batch command) puts work into the job table.
#pragma once

#include <cstdint>
#include <string>

class AppConfig;
class CPdfItemList;
class JobObserver;
class JobTable;
struct PdfItem;

// What the user entered for one PDF (texts in UTF-8; page values as the engine's info
// query reported them) and the web-service classification.
struct SubmitRequest {
    std::string pdf_path;
    std::string title;
    std::string tags;
    std::string description;
    int32_t pagenum = 0;
    int32_t pagewidth = 0;
    int32_t pageheight = 0;
    int32_t cat_id = 0, subcat_id = 0, country_id = 0, state_id = 0, city_id = 0;
};

// Copies the web-service classification (category .. city) of the current settings.
void TakeClassificationFrom(const AppConfig& cfg, SubmitRequest& request);

// Where a new job's book goes: the publishing switches with the FTP profile and the
// web-service account, and a pending export request.
struct JobTargets {
    int32_t use_ftp = 0;
    int32_t use_vazirudu = 0;
    std::string ftp_url;
    std::string ftp_webaddr;
    std::string vazirudu_user;
    bool export_requested = false;
    std::string export_folder;
};

// The targets as the current settings choose them (no export requested).
JobTargets TargetsFromSettings(const AppConfig& cfg);

// Creates a job: a new key, a row appended to `list` (when given), the job section in
// meta.ini and meta_w.ini, and a launch into the table at progress 0. With `remember`
// the choices are stored in config.ini as the desktop program does (and a pending export
// request is cleared); the batch command leaves the user's settings alone. Returns the
// slot index, or -1 (missing PDF file, a PDF or export path that UnstorablePathReason
// refuses, no key, table full).
int SubmitJob(AppConfig& cfg, JobTable& table, const SubmitRequest& request, JobTargets& targets,
              bool remember, CPdfItemList* list, std::string* key_out, JobObserver* notify);

// Relaunches the selected rows of `list` from their job sections: initial progress 0
// restarts, -1 resumes each job from its row's progress. -1 when the list has no
// selection mark, -2 when restarting a finished web-service job was refused (rows after
// it are not launched), else 0.
int RelaunchSelected(AppConfig& cfg, JobTable& table, CPdfItemList& list, int32_t initial_progress,
                     JobObserver* notify);
// Relaunches the job of one row the same way (a restart waiting for its job to stop
// relaunches it by key once the job has let go of its slot). -2 as above, -1 when the
// key is malformed or its section unreadable, else 0.
int RelaunchItem(AppConfig& cfg, JobTable& table, const PdfItem& item, int32_t initial_progress,
                 JobObserver* notify);
