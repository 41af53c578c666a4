// The ten toolbar commands of the advanced page, and the dispatch of every command (the
// processed list's Update and Publish are in AdvModeBookCommands.cpp).
#include "ui/CAdvModeTab.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/JobKey.h"
#include "pipeline/ExportBook.h"
#include "pipeline/ExportTarget.h"
#include "pipeline/JobTable.h"
#include "pipeline/SubmitJob.h"
#include "ui/BookOpener.h"
#include "ui/CDlgLocalize.h"
#include "ui/HelpGuide.h"
#include "ui/COptionDlg.h"
#include "ui/PdfListView.h"
#include "ui/UserPrompts.h"
#include "ui/wizard/BookLocations.h"

#include <QDir>
#include <QUrl>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr const char* kModule = "AdvModeTab";

// True when `folder` is a direct sub-folder of `books` (after resolving links), so that
// deleting it can never reach anything outside the books folder.
bool IsBookFolderInside(const std::string& books, const std::string& folder)
{
    std::error_code ec;
    const fs::path real_books = fs::canonical(books, ec);
    if (ec)
        return false;
    const fs::path real_folder = fs::canonical(folder, ec);
    return !ec && real_folder.parent_path() == real_books && !fs::is_symlink(folder, ec);
}

}  // namespace

void CAdvModeTab::RunCommand(int command)
{
    switch (command) {
    case kRestart: Restart(); break;
    case kStop: Stop(); break;
    case kResume: Resume(); break;
    case kProperties: Properties(); break;
    case kPreview: Preview(); break;
    case kDirectory: Directory(); break;
    case kDelete: Delete(); break;
    case kExport: Export(); break;
    case kHelp: Help(); break;
    case kExit: emit ExitRequested(); break;
    case kUpdateBook: UpdateBook(); break;
    case kPublishBook: PublishBook(); break;
    default: break;
    }
}

// The list a command on one book acts on. When only one list has a selection, that one.
// When both have, the list with the keyboard focus (where the user works), else the one
// selected, clicked or focused most recently: a selection made by an assistive tool
// without focus counts as the latest choice.
bool CAdvModeTab::ProcessedListActive() const
{
    const bool queue_selected = queue_.SelectionMark() >= 0;
    const bool processed_selected = processed_.SelectionMark() >= 0;
    if (queue_selected != processed_selected)
        return processed_selected;
    if (processed_view_->hasFocus())
        return true;
    if (queue_view_->hasFocus())
        return false;
    return processed_active_;
}

std::string CAdvModeTab::SelectedKey()
{
    CPdfItemList& list = ProcessedListActive() ? processed_ : queue_;
    std::lock_guard<std::mutex> guard(list.Lock());
    const std::vector<int> rows = list.SelectedRows();
    if (rows.empty())
        return {};
    return list.Item(rows.front())->key.substr(0, 63);
}

bool CAdvModeTab::IsSlotBusy(const std::string& key) const
{
    const int slot = table_.FindSlotByKey(key);
    return slot >= 0 && table_.Slot(slot).state.load() != JOB_STATE_FREE;
}

bool CAdvModeTab::StopSelected(std::vector<int>* stopped)
{
    bool any_selection = false;
    for (CPdfItemList* list : {&queue_, &processed_}) {
        if (list->SelectionMark() < 0)
            continue;
        any_selection = true;
        for (int row : list->SelectedRows()) {
            const int slot = table_.FindSlotByKey(list->Item(row)->key);
            if (slot >= 0 && table_.Slot(slot).state.load() != JOB_STATE_FREE) {
                table_.RequestStop(slot);
                if (stopped)
                    stopped->push_back(slot);
            }
        }
    }
    return any_selection;
}

void CAdvModeTab::Stop()
{
    if (!StopSelected(nullptr)) {
        Message("select_process_item");
        return;
    }
    // A stop asked after a restart wins: the job stays stopped.
    for (CPdfItemList* list : {&queue_, &processed_})
        for (int row : list->SelectedRows())
            std::erase(pending_restarts_, list->Item(row)->key);
}

void CAdvModeTab::Restart()
{
    std::vector<int> stopped;
    if (!StopSelected(&stopped)) {
        Message("select_process_item");
        return;
    }
    // A stopping job still holds its slot and cannot be launched again until its worker
    // lets go of it, which may take a while (an upload ending its transfer). The restart
    // waits for that on a timer, never on the window thread.
    for (CPdfItemList* list : {&queue_, &processed_})
        for (int row : list->SelectedRows())
            if (std::find(pending_restarts_.begin(), pending_restarts_.end(), list->Item(row)->key) ==
                pending_restarts_.end())
                pending_restarts_.push_back(list->Item(row)->key);
    RestartStoppedJobs();
    if (!pending_restarts_.empty()) {
        emit StatusText(CDlgLocalize::Lookup("ADVANCED", "status_restart_waiting"));
        restart_timer_.start();
    }
}

void CAdvModeTab::RestartStoppedJobs()
{
    table_.RecountRunning();
    bool relaunched = false;
    for (auto it = pending_restarts_.begin(); it != pending_restarts_.end();) {
        if (IsSlotBusy(*it)) {
            ++it;
            continue;
        }
        // The row may have moved to the other list meanwhile, or been deleted.
        for (CPdfItemList* list : {&queue_, &processed_}) {
            const int row = list->FindRowByKey(*it);
            if (row < 0)
                continue;
            if (RelaunchItem(cfg_, table_, *list->Item(row), 0, notify_) == -2)
                DIAG(kModule, 0, "ERR:re-upload of a finished book to the web service refused");
            relaunched = true;
            break;
        }
        it = pending_restarts_.erase(it);
    }
    if (pending_restarts_.empty())
        restart_timer_.stop();
    if (relaunched)
        RefreshQueue();
}

void CAdvModeTab::Resume()
{
    const int32_t upload = cfg_.m_config_ini.ReadInt("general", "upload_pdf");
    cfg_.m_upload_pdf = upload < 0 ? 0 : upload;
    if (queue_.SelectionMark() < 0 && processed_.SelectionMark() < 0) {
        Message("select_process_item");
        return;
    }
    RelaunchSelected(cfg_, table_, queue_, -1, notify_);
    RelaunchSelected(cfg_, table_, processed_, -1, notify_);
    RefreshQueue();
}

void CAdvModeTab::Properties()
{
    const std::string key = SelectedKey();
    if (key.empty()) {
        Message("select_process_item");
        return;
    }
    if (IsSlotBusy(key)) {
        Message("stop_before_property");
        return;
    }
    IniFile& meta_w = cfg_.m_meta_w_ini;
    COptionDlg dialog(this);
    dialog.SetValues(QString::fromStdString(meta_w.ReadWide(key, "title")).left(511),
                     QString::fromStdString(meta_w.ReadWide(key, "tags")).left(511),
                     QString::fromStdString(meta_w.ReadWide(key, "description")).left(1023));
    dialog.ShowEmbedCodes(cfg_, key);
    if (dialog.exec() != QDialog::Accepted)
        return;
    meta_w.WriteWide(key, "title", dialog.Title().toStdString());
    meta_w.WriteWide(key, "tags", dialog.Keywords().toStdString());
    meta_w.WriteWide(key, "description", dialog.Description().toStdString());
    if (dialog.PublishRequested())
        PublishBook();
}

void CAdvModeTab::Preview()
{
    const std::string key = SelectedKey();
    if (key.empty()) {
        Message("select_process_item");
        return;
    }
    // An address the upload never reached would only show an error page.
    if (LocateBook(cfg_, key).upload_unfinished) {
        if (CDlgLocalize::MessageBoxByKey(this, "upload_unfinished", QMessageBox::Yes | QMessageBox::No,
                                          QMessageBox::Yes) == QMessageBox::Yes)
            PublishBook();
        return;
    }
    OpenBook(cfg_, key, "BaseViewDlg");
}

void CAdvModeTab::Directory()
{
    const std::string key = SelectedKey();
    if (key.empty()) {
        Message("select_process_item");
        return;
    }
    const std::string folder = JoinPath(cfg_.m_books_folder, key);
    if (!IsFolder(folder)) {
        Message("converted_file_not_found");
        return;
    }
    OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString(folder)), kModule);
}

void CAdvModeTab::Delete()
{
    if (SelectedKey().empty()) {
        Message("select_process_item");
        return;
    }
    if (CDlgLocalize::MessageBoxByKey(this, "delete_confirm", QMessageBox::Yes | QMessageBox::No,
                                      QMessageBox::No) != QMessageBox::Yes)
        return;
    // The lists may have changed while the question was open: take the selection now.
    const bool processed = ProcessedListActive();
    const std::string key = SelectedKey();
    CPdfItemList& list = processed ? processed_ : queue_;
    if (key.empty()) {
        Message("select_process_item");
        return;
    }
    if (IsSlotBusy(key)) {
        Message("stop_before_delete");
        return;
    }
    // Only a folder named by a well-formed job key directly inside the books folder is
    // ever deleted, whatever the job records say.
    const std::string folder = JoinPath(cfg_.m_books_folder, key);
    if (IsJobKey(key) && IsFolder(folder)) {
        if (!IsBookFolderInside(cfg_.m_books_folder, folder)) {
            DIAG(kModule, 0, "ERR:%s is not a book folder; not deleted", folder.c_str());
        } else {
            std::error_code ec;
            fs::remove_all(folder, ec);
            if (ec)
                DIAG(kModule, ec.value(), "ERR:cannot delete %s", folder.c_str());
        }
    }
    cfg_.m_meta_ini.DeleteSection(key);
    cfg_.m_meta_w_ini.DeleteSection(key);
    int row;
    {
        std::lock_guard<std::mutex> guard(list.Lock());
        row = list.FindRowByKey(key);
        if (row >= 0)
            list.DeleteRow(row);
    }
    if (row >= 0 && list.RowCount() > 0) {
        CPdfListView* view = processed ? processed_view_ : queue_view_;
        view->SelectRows({std::min(row, list.RowCount() - 1)});
    }
}

void CAdvModeTab::Export()
{
    if (!ProcessedListActive()) {
        Message("export_only_processed");
        return;
    }
    const std::string key = SelectedKey();
    if (key.empty()) {
        Message("select_process_item");
        return;
    }
    const QString start = QString::fromStdString(cfg_.m_config_ini.ReadText("general", "export_folder", 260));
    const QString chosen = ChooseFolder(this, start);
    if (chosen.isEmpty())
        return;
    const std::string destination = QDir::cleanPath(chosen).toStdString();
    // An export empties its destination: a folder with anything in it is emptied only
    // when the user agrees.
    if (IsFolder(destination) && !QDir(chosen).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) &&
        CDlgLocalize::MessageBoxByKey(this, "export_not_empty", QMessageBox::Yes | QMessageBox::No,
                                      QMessageBox::No) != QMessageBox::Yes)
        return;
    const std::string pdf = cfg_.m_meta_ini.ReadText(key, "pdf_url", 4096);
    const ExportGuard guard = GuardFor(cfg_, pdf);
    std::string reason = ExportRefusal(destination, guard);
    const int result = reason.empty() ? ExportBook(destination, key, guard) : 1;
    if (result != 0) {
        if (reason.empty())
            reason = CDlgLocalize::Lookup("MESSAGEBOX", "export_write_failed").toStdString();
        PromptRequest request;
        request.caption = QStringLiteral("Vellumark");
        request.text = CDlgLocalize::Lookup("MESSAGEBOX", "export_error") + QLatin1Char('\n') +
                       QString::fromStdString(reason);
        ShowPrompt(this, request);
        return;
    }
    cfg_.m_export_folder = destination;
    cfg_.m_config_ini.WriteText("general", "export_folder", destination);
    PromptRequest request;
    request.icon = QMessageBox::Question;
    request.caption = QStringLiteral("Vellumark");
    request.text = QStringLiteral("%1\n%2\n\n%3")
                       .arg(CDlgLocalize::Lookup("MESSAGEBOX", "export_success"), QString::fromStdString(destination),
                            CDlgLocalize::Lookup("MESSAGEBOX", "export_open"));
    request.buttons = QMessageBox::Yes | QMessageBox::No;
    if (ShowPrompt(this, request) == QMessageBox::Yes)
        OpenWithDesktop(QUrl::fromLocalFile(QString::fromStdString(JoinPath(destination, "index.html"))), kModule);
}

void CAdvModeTab::Help()
{
    OpenGuide(cfg_, "advanced", "CommonUtil");
}
