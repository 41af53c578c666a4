#include "ui/wizard/CWizardDlgNimbrel.h"

#include "ui/CDlgLocalize.h"
#include "ui/wizard/WizardPageKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CWizardDlgNimbrel::CWizardDlgNimbrel(AppConfig& cfg, QWidget* parent) : WizardPage(parent)
{
    setObjectName(QStringLiteral("wizardAdvertPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD5D:header]#>")));
    auto* text = new QLabel(QStringLiteral("<#[WIZARD5D:text]#>"), this);
    text->setObjectName(QStringLiteral("advertText"));
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    QPushButton* advert = MakeWizardButton(this, 1154, QStringLiteral("<#[WIZARD5D:advert]#>"), "advertButton");
    row->addWidget(advert);
    row->addStretch(1);
    connect(advert, &QPushButton::clicked, this, [&cfg] { OpenAdvert(cfg); });
    FollowAdvertAddress(cfg, advert);
    layout->addStretch(1);
    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavHelp | kNavBack | kNavExit);
    connect(nav.back, &QPushButton::clicked, this, [this] {
        hide();
        emit StepRequested(kStepPublishMethod, 0);
    });
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlgNimbrel::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlgNimbrel::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}
