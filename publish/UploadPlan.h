// The upload plan of one finished book: which files of the book folder go where, in
// which order, and how far the job's progress value says the upload has come, so that
// a stopped or failed publication resumes at the page where it ended.
#pragma once

#include "publish/PublishDelta.h"
#include "publish/Uploader.h"

#include <atomic>
#include <cstdint>
#include <string>

// Plan results.
inline constexpr int32_t kPlanPublished = 0;
inline constexpr int32_t kPlanFailed = 1;
inline constexpr int32_t kPlanStopped = -1;

// Progress marks of the publishing stages (thousandths of a percent).
inline constexpr int32_t kMarkFoldersStart = 60000;
inline constexpr int32_t kMarkFoldersDone = 62000;
inline constexpr int32_t kMarkPdfDone = 63000;
inline constexpr int32_t kMarkStaticDone = 87000;

// One image folder of the book and its share of the progress range.
struct FolderStage {
    const char* folder;
    int32_t start_mark;
    int32_t span;
    int32_t end_mark() const { return start_mark + span; }
};
inline constexpr FolderStage kFolderStages[] = {
    {"100", 63000, 2000},    {"HighRes", 65000, 5000}, {"MedRes", 70000, 5000},
    {"LowRes", 75000, 5000}, {"print", 80000, 2000},   {"thumb", 82000, 3000},
    {"tiles", 85000, 1000},
};

// Sends one file to the web service and then by FTP, as the uploader has them on.
bool upload_one_file(Uploader& uploader, const std::string& local_path, const std::string& job_key,
                     const std::string& subdir);

// The functions below skip each file that `delta` says the target holds unchanged.

// Sends the source PDF into the book folder. 0 sent, 1 failed.
int32_t upload_pdf_file(Uploader& uploader, const std::string& pdf_path, const std::string& job_key,
                        const PublishDelta* delta = nullptr);

// Sends one image folder's pages from the page the progress value points at.
// 0 sent, 1 failed, -1 stopped.
int32_t handle_subdir(Uploader& uploader, const std::string& book_folder, const std::string& job_key,
                      const std::string& subdir, int32_t page_count, int32_t start_mark,
                      std::atomic<int32_t>* progress, int32_t span, const PublishDelta* delta = nullptr);

// Sends the book's page (FTP only) and its search files. 0 sent, 1 failed.
int32_t upload_static_html(Uploader& uploader, const std::string& book_folder, const std::string& job_key,
                           const PublishDelta* delta = nullptr);

// Publishes the book folder through `uploader`, skipping every stage its progress value
// has passed. On FTP it compares the book with the manifest the target holds of it: files
// held unchanged are not sent, files that an earlier publication put there and the book
// no longer has are removed, and the new manifest is stored last. On the service, files
// its manifest of the book lists unchanged are not sent; with `commit_stage` (the
// uploader began a staged update with BeginUpdateHttp) the plan ends by committing it, so
// that readers get the whole new book at once. `upload_pdf` > 0 sends the PDF too. The uploader's job state reads
// "uploading" while the plan runs, and a stop request there ends the plan between files.
// 0 published, 1 failed, -1 stopped.
int32_t UploadBook(Uploader& uploader, const std::string& pdf_path, const std::string& book_folder,
                   int32_t page_count, int32_t upload_pdf, bool commit_stage = false);
