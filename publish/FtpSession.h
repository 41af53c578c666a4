// One connection to the user's web site kept open across commands and transfers (one
// libcurl easy handle reused), by plain FTP, FTP over TLS or SFTP, with the remote
// current folder tracked as an absolute path (SFTP has no current folder of its own).
#pragma once

#include "publish/CurlEasy.h"
#include "publish/ServerIdentity.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class SftpRename;

// What a failed FTP operation means to a caller that may reconnect.
enum class FtpFailure {
    None,      // the operation worked
    TimedOut,  // the server or the network did not answer within the wait
    Reset,     // the connection broke during the operation
    Other,     // refused by the server or any other error: retrying will not help
    Identity,  // the server's key or certificate is unknown or changed (see Identity())
};

// Only a connection that broke or fell silent is worth a reconnect.
inline bool IsRetryable(FtpFailure failure) { return failure == FtpFailure::TimedOut || failure == FtpFailure::Reset; }

enum class FtpProtocol {
    Ftp,   // plain FTP: the password travels in clear
    Ftps,  // FTP with explicit TLS (AUTH TLS), data connections protected too
    Sftp,  // SSH file transfer
};

// How a profile reaches its server beyond host, port and account, and whom it trusts.
struct FtpTransport {
    FtpProtocol protocol = FtpProtocol::Ftp;
    // SFTP: a private key file logs in instead of the password; its passphrase may be empty.
    std::string key_file;
    std::string passphrase;
    // The server fingerprint the user confirmed ("SHA256:..."), empty when none. FTPS:
    // the certificate's public key is pinned to it instead of being checked against the
    // authorities. SFTP: used when known_hosts does not know the host.
    std::string fingerprint;
    // The kind of that key ("ED25519", "RSA", ...), as the user is told; may be empty.
    std::string key_type;
    // Benchmarks only, never from a profile: files are written under their final names,
    // as a reader may then see half of one, so that the cost of replacing whole files
    // can be measured against it.
    bool replace_in_place = false;
    // A protocol name a profile holds that this program does not know. Such a transport
    // never connects: plain FTP in its place would send the password in clear.
    std::string unknown_protocol;
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
    FtpTransport transport;
};

class FtpSession {
public:
    FtpSession();
    ~FtpSession();
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
    // Removes the file `path` (relative to the current folder, or absolute).
    bool RemoveFile(const std::string& path);
    // Stores the local file as `remote_name` in the current folder (binary). The file is
    // written under a temporary name beside it and then renamed over the old one, so that
    // a reader gets the old or the new file whole, never half of one. In a folder this
    // session made, no reader can know a file yet: it is written under its own name, which
    // spares a first publication two commands a file.
    bool PutFile(const std::string& local_path, const std::string& remote_name);
    // The names in the folder `path` (relative to the current folder, or absolute).
    bool ListNames(const std::string& path, std::vector<std::string>& names);
    // Fetches `remote_name` of the current folder into the local file.
    bool GetFile(const std::string& remote_name, const std::string& local_path);

    FtpFailure LastFailure() const { return last_failure_; }
    // The libcurl code of the last failed operation (0 after success).
    int32_t LastError() const { return last_error_; }
    // The code to log a failure with: the log then gives the server's reply (or, when
    // the server sent none, the library's description) as the reason. 0 after success.
    int32_t DiagCode() const { return last_error_ == 0 ? 0 : 12003; }
    // The last reply line of the server to a failed command (SFTP: libcurl's reason).
    const std::string& LastReply() const { return last_reply_; }
    // What the last Open() learnt about the server's identity; kept after Close().
    const ServerIdentity& Identity() const { return identity_; }

    // Joins `path` onto the absolute folder `base`, resolving "." and "..".
    static std::string Resolve(const std::string& base, const std::string& path);
    // True for the name of a file PutFile writes before renaming it: one left by a run
    // that was killed in mid-file.
    static bool IsTemporaryName(const std::string& name);

private:
    // Resets the handle for a command or transfer on `url` that sends `upload_bytes`.
    void Prepare(const std::string& url, int64_t upload_bytes = 0);
    bool Perform();
    // Records the outcome `code` of an operation; `reason` stands for the server's reply
    // (SFTP has none).
    bool Conclude(CURLcode code, const std::string& reason);
    // Runs the prepared transfer on the session's multi handle, which keeps the control
    // connection between transfers.
    CURLcode RunTransfer();
    std::string FolderUrl(const std::string& folder) const;
    // Runs a folder command (make, remove) on the absolute path `path`.
    bool RunFolderCommand(const char* ftp_verb, const char* sftp_verb, const std::string& path);
    bool RunCommand(const std::string& command);
    // Runs the commands in order on the current folder; a command that starts with '*'
    // may fail without failing the rest.
    bool RunCommands(const std::vector<std::string>& commands);
    // The commands that rename `from` over `to` (absolute paths); with `remove_first`,
    // they remove `to` first, for servers whose rename will not replace a file.
    std::vector<std::string> RenameCommands(const std::string& from, const std::string& to, bool remove_first) const;
    // The temporary name a file `remote_name` is written under by this session.
    std::string TemporaryName(const std::string& remote_name) const;
    void SetUpTransport();
    // Turns a failed verification into an identity failure.
    void NoteIdentity(CURLcode code);
    // Copies what the TLS handshake showed of the server's certificate into `identity`.
    void RecordedTlsIdentity(ServerIdentity& identity) const;
    // SFTP: whether finished uploads are renamed over old files by the rename
    // connection, which is opened on first need. False when the server cannot replace a
    // file in one step or refuses that connection; false with a recorded failure (and
    // `failed`) when it refuses the server's identity.
    bool RenamesOverOldFiles(bool& failed);
    bool IsSftp() const { return endpoint_.transport.protocol == FtpProtocol::Sftp; }
    // Records a failure found before anything was sent (no handle, unreadable file).
    bool FailLocally(int32_t code);

    CurlMulti multi_;  // declared first: released after the easy handle
    CurlEasy handle_;
    FtpEndpoint endpoint_;
    std::string login_folder_;
    std::string current_;
    // The folders this session made (absolute paths).
    std::set<std::string> made_folders_;
    std::string headers_;
    FtpFailure last_failure_ = FtpFailure::None;
    int32_t last_error_ = 0;
    std::string last_reply_;
    // Tells this session's temporary files from those of another one writing the same
    // book at the same time.
    std::string session_tag_;
    char error_text_[CURL_ERROR_SIZE] = {};
    ServerIdentity identity_;
    SshHostCheck ssh_check_;
    TlsKeyRecord tls_record_;
    // SFTP: the rename connection and whether the server offers its rename (unknown
    // until it was first opened after Open()).
    std::unique_ptr<SftpRename> renamer_;
    enum class Overwrite { Unknown, Offered, NotOffered } overwrite_ = Overwrite::Unknown;
};
