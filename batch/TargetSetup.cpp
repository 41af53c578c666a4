#include "batch/TargetSetup.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "config/AppConfig.h"
#include "config/ServiceHostKeys.h"
#include "publish/NetworkSettings.h"
#include "publish/PublishSettings.h"
#include "publish/Uploader.h"

namespace {

// The account fields of the publishing protocols hold at most 31 bytes.
constexpr size_t kMaxAccountText = 31;
// An enciphered value holds at most 63 bytes.
constexpr size_t kMaxPassphrase = 63;
// Logging in to learn the server's identity must not hang on a silent network.
constexpr int32_t kVerifyTimeoutMs = 15000;

// A value that may be empty: no control characters and at most `limit` bytes.
bool Printable(const std::string& name, const std::string& text, size_t limit, std::string& error)
{
    if (text.size() > limit) {
        error = name + " is longer than " + std::to_string(limit) + " bytes";
        return false;
    }
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            error = name + " holds a control character";
            return false;
        }
    }
    return true;
}

bool Storable(const std::string& name, const std::string& text, size_t limit, std::string& error)
{
    if (text.empty()) {
        error = name + " is empty";
        return false;
    }
    return Printable(name, text, limit, error);
}

std::string ProfileKey(const FtpTargetSetup& setup)
{
    std::string profile = setup.profile;
    if (profile.rfind("ftp://", 0) == 0)
        profile.erase(0, 6);
    return profile;
}

int32_t PortOf(const FtpTargetSetup& setup)
{
    return setup.port > 0 ? setup.port : DefaultFtpPort(setup.protocol);
}

std::string KeyPath(const FtpTargetSetup& setup)
{
    if (setup.key_file.empty())
        return {};
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(setup.key_file, ec);
    return ec ? setup.key_file : absolute.lexically_normal().string();
}

// What the profile stores about the protocol; the secret is the passphrase with a key.
FtpTransport TransportOf(const FtpTargetSetup& setup, const std::string& secret, const std::string& fingerprint)
{
    FtpTransport transport;
    transport.protocol = setup.protocol;
    transport.key_file = KeyPath(setup);
    if (!setup.key_file.empty())
        transport.passphrase = secret;
    transport.fingerprint = fingerprint;
    return transport;
}

}  // namespace

bool ReadPasswordLine(std::FILE* in, std::string& password)
{
    password.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        password += static_cast<char>(c);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return any;
}

bool CheckFtpTarget(const FtpTargetSetup& setup, const std::string& secret, std::string& error)
{
    const std::string profile = ProfileKey(setup);
    if (!Storable("the FTP address", profile, 259, error) || !Storable("the FTP user", setup.user, kMaxAccountText, error) ||
        !Storable("the web address", setup.webaddr, 511, error))
        return false;
    if (profile.find("://") != std::string::npos) {
        error = "give the FTP address without a scheme (HOST/FOLDER) and the protocol with --protocol";
        return false;
    }
    if (profile.find(']') != std::string::npos || profile.find('#') != std::string::npos) {
        error = "the FTP address may not hold ']' or '#'";
        return false;
    }
    if (setup.port < 0 || setup.port > 65535) {
        error = "the FTP port must be from 1 to 65535";
        return false;
    }
    if (setup.key_file.empty()) {
        if (!Storable("the FTP password", secret, kMaxAccountText, error))
            return false;
    } else {
        if (setup.protocol != FtpProtocol::Sftp) {
            error = "--key-file logs in over SFTP only (--protocol sftp)";
            return false;
        }
        if (!Printable("the passphrase", secret, kMaxPassphrase, error) ||
            !Printable("the key file's path", setup.key_file, 4095, error))
            return false;
        if (access(setup.key_file.c_str(), R_OK) != 0) {
            error = "the key file " + setup.key_file + " cannot be read";
            return false;
        }
    }
    if (!setup.accept_fingerprint.empty()) {
        if (setup.protocol == FtpProtocol::Ftp) {
            error = "plain FTP cannot say who the server is: --accept-fingerprint needs --protocol ftps or sftp";
            return false;
        }
        if (!IsFingerprint(setup.accept_fingerprint)) {
            error = "--accept-fingerprint needs a fingerprint as the server shows it: SHA256: and 43 characters";
            return false;
        }
    }
    return true;
}

bool VerifyFtpServer(AppConfig& cfg, const FtpTargetSetup& setup, const std::string& secret, std::string& fingerprint,
                     std::string& error)
{
    fingerprint.clear();
    if (setup.protocol == FtpProtocol::Ftp)
        return true;
    PublishSettings settings = PublishSettingsFrom(cfg);
    settings.net_timeout_ms = kVerifyTimeoutMs;
    std::atomic<int32_t> progress{0};
    std::atomic<int32_t> state{0};
    Uploader uploader(&progress, &state, settings);
    uploader.SetFtpTarget(ProfileKey(setup), setup.user, setup.key_file.empty() ? secret : std::string(),
                          setup.passive ? 1 : 0, PortOf(setup));
    uploader.SetFtpTransport(TransportOf(setup, secret, setup.accept_fingerprint));
    if (uploader.ConnectFtp()) {
        fingerprint = setup.accept_fingerprint;
        uploader.CloseAll();
        return true;
    }
    const std::string server = uploader.FtpHost() + ":" + std::to_string(PortOf(setup));
    const ServerIdentity& identity = uploader.FtpIdentity();
    switch (identity.check) {
        case IdentityCheck::Unknown:
            error = "the server " + server + " is not known: nothing vouches for the key it shows, " +
                    identity.offered + "; nothing saved\n" +
                    "if that is your server's key (ask its administrator, or see docs/batch.md for reading it on the "
                    "server), repeat this command with --accept-fingerprint " + identity.offered;
            break;
        case IdentityCheck::Changed:
            if (identity.expected_from == "the profile")
                error = "the server " + server + " shows the key " + identity.offered + ", not the accepted " +
                        identity.expected + "; nothing saved";
            else
                error = "the server " + server + " shows the key " + identity.offered + ", but " +
                        identity.expected_from + " holds " + identity.expected +
                        " for it; nothing saved (if the server's key was really replaced, remove the old one with "
                        "ssh-keygen -R)";
            break;
        case IdentityCheck::Trusted: {
            const FtpSession& session = uploader.Ftp();
            const std::string reason = !session.LastReply().empty()
                                           ? session.LastReply()
                                           : curl_easy_strerror(static_cast<CURLcode>(session.LastError()));
            error = "cannot log in to " + server + ": " + reason + "; nothing saved";
            break;
        }
    }
    return false;
}

bool SaveFtpTarget(AppConfig& cfg, const FtpTargetSetup& setup, const std::string& secret,
                   const std::string& fingerprint, std::string& error)
{
    if (!CheckFtpTarget(setup, secret, error))
        return false;
    const std::string profile = ProfileKey(setup);
    // With a key file the password is not used, and none is kept.
    const std::string password = setup.key_file.empty() ? secret : std::string();
    bool ok = cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_user", setup.user, cfg.m_cipher) &&
              cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_passwd", password, cfg.m_cipher) &&
              cfg.m_ftp_ini.WriteText(profile, "ftp_webaddr", setup.webaddr) &&
              cfg.m_ftp_ini.WriteInt(profile, "ftp_passive", setup.passive ? 1 : 0) &&
              cfg.m_ftp_ini.WriteInt(profile, "ftp_port", PortOf(setup)) &&
              SaveFtpTransport(cfg, profile, TransportOf(setup, secret, fingerprint)) &&
              cfg.m_config_ini.WriteText("network", "ftp_url", profile) &&
              cfg.m_config_ini.WriteInt("network", "use_ftp", 1);
    if (!ok)
        error = "the settings cannot be written (see the status report)";
    return ok;
}

bool SaveServiceAccount(AppConfig& cfg, const ServiceAccountSetup& setup, const std::string& password,
                        std::string& error)
{
    if (!Storable("the account", setup.user, kMaxAccountText, error) ||
        !Storable("the password", password, kMaxAccountText, error))
        return false;
    std::string host = setup.host.empty() ? cfg.m_vazirudu_domain : setup.host;
    if (host.empty()) {
        error = "no publishing service is set: give its address with --service-host HOST";
        return false;
    }
    if (!Storable("the service host", host, 127, error))
        return false;
    bool ok = true;
    if (!setup.host.empty())
        ok = WriteServiceHostKeys(cfg.m_config_ini, host);  // the books are read where the service serves them
    ok = ok && cfg.m_http_user_ini.WriteEnciphered(setup.user + "#" + host, "http_passwd", password, cfg.m_cipher) &&
         cfg.m_config_ini.WriteText("network", "vazirudu_user", setup.user) &&
         cfg.m_config_ini.WriteInt("network", "use_vazirudu", 1);
    if (!ok)
        error = "the settings cannot be written (see the status report)";
    return ok;
}
