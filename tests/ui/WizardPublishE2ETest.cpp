// End to end through the wizard with the real engine: a dropped PDF becomes a book in a
// local folder, on an FTP server (pyftpdlib on 127.0.0.1) and on the publishing service
// (vellumark-service on 127.0.0.1); page 9 shows the address row of each, and the book
// at that address opens in headless Chromium with its title and page images.
#include "tests/publish/FtpTestServer.h"
#include "tests/publish/PeerProcess.h"
#include "tests/ui/BookInBrowser.h"
#include "tests/ui/UiTestKit.h"
#include "tests/ui/WizardDriver.h"
#include "ui/CMainDlg.h"
#include "ui/wizard/WizardPageKit.h"

#include <QElapsedTimer>
#include <QLineEdit>
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

}  // namespace

class WizardPublishE2ETest : public QObject {
    Q_OBJECT

private slots:
    void toALocalFolder();
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

QTEST_MAIN(WizardPublishE2ETest)
#include "WizardPublishE2ETest.moc"
