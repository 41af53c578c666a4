// Saving a publishing target from the command line, for users of the batch command
// without the desktop program's settings dialogs: an FTP profile or a web-service
// account. Passwords are read from standard input, never from the command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class AppConfig;

struct FtpTargetSetup {
    std::string profile;  // "host/folder", the FTP address without "ftp://"
    std::string user;
    std::string webaddr;  // the web address under which the folder is seen
    int32_t port = 21;
    bool passive = true;
};

struct ServiceAccountSetup {
    std::string user;  // the account's e-mail address
    std::string host;  // the service's host ("host" or "host:port"); empty: as configured
};

// Reads one line (the password) from `in` without its line break; false at end of input.
bool ReadPasswordLine(std::FILE* in, std::string& password);

// Saves the profile in ftp.ini (user and password enciphered) and makes it the FTP
// target in config.ini. False with `error` set when a value cannot be stored.
bool SaveFtpTarget(AppConfig& cfg, const FtpTargetSetup& setup, const std::string& password, std::string& error);

// Saves the account's password (enciphered) in http_user.ini and makes the account, and
// the host when given, the web-service target in config.ini.
bool SaveServiceAccount(AppConfig& cfg, const ServiceAccountSetup& setup, const std::string& password,
                        std::string& error);
