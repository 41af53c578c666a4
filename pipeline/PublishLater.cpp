#include "pipeline/PublishLater.h"

#include "config/AppConfig.h"
#include "config/JobKey.h"
#include "pipeline/JobSection.h"
#include "pipeline/PdfJob.h"
#include "pipeline/SubmitJob.h"

#include <filesystem>

std::string PrepareLaterPublication(AppConfig& cfg, const std::string& key)
{
    IniFile& meta = cfg.m_meta_ini;
    if (!IsJobKey(key) || meta.ReadText(key, "pdf_url", kJobPathBytes).empty())
        return "no book with this key";
    if (!IsFinished(meta, key))
        return "the book is not finished; resume it with --resume";
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(cfg.m_books_folder) / key / "index.html", error))
        return "the book's folder is missing from the books folder";
    const JobTargets targets = TargetsFromSettings(cfg);
    if (!targets.use_ftp && !targets.use_vazirudu)
        return "no publishing target is configured (see --set-ftp-target and --set-service-account)";
    bool ok = meta.WriteInt(key, "use_ftp", targets.use_ftp) && meta.WriteInt(key, "use_vazirudu", targets.use_vazirudu);
    if (targets.use_ftp)
        ok = ok && meta.WriteText(key, "ftp_url", targets.ftp_url) && meta.WriteText(key, "ftp_webaddr", targets.ftp_webaddr);
    if (targets.use_vazirudu)
        ok = ok && meta.WriteText(key, "vazirudu_user", targets.vazirudu_user);
    // The conversion is done: a resume goes straight to the login and upload.
    ok = ok && WriteJobProgress(meta, key, kProgressPrintDone);
    return ok ? std::string() : "the job list cannot be written";
}
