#include "ui/wizard/CWizardDlg2.h"

#include "ui/CDlgLocalize.h"
#include "ui/wizard/WizardPageKit.h"
#include "ui/wizard/WizardValues.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

CWizardDlg2::CWizardDlg2(WizardValues& values, QWidget* parent) : WizardPage(parent), values_(values)
{
    setObjectName(QStringLiteral("wizardMetadataPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[WIZARD3:header]#>")));
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    struct Field {
        int edit_id, help_id, length;
        const char* label;
        const char* edit_name;
        const char* help_name;
        QLineEdit** edit;
    };
    const Field fields[] = {
        {1003, 292, WizardValues::kTextLength, "<#[title_header]#>", "titleEdit", "titleHelpButton", &title_},
        {1004, 290, WizardValues::kTextLength, "<#[keywords_header]#>", "keywordsEdit", "keywordsHelpButton",
         &keywords_},
        {1005, 291, WizardValues::kDescriptionLength, "<#[description_header]#>", "descriptionEdit",
         "descriptionHelpButton", &description_},
    };
    int row = 0;
    for (const Field& field : fields) {
        auto* label = new QLabel(QString::fromLatin1(field.label), this);
        *field.edit = new QLineEdit(this);
        QLineEdit* edit = *field.edit;
        edit->setObjectName(QLatin1String(field.edit_name));
        SetControlId(edit, field.edit_id);
        edit->setMaxLength(field.length);
        edit->setAccessibleName(QString::fromLatin1(field.label));
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 50);
        label->setBuddy(edit);
        auto* help = MakeHelpButton(this, field.help_id, field.help_name, QString::fromLatin1(field.label));
        grid->addWidget(label, 2 * row, 0, 1, 2);
        grid->addWidget(edit, 2 * row + 1, 0);
        grid->addWidget(help, 2 * row + 1, 1);
        ++row;
    }
    grid->setColumnStretch(0, 1);
    layout->addStretch(1);
    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavAll);
    connect(nav.next, &QPushButton::clicked, this, &CWizardDlg2::Next);
    connect(nav.back, &QPushButton::clicked, this, &CWizardDlg2::Back);
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg2::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg2::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
    Refresh();
}

void CWizardDlg2::Refresh()
{
    title_->setText(values_.title);
    keywords_->setText(values_.keywords);
    description_->setText(values_.description);
}

void CWizardDlg2::showEvent(QShowEvent* event)
{
    Refresh();
    QWidget::showEvent(event);
}

void CWizardDlg2::Next()
{
    values_.title = title_->text();
    values_.keywords = keywords_->text();
    values_.description = description_->text();
    hide();
    emit StepRequested(kStepPublishMethod, 0);
}

void CWizardDlg2::Back()
{
    hide();
    emit StepRequested(kStepImageQuality, 0);
}
