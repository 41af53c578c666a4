#include "ui/CModeTabCtrl.h"

#include "config/DiagLog.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/JobNoticeBridge.h"
#include "ui/wizard/CWizardDlg4.h"
#include "ui/wizard/WizardPageKit.h"

#include <QKeyEvent>
#include <QStackedLayout>

CModeTabCtrl::CModeTabCtrl(AppConfig& cfg, JobTable& table, JobObserver* notify, QWidget* parent)
    : QTabWidget(parent), cfg_(cfg), table_(table), notify_(notify)
{
    setObjectName(QStringLiteral("modeTabs"));
    SetControlId(this, 1040);
    wizard_ = new QWidget(this);
    wizard_->setObjectName(QStringLiteral("wizardPage"));
    wizard_stack_ = new QStackedLayout(wizard_);
    wizard_stack_->setContentsMargins(0, 0, 0, 0);
    advanced_ = new CAdvModeTab(cfg, table, notify, this);
    addTab(wizard_, QString());
    addTab(advanced_, QString());
    ShowWizardPage(0);
    Relocalise();
    setCurrentIndex(kWizardTab);
    connect(this, &QTabWidget::currentChanged, this, &CModeTabCtrl::OnTabChanged);

    queue_refresh_.setInterval(kQueueRefreshMs);
    connect(&queue_refresh_, &QTimer::timeout, advanced_, &CAdvModeTab::RefreshQueue);
    queue_refresh_.start();
    wizard_progress_.setInterval(kWizardProgressMs);
    connect(&wizard_progress_, &QTimer::timeout, this, &CModeTabCtrl::FollowWizardJob);
    if (auto* bridge = dynamic_cast<JobNoticeBridge*>(notify)) {
        connect(bridge, &JobNoticeBridge::JobNote, this, [this](const QString& key, const QString& text) {
            if (key.toStdString() != values_.job_key)
                return;
            wizard_note_ = text;
            // A note that arrives after the end was shown is its reason.
            CWizardDlg4* page = ConvertPage();
            if (page && page->EndedFailed())
                page->ShowEnded(true, text);
        });
    }
}

void CModeTabCtrl::Relocalise()
{
    setTabText(kWizardTab, CDlgLocalize::Lookup("MAINDLG", "tab_1").left(255));
    setTabText(kAdvancedTab, CDlgLocalize::Lookup("MAINDLG", "tab_2").left(255));
    advanced_->Relocalise();
    for (QWidget* page : wizard_pages_)
        if (page)
            CDlgLocalize::LocaliseDialog(page);
    if (auto* convert = static_cast<CWizardDlg4*>(WizardPageAt(kStepConvert)))
        convert->Relocalise();
}

void CModeTabCtrl::OnTabChanged(int index)
{
    if (index == kAdvancedTab)
        advanced_->RefreshUploadLabel();
}

void CModeTabCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Left)
        DIAG("WizardDlg", 0, "INF:CModeTabCtrl pressed down");
    QTabWidget::keyPressEvent(event);
}
