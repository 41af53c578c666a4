// The publishing service's address: empty (as shipped) means no service, so nothing at
// start-up reaches the network and the buttons that need the service say why they are
// off; the address typed in the publishing settings lands in the keys the batch
// command's --service-host writes; and a quit while work waits on a silent service ends
// soon, leaving the single-instance lock free for the next start.
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/CNetworkDlg.h"
#include "ui/PdfListView.h"
#include "ui/QuitWait.h"
#include "ui/ServiceLinks.h"
#include "ui/wizard/WizardPageKit.h"
#include "tests/ui/WizardDriver.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace fs = std::filesystem;

namespace {

// A service that accepts connections and never answers; counts who came.
class SilentService {
public:
    SilentService()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                sockets_.push_back(socket);
        });
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(server_.serverPort()); }
    int Visits() const { return static_cast<int>(sockets_.size()); }
    // Hangs up on everyone: their reads end at once.
    void HangUp()
    {
        for (QTcpSocket* socket : sockets_)
            socket->abort();
    }

private:
    QTcpServer server_;
    std::vector<QTcpSocket*> sockets_;
};

struct BatchResult {
    int exit_code = -1;
    QString errors;
};

// Saves a service account with the batch command (password "secret" on standard input).
BatchResult SaveAccountByBatch(const QString& host)
{
    QProcess batch;
    batch.start(QString::fromStdString((ProgramDir() / "vellumark-batch").string()),
                {QStringLiteral("--set-service-account"), QStringLiteral("me@example.org"),
                 QStringLiteral("--service-host"), host});
    BatchResult result;
    if (!batch.waitForStarted(10000))
        return result;
    batch.write("secret\n");
    batch.closeWriteChannel();
    if (!batch.waitForFinished(30000))
        return result;
    result.exit_code = batch.exitCode();
    result.errors = QString::fromUtf8(batch.readAllStandardError());
    return result;
}

std::string NetworkKey(const fs::path& config, const char* key)
{
    IniFile ini(config.string());
    return ini.ReadText("network", key);
}

}  // namespace

class ServiceAddressTest : public QObject {
    Q_OBJECT

private slots:
    void noAddressReachesNothingAndServiceButtonsSayWhy();
    void typedAddressIsStoredAsTheBatchCommandStoresIt();
    void addressesAreCheckedAndHttpsIsTheDefault();
    void quitWhileWorkWaitsOnASilentServiceEndsSoon();
    void theProgramEndsSoonAndTheNextStartTakesTheLock();
};

void ServiceAddressTest::noAddressReachesNothingAndServiceButtonsSayWhy()
{
    // As shipped: no service, and none of its pages.
    const fs::path shipped = ProgramDir() / "DefaultCfg/config.ini";
    for (const char* key : {"vazirudu_domain", "vazirudu_webaddr", "register_url"})
        QVERIFY2(NetworkKey(shipped, key).empty(), key);
    IniFile shipped_ini(shipped.string());
    QVERIFY(shipped_ini.ReadText("general", "upgrade_url").empty());
    QVERIFY(shipped_ini.ReadText("general", "advert_url").empty());

    UiTestHome home;
    SilentService service;
    // Nothing stands in for the empty address.
    QVERIFY(!ServiceConfigured(home.Cfg()));
    StderrCapture log(home.Root() / "stderr.txt");
    {
        CMainDlg window(home.Cfg(), home.Table(), home.Notices());
        window.show();
        QTest::qWait(CMainDlg::kStartupDelayMs + 1000);
        QVERIFY(!window.ChecksRunning());
        QCOMPARE(service.Visits(), 0);

        // The wizard's service choice and the page about the service are off, with the reason.
        const QString reason = CDlgLocalize::Lookup("NETWORK_SETTING", "no_service");
        WizardDriver wizard(window);
        QPushButton* about = wizard.Button("advertButton");
        QVERIFY(!about->isEnabled());
        QCOMPARE(about->toolTip(), reason);
        const fs::path pdf = home.Root() / "book.pdf";
        WriteFileBytes(pdf, "%PDF-1.4");
        home.UseFakeEngine(3, "0");
        QVERIFY(wizard.ToPublishMethod(pdf));
        for (const char* name : {"serviceButton", "aboutServiceButton"}) {
            QVERIFY2(!wizard.Button(name)->isEnabled(), name);
            QCOMPARE(wizard.Button(name)->accessibleDescription(), reason);
        }
        QVERIFY(wizard.Button("localButton")->isEnabled());
    }
    const std::string records = log.Stop();
    QVERIFY(records.find("INF:callback_update_db called") == std::string::npos);
    QVERIFY(records.find("http_connect") == std::string::npos);
    QCOMPARE(service.Visits(), 0);

    // No account can be created where there is no service.
    CNetworkDlg settings(home.Cfg(), nullptr);
    QPushButton* create = Find<QPushButton>(&settings, "createAccountButton");
    QVERIFY(!create->isEnabled());
    QVERIFY(!create->toolTip().isEmpty());
    Find<QLineEdit>(&settings, "serviceHostEdit")->setText(QStringLiteral("books.example.org"));
    QVERIFY(create->isEnabled());
}

void ServiceAddressTest::typedAddressIsStoredAsTheBatchCommandStoresIt()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    const fs::path config = cfg.m_config_ini.Path();
    {
        // Publishing on the service needs its address.
        CNetworkDlg settings(cfg, nullptr);
        Find<QCheckBox>(&settings, "useServiceCheck")->setChecked(true);
        settings.accept();
        QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("enter_service_host")});
        QVERIFY(settings.result() != QDialog::Accepted);
    }
    home.ClearPrompts();
    CNetworkDlg settings(cfg, nullptr);
    Find<QLineEdit>(&settings, "serviceHostEdit")->setText(QStringLiteral(" 127.0.0.1:8123 "));
    settings.accept();
    QVERIFY(home.Prompts().empty());
    QCOMPARE(settings.result(), int(QDialog::Accepted));
    const std::string host = NetworkKey(config, "vazirudu_domain");
    const std::string books = NetworkKey(config, "vazirudu_webaddr");
    QCOMPARE(host, std::string("127.0.0.1:8123"));
    QCOMPARE(cfg.m_vazirudu_domain, host);
    QCOMPARE(cfg.m_vazirudu_webaddr, books);

    // The batch command, given the same address, writes the same two keys.
    cfg.m_config_ini.WriteText("network", "vazirudu_domain", "");
    cfg.m_config_ini.WriteText("network", "vazirudu_webaddr", "");
    QProcess batch;
    batch.start(QString::fromStdString((ProgramDir() / "vellumark-batch").string()),
                {QStringLiteral("--set-service-account"), QStringLiteral("me@example.org"),
                 QStringLiteral("--service-host"), QStringLiteral("127.0.0.1:8123")});
    QVERIFY(batch.waitForStarted(10000));
    batch.write("secret\n");
    batch.closeWriteChannel();
    QVERIFY(batch.waitForFinished(30000));
    QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());
    QCOMPARE(NetworkKey(config, "vazirudu_domain"), host);
    QCOMPARE(NetworkKey(config, "vazirudu_webaddr"), books);

    // Emptied again in the dialog: no service.
    CNetworkDlg again(cfg, nullptr);
    QCOMPARE(Find<QLineEdit>(&again, "serviceHostEdit")->text(), QStringLiteral("127.0.0.1:8123"));
    Find<QCheckBox>(&again, "useServiceCheck")->setChecked(false);
    Find<QLineEdit>(&again, "serviceHostEdit")->clear();
    again.accept();
    QCOMPARE(again.result(), int(QDialog::Accepted));
    QVERIFY(NetworkKey(config, "vazirudu_domain").empty());
    QVERIFY(!ServiceConfigured(cfg));
}

void ServiceAddressTest::quitWhileWorkWaitsOnASilentServiceEndsSoon()
{
    UiTestHome home;
    SilentService service;
    home.Cfg().m_vazirudu_domain = service.Address();
    home.UseFakeEngine(40, "0.2");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    CAdvModeTab& page = *window.ModeTabs()->AdvancedPage();
    const fs::path pdf = home.Root() / "long.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    Find<QLineEdit>(&page, "pdfPathEdit")->setText(QString::fromStdString(pdf.string()));
    Find<QPushButton>(&page, "convertButton")->click();
    QCOMPARE(page.QueueList().RowCount(), 1);
    const std::string key = page.QueueList().Item(0)->key;
    // The start-up checks are stuck on the service, the job converts.
    QTRY_VERIFY_WITH_TIMEOUT(service.Visits() >= 1 && window.ChecksRunning(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(home.Table().Slot(home.Table().FindSlotByKey(key)).progress.load() > 0, 15000);

    QElapsedTimer quit;
    quit.start();
    QVERIFY(window.RequestQuit(CMainDlg::kExitClosed));
    const bool ended = StopWorkWithin(home.Table(), [&window] { return window.ChecksRunning(); }, kQuitWait);
    QVERIFY2(quit.elapsed() < 2000, qPrintable(QString::number(quit.elapsed())));
    // The checks still wait: the program would end now without them. The job stopped and
    // is kept for the next start, where it resumes.
    QVERIFY(!ended);
    QVERIFY(!home.Table().AnyActive());
    CPdfItemList next_start(false);
    next_start.Build(home.Cfg().m_meta_ini);
    QCOMPARE(next_start.RowCount(), 1);
    QCOMPARE(next_start.Item(0)->key, key);
    service.HangUp();  // lets the checks' threads end before the window goes
    QTRY_VERIFY_WITH_TIMEOUT(!window.ChecksRunning(), 15000);
}

void ServiceAddressTest::theProgramEndsSoonAndTheNextStartTakesTheLock()
{
    UiTestHome home;
    SilentService service;
    home.Cfg().m_config_ini.WriteText("network", "vazirudu_domain", service.Address());
    const QString program = QString::fromStdString((ProgramDir() / "vellumark").string());
    for (int start = 1; start <= 2; ++start) {
        const int before = service.Visits();
        QProcess desktop;
        desktop.start(program, {});
        QVERIFY(desktop.waitForStarted(10000));
        // Its start-up checks come only after it took the lock.
        QTRY_VERIFY_WITH_TIMEOUT(service.Visits() > before, 20000);
        QTest::qWait(CMainDlg::kStartupDelayMs + 300);  // the version check waits too
        QElapsedTimer quit;
        quit.start();
        desktop.terminate();
        QVERIFY(desktop.waitForFinished(10000));
        QVERIFY2(quit.elapsed() < 2000, qPrintable(QString::number(quit.elapsed())));
        QCOMPARE(desktop.exitStatus(), QProcess::NormalExit);
    }
}

void ServiceAddressTest::addressesAreCheckedAndHttpsIsTheDefault()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    const fs::path config = cfg.m_config_ini.Path();
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {&home.Cfg().m_lang_ini, &french}) {
        CDlgLocalize::SetLanguage(language);
        home.ClearPrompts();
        CNetworkDlg settings(cfg, nullptr);
        settings.show();
        auto* host = Find<QLineEdit>(&settings, "serviceHostEdit");
        auto* note = Find<QLabel>(&settings, "serviceHostNote");
        QVERIFY(!host->placeholderText().contains(QStringLiteral("<#[")));
        QVERIFY(!note->isVisible());
        // A refused address says why under the field, to screen readers, and on OK.
        host->setText(QStringLiteral("not a host!"));
        const QString why = CDlgLocalize::Lookup("MESSAGEBOX", "service_host_characters");
        QVERIFY(note->isVisible());
        QCOMPARE(note->text(), why);
        QCOMPARE(QAccessible::queryAccessibleInterface(host)->text(QAccessible::Description), why);
        settings.accept();
        QVERIFY(settings.result() != QDialog::Accepted);
        QCOMPARE(home.PromptTexts(), QStringList{why});
        QVERIFY(NetworkKey(config, "vazirudu_domain").empty());
        host->setText(QStringLiteral("books.example.org:99999"));
        QCOMPARE(note->text(), CDlgLocalize::Lookup("MESSAGEBOX", "service_host_port"));
        host->setText(QStringLiteral("ftp://books.example.org"));
        QCOMPARE(note->text(), CDlgLocalize::Lookup("MESSAGEBOX", "service_host_scheme"));
        // Plain http, written out or to this machine, carries the unencrypted line.
        const QString in_clear = CDlgLocalize::Lookup("NETWORK_SETTING", "note_service_http");
        QVERIFY(!in_clear.isEmpty());
        for (const char* clear : {"http://books.example.org", "127.0.0.1:8123", "localhost"}) {
            host->setText(QLatin1String(clear));
            QVERIFY2(note->isVisible() && note->text() == in_clear, clear);
        }
        // A host alone is reached over https and needs no note.
        host->setText(QStringLiteral("books.example.org"));
        QVERIFY(!note->isVisible());
        QVERIFY(host->accessibleDescription().isEmpty());
        settings.accept();
        QCOMPARE(settings.result(), int(QDialog::Accepted));
        QCOMPARE(NetworkKey(config, "vazirudu_webaddr"), std::string("https://books.example.org/vellumark/"));
        QCOMPARE(AccountCreationAddress(cfg, cfg.m_vazirudu_domain),
                 QStringLiteral("https://books.example.org/createPubAccount.asp"));
        SaveServiceHost(cfg, "");
    }
    CDlgLocalize::SetLanguage(&home.Cfg().m_lang_ini);

    // The batch command follows the same rule.
    BatchResult refused = SaveAccountByBatch(QStringLiteral("not a host!"));
    QCOMPARE(refused.exit_code, 2);
    QVERIFY2(refused.errors.contains(QStringLiteral("a host name has only letters")), qPrintable(refused.errors));
    QVERIFY(NetworkKey(config, "vazirudu_domain").empty());
    BatchResult secure = SaveAccountByBatch(QStringLiteral("books.example.org"));
    QCOMPARE(secure.exit_code, 0);
    QVERIFY2(!secure.errors.contains(QStringLiteral("unencrypted")), qPrintable(secure.errors));
    QCOMPARE(NetworkKey(config, "vazirudu_webaddr"), std::string("https://books.example.org/vellumark/"));
    BatchResult clear = SaveAccountByBatch(QStringLiteral("http://books.example.org"));
    QCOMPARE(clear.exit_code, 0);
    QVERIFY2(clear.errors.contains(QStringLiteral("the password and the books travel unencrypted")),
             qPrintable(clear.errors));
    QCOMPARE(NetworkKey(config, "vazirudu_webaddr"), std::string("http://books.example.org/vellumark/"));
}

QTEST_MAIN(ServiceAddressTest)
#include "ServiceAddressTest.moc"
