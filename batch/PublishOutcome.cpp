#include "batch/PublishOutcome.h"

#include <algorithm>

#include "config/AppConfig.h"
#include "pipeline/BookAddress.h"

namespace {
bool Noted(const std::vector<std::string>& notes, const std::string& text)
{
    return std::find(notes.begin(), notes.end(), text) != notes.end();
}
}  // namespace

std::vector<std::string> MissedTargets(const AppConfig& cfg, const std::string& key,
                                       const std::vector<std::string>& notes)
{
    std::vector<std::string> missed;
    const IniFile& meta = cfg.m_meta_ini;
    if (meta.ReadInt(key, "use_ftp") > 0) {
        const std::string address = FtpBookAddress(meta.ReadText(key, "ftp_webaddr", 512), key);
        if (!Noted(notes, "published at " + address))
            missed.push_back("the FTP server " + meta.ReadText(key, "ftp_url", 260));
    }
    if (meta.ReadInt(key, "use_vazirudu") > 0) {
        const std::string address = WebServiceBookAddress(cfg.m_vazirudu_webaddr, key);
        if (!Noted(notes, "published at " + address))
            missed.push_back("the publishing service " + cfg.m_vazirudu_domain);
    }
    return missed;
}
