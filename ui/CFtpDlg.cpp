#include "ui/CFtpDlg.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "publish/NetworkSettings.h"
#include "ui/CDlgLocalize.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr const char* kModule = "FtpDlg";
// Room for every profile ftp.ini may hold; keys are at most 259 characters.
constexpr int kMaxProfiles = 1024;
constexpr int kMaxKeyLength = 259;

QLineEdit* AddEdit(QFormLayout* form, QWidget* parent, const char* key, int id, int max_length, const char* name)
{
    const QString caption = QStringLiteral("<#[FTP_SETTING:%1]#>").arg(QLatin1String(key));
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    SetControlId(edit, id);
    edit->setMaxLength(max_length);
    edit->setAccessibleName(caption);
    auto* label = new QLabel(caption, parent);
    label->setBuddy(edit);
    form->addRow(label, edit);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, int id, const char* key, const char* name)
{
    auto* button = new QPushButton(QStringLiteral("<#[FTP_SETTING:%1]#>").arg(QLatin1String(key)), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    SetControlId(button, id);
    return button;
}

}  // namespace

CFtpDlg::CFtpDlg(AppConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("ftpDialog"));
    setWindowTitle(QStringLiteral("<#[FTP_SETTING:dlg_caption]#>"));
    auto* layout = new QHBoxLayout(this);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("profileList"));
    SetControlId(list_, kProfileList);
    list_->setColumnCount(1);
    list_->setHeaderLabels({QStringLiteral("Server Name")});
    list_->setRootIsDecorated(false);
    list_->setAccessibleName(QStringLiteral("<#[FTP_SETTING:server_list]#>"));
    list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 30);
    layout->addWidget(list_, 1);

    auto* right = new QVBoxLayout;
    layout->addLayout(right, 2);
    auto* form = new QFormLayout;
    right->addLayout(form);
    host_ = AddEdit(form, this, "host", kHost, 127, "hostEdit");
    host_->setMinimumWidth(host_->fontMetrics().averageCharWidth() * 36);
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("portSpin"));
    SetControlId(port_, kPort);
    port_->setRange(1, 65535);
    port_->setValue(21);
    port_->setAccessibleName(QStringLiteral("<#[FTP_SETTING:port]#>"));
    auto* port_label = new QLabel(QStringLiteral("<#[FTP_SETTING:port]#>"), this);
    port_label->setBuddy(port_);
    form->addRow(port_label, port_);
    subdir_ = AddEdit(form, this, "subdir", kSubdir, 511, "subdirEdit");
    webaddr_ = AddEdit(form, this, "webaddr", kWebaddr, 511, "webaddrEdit");
    user_ = AddEdit(form, this, "user", kUser, 63, "userEdit");
    password_ = AddEdit(form, this, "password", kPassword, 63, "passwordEdit");
    password_->setEchoMode(QLineEdit::Password);
    passive_ = new QCheckBox(QStringLiteral("<#[FTP_SETTING:passive]#>"), this);
    passive_->setObjectName(QStringLiteral("passiveCheck"));
    SetControlId(passive_, kPassive);
    passive_->setChecked(true);
    form->addRow(QString(), passive_);
    right->addStretch(1);

    auto* buttons = new QHBoxLayout;
    right->addLayout(buttons);
    QPushButton* remove = MakeButton(this, kDelete, "delete", "deleteButton");
    QPushButton* add = MakeButton(this, kAdd, "add", "addButton");
    QPushButton* exit = MakeButton(this, kExit, "exit", "exitButton");
    buttons->addStretch(1);
    buttons->addWidget(remove);
    buttons->addWidget(add);
    buttons->addWidget(exit);
    connect(remove, &QPushButton::clicked, this, &CFtpDlg::Delete);
    connect(add, &QPushButton::clicked, this, &CFtpDlg::Add);
    connect(exit, &QPushButton::clicked, this, &CFtpDlg::Exit);

    cfg_.m_ftp_ini.SectionNames(kMaxProfiles, kMaxKeyLength);
    for (const std::string& name : cfg_.m_ftp_ini.SectionNameList())
        new QTreeWidgetItem(list_, {QString::fromStdString(name)});
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item)
            ShowProfile(item->text(0).toStdString());
    });
    if (cfg_.m_ftp_host.empty())
        DIAG(kModule, 0, "ERR:m_ftp_host empty");
    else
        Select(FtpProfileKey(cfg_.m_ftp_host, cfg_.m_ftp_subdir));

    CDlgLocalize::LocaliseDialog(this);
    list_->setHeaderLabels({CDlgLocalize::Lookup("FTP_SETTING", "server_name")});
}

std::string CFtpDlg::ProfileKey() const
{
    return FtpProfileKey(host_->text().trimmed().toStdString(), subdir_->text().trimmed().toStdString());
}

FtpProfile CFtpDlg::Fields() const
{
    FtpProfile profile;
    profile.host = host_->text().trimmed().toStdString();
    profile.subdir = subdir_->text().trimmed().toStdString();
    profile.user = user_->text().toStdString();
    profile.password = password_->text().toStdString();
    profile.webaddr = webaddr_->text().trimmed().toStdString();
    profile.passive = passive_->isChecked() ? 1 : 0;
    profile.port = port_->value();
    return profile;
}

void CFtpDlg::ShowProfile(const std::string& key)
{
    const FtpProfile profile = ReadFtpProfile(cfg_, key);
    host_->setText(QString::fromStdString(profile.host));
    subdir_->setText(QString::fromStdString(profile.subdir));
    user_->setText(QString::fromStdString(profile.user));
    // The stored password fills the field, which never shows it in clear.
    password_->setText(QString::fromStdString(profile.password));
    webaddr_->setText(QString::fromStdString(profile.webaddr));
    passive_->setChecked(profile.passive != 0);
    port_->setValue(profile.port > 65535 ? 21 : profile.port);
}

bool CFtpDlg::Select(const std::string& key)
{
    const QString name = QString::fromStdString(key);
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        if (list_->topLevelItem(i)->text(0) == name) {
            list_->setCurrentItem(list_->topLevelItem(i));
            return true;
        }
    }
    return false;
}

void CFtpDlg::Add()
{
    const std::string key = SaveFtpProfile(cfg_, Fields());
    if (key.empty() || Select(key))
        return;
    auto* item = new QTreeWidgetItem(list_, {QString::fromStdString(key)});
    list_->setCurrentItem(item);
}

void CFtpDlg::Delete()
{
    QTreeWidgetItem* item = list_->currentItem();
    if (!item)
        return;
    const int row = list_->indexOfTopLevelItem(item);
    cfg_.m_ftp_ini.DeleteSection(item->text(0).toStdString());
    // Nothing may be shown while the entry goes, or its fields would follow the
    // selection that Qt picks on its own.
    list_->blockSignals(true);
    delete list_->takeTopLevelItem(row);
    list_->blockSignals(false);
    if (list_->topLevelItemCount() == 0) {
        list_->setCurrentItem(nullptr);
        return;
    }
    QTreeWidgetItem* next = list_->topLevelItem(row > 0 ? row - 1 : 0);
    list_->setCurrentItem(next);
    ShowProfile(next->text(0).toStdString());
}

void CFtpDlg::Exit()
{
    SaveFtpProfile(cfg_, Fields());
    accept();
}
