// The desktop program meets an FTP server's identity: the FTP servers dialog's Test, the
// publishing settings' OK and the wizard's FTP page connect once to a real server started
// by the test on 127.0.0.1 (OpenSSH's sshd for SFTP, vsftpd for FTP over TLS). A key that
// nothing vouches for is shown with its fingerprint and kept only when the user accepts
// it; a changed key is shown beside the one accepted before and defaults to No; a key that
// known_hosts contradicts cannot be accepted; no secret reaches a message or the log.
#include "tests/publish/TransportServers.h"
#include "tests/ui/UiTestKit.h"

#include "config/DiagLog.h"
#include "publish/NetworkSettings.h"
#include "ui/CAdvModeTab.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/CNetworkDlg.h"
#include "ui/wizard/CWizardDlg6FTP.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <sstream>

namespace {

const std::string kProfile = "127.0.0.1/books";
const std::string kOtherKey = "SHA256:" + std::string(43, 'A');

void SetText(QWidget* root, const char* name, const std::string& text)
{
    Find<QLineEdit>(root, name)->setText(QString::fromStdString(text));
}

void ChooseProtocol(CFtpDlg& dialog, FtpProtocol protocol)
{
    QComboBox* combo = Find<QComboBox>(&dialog, "protocolCombo");
    combo->setCurrentIndex(combo->findData(int(protocol)));
}

// The fields every profile of these tests shares.
void FillServer(CFtpDlg& dialog, const TestAccount& account, FtpProtocol protocol, int port)
{
    SetText(&dialog, "hostEdit", "127.0.0.1");
    SetText(&dialog, "subdirEdit", "books");
    SetText(&dialog, "userEdit", account.name);
    SetText(&dialog, "webaddrEdit", "https://www.example.org/books/");
    ChooseProtocol(dialog, protocol);
    Find<QSpinBox>(&dialog, "portSpin")->setValue(port);
}

std::string Fingerprint(AppConfig& cfg)
{
    return cfg.m_ftp_ini.ReadText(kProfile, "fingerprint");
}

}  // namespace

class FtpServerIdentityTest : public QObject {
    Q_OBJECT

private slots:
    void sftpKeyIsShownAtFirstConnectionAndKeptWhenAccepted();
    void changedTlsKeyWarnsAndDefaultsToNo();
    void aJobMeetingAnUnknownServerNamesItsKey();

private:
    const TestAccount* Account()
    {
        std::string why;
        const TestAccount* account = TestAccount::Get(why);
        if (!account)
            qWarning("skipped: %s", why.c_str());
        return account;
    }
};

void FtpServerIdentityTest::sftpKeyIsShownAtFirstConnectionAndKeptWhenAccepted()
{
    const TestAccount* account = Account();
    if (!account)
        QSKIP("no local account for the servers");
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServerFolder folder;
    SshdServer sshd(*account, folder);
    QVERIFY(sshd.Running());
    StderrCapture log(home.Root() / "stderr.txt");

    CFtpDlg dialog(cfg, nullptr);
    FillServer(dialog, *account, FtpProtocol::Sftp, sshd.Port());
    // The key logs in; its passphrase is asked for only once a key file is chosen.
    QVERIFY(!Find<QLineEdit>(&dialog, "passphraseEdit")->isEnabled());
    home.ChooseFile(QString::fromStdString(sshd.KeyFile().string()));
    Find<QPushButton>(&dialog, "browseKeyButton")->click();
    QCOMPARE(Find<QLineEdit>(&dialog, "keyFileEdit")->text().toStdString(), sshd.KeyFile().string());
    QVERIFY(Find<QLineEdit>(&dialog, "passphraseEdit")->isEnabled());
    SetText(&dialog, "passphraseEdit", SshdServer::KeyPassphrase());

    // First connection: the server's own fingerprint, a question whose default is No.
    Find<QPushButton>(&dialog, "testButton")->click();
    QCOMPARE(home.Prompts().size(), size_t(1));
    const PromptRequest first = home.Prompts().front();
    QVERIFY2(first.text.contains(QString::fromStdString(sshd.Fingerprint())), qPrintable(first.text));
    QVERIFY(first.text.contains(QStringLiteral("127.0.0.1:%1").arg(sshd.Port())));
    QCOMPARE(first.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(first.default_button, QMessageBox::No);
    QVERIFY(Fingerprint(cfg).empty());  // declined: nothing kept

    // Accepted: the fingerprint is kept, and the login with the key is tried at once; the
    // profile's folder is not on the server yet, and is made when the user agrees.
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);
    home.AnswerNext(QMessageBox::Yes);
    dialog.Test();
    QCOMPARE(Fingerprint(cfg), sshd.Fingerprint());
    const QString logged_in =
        CDlgLocalize::Lookup("MESSAGEBOX", "ftp_test_ok").arg(QStringLiteral("127.0.0.1:%1").arg(sshd.Port()));
    const QString folder_ok = CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_ok").arg(QStringLiteral("/books"));
    QVERIFY2(home.PromptTexts().size() == 3, qPrintable(home.PromptTexts().join(" || ")));
    QCOMPARE(home.PromptTexts()[1], CDlgLocalize::Lookup("MESSAGEBOX", "ftp_folder_missing"));
    QCOMPARE(home.PromptTexts().back(), logged_in + QLatin1Char('\n') + folder_ok);
    // The next connection asks nothing.
    home.ClearPrompts();
    dialog.Test();
    QCOMPARE(home.PromptTexts(), QStringList{logged_in + QLatin1Char('\n') + folder_ok});

    // known_hosts naming another key for the server wins: it is explained, never accepted.
    std::istringstream other_key(ReadFileBytes(sshd.KeyFile().string() + ".pub"));
    std::string type, blob;
    other_key >> type >> blob;
    WriteFileBytes(home.Root() / "home/.ssh/known_hosts",
                   "[127.0.0.1]:" + std::to_string(sshd.Port()) + " " + type + " " + blob + "\n");
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);  // whatever the user would press
    dialog.Test();
    QVERIFY2(home.Prompts().size() == 1, qPrintable(home.PromptTexts().join(QStringLiteral(" | "))));
    const PromptRequest hosts = home.Prompts().front();
    QCOMPARE(hosts.buttons, QMessageBox::StandardButtons(QMessageBox::Close));
    QVERIFY2(hosts.text.contains(QStringLiteral("ssh-keygen -R '[127.0.0.1]:%1'").arg(sshd.Port())),
             qPrintable(hosts.text));
    QCOMPARE(Fingerprint(cfg), sshd.Fingerprint());

    // The passphrase is stored enciphered and never shown or logged; no password is kept.
    const std::string passphrase = SshdServer::KeyPassphrase();
    QCOMPARE(cfg.m_ftp_ini.ReadEnciphered(kProfile, "passphrase", cfg.m_cipher), passphrase);
    QVERIFY(ReadFileBytes(cfg.m_ftp_ini.Path()).find("battery") == std::string::npos);
    QVERIFY(cfg.m_ftp_ini.ReadEnciphered(kProfile, "ftp_passwd", cfg.m_cipher).empty());
    QCOMPARE(cfg.m_ftp_ini.ReadText(kProfile, "protocol"), std::string("sftp"));
    const std::string records = log.Stop();
    QVERIFY(records.find(sshd.Fingerprint()) != std::string::npos);  // the log names the key
    QVERIFY(records.find("battery") == std::string::npos);
    QVERIFY(first.text.indexOf(QStringLiteral("battery")) < 0);
}

void FtpServerIdentityTest::changedTlsKeyWarnsAndDefaultsToNo()
{
    const TestAccount* account = Account();
    if (!account)
        QSKIP("no local account for the servers");
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServerFolder folder;
    VsftpdServer vsftpd(*account, folder);
    QVERIFY(vsftpd.Running());
    StderrCapture log(home.Root() / "stderr.txt");
    {
        // A profile whose server is out of reach for now.
        CFtpDlg dialog(cfg, nullptr);
        FillServer(dialog, *account, FtpProtocol::Ftps, FreePort());
        SetText(&dialog, "passwordEdit", account->password);
        dialog.Add();
    }
    QCOMPARE(cfg.m_ftp_ini.ReadText(kProfile, "protocol"), std::string("ftps"));

    CNetworkDlg dialog(cfg, nullptr);
    Find<QCheckBox>(&dialog, "useFtpCheck")->setChecked(true);
    Find<QCheckBox>(&dialog, "useServiceCheck")->setChecked(false);
    dialog.Settings()->FillProfiles(kProfile);
    // No login: the user decides whether to keep the choice; No keeps the dialog open.
    dialog.accept();
    QCOMPARE(home.Prompts().size(), size_t(1));
    QVERIFY(home.PromptTexts().front().startsWith(
        CDlgLocalize::Lookup("MESSAGEBOX", "ftp_login_failed").section(QLatin1Char('%'), 0, 0)));
    QVERIFY(home.PromptTexts().front().endsWith(CDlgLocalize::Lookup("MESSAGEBOX", "keep_ftp_choice")));
    QCOMPARE(home.Prompts().front().default_button, QMessageBox::No);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));

    // The server is reached, but shows another key than the one accepted before.
    cfg.m_ftp_ini.WriteInt(kProfile, "ftp_port", vsftpd.Port());
    QVERIFY(ConfirmServerFingerprint(cfg, kProfile, kOtherKey));
    home.ClearPrompts();
    dialog.accept();
    QCOMPARE(home.Prompts().size(), size_t(1));
    const PromptRequest changed = home.Prompts().front();
    QCOMPARE(changed.icon, QMessageBox::Warning);
    QCOMPARE(changed.default_button, QMessageBox::No);
    QVERIFY(changed.text.contains(QString::fromStdString(kOtherKey)));
    QVERIFY(changed.text.contains(QString::fromStdString(vsftpd.Fingerprint())));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(Fingerprint(cfg), kOtherKey);

    // Accepted: the new key is kept, the login works, the choice is saved.
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);
    dialog.accept();
    QCOMPARE(home.Prompts().size(), size_t(1));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Fingerprint(cfg), vsftpd.Fingerprint());
    QCOMPARE(cfg.m_config_ini.ReadText("network", "ftp_url"), kProfile);

    // The wizard's FTP page asks the same before it moves on.
    cfg.m_ftp_ini.WriteText(kProfile, "fingerprint", "");
    home.ClearPrompts();
    CWizardDlg6FTP page(cfg, nullptr);
    QSignalSpy steps(&page, &CWizardDlg6FTP::StepRequested);
    page.Settings()->FillProfiles(kProfile);
    Find<QPushButton>(&page, "nextButton")->click();
    QCOMPARE(home.Prompts().size(), size_t(1));
    QVERIFY(home.PromptTexts().front().contains(QString::fromStdString(vsftpd.Fingerprint())));
    QCOMPARE(steps.count(), 0);
    // Declined, the page says why Next did not go on.
    auto* declined = Find<QLabel>(&page, "keyDeclinedNote");
    QVERIFY(declined->isVisibleTo(&page));
    QCOMPARE(declined->text(), CDlgLocalize::Lookup("NETWORK_SETTING", "key_declined"));
    QVERIFY(!declined->text().isEmpty());
    // Accepted; the profile's folder is not on the server yet and is made on request.
    home.AnswerNext(QMessageBox::Yes);
    home.AnswerNext(QMessageBox::Yes);
    Find<QPushButton>(&page, "nextButton")->click();
    QCOMPARE(steps.count(), 1);
    QVERIFY(!declined->isVisibleTo(&page));
    QCOMPARE(Fingerprint(cfg), vsftpd.Fingerprint());

    const std::string records = log.Stop();
    QVERIFY(records.find(account->password) == std::string::npos);
    for (const QString& text : home.PromptTexts())
        QVERIFY(!text.contains(QString::fromStdString(account->password)));
}

void FtpServerIdentityTest::aJobMeetingAnUnknownServerNamesItsKey()
{
    const TestAccount* account = Account();
    if (!account)
        QSKIP("no local account for the servers");
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    home.UseFakeEngine(3, "0");
    ServerFolder folder;
    SshdServer sshd(*account, folder);
    QVERIFY(sshd.Running());
    {
        CFtpDlg dialog(cfg, nullptr);
        FillServer(dialog, *account, FtpProtocol::Sftp, sshd.Port());
        SetText(&dialog, "passwordEdit", account->password);
        dialog.Add();
    }
    cfg.m_config_ini.WriteText("network", "ftp_url", kProfile);
    cfg.m_ftp_url = kProfile;
    cfg.ReadFtpProfile();
    SetPublishingMode(cfg, PublishingMode::kFtp);

    // The book is made, but not uploaded to a server whose key nobody confirmed.
    CMainDlg window(cfg, home.Table(), home.Notices());
    const std::filesystem::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    CAdvModeTab& page = *window.ModeTabs()->AdvancedPage();
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(home.Prompts().size(), size_t(1), 30000);
    const QString box = home.PromptTexts().front();
    // Not a failed login: the box says what happened and how to go on.
    QCOMPARE(home.Prompts().front().caption, CDlgLocalize::Lookup("MESSAGEBOX", "identity_caption"));
    QVERIFY2(box.startsWith(CDlgLocalize::Lookup("MESSAGEBOX", "identity_next_step")), qPrintable(box));
    QVERIFY(box.contains(QStringLiteral("Resume")));
    QVERIFY2(box.contains(QString::fromStdString(sshd.Fingerprint())), qPrintable(box));
    QVERIFY(Fingerprint(cfg).empty());
}

QTEST_MAIN(FtpServerIdentityTest)
#include "FtpServerIdentityTest.moc"
