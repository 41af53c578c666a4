// Saving a publishing target from the command line, for users of the batch command
// without the desktop program's settings dialogs: an FTP profile or a web-service
// account. Passwords are read from standard input, never from the command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "publish/FtpSession.h"

class AppConfig;

struct FtpTargetSetup {
    std::string profile;  // "host/folder", the FTP address without "ftp://"
    std::string user;
    std::string webaddr;  // the web address under which the folder is seen
    int32_t port = 0;     // 0: the protocol's usual port
    bool passive = true;
    FtpProtocol protocol = FtpProtocol::Ftp;
    std::string key_file;  // SFTP: log in with this private key instead of a password
    std::string accept_fingerprint;  // the server key the user confirmed, "SHA256:..."
};

struct ServiceAccountSetup {
    std::string user;  // the account's e-mail address
    std::string host;  // the service's host ("host" or "host:port"); empty: as configured
};

// Reads one line (the password) from `in` without its line break; false at end of input.
bool ReadPasswordLine(std::FILE* in, std::string& password);

// Checks the values of a profile; `secret` is the password, or with a key file the key's
// passphrase. False with `error` set when one cannot be stored.
bool CheckFtpTarget(const FtpTargetSetup& setup, const std::string& secret, std::string& error);

// Over FTPS and SFTP, logs in once to learn who the server is before anything is saved:
// true when an authority or known_hosts vouches for it or it shows the accepted
// fingerprint, which `fingerprint` then receives (empty when none is needed). False with
// the lines to show the user in `error`: the fingerprint of an unknown server and how to
// accept it, the fingerprints of a server that shows another key than the one accepted,
// or why the login failed. Plain FTP is not checked (it cannot say who the server is).
bool VerifyFtpServer(AppConfig& cfg, const FtpTargetSetup& setup, const std::string& secret,
                     std::string& fingerprint, std::string& error);

// Saves the profile in ftp.ini (user, password and passphrase enciphered, with the
// server's `fingerprint` when one was confirmed) and makes it the FTP target in
// config.ini. False with `error` set when a value cannot be stored.
bool SaveFtpTarget(AppConfig& cfg, const FtpTargetSetup& setup, const std::string& secret,
                   const std::string& fingerprint, std::string& error);

// Saves the account's password (enciphered) in http_user.ini and makes the account, and
// the host when given, the web-service target in config.ini.
bool SaveServiceAccount(AppConfig& cfg, const ServiceAccountSetup& setup, const std::string& password,
                        std::string& error);
