#include "pipeline/SubmitJob.h"

#include <memory>
#include <sys/stat.h>

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"
#include "pipeline/PdfItemList.h"

namespace {
const char kModule[] = "MainDlg";
}  // namespace

void TakeClassificationFrom(const AppConfig& cfg, SubmitRequest& request)
{
    request.cat_id = cfg.m_cat_id;
    request.subcat_id = cfg.m_subcat_id;
    request.country_id = cfg.m_country_id;
    request.state_id = cfg.m_state_id;
    request.city_id = cfg.m_city_id;
}

JobTargets TargetsFromSettings(const AppConfig& cfg)
{
    JobTargets t;
    t.use_ftp = cfg.m_use_ftp;
    t.use_vazirudu = cfg.m_use_vazirudu;
    t.ftp_url = cfg.m_ftp_url;
    t.ftp_webaddr = cfg.m_ftp_webaddr;
    t.vazirudu_user = cfg.m_vazirudu_user;
    return t;
}

int SubmitJob(AppConfig& cfg, JobTable& table, const SubmitRequest& request, JobTargets& targets,
              bool remember, CPdfItemList* list, std::string* key_out, JobObserver* notify)
{
    struct stat st{};
    if (stat(request.pdf_path.c_str(), &st) != 0) {
        DIAG(kModule, errno, "ERR:File missing:%s", request.pdf_path.c_str());
        return -1;
    }
    // A path that would not read back as itself would leave a job that can never run.
    for (const std::string& path : {request.pdf_path, targets.export_folder}) {
        std::string reason = UnstorablePathReason(path);
        if (!reason.empty() && !path.empty()) {
            DIAG(kModule, 0, "ERR:%s cannot be stored: %s", path.c_str(), reason.c_str());
            return -1;
        }
    }
    std::string key = NewJobKey();
    if (key.empty())
        return -1;
    if (key_out)
        *key_out = key;

    DateTimeRecord now = CurrentUtcTime();
    if (list) {
        auto item = std::make_unique<PdfItem>();
        item->progress = 0;
        item->state = JOB_STATE_RUNNING;
        item->result_code = 0;
        item->timestamp = now;
        item->key = key;
        item->pdf_path = request.pdf_path;
        list->AddRow(list->RowCount(), std::move(item), false);
    }

    JobSection section;
    section.pdf_url = request.pdf_path;
    section.title = request.title;
    section.tags = request.tags;
    section.description = request.description;
    section.pagenum = request.pagenum;
    section.pagewidth = request.pagewidth;
    section.pageheight = request.pageheight;
    section.timestamp = now;
    JobParams& p = section.params;
    p.use_ftp = targets.use_ftp;
    p.use_vazirudu = targets.use_vazirudu;
    p.preview_quality = cfg.m_preview_quality;
    p.preview_smooth = cfg.m_preview_smooth;
    p.zoomin_quality = cfg.m_zoomin_quality;
    p.zoomin_smooth = cfg.m_zoomin_smooth;
    p.dpi = cfg.m_dpi;
    p.cat_id = request.cat_id;
    p.subcat_id = request.subcat_id;
    p.country_id = request.country_id;
    p.state_id = request.state_id;
    p.city_id = request.city_id;
    section.ftp_url = targets.ftp_url;
    section.ftp_webaddr = targets.ftp_webaddr;
    section.vazirudu_user = targets.vazirudu_user;
    if (targets.export_requested) {
        section.export_folder = targets.export_folder;
        p.export_flag = 1;
    }
    if (!WriteJobSection(cfg.m_meta_ini, cfg.m_meta_w_ini, key, section))
        DIAG(kModule, errno, "ERR:cannot write the job section %s", key.c_str());

    if (remember) {
        if (targets.use_ftp)
            cfg.m_config_ini.WriteText("network", "ftp_url", targets.ftp_url);
        if (targets.export_requested) {
            cfg.m_config_ini.WriteText("general", "export_folder", targets.export_folder);
            cfg.m_export_folder = targets.export_folder;
            targets.export_requested = false;
        }
        cfg.m_config_ini.WriteInt("network", "use_ftp", targets.use_ftp);
        cfg.m_config_ini.WriteInt("network", "use_vazirudu", targets.use_vazirudu);
        if (targets.use_vazirudu)
            cfg.m_config_ini.WriteText("network", "vazirudu_user", targets.vazirudu_user);
    }
    return table.LaunchJob(key, p, notify, 0);
}

int RelaunchItem(AppConfig& cfg, JobTable& table, const PdfItem& item, int32_t initial_progress,
                 JobObserver* notify)
{
    // The key names the book folder the worker writes into: only a well-formed key is
    // launched.
    if (!IsJobKey(item.key)) {
        DIAG("ProcessPdfThread", 0, "ERR:invalid job key %s skipped", item.key.c_str());
        return -1;
    }
    JobParams params = ReadJobParams(cfg.m_meta_ini, item.key);
    if (params.dpi < 1)
        return -1;
    const int32_t progress = initial_progress == -1 ? item.progress : initial_progress;
    if (initial_progress == 0 && item.progress == kProgressFinished && params.use_vazirudu)
        return -2;
    params.export_flag = 0;
    table.LaunchJob(item.key, params, notify, progress);
    return 0;
}

int RelaunchSelected(AppConfig& cfg, JobTable& table, CPdfItemList& list, int32_t initial_progress,
                     JobObserver* notify)
{
    if (list.SelectionMark() < 0)
        return -1;
    for (int row : list.SelectedRows()) {
        const PdfItem* item = list.Item(row);
        if (item && RelaunchItem(cfg, table, *item, initial_progress, notify) == -2)
            return -2;
    }
    return 0;
}
