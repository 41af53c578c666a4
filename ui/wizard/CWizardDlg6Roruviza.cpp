#include "ui/wizard/CWizardDlg6Roruviza.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "publish/NetworkSettings.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/PublishingTarget.h"
#include "ui/wizard/WizardPageKit.h"

#include <cerrno>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CWizardDlg6Roruviza::CWizardDlg6Roruviza(AppConfig& cfg, QWidget* parent) : WizardPage(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("wizardServicePage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[NETWORK_SETTING:service_header]#>")));
    settings_ = new CBaseNetworkDlg(cfg, CBaseNetworkDlg::kServicePart, this);
    layout->addWidget(settings_);
    layout->addStretch(1);
    const WizardNavigation buttons = MakeWizardNavigation(this, layout, kNavAll);
    connect(buttons.next, &QPushButton::clicked, this, &CWizardDlg6Roruviza::Next);
    connect(buttons.back, &QPushButton::clicked, this, &CWizardDlg6Roruviza::Back);
    connect(buttons.exit, &QPushButton::clicked, this, &CWizardDlg6Roruviza::ExitRequested);
    connect(buttons.help, &QPushButton::clicked, this, &CWizardDlg6Roruviza::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}

void CWizardDlg6Roruviza::Next()
{
    NetworkChoice choice;
    if (!settings_->Validate(this, choice))
        return;
    PublishingTarget wanted;
    wanted.service = true;
    wanted.service_host = settings_->ServiceHost();
    if (!AgreeToTargetChange(this, cfg_, wanted))
        return;
    if (!settings_->StoreServiceHost())
        DIAG("NetworkDlg", errno, "ERR:service address not saved");
    SaveNetworkChoice(cfg_, choice);
    SetPublishingMode(cfg_, PublishingMode::kWebService);
    hide();
    emit StepRequested(kStepConvert, kStepWebService);
}

void CWizardDlg6Roruviza::Back()
{
    hide();
    emit StepRequested(kStepPublishMethod, 0);
}
