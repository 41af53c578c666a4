// The desktop program meets an FTP server's identity: the FTP servers dialog's Test, the
// publishing settings' OK and the wizard's FTP page connect once to a real server started
// by the test on 127.0.0.1 (OpenSSH's sshd for SFTP, vsftpd for FTP over TLS). A key that
// nothing vouches for is shown with its fingerprint and kept only when the user accepts
// it; a changed key is shown beside the one accepted before and defaults to No; a key that
// known_hosts contradicts cannot be accepted; no secret reaches a message or the log.
#include "tests/publish/TransportServers.h"
#include "tests/ui/UiTestKit.h"

#include "config/DiagLog.h"
#include "config/IniFile.h"
#include "publish/NetworkSettings.h"
#include "ui/CAdvModeTab.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/CNetworkDlg.h"
#include "ui/CServerKeyDlg.h"
#include "ui/FtpServerCheck.h"
#include "ui/wizard/CWizardDlg6FTP.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QProcess>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

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

// The certificate's SHA-256 as `openssl x509 -fingerprint -sha256` prints it.
QString OpensslFingerprint(const std::filesystem::path& certificate)
{
    QProcess openssl;
    openssl.start(QStringLiteral("/usr/bin/openssl"),
                  {"x509", "-noout", "-fingerprint", "-sha256", "-in", QString::fromStdString(certificate.string())});
    if (!openssl.waitForFinished(10000))
        return {};
    return QString::fromLatin1(openssl.readAllStandardOutput()).trimmed().section(QLatin1Char('='), 1);
}

// Shows `request` in a real message box over `owner` and checks that each of `values` is
// laid out on one line, at the box's width and at half its own width, that the box is wide
// enough for those lines, and that a screen reader hears them as plain text.
void ExpectWholeInMessageBox(QWidget* owner, const PromptRequest& request, const QStringList& values)
{
    prompt_hooks::SetPrompt({});
    ShowNotice(owner, request);
    auto* box = owner->findChild<QMessageBox*>(QStringLiteral("noticeBox"));
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    QTextDocument doc;
    doc.setDefaultFont(label->font());
    doc.setDocumentMargin(0);
    if (label->textFormat() == Qt::RichText)
        doc.setHtml(label->text());
    else
        doc.setPlainText(label->text());
    const QString plain = doc.toPlainText();
    const int shown = label->contentsRect().width();
    for (const int width : {shown, label->fontMetrics().horizontalAdvance(values.front()) / 2}) {
        doc.setTextWidth(width);
        doc.size();  // lays the text out
        for (const QString& value : values) {
            const qsizetype at = plain.indexOf(value);
            QVERIFY2(at >= 0, qPrintable(plain));
            const QTextBlock block = doc.findBlock(int(at));
            const QTextLine first = block.layout()->lineForTextPosition(int(at - block.position()));
            const QTextLine last = block.layout()->lineForTextPosition(int(at + value.size() - 1 - block.position()));
            QVERIFY2(first.lineNumber() == last.lineNumber(), qPrintable(value));
            if (width == shown)
                QVERIFY2(first.naturalTextWidth() <= shown + 1, qPrintable(value));
        }
    }
    const QString spoken = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
    for (const QString& value : values)
        QVERIFY2(spoken.contains(value), qPrintable(spoken));
    QVERIFY(!spoken.contains(QLatin1Char('<')));
    box->close();
}

}  // namespace

class FtpServerIdentityTest : public QObject {
    Q_OBJECT

private slots:
    void sftpKeyIsShownAtFirstConnectionAndKeptWhenAccepted();
    void changedTlsKeyWarnsAndDefaultsToNo();
    void aJobMeetingAnUnknownServerNamesItsKey();
    void theTlsQuestionShowsTheCertificateFingerprint();

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
    QVERIFY2(first.text.contains(QString::fromStdString("ED25519 " + sshd.Fingerprint())), qPrintable(first.text));
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
    QVERIFY(changed.text.contains(QString::fromStdString("RSA " + vsftpd.Fingerprint())));
    QVERIFY(changed.text.contains(OpensslFingerprint(vsftpd.Certificate())));
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
    const QString offered = QString::fromStdString("ED25519 " + sshd.Fingerprint());
    QVERIFY2(box.contains(offered), qPrintable(box));
    QVERIFY(Fingerprint(cfg).empty());

    // A key other than the one accepted: the box, in French here, names both with their kind.
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    CDlgLocalize::SetLanguage(&french);
    QVERIFY(ConfirmServerFingerprint(cfg, kProfile, kOtherKey, "ED25519"));
    const std::filesystem::path second = home.Root() / "second.pdf";
    WriteFileBytes(second, "%PDF-1.4");
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(second.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(home.Prompts().size(), size_t(2), 30000);
    const PromptRequest changed = home.Prompts().back();
    QVERIFY2(changed.text.startsWith(CDlgLocalize::Lookup("MESSAGEBOX", "identity_next_step")), qPrintable(changed.text));
    const QString expected = QString::fromStdString("ED25519 " + kOtherKey);
    QVERIFY2(changed.text.contains(CDlgLocalize::Lookup("FTP_SETTING", "key_expected") + QLatin1Char(' ') + expected),
             qPrintable(changed.text));
    QVERIFY(changed.text.contains(CDlgLocalize::Lookup("FTP_SETTING", "key_offered") + QLatin1Char(' ') + offered));
    // In the real box neither fingerprint wraps.
    ExpectWholeInMessageBox(&window, changed, {expected, offered});
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);
}

// The question about a server reached over TLS also shows the certificate's SHA-256 in the
// hex form providers publish (as openssl prints it), each value whole on one line, in
// English and French.
void FtpServerIdentityTest::theTlsQuestionShowsTheCertificateFingerprint()
{
    const TestAccount* account = Account();
    if (!account)
        QSKIP("no local account for the servers");
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServerFolder folder;
    VsftpdServer vsftpd(*account, folder);
    QVERIFY(vsftpd.Running());
    {
        CFtpDlg dialog(cfg, nullptr);
        FillServer(dialog, *account, FtpProtocol::Ftps, vsftpd.Port());
        SetText(&dialog, "passwordEdit", account->password);
        dialog.Add();
    }
    const FtpConnectResult connection = ConnectToFtpProfile(cfg, kProfile);
    QVERIFY(!connection.logged_in);
    const QString hex = OpensslFingerprint(vsftpd.Certificate());
    QCOMPARE(hex.size(), 95);
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {&cfg.m_lang_ini, &french}) {
        CDlgLocalize::SetLanguage(language);
        CServerKeyDlg dialog(connection.identity, connection.server, nullptr);
        dialog.show();
        QCOMPARE(dialog.Question(), CServerKeyDlg::kUnknown);
        auto* certificate = Find<QLineEdit>(&dialog, "certificateEdit");
        auto* offered = Find<QLineEdit>(&dialog, "offeredEdit");
        QCOMPARE(certificate->text(), hex);
        QCOMPARE(offered->text(), QString::fromStdString("RSA " + vsftpd.Fingerprint()));
        for (QLineEdit* edit : {certificate, offered})
            QVERIFY2(edit->width() >= edit->fontMetrics().horizontalAdvance(edit->text()), qPrintable(edit->text()));
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(certificate);
        QCOMPARE(spoken->text(QAccessible::Name), CDlgLocalize::Lookup("FTP_SETTING", "key_certificate"));
        QCOMPARE(spoken->text(QAccessible::Value), hex);
        QVERIFY(dialog.AsPrompt().text.contains(hex));
    }
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);
}

QTEST_MAIN(FtpServerIdentityTest)
#include "FtpServerIdentityTest.moc"
