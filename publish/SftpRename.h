// A second SSH connection beside an SFTP session's own, used only to rename a finished
// upload over the file it replaces in one step, so that a reader finds the old or the new
// file and never none. Plain SFTP (version 3) refuses to rename onto an existing name;
// servers that advertise "posix-rename@openssh.com" replace the target atomically, and
// the library behind the session's transfers cannot send that request.
// The connection checks the server's host key exactly as the transfer session does
// (known_hosts, then the fingerprint the user confirmed) and logs in with the same
// account, password or key file. Every wait is bounded by the endpoint's time-out.
#pragma once

#include "publish/FtpSession.h"
#include "publish/ServerIdentity.h"

#include <curl/curl.h>

#include <cstdint>
#include <string>

struct _LIBSSH2_SESSION;
struct _LIBSSH2_CHANNEL;

class SftpRename {
public:
    SftpRename() = default;
    ~SftpRename() { Close(); }
    SftpRename(const SftpRename&) = delete;
    SftpRename& operator=(const SftpRename&) = delete;

    // Connects, checks the host key, logs in and starts SFTP. The result is given as the
    // libcurl code the transfer session would report for the same failure (CURLE_OK on
    // success), so that callers classify and explain it alike; Reason() says more.
    CURLcode Open(const FtpEndpoint& endpoint);
    void Close();
    bool IsOpen() const { return channel_ != nullptr; }
    // True when the server offers the rename that replaces an existing file.
    bool CanOverwrite() const { return can_overwrite_; }
    // Renames the absolute path `from` over `to`, replacing it atomically. A refusal by
    // the server is CURLE_QUOTE_ERROR, as a refused rename command of the session is.
    // Any other failure closes the connection; the next Open() makes a new one.
    CURLcode Rename(const std::string& from, const std::string& to);

    // What went wrong, in words, after a failure.
    const std::string& Reason() const { return reason_; }
    // The host key check of the last Open(), as the transfer session records its own.
    const SshHostCheck& HostCheck() const { return check_; }

private:
    CURLcode Connect(const FtpEndpoint& endpoint);
    CURLcode CheckHostKey(const FtpEndpoint& endpoint);
    CURLcode LogIn(const FtpEndpoint& endpoint);
    CURLcode StartSftp();
    // Sends one SFTP packet (its length is prefixed here).
    CURLcode Send(const std::string& packet);
    // Receives one whole SFTP packet, without its length.
    CURLcode Receive(std::string& packet);
    // Reads or writes exactly `size` bytes of the channel.
    CURLcode ReadExactly(char* data, size_t size);
    // Turns a libssh2 error code into the code the transfer session reports.
    CURLcode Failed(int ssh_error, const std::string& what);
    CURLcode Fail(CURLcode code, const std::string& reason);

    int socket_ = -1;
    _LIBSSH2_SESSION* session_ = nullptr;
    _LIBSSH2_CHANNEL* channel_ = nullptr;
    bool can_overwrite_ = false;
    uint32_t next_id_ = 1;
    std::string password_;  // answered to keyboard-interactive prompts during Open() only
    std::string reason_;
    SshHostCheck check_;
};
