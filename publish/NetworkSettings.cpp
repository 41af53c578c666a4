#include "publish/NetworkSettings.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "publish/ClassificationDb.h"
#include "publish/PublishSettings.h"
#include "publish/Uploader.h"

#include <atomic>

namespace {

constexpr const char* kModule = "BaseNetworkDlg";
// The login test runs while the dialog waits: it must not hang on a silent network.
constexpr int32_t kLoginTimeoutMs = 15000;

std::string Trimmed(const std::string& text)
{
    const char* blanks = " \t\n\r";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::string FtpProfileKey(const std::string& host, const std::string& subdir)
{
    std::string key = host;
    if (key.rfind("ftp://", 0) == 0)
        key.erase(0, 6);
    if (key.empty())
        return {};
    if (subdir.empty() || subdir.front() != '/')
        key += '/';
    return key + subdir;
}

FtpProfile FtpProfileFromKey(const std::string& key)
{
    FtpProfile profile;
    const size_t slash = key.find('/');
    profile.host = key.substr(0, slash);
    if (slash != std::string::npos)
        profile.subdir = key.substr(slash + 1);
    return profile;
}

FtpProfile ReadFtpProfile(AppConfig& cfg, const std::string& key)
{
    FtpProfile profile = FtpProfileFromKey(key);
    profile.user = cfg.m_ftp_ini.ReadEnciphered(key, "ftp_user", cfg.m_cipher);
    profile.password = cfg.m_ftp_ini.ReadEnciphered(key, "ftp_passwd", cfg.m_cipher);
    profile.webaddr = cfg.m_ftp_ini.ReadText(key, "ftp_webaddr", 512);
    // A missing flag means passive, as when the profile is loaded at start-up.
    profile.passive = cfg.m_ftp_ini.ReadInt(key, "ftp_passive") == 0 ? 0 : 1;
    profile.port = cfg.m_ftp_ini.ReadInt(key, "ftp_port");
    if (profile.port <= 0)
        profile.port = 21;
    return profile;
}

std::string SaveFtpProfile(AppConfig& cfg, const FtpProfile& profile)
{
    const std::string key = FtpProfileKey(profile.host, profile.subdir);
    if (key.empty())
        return {};
    IniFile& ini = cfg.m_ftp_ini;
    ini.WriteEnciphered(key, "ftp_user", profile.user, cfg.m_cipher);
    ini.WriteEnciphered(key, "ftp_passwd", profile.password, cfg.m_cipher);
    ini.WriteText(key, "ftp_webaddr", profile.webaddr);
    ini.WriteInt(key, "ftp_passive", profile.passive);
    ini.WriteInt(key, "ftp_port", profile.port);
    return key;
}

const char* FtpProtocolName(FtpProtocol protocol)
{
    switch (protocol) {
        case FtpProtocol::Ftps:
            return "ftps";
        case FtpProtocol::Sftp:
            return "sftp";
        case FtpProtocol::Ftp:
            break;
    }
    return "ftp";
}

bool ParseFtpProtocol(const std::string& name, FtpProtocol& protocol)
{
    for (FtpProtocol each : {FtpProtocol::Ftp, FtpProtocol::Ftps, FtpProtocol::Sftp}) {
        if (name == FtpProtocolName(each)) {
            protocol = each;
            return true;
        }
    }
    return false;
}

int32_t DefaultFtpPort(FtpProtocol protocol)
{
    return protocol == FtpProtocol::Sftp ? 22 : 21;
}

FtpTransport ReadFtpTransport(const IniFile& ftp_ini, Rijndael& cipher, const std::string& key)
{
    FtpTransport transport;
    const std::string name = ftp_ini.ReadText(key, "protocol", 16);
    if (!name.empty() && !ParseFtpProtocol(name, transport.protocol)) {
        DIAG(kModule, 0, "ERR:ftp profile %s: unknown protocol %s", key.c_str(), name.c_str());
        transport.unknown_protocol = name;
    }
    transport.key_file = ftp_ini.ReadText(key, "key_file", 4096);
    transport.passphrase = ftp_ini.ReadEnciphered(key, "passphrase", cipher);
    transport.fingerprint = ftp_ini.ReadText(key, "fingerprint", 128);
    transport.key_type = ftp_ini.ReadText(key, "key_type", 32);
    return transport;
}

FtpTransport ReadFtpTransport(AppConfig& cfg, const std::string& key)
{
    return ReadFtpTransport(cfg.m_ftp_ini, cfg.m_cipher, key);
}

bool SaveFtpTransport(AppConfig& cfg, const std::string& key, const FtpTransport& transport)
{
    if (key.empty())
        return false;
    IniFile& ini = cfg.m_ftp_ini;
    return ini.WriteText(key, "protocol", FtpProtocolName(transport.protocol)) &&
           ini.WriteText(key, "key_file", transport.key_file) &&
           ini.WriteEnciphered(key, "passphrase", transport.passphrase, cfg.m_cipher) &&
           ini.WriteText(key, "fingerprint", transport.fingerprint) &&
           ini.WriteText(key, "key_type", transport.fingerprint.empty() ? std::string() : transport.key_type);
}

bool ConfirmServerFingerprint(AppConfig& cfg, const std::string& key, const std::string& fingerprint,
                              const std::string& key_type)
{
    if (key.empty() || !IsFingerprint(fingerprint))
        return false;
    return cfg.m_ftp_ini.WriteText(key, "fingerprint", fingerprint) &&
           cfg.m_ftp_ini.WriteText(key, "key_type", key_type);
}

void SetPublishingMode(AppConfig& cfg, PublishingMode mode)
{
    cfg.m_use_local = mode == PublishingMode::kLocal ? 1 : 0;
    cfg.m_use_ftp = mode == PublishingMode::kFtp ? 1 : 0;
    cfg.m_use_vazirudu = mode == PublishingMode::kWebService ? 1 : 0;
    cfg.m_config_ini.WriteInt("network", "use_local", cfg.m_use_local);
    cfg.m_config_ini.WriteInt("network", "use_ftp", cfg.m_use_ftp);
    cfg.m_config_ini.WriteInt("network", "use_vazirudu", cfg.m_use_vazirudu);
}

std::string AccountSection(const std::string& user, const std::string& host)
{
    return Trimmed(user) + "#" + Trimmed(host);
}

std::string ReadAccountPassword(AppConfig& cfg, const std::string& user)
{
    if (user.empty())
        return {};
    return cfg.m_http_user_ini.ReadEnciphered(AccountSection(user, cfg.m_vazirudu_domain), "http_passwd",
                                              cfg.m_cipher);
}

namespace {

void SaveAccount(AppConfig& cfg, const NetworkChoice& choice)
{
    const std::string& host = cfg.m_vazirudu_domain;
    cfg.m_http_ini.WriteInt(host, "http_port", 80);
    cfg.m_http_ini.WriteText(host, "http_url", cfg.m_vazirudu_url);
    if (choice.user.empty())
        return;
    cfg.m_http_ini.WriteText(host, "http_user", choice.user);
    cfg.m_http_user_ini.WriteEnciphered(AccountSection(choice.user, host), "http_passwd", choice.password,
                                        cfg.m_cipher);
    // Jobs take the account from the configuration, so it is kept there too.
    cfg.m_vazirudu_user = choice.user;
    cfg.m_config_ini.WriteText("network", "vazirudu_user", choice.user);
}

void SaveClassification(AppConfig& cfg, const NetworkChoice& choice)
{
    const ClassificationDb db(cfg.db());
    if (!db.CategoryIds(choice.category, choice.subcategory, cfg.m_cat_id, cfg.m_subcat_id)) {
        DIAG(kModule, 0, "ERR:get_category_ids failed");
        cfg.m_cat_id = cfg.m_subcat_id = 0;
    }
    if (!db.PlaceIds(choice.country, choice.state, choice.city, cfg.m_country_id, cfg.m_state_id, cfg.m_city_id)) {
        DIAG(kModule, 0, "ERR:get_category_ids failed");
        cfg.m_country_id = cfg.m_state_id = cfg.m_city_id = 0;
    }
    IniFile& ini = cfg.m_config_ini;
    ini.WriteInt("general", "cat_id", cfg.m_cat_id);
    ini.WriteInt("general", "subcat_id", cfg.m_subcat_id);
    ini.WriteInt("general", "country_id", cfg.m_country_id);
    ini.WriteInt("general", "state_id", cfg.m_state_id);
    ini.WriteInt("general", "city_id", cfg.m_city_id);
}

void SaveFtpChoice(AppConfig& cfg, const NetworkChoice& choice)
{
    if (choice.ftp_url.empty())
        return;
    const std::string webaddr = cfg.m_ftp_ini.ReadText(choice.ftp_url, "ftp_webaddr", 512);
    if (webaddr.empty())
        return;
    cfg.m_config_ini.WriteText("network", "ftp_url", choice.ftp_url);
    // The current profile's fields (account, port, web address) follow the new choice.
    cfg.ReadFtpProfile();
}

}  // namespace

void SaveNetworkChoice(AppConfig& cfg, const NetworkChoice& choice)
{
    if (choice.use_service) {
        SaveAccount(cfg, choice);
        SaveClassification(cfg, choice);
    }
    if (choice.use_ftp)
        SaveFtpChoice(cfg, choice);
    cfg.m_use_ftp = choice.use_ftp ? 1 : 0;
    cfg.m_use_vazirudu = choice.use_service ? 1 : 0;
    cfg.m_config_ini.WriteInt("network", "use_ftp", cfg.m_use_ftp);
    cfg.m_config_ini.WriteInt("network", "use_vazirudu", cfg.m_use_vazirudu);
}

ServiceLogin TestServiceLogin(const AppConfig& cfg, const std::string& user, const std::string& password)
{
    PublishSettings settings = PublishSettingsFrom(cfg);
    settings.net_timeout_ms = kLoginTimeoutMs;
    std::atomic<int32_t> progress{0};
    std::atomic<int32_t> state{0};
    Uploader uploader(&progress, &state, settings);
    uploader.SetHttpTarget(cfg.m_vazirudu_domain, 80, cfg.m_vazirudu_url);
    if (!uploader.ConnectHttp() || uploader.LoginHttp(user, password) <= 0) {
        uploader.ReportLoginFailure(user);
        return uploader.ServiceAnswered() ? ServiceLogin::kRefused : ServiceLogin::kNoService;
    }
    return ServiceLogin::kLoggedIn;
}
