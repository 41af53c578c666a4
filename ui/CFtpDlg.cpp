#include "ui/CFtpDlg.h"

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "publish/NetworkSettings.h"
#include "ui/CDlgLocalize.h"
#include "ui/FtpServerCheck.h"
#include "ui/PasswordKeepingNote.h"
#include "ui/UserPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include <unistd.h>

namespace {

constexpr const char* kModule = "FtpDlg";
// Room for every profile ftp.ini may hold; keys are at most 259 characters.
constexpr int kMaxProfiles = 1024;
constexpr int kMaxKeyLength = 259;
// An enciphered value holds at most 63 bytes; a longer secret would be cut short.
constexpr int kMaxSecretBytes = 63;

QString Setting(const char* key)
{
    return QStringLiteral("<#[FTP_SETTING:%1]#>").arg(QLatin1String(key));
}

QLabel* AddLabel(QWidget* parent, const char* key, QWidget* field)
{
    auto* label = new QLabel(Setting(key), parent);
    label->setBuddy(field);
    field->setAccessibleName(Setting(key));
    return label;
}

QLineEdit* AddEdit(QFormLayout* form, QWidget* parent, const char* key, int id, int max_length, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    SetControlId(edit, id);
    edit->setMaxLength(max_length);
    form->addRow(AddLabel(parent, key, edit), edit);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, int id, const char* key, const char* name)
{
    auto* button = new QPushButton(Setting(key), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    SetControlId(button, id);
    return button;
}

void ShowMessage(QWidget* owner, QMessageBox::Icon icon, const QString& text)
{
    PromptRequest request;
    request.icon = icon;
    request.caption = QStringLiteral("Vellumark");
    request.text = text;
    ShowPrompt(owner, request);
}

// A typed key path, kept absolute: "~/" and a relative path start at the home folder.
QString KeyPath(const QString& typed)
{
    QString path = typed.trimmed();
    if (path.isEmpty())
        return path;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = path.mid(std::min<qsizetype>(2, path.size()));
    return QDir::cleanPath(QDir::home().absoluteFilePath(path));
}

}  // namespace

CFtpDlg::CFtpDlg(AppConfig& cfg, QWidget* parent) : QDialog(parent), cfg_(cfg)
{
    setObjectName(QStringLiteral("ftpDialog"));
    setWindowTitle(Setting("dlg_caption"));
    auto* layout = new QHBoxLayout(this);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("profileList"));
    SetControlId(list_, kProfileList);
    list_->setColumnCount(1);
    list_->setHeaderLabels({QStringLiteral("Server Name")});
    list_->setRootIsDecorated(false);
    list_->setAccessibleName(Setting("server_list"));
    list_->setMinimumWidth(list_->fontMetrics().averageCharWidth() * 30);
    layout->addWidget(list_, 1);

    auto* right = new QVBoxLayout;
    layout->addLayout(right, 2);
    auto* form = new QFormLayout;
    right->addLayout(form);
    host_ = AddEdit(form, this, "host", kHost, 127, "hostEdit");
    host_->setMinimumWidth(host_->fontMetrics().averageCharWidth() * 36);

    protocol_ = new QComboBox(this);
    protocol_->setObjectName(QStringLiteral("protocolCombo"));
    SetControlId(protocol_, kProtocol);
    // Combo entries are not placeholders: they are looked up here.
    protocol_->addItem(CDlgLocalize::Lookup("FTP_SETTING", "protocol_ftp"), int(FtpProtocol::Ftp));
    protocol_->addItem(CDlgLocalize::Lookup("FTP_SETTING", "protocol_ftps"), int(FtpProtocol::Ftps));
    protocol_->addItem(CDlgLocalize::Lookup("FTP_SETTING", "protocol_sftp"), int(FtpProtocol::Sftp));
    form->addRow(AddLabel(this, "protocol", protocol_), protocol_);
    plain_note_ = new QLabel(Setting("plain_note"), this);
    plain_note_->setObjectName(QStringLiteral("plainFtpNote"));
    form->addRow(QString(), plain_note_);

    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("portSpin"));
    SetControlId(port_, kPort);
    port_->setRange(1, 65535);
    port_->setValue(DefaultFtpPort(FtpProtocol::Ftp));
    form->addRow(AddLabel(this, "port", port_), port_);
    subdir_ = AddEdit(form, this, "subdir", kSubdir, 511, "subdirEdit");
    webaddr_ = AddEdit(form, this, "webaddr", kWebaddr, 511, "webaddrEdit");
    user_ = AddEdit(form, this, "user", kUser, 63, "userEdit");
    password_ = AddEdit(form, this, "password", kPassword, kMaxSecretBytes, "passwordEdit");
    password_->setEchoMode(QLineEdit::Password);
    BuildKeyFileRow(form);
    passphrase_ = AddEdit(form, this, "passphrase", kPassphrase, kMaxSecretBytes, "passphraseEdit");
    passphrase_->setEchoMode(QLineEdit::Password);
    passive_ = new QCheckBox(Setting("passive"), this);
    passive_->setObjectName(QStringLiteral("passiveCheck"));
    SetControlId(passive_, kPassive);
    passive_->setChecked(true);
    form->addRow(QString(), passive_);
    form->addRow(QString(), MakePasswordKeepingNote(this));
    right->addStretch(1);

    auto* buttons = new QHBoxLayout;
    right->addLayout(buttons);
    QPushButton* test = MakeButton(this, kTest, "test", "testButton");
    QPushButton* remove = MakeButton(this, kDelete, "delete", "deleteButton");
    QPushButton* add = MakeButton(this, kAdd, "add", "addButton");
    QPushButton* exit = MakeButton(this, kExit, "exit", "exitButton");
    buttons->addWidget(test);
    buttons->addStretch(1);
    buttons->addWidget(remove);
    buttons->addWidget(add);
    buttons->addWidget(exit);
    connect(test, &QPushButton::clicked, this, &CFtpDlg::Test);
    connect(remove, &QPushButton::clicked, this, &CFtpDlg::Delete);
    connect(add, &QPushButton::clicked, this, &CFtpDlg::Add);
    connect(exit, &QPushButton::clicked, this, &CFtpDlg::Exit);
    connect(protocol_, &QComboBox::currentIndexChanged, this, &CFtpDlg::ProtocolChanged);
    connect(key_file_, &QLineEdit::textChanged, this, &CFtpDlg::UpdateFields);

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
    UpdateFields();
}

void CFtpDlg::BuildKeyFileRow(QFormLayout* form)
{
    key_file_ = new QLineEdit(this);
    key_file_->setObjectName(QStringLiteral("keyFileEdit"));
    SetControlId(key_file_, kKeyFile);
    key_file_->setMaxLength(4095);
    browse_key_ = MakeButton(this, kBrowseKeyFile, "browse_key", "browseKeyButton");
    browse_key_->setAccessibleName(Setting("browse_key_name"));
    connect(browse_key_, &QPushButton::clicked, this, &CFtpDlg::BrowseKeyFile);
    auto* row = new QHBoxLayout;
    row->addWidget(key_file_, 1);
    row->addWidget(browse_key_);
    form->addRow(AddLabel(this, "key_file", key_file_), row);
}

std::string CFtpDlg::ProfileKey() const
{
    return FtpProfileKey(host_->text().trimmed().toStdString(), subdir_->text().trimmed().toStdString());
}

FtpProtocol CFtpDlg::Protocol() const
{
    return protocol_->currentIndex() < 0 ? FtpProtocol::Ftp : static_cast<FtpProtocol>(protocol_->currentData().toInt());
}

void CFtpDlg::SetProtocol(const FtpTransport& transport)
{
    const QSignalBlocker quiet(protocol_);
    // A protocol this program does not know shows no entry, and stays stored until the
    // user chooses one: plain FTP in its place would send the password in clear.
    unknown_protocol_ = transport.unknown_protocol;
    protocol_->setCurrentIndex(unknown_protocol_.empty() ? protocol_->findData(int(transport.protocol)) : -1);
    shown_protocol_ = int(transport.protocol);
    UpdateFields();
}

void CFtpDlg::ProtocolChanged()
{
    unknown_protocol_.clear();
    const FtpProtocol before = static_cast<FtpProtocol>(shown_protocol_);
    if (port_->value() == DefaultFtpPort(before))
        port_->setValue(DefaultFtpPort(Protocol()));
    shown_protocol_ = int(Protocol());
    UpdateFields();
}

bool CFtpDlg::UsesKeyFile() const
{
    return Protocol() == FtpProtocol::Sftp && !key_file_->text().trimmed().isEmpty();
}

void CFtpDlg::UpdateFields()
{
    const bool sftp = Protocol() == FtpProtocol::Sftp;
    const bool plain = Protocol() == FtpProtocol::Ftp;
    plain_note_->setVisible(plain && unknown_protocol_.empty());
    // Screen readers tell the note with the protocol it belongs to.
    protocol_->setAccessibleDescription(plain_note_->isVisibleTo(this) ? plain_note_->text() : QString());
    // SFTP has no passive mode; a key file logs in instead of the password.
    passive_->setEnabled(!sftp);
    key_file_->setEnabled(sftp);
    browse_key_->setEnabled(sftp);
    passphrase_->setEnabled(UsesKeyFile());
    password_->setEnabled(!UsesKeyFile());
}

void CFtpDlg::BrowseKeyFile()
{
    QString start = QFileInfo(KeyPath(key_file_->text())).absolutePath();
    if (key_file_->text().trimmed().isEmpty()) {
        const QDir ssh(QDir::homePath() + QStringLiteral("/.ssh"));
        start = ssh.exists() ? ssh.path() : QDir::homePath();
    }
    const QString chosen = ChooseKeyFile(this, start);
    if (!chosen.isEmpty())
        key_file_->setText(chosen);
}

FtpProfile CFtpDlg::Fields() const
{
    FtpProfile profile;
    profile.host = host_->text().trimmed().toStdString();
    profile.subdir = subdir_->text().trimmed().toStdString();
    profile.user = user_->text().toStdString();
    // With a key file the password is not used, and none is kept.
    if (!UsesKeyFile())
        profile.password = password_->text().toStdString();
    profile.webaddr = webaddr_->text().trimmed().toStdString();
    profile.passive = passive_->isChecked() ? 1 : 0;
    profile.port = port_->value();
    return profile;
}

FtpTransport CFtpDlg::TransportFields() const
{
    FtpTransport transport;
    transport.protocol = Protocol();
    if (UsesKeyFile()) {
        transport.key_file = KeyPath(key_file_->text()).toStdString();
        transport.passphrase = passphrase_->text().toStdString();
    }
    return transport;
}

void CFtpDlg::ShowProfile(const std::string& key)
{
    const FtpProfile profile = ReadFtpProfile(cfg_, key);
    const FtpTransport transport = ReadFtpTransport(cfg_, key);
    host_->setText(QString::fromStdString(profile.host));
    SetProtocol(transport);
    subdir_->setText(QString::fromStdString(profile.subdir));
    user_->setText(QString::fromStdString(profile.user));
    // The stored secrets fill their fields, which never show them in clear.
    password_->setText(QString::fromStdString(profile.password));
    key_file_->setText(QString::fromStdString(transport.key_file));
    passphrase_->setText(QString::fromStdString(transport.passphrase));
    webaddr_->setText(QString::fromStdString(profile.webaddr));
    passive_->setChecked(profile.passive != 0);
    // No stored port means the protocol's usual one.
    const int32_t port = cfg_.m_ftp_ini.ReadInt(key, "ftp_port");
    port_->setValue(port > 0 && port <= 65535 ? port : DefaultFtpPort(transport.protocol));
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

bool CFtpDlg::Store(std::string& key)
{
    key.clear();
    const FtpProfile profile = Fields();
    FtpTransport transport = TransportFields();
    if (FtpProfileKey(profile.host, profile.subdir).empty())
        return true;
    if (profile.password.size() > size_t(kMaxSecretBytes) || transport.passphrase.size() > size_t(kMaxSecretBytes)) {
        CDlgLocalize::MessageBoxByKey(this, "secret_too_long");
        return false;
    }
    if (!transport.key_file.empty() && access(transport.key_file.c_str(), R_OK) != 0) {
        ShowMessage(this, QMessageBox::Warning,
                    CDlgLocalize::Lookup("MESSAGEBOX", "key_file_unreadable").arg(QString::fromStdString(transport.key_file)));
        return false;
    }
    key = SaveFtpProfile(cfg_, profile);
    // The key the user accepted stays while the profile keeps its protocol: another
    // protocol meets another kind of key, which must be confirmed afresh.
    const FtpTransport stored = ReadFtpTransport(cfg_, key);
    if (stored.protocol == transport.protocol) {
        transport.fingerprint = stored.fingerprint;
        transport.key_type = stored.key_type;
    }
    if (!SaveFtpTransport(cfg_, key, transport) ||
        (!unknown_protocol_.empty() && !cfg_.m_ftp_ini.WriteText(key, "protocol", unknown_protocol_)))
        DIAG(kModule, 0, "ERR:ftp profile %s: transport not saved", key.c_str());
    return true;
}

void CFtpDlg::ListAndSelect(const std::string& key)
{
    if (key.empty() || Select(key))
        return;
    auto* item = new QTreeWidgetItem(list_, {QString::fromStdString(key)});
    list_->setCurrentItem(item);
}

void CFtpDlg::Add()
{
    std::string key;
    if (Store(key))
        ListAndSelect(key);
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
    std::string key;
    if (Store(key))
        accept();
}

void CFtpDlg::TestFolder(const std::string& key)
{
    const FolderCheckResult folder = CheckFtpFolderAsking(this, cfg_, key);
    ShowMessage(this, folder.state == FolderState::kWritable ? QMessageBox::Information : QMessageBox::Warning,
                DescribeFolderCheck(folder));
}

void CFtpDlg::Test()
{
    std::string key;
    if (!Store(key) || key.empty())
        return;
    ListAndSelect(key);
    const ServerCheckResult result = CheckFtpServer(this, cfg_, key);
    if (result.outcome == ServerCheck::kLoggedIn)
        TestFolder(key);
    else if (result.outcome == ServerCheck::kNoLogin)
        ShowMessage(this, QMessageBox::Warning,
                    CDlgLocalize::Lookup("MESSAGEBOX", "ftp_login_failed").arg(result.server) + QLatin1Char('\n') +
                        result.reason);
}
