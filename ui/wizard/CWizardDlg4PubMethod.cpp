#include "ui/wizard/CWizardDlg4PubMethod.h"

#include "ui/CDlgLocalize.h"
#include "ui/ServiceLinks.h"
#include "ui/wizard/WizardPageKit.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

CWizardDlg4PubMethod::CWizardDlg4PubMethod(const AppConfig& cfg, QWidget* parent) : WizardPage(parent)
{
    setObjectName(QStringLiteral("wizardMethodPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD4:header]#>")));
    struct Choice {
        int id;
        const char* key;
        const char* name;
        QStyle::StandardPixmap icon;
        int step;
    };
    const Choice choices[] = {
        {1125, "btn_1", "localButton", QStyle::SP_DirHomeIcon, kStepLocalFolder},
        {1126, "btn_2", "ftpButton", QStyle::SP_DriveNetIcon, kStepFtp},
        {1127, "btn_3", "serviceButton", QStyle::SP_ComputerIcon, kStepWebService},
        {1129, "btn_4", "aboutServiceButton", QStyle::SP_MessageBoxInformation, kStepAdvert},
    };
    const int icon_size = fontMetrics().height() * 2;
    for (const Choice& choice : choices) {
        QPushButton* button =
            MakeWizardButton(this, choice.id, QStringLiteral("<#[WIZARD4:%1]#>").arg(QLatin1String(choice.key)),
                             choice.name);
        button->setIcon(style()->standardIcon(choice.icon));
        button->setIconSize(QSize(icon_size, icon_size));
        button->setMinimumHeight(icon_size + fontMetrics().height());
        button->setStyleSheet(QStringLiteral("text-align: left; padding-left: 12px;"));
        const int step = choice.step;
        connect(button, &QPushButton::clicked, this, [this, step] { Go(step); });
        layout->addWidget(button);
        // Publishing on the service needs its address; the page about it needs a page.
        if (step == kStepWebService)
            FollowServiceSetting(button, [&cfg] { return ServiceConfigured(cfg); });
        else if (step == kStepAdvert)
            FollowAdvertAddress(cfg, button);
    }
    layout->addStretch(1);
    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavHelp | kNavBack | kNavExit);
    connect(nav.back, &QPushButton::clicked, this, [this] { Go(kStepMetadata); });
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg4PubMethod::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg4PubMethod::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}

void CWizardDlg4PubMethod::Go(int step_code)
{
    hide();
    emit StepRequested(step_code, 0);
}
