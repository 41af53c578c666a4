// The publishing session of one job: logs in to the user's FTP server or to the
// publishing web service, prepares the book's remote folders, describes the book to the
// service and stores files with bounded retries. Used by one thread; failures are
// reported by result and logged.
#pragma once

#include "publish/FtpSession.h"
#include "publish/HttpSession.h"
#include "publish/PublishSettings.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct sqlite3;

class Uploader {
public:
    Uploader(std::atomic<int32_t>* progress, std::atomic<int32_t>* job_state, PublishSettings& settings);
    ~Uploader();
    Uploader(const Uploader&) = delete;
    Uploader& operator=(const Uploader&) = delete;

    void SetFtpTarget(const std::string& url, const std::string& user, const std::string& password,
                      int32_t passive, int32_t port);
    // The protocol, key file and confirmed fingerprint of the target (plain FTP when
    // never called). With a key file the password is not used.
    void SetFtpTransport(const FtpTransport& transport);
    // False on failure. When the server's identity was the reason, FtpIdentity() says
    // whether it is unknown (show its `offered` fingerprint to the user and, once
    // confirmed, store it with ConfirmServerFingerprint) or changed; the log names the
    // fingerprints either way.
    bool ConnectFtp();
    const ServerIdentity& FtpIdentity() const { return ftp_.Identity(); }
    void CloseAll();

    bool SetupFirstFtpDir();
    bool GotoGuidFtpDir(const std::string& name);
    bool upload_one_file_ftp(const std::string& local_path, const std::string& subdir);
    // 0 when the book's folders and the shared files are ready, 1 on failure.
    int32_t PrepareFtpDir(const std::string& job_key, int32_t stage_start, int32_t stage_span);

    // ---- Web service. `host` is the configured service host: "host", "host:port",
    //      "http://host[:port]" or "https://host[:port]" (a port given there replaces
    //      `port`).
    void SetHttpTarget(const std::string& host, uint16_t port, const std::string& path);
    bool ConnectHttp();
    // The empty request that precedes every message; false when it cannot be sent or
    // the service asks for credentials.
    bool Authenticate();
    // Handles the message text of a length-prefixed reply.
    using ReplyHandler = std::function<void(const std::string&)>;
    // One message: the empty probe, then a POST of the 4-byte `code` and `body`. With a
    // handler the reply is read as a length-prefixed message and passed to it; without
    // one the caller reads the reply (IsOK, GetUserRowID).
    bool PostByHttp(const char* code, const std::string& body, const ReplyHandler* handler);
    // The same for a message the service may get twice without harm: one that got no
    // answer (no connection, a service process that died with it, a 5xx or 429) is sent
    // again after the retry delay, up to the try-times setting.
    bool PostRepeatable(const char* code, const std::string& body);
    // Judges the last reply as a status text; `number` (may be null) receives the number
    // that follows "OK" when there is one.
    bool IsOK(int32_t* number);
    int32_t GetUserRowID();
    // Logs in; the user row id (also kept for the metadata message), 0 on failure.
    // Names and passwords of more than 31 bytes are refused.
    int32_t LoginHttp(const std::string& user, const std::string& password);
    // LoginHttp, tried again after the retry delay (up to the try-times setting) while no
    // service answers it; a refused login is not tried again.
    int32_t LoginHttpRepeatable(const std::string& user, const std::string& password);
    // Logs that the login of `user` to the service failed. The password is never
    // written: it appears as asterisks.
    void ReportLoginFailure(const std::string& user) const;
    // True when the last exchange was answered by a publishing service (HTTP 200 and a
    // number), so that a refused login can be told from an address where none answers.
    bool ServiceAnswered() const;
    // True when the service knows a newer build than this one.
    bool CheckNewVersion();
    // Sends the known reference ids and applies the changes the service returns to the
    // reference database `db`: 0 sent, 1 no connection or the exchange failed,
    // 2 database missing, empty or unreadable.
    int32_t UpdateReferenceDb(sqlite3* db);
    // Web-service switch, category, subcategory, country, state and city ids of the job.
    void SetJobValues(const std::array<int32_t, 6>& values);
    void SetCoverSize(int32_t width, int32_t height);
    bool handle_pdf_metadata_http(const std::string& pdf_path, const std::string& job_key, int32_t page_count,
                                  int32_t page_width, int32_t page_height, const std::string& title,
                                  const std::string& description, const std::string& tags, int32_t reserved,
                                  int64_t pdf_size);
    bool upload_one_file_http(const std::string& local_path, const std::string& job_key, const std::string& subdir);
    // Staged update of a published book (the owner's session only). An older service
    // answers these with an error, and each then returns false: the caller sends every
    // file (no manifest) or publishes directly (no stage).
    // The live book's manifest; false: failed; true with empty `text`: the book has none.
    bool FetchManifestHttp(const std::string& job_key, std::string& text);
    // Begins the update, or continues the one ContinueUpdate named: the service answers
    // the update's id, which the book's later metadata, uploads and commit name, so they
    // go to its stage and become visible only at the commit. While another update of the
    // book is open (another session of the account publishes it) the service refuses;
    // the client asks again after the retry delays and, still refused, returns false
    // with HttpBookBusy() set.
    bool BeginUpdateHttp(const std::string& job_key);
    // The id of an update an earlier run of the job began (empty: none): the next
    // BeginUpdateHttp continues it when it is still open.
    void ContinueUpdate(const std::string& update_id) { update_id_ = update_id; }
    // The id of the open update; empty when none is open.
    const std::string& UpdateId() const { return update_id_; }
    // True when the last BeginUpdateHttp was refused because another update was open.
    bool HttpBookBusy() const { return book_busy_; }
    // True when it was refused because the account has as many open updates as the
    // service allows. Publishing directly would bypass the stage: the job fails instead.
    bool HttpUpdateLimit() const { return update_limit_; }
    // Ends the update: the service checks the stage against `manifest_text` and switches
    // to it in one step. An empty text: the manifest uploaded as book-manifest.txt.
    bool CommitUpdateHttp(const std::string& job_key, const std::string& manifest_text);

    // Read access for the upload plan and for checks.
    bool HttpOn() const { return http_on_ != 0; }
    bool HttpConnected() const { return http_.IsOpen(); }
    int32_t StatusValue() const { return status_value_; }
    void ResetStatusValue() { status_value_ = 0; }
    int32_t UserRowId() const { return user_row_id_; }
    const std::string& HttpHost() const { return http_host_; }
    uint16_t HttpPort() const { return http_port_; }
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
    // Makes the job ask itself to stop once its progress reaches `mark` (-1: never).
    void SetStopMark(int32_t mark) { stop_mark_ = mark; }
    // Turns an uploading job's state into a stop request when the stop mark is reached;
    // called before each file.
    void StopAtMark() const;

private:
    // Closes the FTP connection, waits the retry delay of `attempt` (ending early on a
    // stop request), reconnects and returns to `folder`. False when any step fails.
    bool ReconnectInto(int32_t attempt, const std::string& folder);
    bool SkinIsCurrent(const std::string& skin_script, size_t local_size);
    bool SendSkinFiles(const std::string& skin_script, const std::string& local_skin_folder);
    bool SendTemplateFiles();
    int32_t FailureTail();
    int32_t TryTimes() const;
    int32_t HttpTryTimes() const;
    // After failed attempt `attempt` of message `code`: true (after the retry delay) when
    // it got no answer and may be tried again.
    bool TryAgainAfter(int32_t attempt, const char* code) const;
    // The request headers of an upload of a file of `size` bytes.
    std::vector<std::string> UploadHeaders(int64_t size) const;
    // Sends one upload request; false when the exchange failed or was refused.
    bool SendByHttpOnce(const PostBody& body);
    bool UploadWhole(const PostBody& body, const std::string& name);
    // Sends a text file packed when the service unpacks files and packing pays; false
    // with `tried` false when the file goes as it is instead.
    bool UploadPacked(FILE* file, int64_t size, const std::string& job_key, const std::string& name,
                      const std::string& subdir, bool& tried);
    bool UploadChunks(FILE* file, int64_t size, const std::string& job_key, const std::string& name,
                      const std::string& subdir);

    // Shared with the web-service half.
    int32_t status_value_ = 0;
    int32_t http_on_ = 0;
    HttpSession http_;
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
    FtpTransport ftp_transport_;
    std::array<int32_t, 6> job_values_{};
    std::string local_path_;
    int32_t file_attempts_ = 2;
    std::atomic<int32_t>* progress_ = nullptr;
    std::atomic<int32_t>* job_state_ = nullptr;
    int32_t stop_mark_ = -1;
    int32_t chunk_size_ = 48 * 1024;
    bool service_unpacks_ = false;  // the login's answer said the service unpacks gzip
    std::string update_id_;         // the open staged update the book's requests name
    bool book_busy_ = false;        // another update of the book was open
    bool update_limit_ = false;     // the account had too many open updates
    int32_t cover_width_ = 0;
    int32_t cover_height_ = 0;
    PublishSettings& settings_;
};
