#include "batch/TargetSetup.h"

#include <cstdio>

#include "config/AppConfig.h"

namespace {

// The account fields of the publishing protocols hold at most 31 bytes.
constexpr size_t kMaxAccountText = 31;

bool Storable(const std::string& name, const std::string& text, size_t limit, std::string& error)
{
    if (text.empty()) {
        error = name + " is empty";
        return false;
    }
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

bool SaveFtpTarget(AppConfig& cfg, const FtpTargetSetup& setup, const std::string& password, std::string& error)
{
    std::string profile = setup.profile;
    if (profile.rfind("ftp://", 0) == 0)
        profile.erase(0, 6);
    if (!Storable("the FTP address", profile, 259, error) || !Storable("the FTP user", setup.user, kMaxAccountText, error) ||
        !Storable("the FTP password", password, kMaxAccountText, error) ||
        !Storable("the web address", setup.webaddr, 511, error))
        return false;
    if (profile.find(']') != std::string::npos || profile.find('#') != std::string::npos) {
        error = "the FTP address may not hold ']' or '#'";
        return false;
    }
    if (setup.port < 1 || setup.port > 65535) {
        error = "the FTP port must be from 1 to 65535";
        return false;
    }
    bool ok = cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_user", setup.user, cfg.m_cipher) &&
              cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_passwd", password, cfg.m_cipher) &&
              cfg.m_ftp_ini.WriteText(profile, "ftp_webaddr", setup.webaddr) &&
              cfg.m_ftp_ini.WriteInt(profile, "ftp_passive", setup.passive ? 1 : 0) &&
              cfg.m_ftp_ini.WriteInt(profile, "ftp_port", setup.port) &&
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
    if (!Storable("the service host", host, 127, error))
        return false;
    bool ok = true;
    if (!setup.host.empty()) {
        // The books are read where the service serves them.
        std::string base = host.rfind("http://", 0) == 0 || host.rfind("https://", 0) == 0 ? host : "http://" + host;
        if (base.back() != '/')
            base += '/';
        ok = cfg.m_config_ini.WriteText("network", "vazirudu_domain", host) &&
             cfg.m_config_ini.WriteText("network", "vazirudu_webaddr", base + "vellumark/");
    }
    ok = ok && cfg.m_http_user_ini.WriteEnciphered(setup.user + "#" + host, "http_passwd", password, cfg.m_cipher) &&
         cfg.m_config_ini.WriteText("network", "vazirudu_user", setup.user) &&
         cfg.m_config_ini.WriteInt("network", "use_vazirudu", 1);
    if (!ok)
        error = "the settings cannot be written (see the status report)";
    return ok;
}
