// The worker's publishing steps: login to the targets, the book's metadata, and the
// upload plan for each target, then the finish.
#include <array>
#include <sys/stat.h>

#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "pipeline/BookAddress.h"
#include "pipeline/BookUpdate.h"
#include "pipeline/PdfWorker.h"
#include "publish/NetworkSettings.h"
#include "publish/PublishControl.h"
#include "publish/PublishSettings.h"
#include "publish/UploadPlan.h"
#include "publish/Uploader.h"

// Publishing polls and sets the job slot's own state word: the states it knows must
// carry the slot's numbers.
static_assert(PublishControl::kStopping == JOB_STATE_STOPPING);
static_assert(PublishControl::kUploading == JOB_STATE_UPLOADING);

namespace {

const char kModule[] = "ProcessPdfThread";

// The job-section key that keeps the web service's own resume mark when a job publishes
// to both targets: the FTP plan advances the job's progress, the web plan this mark, so
// that each target receives the whole book.
const char kWebMarkKey[] = "progress_vazirudu";
// The job-section key that keeps the id of the service's open update of the book, so
// that a run after a stop or crash continues that update instead of waiting for it.
const char kWebUpdateKey[] = "vazirudu_update";

int64_t FileSize(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::string FinalComponent(const std::string& path)
{
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

namespace pipeline_detail {

bool PdfWorker::SetFtpTargetFromProfile(Uploader& uploader)
{
    std::string profile = meta_.ReadText(key_, "ftp_url", 260);
    if (profile.rfind("ftp://", 0) == 0)
        profile.erase(0, 6);
    // A copy of the keyed cipher: workers share nothing of the configuration's.
    Rijndael cipher = cfg_.m_cipher;
    std::string user = cfg_.m_ftp_ini.ReadEnciphered(profile, "ftp_user", cipher);
    std::string password = cfg_.m_ftp_ini.ReadEnciphered(profile, "ftp_passwd", cipher);
    if (user.size() > 63)
        user.resize(63);
    if (password.size() > 63)
        password.resize(63);
    // Protocol, key file and the server fingerprint the user confirmed (plain FTP when absent).
    const FtpTransport transport = ReadFtpTransport(cfg_.m_ftp_ini, cipher, profile);
    // A private key logs in instead of a password.
    if (profile.empty() || user.empty() || (password.empty() && transport.key_file.empty())) {
        DIAG(kModule, 0, "ERR:ftp profile %s has no account", profile.c_str());
        return false;
    }
    int32_t passive = cfg_.m_ftp_ini.ReadInt(profile, "ftp_passive");
    int32_t port = cfg_.m_ftp_ini.ReadInt(profile, "ftp_port");
    uploader.SetFtpTarget(profile, user, password, passive < 0 ? 1 : passive,
                          port < 1 ? DefaultFtpPort(transport.protocol) : port);
    uploader.SetFtpTransport(transport);
    return true;
}

bool PdfWorker::RunUploadPlan(Uploader& uploader, int& ended)
{
    // Only the service's publication is staged; the FTP one writes the manifest itself.
    const bool commit_stage = uploader.HttpOn() && web_staged_;
    DiagLog::Instance().SetLastServerResponse("");
    int32_t result = UploadBook(uploader, pdf_path_, book_folder_, pagenum_, cfg_.m_upload_pdf, commit_stage);
    if (result == kPlanPublished)
        return true;
    job_.result_code.store(result == kPlanStopped ? JOB_RESULT_UPLOAD_STOPPED : JOB_RESULT_UPLOAD_FAILED);
    // The server's own answer says what to put right (no such folder, no permission, a
    // full disk); the status report keeps the rest.
    const std::string answer = DiagLog::Instance().LastServerResponse();
    if (result != kPlanStopped && job_.notify)
        job_.notify->OnJobNote(&job_, answer.empty() ? "the upload failed (see the status report)"
                                                     : "the upload failed: the server answered: " + answer);
    ended = EndEarly();
    return false;
}

int PdfWorker::PublishAndFinish()
{
    if (!use_ftp_ && !use_vazirudu_)
        return CompletePublished();
    if (StopRequested())
        return EndEarly();
    // From the login on the job is uploading, and its row says so (a stop request that
    // came meanwhile is kept).
    int32_t running = JOB_STATE_RUNNING;
    job_.state.compare_exchange_strong(running, JOB_STATE_UPLOADING);

    PublishSettings settings = PublishSettingsFrom(cfg_);
    const bool both = use_ftp_ && use_vazirudu_;
    // The web service's resume mark: the job's progress, unless FTP advances that one.
    std::atomic<int32_t> web_mark{kProgressUploadStart};
    if (both && job_.progress.load() >= kProgressUploadStart) {
        int32_t stored = meta_.ReadInt(key_, kWebMarkKey);
        web_mark.store(stored >= kProgressUploadStart ? stored : kProgressUploadStart);
    }
    // Both publications stop on the job's stop request; the web one keeps a mark of its
    // own when FTP advances the job's progress.
    const PublishControl ftp_control{&job_.state, &job_.progress};
    const PublishControl web_control{&job_.state, both ? &web_mark : &job_.progress};
    Uploader web(web_control.progress, web_control.state, settings);
    Uploader ftp(ftp_control.progress, ftp_control.state, settings);
    // The stop mark is read against the job's progress, which the web upload has only alone.
    ftp.SetStopMark(job_.stop_at_progress);
    if (!both) web.SetStopMark(job_.stop_at_progress);
    const std::string& host = cfg_.m_vazirudu_domain;

    // Login.
    if (use_vazirudu_ && host.empty()) {
        Note({"not published on the publishing service: no service address is set"});
        use_vazirudu_ = 0;
    }
    if (use_vazirudu_) {
        web.SetHttpTarget(host, 80, cfg_.m_vazirudu_url);
        web.SetCoverSize(128, page_height_ * 128 / page_width_);
        DIAG(kModule, 0, "INF:will %s login", host.c_str());
        if (web.LoginHttpRepeatable(service_user_, service_password_) <= 0) {
            // The password never reaches the log.
            web.ReportLoginFailure(service_user_);
            Note({"not published on " + host + ": the login as " + service_user_ + " failed"});
            use_vazirudu_ = 0;
        } else {
            // A run cut off mid-update continues its update when the service still holds it.
            web.ContinueUpdate(meta_.ReadText(key_, kWebUpdateKey, 64));
            web_staged_ = web.BeginUpdateHttp(key_);
            meta_.WriteText(key_, kWebUpdateKey, web.UpdateId());
            if (web.HttpBookBusy() || web.HttpUpdateLimit()) {
                Note({"not published on " + host + ": " +
                      (web.HttpBookBusy() ? "the book is being updated from another session; publish it again later"
                                          : "the account has too many unfinished updates; publish them first")});
                job_.result_code.store(JOB_RESULT_UPLOAD_FAILED);
                return EndEarly();
            }
            // A service without staged updates takes the files directly, as it always did.
            if (!web_staged_)
                DIAG(kModule, 0, "INF:%s publishes the book directly", host.c_str());
        }
    }
    if (use_ftp_) {
        if (!SetFtpTargetFromProfile(ftp))
            return EndEarly();
        if (!ftp.ConnectFtp()) {
            // The user must confirm an unknown or changed server key: say which.
            if (ftp.FtpIdentity().check != IdentityCheck::Trusted)
                Note({"not published: " + DescribeIdentityProblem(ftp.FtpIdentity())});
            job_.result_code.store(JOB_RESULT_FTP_LOGIN_FAILED);
            DIAG(kModule, 0, "ERR:ftp login failed");
            return EndEarly();
        }
    }
    if (job_.progress.load() < kProgressLoginDone)
        job_.progress.store(kProgressLoginDone);
    if (StopRequested())
        return EndEarly();

    // Metadata.
    if (job_.progress.load() < kProgressMetadataDone) {
        if (use_vazirudu_) {
            const std::array<int32_t, 6> values = {use_vazirudu_,   job_.cat_id,   job_.subcat_id,
                                                   job_.country_id, job_.state_id, job_.city_id};
            web.SetJobValues(values);
            web.ResetStatusValue();
            if (!web.handle_pdf_metadata_http(FinalComponent(pdf_path_), key_, pagenum_, page_width_, page_height_,
                                              title_, description_, tags_, 0, FileSize(pdf_path_))) {
                DIAG(kModule, 0, "ERR:%s handle_pdf_metadata failed", host.c_str());
                return EndEarly();
            }
            if (web.StatusValue() == 5) {
                DIAG(kModule, 0, "ERR:title modified");
                Note({"the publishing service changed the book's title"});
                job_.result_code.store(JOB_RESULT_TITLE_MODIFIED);
            }
            web.ResetStatusValue();
        }
        Reach(kProgressMetadataDone);
    }
    if (StopRequested())
        return EndEarly();
    if (job_.progress.load() < kProgressUploadStart)
        job_.progress.store(kProgressUploadStart);

    // Upload.
    int ended = 0;
    if (use_ftp_) {
        if (!RunUploadPlan(ftp, ended))
            return ended;
        Note({"published at " + FtpBookAddress(meta_.ReadText(key_, "ftp_webaddr", 512), key_)});
    }
    if (use_vazirudu_) {
        if (!web.HttpConnected() && !web.ConnectHttp()) {
            DIAG(kModule, 0, "ERR:%s http_connect failed", host.c_str());
            Note({"not published on " + host + ": no connection"});
            use_vazirudu_ = 0;
        } else {
            bool published = RunUploadPlan(web, ended);
            meta_.WriteText(key_, kWebUpdateKey, web.UpdateId());
            if (both)
                meta_.WriteInt(key_, kWebMarkKey, web_mark.load());
            if (!published)
                return ended;
            Note({"published at " + WebServiceBookAddress(cfg_.m_vazirudu_webaddr, key_)});
        }
    }
    ftp.CloseAll();
    web.CloseAll();
    return CompletePublished();
}

int PdfWorker::CompletePublished()
{
    if (!updating_)
        return Finish();
    // The worker goes on without a target it could not log in to: then the new edition is
    // not everywhere yet, and the local book must stay the edition the targets show.
    if (use_ftp_ != job_.use_ftp || use_vazirudu_ != job_.use_vazirudu) {
        // The resume logs in, sends the metadata and compares each target again; what a
        // target holds already is not sent twice.
        SetBack(kProgressPrintDone);
        job_.result_code.store(JOB_RESULT_UPLOAD_FAILED);
        Note({"the update was not published to every target"});
        return EndEarly();
    }
    std::string why;
    if (!ReplaceBookWithUpdate(meta_, cfg_.m_books_folder, key_, why))
        return Fail(why);
    book_folder_ = JoinPath(cfg_.m_books_folder, key_);
    return Finish();
}

}  // namespace pipeline_detail
