// Passwords in the desktop's secret store: with a Secret Service running (a
// gnome-keyring-daemon of the test's own, on its own session bus) a password saved in the
// FTP servers dialog is in the keyring and not in ftp.ini, a password enciphered in
// ftp.ini before is moved there on the next save, and deleting the server forgets it;
// without one the password stays enciphered in ftp.ini and the dialog says so.
#include "tests/ui/PrivateKeyring.h"
#include "tests/ui/UiTestKit.h"

#include "config/SecretServiceStore.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

namespace {

const std::string kProfile = "ftp.example.org/books";

void SetText(QWidget* root, const char* name, const QString& text)
{
    Find<QLineEdit>(root, name)->setText(text);
}

// Saves the FTP server ftp.example.org/books with `password` through the dialog.
void SaveProfile(AppConfig& cfg, const QString& password)
{
    CFtpDlg dialog(cfg, nullptr);
    SetText(&dialog, "hostEdit", QStringLiteral("ftp.example.org"));
    SetText(&dialog, "subdirEdit", QStringLiteral("books"));
    SetText(&dialog, "userEdit", QStringLiteral("writer"));
    SetText(&dialog, "passwordEdit", password);
    SetText(&dialog, "webaddrEdit", QStringLiteral("https://www.example.org/books/"));
    dialog.Add();
}

QString KeepingNote(AppConfig& cfg)
{
    CFtpDlg dialog(cfg, nullptr);
    return Find<QLabel>(&dialog, "passwordKeepingNote")->text();
}

}  // namespace

class SecretStoreTest : public QObject {
    Q_OBJECT

private slots:
    void withoutASecretServiceThePasswordStaysEnciphered();
    void aRunningSecretServiceKeepsThePasswords();
};

void SecretStoreTest::withoutASecretServiceThePasswordStaysEnciphered()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    SecretServiceStore store;
    QVERIFY(!store.Available());  // no session bus in the test's home
    InstallSecretStore(nullptr);
    const QString note = KeepingNote(cfg);
    QCOMPARE(note, CDlgLocalize::Lookup("FTP_SETTING", "kept_in_settings_file"));
    QVERIFY(note.contains(QStringLiteral("No secret store")));
    SaveProfile(cfg, QStringLiteral("in the file"));
    QCOMPARE(cfg.m_ftp_ini.ReadText(kProfile, "ftp_passwd").size(), size_t(128));
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(kProfile, "ftp_passwd", cfg.m_cipher), std::string("in the file"));
}

void SecretStoreTest::aRunningSecretServiceKeepsThePasswords()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    // A password saved before any secret store ran.
    SaveProfile(cfg, QStringLiteral("from before"));
    QCOMPARE(cfg.m_ftp_ini.ReadText(kProfile, "ftp_passwd").size(), size_t(128));

    PrivateKeyring keyring(home.Root() / "keyring");
    QVERIFY2(keyring.Running(), keyring.Problem().c_str());
    SecretServiceStore store;
    QVERIFY(store.Available());
    InstallSecretStore(&store);
    const SecretName name{cfg.m_ftp_ini.Path(), kProfile, "ftp_passwd"};
    std::string kept;
    // Still read from the file until it is saved again.
    QVERIFY(!store.Lookup(name, kept));
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(kProfile, "ftp_passwd", cfg.m_cipher), std::string("from before"));

    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {static_cast<const IniFile*>(&cfg.m_lang_ini), static_cast<const IniFile*>(&french)}) {
        CDlgLocalize::SetLanguage(language);
        const QString note = KeepingNote(cfg);
        QVERIFY(!note.isEmpty());
        QCOMPARE(note, CDlgLocalize::Lookup("FTP_SETTING", "kept_in_secret_store"));
    }
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);

    // Saved again, the password moves into the keyring and leaves ftp.ini.
    SaveProfile(cfg, QStringLiteral("from before"));
    QVERIFY(store.Lookup(name, kept));
    QCOMPARE(kept, std::string("from before"));
    QVERIFY(cfg.m_ftp_ini.ReadText(kProfile, "ftp_passwd").empty());
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(kProfile, "ftp_passwd", cfg.m_cipher), std::string("from before"));
    // A changed password replaces the kept one.
    SaveProfile(cfg, QStringLiteral("a new one"));
    QVERIFY(store.Lookup(name, kept));
    QCOMPARE(kept, std::string("a new one"));
    QVERIFY(ReadFileBytes(cfg.m_ftp_ini.Path()).find("a new one") == std::string::npos);

    // Deleting the server forgets its password.
    {
        CFtpDlg dialog(cfg, nullptr);
        auto* list = Find<QTreeWidget>(&dialog, "profileList");
        list->setCurrentItem(list->topLevelItem(0));
        dialog.Delete();
    }
    QVERIFY(!store.Lookup(name, kept));
    InstallSecretStore(nullptr);
}

QTEST_MAIN(SecretStoreTest)
#include "SecretStoreTest.moc"
