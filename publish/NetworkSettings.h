// Storing what the publishing settings dialogs edit: the FTP profiles of ftp.ini (user
// and password enciphered), the chosen targets, the web-service account and the book's
// classification. The dialogs collect the values; the rules for where they go live here.
#pragma once

#include "publish/FtpSession.h"

#include <cstdint>
#include <string>

class AppConfig;
class IniFile;
class Rijndael;

// One FTP profile. Its key (the section of ftp.ini) is the FTP address without scheme:
// host, "/" (left out when the sub-folder starts with "/"), sub-folder.
struct FtpProfile {
    std::string host;
    std::string subdir;
    std::string user;
    std::string password;
    std::string webaddr;
    int32_t passive = 1;
    int32_t port = 21;
};

// The profile key of a host and sub-folder; a leading "ftp://" of the host is dropped.
// Empty when the host is empty: a profile needs a server.
std::string FtpProfileKey(const std::string& host, const std::string& subdir);
// Splits a key at its first "/" into host and sub-folder (without that "/").
FtpProfile FtpProfileFromKey(const std::string& key);
// The stored profile `key` (user and password deciphered; a port of 0 or less is 21).
FtpProfile ReadFtpProfile(AppConfig& cfg, const std::string& key);
// Stores the profile under its key; the key, or empty when there is nothing to store.
std::string SaveFtpProfile(AppConfig& cfg, const FtpProfile& profile);

// ---- How a profile reaches its server (keys of its ftp.ini section): `protocol` ("ftp",
//      "ftps" or "sftp"; missing means plain FTP, as every profile made before it),
//      `key_file` (SFTP: the private key's path), `passphrase` (enciphered like the
//      password), `fingerprint` (the server's key as the user confirmed it,
//      "SHA256:...") and `key_type` (that key's kind, "ED25519"). SaveFtpProfile leaves these keys alone, so an editor that does not
//      know them keeps them.

// "ftp", "ftps", "sftp".
const char* FtpProtocolName(FtpProtocol protocol);
// False for any other name.
bool ParseFtpProtocol(const std::string& name, FtpProtocol& protocol);
// The usual port of a protocol: 21 for FTP and FTPS, 22 for SFTP.
int32_t DefaultFtpPort(FtpProtocol protocol);
// The transport of profile `key` (the passphrase deciphered). A protocol name it does not
// know is logged and kept in `unknown_protocol`: such a transport shows as plain FTP but
// never connects.
FtpTransport ReadFtpTransport(const IniFile& ftp_ini, Rijndael& cipher, const std::string& key);
FtpTransport ReadFtpTransport(AppConfig& cfg, const std::string& key);
// Stores the transport of profile `key`. False when a value cannot be written.
bool SaveFtpTransport(AppConfig& cfg, const std::string& key, const FtpTransport& transport);
// Stores the fingerprint the user confirmed for the server of profile `key` (the
// `offered` fingerprint of an unknown or changed identity); later connections accept
// that key and refuse any other; `key_type` is kept to name the key's kind. False when it
// is not a fingerprint or cannot be written.
bool ConfirmServerFingerprint(AppConfig& cfg, const std::string& key, const std::string& fingerprint,
                              const std::string& key_type = {});

// Where books go. Choosing one mode switches the other two off.
enum class PublishingMode { kLocal, kFtp, kWebService };
void SetPublishingMode(AppConfig& cfg, PublishingMode mode);

// What the publishing settings dialog holds when it is confirmed.
struct NetworkChoice {
    bool use_ftp = false;
    bool use_service = false;
    std::string ftp_url;  // the chosen profile key
    std::string user;     // the web-service account
    std::string password;
    std::string category, subcategory, country, state, city;  // names as shown
};

// The section of http_user.ini that holds the password of `user` on `host`.
std::string AccountSection(const std::string& user, const std::string& host);
// The stored password of `user` on the configured service host (deciphered).
std::string ReadAccountPassword(AppConfig& cfg, const std::string& user);

// Saves a validated choice: the account and classification when the web service is
// used, the FTP profile when FTP is used, and both switches. A classification that
// cannot be found is logged and stored as 0.
void SaveNetworkChoice(AppConfig& cfg, const NetworkChoice& choice);

// The login test's outcome: logged in, the account or password refused by the service,
// or no publishing service answering at the address (refused connection, no reply, an
// HTTP error or a page that is not a service's answer).
enum class ServiceLogin { kLoggedIn, kRefused, kNoService };
// The login test: logs in to the configured service with the account.
ServiceLogin TestServiceLogin(const AppConfig& cfg, const std::string& user, const std::string& password);
