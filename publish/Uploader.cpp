#include "publish/Uploader.h"

#include "config/DiagLog.h"
#include "publish/PublishControl.h"
#include "publish/RetryPolicy.h"

#include <algorithm>

namespace {
constexpr const char* kModule = "Upload";
constexpr size_t kMaxHost = 255;
constexpr size_t kMaxPath = 259;

bool EndsWithSeparator(const std::string& text) {
    return !text.empty() && (text.back() == '/' || text.back() == '\\');
}
}  // namespace

Uploader::Uploader(std::atomic<int32_t>* progress, std::atomic<int32_t>* job_state, PublishSettings& settings)
    : progress_(progress), job_state_(job_state), settings_(settings) {
    if (settings_.http_chunk_size < 1) {
        DIAG(kModule, 0, "ERR:m_http_chunk_size<=0?!");
        settings_.http_chunk_size = 48;
    }
    // A chunk is never larger than every service accepts; a login may allow larger ones.
    settings_.http_chunk_size = std::min(settings_.http_chunk_size, 48);
    chunk_size_ = settings_.http_chunk_size * 1024;
}

Uploader::~Uploader() { CloseAll(); }

int32_t Uploader::TryTimes() const { return retry::ClampTryTimes(settings_.ftp_upld_try_times); }

void Uploader::SetFtpTarget(const std::string& url, const std::string& user, const std::string& password,
                            int32_t passive, int32_t port) {
    ftp_on_ = 1;
    const size_t slash = url.find('/');
    ftp_host_ = url.substr(0, std::min(slash, kMaxHost));
    ftp_path_ = slash == std::string::npos ? std::string() : url.substr(slash, kMaxPath);
    ftp_user_ = user;
    ftp_password_ = password;
    passive_ = passive;
    ftp_port_ = port;
}

void Uploader::SetFtpTransport(const FtpTransport& transport) { ftp_transport_ = transport; }

void Uploader::StopAtMark() const {
    if (stop_mark_ < 0 || !progress_ || !job_state_ || progress_->load() < stop_mark_) return;
    int32_t uploading = PublishControl::kUploading;
    job_state_->compare_exchange_strong(uploading, PublishControl::kStopping);
}

bool Uploader::ConnectFtp() {
    EnsureCurlGlobalInit();
    if (ftp_on_ == 0) return true;
    FtpEndpoint endpoint;
    endpoint.host = ftp_host_;
    endpoint.port = ftp_port_;
    endpoint.user = ftp_user_;
    endpoint.password = ftp_password_;
    endpoint.passive = passive_ > 0;
    endpoint.timeout_ms = settings_.net_timeout_ms;
    endpoint.active_address = settings_.ftp_active_address;
    endpoint.transport = ftp_transport_;
    if (!ftp_.Open(endpoint)) {
        if (ftp_.LastFailure() == FtpFailure::Identity)
            DIAG(kModule, 0, "ERR:%s: %s", ftp_host_.c_str(), DescribeIdentityProblem(ftp_.Identity()).c_str());
        DIAG(kModule, ftp_.DiagCode(), "ERR:ftp InternetConnect error");
        CloseAll();
        return false;
    }
    return true;
}

void Uploader::CloseAll() {
    http_.Close();
    ftp_.Close();
}

bool Uploader::SetupFirstFtpDir() {
    if (!ftp_.IsOpen()) {
        DIAG(kModule, ftp_.DiagCode(), "FtpGetCurrentDirectory failed");
        return false;
    }
    working_folder_ = ftp_.LoginFolder().substr(0, 260);
    size_t skip = 0;
    while (skip < ftp_path_.size() && (ftp_path_[skip] == '/' || ftp_path_[skip] == '\\')) ++skip;
    if (!EndsWithSeparator(working_folder_)) working_folder_ += "/";
    working_folder_ += ftp_path_.substr(skip);
    working_folder_ = working_folder_.substr(0, kMaxPath);
    if (!ftp_.ChangeFolder(working_folder_)) {
        DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed");
        return false;
    }
    return true;
}

bool Uploader::GotoGuidFtpDir(const std::string& name) {
    if (working_folder_.empty() && !SetupFirstFtpDir()) {
        DIAG(kModule, 0, "ERR:SetupFirstFtpDir failed");
        return false;
    }
    if (!ftp_.ChangeFolder(name)) {
        if (!ftp_.MakeFolder(name)) {
            DIAG(kModule, ftp_.DiagCode(), "ERR:FtpCreateDirectory failed! reconnecting. Into dir %s",
                 working_folder_.c_str());
            return false;
        }
        if (!ftp_.ChangeFolder(name)) {
            DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory! reconnecting. Into dir %s",
                 working_folder_.c_str());
            return false;
        }
    }
    if (!EndsWithSeparator(working_folder_)) working_folder_ += "/";
    working_folder_ = (working_folder_ + name).substr(0, kMaxPath);
    return true;
}

bool Uploader::ReconnectInto(int32_t attempt, const std::string& folder) {
    ftp_.Close();
    if (!retry::WaitUnlessStopped(retry::DelayMs(attempt), job_state_)) return false;
    if (!ConnectFtp()) return false;
    return ftp_.ChangeFolder(folder);
}

bool Uploader::upload_one_file_ftp(const std::string& local_path, const std::string& subdir) {
    // A stop request is honoured before a file is begun.
    if (retry::StopRequested(job_state_)) return false;
    const std::string return_folder = subdir.empty() ? working_folder_ : working_folder_ + "/" + subdir;
    const size_t cut = local_path.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? local_path : local_path.substr(cut + 1);
    local_path_ = local_path.substr(0, kMaxPath);
    const int32_t tries = TryTimes();
    FtpFailure last = FtpFailure::None;
    for (int32_t attempt = 0; attempt < tries;) {
        if (attempt > 0) DIAG(kModule, 0, "INF:timeout,try %d times", attempt);
        if (!ftp_.IsOpen() && !ReconnectInto(attempt, return_folder)) {
            DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed");
            return false;
        }
        if (ftp_.PutFile(local_path, name)) return true;
        DIAG(kModule, ftp_.DiagCode(), "INF:FtpPutFile() failed, try to reconnect");
        last = ftp_.LastFailure();
        if (!IsRetryable(last)) {
            DIAG(kModule, ftp_.DiagCode(), "ERR:unable to reconnect,errno=%d", ftp_.LastError());
            return false;
        }
        if (!ReconnectInto(attempt, return_folder)) {
            DIAG(kModule, ftp_.DiagCode(), "ERR:FtpSetCurrentDirectory failed");
            return false;
        }
        ++attempt;
    }
    // Every attempt failed: whether by time-out or by a reset, the file is not on the
    // server and the caller must know.
    if (last == FtpFailure::TimedOut) DIAG(kModule, 0, "ERR:failed to connect to ftp server");
    else DIAG(kModule, 0, "ERR:connection reset on every attempt");
    return false;
}
