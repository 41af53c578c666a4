#include "pipeline/ProcessPdfThread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "pagegen/FirstSpreadHint.h"
#include "pagegen/HtmlBuilder.h"
#include "pagegen/ShareTags.h"
#include "pipeline/BookAddress.h"
#include "pipeline/BookUpdate.h"
#include "pipeline/CreateSearchDB.h"
#include "pipeline/EngineCommand.h"
#include "pipeline/EngineRun.h"
#include "pipeline/ExportBook.h"
#include "pipeline/ExportTarget.h"
#include "pipeline/JobSection.h"
#include "pipeline/PdfWorker.h"
#include "publish/PublishDelta.h"

namespace fs = std::filesystem;

namespace {

const char kModule[] = "ProcessPdfThread";

bool FileExists(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

void MakeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        DIAG(kModule, errno, "ERR:cannot create folder %s", path.c_str());
}

}  // namespace

namespace pipeline_detail {

bool PdfWorker::OffersPdf() const
{
    return cfg_.m_upload_pdf > 0 && (use_ftp_ || use_vazirudu_);
}

bool PdfWorker::NeedsPrintSet() const
{
    // The page names the image set it prints from in data-print-set; a page without one
    // prints from the print folder.
    std::ifstream in(JoinPath(book_folder_, "index.html"), std::ios::binary);
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = page.find("data-print-set=\"");
    return !in.bad() && (at == std::string::npos || page.compare(at + 16, 1, "\"") == 0);
}

int PdfWorker::Run()
{
    // The job's own values.
    use_ftp_ = job_.use_ftp;
    use_vazirudu_ = job_.use_vazirudu;
    export_ = job_.export_flag;
    dpi_ = job_.dpi;
    job_.result_code.store(0);

    // The key names a folder under the books folder: anything but a well-formed key
    // could reach outside it.
    if (!IsJobKey(key_)) {
        DIAG(kModule, 0, "ERR:invalid job key %s", key_.c_str());
        return EndEarly();
    }
    // Where an earlier run of the job had come to.
    const int32_t started_at = job_.progress.load();
    // An update is converted and published beside the book, which it replaces only once
    // it has reached every target.
    updating_ = meta_.ReadInt(key_, kUpdatePendingKey) == 1;
    book_folder_ = updating_ ? UpdateSourceFolder(cfg_.m_books_folder, key_, started_at)
                             : JoinPath(cfg_.m_books_folder, key_);

    // The publishing accounts.
    if (!ReadPublishingAccount())
        return EndEarly();

    // The job section.
    const IniFile& meta = meta_;
    pdf_path_ = meta.ReadText(key_, "pdf_url", kJobPathBytes);
    tags_ = meta_w_.ReadWide(key_, "tags");
    title_ = meta_w_.ReadWide(key_, "title");
    description_ = meta_w_.ReadWide(key_, "description");
    pagenum_ = meta.ReadInt(key_, "pagenum");
    page_width_ = meta.ReadInt(key_, "pagewidth");
    page_height_ = meta.ReadInt(key_, "pageheight");
    // Every resolution divides by the page size: a section without a usable size or
    // resolution cannot be converted.
    if (page_width_ < 1 || page_height_ < 1 || pagenum_ < 1 || dpi_ < 1) {
        DIAG(kModule, 0, "ERR:invalid page size %dx%d, %d pages, dpi %d in job %s", page_width_,
             page_height_, pagenum_, dpi_, key_.c_str());
        return EndEarly();
    }
    // A conversion step that finds no PDF would fail for reasons the user cannot guess.
    if (!FileExists(pdf_path_))
        return Fail("the PDF " + pdf_path_ + " is missing");
    MakeFolder(book_folder_);

    std::string why;
    // Cover.
    if (job_.progress.load() < kProgressCoverDone) {
        if (!CoverStep(why))
            return why.empty() ? EndEarly() : Fail(why);
        Reach(kProgressCoverDone);
    }

    // Book page.
    if (job_.progress.load() < kProgressPageDone) {
        if (!PageStep(why))
            return Fail(why);
        Reach(kProgressPageDone);
    }

    // Search text.
    if (job_.progress.load() < kProgressSearchDone) {
        if (!SearchStep(why))
            return Fail(why);
        Reach(kProgressSearchDone);
    }

    // Thumbnails.
    if (job_.progress.load() < kProgressThumbsDone) {
        SetBack(kProgressSearchDone);
        MakeFolder(Folder("thumb"));  // gone when the book folder was removed since the cover
        int32_t res = 60 * dpi_ / page_width_;
        if (!ImageRun(ENGINE_RUN_THUMBS, ThumbsCommand(res, Folder("thumb"), pdf_path_), Folder("thumb"),
                      kProgressThumbsDone, 4000, why))
            return why.empty() ? EndEarly() : Fail(why);
    }

    // Zoom, high, medium and low images.
    const ImageStep steps[] = {
        {ENGINE_RUN_ZOOM, kProgressThumbsDone, kProgressZoomDone, "100", 0, 0},
        {ENGINE_RUN_HIGH, kProgressZoomDone, kProgressHighDone, "HighRes", cfg_.m_high_res_width, cfg_.m_high_res_height},
        {ENGINE_RUN_MEDIUM, kProgressHighDone, kProgressMediumDone, "MedRes", cfg_.m_med_res_width, cfg_.m_med_res_height},
        {ENGINE_RUN_LOW, kProgressMediumDone, kProgressLowDone, "LowRes", cfg_.m_low_res_width, cfg_.m_low_res_height},
    };
    for (const ImageStep& step : steps) {
        if (job_.progress.load() >= step.end)
            continue;
        SetBack(step.start);
        if (StopRequested())
            return EndEarly();
        MakeFolder(Folder(step.folder));
        bool zoom = step.run_index == ENGINE_RUN_ZOOM;
        int32_t res = zoom ? dpi_
                           : BoxResolution(step.box_width, step.box_height, dpi_, page_width_, page_height_);
        int32_t quality = zoom ? job_.zoomin_quality : job_.preview_quality;
        int32_t smooth = zoom ? job_.zoomin_smooth : job_.preview_smooth;
        // The zoom run also cuts the sharp zoom's tiles; a folder left by an earlier run
        // goes first, so that the folder holds exactly the tiles its index names.
        if (zoom) {
            std::error_code ignored;
            fs::remove_all(Folder("tiles"), ignored);
        }
        const EngineCommand command =
            zoom ? ZoomImagesCommand(res, TileResolution(dpi_, page_width_), quality, smooth, Folder(step.folder), Folder("tiles"),
                                     pdf_path_)
                 : PageImagesCommand(res, quality, smooth, Folder(step.folder), pdf_path_);
        if (!ImageRun(step.run_index, command, Folder(step.folder), step.end, 8000, why))
            return why.empty() ? EndEarly() : Fail(why);
    }

    // Print images, only for a page that prints from a set of its own (one made from an
    // older template); the shipped page prints from the high-resolution set.
    if (job_.progress.load() < kProgressPrintDone && !NeedsPrintSet()) {
        std::error_code ignored;
        fs::remove_all(Folder("print"), ignored);  // left by an earlier run of the job
        Reach(kProgressPrintDone);
    }
    if (job_.progress.load() < kProgressPrintDone) {
        SetBack(kProgressLowDone);
        if (StopRequested())
            return EndEarly();
        MakeFolder(Folder("print"));
        if (!ImageRun(ENGINE_RUN_PRINT, PrintCommand(Folder("print"), pdf_path_), Folder("print"),
                      kProgressPrintDone, 8000, why))
            return why.empty() ? EndEarly() : Fail(why);
    }

    // A page made by an earlier run may name no address or another one: a book kept on
    // this computer and published later, or published again elsewhere. It is made again
    // for this run's targets before the files are hashed and sent, so that it names where
    // it is read. An upload already under way keeps the page it began with.
    if (started_at >= kProgressPageDone && started_at < kProgressLoginDone && !updating_ && (use_ftp_ || use_vazirudu_)) {
        if (!PageStep(why))
            return Fail(why);
    }

    // The published files are hashed now, once, so that every publication of the book
    // compares with its target without reading the whole book again.
    if (!RememberPublishedHashes(key_, book_folder_, pagenum_))
        DIAG(kModule, 0, "INF:the file hashes of %s were not kept", key_.c_str());
    return PublishAndFinish();
}

bool PdfWorker::ReadPublishingAccount()
{
    // The FTP profile and its account are read by the login step. The web-service account
    // is checked before any conversion work.
    const IniFile& meta = meta_;
    if (use_vazirudu_) {
        std::string user = meta.ReadText(key_, "vazirudu_user", 64);
        if (user.empty()) {
            DIAG(kModule, 0, "ERR:vazirudu_user empty");
            return false;
        }
        std::string section = TrimJobText(user) + "#" + TrimJobText(cfg_.m_vazirudu_domain);
        // A copy of the keyed cipher: workers share nothing of the configuration's.
        Rijndael cipher = cfg_.m_cipher;
        std::string password = cfg_.m_http_user_ini.ReadEnciphered(section, "http_passwd", cipher);
        if (password.empty()) {
            DIAG(kModule, 0, "ERR:vazirudu_passwd empty");
            return false;
        }
        service_user_ = TrimJobText(user);
        service_password_ = password;
    }
    return true;
}

bool PdfWorker::CoverStep(std::string& why)
{
    std::string thumb = Folder("thumb");
    MakeFolder(thumb);
    int32_t res = 128 * dpi_ / page_width_;
    EngineRun& run = runs_[ENGINE_RUN_COVER];
    const EngineCommand command = CoverCommand(res, thumb, pdf_path_);
    if (!run.Start(cfg_.m_engine_path, command)) {
        why = "the conversion engine " + cfg_.m_engine_path + " cannot be started";
        return false;
    }
    if (!run.Follow(job_, ENGINE_RUN_COVER, 0))
        return false;
    if (!RunSucceeded(run, command, why))
        return false;
    if (!FileExists(JoinPath(thumb, "img-1-e-cover.jpg"))) {
        why = "the engine wrote no cover image";
        return false;
    }
    return ShareImageStep(thumb);
}

bool PdfWorker::ShareImageStep(const std::string& thumb)
{
    // Link previews show page 1 as large as 1200 x 630 allows. Without it the page names
    // the cover instead, so a failure costs the preview's size, not the book.
    const int32_t centi_dpi = FitResolution(1200, 630, dpi_, page_width_, page_height_);
    EngineRun run;  // a run starts once: the cover's is spent
    const EngineCommand command = ShareImageCommand(centi_dpi, thumb, pdf_path_);
    std::string why;
    if (centi_dpi >= 1 && run.Start(cfg_.m_engine_path, command) && !run.Follow(job_, ENGINE_RUN_COVER, 0))
        return false;  // stopped
    if (centi_dpi < 1 || !RunSucceeded(run, command, why) || !FileExists(JoinPath(thumb, "img-1-e-share.jpg")))
        DIAG(kModule, 0, "INF:no link-preview picture of page 1 (%s): the cover serves", why.c_str());
    return true;
}

bool PdfWorker::SearchStep(std::string& why)
{
    CreateSearchDB(pdf_path_, book_folder_, dpi_, cfg_.m_engine_path, title_, pagenum_, description_);
    for (const char* name : {"text.html", "txt.js"}) {
        if (!FileExists(JoinPath(book_folder_, name))) {
            why = std::string("the engine wrote no search text (") + name + ")";
            return false;
        }
    }
    return true;
}

bool PdfWorker::PageStep(std::string& why)
{
    BookPageSettings settings;
    settings.page_width = page_width_;
    settings.page_height = page_height_;
    settings.job_key = key_;
    settings.page_count = pagenum_;
    settings.title = title_;
    settings.keywords = tags_;
    settings.description = description_;
    settings.book_address = PublishedPageAddress(use_ftp_ != 0, meta_.ReadText(key_, "ftp_webaddr", 512),
                                                 use_vazirudu_ != 0, cfg_.m_vazirudu_webaddr, key_);
    pagegen::ReadShareImageSize(book_folder_, settings);
    // The zoom run, which comes after this step, cuts the zoom layer's text into tiles.
    settings.zoom_text_in_tiles =
        job_.progress.load() < kProgressZoomDone || pagegen::ZoomTextInTiles(book_folder_);
    if (OffersPdf())
        settings.offered_pdf = PublishedPdfName(pdf_path_);
    settings.skin_subdir = cfg_.m_skin_subdir;
    settings.skin_cssfile = cfg_.m_skin_cssfile;
    settings.skin_usemail = cfg_.m_skin_usemail;
    settings.skin_usenote = cfg_.m_skin_usenote;
    settings.skin_useownlogo = cfg_.m_skin_useownlogo;
    settings.skin_logotxt = cfg_.m_skin_logotxt;
    settings.skin_logourl = cfg_.m_skin_logourl;
    settings.lang_filename = cfg_.m_config_ini.ReadRaw("skin", "lang_filename", 64);

    struct Box {
        int32_t width, height;
        int32_t *out_width, *out_height;
    } boxes[] = {
        {cfg_.m_low_res_width, cfg_.m_low_res_height, &settings.low_res_width, &settings.low_res_height},
        {cfg_.m_med_res_width, cfg_.m_med_res_height, &settings.med_res_width, &settings.med_res_height},
        {cfg_.m_high_res_width, cfg_.m_high_res_height, &settings.high_res_width, &settings.high_res_height},
    };
    for (Box& box : boxes) {
        int32_t res = BoxResolution(box.width, box.height, dpi_, page_width_, page_height_);
        EngineRun::QuerySize(res, cfg_.m_engine_path, pdf_path_, *box.out_width, *box.out_height);
    }

    // A book without its page cannot be opened: a missing template or a page that
    // cannot be written fails the job instead of finishing it without a page.
    const std::string& template_path = cfg_.m_template_target;
    if (!FileExists(template_path)) {
        DIAG(kModule, 0, "ERR:template_html_path %s missing", template_path.c_str());
        why = "the page template " + template_path + " is missing";
        return false;
    }
    // Written beside and then put in place, so that a page made again for a finished book
    // never leaves it with half a page.
    const std::string page = JoinPath(book_folder_, "index.html");
    const std::string written = page + ".new";
    HtmlBuilder builder(settings);
    builder.SetPageSize(page_width_, page_height_);
    std::error_code error;
    const bool made = builder.MakePage(template_path, written);
    if (made)
        fs::rename(written, page, error);
    if (!made || error) {
        fs::remove(written, error);
        why = "the book's page cannot be written into " + book_folder_;
        return false;
    }
    return true;
}

bool PdfWorker::ImageRun(int run_index, const EngineCommand& command, const std::string& folder, int32_t end,
                         int32_t weight, std::string& why)
{
    EngineRun& run = runs_[run_index];
    // File times come from a coarser clock (a few milliseconds behind): allow for it.
    fs::file_time_type since = fs::file_time_type::clock::now() - std::chrono::milliseconds(100);
    // A run that cannot start is followed all the same: its first read fails at once
    // and the run is judged failed below.
    run.Start(cfg_.m_engine_path, command);
    if (!run.Follow(job_, run_index, weight))
        return false;
    if (!RunSucceeded(run, command, why))
        return false;
    // Only the first progress line of each read counts, so the progress may fall short
    // of the step's end: the files the run leaves behind decide.
    if (!AllPagesWritten(run_index, folder, since)) {
        DIAG(kModule, 0, "ERR:engine failed when execute %s", command.text.c_str());
        why = "the engine did not write every page's images into " + folder;
        return false;
    }
    Reach(end);
    return true;
}

bool PdfWorker::RunSucceeded(const EngineRun& run, const EngineCommand& command, std::string& why)
{
    constexpr std::string_view kWarning = "rastrix: warning: ";
    std::string failure;
    std::vector<std::string> warnings;
    for (const std::string& line : run.Messages()) {
        if (line.compare(0, kWarning.size(), kWarning) == 0)
            warnings.push_back("warning: " + line.substr(kWarning.size()));
        else if (failure.empty())
            failure = line.substr(line.find(' ') + 1);  // the first error names the page
    }
    Note(warnings);
    if (run.ExitStatus() == 0)
        return true;
    DIAG(kModule, 0, "ERR:engine failed when execute %s", command.text.c_str());
    if (run.ExitStatus() < 0)
        why = "the conversion engine " + cfg_.m_engine_path + " cannot be started";
    else if (failure.empty())
        why = "the conversion engine ended with code " + std::to_string(run.ExitStatus());
    else
        why = "the conversion engine failed: " + failure;
    return false;
}

void PdfWorker::Note(const std::vector<std::string>& texts)
{
    std::string record;
    for (const std::string& text : texts) {
        if (std::find(noted_.begin(), noted_.end(), text) != noted_.end())
            continue;
        noted_.push_back(text);
        DIAG(kModule, 0, "INF:job %s: %s", key_.c_str(), text.c_str());
        record += (record.empty() ? "job " + key_ + ": " : std::string(" | ")) + text;
        if (job_.notify)
            job_.notify->OnJobNote(&job_, text);
    }
    // Notes about the book belong in the status report whether or not the user has
    // switched diagnostic records on. The report keeps one record per second, so the
    // notes of one run share a record.
    DiagLog& log = DiagLog::Instance();
    if (!record.empty() && !log.log_err() && !log.ReportPath().empty())
        log.WriteRecord("errlog", record);
}

bool PdfWorker::AllPagesWritten(int run_index, const std::string& folder, fs::file_time_type since) const
{
    bool page_images = run_index >= ENGINE_RUN_ZOOM && run_index <= ENGINE_RUN_LOW;
    for (int32_t page = 1; page <= pagenum_; ++page) {
        std::string stem = JoinPath(folder, "img-" + std::to_string(page));
        std::vector<std::string> files;
        if (page_images)
            files = {stem + ".jpg", stem + "-f.png"};
        else
            files = {stem + "-e.jpg"};
        for (const std::string& file : files) {
            std::error_code ec;
            fs::file_time_type written = fs::last_write_time(file, ec);
            if (ec || written < since)
                return false;
        }
    }
    return true;
}

int PdfWorker::Finish()
{
    int exit_code = 0;
    if (export_ && !use_ftp_ && !use_vazirudu_) {
        std::string destination = meta_.ReadText(key_, "export_folder", kJobPathBytes);
        exit_code = ExportBook(destination, key_, GuardFor(cfg_, pdf_path_));
        if (exit_code != 0)
            Note({"the export into " + destination + " failed (see the status report)"});
    }
    // The progress is final before the slot is given back, so whoever sees the slot
    // free sees the finished value.
    job_.progress.store(kProgressFinished);
    WriteJobProgress(meta_, key_, kProgressFinished);
    if (job_.notify)
        job_.notify->OnJobFinished(&job_, exit_code);
    job_.state.store(JOB_STATE_FREE);
    return exit_code;
}

int PdfWorker::Fail(const std::string& why)
{
    DIAG(kModule, 0, "ERR:job %s failed: %s", key_.c_str(), why.c_str());
    job_.result_code.store(JOB_RESULT_CONVERSION_FAILED);
    if (job_.notify)
        job_.notify->OnJobNote(&job_, why);
    return EndEarly();
}

int PdfWorker::EndEarly()
{
    if (IsJobKey(key_))
        WriteJobProgress(meta_, key_, job_.progress.load());
    if (updating_)
        Note({"the local book stays the old edition until the update is resumed"});
    job_.stopped.store(StopRequested() ? 1 : 0);
    // The observer hears of the end while the slot is still this job's: once it is free,
    // the controlling thread may hand it to the next job.
    if (job_.notify)
        job_.notify->OnJobIncomplete(&job_);
    job_.state.store(JOB_STATE_FREE);
    return kExitEndedEarly;
}

}  // namespace pipeline_detail

int32_t BoxResolution(int32_t box_width, int32_t box_height, int32_t dpi, int32_t page_width,
                      int32_t page_height)
{
    if (page_width < page_height)
        return box_height * dpi / page_height;
    return box_width * dpi / page_width;
}

int ProcessPdfThread(PdfJob& slot, const AppConfig& cfg)
{
    pipeline_detail::PdfWorker worker(slot, cfg);
    return worker.Run();
}
