// Shows the main window (both tabs), the properties dialog, both settings dialogs, the FTP
// servers dialog, the server key question and the news pop-up on a real X server with real fonts, checks that no text is cut off and no
// two controls overlap, and keeps a screenshot of each as a test artefact. Run once per
// scale factor (QT_SCALE_FACTOR), so the artefacts' names carry the scale;
// scripts/help-screenshots.sh takes the user guide's pictures from it.
#include "publish/NetworkSettings.h"
#include "support/CSupportDlg.h"
#include "pipeline/JobSection.h"
#include "publish/ServerIdentity.h"
#include "tests/publish/FtpTestServer.h"
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CAdvOptDlg.h"
#include "ui/CBaseNetworkDlg.h"
#include "ui/CCfgSkinDlg.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/CNetworkDlg.h"
#include "ui/CServerKeyDlg.h"
#include "ui/COptionDlg.h"
#include "ui/FingerprintLines.h"
#include "ui/PublishingTarget.h"
#include "ui/wizard/CWizardDlg6FTP.h"
#include "tests/ui/WizardDriver.h"
#include "ui/wizard/WizardPageKit.h"
#include "ui/DlgNotifier.h"
#include "ui/PdfListView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSet>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>

namespace {

bool IsControl(QWidget* widget)
{
    return qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
           qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) || qobject_cast<QSpinBox*>(widget) ||
           qobject_cast<QSlider*>(widget) || qobject_cast<QAbstractItemView*>(widget);
}

// Every visible control lies inside the window, shows its whole text, and overlaps no
// other control (controls inside a list view's own parts are not counted).
void CheckLayout(QWidget* window, int least_controls)
{
    QList<QWidget*> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible() || !IsControl(widget))
            continue;
        bool inside_view = false;
        for (QWidget* up = widget->parentWidget(); up && up != window; up = up->parentWidget())
            inside_view = inside_view || qobject_cast<QAbstractItemView*>(up) || qobject_cast<QComboBox*>(up) ||
                          qobject_cast<QSpinBox*>(up);
        if (!inside_view)
            controls << widget;
    }
    QVERIFY(controls.size() >= least_controls);
    for (QWidget* widget : controls) {
        const QString name = widget->objectName() + " " + widget->metaObject()->className();
        const QRect in_window(widget->mapTo(window, QPoint(0, 0)), widget->size());
        QVERIFY2(window->rect().contains(in_window), qPrintable(name));
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) {
            QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(name));
            QVERIFY2(widget->height() >= widget->minimumSizeHint().height(), qPrintable(name));
        }
    }
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j) {
            const QRect a(controls[i]->mapTo(window, QPoint(0, 0)), controls[i]->size());
            const QRect b(controls[j]->mapTo(window, QPoint(0, 0)), controls[j]->size());
            QVERIFY2(!a.intersects(b), qPrintable(controls[i]->objectName() + " / " + controls[j]->objectName()));
        }
}

void Shoot(QWidget* window, const QString& name, int least_controls = 4)
{
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(300);  // let the X server finish painting
    CheckLayout(window, least_controls);
    QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    const QImage image = shot.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    QVERIFY(colours.size() > 8);  // antialiased text leaves many shades; a blank grab one
    const QString folder = qEnvironmentVariable("VELLUMARK_ARTEFACT_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(folder));
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    const QString path = QStringLiteral("%1/%2-%3x.png").arg(folder, name, scale);
    QVERIFY(shot.save(path));
    qInfo("screenshot: %s", qPrintable(path));
}

}  // namespace

class UiScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void mainWindowInBothTabs();
    void advancedPageInFrench();
    void dialogs();
    void wizardPages();
    void publishingDialogs();
    void publishingQuestions();
    void endedJobs();
    void toolbarTooltips();
};

void UiScreenshotTest::mainWindowInBothTabs()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    Shoot(&window, QStringLiteral("main-wizard"), 6);
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab& page = *window.ModeTabs()->AdvancedPage();
    const std::filesystem::path pdf = home.Root() / "A book with a long name.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(!home.ConvertAndWait(page, pdf).empty());
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    // Filled in as a user would, for the user guide's picture.
    page.findChild<QLineEdit*>(QStringLiteral("titleEdit"))->setText(QStringLiteral("Annual report 2026"));
    page.findChild<QLineEdit*>(QStringLiteral("keywordsEdit"))->setText(QStringLiteral("report, figures, year"));
    page.findChild<QLineEdit*>(QStringLiteral("descriptionEdit"))->setText(QStringLiteral("Our year in figures."));
    Shoot(&window, QStringLiteral("main-advanced"), 25);
}

// The advanced page of a French session, whose texts are the longest, with a processed
// book selected for the commands under its list.
void UiScreenshotTest::advancedPageInFrench()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    CDlgLocalize::SetLanguage(&french);
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab& page = *window.ModeTabs()->AdvancedPage();
    const std::filesystem::path pdf = home.Root() / "Rapport annuel.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(!home.ConvertAndWait(page, pdf).empty());
    page.ProcessedView()->SelectRows({0});
    Shoot(&window, QStringLiteral("main-advanced-fr"), 25);
}

void UiScreenshotTest::dialogs()
{
    UiTestHome home;
    COptionDlg properties(nullptr);
    properties.SetValues(QStringLiteral("A title"), QStringLiteral("some, words"), QStringLiteral("A description"));
    // A book published to the FTP web site and the service: the dialog offers both codes.
    const std::string key = "0123456789ABCDEF0123456789ABCDEF";
    home.Cfg().m_meta_ini.WriteInt(key, "use_ftp", 1);
    home.Cfg().m_meta_ini.WriteText(key, "ftp_webaddr", "https://www.example.org/books/");
    home.Cfg().m_meta_ini.WriteInt(key, "use_vazirudu", 1);
    home.Cfg().m_vazirudu_webaddr = "https://books.example.org/vellumark/";
    home.Cfg().m_meta_ini.WriteInt(key, "pagewidth", 612);
    home.Cfg().m_meta_ini.WriteInt(key, "pageheight", 792);
    home.Cfg().m_meta_w_ini.WriteWide(key, "title", "A title");
    WriteJobProgress(home.Cfg().m_meta_ini, key, kProgressFinished);
    properties.ShowEmbedCodes(home.Cfg(), key);
    properties.show();
    Shoot(&properties, QStringLiteral("properties"));
    {
        // The same book before its upload finished: no code, the reason and Publish....
        WriteJobProgress(home.Cfg().m_meta_ini, key, kProgressUploadStart);
        COptionDlg unfinished(nullptr);
        unfinished.SetValues(QStringLiteral("A title"), QStringLiteral("some, words"), QStringLiteral("A description"));
        unfinished.ShowEmbedCodes(home.Cfg(), key);
        unfinished.show();
        Shoot(&unfinished, QStringLiteral("properties-upload-unfinished"));
    }
    CAdvOptDlg quality(home.Cfg(), nullptr);
    quality.show();
    Shoot(&quality, QStringLiteral("image-quality"));
    CCfgSkinDlg toolbar(home.Cfg(), nullptr);
    toolbar.show();
    Shoot(&toolbar, QStringLiteral("book-toolbar"));
    DlgNotifier notifier(nullptr);
    notifier.ShowPage(QUrl(QStringLiteral("http://127.0.0.1/news.html")),
                      QStringLiteral("<h2>Vellumark 1.4 is coming</h2><p>Books open faster on phones, and the "
                                     "toolbar learns two new languages.</p><p><a href=\"more.html\">Read more</a></p>"),
                      480, 260);
    Shoot(&notifier, QStringLiteral("notifier"), 1);
    // The support tool with the shipped settings: no support address, Contact us off.
    CSupportDlg support(home.Cfg().m_config_ini.Path(), [](const QUrl&) { return 33; });
    support.show();
    Shoot(&support, QStringLiteral("support-tool"));
}

// Every wizard page in the main window, as a user reaches it.
void UiScreenshotTest::wizardPages()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    // A service of the user's own on this computer (nothing answers there): its buttons
    // are on, and the start-up checks never leave the machine.
    home.Cfg().m_vazirudu_domain = "localhost:8080";
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const std::filesystem::path pdf = home.Root() / "A book with a rather long file name.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    wizard.Drop({pdf});
    Shoot(&window, QStringLiteral("wizard-0-pdf"), 6);
    QVERIFY(wizard.Click("nextButton"));
    Shoot(&window, QStringLiteral("wizard-1-quality"), 12);
    QVERIFY(wizard.Click("nextButton"));
    Shoot(&window, QStringLiteral("wizard-2-metadata"), 10);
    QVERIFY(wizard.Click("nextButton"));
    Shoot(&window, QStringLiteral("wizard-3-method"), 6);
    QVERIFY(wizard.Click("aboutServiceButton"));
    Shoot(&window, QStringLiteral("wizard-10-advert"), 4);
    QVERIFY(wizard.Click("backButton"));
    QVERIFY(wizard.Click("serviceButton"));
    Shoot(&window, QStringLiteral("wizard-5-service"), 15);
    QVERIFY(wizard.Click("backButton"));
    QVERIFY(wizard.Click("ftpButton"));
    Shoot(&window, QStringLiteral("wizard-6-ftp"), 8);
    QVERIFY(wizard.Click("backButton"));
    QVERIFY(wizard.Click("localButton"));
    Shoot(&window, QStringLiteral("wizard-4-local"), 8);
    home.AnswerNext(QMessageBox::Yes);
    wizard.Edit("folderEdit")->setText(QString::fromStdString((home.Root() / "out/book").string()));
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(wizard.Step(), int(kStepConvert));
    Shoot(&window, QStringLiteral("wizard-7-convert"), 14);
    QVERIFY(wizard.Click("convertButton"));
    QVERIFY(wizard.WaitForStep(kStepSuccess, 30000));
    Shoot(&window, QStringLiteral("wizard-9-saved"), 8);
    // The same page for a book that went to both upload targets.
    const std::string key = wizard.Tabs().Values().job_key;
    home.Cfg().m_meta_ini.WriteInt(key, "use_ftp", 1);
    home.Cfg().m_meta_ini.WriteText(key, "ftp_webaddr", "http://www.example.org/a/rather/long/path/to/books/");
    home.Cfg().m_meta_ini.WriteInt(key, "use_vazirudu", 1);
    // The stand-in engine writes no picture: the cover is drawn here.
    QImage cover(128, 166, QImage::Format_RGB32);
    cover.fill(QColor(0x2f, 0x6f, 0x8f));
    QVERIFY(cover.save(QString::fromStdString(home.Cfg().m_books_folder + "/" + key + "/thumb/img-1-e-cover.jpg"), "JPG"));
    window.ModeTabs()->OnWizardStep(kStepSuccess, 0);
    Shoot(&window, QStringLiteral("wizard-9-uploaded"), 10);
}

void UiScreenshotTest::publishingDialogs()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    CFtpDlg ftp(cfg, nullptr);
    auto edit = [&ftp](const char* name, const char* text) {
        ftp.findChild<QLineEdit*>(QLatin1String(name))->setText(QLatin1String(text));
    };
    edit("hostEdit", "ftp.example.org");
    edit("subdirEdit", "books/2024");
    edit("userEdit", "writer");
    edit("passwordEdit", "secret");
    edit("webaddrEdit", "https://www.example.org/books/");
    ftp.Add();
    // The picture shows a server reached by SFTP with a private key.
    const std::filesystem::path key = home.Root() / "home/.ssh/id_ed25519";
    WriteFileBytes(key, "key");
    edit("hostEdit", "sftp.example.org");
    edit("subdirEdit", "books");
    auto* protocol = ftp.findChild<QComboBox*>(QStringLiteral("protocolCombo"));
    protocol->setCurrentIndex(protocol->findData(int(FtpProtocol::Sftp)));
    edit("keyFileEdit", key.c_str());
    edit("passphraseEdit", "horse battery");
    ftp.Add();
    edit("keyFileEdit", "/home/writer/.ssh/id_ed25519");
    ftp.show();
    Shoot(&ftp, QStringLiteral("ftp-profiles"));

    // The question at the first connection, and the warning when the key has changed.
    ServerIdentity identity;
    identity.check = IdentityCheck::Unknown;
    identity.offered = "SHA256:nThbg6kXUpJWGl7E1IGOCspRomTxdCARLviKw6E5SY8";
    identity.offered_type = "ED25519";
    {
        CServerKeyDlg question(identity, QStringLiteral("sftp.example.org:22"), nullptr);
        question.show();
        Shoot(&question, QStringLiteral("server-key-unknown"));
    }
    identity.check = IdentityCheck::Changed;
    identity.expected_from = "the profile";
    identity.expected = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
    identity.expected_type = "ED25519";
    CServerKeyDlg changed(identity, QStringLiteral("sftp.example.org:22"), nullptr);
    changed.show();
    Shoot(&changed, QStringLiteral("server-key-changed"));

    // Stored choices fill every combo, down to a city with an apostrophe.
    cfg.m_ftp_url = "ftp.example.org/books/2024";
    cfg.m_cat_id = 5;
    cfg.m_country_id = 380;
    cfg.m_state_id = 380001;
    cfg.m_city_id = 380001001;
    cfg.m_vazirudu_domain = "books.example.org";
    CNetworkDlg network(cfg, nullptr);
    network.show();
    Shoot(&network, QStringLiteral("publishing-settings"), 20);
    // An address the field refuses, with the reason under it.
    network.findChild<QLineEdit*>(QStringLiteral("serviceHostEdit"))->setText(QStringLiteral("not a host!"));
    Shoot(&network, QStringLiteral("publishing-settings-address"), 20);
}

// The message box a test hook stood in for, shown for real without waiting.
QMessageBox* ShowForReal(const PromptRequest& request)
{
    prompt_hooks::SetPrompt({});
    ShowNotice(nullptr, request);
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("noticeBox") && widget->isVisible())
            return qobject_cast<QMessageBox*>(widget);
    return nullptr;
}

// The FTP-with-TLS question with the certificate's fingerprint, the message of a job that
// met a changed key, the wizard's FTP page after the user declined to create the folder
// and the question before the wizard changes the publishing target.
void UiScreenshotTest::publishingQuestions()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    ServerIdentity tls;
    tls.check = IdentityCheck::Unknown;
    tls.offered = "SHA256:x9QmV2nYk0c1bq5iZrUQ3pJtW8sHfLd4aEoG7yKuN6M";
    tls.offered_type = "RSA";
    tls.certificate = "3A:F1:0C:5D:9E:22:B7:48:61:AF:03:DE:7C:94:1B:E5:80:36:CA:5F:12:9B:D4:67:E0:2C:8A:F9:41:B3:76:9C";
    {
        CServerKeyDlg question(tls, QStringLiteral("ftp.example.org:21"), nullptr);
        question.show();
        Shoot(&question, QStringLiteral("server-key-tls"));
    }

    ServerIdentity changed;
    changed.check = IdentityCheck::Changed;
    changed.expected_from = "the profile";
    changed.expected = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
    changed.expected_type = "ED25519";
    changed.offered = "SHA256:nThbg6kXUpJWGl7E1IGOCspRomTxdCARLviKw6E5SY8";
    changed.offered_type = "ED25519";
    PromptRequest message;
    message.caption = CDlgLocalize::Lookup("MESSAGEBOX", "identity_caption");
    message.text = CDlgLocalize::Lookup("MESSAGEBOX", "identity_next_step") + QStringLiteral("\n\n") +
                   IdentityLinesFromNote(QString::fromStdString(DescribeIdentityProblem(changed))).join(QLatin1Char('\n'));
    if (QMessageBox* box = ShowForReal(message)) {
        Shoot(box, QStringLiteral("identity-changed-message"), 2);
        box->close();
    } else {
        QFAIL("no message box");
    }

    // The wizard's FTP page stays when the user does not want the missing folder made.
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    {
        CFtpDlg profiles(cfg, nullptr);
        for (const auto& [name, value] : {std::pair{"hostEdit", "127.0.0.1"}, {"subdirEdit", "books/2024"},
                                          {"userEdit", "alice"}, {"passwordEdit", "secret"},
                                          {"webaddrEdit", "https://www.example.org/books/"}})
            profiles.findChild<QLineEdit*>(QLatin1String(name))->setText(QLatin1String(value));
        profiles.findChild<QSpinBox*>(QStringLiteral("portSpin"))->setValue(ftp.Port());
        profiles.Add();
    }
    QList<PromptRequest> asked;
    prompt_hooks::SetPrompt([&](const PromptRequest& request) {
        asked << request;
        return QMessageBox::No;
    });
    {
        CWizardDlg6FTP page(cfg, nullptr);
        page.Settings()->FillProfiles("127.0.0.1/books/2024");
        page.show();
        page.findChild<QPushButton*>(QStringLiteral("nextButton"))->click();
        QVERIFY(page.findChild<QLabel*>(QStringLiteral("folderNote"))->isVisible());
        page.adjustSize();
        Shoot(&page, QStringLiteral("wizard-6-ftp-folder"), 8);
    }

    // Keeping a book on this computer while books go to the FTP server.
    cfg.m_ftp_url = "ftp.example.org/books";
    SetPublishingMode(cfg, PublishingMode::kFtp);
    asked.clear();
    QVERIFY(!AgreeToTargetChange(nullptr, cfg, PublishingTarget{}));
    QCOMPARE(asked.size(), 1);
    if (QMessageBox* box = ShowForReal(asked.front())) {
        Shoot(box, QStringLiteral("target-change-question"), 2);
        box->close();
    } else {
        QFAIL("no message box");
    }
}

// The wizard after a failed conversion, and the queue with a failed and a stopped job.
void UiScreenshotTest::endedJobs()
{
    UiTestHome home;
    home.UseFakeEngine(4, "0");
    setenv("FAKE_FAIL", "HighRes", 1);
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const std::filesystem::path pdf = home.Root() / "A book with a rather long file name.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    wizard.Drop({pdf});
    for (int i = 0; i < 3; ++i)
        QVERIFY(wizard.Click("nextButton"));
    QVERIFY(wizard.Click("localButton"));
    home.AnswerNext(QMessageBox::Yes);
    wizard.Edit("folderEdit")->setText(QString::fromStdString((home.Root() / "out/book").string()));
    QVERIFY(wizard.Click("nextButton"));
    QVERIFY(wizard.Click("convertButton"));
    QTRY_VERIFY_WITH_TIMEOUT(wizard.Button("convertButton")->isEnabled(), 30000);
    unsetenv("FAKE_FAIL");
    home.AnswerNext(QMessageBox::Ok);  // the error box of the failed job
    QTest::qWait(200);
    Shoot(&window, QStringLiteral("wizard-7-failed"), 12);

    home.UseFakeEngine(100, "0.02");
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab& page = *window.ModeTabs()->AdvancedPage();
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    const std::string stopped = page.QueueList().Item(page.QueueList().RowCount() - 1)->key;
    QTRY_VERIFY_WITH_TIMEOUT(home.Table().Slot(home.Table().FindSlotByKey(stopped)).progress.load() > kProgressThumbsDone,
                             20000);
    page.QueueView()->SelectRows({page.QueueList().FindRowByKey(stopped)});
    emit page.QueueView()->Activated();
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_VERIFY(home.Table().Slot(home.Table().FindSlotByKey(stopped)).state.load() == JOB_STATE_FREE);
    page.RefreshQueue();
    page.QueueView()->clearSelection();
    Shoot(&window, QStringLiteral("main-advanced-ended"), 25);
}

// A toolbar button's tooltip in both languages: the screen around the toolbar, with the
// tooltip window the button opened.
void UiScreenshotTest::toolbarTooltips()
{
    for (const char* language : {"en", "fr"}) {
        UiTestHome home;
        IniFile texts((SourceDir() / "data/DefaultCfg" / (std::string("lang_") + language + ".ini")).string());
        CDlgLocalize::SetLanguage(&texts);
        CMainDlg window(home.Cfg(), home.Table(), home.Notices());
        window.show();
        window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QToolButton* restart = window.ModeTabs()->AdvancedPage()->CommandButton(CAdvModeTab::kRestart);
        const QString tip = CDlgLocalize::Lookup("TOOLTIP", "btn_restart");
        QCOMPARE(restart->toolTip(), tip);
        const QPoint at = restart->mapToGlobal(restart->rect().center());
        QToolTip::showText(at, restart->toolTip(), restart);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), tip);
        QTest::qWait(300);  // let the X server finish painting
        const QRect area = QRect(window.mapToGlobal(QPoint(0, 0)), QSize(window.width(), restart->height() * 3))
                               .adjusted(0, 0, 0, restart->height());
        const qreal ratio = window.devicePixelRatio();
        const QPixmap shot = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        QVERIFY(shot.height() >= int(area.height() * ratio) - 1);
        const QString folder = qEnvironmentVariable("VELLUMARK_ARTEFACT_DIR", QDir::currentPath());
        QVERIFY(QDir().mkpath(folder));
        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
        const QString path = QStringLiteral("%1/toolbar-tooltip-%2-%3x.png").arg(folder, QLatin1String(language), scale);
        QVERIFY(shot.save(path));
        qInfo("screenshot: %s", qPrintable(path));
        QToolTip::hideText();
        CDlgLocalize::SetLanguage(&home.Cfg().m_lang_ini);
    }
}

QTEST_MAIN(UiScreenshotTest)
#include "UiScreenshotTest.moc"
