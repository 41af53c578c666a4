#include "ui/CCfgSkinDlg.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"
#include "ui/DialogButtons.h"
#include "ui/SkinLanguageList.h"
#include "ui/ToolbarOptions.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CCfgSkinDlg::CCfgSkinDlg(AppConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("htmlToolbarDialog"));
    setWindowTitle(QStringLiteral("<#[HTML_TOOLBAR:dlg_caption]#>"));
    auto* layout = new QVBoxLayout(this);
    options_ = std::make_unique<ToolbarOptions>(cfg, this, layout);

    language_ = new QComboBox(this);
    language_->setObjectName(QStringLiteral("languageCombo"));
    SetControlId(language_, 1092);
    language_->setAccessibleName(QStringLiteral("<#[HTML_TOOLBAR:language]#>"));
    int selected = 0;
    const std::string configured = cfg.m_config_ini.ReadText("skin", "skin_lang", 260);
    const std::vector<SkinLanguage> languages = ReadSkinLanguages(cfg.m_books_folder);
    for (size_t i = 0; i < languages.size(); ++i) {
        language_->addItem(QString::fromStdString(languages[i].name));
        if (languages[i].name == configured)
            selected = static_cast<int>(i);
    }
    language_->setCurrentIndex(languages.empty() ? -1 : selected);
    auto* language_label = new QLabel(QStringLiteral("<#[HTML_TOOLBAR:language]#>"), this);
    language_label->setBuddy(language_);
    options_->Form()->addRow(language_label, language_);


    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    layout->addWidget(buttons);
    CDlgLocalize::LocaliseDialog(this);
}

CCfgSkinDlg::~CCfgSkinDlg() = default;

void CCfgSkinDlg::accept()
{
    options_->Store(cfg_);
    IniFile& ini = cfg_.m_config_ini;
    const std::string chosen = language_->currentText().left(259).toStdString();
    for (const SkinLanguage& entry : ReadSkinLanguages(cfg_.m_books_folder)) {
        if (!entry.name.empty() && chosen.compare(0, entry.name.size(), entry.name) == 0) {
            ini.WriteText("skin", "skin_lang", entry.name);
            ini.WriteText("skin", "lang_filename", entry.file_name);
            break;
        }
    }
    QDialog::accept();
}
