// The publishing session of one job: logs in to the user's FTP server (and, later, the
// web service), prepares the book's remote folders and stores files with bounded
// reconnects. Used by one worker thread; failures are reported by result and logged.
#pragma once

#include "publish/FtpSession.h"
#include "publish/PublishSettings.h"

#include <atomic>
#include <cstdint>
#include <string>

class Uploader {
public:
    Uploader(std::atomic<int32_t>* progress, std::atomic<int32_t>* job_state, PublishSettings& settings);
    ~Uploader();
    Uploader(const Uploader&) = delete;
    Uploader& operator=(const Uploader&) = delete;

    void SetFtpTarget(const std::string& url, const std::string& user, const std::string& password,
                      int32_t passive, int32_t port);
    bool ConnectFtp();
    void CloseAll();

    bool SetupFirstFtpDir();
    bool GotoGuidFtpDir(const std::string& name);
    bool upload_one_file_ftp(const std::string& local_path, const std::string& subdir);
    // 0 when the book's folders and the shared files are ready, 1 on failure.
    int32_t PrepareFtpDir(const std::string& job_key, int32_t stage_start, int32_t stage_span);

    // Web-service half.
    void SetHttpTarget(const std::string& host, int32_t port, const std::string& path);
    bool ConnectHttp();
    bool HttpConnected() const;
    // Logs in; the user row id (also kept for the metadata), 0 on failure.
    int32_t Login(const std::string& user, const std::string& password);
    // The job's web-service switch and its category, subcategory, country, state, city.
    void SetJobValues(const int32_t values[6]);
    void SetCoverSize(int32_t width, int32_t height);
    bool handle_pdf_metadata_http(const std::string& pdf_name, const std::string& job_key, int32_t page_count,
                                  int32_t page_width, int32_t page_height, const std::string& title,
                                  const std::string& description, const std::string& tags, int32_t reserved,
                                  int64_t pdf_size);
    bool upload_one_file_http(const std::string& local_path, const std::string& job_key, const std::string& subdir);
    int32_t StatusValue() const { return status_value_; }
    void ClearStatus() { status_value_ = 0; }
    bool HttpOn() const { return http_on_ != 0; }

    // Read access for the upload plan and for checks.
    bool FtpOn() const { return ftp_on_ != 0; }
    bool FtpConnected() const { return ftp_.IsOpen(); }
    const std::string& WorkingFolder() const { return working_folder_; }
    const std::string& FtpHost() const { return ftp_host_; }
    const std::string& FtpPath() const { return ftp_path_; }
    int32_t ChunkSize() const { return chunk_size_; }
    int32_t FileAttempts() const { return file_attempts_; }
    FtpSession& Ftp() { return ftp_; }
    std::atomic<int32_t>* Progress() const { return progress_; }
    std::atomic<int32_t>* JobState() const { return job_state_; }

private:
    // Closes the FTP connection, waits the retry delay of `attempt` (ending early on a
    // stop request), reconnects and returns to `folder`. False when any step fails.
    bool ReconnectInto(int32_t attempt, const std::string& folder);
    bool SkinIsCurrent(const std::string& skin_script, size_t local_size);
    bool SendSkinFiles(const std::string& skin_script, const std::string& local_skin_folder);
    bool SendTemplateFiles();
    int32_t FailureTail();
    int32_t TryTimes() const;

    // Shared with the web-service half.
    int32_t status_value_ = 0;
    int32_t http_on_ = 0;
    std::string http_host_;
    uint16_t http_port_ = 80;
    std::string http_path_;
    int32_t user_row_id_ = 0;
    // FTP half.
    int32_t ftp_on_ = 0;
    FtpSession ftp_;
    std::string ftp_host_;
    std::string working_folder_;
    std::string ftp_path_;
    std::string ftp_user_;
    std::string ftp_password_;
    int32_t passive_ = 1;
    int32_t ftp_port_ = 21;
    int32_t job_values_[6] = {};
    std::string local_path_;
    int32_t file_attempts_ = 2;
    std::atomic<int32_t>* progress_ = nullptr;
    std::atomic<int32_t>* job_state_ = nullptr;
    int32_t chunk_size_ = 48 * 1024;
    int32_t cover_width_ = 0;
    int32_t cover_height_ = 0;
    PublishSettings& settings_;
};
