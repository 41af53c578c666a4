#include "batch/PublishOutcome.h"

#include <algorithm>

#include "config/AppConfig.h"
#include "pipeline/BookAddress.h"

std::vector<JobTarget> JobTargetsOf(const AppConfig& cfg, const std::string& key,
                                    const std::vector<std::string>& notes)
{
    std::vector<JobTarget> targets;
    const IniFile& meta = cfg.m_meta_ini;
    if (meta.ReadInt(key, "use_ftp") > 0)
        targets.push_back({"ftp", "the FTP server " + meta.ReadText(key, "ftp_url", 260),
                           FtpBookAddress(meta.ReadText(key, "ftp_webaddr", 512), key)});
    if (meta.ReadInt(key, "use_vazirudu") > 0)
        targets.push_back({"service", "the publishing service " + cfg.m_vazirudu_domain,
                           WebServiceBookAddress(cfg.m_vazirudu_webaddr, key)});
    for (JobTarget& target : targets)
        target.reached = std::find(notes.begin(), notes.end(), "published at " + target.address) != notes.end();
    return targets;
}

std::vector<std::string> MissedTargets(const AppConfig& cfg, const std::string& key,
                                       const std::vector<std::string>& notes)
{
    std::vector<std::string> missed;
    for (const JobTarget& target : JobTargetsOf(cfg, key, notes))
        if (!target.reached)
            missed.push_back(target.description);
    return missed;
}
