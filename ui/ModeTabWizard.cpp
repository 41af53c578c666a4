// The wizard half of the mode tab control: its pages, the step codes they send, the
// wizard's job and the convert page's progress.
#include "ui/CModeTabCtrl.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"
#include "pipeline/SubmitJob.h"
#include "ui/BookOpener.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/HelpGuide.h"
#include "ui/COptionDlg.h"
#include "ui/wizard/BookLocations.h"
#include "ui/wizard/CWizardDlg1.h"
#include "ui/wizard/CWizardDlg2.h"
#include "ui/wizard/CWizardDlg2ImageQuality.h"
#include "ui/wizard/CWizardDlg4.h"
#include "ui/wizard/CWizardDlg4PubMethod.h"
#include "ui/wizard/CWizardDlg6FTP.h"
#include "ui/wizard/CWizardDlg6LocalUrl.h"
#include "ui/wizard/CWizardDlg6Roruviza.h"
#include "ui/wizard/CWizardDlg7Success.h"
#include "ui/wizard/CWizardDlgNimbrel.h"
#include "ui/wizard/WizardPageKit.h"

#include <QStackedLayout>

namespace {

constexpr const char* kModule = "ModeTabCtrl";

// Puts the keyboard focus on the first control of `page` that Tab reaches, or on the page
// itself when it has none: after Next or Back the user (and a screen reader) is on the
// new page, not on the tab bar where the hidden page's focus would fall.
void FocusFirstControl(QWidget* page)
{
    for (QWidget* widget = page->nextInFocusChain(); widget != page && page->isAncestorOf(widget);
         widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(page) && widget->isEnabled()) {
            widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    page->setFocus(Qt::OtherFocusReason);
}

}  // namespace

QWidget* CModeTabCtrl::WizardPageAt(int step_code) const
{
    if (step_code < 0 || step_code >= kWizardSteps)
        return nullptr;
    return wizard_pages_[static_cast<size_t>(step_code)];
}

CWizardDlg4* CModeTabCtrl::ConvertPage() const
{
    return static_cast<CWizardDlg4*>(WizardPageAt(kStepConvert));
}

template <class Page>
Page* CModeTabCtrl::Adopt(Page* page, int step_code)
{
    connect(page, &Page::StepRequested, this, &CModeTabCtrl::OnWizardStep);
    connect(page, &Page::ExitRequested, this, &CModeTabCtrl::ExitRequested);
    connect(page, &Page::HelpRequested, this,
            [this, step_code] { OpenGuide(cfg_, WizardHelpSection(step_code), "CommonUtil"); });
    wizard_pages_[static_cast<size_t>(step_code)] = page;
    wizard_stack_->addWidget(page);
    return page;
}

QWidget* CModeTabCtrl::MakeWizardPage(int step_code)
{
    if (QWidget* page = WizardPageAt(step_code))
        return page;
    switch (step_code) {
    case kStepChoosePdf: return Adopt(new CWizardDlg1(cfg_, values_, wizard_), step_code);
    case kStepImageQuality: return Adopt(new CWizardDlg2ImageQuality(cfg_, wizard_), step_code);
    case kStepMetadata: return Adopt(new CWizardDlg2(values_, wizard_), step_code);
    case kStepPublishMethod: return Adopt(new CWizardDlg4PubMethod(cfg_, wizard_), step_code);
    case kStepLocalFolder: return Adopt(new CWizardDlg6LocalUrl(cfg_, values_, wizard_), step_code);
    case kStepWebService: return Adopt(new CWizardDlg6Roruviza(cfg_, wizard_), step_code);
    case kStepFtp: return Adopt(new CWizardDlg6FTP(cfg_, wizard_), step_code);
    case kStepConvert: {
        auto* page = Adopt(new CWizardDlg4(cfg_, values_, wizard_), step_code);
        connect(page, &CWizardDlg4::ViewRequested, this, [this] {
            if (!values_.job_key.empty())
                OpenBook(cfg_, values_.job_key, kModule);
        });
        return page;
    }
    case kStepSuccess: return Adopt(new CWizardDlg7Success(cfg_, wizard_), step_code);
    case kStepAdvert: return Adopt(new CWizardDlgNimbrel(cfg_, wizard_), step_code);
    default:
        DIAG(kModule, 0, "INF:wizard step %d is not available", step_code);
        return nullptr;
    }
}

void CModeTabCtrl::ShowWizardPage(int step_code)
{
    QWidget* page = MakeWizardPage(step_code);
    // A page that cannot be made is not shown: the previous page stays.
    if (!page)
        page = WizardPageAt(current_step_);
    else
        current_step_ = step_code;
    if (!page)
        return;
    wizard_stack_->setCurrentWidget(page);
    page->show();
    MakeRoomForPages();
    if (wizard_->isVisible())
        FocusFirstControl(page);
}

void CModeTabCtrl::MakeRoomForPages()
{
    QWidget* window = this->window();
    if (!window || window == this || !isVisible())
        return;
    const QSize need = minimumSizeHint().expandedTo(sizeHint());
    const QSize missing(std::max(0, need.width() - width()), std::max(0, need.height() - height()));
    if (missing.width() == 0 && missing.height() == 0)
        return;
    window->setMinimumSize(window->minimumSize() + missing);
    window->resize(window->size() + missing);
}

void CModeTabCtrl::OnWizardStep(int step_code, int return_code)
{
    switch (step_code) {
    case kStepStartJob:
        StartWizardJob();
        return;
    case kStepChoosePdf: {
        // A new run: the previous job is no longer followed (it runs on in the lists),
        // and the user is told so.
        const bool goes_on = values_.slot >= 0 && table_.Slot(values_.slot).key == values_.job_key &&
                             table_.Slot(values_.slot).state.load() != JOB_STATE_FREE;
        ForgetWizardJob();
        ShowWizardPage(step_code);
        auto* first = static_cast<CWizardDlg1*>(WizardPageAt(kStepChoosePdf));
        first->Refresh();
        first->ShowNote(goes_on ? CDlgLocalize::Lookup("WIZARD_CONVERT", "job_goes_on") : QString());
        return;
    }
    case kStepConvert:
        values_.return_code = return_code;
        ShowWizardPage(step_code);
        if (current_step_ == kStepConvert)
            ConvertPage()->Prepare(return_code);
        return;
    case kStepSuccess:
        ShowWizardPage(step_code);
        static_cast<CWizardDlg7Success*>(WizardPageAt(kStepSuccess))
            ->ShowBook(values_.job_key, LocateBook(cfg_, values_.job_key));
        return;
    default:
        ShowWizardPage(step_code);
        return;
    }
}

void CModeTabCtrl::ForgetWizardJob()
{
    wizard_progress_.stop();
    values_.slot = -1;
    values_.job_key.clear();
    if (CWizardDlg4* page = ConvertPage()) {
        page->SetRunning(false);
        page->ResetProgress();
        page->EnableNavigation(true);
    }
}

bool CModeTabCtrl::MetadataComplete()
{
    if (cfg_.m_use_vazirudu != 1)
        return true;
    if (!values_.title.trimmed().isEmpty() && !values_.keywords.trimmed().isEmpty() &&
        !values_.description.trimmed().isEmpty())
        return true;
    CDlgLocalize::MessageBoxByKey(this, "meta_data_required2");
    PropertiesCaptions captions;
    captions.caption = QStringLiteral("<#[MESSAGEBOX:meta_data_required2]#>");
    captions.title = QStringLiteral("<#[COMMON:title_header]#>");
    captions.keywords = QStringLiteral("<#[COMMON:keywords_header]#>");
    captions.description = QStringLiteral("<#[COMMON:description_header]#>");
    COptionDlg dialog(this, captions);
    dialog.setObjectName(QStringLiteral("missingMetadataDialog"));
    dialog.SetValues(values_.title, values_.keywords, values_.description);
    if (dialog.exec() == QDialog::Accepted) {
        values_.title = dialog.Title();
        values_.keywords = dialog.Keywords();
        values_.description = dialog.Description();
    }
    if (auto* metadata = static_cast<CWizardDlg2*>(WizardPageAt(kStepMetadata)))
        metadata->Refresh();
    ConvertPage()->Prepare(values_.return_code);
    return false;
}

bool CModeTabCtrl::SameTargetsAsSettings(const std::string& key) const
{
    const IniFile& meta = cfg_.m_meta_ini;
    const JobTargets now = TargetsFromSettings(cfg_);
    const bool ftp = meta.ReadInt(key, "use_ftp") == 1;
    return ftp == (now.use_ftp == 1) && (meta.ReadInt(key, "use_vazirudu") == 1) == (now.use_vazirudu == 1) &&
           (!ftp || meta.ReadText(key, "ftp_url", 512) == now.ftp_url);
}

void CModeTabCtrl::StartWizardJob()
{
    CWizardDlg4* page = ConvertPage();
    if (!page)
        return;
    if (!MetadataComplete()) {
        page->SetRunning(false);
        return;
    }
    page->EnableNavigation(false);
    // After a failed upload the same book goes on where its upload ended, as long as it
    // is meant for the same targets.
    if (!values_.job_key.empty() && SameTargetsAsSettings(values_.job_key) &&
        advanced_->ContinueUnfinishedUpload(values_.job_key)) {
        values_.slot = table_.FindSlotByKey(values_.job_key);
        emit JobStarted(QString::fromStdString(values_.job_key));
        wizard_note_.clear();
        page->ResetProgress();
        page->SetHeader("screen_header4");
        wizard_progress_.start();
        return;
    }
    SubmitRequest request;
    request.pdf_path = values_.pdf_path.toStdString();
    request.title = values_.title.toStdString();
    request.tags = values_.keywords.toStdString();
    request.description = values_.description.toStdString();
    request.pagenum = values_.page_count;
    request.pagewidth = values_.page_width;
    request.pageheight = values_.page_height;
    TakeClassificationFrom(cfg_, request);
    JobTargets targets = TargetsFromSettings(cfg_);
    if (cfg_.m_use_ftp != 1 && cfg_.m_use_vazirudu != 1 && !values_.local_folder.isEmpty()) {
        targets.export_requested = true;
        targets.export_folder = values_.local_folder.toStdString();
    }
    std::string key;
    const int slot = table_.HasFreeSlot() ? SubmitJob(cfg_, table_, request, targets, true,
                                                      &advanced_->QueueList(), &key, notify_)
                                          : -1;
    if (slot < 0) {
        // The user is told, and may try again or go back: nothing was started.
        DIAG(kModule, 0, "INF:ConvertAndUpload failed");
        CDlgLocalize::MessageBoxByKey(this, table_.HasFreeSlot() ? "submit_failed" : "queue_full");
        page->SetRunning(false);
        page->EnableNavigation(true);
        return;
    }
    values_.slot = slot;
    values_.job_key = key;
    emit JobStarted(QString::fromStdString(key));
    wizard_note_.clear();
    page->ResetProgress();  // the end of an earlier try no longer shows
    page->SetHeader("screen_header4");
    wizard_progress_.start();
}

void CModeTabCtrl::FollowWizardJob()
{
    CWizardDlg4* page = ConvertPage();
    if (values_.slot < 0 || !page) {
        wizard_progress_.stop();
        return;
    }
    const PdfJob& job = table_.Slot(values_.slot);
    // Once the job has ended its slot may carry another job: its record then tells.
    const bool own_slot = values_.job_key == job.key;
    const int progress = own_slot ? job.progress.load() : ReadJobProgress(cfg_.m_meta_ini, values_.job_key);
    page->ShowProgress(progress);
    if (progress >= kProgressFinished) {
        wizard_progress_.stop();
        page->ResetProgress();
        page->SetRunning(false);
        page->hide();
        OnWizardStep(kStepSuccess, 0);
        page->EnableNavigation(true);
        // The same copy as the page's View: the chosen folder's book, else the published one.
        if (cfg_.m_autoview != 0)
            static_cast<CWizardDlg7Success*>(WizardPageAt(kStepSuccess))->View();
        return;
    }
    // A job that ended early (failed or stopped) is no longer followed; the page says
    // how it ended and why, and lets the user try again or go back.
    if (!own_slot || job.state.load() == JOB_STATE_FREE) {
        wizard_progress_.stop();
        const bool stopped = own_slot && job.stopped.load() != 0;
        const int code = own_slot ? job.result_code.load() : JOB_RESULT_OK;
        QString reason = wizard_note_;
        if (reason.isEmpty() && code > JOB_RESULT_OK && code < JOB_RESULT_COUNT)
            reason = CDlgLocalize::Lookup("PROCESS_MSG", ("error_" + std::to_string(code + 1)).c_str());
        page->ShowEnded(!stopped, stopped ? QString() : reason);
        page->SetRunning(false);
        page->SetHeader("screen_header3");
        page->EnableNavigation(true);
    }
}
