#include "ui/ToolbarOptions.h"

#include "config/AppConfig.h"
#include "ui/CDlgLocalize.h"
#include "ui/SkinLanguageList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

QCheckBox* AddCheck(QVBoxLayout* layout, QWidget* parent, const char* key, int id, int32_t value, const char* name)
{
    auto* box = new QCheckBox(QStringLiteral("<#[HTML_TOOLBAR:%1]#>").arg(QLatin1String(key)), parent);
    box->setObjectName(QLatin1String(name));
    SetControlId(box, id);
    box->setChecked(value != 0);
    layout->addWidget(box);
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
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 40);
    auto* label = new QLabel(caption, parent);
    label->setBuddy(edit);
    form->addRow(label, edit);
    return edit;
}

}  // namespace

ToolbarOptions::ToolbarOptions(const AppConfig& cfg, QWidget* parent, QVBoxLayout* layout)
{
    use_email_ = AddCheck(layout, parent, "use_email", 1067, cfg.m_skin_usemail, "useEmailCheck");
    use_note_ = AddCheck(layout, parent, "use_note", 1120, cfg.m_skin_usenote, "useNoteCheck");
    offer_pdf_ = AddCheck(layout, parent, "offer_pdf", 1138, cfg.m_upload_pdf, "offerPdfCheck");
    use_home_ = AddCheck(layout, parent, "use_home_url", 1121, cfg.m_skin_useownlogo, "useHomeCheck");
    form_ = new QFormLayout;
    layout->addLayout(form_);
    home_text_ = AddEdit(form_, parent, "home_txt", 1122, cfg.m_skin_logotxt, "homeTextEdit");
    home_url_ = AddEdit(form_, parent, "home_url", 1123, cfg.m_skin_logourl, "homeUrlEdit");

    language_ = new QComboBox(parent);
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
    auto* language_label = new QLabel(QStringLiteral("<#[HTML_TOOLBAR:language]#>"), parent);
    language_label->setBuddy(language_);
    form_->addRow(language_label, language_);

    QLineEdit* text = home_text_;
    QLineEdit* url = home_url_;
    auto enable_home = [text, url](bool on) {
        text->setEnabled(on);
        url->setEnabled(on);
    };
    enable_home(use_home_->isChecked());
    QObject::connect(use_home_, &QCheckBox::toggled, parent, enable_home);
}

std::unique_ptr<ToolbarOptions> ToolbarOptions::InWizardGroup(const AppConfig& cfg, QWidget* page,
                                                              QVBoxLayout* layout)
{
    auto* group = new QGroupBox(QStringLiteral("<#[HTML_TOOLBAR:dlg_caption]#>"), page);
    group->setObjectName(QStringLiteral("toolbarGroup"));
    auto options = std::make_unique<ToolbarOptions>(cfg, group, new QVBoxLayout(group));
    options->use_email_->hide();
    options->use_note_->hide();
    options->offer_pdf_->hide();
    layout->addWidget(group);
    return options;
}

void ToolbarOptions::Store(AppConfig& cfg) const
{
    cfg.m_skin_usemail = use_email_->isChecked() ? 1 : 0;
    cfg.m_skin_usenote = use_note_->isChecked() ? 1 : 0;
    cfg.m_skin_useownlogo = use_home_->isChecked() ? 1 : 0;
    cfg.m_upload_pdf = offer_pdf_->isChecked() ? 1 : 0;
    IniFile& ini = cfg.m_config_ini;
    ini.WriteInt("general", "upload_pdf", cfg.m_upload_pdf);
    ini.WriteInt("skin", "skin_usemail", cfg.m_skin_usemail);
    ini.WriteInt("skin", "skin_usenote", cfg.m_skin_usenote);
    ini.WriteInt("skin", "skin_useownlogo", cfg.m_skin_useownlogo);
    if (cfg.m_skin_useownlogo) {
        cfg.m_skin_logotxt = home_text_->text().left(259).toStdString();
        cfg.m_skin_logourl = home_url_->text().left(259).toStdString();
        ini.WriteText("skin", "skin_logotxt", cfg.m_skin_logotxt);
        ini.WriteText("skin", "skin_logourl", cfg.m_skin_logourl);
    }
    // The list is read again: the entry that matches the chosen name over its length.
    const std::string chosen = language_->currentText().left(259).toStdString();
    for (const SkinLanguage& entry : ReadSkinLanguages(cfg.m_books_folder)) {
        if (!entry.name.empty() && chosen.compare(0, entry.name.size(), entry.name) == 0) {
            ini.WriteText("skin", "skin_lang", entry.name);
            ini.WriteText("skin", "lang_filename", entry.file_name);
            break;
        }
    }
}
