// One FTP control connection kept open across commands and transfers (one libcurl easy
// handle reused), with the remote current folder tracked as an absolute path.
#pragma once

#include "publish/CurlEasy.h"

#include <cstdint>
#include <string>

// What a failed FTP operation means to a caller that may reconnect.
enum class FtpFailure {
    None,      // the operation worked
    TimedOut,  // the server or the network did not answer within the wait
    Reset,     // the connection broke during the operation
    Other,     // refused by the server or any other error: retrying will not help
};

struct FtpEndpoint {
    std::string host;
    int32_t port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    // The network time-out: the deadlines of every command and transfer derive from
    // it (see ExchangeLimits).
    int32_t timeout_ms = 30000;
    // Address announced for active mode; "-" means the address of the control socket.
    std::string active_address = "-";
};

class FtpSession {
public:
    FtpSession() = default;
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Logs in and learns the login folder. False on failure (see LastFailure()).
    bool Open(const FtpEndpoint& endpoint);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // The login folder as the server reported it after logging in.
    const std::string& LoginFolder() const { return login_folder_; }
    const std::string& CurrentFolder() const { return current_; }

    // Changes the current folder; `path` is absolute or relative ("..", "a/b").
    bool ChangeFolder(const std::string& path);
    bool MakeFolder(const std::string& name);
    bool RemoveFolder(const std::string& name);
    // Stores the local file as `remote_name` in the current folder (binary).
    bool PutFile(const std::string& local_path, const std::string& remote_name);
    // Fetches `remote_name` of the current folder into the local file.
    bool GetFile(const std::string& remote_name, const std::string& local_path);

    FtpFailure LastFailure() const { return last_failure_; }
    // The libcurl code of the last failed operation (0 after success).
    int32_t LastError() const { return last_error_; }
    // The code to log a failure with: the log then gives the server's reply (or, when
    // the server sent none, the library's description) as the reason. 0 after success.
    int32_t DiagCode() const { return last_error_ == 0 ? 0 : 12003; }
    // The last reply line of the server to a failed command.
    const std::string& LastReply() const { return last_reply_; }

    // Joins `path` onto the absolute folder `base`, resolving "." and "..".
    static std::string Resolve(const std::string& base, const std::string& path);

private:
    // Resets the handle for a command or transfer on `url` that sends `upload_bytes`.
    void Prepare(const std::string& url, int64_t upload_bytes = 0);
    bool Perform();
    // Runs the prepared transfer on the session's multi handle, which keeps the control
    // connection between transfers.
    CURLcode RunTransfer();
    std::string FolderUrl(const std::string& folder) const;
    bool RunCommand(const std::string& command);
    // Records a failure found before anything was sent (no handle, unreadable file).
    bool FailLocally(int32_t code);

    CurlMulti multi_;  // declared first: released after the easy handle
    CurlEasy handle_;
    FtpEndpoint endpoint_;
    std::string login_folder_;
    std::string current_;
    std::string headers_;
    FtpFailure last_failure_ = FtpFailure::None;
    int32_t last_error_ = 0;
    std::string last_reply_;
};
