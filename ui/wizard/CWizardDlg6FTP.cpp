#include "ui/wizard/CWizardDlg6FTP.h"

#include "config/AppConfig.h"
#include "publish/CBaseNetworkDlg.h"
#include "publish/NetworkSettings.h"
#include "ui/CDlgLocalize.h"
#include "ui/wizard/WizardPageKit.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QCheckBox* MakeCheck(QWidget* parent, const char* key, int id, int32_t value, const char* name)
{
    auto* box = new QCheckBox(QStringLiteral("<#[HTML_TOOLBAR:%1]#>").arg(QLatin1String(key)), parent);
    box->setObjectName(QLatin1String(name));
    SetControlId(box, id);
    box->setChecked(value != 0);
    return box;
}

QLineEdit* AddEdit(QFormLayout* form, QWidget* parent, const char* key, int id, const std::string& value,
                   const char* name)
{
    const QString caption = QStringLiteral("<#[HTML_TOOLBAR:%1]#>").arg(QLatin1String(key));
    auto* edit = new QLineEdit(QString::fromStdString(value), parent);
    edit->setObjectName(QLatin1String(name));
    SetControlId(edit, id);
    edit->setMaxLength(259);
    edit->setAccessibleName(caption);
    auto* label = new QLabel(caption, parent);
    label->setBuddy(edit);
    form->addRow(label, edit);
    return edit;
}

}  // namespace

CWizardDlg6FTP::CWizardDlg6FTP(AppConfig& cfg, QWidget* parent) : QWidget(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("wizardFtpPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeWizardHeader(this, QStringLiteral("<#[NETWORK_SETTING:ftp_header]#>")));
    settings_ = new CBaseNetworkDlg(cfg, CBaseNetworkDlg::kFtpPart, this);
    layout->addWidget(settings_);

    auto* toolbar = new QGroupBox(QStringLiteral("<#[HTML_TOOLBAR:dlg_caption]#>"), this);
    toolbar->setObjectName(QStringLiteral("toolbarGroup"));
    auto* options = new QVBoxLayout(toolbar);
    // The e-mail and note buttons are chosen in the toolbar dialog only; the page keeps
    // their current state.
    use_email_ = MakeCheck(toolbar, "use_email", 1067, cfg.m_skin_usemail, "useEmailCheck");
    use_note_ = MakeCheck(toolbar, "use_note", 1120, cfg.m_skin_usenote, "useNoteCheck");
    use_email_->hide();
    use_note_->hide();
    use_home_ = MakeCheck(toolbar, "use_home_url", 1121, cfg.m_skin_useownlogo, "useHomeCheck");
    options->addWidget(use_home_);
    auto* form = new QFormLayout;
    options->addLayout(form);
    home_text_ = AddEdit(form, toolbar, "home_txt", 1122, cfg.m_skin_logotxt, "homeTextEdit");
    home_url_ = AddEdit(form, toolbar, "home_url", 1123, cfg.m_skin_logourl, "homeUrlEdit");
    auto enable_home = [this](bool on) {
        home_text_->setEnabled(on);
        home_url_->setEnabled(on);
    };
    enable_home(use_home_->isChecked());
    connect(use_home_, &QCheckBox::toggled, this, enable_home);
    layout->addWidget(toolbar);
    layout->addStretch(1);

    const WizardNavigation buttons = MakeWizardNavigation(this, layout, kNavAll);
    connect(buttons.next, &QPushButton::clicked, this, &CWizardDlg6FTP::Next);
    connect(buttons.back, &QPushButton::clicked, this, &CWizardDlg6FTP::Back);
    connect(buttons.exit, &QPushButton::clicked, this, &CWizardDlg6FTP::ExitRequested);
    connect(buttons.help, &QPushButton::clicked, this, &CWizardDlg6FTP::HelpRequested);
    CDlgLocalize::LocaliseDialog(this);
}

void CWizardDlg6FTP::Next()
{
    NetworkChoice choice;
    if (!settings_->Validate(this, choice))
        return;
    SaveNetworkChoice(cfg_, choice);
    SetPublishingMode(cfg_, PublishingMode::kFtp);
    StoreToolbarOptions();
    hide();
    emit StepRequested(kStepConvert, kStepFtp);
}

void CWizardDlg6FTP::Back()
{
    hide();
    emit StepRequested(kStepPublishMethod, 0);
}

void CWizardDlg6FTP::StoreToolbarOptions()
{
    cfg_.m_skin_usemail = use_email_->isChecked() ? 1 : 0;
    cfg_.m_skin_usenote = use_note_->isChecked() ? 1 : 0;
    cfg_.m_skin_useownlogo = use_home_->isChecked() ? 1 : 0;
    IniFile& ini = cfg_.m_config_ini;
    ini.WriteInt("skin", "skin_usemail", cfg_.m_skin_usemail);
    ini.WriteInt("skin", "skin_usenote", cfg_.m_skin_usenote);
    ini.WriteInt("skin", "skin_useownlogo", cfg_.m_skin_useownlogo);
    // The stored link is kept while the own link is off, ready for when it is on again.
    if (cfg_.m_skin_useownlogo) {
        cfg_.m_skin_logotxt = home_text_->text().left(259).toStdString();
        cfg_.m_skin_logourl = home_url_->text().left(259).toStdString();
        ini.WriteText("skin", "skin_logotxt", cfg_.m_skin_logotxt);
        ini.WriteText("skin", "skin_logourl", cfg_.m_skin_logourl);
    }
}
