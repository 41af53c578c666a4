#include "ui/wizard/CWizardDlg6LocalUrl.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "pipeline/ExportTarget.h"
#include "publish/NetworkSettings.h"
#include "ui/CDlgLocalize.h"
#include "ui/PublishingTarget.h"
#include "ui/ToolbarOptions.h"
#include "ui/UserPrompts.h"
#include "ui/wizard/WizardPageKit.h"
#include "ui/wizard/WizardValues.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr const char* kModule = "WizardDlg";

}  // namespace

CWizardDlg6LocalUrl::CWizardDlg6LocalUrl(AppConfig& cfg, WizardValues& values, QWidget* parent)
    : WizardPage(parent), cfg_(cfg), values_(values)
{
    setObjectName(QStringLiteral("wizardLocalPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD5A:header]#>")));
    auto* label = new QLabel(QStringLiteral("<#[WIZARD5A:folder]#>"), this);
    label->setObjectName(QStringLiteral("folderLabel"));
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    folder_ = new QLineEdit(this);
    folder_->setObjectName(QStringLiteral("folderEdit"));
    SetControlId(folder_, 1134);
    folder_->setMaxLength(259);
    folder_->setAccessibleName(QStringLiteral("<#[WIZARD5A:folder]#>"));
    folder_->setMinimumWidth(folder_->fontMetrics().averageCharWidth() * 50);
    folder_->setText(values.local_folder.isEmpty() ? QString::fromStdString(cfg.m_export_folder) : values.local_folder);
    label->setBuddy(folder_);
    row->addWidget(folder_, 1);
    QPushButton* browse = MakeWizardButton(this, 1135, QStringLiteral("<#[browse]#>"), "browseButton");
    row->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, &CWizardDlg6LocalUrl::Browse);

    toolbar_options_ = ToolbarOptions::InWizardGroup(cfg, this, layout);
    layout->addStretch(1);

    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavAll);
    connect(nav.next, &QPushButton::clicked, this, &CWizardDlg6LocalUrl::Next);
    connect(nav.back, &QPushButton::clicked, this, &CWizardDlg6LocalUrl::Back);
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg6LocalUrl::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg6LocalUrl::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}

CWizardDlg6LocalUrl::~CWizardDlg6LocalUrl() = default;

void CWizardDlg6LocalUrl::Browse()
{
    const QString chosen = ChooseFolder(this, folder_->text());
    if (!chosen.isEmpty())
        folder_->setText(QDir::cleanPath(chosen));
}

void CWizardDlg6LocalUrl::Next()
{
    const QString folder = folder_->text().trimmed();
    if (!AcceptFolder(folder) || !AgreeToTargetChange(this, cfg_, PublishingTarget{}))
        return;
    SetPublishingMode(cfg_, PublishingMode::kLocal);
    values_.local_folder = QDir::cleanPath(folder);
    toolbar_options_->Store(cfg_);
    hide();
    emit StepRequested(kStepConvert, kStepLocalFolder);
}

bool CWizardDlg6LocalUrl::AcceptFolder(const QString& folder)
{
    if (folder.isEmpty()) {
        CDlgLocalize::MessageBoxByKey(this, "folder_select");
        return false;
    }
    if (!QDir::isAbsolutePath(folder)) {
        CDlgLocalize::MessageBoxByKey(this, "folder_relative");
        return false;
    }
    // The export that puts the book there empties the folder first: the program's own
    // folders, the home folder, the root and the PDF's own folder are never offered.
    const std::string path = QDir::cleanPath(folder).toStdString();
    const std::string refused = ExportLocationRefusal(path, GuardFor(cfg_, values_.pdf_path.toStdString()));
    if (!refused.empty()) {
        DIAG(kModule, 0, "INF:local folder %s refused: %s", path.c_str(), refused.c_str());
        CDlgLocalize::MessageBoxByKey(this, "folder_refused");
        return false;
    }
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        CDlgLocalize::MessageBoxByKey(this, "folder_invalid");
        return false;
    }
    if (info.exists()) {
        if (QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            return true;
        // Only an earlier book may be replaced; other files are never emptied away.
        if (!IsEarlierExport(path)) {
            CDlgLocalize::MessageBoxByKey(this, "folder_has_files");
            return false;
        }
        return CDlgLocalize::MessageBoxByKey(this, "folder_not_empty", QMessageBox::Yes | QMessageBox::No,
                                             QMessageBox::No) == QMessageBox::Yes;
    }
    if (CDlgLocalize::MessageBoxByKey(this, "folder_not_exist", QMessageBox::Yes | QMessageBox::No,
                                      QMessageBox::Yes) != QMessageBox::Yes)
        return false;
    if (!QDir().mkpath(folder)) {
        DIAG(kModule, errno, "ERR:cannot create %s", path.c_str());
        CDlgLocalize::MessageBoxByKey(this, "folder_invalid");
        return false;
    }
    return true;
}

void CWizardDlg6LocalUrl::Back()
{
    hide();
    emit StepRequested(kStepPublishMethod, 0);
}
