#include "ui/wizard/CWizardDlg6FTP.h"

#include "config/AppConfig.h"
#include "publish/NetworkSettings.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/PublishingTarget.h"
#include "ui/ToolbarOptions.h"
#include "ui/wizard/WizardPageKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CWizardDlg6FTP::CWizardDlg6FTP(AppConfig& cfg, QWidget* parent) : WizardPage(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("wizardFtpPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[NETWORK_SETTING:ftp_header]#>")));
    settings_ = new CBaseNetworkDlg(cfg, CBaseNetworkDlg::kFtpPart, this);
    // Next leads to the upload: the folder must be there and take files.
    settings_->CheckFolderOnValidate();
    layout->addWidget(settings_);

    toolbar_options_ = ToolbarOptions::InWizardGroup(cfg, this, layout);
    layout->addStretch(1);

    const WizardNavigation buttons = MakeWizardNavigation(this, layout, kNavAll);
    connect(buttons.next, &QPushButton::clicked, this, &CWizardDlg6FTP::Next);
    connect(buttons.back, &QPushButton::clicked, this, &CWizardDlg6FTP::Back);
    connect(buttons.exit, &QPushButton::clicked, this, &CWizardDlg6FTP::ExitRequested);
    connect(buttons.help, &QPushButton::clicked, this, &CWizardDlg6FTP::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}

CWizardDlg6FTP::~CWizardDlg6FTP() = default;

void CWizardDlg6FTP::Next()
{
    NetworkChoice choice;
    if (!settings_->Validate(this, choice))
        return;
    PublishingTarget wanted;
    wanted.ftp = true;
    wanted.ftp_url = choice.ftp_url;
    if (!AgreeToTargetChange(this, cfg_, wanted))
        return;
    SaveNetworkChoice(cfg_, choice);
    SetPublishingMode(cfg_, PublishingMode::kFtp);
    toolbar_options_->Store(cfg_);
    hide();
    emit StepRequested(kStepConvert, kStepFtp);
}

void CWizardDlg6FTP::Back()
{
    hide();
    emit StepRequested(kStepPublishMethod, 0);
}

