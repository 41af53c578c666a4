// Connecting once to the server of a stored FTP profile before books go there. Over FTP
// with TLS and SFTP the server first shows who it is: a key that nothing vouches for yet,
// or one other than the key accepted before, is put to the user (CServerKeyDlg), and its
// fingerprint is stored in the profile only when the user accepts it.
#pragma once

#include "publish/ServerIdentity.h"

#include <QString>

#include <string>

class AppConfig;
class QWidget;

// What one connection to a profile's server found out.
struct FtpConnectResult {
    bool logged_in = false;
    ServerIdentity identity;  // not Trusted: the login stopped at the server's key
    QString server;           // "host:port", as the user is told
    QString reason;           // why the connection or login failed (no secret in it)
};

// Connects to the server of profile `key` with its stored account and transport, and
// closes again. Blocks for at most the login time-out.
FtpConnectResult ConnectToFtpProfile(AppConfig& cfg, const std::string& key);

enum class FolderState {
    kWritable,     // the folder exists and takes new files
    kMissing,      // the folder does not exist (or is no folder)
    kNotWritable,  // the folder exists, but nothing can be made in it
    kNoLogin,      // no login (see `reason`)
};

struct FolderCheckResult {
    FolderState state = FolderState::kNoLogin;
    QString folder;        // the profile's folder, as the user is told
    QString server;        // "host:port", as the user is told
    QString reason;        // the server's answer when it refused
    bool declined = false;  // kMissing: the user did not want the folder made
};

// Logs in to the server of profile `key` (whose key was accepted before) and checks that
// the profile's folder exists and takes new files, by making a folder there and removing
// it again. With `create`, a missing folder is made first. Shows a wait cursor.
FolderCheckResult CheckFtpFolder(AppConfig& cfg, const std::string& key, bool create);

// CheckFtpFolder as the user meets it: a missing folder is made when the user agrees to
// the question put in a box owned by `owner`.
FolderCheckResult CheckFtpFolderAsking(QWidget* owner, AppConfig& cfg, const std::string& key);

// What the user is told about a folder that did not pass the check, with the server's
// answer (for kWritable: that the login worked and the folder takes files).
QString DescribeFolderCheck(const FolderCheckResult& result);

// True when the profile's protocol says who its server is (FTP with TLS, SFTP).
bool ProfileChecksServerIdentity(AppConfig& cfg, const std::string& key);

enum class ServerCheck {
    kLoggedIn,  // connected and logged in (after the user accepted the server's key, if asked)
    kDeclined,  // the user did not accept the key shown, or it cannot be accepted here
    kNoLogin,   // the connection or the login failed for another reason (see `reason`)
};

struct ServerCheckResult {
    ServerCheck outcome = ServerCheck::kNoLogin;
    QString server;
    QString reason;
};

// Connects to the server of profile `key`; an unknown or changed key is shown to the user
// in a dialog owned by `owner`, an accepted one is stored and the login tried once more.
// Shows a wait cursor while it connects; shows nothing else.
ServerCheckResult CheckFtpServer(QWidget* owner, AppConfig& cfg, const std::string& key);
