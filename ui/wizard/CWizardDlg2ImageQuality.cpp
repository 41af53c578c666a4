#include "ui/wizard/CWizardDlg2ImageQuality.h"

#include "ui/CDlgLocalize.h"
#include "ui/ImageQualityForm.h"
#include "ui/wizard/WizardPageKit.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CWizardDlg2ImageQuality::CWizardDlg2ImageQuality(AppConfig& cfg, QWidget* parent) : WizardPage(parent)
{
    setObjectName(QStringLiteral("wizardQualityPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD2:header]#>")));
    form_ = new ImageQualityForm(cfg, this);
    layout->addWidget(form_);
    layout->addStretch(1);
    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavAll);
    connect(nav.next, &QPushButton::clicked, this, &CWizardDlg2ImageQuality::Next);
    connect(nav.back, &QPushButton::clicked, this, &CWizardDlg2ImageQuality::Back);
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg2ImageQuality::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg2ImageQuality::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}

void CWizardDlg2ImageQuality::Next()
{
    form_->Store();
    hide();
    emit StepRequested(kStepMetadata, 0);
}

void CWizardDlg2ImageQuality::Back()
{
    hide();
    emit StepRequested(kStepChoosePdf, 0);
}
