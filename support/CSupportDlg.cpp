#include "support/CSupportDlg.h"

#include "config/CommonUtil.h"
#include "support/SupportPaths.h"
#include "ui_SupportDlg.h"

#include <QMessageBox>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {

constexpr const char* kCaption = "Vellumark";

QString ReadSetting(const IniFile& config, const char* key, size_t capacity)
{
    return QString::fromStdString(config.ReadText("general", key, capacity));
}

}  // namespace

CSupportDlg::CSupportDlg(const std::string& config_path, Opener opener, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::SupportDlg>()),
      config_(config_path),
      switches_(config_path),
      switch_outcome_(switches_.SwitchOn()),
      texts_(support_paths::LanguageFilePath(config_)),
      report_path_(support_paths::ReportPath(config_.ReadText("general", "vazirudu_path", 260))),
      opener_(std::move(opener))
{
    ui_->setupUi(this);
    texts_.LocaliseDialog(this);
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));

    // Ticked only when the switches really are on; ticking them by hand changes nothing.
    const bool on = switch_outcome_ == DiagSwitches::Outcome::kOn;
    ui_->logErrCheck->setChecked(on);
    ui_->logCmdCheck->setChecked(on);
    ShowVersion();
    // Without a support address the button has nowhere to go: say where one is set.
    if (ReadSetting(config_, "contact_url", 260).isEmpty()) {
        ui_->contactButton->setEnabled(false);
        ui_->contactButton->setToolTip(texts_.Text("no_contact").arg(QString::fromStdString(config_path)));
    }

    connect(ui_->openReportButton, &QPushButton::clicked, this, &CSupportDlg::OpenReport);
    connect(ui_->contactButton, &QPushButton::clicked, this, &CSupportDlg::OpenContactPage);
    connect(ui_->configFolderButton, &QPushButton::clicked, this, &CSupportDlg::OpenConfigFolder);
    connect(ui_->exitButton, &QPushButton::clicked, this, &QDialog::reject);
    // Escape, the window's close button and Exit all end in finished().
    connect(this, &QDialog::finished, this, &CSupportDlg::RestoreSwitches);

    // Shown once the event loop runs, above the dialog rather than before it.
    if (!on) {
        const QString text = texts_.Text("config_error").arg(QString::fromStdString(config_path));
        QTimer::singleShot(0, this, [this, text] { ShowWarning(text); });
    }
}

CSupportDlg::~CSupportDlg()
{
    RestoreSwitches();
}

void CSupportDlg::RestoreSwitches()
{
    switches_.Restore();
}

void CSupportDlg::ShowVersion()
{
    const QString line = texts_.Text("version_line");
    ui_->versionLabel->setText(line.arg(ReadSetting(config_, "ver", 32), ReadSetting(config_, "buildver", 32)));
}

void CSupportDlg::OpenReport()
{
    if (!PathExists(report_path_)) {
        ShowWarning(texts_.Text("no_report"));
        return;
    }
    opener_(QUrl::fromLocalFile(QString::fromStdString(report_path_)));
}

void CSupportDlg::OpenContactPage()
{
    // Handed on as stored, even when emptied since the dialog opened: the opener logs
    // what it cannot open.
    opener_(QUrl(ReadSetting(config_, "contact_url", 260)));
}

void CSupportDlg::OpenConfigFolder()
{
    opener_(QUrl::fromLocalFile(QString::fromStdString(support_paths::FolderOf(config_.Path()))));
}

void CSupportDlg::ShowWarning(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kCaption), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
