#include "ui/CBaseNetworkDlg.h"

#include "config/AppConfig.h"
#include "config/ServiceHostCheck.h"
#include "config/ServiceHostKeys.h"
#include "publish/ClassificationDb.h"
#include "ui/CCfgSkinDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/FtpServerCheck.h"
#include "ui/PasswordKeepingNote.h"
#include "ui/ServiceLinks.h"
#include "ui/UserPrompts.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kMaxProfiles = 1024;
constexpr int kMaxKeyLength = 259;

QString Setting(const char* key)
{
    return QStringLiteral("<#[NETWORK_SETTING:%1]#>").arg(QLatin1String(key));
}

QPushButton* MakeButton(QWidget* parent, int id, const char* key, const char* name)
{
    auto* button = new QPushButton(Setting(key), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    SetControlId(button, id);
    return button;
}

QToolButton* MakeHelp(QWidget* parent, int id, const char* name, const char* key)
{
    return MakeHelpButton(parent, id, name, Setting(key));
}

QCheckBox* MakeCheck(QWidget* parent, int id, const char* key, const char* name, bool on)
{
    auto* box = new QCheckBox(Setting(key), parent);
    box->setObjectName(QLatin1String(name));
    SetControlId(box, id);
    box->setChecked(on);
    return box;
}

}  // namespace

CBaseNetworkDlg::CBaseNetworkDlg(AppConfig& cfg, int parts, QWidget* parent)
    : QWidget(parent), cfg_(cfg), parts_(parts)
{
    setObjectName(QStringLiteral("publishingSettings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const bool both = parts == kBothParts;
    if (parts & kFtpPart) {
        auto* group = new QGroupBox(Setting("ftp_group"), this);
        group->setObjectName(QStringLiteral("ftpGroup"));
        auto* grid = new QGridLayout(group);
        int row = 0;
        BuildFtpPart(grid, row, both);
        layout->addWidget(group);
    }
    if (parts & kServicePart) {
        auto* group = new QGroupBox(Setting("service_group"), this);
        group->setObjectName(QStringLiteral("serviceGroup"));
        auto* grid = new QGridLayout(group);
        int row = 0;
        BuildServicePart(grid, row, both);
        layout->addWidget(group);
    }
}

void CBaseNetworkDlg::BuildFtpPart(QGridLayout* grid, int& row, bool with_check)
{
    QWidget* owner = grid->parentWidget();
    use_ftp_ = MakeCheck(owner, kUseFtp, "use_ftp", "useFtpCheck", !with_check || cfg_.m_use_ftp == 1);
    use_ftp_->setVisible(with_check);
    grid->addWidget(use_ftp_, row, 0, 1, 2);
    grid->addWidget(MakeHelp(owner, kFtpHelp, "ftpHelpButton", "use_ftp"), row, 3, Qt::AlignRight);
    ++row;
    auto* label = new QLabel(Setting("ftp_profile"), owner);
    profiles_ = new QComboBox(owner);
    profiles_->setObjectName(QStringLiteral("profileCombo"));
    SetControlId(profiles_, kProfileCombo);
    profiles_->setAccessibleName(Setting("ftp_profile"));
    profiles_->setMinimumContentsLength(30);
    profiles_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    label->setBuddy(profiles_);
    QPushButton* configure = MakeButton(owner, kConfigureFtp, "configure_ftp", "configureFtpButton");
    grid->addWidget(label, row, 0);
    grid->addWidget(profiles_, row, 1);
    grid->addWidget(configure, row, 2, 1, 2);
    ++row;
    const char* note_keys[] = {"note_ftp", "note_ftps", "note_sftp"};
    const char* note_names[] = {"plainFtpNote", "ftpsNote", "sftpNote"};
    for (int i = 0; i < 3; ++i) {
        transport_notes_[i] = new QLabel(Setting(note_keys[i]), owner);
        transport_notes_[i]->setObjectName(QLatin1String(note_names[i]));
        transport_notes_[i]->hide();
        grid->addWidget(transport_notes_[i], row, 1, 1, 3);
    }
    ++row;
    // Says why OK or Next stayed after the user declined the server's key.
    declined_note_ = new QLabel(QStringLiteral("<#[NETWORK_SETTING:key_declined]#>"), owner);
    declined_note_->setObjectName(QStringLiteral("keyDeclinedNote"));
    declined_note_->setWordWrap(true);
    declined_note_->hide();
    grid->addWidget(declined_note_, row, 1, 1, 3);
    ++row;
    // Says why Next stayed when the profile's folder cannot take the book.
    folder_note_ = new QLabel(owner);
    folder_note_->setObjectName(QStringLiteral("folderNote"));
    folder_note_->setWordWrap(true);
    folder_note_->hide();
    grid->addWidget(folder_note_, row, 1, 1, 3);
    ++row;
    connect(configure, &QPushButton::clicked, this, &CBaseNetworkDlg::ConfigureFtp);
    connect(profiles_, &QComboBox::currentIndexChanged, this, &CBaseNetworkDlg::ShowTransport);
    if (with_check) {
        // On the wizard page the toolbar options are on the page itself.
        QPushButton* toolbar = MakeButton(owner, kToolbarSetup, "toolbar_setup", "toolbarSetupButton");
        grid->addWidget(toolbar, row, 2, 1, 2);
        ++row;
        connect(toolbar, &QPushButton::clicked, this, [this] {
            CCfgSkinDlg dialog(cfg_, this);
            dialog.exec();
        });
    }
    grid->setColumnStretch(1, 1);
    FillProfiles(cfg_.m_ftp_url);
}

QComboBox* CBaseNetworkDlg::AddCombo(QGridLayout* grid, int row, int column, const char* key, int id,
                                     const char* name)
{
    QWidget* owner = grid->parentWidget();
    auto* label = new QLabel(Setting(key), owner);
    auto* combo = new QComboBox(owner);
    combo->setObjectName(QLatin1String(name));
    SetControlId(combo, id);
    combo->setAccessibleName(Setting(key));
    combo->setMinimumContentsLength(18);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    label->setBuddy(combo);
    grid->addWidget(label, row, column);
    grid->addWidget(combo, row, column + 1);
    return combo;
}

void CBaseNetworkDlg::BuildServicePart(QGridLayout* grid, int& row, bool with_check)
{
    QWidget* owner = grid->parentWidget();
    use_service_ = MakeCheck(owner, kUseService, "use_service", "useServiceCheck",
                             !with_check || cfg_.m_use_vazirudu == 1);
    use_service_->setVisible(with_check);
    grid->addWidget(use_service_, row, 0, 1, 3);
    grid->addWidget(MakeHelp(owner, kServiceHelp, "serviceHelpButton", "use_service"), row, 3, Qt::AlignRight);
    ++row;

    // Where the service is; empty: no service (nothing is asked of the network for it).
    auto* host_label = new QLabel(Setting("service_host"), owner);
    host_ = new QLineEdit(QString::fromStdString(cfg_.m_vazirudu_domain), owner);
    host_->setObjectName(QStringLiteral("serviceHostEdit"));
    host_->setMaxLength(127);
    host_->setPlaceholderText(Setting("service_host_hint"));
    host_->setAccessibleName(Setting("service_host"));
    host_label->setBuddy(host_);
    grid->addWidget(host_label, row, 0);
    grid->addWidget(host_, row, 1, 1, 3);
    ++row;
    // Says, while the address is typed, when it is refused or reached in clear.
    host_note_ = new QLabel(owner);
    host_note_->setObjectName(QStringLiteral("serviceHostNote"));
    host_note_->setWordWrap(true);
    grid->addWidget(host_note_, row, 1, 1, 3);
    ++row;
    connect(host_, &QLineEdit::textChanged, this, &CBaseNetworkDlg::ShowHostNote);
    ShowHostNote();

    auto* account_label = new QLabel(Setting("account"), owner);
    account_ = new QLineEdit(owner);
    account_->setObjectName(QStringLiteral("accountEdit"));
    SetControlId(account_, kAccount);
    account_->setMaxLength(255);
    account_->setAccessibleName(Setting("account"));
    account_label->setBuddy(account_);
    // The stand-in address of a fresh configuration is a hint, not an account.
    if (cfg_.m_vazirudu_user == AppConfig::kPlaceholderUser)
        account_->setPlaceholderText(QString::fromLatin1(AppConfig::kPlaceholderUser));
    else
        account_->setText(QString::fromStdString(cfg_.m_vazirudu_user));
    auto* password_label = new QLabel(Setting("password"), owner);
    password_ = new QLineEdit(owner);
    password_->setObjectName(QStringLiteral("accountPasswordEdit"));
    SetControlId(password_, kPassword);
    password_->setMaxLength(63);
    password_->setEchoMode(QLineEdit::Password);
    password_->setAccessibleName(Setting("password"));
    password_label->setBuddy(password_);
    password_->setText(QString::fromStdString(ReadAccountPassword(cfg_, account_->text().toStdString())));
    grid->addWidget(account_label, row, 0);
    grid->addWidget(account_, row, 1);
    grid->addWidget(password_label, row, 2);
    grid->addWidget(password_, row, 3);
    ++row;
    QPushButton* create = MakeButton(owner, kCreateAccount, "create_account", "createAccountButton");
    grid->addWidget(create, row, 3);
    ++row;
    grid->addWidget(MakePasswordKeepingNote(owner), row, 1, 1, 3);
    ++row;
    connect(create, &QPushButton::clicked, this, [this] {
        OpenWithDesktop(QUrl(AccountCreationAddress(cfg_, ServiceHost())), "BaseNetworkDlg");
    });
    // An account can only be created where a service is.
    const auto recheck =
        FollowServiceSetting(create, [this] { return !AccountCreationAddress(cfg_, ServiceHost()).isEmpty(); });
    connect(host_, &QLineEdit::textChanged, create, recheck);

    category_ = AddCombo(grid, row, 0, "category", kCategory, "categoryCombo");
    subcategory_ = AddCombo(grid, row, 2, "subcategory", kSubcategory, "subcategoryCombo");
    ++row;
    country_ = AddCombo(grid, row, 0, "country", kCountry, "countryCombo");
    state_ = AddCombo(grid, row, 2, "state", kState, "stateCombo");
    ++row;
    city_ = AddCombo(grid, row, 2, "city", kCity, "cityCombo");
    ++row;
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    FillCountries();
    FillCategories();
    connect(category_, &QComboBox::currentIndexChanged, this, [this] { RefillSubcategories(0); });
    connect(country_, &QComboBox::currentIndexChanged, this, [this] { RefillStates(0, 0); });
    connect(state_, &QComboBox::currentIndexChanged, this, [this] { RefillCities(0); });
}

void CBaseNetworkDlg::FillProfiles(const std::string& key)
{
    profiles_->clear();
    cfg_.m_ftp_ini.SectionNames(kMaxProfiles, kMaxKeyLength);
    for (const std::string& name : cfg_.m_ftp_ini.SectionNameList())
        profiles_->addItem(QString::fromStdString(name));
    const int index = profiles_->findText(QString::fromStdString(key), Qt::MatchExactly | Qt::MatchCaseSensitive);
    profiles_->setCurrentIndex(index >= 0 ? index : (profiles_->count() > 0 ? 0 : -1));
    ShowTransport();
}

void CBaseNetworkDlg::ShowTransport()
{
    const std::string key = profiles_->currentText().toStdString();
    const FtpTransport transport = key.empty() ? FtpTransport() : ReadFtpTransport(cfg_, key);
    const int shown = key.empty() || !transport.unknown_protocol.empty() ? -1 : int(transport.protocol);
    for (int i = 0; i < 3; ++i)
        transport_notes_[i]->setVisible(i == shown);
    declined_note_->hide();
    folder_note_->hide();
}

const char* CBaseNetworkDlg::HostRefusal(const std::string& host)
{
    ServiceHostParts parts;
    switch (SplitServiceHost(host, parts)) {
    case ServiceHostProblem::kNone: return nullptr;
    case ServiceHostProblem::kEmpty: return "enter_service_host";
    case ServiceHostProblem::kScheme: return "service_host_scheme";
    case ServiceHostProblem::kCredentials: return "service_host_credentials";
    case ServiceHostProblem::kCharacters: return "service_host_characters";
    case ServiceHostProblem::kPort: return "service_host_port";
    }
    return nullptr;
}

void CBaseNetworkDlg::ShowHostNote()
{
    const std::string host = ServiceHost();
    const char* refusal = host.empty() ? nullptr : HostRefusal(host);
    QString note;
    if (refusal)
        note = CDlgLocalize::Lookup("MESSAGEBOX", refusal);
    else if (ServiceHostInClear(host))
        note = CDlgLocalize::Lookup("NETWORK_SETTING", "note_service_http");
    host_note_->setText(note);
    host_note_->setVisible(!note.isEmpty());
    // A dialog grows to show the whole note.
    if (auto* dialog = qobject_cast<QDialog*>(window()); dialog && dialog->isVisible()) {
        dialog->layout()->activate();
        if (dialog->height() < dialog->layout()->totalHeightForWidth(dialog->width()))
            dialog->resize(dialog->width(), dialog->layout()->totalHeightForWidth(dialog->width()));
    }
    // Screen readers hear the reason with the field.
    host_->setAccessibleDescription(note);
}

void CBaseNetworkDlg::ConfigureFtp()
{
    CFtpDlg dialog(cfg_, this);
    dialog.exec();
    FillProfiles(dialog.ProfileKey());
}

void CBaseNetworkDlg::Placeholder(QComboBox* combo, const char* key)
{
    const QSignalBlocker quiet(combo);
    combo->clear();
    combo->addItem(CDlgLocalize::Lookup("NETWORK_SETTING", key), 0);
    combo->setCurrentIndex(0);
}

void CBaseNetworkDlg::Fill(QComboBox* combo, const std::vector<ClassEntry>& rows, int32_t wanted)
{
    const QSignalBlocker quiet(combo);
    combo->clear();
    int selected = 0;
    for (const ClassEntry& row : rows) {
        if (row.id == wanted)
            selected = combo->count();
        combo->addItem(QString::fromStdString(row.name), row.id);
    }
    combo->setCurrentIndex(rows.empty() ? -1 : selected);
}

void CBaseNetworkDlg::FillCountries()
{
    std::vector<ClassEntry> rows;
    ClassificationDb(cfg_.db()).Countries(rows);
    rows.insert(rows.begin(), ClassEntry{CDlgLocalize::Lookup("NETWORK_SETTING", "select_country").toStdString(), 0});
    const bool known = cfg_.m_country_id != 0 &&
                       std::any_of(rows.begin() + 1, rows.end(),
                                   [this](const ClassEntry& row) { return row.id == cfg_.m_country_id; });
    Fill(country_, rows, known ? cfg_.m_country_id : 0);
    if (known) {
        RefillStates(cfg_.m_state_id, cfg_.m_city_id);
    } else {
        country_->setCurrentIndex(0);
        Placeholder(state_, "select_state");
        Placeholder(city_, "select_city");
    }
}

void CBaseNetworkDlg::FillCategories()
{
    std::vector<ClassEntry> rows;
    ClassificationDb(cfg_.db()).Categories(rows);
    rows.insert(rows.begin(), ClassEntry{CDlgLocalize::Lookup("NETWORK_SETTING", "select_category").toStdString(), 0});
    const bool known = cfg_.m_cat_id != 0 &&
                       std::any_of(rows.begin() + 1, rows.end(),
                                   [this](const ClassEntry& row) { return row.id == cfg_.m_cat_id; });
    Fill(category_, rows, known ? cfg_.m_cat_id : 0);
    if (known) {
        RefillSubcategories(cfg_.m_subcat_id);
    } else {
        category_->setCurrentIndex(0);
        Placeholder(subcategory_, "select_subcategory");
    }
}

void CBaseNetworkDlg::RefillSubcategories(int32_t wanted)
{
    // The first entry asks for a choice; it has no subcategories.
    if (category_->currentIndex() <= 0) {
        Placeholder(subcategory_, "select_subcategory");
        return;
    }
    std::vector<ClassEntry> rows;
    ClassificationDb(cfg_.db()).Subcategories(category_->currentText().toStdString(), rows);
    Fill(subcategory_, rows, wanted);
}

void CBaseNetworkDlg::RefillStates(int32_t wanted_state, int32_t wanted_city)
{
    if (country_->currentIndex() <= 0) {
        Placeholder(state_, "select_state");
        Placeholder(city_, "select_city");
        return;
    }
    std::vector<ClassEntry> rows;
    ClassificationDb(cfg_.db()).States(country_->currentText().toStdString(), rows);
    Fill(state_, rows, wanted_state);
    RefillCities(wanted_city);
}

void CBaseNetworkDlg::RefillCities(int32_t wanted)
{
    if (country_->currentIndex() <= 0)
        return;
    std::vector<ClassEntry> rows;
    ClassificationDb(cfg_.db()).Cities(country_->currentText().toStdString(), state_->currentText().toStdString(),
                                       rows);
    Fill(city_, rows, wanted);
}

NetworkChoice CBaseNetworkDlg::Choice() const
{
    NetworkChoice choice;
    if (parts_ & kFtpPart) {
        choice.use_ftp = use_ftp_->isChecked();
        choice.ftp_url = profiles_->currentText().toStdString();
    }
    if (parts_ & kServicePart) {
        choice.use_service = use_service_->isChecked();
        choice.user = account_->text().trimmed().toStdString();
        choice.password = password_->text().toStdString();
        choice.category = category_->currentIndex() > 0 ? category_->currentText().toStdString() : std::string();
        choice.subcategory = subcategory_->currentText().toStdString();
        choice.country = country_->currentIndex() > 0 ? country_->currentText().toStdString() : std::string();
        choice.state = state_->currentText().toStdString();
        choice.city = city_->currentText().toStdString();
    }
    return choice;
}

const char* CBaseNetworkDlg::Refusal(const NetworkChoice& choice) const
{
    if (choice.use_ftp) {
        if (choice.ftp_url.empty())
            return "enter_ftp";
        const FtpProfile profile = ReadFtpProfile(cfg_, choice.ftp_url);
        // A protocol this program does not know never connects.
        const FtpTransport transport = ReadFtpTransport(cfg_, choice.ftp_url);
        if (!transport.unknown_protocol.empty())
            return "unknown_protocol";
        // An SFTP key file logs in without a password.
        const bool by_key = transport.protocol == FtpProtocol::Sftp && !transport.key_file.empty();
        if (profile.user.empty() || (profile.password.empty() && !by_key))
            return "complete_ftp_cfg";
    }
    // A typed address is saved even with the service off, so it is checked first.
    const std::string host = ServiceHost();
    if (const char* refusal = host.empty() ? nullptr : HostRefusal(host))
        return refusal;
    if (!choice.use_service)
        return nullptr;
    if (host.empty())
        return "enter_service_host";
    if (choice.country.empty() || choice.category.empty())
        return "select_category";
    if (choice.user.empty())
        return "enter_username";
    if (choice.password.empty())
        return "enter_password";
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ServiceLogin login = TestServiceLogin(cfg_, choice.user, choice.password);
    QApplication::restoreOverrideCursor();
    if (login == ServiceLogin::kNoService)
        return "no_service_answers";
    return login == ServiceLogin::kLoggedIn ? nullptr : "wrong_password";
}

bool CBaseNetworkDlg::Validate(QWidget* owner, NetworkChoice& choice) const
{
    choice = Choice();
    // The login test goes to the service address as typed; a refusal puts the stored
    // one back.
    const std::string kept_host = cfg_.m_vazirudu_domain;
    const std::string kept_books = cfg_.m_vazirudu_webaddr;
    if (host_) {
        cfg_.m_vazirudu_domain = ServiceHost();
        cfg_.m_vazirudu_webaddr = ServiceBooksAddress(cfg_.m_vazirudu_domain);
    }
    const char* key = Refusal(choice);
    if (key || (choice.use_ftp && !ServerAccepted(owner, choice.ftp_url))) {
        cfg_.m_vazirudu_domain = kept_host;
        cfg_.m_vazirudu_webaddr = kept_books;
        if (key)
            CDlgLocalize::MessageBoxByKey(owner, key);
        return false;
    }
    return true;
}

std::string CBaseNetworkDlg::ServiceHost() const
{
    return host_ ? host_->text().trimmed().toStdString() : cfg_.m_vazirudu_domain;
}

bool CBaseNetworkDlg::StoreServiceHost() const
{
    return !host_ || SaveServiceHost(cfg_, ServiceHost());
}

bool CBaseNetworkDlg::ServerAccepted(QWidget* owner, const std::string& profile) const
{
    declined_note_->hide();
    folder_note_->hide();
    // Plain FTP cannot say who its server is: there is nothing to confirm.
    if (ProfileChecksServerIdentity(cfg_, profile)) {
        const ServerCheckResult result = CheckFtpServer(owner, cfg_, profile);
        declined_note_->setVisible(result.outcome == ServerCheck::kDeclined);
        if (result.outcome == ServerCheck::kDeclined)
            return false;
        if (result.outcome == ServerCheck::kNoLogin)
            return KeepAfterFailedLogin(owner, result.server, result.reason);
    }
    return !check_folder_ || FolderAccepted(owner, profile);
}

bool CBaseNetworkDlg::FolderAccepted(QWidget* owner, const std::string& profile) const
{
    const FolderCheckResult folder = CheckFtpFolderAsking(owner, cfg_, profile);
    if (folder.state == FolderState::kWritable)
        return true;
    if (folder.state == FolderState::kNoLogin)
        return KeepAfterFailedLogin(owner, folder.server, folder.reason);
    if (folder.declined) {
        folder_note_->setText(CDlgLocalize::Lookup("NETWORK_SETTING", "folder_declined").arg(folder.folder));
    } else {
        PromptRequest request;
        request.caption = QStringLiteral("Vellumark");
        request.text = DescribeFolderCheck(folder);
        ShowPrompt(owner, request);
        folder_note_->setText(
            CDlgLocalize::Lookup("NETWORK_SETTING", "folder_unusable").arg(folder.folder, folder.reason));
    }
    folder_note_->show();
    return false;
}

bool CBaseNetworkDlg::KeepAfterFailedLogin(QWidget* owner, const QString& server, const QString& reason)
{
    // The server may be out of reach for now; the user decides whether to keep the choice.
    PromptRequest request;
    request.icon = QMessageBox::Warning;
    request.caption = QStringLiteral("Vellumark");
    request.text = CDlgLocalize::Lookup("MESSAGEBOX", "ftp_login_failed").arg(server) + QLatin1Char('\n') + reason +
                   QStringLiteral("\n\n") + CDlgLocalize::Lookup("MESSAGEBOX", "keep_ftp_choice");
    request.buttons = QMessageBox::Yes | QMessageBox::No;
    request.default_button = QMessageBox::No;
    return ShowPrompt(owner, request) == QMessageBox::Yes;
}
