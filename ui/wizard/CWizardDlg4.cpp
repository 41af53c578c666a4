#include "ui/wizard/CWizardDlg4.h"

#include "config/AppConfig.h"
#include "pipeline/PdfJob.h"
#include "ui/CDlgLocalize.h"
#include "ui/wizard/WizardPageKit.h"
#include "ui/wizard/WizardValues.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CWizardDlg4::CWizardDlg4(AppConfig& cfg, WizardValues& values, QWidget* parent)
    : WizardPage(parent), cfg_(cfg), values_(values)
{
    setObjectName(QStringLiteral("wizardConvertPage"));
    auto* layout = new QVBoxLayout(this);
    header_ = MakeWizardHeader(this, QString());
    layout->addWidget(header_);

    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    pdf_ = AddValue(grid, 0, "<#[WIZARD_CONVERT:pdf]#>", 1051, "pdfValue");
    title_ = AddValue(grid, 1, "<#[title_header]#>", 1053, "titleValue");
    keywords_ = AddValue(grid, 2, "<#[keywords_header]#>", 1055, "keywordsValue");
    description_ = AddValue(grid, 3, "<#[description_header]#>", 1058, "descriptionValue");
    grid->setColumnStretch(1, 1);

    auto_open_ = new QCheckBox(QStringLiteral("<#[WIZARD_CONVERT:autoview]#>"), this);
    auto_open_->setObjectName(QStringLiteral("autoOpenCheck"));
    SetControlId(auto_open_, 1067);
    layout->addWidget(auto_open_);
    connect(auto_open_, &QCheckBox::toggled, this, [this](bool on) {
        cfg_.m_autoview = on ? 1 : 0;
        cfg_.m_config_ini.WriteInt("general", "autoview", cfg_.m_autoview);
    });

    auto add_bar = [this, layout](int label_id, int bar_id, const char* name, QLabel** label, QProgressBar** bar) {
        *label = new QLabel(this);
        (*label)->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
        SetControlId(*label, label_id);
        *bar = new QProgressBar(this);
        (*bar)->setObjectName(QLatin1String(name) + QStringLiteral("Bar"));
        SetControlId(*bar, bar_id);
        (*bar)->setRange(0, kBarRange);
        (*bar)->setTextVisible(false);
        layout->addWidget(*label);
        layout->addWidget(*bar);
    };
    add_bar(1066, 1064, "convert", &convert_label_, &convert_bar_);
    add_bar(1065, 1063, "upload", &upload_label_, &upload_bar_);
    convert_bar_->setAccessibleName(QStringLiteral("<#[WIZARD_CONVERT:convert_prg]#>"));
    upload_bar_->setAccessibleName(QStringLiteral("<#[WIZARD_CONVERT:upload_prg]#>"));

    auto* commands = new QHBoxLayout;
    layout->addLayout(commands);
    QPushButton* new_job = MakeWizardButton(this, 304, QStringLiteral("<#[WIZARD_CONVERT:new_job]#>"), "newJobButton");
    view_ = MakeWizardButton(this, 305, QStringLiteral("<#[WIZARD_CONVERT:view]#>"), "viewButton");
    commands->addWidget(new_job);
    commands->addWidget(view_);
    commands->addStretch(1);
    connect(new_job, &QPushButton::clicked, this, &CWizardDlg4::NewJob);
    connect(view_, &QPushButton::clicked, this, &CWizardDlg4::ViewRequested);
    layout->addStretch(1);

    const WizardNavigation nav = MakeWizardNavigation(this, layout, kNavAll);
    convert_ = nav.next;
    back_ = nav.back;
    convert_->setObjectName(QStringLiteral("convertButton"));
    connect(convert_, &QPushButton::clicked, this, &CWizardDlg4::Convert);
    connect(back_, &QPushButton::clicked, this, &CWizardDlg4::Back);
    connect(nav.exit, &QPushButton::clicked, this, &CWizardDlg4::ExitRequested);
    connect(nav.help, &QPushButton::clicked, this, &CWizardDlg4::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
    ResetProgress();
}

QLineEdit* CWizardDlg4::AddValue(QGridLayout* grid, int row, const char* label, int id, const char* name)
{
    auto* caption = new QLabel(QString::fromLatin1(label), this);
    auto* value = new QLineEdit(this);
    value->setObjectName(QLatin1String(name));
    SetControlId(value, id);
    value->setReadOnly(true);
    value->setAccessibleName(QString::fromLatin1(label));
    value->setMinimumWidth(value->fontMetrics().averageCharWidth() * 50);
    caption->setBuddy(value);
    grid->addWidget(caption, row, 0);
    grid->addWidget(value, row, 1);
    return value;
}

QString CWizardDlg4::Percent(int part)
{
    const int twice = 2 * part;
    return QString::asprintf("%d.%d%%", twice / 1000, (twice % 1000) / 100);
}

void CWizardDlg4::Prepare(int return_code)
{
    return_code_ = return_code;
    pdf_->setText(values_.pdf_path);
    title_->setText(values_.title);
    keywords_->setText(values_.keywords);
    description_->setText(values_.description);
    for (QLineEdit* edit : {pdf_, title_, keywords_, description_})
        edit->setCursorPosition(0);
    const QSignalBlocker quiet(auto_open_);
    auto_open_->setChecked(cfg_.m_autoview != 0);
    const bool uploading = cfg_.m_use_ftp == 1 || cfg_.m_use_vazirudu == 1;
    SetHeader(uploading ? "screen_header1" : "screen_header2");
    convert_->setText(CDlgLocalize::Lookup("WIZARD_CONVERT", uploading ? "cnvrt_1" : "cnvrt_2"));
    uploading_ = uploading;
    ResetProgress();
}

void CWizardDlg4::ShowUploadPart()
{
    upload_label_->setVisible(uploading_);
    upload_bar_->setVisible(uploading_ && hidden_bar_ != upload_bar_);
}

void CWizardDlg4::SetHeader(const char* key)
{
    header_key_ = key;
    header_->setText(CDlgLocalize::Lookup("WIZARD_CONVERT", key));
}

void CWizardDlg4::Relocalise()
{
    SetHeader(header_key_);
    const bool uploading = cfg_.m_use_ftp == 1 || cfg_.m_use_vazirudu == 1;
    convert_->setText(CDlgLocalize::Lookup("WIZARD_CONVERT", uploading ? "cnvrt_1" : "cnvrt_2"));
    const bool ended = ended_;
    ShowProgress(progress_);
    if (ended)
        ShowEnded(ended_failed_, ended_reason_);
}

void CWizardDlg4::ShowProgress(int progress)
{
    ended_ = false;
    if (hidden_bar_) {
        hidden_bar_->show();
        hidden_bar_ = nullptr;
    }
    progress_ = progress;
    const int converted = std::min(progress, kBarRange);
    const int uploaded = std::max(progress, kBarRange) - kBarRange;
    convert_label_->setText(CDlgLocalize::Lookup("WIZARD_CONVERT", "convert_prg") + QStringLiteral(" (") +
                            Percent(converted) + QLatin1Char(')'));
    convert_bar_->setValue(converted);
    upload_label_->setText(CDlgLocalize::Lookup("WIZARD_CONVERT", "upload_prg") + QStringLiteral(" (") +
                           Percent(std::min(uploaded, kBarRange)) + QLatin1Char(')'));
    upload_bar_->setValue(std::min(uploaded, kBarRange));
    view_->setEnabled(progress >= kProgressFinished);
    ShowUploadPart();
}

void CWizardDlg4::ShowEnded(bool failed, const QString& reason)
{
    ended_ = true;
    ended_failed_ = failed;
    ended_reason_ = reason;
    // A book kept on this computer has only the conversion's line.
    const bool converting = progress_ < kBarRange || !uploading_;
    QString text;
    if (converting && failed)
        text = CDlgLocalize::Lookup("WIZARD_CONVERT", "convert_failed");
    else if (converting)
        text = CDlgLocalize::Lookup("WIZARD_CONVERT", "convert_stopped");
    else if (failed)
        text = CDlgLocalize::Lookup("WIZARD_CONVERT", "upload_failed");
    else
        text = CDlgLocalize::Lookup("WIZARD_CONVERT", "upload_stopped");
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    QLabel* label = converting ? convert_label_ : upload_label_;
    label->setWordWrap(true);  // a reason may name a long path
    label->setText(text);
    if (hidden_bar_)
        hidden_bar_->show();
    hidden_bar_ = converting ? convert_bar_ : upload_bar_;
    hidden_bar_->hide();
    ShowUploadPart();
}

void CWizardDlg4::ResetProgress()
{
    ShowProgress(0);
}

void CWizardDlg4::EnableNavigation(bool on)
{
    convert_->setEnabled(on);
    back_->setEnabled(on);
}

void CWizardDlg4::Convert()
{
    running_ = true;
    emit StepRequested(kStepStartJob, 0);
}

void CWizardDlg4::Back()
{
    hide();
    emit StepRequested(return_code_, 0);
}

void CWizardDlg4::NewJob()
{
    running_ = false;
    ResetProgress();
    hide();
    emit StepRequested(kStepChoosePdf, 0);
    EnableNavigation(true);
}
