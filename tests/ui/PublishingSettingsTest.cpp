// The publishing settings: the FTP profiles dialog (add, show, edit, delete and the
// selection that follows, enciphered ftp.ini values), the publishing settings dialog
// (combo refills, the refusals in their order, the login test against the real
// vellumark-service on 127.0.0.1, what saving writes), the two publishing wizard pages
// and the advanced page's button that opens the dialog.
#include "tests/publish/FtpTestServer.h"
#include "tests/service/ServiceFixture.h"
#include "tests/ui/UiTestKit.h"

#include "config/DiagLog.h"
#include "publish/ClassificationDb.h"
#include "ui/CAdvModeTab.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/CNetworkDlg.h"
#include "ui/wizard/CWizardDlg6FTP.h"
#include "ui/wizard/CWizardDlg6Roruviza.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

const std::string kUser = "ann@example.org";
const std::string kPassword = "open-sesame";

void SetText(QWidget* root, const char* name, const QString& text)
{
    Find<QLineEdit>(root, name)->setText(text);
}

void Choose(QWidget* root, const char* name, const QString& text)
{
    QComboBox* combo = Find<QComboBox>(root, name);
    const int index = combo->findText(text);
    if (index < 0)
        qFatal("%s has no entry %s", name, qPrintable(text));
    combo->setCurrentIndex(index);
}

QStringList Entries(QComboBox* combo)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    return entries;
}

QStringList ListedProfiles(CFtpDlg& dialog)
{
    QTreeWidget* list = Find<QTreeWidget>(&dialog, "profileList");
    QStringList names;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        names << list->topLevelItem(i)->text(0);
    return names;
}

QString Selected(CFtpDlg& dialog)
{
    QTreeWidgetItem* item = Find<QTreeWidget>(&dialog, "profileList")->currentItem();
    return item ? item->text(0) : QString();
}

// Creates the account kUser with kPassword on the service as its sign-up page does; the
// HTTP status of the answer.
long CreateAccount(ServiceProcess& service)
{
    return service.Post("/createPubAccount.asp", "email=" + kUser + "&password=" + kPassword,
                        "application/x-www-form-urlencoded")
        .status;
}

// Stores a complete FTP profile as the FTP dialog does.
void AddProfile(AppConfig& cfg, const char* host, const char* subdir, const char* user, const char* password)
{
    CFtpDlg dialog(cfg, nullptr);
    SetText(&dialog, "hostEdit", QString::fromLatin1(host));
    SetText(&dialog, "subdirEdit", QString::fromLatin1(subdir));
    SetText(&dialog, "userEdit", QString::fromLatin1(user));
    SetText(&dialog, "passwordEdit", QString::fromLatin1(password));
    SetText(&dialog, "webaddrEdit", QStringLiteral("https://www.example.org/books/"));
    dialog.Add();
}

}  // namespace

class PublishingSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void ftpProfilesAreAddedShownEditedAndDeleted();
    void ftpDialogSelectsTheCurrentProfile();
    void ftpDialogFollowsTheProtocol();
    void combosFollowTheStoredIdsAndRefill();
    void refusalsComeInOrderAndSavingWritesTheSettings();
    void cancelAndServiceOffCheckNothing();
    void anAddressWithoutAServiceIsNotAWrongPassword();
    void testConnectionChecksTheFolder();
    void wizardNextChecksTheFolder();
    void aFailedLookupKeepsTheRestOfTheChoice();
    void wizardPagesSetTheirModeAndStep();
    void advancedPageOpensTheDialog();
};

void PublishingSettingsTest::ftpProfilesAreAddedShownEditedAndDeleted()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    CFtpDlg dialog(cfg, nullptr);
    QVERIFY(ListedProfiles(dialog).isEmpty());
    QCOMPARE(Find<QLineEdit>(&dialog, "passwordEdit")->echoMode(), QLineEdit::Password);

    // The scheme is dropped; the port, passive flag and account are stored.
    SetText(&dialog, "hostEdit", QStringLiteral("ftp://ftp.example.org"));
    SetText(&dialog, "subdirEdit", QStringLiteral("books"));
    SetText(&dialog, "userEdit", QStringLiteral("writer"));
    SetText(&dialog, "passwordEdit", QStringLiteral("s3cret pass"));
    SetText(&dialog, "webaddrEdit", QStringLiteral("https://www.example.org/books/"));
    Find<QSpinBox>(&dialog, "portSpin")->setValue(2121);
    Find<QCheckBox>(&dialog, "passiveCheck")->setChecked(false);
    dialog.Add();
    const std::string first = "ftp.example.org/books";
    QCOMPARE(ListedProfiles(dialog), QStringList{QString::fromStdString(first)});
    QCOMPARE(Selected(dialog), QString::fromStdString(first));
    // Account values are enciphered on disk and decipher to what was typed.
    const std::string raw_password = cfg.m_ftp_ini.ReadText(first, "ftp_passwd");
    QCOMPARE(raw_password.size(), size_t(128));
    QVERIFY(raw_password.find("s3cret") == std::string::npos);
    QVERIFY(ReadFileBytes(cfg.m_ftp_ini.Path()).find("writer") == std::string::npos);
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(first, "ftp_passwd", cfg.m_cipher), std::string("s3cret pass"));
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(first, "ftp_user", cfg.m_cipher), std::string("writer"));
    QCOMPARE(cfg.m_ftp_ini.ReadInt(first, "ftp_port"), 2121);
    QCOMPARE(cfg.m_ftp_ini.ReadInt(first, "ftp_passive"), 0);
    QCOMPARE(cfg.m_ftp_ini.ReadText(first, "ftp_webaddr"), std::string("https://www.example.org/books/"));

    // A sub-folder that starts with "/" gives no double slash.
    SetText(&dialog, "subdirEdit", QStringLiteral("/magazine"));
    SetText(&dialog, "userEdit", QStringLiteral("editor"));
    Find<QSpinBox>(&dialog, "portSpin")->setValue(21);
    dialog.Add();
    const QString second = QStringLiteral("ftp.example.org/magazine");
    QCOMPARE(ListedProfiles(dialog), (QStringList{QString::fromStdString(first), second}));
    QCOMPARE(Selected(dialog), second);

    // Selecting a profile shows its stored fields; the password stays hidden.
    Find<QTreeWidget>(&dialog, "profileList")->setCurrentItem(
        Find<QTreeWidget>(&dialog, "profileList")->topLevelItem(0));
    QCOMPARE(Find<QLineEdit>(&dialog, "hostEdit")->text(), QStringLiteral("ftp.example.org"));
    QCOMPARE(Find<QLineEdit>(&dialog, "subdirEdit")->text(), QStringLiteral("books"));
    QCOMPARE(Find<QLineEdit>(&dialog, "userEdit")->text(), QStringLiteral("writer"));
    QCOMPARE(Find<QSpinBox>(&dialog, "portSpin")->value(), 2121);
    QVERIFY(!Find<QCheckBox>(&dialog, "passiveCheck")->isChecked());
    QCOMPARE(Find<QLineEdit>(&dialog, "passwordEdit")->echoMode(), QLineEdit::Password);

    // Editing a shown profile and adding it again updates it in place.
    SetText(&dialog, "userEdit", QStringLiteral("new writer"));
    dialog.Add();
    QCOMPARE(ListedProfiles(dialog).size(), 2);
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(first, "ftp_user", cfg.m_cipher), std::string("new writer"));

    // Deleting the first selects and shows the new first; deleting the last empties all.
    dialog.Delete();
    QCOMPARE(ListedProfiles(dialog), QStringList{second});
    QCOMPARE(Selected(dialog), second);
    QCOMPARE(Find<QLineEdit>(&dialog, "userEdit")->text(), QStringLiteral("editor"));
    QVERIFY(cfg.m_ftp_ini.ReadText(first, "ftp_webaddr").empty());
    cfg.m_ftp_ini.SectionNames(100, 259);
    QCOMPARE(cfg.m_ftp_ini.SectionNameList().size(), size_t(1));
    dialog.Delete();
    QVERIFY(ListedProfiles(dialog).isEmpty());

    // Without a server nothing is stored; Exit stores the fields and closes.
    SetText(&dialog, "hostEdit", QString());
    dialog.Add();
    QVERIFY(ListedProfiles(dialog).isEmpty());
    SetText(&dialog, "hostEdit", QStringLiteral("ftp.other.org"));
    SetText(&dialog, "subdirEdit", QStringLiteral("/a/b"));
    dialog.Exit();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.ProfileKey(), std::string("ftp.other.org/a/b"));
    QCOMPARE(cfg.m_ftp_ini.ReadInt("ftp.other.org/a/b", "ftp_port"), 21);
}

void PublishingSettingsTest::ftpDialogSelectsTheCurrentProfile()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    AddProfile(cfg, "one.example.org", "x", "u1", "p1");
    AddProfile(cfg, "two.example.org", "/y", "u2", "p2");
    {
        CFtpDlg dialog(cfg, nullptr);
        QVERIFY(Selected(dialog).isEmpty());  // no current host yet
    }
    cfg.m_ftp_host = "two.example.org";
    cfg.m_ftp_subdir = "/y";
    CFtpDlg dialog(cfg, nullptr);
    QCOMPARE(Selected(dialog), QStringLiteral("two.example.org/y"));
    QCOMPARE(Find<QLineEdit>(&dialog, "userEdit")->text(), QStringLiteral("u2"));
    QCOMPARE(Find<QLineEdit>(&dialog, "passwordEdit")->text(), QStringLiteral("p2"));
}

void PublishingSettingsTest::ftpDialogFollowsTheProtocol()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    CFtpDlg dialog(cfg, nullptr);
    QComboBox* protocol = Find<QComboBox>(&dialog, "protocolCombo");
    QSpinBox* port = Find<QSpinBox>(&dialog, "portSpin");
    QLineEdit* key_file = Find<QLineEdit>(&dialog, "keyFileEdit");
    QLineEdit* passphrase = Find<QLineEdit>(&dialog, "passphraseEdit");
    auto choose = [protocol](FtpProtocol wanted) { protocol->setCurrentIndex(protocol->findData(int(wanted))); };
    // Plain FTP says that the password travels unencrypted; the other two do not.
    QCOMPARE(protocol->currentData().toInt(), int(FtpProtocol::Ftp));
    QVERIFY(Find<QLabel>(&dialog, "plainFtpNote")->isVisibleTo(&dialog));
    QCOMPARE(passphrase->echoMode(), QLineEdit::Password);

    // The usual port follows the protocol; a port of the user's own stays.
    choose(FtpProtocol::Sftp);
    QCOMPARE(port->value(), 22);
    QVERIFY(!Find<QLabel>(&dialog, "plainFtpNote")->isVisibleTo(&dialog));
    QVERIFY(!Find<QCheckBox>(&dialog, "passiveCheck")->isEnabled());
    choose(FtpProtocol::Ftps);
    QCOMPARE(port->value(), 21);
    QVERIFY(!key_file->isEnabled());
    port->setValue(2222);
    choose(FtpProtocol::Sftp);
    QCOMPARE(port->value(), 2222);

    // A key file logs in instead of the password, and needs to be readable.
    SetText(&dialog, "hostEdit", QStringLiteral("sftp.example.org"));
    SetText(&dialog, "subdirEdit", QStringLiteral("books"));
    SetText(&dialog, "userEdit", QStringLiteral("writer"));
    SetText(&dialog, "passwordEdit", QStringLiteral("unused"));
    SetText(&dialog, "webaddrEdit", QStringLiteral("https://www.example.org/books/"));
    QVERIFY(!passphrase->isEnabled());
    key_file->setText(QString::fromStdString((home.Root() / "missing_key").string()));
    QVERIFY(passphrase->isEnabled());
    QVERIFY(!Find<QLineEdit>(&dialog, "passwordEdit")->isEnabled());
    dialog.Exit();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));  // still open
    QCOMPARE(home.Prompts().size(), size_t(1));
    QVERIFY(home.PromptTexts().front().contains(QStringLiteral("missing_key")));
    cfg.m_ftp_ini.SectionNames(100, 259);
    QVERIFY(cfg.m_ftp_ini.SectionNameList().empty());
    WriteFileBytes(home.Root() / "id_test", "key");
    key_file->setText(QStringLiteral("~/../id_test"));
    SetText(&dialog, "passphraseEdit", QStringLiteral("long enough passphrase"));
    dialog.Add();
    const std::string key = "sftp.example.org/books";
    QCOMPARE(cfg.m_ftp_ini.ReadText(key, "protocol"), std::string("sftp"));
    QCOMPARE(cfg.m_ftp_ini.ReadText(key, "key_file"), (home.Root() / "id_test").string());
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(key, "passphrase", cfg.m_cipher), std::string("long enough passphrase"));
    QVERIFY(ReadFileBytes(cfg.m_ftp_ini.Path()).find("long enough") == std::string::npos);
    QVERIFY(cfg.m_ftp_ini.ReadEnciphered(key, "ftp_passwd", cfg.m_cipher).empty());
    QCOMPARE(cfg.m_ftp_ini.ReadInt(key, "ftp_port"), 2222);

    // A confirmed key stays while the protocol does; another protocol must confirm afresh.
    QVERIFY(ConfirmServerFingerprint(cfg, key, "SHA256:" + std::string(43, 'B')));
    SetText(&dialog, "userEdit", QStringLiteral("editor"));
    dialog.Add();
    QCOMPARE(cfg.m_ftp_ini.ReadText(key, "fingerprint"), "SHA256:" + std::string(43, 'B'));
    choose(FtpProtocol::Ftps);
    dialog.Add();
    QVERIFY(cfg.m_ftp_ini.ReadText(key, "fingerprint").empty());
    QVERIFY(cfg.m_ftp_ini.ReadText(key, "key_file").empty());

    // A passphrase that cannot be kept whole is refused rather than cut short.
    choose(FtpProtocol::Sftp);
    key_file->setText(QString::fromStdString((home.Root() / "id_test").string()));
    SetText(&dialog, "passphraseEdit", QString(40, QChar(0xE9)));  // 80 bytes
    home.ClearPrompts();
    dialog.Add();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("secret_too_long")});
    QCOMPARE(cfg.m_ftp_ini.ReadText(key, "protocol"), std::string("ftps"));

    // A profile stored without a port shows its protocol's usual one; every field comes back.
    cfg.m_ftp_ini.WriteText(key, "protocol", "sftp");
    cfg.m_ftp_ini.WriteText(key, "key_file", (home.Root() / "id_test").string());
    cfg.m_ftp_ini.WriteInt(key, "ftp_port", 0);
    CFtpDlg again(cfg, nullptr);
    Find<QTreeWidget>(&again, "profileList")->setCurrentItem(Find<QTreeWidget>(&again, "profileList")->topLevelItem(0));
    QCOMPARE(Find<QComboBox>(&again, "protocolCombo")->currentData().toInt(), int(FtpProtocol::Sftp));
    QCOMPARE(Find<QSpinBox>(&again, "portSpin")->value(), 22);
    QCOMPARE(Find<QLineEdit>(&again, "keyFileEdit")->text().toStdString(), (home.Root() / "id_test").string());

    // A protocol this program does not know is kept, never saved as plain FTP, and the
    // publishing settings refuse it until the user chooses one.
    cfg.m_ftp_ini.WriteText(key, "protocol", "ftp+quantum");
    Find<QTreeWidget>(&again, "profileList")->setCurrentItem(nullptr);
    Find<QTreeWidget>(&again, "profileList")->setCurrentItem(Find<QTreeWidget>(&again, "profileList")->topLevelItem(0));
    QCOMPARE(Find<QComboBox>(&again, "protocolCombo")->currentIndex(), -1);
    QVERIFY(!Find<QLabel>(&again, "plainFtpNote")->isVisibleTo(&again));
    again.Add();
    QCOMPARE(cfg.m_ftp_ini.ReadText(key, "protocol"), std::string("ftp+quantum"));
    NetworkChoice unknown;
    unknown.use_ftp = true;
    unknown.ftp_url = key;
    {
        CNetworkDlg settings(cfg, nullptr);
        QCOMPARE(QString::fromLatin1(settings.Settings()->Refusal(unknown)), QStringLiteral("unknown_protocol"));
    }
    Find<QComboBox>(&again, "protocolCombo")->setCurrentIndex(2);
    again.Add();
    QCOMPARE(cfg.m_ftp_ini.ReadText(key, "protocol"), std::string("sftp"));

    // The publishing settings take a key-file profile without a password, and say how it
    // travels; a plain FTP profile gets the note that its password travels unencrypted.
    AddProfile(cfg, "ftp.example.org", "books", "writer", "pw");
    CNetworkDlg settings(cfg, nullptr);
    NetworkChoice choice;
    choice.use_ftp = true;
    choice.ftp_url = key;
    QVERIFY(!settings.Settings()->Refusal(choice));
    settings.Settings()->FillProfiles(key);
    QVERIFY(Find<QLabel>(&settings, "sftpNote")->isVisibleTo(&settings));
    QVERIFY(!Find<QLabel>(&settings, "plainFtpNote")->isVisibleTo(&settings));
    settings.Settings()->FillProfiles("ftp.example.org/books");
    QVERIFY(Find<QLabel>(&settings, "plainFtpNote")->isVisibleTo(&settings));
    QVERIFY(!Find<QLabel>(&settings, "sftpNote")->isVisibleTo(&settings));
}

void PublishingSettingsTest::combosFollowTheStoredIdsAndRefill()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    {
        CNetworkDlg dialog(cfg, nullptr);
        QCOMPARE(Find<QComboBox>(&dialog, "countryCombo")->currentIndex(), 0);
        QCOMPARE(Entries(Find<QComboBox>(&dialog, "stateCombo")), QStringList{QStringLiteral("Select State")});
        QCOMPARE(Entries(Find<QComboBox>(&dialog, "cityCombo")), QStringList{QStringLiteral("Select City")});
        QCOMPARE(Entries(Find<QComboBox>(&dialog, "subcategoryCombo")),
                 QStringList{QStringLiteral("Select a Sub-Category")});
        QCOMPARE(Find<QComboBox>(&dialog, "categoryCombo")->itemText(0), QStringLiteral("Select Category"));

        // Changing the parent refills with the first entry selected.
        const ClassificationDb db(cfg.db());
        std::vector<ClassEntry> rows;
        QVERIFY(db.Subcategories("Children's", rows));
        Choose(&dialog, "categoryCombo", QStringLiteral("Children's"));
        QComboBox* sub = Find<QComboBox>(&dialog, "subcategoryCombo");
        QCOMPARE(sub->count(), int(rows.size()));
        QCOMPARE(sub->currentIndex(), 0);
        QCOMPARE(sub->currentText().toStdString(), rows.front().name);

        Choose(&dialog, "countryCombo", QStringLiteral("Italy"));
        QComboBox* state = Find<QComboBox>(&dialog, "stateCombo");
        QComboBox* city = Find<QComboBox>(&dialog, "cityCombo");
        QCOMPARE(state->currentText(), QStringLiteral("---"));
        QCOMPARE(Entries(city), QStringList{QStringLiteral("---")});
        Choose(&dialog, "stateCombo", QStringLiteral("Abruzzo"));
        QVERIFY(Entries(city).contains(QStringLiteral("L'Aquila")));
        QCOMPARE(city->currentIndex(), 0);
        // Back to the first country entry: the place asks for a choice again.
        Find<QComboBox>(&dialog, "countryCombo")->setCurrentIndex(0);
        QCOMPARE(Entries(state), QStringList{QStringLiteral("Select State")});
    }
    // Stored ids select their entries, down to the city.
    int32_t country = 0, state_id = 0, city_id = 0;
    QVERIFY(ClassificationDb(cfg.db()).PlaceIds("Italy", "Abruzzo", "L'Aquila", country, state_id, city_id));
    std::vector<ClassEntry> subs;
    QVERIFY(ClassificationDb(cfg.db()).Subcategories("Children's", subs));
    cfg.m_country_id = country;
    cfg.m_state_id = state_id;
    cfg.m_city_id = city_id;
    cfg.m_cat_id = 5;
    cfg.m_subcat_id = subs.back().id;
    CNetworkDlg dialog(cfg, nullptr);
    QCOMPARE(Find<QComboBox>(&dialog, "countryCombo")->currentText(), QStringLiteral("Italy"));
    QCOMPARE(Find<QComboBox>(&dialog, "stateCombo")->currentText(), QStringLiteral("Abruzzo"));
    QCOMPARE(Find<QComboBox>(&dialog, "cityCombo")->currentText(), QStringLiteral("L'Aquila"));
    QCOMPARE(Find<QComboBox>(&dialog, "categoryCombo")->currentText(), QStringLiteral("Children's"));
    QCOMPARE(Find<QComboBox>(&dialog, "subcategoryCombo")->currentText().toStdString(), subs.back().name);
}

void PublishingSettingsTest::refusalsComeInOrderAndSavingWritesTheSettings()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServiceProcess service(home.Root() / "svc");
    QVERIFY(service.Running());
    QCOMPARE(CreateAccount(service), 200L);
    cfg.m_vazirudu_domain = "127.0.0.1:" + std::to_string(service.Port());
    // Every record goes to the status report, which must never hold a password.
    DiagLog::Instance().SetSwitches(1, 0);

    CNetworkDlg dialog(cfg, nullptr);
    QCheckBox* use_ftp = Find<QCheckBox>(&dialog, "useFtpCheck");
    QCheckBox* use_service = Find<QCheckBox>(&dialog, "useServiceCheck");
    QCOMPARE(Find<QLineEdit>(&dialog, "accountPasswordEdit")->echoMode(), QLineEdit::Password);
    use_ftp->setChecked(true);
    use_service->setChecked(true);
    QStringList expected;
    auto refused = [&](const char* key) {
        home.ClearPrompts();
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));  // still open
        QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText(key)});
        QVERIFY(!UiTestHome::MessageText(key).isEmpty());
        QCOMPARE(home.Prompts().front().caption, QStringLiteral("Vellumark"));
    };
    // 1. FTP on without a profile.
    refused("enter_ftp");
    // 2. A profile without its password.
    AddProfile(cfg, "ftp.example.org", "books", "writer", "");
    dialog.Settings()->FillProfiles("ftp.example.org/books");
    refused("complete_ftp_cfg");
    AddProfile(cfg, "ftp.example.org", "books", "writer", "pw");
    // 3. No country, then no category.
    refused("select_category");
    Choose(&dialog, "countryCombo", QStringLiteral("Italy"));
    refused("select_category");
    Choose(&dialog, "categoryCombo", QStringLiteral("Children's"));
    Choose(&dialog, "stateCombo", QStringLiteral("Abruzzo"));
    Choose(&dialog, "cityCombo", QStringLiteral("L'Aquila"));
    // 4. Account, password, login.
    SetText(&dialog, "accountEdit", QString());
    refused("enter_username");
    SetText(&dialog, "accountEdit", QString::fromStdString(kUser));
    SetText(&dialog, "accountPasswordEdit", QString());
    refused("enter_password");
    SetText(&dialog, "accountPasswordEdit", QStringLiteral("wrong-guess-42"));
    refused("wrong_password");
    QVERIFY(cfg.m_http_user_ini.ReadText(AccountSection(kUser, cfg.m_vazirudu_domain), "http_passwd").empty());

    // The right password passes the login test; saving writes every file.
    SetText(&dialog, "accountPasswordEdit", QString::fromStdString(kPassword));
    home.ClearPrompts();
    dialog.accept();
    QVERIFY(home.Prompts().empty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const std::string& host = cfg.m_vazirudu_domain;
    QCOMPARE(cfg.m_http_ini.ReadInt(host, "http_port"), 80);
    QCOMPARE(cfg.m_http_ini.ReadText(host, "http_url"), cfg.m_vazirudu_url);
    QCOMPARE(cfg.m_http_ini.ReadText(host, "http_user"), kUser);
    QCOMPARE(cfg.m_http_user_ini.ReadEnciphered(kUser + "#" + host, "http_passwd", cfg.m_cipher), kPassword);
    QVERIFY(ReadFileBytes(cfg.m_http_user_ini.Path()).find(kPassword) == std::string::npos);
    int32_t country = 0, state = 0, city = 0;
    QVERIFY(ClassificationDb(cfg.db()).PlaceIds("Italy", "Abruzzo", "L'Aquila", country, state, city));
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "cat_id"), 5);
    QVERIFY(cfg.m_config_ini.ReadInt("general", "subcat_id") > 0);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "country_id"), country);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "state_id"), state);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "city_id"), city);
    QCOMPARE(cfg.m_city_id, city);
    QCOMPARE(cfg.m_config_ini.ReadText("network", "ftp_url"), std::string("ftp.example.org/books"));
    QCOMPARE(cfg.m_ftp_url, std::string("ftp.example.org/books"));
    QCOMPARE(cfg.m_ftp_user, std::string("writer"));
    QCOMPARE(cfg.m_ftp_webaddr, std::string("https://www.example.org/books/"));
    QCOMPARE(cfg.m_use_ftp, 1);
    QCOMPARE(cfg.m_use_vazirudu, 1);
    QCOMPARE(cfg.m_config_ini.ReadText("network", "vazirudu_user"), kUser);
    DiagLog::Instance().SetSwitches(0, 0);
    const std::string report = ReadFileBytes(cfg.m_report_path);
    QVERIFY(report.find("errlog") != std::string::npos);  // records of one second replace each other
    QVERIFY(report.find("wrong-guess-42") == std::string::npos);
    QVERIFY(report.find(kPassword) == std::string::npos);

    // Opened again, the dialog shows the saved account; the password stays hidden.
    CNetworkDlg again(cfg, nullptr);
    QCOMPARE(Find<QLineEdit>(&again, "accountEdit")->text().toStdString(), kUser);
    QCOMPARE(Find<QLineEdit>(&again, "accountPasswordEdit")->echoMode(), QLineEdit::Password);
    QCOMPARE(Find<QComboBox>(&again, "profileCombo")->currentText(), QStringLiteral("ftp.example.org/books"));
}

void PublishingSettingsTest::cancelAndServiceOffCheckNothing()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    const std::string before = ReadFileBytes(cfg.m_config_ini.Path());
    {
        CNetworkDlg dialog(cfg, nullptr);
        Find<QCheckBox>(&dialog, "useServiceCheck")->setChecked(true);
        dialog.reject();
    }
    QCOMPARE(ReadFileBytes(cfg.m_config_ini.Path()), before);
    // With the web service off, no account or classification is asked for (the
    // configured service host is never reached).
    CNetworkDlg dialog(cfg, nullptr);
    Find<QCheckBox>(&dialog, "useServiceCheck")->setChecked(false);
    Find<QCheckBox>(&dialog, "useFtpCheck")->setChecked(false);
    dialog.accept();
    QVERIFY(home.Prompts().empty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(cfg.m_config_ini.ReadInt("network", "use_vazirudu"), 0);
    QCOMPARE(cfg.m_config_ini.ReadInt("network", "use_ftp"), 0);
}

void PublishingSettingsTest::anAddressWithoutAServiceIsNotAWrongPassword()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServiceProcess service(home.Root() / "svc");
    QVERIFY(service.Running());
    QCOMPARE(CreateAccount(service), 200L);
    const QString service_host = QStringLiteral("127.0.0.1:%1").arg(service.Port());
    // A port where nothing listens: taken and given back.
    quint16 closed_port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closed_port = probe.serverPort();
    }
    const std::string service_path = cfg.m_vazirudu_url;
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {&cfg.m_lang_ini, &french}) {
        CDlgLocalize::SetLanguage(language);
        CNetworkDlg dialog(cfg, nullptr);
        Find<QCheckBox>(&dialog, "useFtpCheck")->setChecked(false);
        Find<QCheckBox>(&dialog, "useServiceCheck")->setChecked(true);
        Choose(&dialog, "countryCombo", QStringLiteral("Italy"));
        Choose(&dialog, "categoryCombo", QStringLiteral("Children's"));
        SetText(&dialog, "accountEdit", QString::fromStdString(kUser));
        SetText(&dialog, "accountPasswordEdit", QStringLiteral("wrong-guess-42"));
        auto refused = [&](const QString& host, const std::string& path, const char* key) {
            home.ClearPrompts();
            cfg.m_vazirudu_url = path;
            SetText(&dialog, "serviceHostEdit", host);
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(home.PromptTexts(), QStringList{CDlgLocalize::Lookup("MESSAGEBOX", key)});
        };
        // Nothing listening, then a web server whose page is not the service's (a 404).
        refused(QStringLiteral("127.0.0.1:%1").arg(closed_port), service_path, "no_service_answers");
        refused(service_host, "/no-service-here.ashx", "no_service_answers");
        // The service itself refuses the password.
        refused(service_host, service_path, "wrong_password");
        QVERIFY(CDlgLocalize::Lookup("MESSAGEBOX", "no_service_answers") !=
                CDlgLocalize::Lookup("MESSAGEBOX", "wrong_password"));
    }
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);
}

// Test connection also checks the profile's folder: a missing one is made when the user
// agrees, one that cannot be made or written into is named with the server's answer.
void PublishingSettingsTest::testConnectionChecksTheFolder()
{
    namespace fs = std::filesystem;
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    WriteFileBytes(ftp.Root() / "afile", "not a folder");
    CFtpDlg dialog(cfg, nullptr);
    auto test = [&](const char* folder, QMessageBox::StandardButton answer) {
        home.ClearPrompts();
        SetText(&dialog, "hostEdit", QStringLiteral("127.0.0.1"));
        SetText(&dialog, "subdirEdit", QLatin1String(folder));
        SetText(&dialog, "userEdit", QStringLiteral("alice"));
        SetText(&dialog, "passwordEdit", QStringLiteral("secret"));
        SetText(&dialog, "webaddrEdit", QStringLiteral("https://www.example.org/books/"));
        Find<QSpinBox>(&dialog, "portSpin")->setValue(ftp.Port());
        if (answer != QMessageBox::NoButton)
            home.AnswerNext(answer);
        Find<QPushButton>(&dialog, "testButton")->click();
        return home.PromptTexts();
    };
    const QString missing = CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_missing");
    // Missing, and made on request.
    QStringList texts = test("books/2024", QMessageBox::Yes);
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[0], missing);
    QVERIFY2(texts[1].endsWith(CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_ok").arg("/books/2024")),
             qPrintable(texts[1]));
    QVERIFY(fs::is_directory(ftp.Root() / "books/2024"));
    QVERIFY(!fs::exists(ftp.Root() / "books/2024/.vellumark-write-check"));
    // There now: no question.
    texts = test("books/2024", QMessageBox::NoButton);
    QCOMPARE(texts.size(), 1);
    QVERIFY(texts[0].contains(QStringLiteral("/books/2024")));
    // A file in its place cannot become the folder: the server's answer is shown.
    texts = test("afile", QMessageBox::Yes);
    QCOMPARE(texts.size(), 2);
    QVERIFY2(texts[1].startsWith(CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_not_made").arg("/afile")),
             qPrintable(texts[1]));
    QVERIFY2(texts[1].contains(QStringLiteral("550")), qPrintable(texts[1]));
    // A server that refuses every write: the folder is there, but takes nothing.
    FtpTestServer read_only(home.Root() / "ro", FtpFault::ReadOnly);
    QVERIFY(read_only.Running());
    fs::create_directories(read_only.Root() / "books");
    home.ClearPrompts();
    Find<QSpinBox>(&dialog, "portSpin")->setValue(read_only.Port());
    SetText(&dialog, "subdirEdit", QStringLiteral("books"));
    Find<QPushButton>(&dialog, "testButton")->click();
    QCOMPARE(home.PromptTexts().size(), 1);
    QVERIFY2(home.PromptTexts()[0].startsWith(
                 CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_read_only").arg("/books")),
             qPrintable(home.PromptTexts()[0]));
}

// The wizard's FTP page checks the profile's folder before Next moves on, as Test
// connection does, in English and French: a folder that cannot be made shows the server's
// answer; declining to make a missing one stays too; in both a line on the page (which a
// screen reader reads) says why Next did nothing. Made on request, Next moves on.
void PublishingSettingsTest::wizardNextChecksTheFolder()
{
    namespace fs = std::filesystem;
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    WriteFileBytes(ftp.Root() / "afile", "not a folder");
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    QStringList declined_lines;
    for (const IniFile* language : {&cfg.m_lang_ini, &french}) {
        CDlgLocalize::SetLanguage(language);
        const std::string folder = language == &french ? "livres" : "books";
        for (const std::string& subdir : {std::string("afile"), folder}) {
            AddProfile(cfg, "127.0.0.1", subdir.c_str(), "alice", "secret");
            cfg.m_ftp_ini.WriteInt("127.0.0.1/" + subdir, "ftp_port", ftp.Port());
        }
        CWizardDlg6FTP page(cfg, nullptr);
        page.show();
        QSignalSpy steps(&page, &CWizardDlg6FTP::StepRequested);
        QLabel* note = Find<QLabel>(&page, "folderNote");
        const auto next = [&](const std::string& subdir, QMessageBox::StandardButton answer) {
            home.ClearPrompts();
            home.AnswerNext(answer);
            page.Settings()->FillProfiles("127.0.0.1/" + subdir);
            QVERIFY(!note->isVisible());
            Find<QPushButton>(&page, "nextButton")->click();
        };

        next("afile", QMessageBox::Yes);
        QCOMPARE(home.PromptTexts().size(), 2);
        QCOMPARE(home.PromptTexts()[0], CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_missing"));
        QVERIFY2(home.PromptTexts()[1].contains(QStringLiteral("550")), qPrintable(home.PromptTexts()[1]));
        QCOMPARE(steps.count(), 0);
        QVERIFY(note->isVisible());
        const QString unusable = CDlgLocalize::Lookup("NETWORK_SETTING", "folder_unusable");
        QVERIFY2(note->text().startsWith(unusable.section(QLatin1String("%1"), 0, 0) + QStringLiteral("/afile")),
                 qPrintable(note->text()));
        QVERIFY(note->text().contains(QStringLiteral("550")));

        next(folder, QMessageBox::No);
        QCOMPARE(home.PromptTexts(), QStringList{CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_missing")});
        QCOMPARE(steps.count(), 0);
        QVERIFY(!fs::exists(ftp.Root() / folder));
        const QString declined =
            CDlgLocalize::Lookup("NETWORK_SETTING", "folder_declined").arg(QString::fromStdString("/" + folder));
        QCOMPARE(note->text(), declined);
        declined_lines << declined;
        QVERIFY(note->isVisible());
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(note);
        QVERIFY(spoken);
        QCOMPARE(spoken->text(QAccessible::Name), declined);

        home.AnswerNext(QMessageBox::Yes);  // and books go there from now on
        next(folder, QMessageBox::Yes);
        QCOMPARE(home.PromptTexts().size(), 2);
        QVERIFY(home.PromptTexts()[1].startsWith(
            CDlgLocalize::LocaliseText(QStringLiteral("<#[MESSAGEBOX:target_change]#>")).section(QLatin1Char('\n'), 0, 0)));
        QCOMPARE(steps.count(), 1);
        QVERIFY(fs::is_directory(ftp.Root() / folder));
        QCOMPARE(cfg.m_ftp_url, "127.0.0.1/" + folder);
        QVERIFY(!note->isVisible());
    }
    QCOMPARE(declined_lines.size(), 2);
    QVERIFY(declined_lines[0] != declined_lines[1]);
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);
}

void PublishingSettingsTest::aFailedLookupKeepsTheRestOfTheChoice()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    AddProfile(cfg, "ftp.example.org", "books", "writer", "pw");
    cfg.m_cat_id = 5;
    NetworkChoice choice;
    choice.use_ftp = choice.use_service = true;
    choice.ftp_url = "ftp.example.org/books";
    choice.user = kUser;
    choice.password = kPassword;
    choice.category = "No such category";
    choice.subcategory = "None";
    choice.country = "Italy";
    choice.state = "Abruzzo";
    choice.city = "L'Aquila";
    SaveNetworkChoice(cfg, choice);
    // The classification that is not found is stored as none; the place, the account
    // and the FTP target are saved all the same.
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "cat_id"), 0);
    QCOMPARE(cfg.m_cat_id, 0);
    QCOMPARE(cfg.m_config_ini.ReadInt("general", "country_id"), 380);
    QCOMPARE(cfg.m_config_ini.ReadText("network", "ftp_url"), choice.ftp_url);
    QCOMPARE(cfg.m_http_user_ini.ReadEnciphered(AccountSection(kUser, cfg.m_vazirudu_domain), "http_passwd",
                                                cfg.m_cipher),
             kPassword);
    // A profile without a web address is not made the target.
    cfg.m_ftp_ini.WriteText("bare.example.org/", "ftp_port", "21");
    choice.use_service = false;
    choice.ftp_url = "bare.example.org/";
    SaveNetworkChoice(cfg, choice);
    QCOMPARE(cfg.m_ftp_url, std::string("ftp.example.org/books"));
}

void PublishingSettingsTest::wizardPagesSetTheirModeAndStep()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServiceProcess service(home.Root() / "svc");
    QVERIFY(service.Running());
    QCOMPARE(CreateAccount(service), 200L);
    cfg.m_vazirudu_domain = "127.0.0.1:" + std::to_string(service.Port());

    CWizardDlg6Roruviza service_page(cfg, nullptr);
    service_page.show();
    QSignalSpy steps(&service_page, &CWizardDlg6Roruviza::StepRequested);
    QSignalSpy exits(&service_page, &CWizardDlg6Roruviza::ExitRequested);
    QSignalSpy helps(&service_page, &CWizardDlg6Roruviza::HelpRequested);
    QVERIFY(!Find<QCheckBox>(&service_page, "useServiceCheck")->isVisible());
    Find<QPushButton>(&service_page, "nextButton")->click();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("select_category")});
    QCOMPARE(steps.count(), 0);
    Choose(&service_page, "countryCombo", QStringLiteral("Côte d'Ivoire"));
    Choose(&service_page, "categoryCombo", QStringLiteral("Education"));
    SetText(&service_page, "accountEdit", QString::fromStdString(kUser));
    SetText(&service_page, "accountPasswordEdit", QString::fromStdString(kPassword));
    cfg.m_use_ftp = 1;
    // Books went to the FTP server: the page asks before the service takes its place.
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);
    Find<QPushButton>(&service_page, "nextButton")->click();
    QCOMPARE(home.PromptTexts().size(), 1);
    QVERIFY(home.PromptTexts()[0].startsWith(
        CDlgLocalize::LocaliseText(QStringLiteral("<#[MESSAGEBOX:target_change]#>")).section(QLatin1Char('\n'), 0, 0)));
    QCOMPARE(steps.count(), 1);
    QCOMPARE(steps.at(0), (QList<QVariant>{7, 5}));
    QVERIFY(service_page.isHidden());
    QCOMPARE(cfg.m_use_vazirudu, 1);
    QCOMPARE(cfg.m_use_ftp, 0);
    QCOMPARE(cfg.m_use_local, 0);
    QCOMPARE(cfg.m_country_id, 384);
    Find<QPushButton>(&service_page, "backButton")->click();
    QCOMPARE(steps.at(1), (QList<QVariant>{3, 0}));
    Find<QPushButton>(&service_page, "exitButton")->click();
    Find<QPushButton>(&service_page, "helpButton")->click();
    QCOMPARE(exits.count(), 1);
    QCOMPARE(helps.count(), 1);

    home.ClearPrompts();
    CWizardDlg6FTP ftp_page(cfg, nullptr);
    ftp_page.show();
    QSignalSpy ftp_steps(&ftp_page, &CWizardDlg6FTP::StepRequested);
    Find<QPushButton>(&ftp_page, "nextButton")->click();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("enter_ftp")});
    // The own home link switches its two fields.
    QCheckBox* own = Find<QCheckBox>(&ftp_page, "useHomeCheck");
    QVERIFY(!Find<QCheckBox>(&ftp_page, "useEmailCheck")->isVisible());
    own->setChecked(false);
    QVERIFY(!Find<QLineEdit>(&ftp_page, "homeTextEdit")->isEnabled());
    own->setChecked(true);
    QVERIFY(Find<QLineEdit>(&ftp_page, "homeUrlEdit")->isEnabled());
    SetText(&ftp_page, "homeTextEdit", QStringLiteral("My shop"));
    // Next logs in to check the folder: a real server on this machine.
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    std::filesystem::create_directories(ftp.Root() / "books");
    AddProfile(cfg, "127.0.0.1", "books", "alice", "secret");
    cfg.m_ftp_ini.WriteInt("127.0.0.1/books", "ftp_port", ftp.Port());
    ftp_page.Settings()->FillProfiles("127.0.0.1/books");
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);  // books go to the FTP server instead of the service
    Find<QPushButton>(&ftp_page, "nextButton")->click();
    QCOMPARE(home.PromptTexts().size(), 1);
    QCOMPARE(ftp_steps.count(), 1);
    QCOMPARE(ftp_steps.at(0), (QList<QVariant>{7, 6}));
    QVERIFY(ftp_page.isHidden());
    QCOMPARE(cfg.m_use_ftp, 1);
    QCOMPARE(cfg.m_use_vazirudu, 0);
    QCOMPARE(cfg.m_ftp_url, std::string("127.0.0.1/books"));
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "skin_logotxt"), std::string("My shop"));
    QCOMPARE(cfg.m_config_ini.ReadInt("skin", "skin_useownlogo"), 1);
}

void PublishingSettingsTest::advancedPageOpensTheDialog()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    cfg.m_use_ftp = 0;
    cfg.m_use_vazirudu = 0;
    AddProfile(cfg, "ftp.example.org", "books", "writer", "pw");
    CAdvModeTab page(cfg, home.Table(), nullptr, nullptr);
    QLabel* label = Find<QLabel>(&page, "uploadLabel");
    QCOMPARE(label->text(), CDlgLocalize::Lookup("ADVANCED", "not_upload"));
    bool seen = false;
    QTimer::singleShot(0, [&seen] {
        auto* dialog = qobject_cast<CNetworkDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        Find<QCheckBox>(dialog, "useFtpCheck")->setChecked(true);
        Find<QCheckBox>(dialog, "useServiceCheck")->setChecked(false);
        dialog->accept();
    });
    Find<QPushButton>(&page, "destinationButton")->click();
    QVERIFY(seen);
    QVERIFY(label->text().contains(CDlgLocalize::Lookup("ADVANCED", "ftp")));
}

QTEST_MAIN(PublishingSettingsTest)
#include "PublishingSettingsTest.moc"
