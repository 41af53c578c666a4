// The two commands on a processed book of the advanced page: update it with a new PDF
// and publish it afterwards. Both ready the book's job section through the pipeline and
// then run the job like a restarted one, its row in the queue list until it is finished.
#include "ui/CAdvModeTab.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "config/Folders.h"
#include "pipeline/BookUpdate.h"
#include "pipeline/EngineRun.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"
#include "pipeline/PublishLater.h"
#include "pipeline/SubmitJob.h"
#include "ui/CDlgLocalize.h"
#include "ui/UserPrompts.h"

#include <memory>

namespace {

constexpr const char* kModule = "AdvModeTab";

// Whether the current settings name a target a book can be published to.
bool HasPublishingTarget(const JobTargets& targets)
{
    return (targets.use_ftp && !targets.ftp_url.empty()) || (targets.use_vazirudu && !targets.vazirudu_user.empty());
}

}  // namespace

void CAdvModeTab::BookCommandError(const QString& text)
{
    QString line = text;
    emit StatusText(line.replace(QLatin1Char('\n'), QLatin1Char(' ')));
    PromptRequest request;
    request.caption = QStringLiteral("Vellumark");
    request.text = text;
    ShowPrompt(this, request);
}

std::string CAdvModeTab::BookForCommand(bool update)
{
    const std::string key = SelectedKey();
    if (key.empty()) {
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "select_process_item"));
        return {};
    }
    if (IsSlotBusy(key)) {
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "stop_before_update"));
        return {};
    }
    // An update that failed or was stopped may be started again with another PDF, and an
    // upload that did not finish may be continued.
    const IniFile& meta = cfg_.m_meta_ini;
    if (!IsFinished(meta, key) && !(update && meta.ReadInt(key, kUpdatePendingKey) == 1) &&
        !(!update && UploadUnfinished(key))) {
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "finished_book_only"));
        return {};
    }
    // The job is launched again only into a free slot: a book readied for a job that
    // cannot start would wait unseen.
    if (!table_.HasFreeSlot()) {
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "queue_full"));
        return {};
    }
    return key;
}

void CAdvModeTab::UpdateBook()
{
    const std::string key = BookForCommand(true);
    if (key.empty())
        return;
    const QString chosen = ChoosePdfFile(this, QString::fromStdString(folders::DocumentsFolder()));
    if (chosen.isEmpty())
        return;
    const std::string pdf = chosen.toStdString();
    // A file the engine cannot read reports no pages, which the preparation refuses.
    EngineDocInfo info;
    EngineRun::QueryInfo(cfg_.m_dpi, cfg_.m_engine_path, pdf, info);
    const std::string why =
        PrepareBookUpdate(cfg_, key, pdf, info.page_count, info.page_width, info.page_height);
    if (!why.empty()) {
        DIAG(kModule, 0, "INF:book %s not updated: %s", key.c_str(), why.c_str());
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "update_refused") + QLatin1Char('\n') +
                         QString::fromStdString(why));
        return;
    }
    LaunchPreparedBook(key);
    emit StatusText(CDlgLocalize::Lookup("ADVANCED", "status_update").arg(chosen));
}

bool CAdvModeTab::UploadUnfinished(const std::string& key) const
{
    const IniFile& meta = cfg_.m_meta_ini;
    const bool for_web = meta.ReadInt(key, "use_ftp") == 1 || meta.ReadInt(key, "use_vazirudu") == 1;
    return for_web && !IsFinished(meta, key) && ReadJobProgress(meta, key) >= kProgressPrintDone;
}

void CAdvModeTab::PublishBook()
{
    const std::string key = BookForCommand(false);
    if (key.empty())
        return;
    // The same job continues where its upload ended, to the targets it was made for.
    if (UploadUnfinished(key)) {
        LaunchPreparedBook(key);
        emit StatusText(CDlgLocalize::Lookup("ADVANCED", "status_publish"));
        return;
    }
    const JobTargets targets = TargetsFromSettings(cfg_);
    if (!HasPublishingTarget(targets)) {
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "publish_no_target"));
        return;
    }
    // The service lists a book by its title, keywords and description.
    if (targets.use_vazirudu) {
        const IniFile& meta_w = cfg_.m_meta_w_ini;
        for (const char* text : {"title", "tags", "description"})
            if (TrimJobText(meta_w.ReadWide(key, text)).empty()) {
                BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "meta_data_required"));
                return;
            }
    }
    const std::string why = PrepareLaterPublication(cfg_, key);
    if (!why.empty()) {
        DIAG(kModule, 0, "INF:book %s not published: %s", key.c_str(), why.c_str());
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "publish_refused") + QLatin1Char('\n') +
                         QString::fromStdString(why));
        return;
    }
    LaunchPreparedBook(key);
    emit StatusText(CDlgLocalize::Lookup("ADVANCED", "status_publish"));
}

bool CAdvModeTab::ContinueUnfinishedUpload(const std::string& key)
{
    if (!UploadUnfinished(key) || IsSlotBusy(key) || !table_.HasFreeSlot())
        return false;
    LaunchPreparedBook(key);
    return table_.FindSlotByKey(key) >= 0;
}

void CAdvModeTab::LaunchPreparedBook(const std::string& key)
{
    const IniFile& meta = cfg_.m_meta_ini;
    const int32_t progress = ReadJobProgress(meta, key);
    {
        // The job is unfinished again: its row leaves the processed list for the queue,
        // from where it returns once the job ends finished.
        std::lock_guard<std::mutex> processed_guard(processed_.Lock());
        std::lock_guard<std::mutex> queue_guard(queue_.Lock());
        std::unique_ptr<PdfItem> item;
        const int processed_row = processed_.FindRowByKey(key);
        const int queue_row = queue_.FindRowByKey(key);
        if (processed_row >= 0)
            item = processed_.TakeRow(processed_row);
        else if (queue_row >= 0)
            item = queue_.TakeRow(queue_row);
        if (!item) {
            item = std::make_unique<PdfItem>();
            item->key = key;
            meta.ReadDateTime(key, "timestamp", item->timestamp);
        }
        item->pdf_path = meta.ReadText(key, "pdf_url", kJobPathBytes);
        item->progress = progress;
        item->state = JOB_STATE_RUNNING;
        item->result_code = 0;
        item->failed = false;
        queue_.AddRow(queue_.RowCount(), std::move(item), false);
    }
    if (table_.LaunchJob(key, ReadJobParams(meta, key), notify_, progress) < 0) {
        // The job stays ready in the queue list; Resume starts it.
        DIAG(kModule, 0, "ERR:job %s could not be launched", key.c_str());
        BookCommandError(CDlgLocalize::Lookup("MESSAGEBOX", "queue_full"));
    } else {
        emit JobStarted(QString::fromStdString(key));
    }
    RefreshQueue();
}
