// End to end through the wizard with the real engine: a dropped PDF becomes a book in a
// local folder, on an FTP server (pyftpdlib on 127.0.0.1) and on the publishing service
// (vellumark-service on 127.0.0.1); page 9 shows the address row of each, and the book
// at that address opens in headless Chromium with its title and page images. A published
// book names its address and its cover for link previews, the cover is served there, and
// page 9 offers the code that shows the book on another site.
#include "publish/FetchUrlText.h"
#include "config/JobKey.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"
#include "publish/NetworkSettings.h"
#include "tests/publish/FtpTestServer.h"
#include "tests/publish/PeerProcess.h"
#include "tests/ui/BookInBrowser.h"
#include "tests/ui/UiTestKit.h"
#include "tests/service/ServiceFixture.h"
#include "tests/ui/WizardDriver.h"
#include "ui/CMainDlg.h"
#include "ui/wizard/WizardPageKit.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace fs = std::filesystem;

namespace {

// The title the generated test PDFs carry.
constexpr const char* kTitle = "Vellumark Test Book";

// Walks a dropped PDF to page 9 with `to_convert` taking page 3 to the convert page.
template <class ToConvert>
bool PublishThroughWizard(WizardDriver& wizard, const fs::path& pdf, ToConvert to_convert)
{
    if (!wizard.ToPublishMethod(pdf) || !to_convert() || wizard.Step() != kStepConvert)
        return false;
    QElapsedTimer clock;
    clock.start();
    if (!wizard.Click("convertButton") || !wizard.WaitForStep(kStepSuccess, 120000))
        return false;
    qInfo("converted and published in %lld ms", static_cast<long long>(clock.elapsed()));
    return true;
}

// The rows page 9 shows, by name.
QStringList ShownRows(WizardDriver& wizard)
{
    QStringList rows;
    for (const char* name : {"localEdit", "serviceEdit", "ftpEdit"})
        if (wizard.Edit(name)->isVisible())
            rows << QLatin1String(name);
    return rows;
}

// The book's page as Chromium shows it: its title and its first page image.
void ExpectBookOpens(const UiTestHome& home, const std::string& url)
{
    const std::string page = RenderedPage(url, home.Root() / "chromium");
    QVERIFY2(!page.empty(), url.c_str());
    QVERIFY2(page.find(kTitle) != std::string::npos, page.substr(0, 2000).c_str());
    QVERIFY2(page.find("img-1.jpg") != std::string::npos, page.substr(0, 2000).c_str());
}

// Page 9 offers the code that shows the book at `url` inside a frame.
void ExpectEmbedCode(WizardDriver& wizard, const char* row, const std::string& url)
{
    auto* code = wizard.Page()->findChild<QPlainTextEdit*>(QLatin1String(row));
    QVERIFY2(code && code->isVisible(), row);
    QVERIFY2(code->toPlainText().startsWith(QString::fromStdString("<iframe src=\"" + url + "\" title=\"" + kTitle)),
             qPrintable(code->toPlainText()));
}

// Quick uploads: no pause between chunks and no retries to wait for.
void UploadWithoutPauses(AppConfig& cfg)
{
    cfg.m_http_wait_after_upld_chunk = 1;
    cfg.m_http_upld_try_times = 1;
    cfg.m_config_ini.WriteInt("network", "http_wait_after_upld_chunk", 1);
    cfg.m_config_ini.WriteInt("network", "http_upld_try_times", 1);
}

// Makes the FTP server on 127.0.0.1:`port` (folder books, user alice) the FTP target, as
// the FTP settings store it, with quick uploads.
void UseFtpServer(AppConfig& cfg, int port, const std::string& webaddr)
{
    const std::string profile = "127.0.0.1/books";
    cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_user", "alice", cfg.m_cipher);
    cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_passwd", "secret", cfg.m_cipher);
    cfg.m_ftp_ini.WriteText(profile, "ftp_webaddr", webaddr);
    cfg.m_ftp_ini.WriteInt(profile, "ftp_passive", 1);
    cfg.m_ftp_ini.WriteInt(profile, "ftp_port", port);
    cfg.m_config_ini.WriteText("network", "ftp_url", profile);
    cfg.m_ftp_url = profile;
    cfg.ReadFtpProfile();
    SetPublishingMode(cfg, PublishingMode::kFtp);
    UploadWithoutPauses(cfg);
}

}  // namespace

class WizardPublishE2ETest : public QObject {
    Q_OBJECT

private slots:
    void toALocalFolder();
    void toAnFtpServer();
    void toThePublishingService();
    void convertAfterAFailedUploadContinuesTheSameBook();
};

void WizardPublishE2ETest::toALocalFolder()
{
    UiTestHome home;
    home.Cfg().m_autoview = 0;
    const fs::path pdf = home.MakePdf("Local Book.pdf", 2);
    QVERIFY(!pdf.empty());
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path folder = home.Root() / "My books/first";
    home.AnswerNext(QMessageBox::Yes);  // create the folder
    QVERIFY(PublishThroughWizard(wizard, pdf, [&] {
        return wizard.ToConvertWithFolder(QString::fromStdString(folder.string()));
    }));
    QCOMPARE(ShownRows(wizard), QStringList{"localEdit"});
    QCOMPARE(wizard.Edit("localEdit")->text().toStdString(), folder.string());
    QVERIFY(wizard.Click("viewButton"));
    const std::string url = home.Opened().last().toStdString();
    QCOMPARE(url, QUrl::fromLocalFile(QString::fromStdString((folder / "index.html").string())).toString().toStdString());
    ExpectBookOpens(home, url);
}

void WizardPublishE2ETest::toAnFtpServer()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    cfg.m_autoview = 0;
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    fs::create_directories(ftp.Root() / "books");
    // The FTP server's tree as a web site, under which the uploaded books are read.
    PeerProcess web({(SourceDir() / "tests/ui/serve_folder.py").string(), ftp.Root().string(),
                     (home.Root() / "web.port").string()},
                    home.Root() / "web.port");
    QVERIFY(web.Port() > 0);
    const std::string webaddr = "http://127.0.0.1:" + std::to_string(web.Port()) + "/books/";
    UseFtpServer(cfg, ftp.Port(), webaddr);

    const fs::path pdf = home.MakePdf("Ftp Book.pdf", 2);
    QVERIFY(!pdf.empty());
    CMainDlg window(cfg, home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    QVERIFY(PublishThroughWizard(wizard, pdf, [&] {
        return wizard.Click("ftpButton") && wizard.Step() == kStepFtp && wizard.Click("nextButton");
    }));
    QVERIFY2(home.Prompts().empty(), qPrintable(home.PromptTexts().join(" | ")));
    QCOMPARE(ShownRows(wizard), QStringList{"ftpEdit"});
    const std::string key = wizard.Tabs().Values().job_key;
    const std::string url = webaddr + key + "/index.html";
    QCOMPARE(wizard.Edit("ftpEdit")->text().toStdString(), url);
    QVERIFY(fs::exists(ftp.Root() / "books" / key / "index.html"));
    QVERIFY(wizard.Click("ftpButton"));
    QCOMPARE(home.Opened().last().toStdString(), url);
    ExpectBookOpens(home, url);

    // The published page names the book's address and its preview picture as absolute
    // addresses for link previews, and the web site serves that picture.
    const std::string page = ReadFileBytes(ftp.Root() / "books" / key / "index.html");
    const std::string cover = webaddr + key + "/thumb/img-1-e-share.jpg";
    for (const std::string& tag :
         {"<meta property=\"og:url\" content=\"" + url + "\">", "<link rel=\"canonical\" href=\"" + url + "\">",
          "<meta property=\"og:image\" content=\"" + cover + "\">",
          std::string("<meta name=\"description\" content=\"A generated test book\">"),
          std::string("<meta property=\"og:title\" content=\"") + kTitle + "\">"})
        QVERIFY2(page.find(tag) != std::string::npos, tag.c_str());
    const std::string served = FetchUrlText(cover, 10000);
    QVERIFY2(!served.empty(), cover.c_str());
    QVERIFY(served == ReadFileBytes(fs::path(cfg.m_books_folder) / key / "thumb/img-1-e-share.jpg"));
    ExpectEmbedCode(wizard, "embedFtpCode", url);
}

void WizardPublishE2ETest::toThePublishingService()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    cfg.m_autoview = 0;
    ServiceProcess service(home.Root() / "svc");
    QVERIFY(service.Running());
    const std::string user = "reader@example.org";
    const std::string password = "open-sesame";
    QCOMPARE(service.Post("/createPubAccount.asp", "email=" + user + "&password=" + password,
                          "application/x-www-form-urlencoded")
                 .status,
             200L);
    // The account and the book's classification as the publishing settings store them.
    const std::string host = "127.0.0.1:" + std::to_string(service.Port());
    cfg.m_vazirudu_domain = host;
    cfg.m_vazirudu_webaddr = "http://" + host + "/vellumark/";
    cfg.m_vazirudu_user = user;
    cfg.m_config_ini.WriteText("network", "vazirudu_domain", cfg.m_vazirudu_domain);
    cfg.m_config_ini.WriteText("network", "vazirudu_webaddr", cfg.m_vazirudu_webaddr);
    cfg.m_config_ini.WriteText("network", "vazirudu_user", user);
    cfg.m_http_user_ini.WriteEnciphered(user + "#" + host, "http_passwd", password, cfg.m_cipher);
    cfg.m_cat_id = 7;       // Education
    cfg.m_country_id = 380;  // Italy
    SetPublishingMode(cfg, PublishingMode::kWebService);
    UploadWithoutPauses(cfg);

    const fs::path pdf = home.MakePdf("Service Book.pdf", 2);
    QVERIFY(!pdf.empty());
    CMainDlg window(cfg, home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    QVERIFY(PublishThroughWizard(wizard, pdf, [&] {
        if (!wizard.Click("serviceButton") || wizard.Step() != kStepWebService || !wizard.Click("nextButton"))
            return false;
        // The service needs all three texts; the PDF has them, so no dialog asks.
        const WizardValues& values = wizard.Tabs().Values();
        return !values.title.isEmpty() && !values.keywords.isEmpty() && !values.description.isEmpty();
    }));
    QVERIFY2(home.Prompts().empty(), qPrintable(home.PromptTexts().join(" | ")));
    QCOMPARE(ShownRows(wizard), QStringList{"serviceEdit"});
    const std::string key = wizard.Tabs().Values().job_key;
    const std::string url = service.BaseUrl() + "/vellumark/booklet.asp?guid=" + key;
    QCOMPARE(wizard.Edit("serviceEdit")->text().toStdString(), url);
    QVERIFY(wizard.Click("serviceButton"));
    QCOMPARE(home.Opened().last().toStdString(), url);
    ExpectBookOpens(home, url);

    // The service serves the book's cover where the book is read, and its page carries
    // the preview title.
    const HttpResult cover = service.Get("/vellumark/books/" + key + "/thumb/img-1-e-cover.jpg");
    QCOMPARE(cover.status, 200L);
    QCOMPARE(cover.content_type, std::string("image/jpeg"));
    QVERIFY(cover.body == ReadFileBytes(fs::path(cfg.m_books_folder) / key / "thumb/img-1-e-cover.jpg"));
    const HttpResult page = service.Get("/vellumark/books/" + key + "/");
    QVERIFY2(page.body.find(std::string("<meta property=\"og:title\" content=\"") + kTitle + "\">") != std::string::npos,
             page.body.substr(0, 1500).c_str());
    ExpectEmbedCode(wizard, "embedServiceCode", url);
}

// An upload that fails names the server's answer on the page (here: the folder is a
// file), and Convert, pressed again once that is put right, makes no second book: the same
// job goes on, with its key, where the upload ended.
void WizardPublishE2ETest::convertAfterAFailedUploadContinuesTheSameBook()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    cfg.m_autoview = 0;
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    UseFtpServer(cfg, ftp.Port(), "http://127.0.0.1/books/");

    const fs::path pdf = home.MakePdf("Retried Book.pdf", 2);
    QVERIFY(!pdf.empty());
    CMainDlg window(cfg, home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    QVERIFY(wizard.ToPublishMethod(pdf));
    // Next finds the folder; it is replaced by a file before the upload.
    fs::create_directories(ftp.Root() / "books");
    QVERIFY(wizard.Click("ftpButton") && wizard.Step() == kStepFtp && wizard.Click("nextButton"));
    QCOMPARE(wizard.Step(), int(kStepConvert));
    fs::remove(ftp.Root() / "books");
    WriteFileBytes(ftp.Root() / "books", "not a folder");
    QVERIFY(wizard.Click("convertButton"));
    const std::string key = wizard.Tabs().Values().job_key;
    QVERIFY(!key.empty());
    // The upload fails after the conversion: the page says so and Convert is offered again.
    QTRY_VERIFY_WITH_TIMEOUT(wizard.Button("convertButton")->isEnabled() &&
                                 home.Table().Slot(wizard.Tabs().Values().slot).state.load() == JOB_STATE_FREE,
                             120000);
    QVERIFY(!IsFinished(cfg.m_meta_ini, key));
    QVERIFY(ReadJobProgress(cfg.m_meta_ini, key) >= kProgressPrintDone);
    const QString shown = wizard.Page()->findChild<QLabel*>(QStringLiteral("uploadLabel"))->text();
    QVERIFY2(shown.contains(QStringLiteral("the server answered: 550")), qPrintable(shown));

    fs::remove(ftp.Root() / "books");
    fs::create_directories(ftp.Root() / "books");
    QVERIFY(wizard.Click("convertButton"));
    QCOMPARE(wizard.Tabs().Values().job_key, key);
    QVERIFY(wizard.WaitForStep(kStepSuccess, 120000));
    QVERIFY(fs::exists(ftp.Root() / "books" / key / "index.html"));
    int books = 0;
    for (const auto& entry : fs::directory_iterator(cfg.m_books_folder))
        books += entry.is_directory() && IsJobKey(entry.path().filename().string()) ? 1 : 0;
    QCOMPARE(books, 1);
}

QTEST_MAIN(WizardPublishE2ETest)
#include "WizardPublishE2ETest.moc"
