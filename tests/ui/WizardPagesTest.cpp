// The wizard's pages with the scripted engine: what page 0 takes from a drop and checks
// on Next, the local folder checks of page 4, the progress display of the convert page,
// the web service's demand for metadata, the advert page, and a run that survives a
// switch to the advanced tab and ends where a fresh run begins.
#include "config/Folders.h"
#include "config/IniFile.h"
#include "pipeline/PdfJob.h"
#include "publish/NetworkSettings.h"
#include "tests/publish/FtpTestServer.h"
#include "tests/ui/UiTestKit.h"
#include "tests/ui/WizardDriver.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/CMainDlg.h"
#include "ui/CCfgSkinDlg.h"
#include "ui/CFtpDlg.h"
#include "ui/COptionDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/PdfListView.h"
#include "ui/wizard/CWizardDlg4.h"
#include "ui/wizard/WizardPageKit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QToolButton>
#include <QUrl>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QProgressBar>
#include <QSignalSpy>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace fs = std::filesystem;

namespace {

QString LocalPath(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

}  // namespace

class WizardPagesTest : public QObject {
    Q_OBJECT

private slots:
    void dropTakesTheLastPdfAsNamed();
    void nextOnPageZeroChecksEngineFileAndPdf();
    void localFolderIsCheckedBeforeAnyJob();
    void convertPageShowsBothParts();
    void webServiceAsksForMissingMetadata();
    void advertPageAndNavigation();
    void runSurvivesTabSwitchAndBackStartsAFreshRun();
    void toolbarLanguageOnTheLocalAndFtpPages();
    void keepingTheBookLocallyAsksBeforeTheTargetChanges();
    void newBookChoosersHelpAndTheAdvancedPageLook();
};

void WizardPagesTest::dropTakesTheLastPdfAsNamed()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path upper = home.Root() / "Annual REPORT.PDF";
    const fs::path notes = home.Root() / "notes.txt";
    WriteFileBytes(upper, "%PDF-1.4");
    WriteFileBytes(notes, "text");
    wizard.Drop({upper, notes});
    QCOMPARE(wizard.Edit("pdfPathEdit")->text(), LocalPath(upper));
    QVERIFY(home.Prompts().empty());

    // Nothing usable (a text file, a folder named like a PDF): refused, field unchanged.
    fs::create_directories(home.Root() / "folder.pdf");
    wizard.Drop({notes});
    wizard.Drop({home.Root() / "folder.pdf"});
    QCOMPARE(home.PromptTexts(), QStringList(2, UiTestHome::MessageText("select_pdf")));
    QCOMPARE(wizard.Edit("pdfPathEdit")->text(), LocalPath(upper));
    // Browse puts the chosen file in the field.
    const fs::path chosen = home.Root() / "chosen.pdf";
    home.ChooseFile(LocalPath(chosen));
    QVERIFY(wizard.Click("browseButton"));
    QCOMPARE(wizard.Edit("pdfPathEdit")->text(), LocalPath(chosen));
    wizard.Drop({upper});
    // The path keeps its capitals, so Next finds the file.
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(wizard.Step(), int(kStepImageQuality));
}

void WizardPagesTest::nextOnPageZeroChecksEngineFileAndPdf()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");

    const std::string engine = home.Cfg().m_engine_path;
    home.Cfg().m_engine_path = (home.Root() / "no-engine").string();
    wizard.Edit("pdfPathEdit")->setText(LocalPath(pdf));
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(home.PromptTexts(), QStringList{"Engine missing:" + QString::fromStdString(home.Cfg().m_engine_path)});
    home.Cfg().m_engine_path = engine;
    home.ClearPrompts();

    wizard.Edit("pdfPathEdit")->setText(LocalPath(home.Root() / "missing.pdf"));
    QVERIFY(wizard.Click("nextButton"));
    wizard.Edit("pdfPathEdit")->setText(LocalPath(home.Root()));
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(home.PromptTexts(), QStringList(2, UiTestHome::MessageText("select_pdf")));
    home.ClearPrompts();

    // A PDF whose page size the engine cannot read stays on page 0.
    setenv("FAKE_PAGES", "0", 1);
    wizard.Edit("pdfPathEdit")->setText(LocalPath(pdf));
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("invalid_pdf")});
    QCOMPARE(wizard.Step(), int(kStepChoosePdf));

    // A good one: its values come from the engine, and page 2 shows them.
    setenv("FAKE_PAGES", "3", 1);
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(wizard.Step(), int(kStepImageQuality));
    QCOMPARE(wizard.Tabs().Values().page_count, 3);
    QVERIFY(wizard.Tabs().Values().page_width > 0 && wizard.Tabs().Values().page_height > 0);
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(wizard.Edit("titleEdit")->text(), QStringLiteral("Fake title"));
    QCOMPARE(wizard.Edit("keywordsEdit")->text(), QStringLiteral("fake, tags"));
    QCOMPARE(wizard.Edit("descriptionEdit")->text(), QStringLiteral("Fake description"));
    QVERIFY(!window.isHidden());
}

void WizardPagesTest::localFolderIsCheckedBeforeAnyJob()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path pdf = home.MakePdf("folder test.pdf", 1);
    QVERIFY(!pdf.empty());
    QVERIFY(wizard.ToPublishMethod(pdf));
    QVERIFY(wizard.Click("localButton"));
    QCOMPARE(wizard.Step(), int(kStepLocalFolder));
    auto try_folder = [&](const QString& folder) {
        home.ClearPrompts();
        wizard.Edit("folderEdit")->setText(folder);
        wizard.Click("nextButton");
        return home.PromptTexts();
    };
    const QString books = QString::fromStdString(home.Cfg().m_books_folder);
    const QStringList refused{UiTestHome::MessageText("folder_refused")};
    QCOMPARE(try_folder(QString()), QStringList{UiTestHome::MessageText("folder_select")});
    // A relative folder is told why it cannot be used.
    QCOMPARE(try_folder(QStringLiteral("relative/folder")), QStringList{UiTestHome::MessageText("folder_relative")});
    QVERIFY(UiTestHome::MessageText("folder_relative").contains(QStringLiteral("full folder path")));
    QCOMPARE(try_folder(books), refused);
    QCOMPARE(try_folder(books + QStringLiteral("/inside")), refused);
    QCOMPARE(try_folder(QFileInfo(books).path()), refused);  // contains the books folder
    QCOMPARE(try_folder(QString::fromUtf8(qgetenv("HOME"))), refused);
    QCOMPARE(try_folder(QStringLiteral("/")), refused);
    QCOMPARE(try_folder(LocalPath(pdf.parent_path())), refused);  // would empty the PDF away

    // Other people's files are never replaced; an earlier book only when the user agrees.
    const fs::path busy = home.Root() / "out/busy";
    WriteFileBytes(busy / "letter.odt", "mine");
    QCOMPARE(try_folder(LocalPath(busy)), QStringList{UiTestHome::MessageText("folder_has_files")});
    const fs::path earlier = home.Root() / "out/earlier";
    WriteFileBytes(earlier / "index.html", "<html>");
    WriteFileBytes(earlier / "index.js", "");
    fs::create_directories(earlier / "skins");
    home.AnswerNext(QMessageBox::No);
    QCOMPARE(try_folder(LocalPath(earlier)), QStringList{UiTestHome::MessageText("folder_not_empty")});
    QCOMPARE(wizard.Step(), int(kStepLocalFolder));

    // A missing folder: No stays, Yes creates it with its parents and moves on.
    const fs::path fresh = home.Root() / "out/new/book";
    home.AnswerNext(QMessageBox::No);
    QCOMPARE(try_folder(LocalPath(fresh)), QStringList{UiTestHome::MessageText("folder_not_exist")});
    QVERIFY(!fs::exists(fresh));
    // The toolbar's own home link is stored with the folder.
    QCheckBox* own_logo = wizard.Page()->findChild<QCheckBox*>(QStringLiteral("useHomeCheck"));
    QVERIFY(!wizard.Edit("homeTextEdit")->isEnabled());
    own_logo->setChecked(true);
    QVERIFY(wizard.Edit("homeTextEdit")->isEnabled());
    wizard.Edit("homeTextEdit")->setText(QStringLiteral("My shop"));
    home.AnswerNext(QMessageBox::Yes);
    try_folder(LocalPath(fresh));
    QVERIFY(fs::is_directory(fresh));
    QCOMPARE(home.Cfg().m_config_ini.ReadInt("skin", "skin_useownlogo"), 1);
    QCOMPARE(home.Cfg().m_config_ini.ReadText("skin", "skin_logotxt"), std::string("My shop"));
    // The auto-open box on the convert page is the stored setting.
    QCheckBox* auto_open = wizard.Page()->findChild<QCheckBox*>(QStringLiteral("autoOpenCheck"));
    QCOMPARE(auto_open->isChecked(), home.Cfg().m_autoview != 0);
    auto_open->setChecked(false);
    QCOMPARE(home.Cfg().m_autoview, 0);
    QCOMPARE(home.Cfg().m_config_ini.ReadInt("general", "autoview"), 0);
    QCOMPARE(wizard.Step(), int(kStepConvert));
    QCOMPARE(home.Cfg().m_use_local, 1);
    QCOMPARE(home.Cfg().m_use_ftp, 0);
    QCOMPARE(home.Cfg().m_use_vazirudu, 0);
    QCOMPARE(window.ModeTabs()->AdvancedPage()->QueueList().RowCount(), 0);
    // Back from the convert page returns to the page that led there.
    QVERIFY(wizard.Click("backButton"));
    QCOMPARE(wizard.Step(), int(kStepLocalFolder));
}

void WizardPagesTest::convertPageShowsBothParts()
{
    UiTestHome home;
    WizardValues values;
    CWizardDlg4 page(home.Cfg(), values, nullptr);
    auto label = [&](const char* name) { return page.findChild<QLabel*>(QLatin1String(name))->text(); };
    auto bar = [&](const char* name) { return page.findChild<QProgressBar*>(QLatin1String(name))->value(); };
    page.ShowProgress(30000);
    QCOMPARE(label("convertLabel"), QStringLiteral("Converting (60.0%)"));
    QCOMPARE(label("uploadLabel"), QStringLiteral("Uploading (0.0%)"));
    QCOMPARE(bar("convertBar"), 30000);
    QCOMPARE(bar("uploadBar"), 0);
    QVERIFY(!page.findChild<QPushButton*>(QStringLiteral("viewButton"))->isEnabled());
    page.ShowProgress(75000);
    QCOMPARE(label("convertLabel"), QStringLiteral("Converting (100.0%)"));
    QCOMPARE(label("uploadLabel"), QStringLiteral("Uploading (50.0%)"));
    QCOMPARE(bar("uploadBar"), 25000);
    page.ShowProgress(100000);
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("viewButton"))->isEnabled());
    // Texts set at run time follow a change of language.
    page.Prepare(7);
    page.ShowProgress(30000);
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    CDlgLocalize::SetLanguage(&french);
    CDlgLocalize::LocaliseDialog(&page);
    page.Relocalise();
    QCOMPARE(label("convertLabel"), QStringLiteral("Conversion (60.0%)"));
    QCOMPARE(label("pageHeader"), QStringLiteral("Convertir le livre"));
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("convertButton"))->text(), QStringLiteral("Convertir"));
    QCOMPARE(CWizardDlg4::Percent(12345), QStringLiteral("24.6%"));
    QCOMPARE(CWizardDlg4::Percent(1), QStringLiteral("0.0%"));
}

void WizardPagesTest::webServiceAsksForMissingMetadata()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(wizard.ToPublishMethod(pdf));
    // As page 5 leaves it: the web service is the only target.
    home.Cfg().m_use_vazirudu = 1;
    home.Cfg().m_use_local = 0;
    wizard.Tabs().OnWizardStep(kStepConvert, kStepWebService);
    QCOMPARE(wizard.Step(), int(kStepConvert));
    QCOMPARE(wizard.Button("convertButton")->text(), QStringLiteral("Convert and upload"));
    // Keywords emptied on page 2.
    wizard.Tabs().OnWizardStep(kStepMetadata, 0);
    wizard.Edit("keywordsEdit")->clear();
    QVERIFY(wizard.Click("nextButton"));
    wizard.Tabs().OnWizardStep(kStepConvert, kStepWebService);

    QString caption;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<COptionDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        caption = dialog->windowTitle();
        QCOMPARE(dialog->Keywords(), QString());
        QCOMPARE(dialog->Title(), QStringLiteral("Fake title"));
        dialog->findChild<QLineEdit*>(QStringLiteral("keywordsEdit"))->setText(QStringLiteral("new, words"));
        dialog->accept();
    });
    QVERIFY(wizard.Click("convertButton"));
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("meta_data_required2")});
    QCOMPARE(caption, UiTestHome::MessageText("meta_data_required2"));
    // No job; the values are back in the wizard and on page 2; Convert works again.
    QCOMPARE(window.ModeTabs()->AdvancedPage()->QueueList().RowCount(), 0);
    QCOMPARE(wizard.Tabs().Values().keywords, QStringLiteral("new, words"));
    QCOMPARE(wizard.Tabs().WizardPageAt(kStepMetadata)->findChild<QLineEdit*>(QStringLiteral("keywordsEdit"))->text(),
             QStringLiteral("new, words"));
    QVERIFY(wizard.Button("convertButton")->isEnabled());
}

void WizardPagesTest::advertPageAndNavigation()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    home.Cfg().m_config_ini.WriteText("general", "advert_url", "http://127.0.0.1:9/about/");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    QVERIFY(wizard.Click("advertButton"));
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(wizard.ToPublishMethod(pdf));
    QVERIFY(wizard.Click("aboutServiceButton"));
    QCOMPARE(wizard.Step(), int(kStepAdvert));
    QVERIFY(wizard.Click("advertButton"));
    QCOMPARE(home.Opened(), QStringList(2, QStringLiteral("http://127.0.0.1:9/about/")));
    QVERIFY(wizard.Click("backButton"));
    QCOMPARE(wizard.Step(), int(kStepPublishMethod));
    // Back walks the pages in order; each page shown is the only one visible.
    for (int step : {kStepMetadata, kStepImageQuality, kStepChoosePdf}) {
        QVERIFY(wizard.Click("backButton"));
        QCOMPARE(wizard.Step(), step);
        int visible = 0;
        for (int code = 0; code < CModeTabCtrl::kWizardSteps; ++code)
            visible += wizard.Tabs().WizardPageAt(code) && wizard.Tabs().WizardPageAt(code)->isVisible();
        QCOMPARE(visible, 1);
    }
    QVERIFY(!wizard.Button("backButton"));  // page 0 has none
    // Exit on a wizard page quits the program.
    QSignalSpy quit(&window, &CMainDlg::Quit);
    QVERIFY(wizard.Click("exitButton"));
    QCOMPARE(quit.count(), 1);
    QCOMPARE(quit.front().front().toInt(), int(CMainDlg::kExitClosed));
}

void WizardPagesTest::runSurvivesTabSwitchAndBackStartsAFreshRun()
{
    UiTestHome home;
    home.UseFakeEngine(8, "0.1");
    home.Cfg().m_autoview = 1;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path pdf = home.Root() / "slow.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(wizard.ToPublishMethod(pdf));
    const fs::path folder = home.Root() / "out/slow";
    home.AnswerNext(QMessageBox::Yes);
    QVERIFY(wizard.ToConvertWithFolder(LocalPath(folder)));
    QVERIFY(wizard.Click("convertButton"));
    QVERIFY(!wizard.Button("convertButton")->isEnabled());
    QVERIFY(!wizard.Button("backButton")->isEnabled());
    const std::string key = wizard.Tabs().Values().job_key;
    QVERIFY(!key.empty());
    QCOMPARE(window.ModeTabs()->AdvancedPage()->QueueList().RowCount(), 1);

    auto* bar = wizard.Page()->findChild<QProgressBar*>(QStringLiteral("convertBar"));
    QVERIFY(QTest::qWaitFor([&] { return bar->value() > 0; }, 20000));
    // A book kept on this computer is not uploaded: no upload bar, no upload line.
    QVERIFY(wizard.Page()->findChild<QProgressBar*>(QStringLiteral("uploadBar"))->isHidden());
    QVERIFY(wizard.Page()->findChild<QLabel*>(QStringLiteral("uploadLabel"))->isHidden());
    // The wizard's bar follows the job while the advanced tab is shown (however fast or
    // slow the machine is, so no fixed wait).
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    const int before = bar->value();
    QVERIFY(QTest::qWaitFor([&] { return bar->value() > before || wizard.Step() == kStepSuccess; }, 60000));
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kWizardTab);
    QVERIFY(wizard.Step() == kStepConvert || wizard.Step() == kStepSuccess);
    QVERIFY(wizard.WaitForStep(kStepSuccess, 60000));

    // Page 9: only the folder row, with the folder the book was exported to.
    QCOMPARE(wizard.Edit("localEdit")->text(), LocalPath(folder));
    QVERIFY(wizard.Edit("localEdit")->isVisible());
    QVERIFY(!wizard.Edit("serviceEdit")->isVisible());
    QVERIFY(!wizard.Edit("ftpEdit")->isVisible());
    QVERIFY(fs::exists(folder / "index.html"));
    // The finished book opened once by itself: the same copy View opens.
    QCOMPARE(home.Opened(), QStringList{QUrl::fromLocalFile(LocalPath(folder / "index.html")).toString()});
    QVERIFY(!wizard.Tabs().WizardProgressTimer().isActive());
    QVERIFY(wizard.Click("viewButton"));
    QCOMPARE(home.Opened().last(), QUrl::fromLocalFile(LocalPath(folder / "index.html")).toString());

    // Back starts a fresh run: no job followed, the convert page ready again.
    QVERIFY(wizard.Click("backButton"));
    QCOMPARE(wizard.Step(), int(kStepChoosePdf));
    QCOMPARE(wizard.Tabs().Values().slot, -1);
    QVERIFY(wizard.Tabs().Values().job_key.empty());
    QCOMPARE(wizard.Edit("pdfPathEdit")->text(), LocalPath(pdf));
    for (int step : {kStepChoosePdf, kStepImageQuality, kStepMetadata})
        QVERIFY2(wizard.Click("nextButton"), qPrintable(QString::number(step)));
    home.AnswerNext(QMessageBox::Yes);  // the folder holds the first book now
    QVERIFY(wizard.ToConvertWithFolder(LocalPath(folder)));
    QCOMPARE(wizard.Page()->findChild<QProgressBar*>(QStringLiteral("convertBar"))->value(), 0);
    QVERIFY(wizard.Button("convertButton")->isEnabled());
    QVERIFY(!wizard.Button("viewButton")->isEnabled());
    // A job that fails (the engine writes fewer pages than the PDF has) leaves the page
    // usable again; the next Convert makes a new book.
    setenv("FAKE_PAGES", "2", 1);
    setenv("FAKE_DELAY", "0", 1);
    QVERIFY(wizard.Click("convertButton"));
    QVERIFY(wizard.Tabs().Values().job_key != key);
    QVERIFY(QTest::qWaitFor([&] { return wizard.Button("convertButton")->isEnabled(); }, 30000));
    QCOMPARE(wizard.Step(), int(kStepConvert));
    QCOMPARE(wizard.Page()->findChild<QLabel*>(QStringLiteral("pageHeader"))->text(),
             CDlgLocalize::Lookup("WIZARD_CONVERT", "screen_header3"));
    QVERIFY(!wizard.Tabs().WizardProgressTimer().isActive());
    // The failure reads as one, with its reason, and no bar stays as if it went on.
    const QString failed = CDlgLocalize::Lookup("WIZARD_CONVERT", "convert_failed") + QStringLiteral(": ");
    auto* convert_label = wizard.Page()->findChild<QLabel*>(QStringLiteral("convertLabel"));
    auto* convert_bar = wizard.Page()->findChild<QProgressBar*>(QStringLiteral("convertBar"));
    QTRY_VERIFY2(convert_label->text().startsWith(failed) && convert_label->text().size() > failed.size(),
                 qPrintable(convert_label->text()));
    QVERIFY(convert_bar->isHidden());
    setenv("FAKE_PAGES", "8", 1);
    QVERIFY(wizard.Click("convertButton"));
    QVERIFY(!convert_bar->isHidden());
    QVERIFY(!convert_label->text().startsWith(failed));
    QVERIFY(wizard.WaitForStep(kStepSuccess, 30000));
}

// The book toolbar's language is chosen on the local-folder and FTP pages too, and
// stored exactly as the toolbar dialog stores it.
void WizardPagesTest::toolbarLanguageOnTheLocalAndFtpPages()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    AppConfig& cfg = home.Cfg();
    cfg.m_config_ini.WriteText("skin", "skin_lang", "Français");
    // Next on the FTP page logs in to check the folder: a real server on this machine.
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    fs::create_directories(ftp.Root() / "books");
    CFtpDlg profiles(cfg, nullptr);
    for (const auto& [name, value] : {std::pair{"hostEdit", "127.0.0.1"}, {"subdirEdit", "books"},
                                      {"userEdit", "alice"}, {"passwordEdit", "secret"},
                                      {"webaddrEdit", "https://www.example.org/books/"}})
        profiles.findChild<QLineEdit*>(QLatin1String(name))->setText(QLatin1String(value));
    profiles.findChild<QSpinBox*>(QStringLiteral("portSpin"))->setValue(ftp.Port());
    profiles.Add();
    CMainDlg window(cfg, home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(wizard.ToPublishMethod(pdf));

    // What the toolbar dialog stores for a language.
    auto dialog_keys = [&](const QString& language) {
        CCfgSkinDlg dialog(cfg, nullptr);
        dialog.findChild<QComboBox*>(QStringLiteral("languageCombo"))->setCurrentText(language);
        dialog.accept();
        return std::pair{cfg.m_config_ini.ReadText("skin", "skin_lang"), cfg.m_config_ini.ReadText("skin", "lang_filename")};
    };
    auto page_keys = [&](const char* method, const QString& language, const std::function<void()>& fill) {
        if (!wizard.Click(method))
            return std::pair{std::string("no page"), std::string()};
        auto* combo = wizard.Page()->findChild<QComboBox*>(QStringLiteral("languageCombo"));
        if (!combo || !combo->isVisible() || ControlId(combo) != 1092)
            return std::pair{std::string("no language choice"), std::string()};
        combo->setCurrentText(language);
        fill();
        wizard.Click("nextButton");
        const auto keys = std::pair{cfg.m_config_ini.ReadText("skin", "skin_lang"),
                                    cfg.m_config_ini.ReadText("skin", "lang_filename")};
        wizard.Click("backButton");
        wizard.Click("backButton");
        return keys;
    };
    const fs::path folder = home.Root() / "out/lang";
    home.AnswerNext(QMessageBox::Yes);  // create the folder
    auto from_page = page_keys("localButton", QStringLiteral("Deutsch"),
                               [&] { wizard.Edit("folderEdit")->setText(LocalPath(folder)); });
    auto from_dialog = dialog_keys(QStringLiteral("Deutsch"));
    QCOMPARE(from_page.first, from_dialog.first);
    QCOMPARE(from_page.second, from_dialog.second);
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "lang_filename"), std::string("de.asp"));
    QCOMPARE(wizard.Step(), int(kStepPublishMethod));
    // The page shows the stored language when it is shown again.
    QVERIFY(wizard.Click("ftpButton"));
    QCOMPARE(wizard.Page()->findChild<QComboBox*>(QStringLiteral("languageCombo"))->currentText(), QStringLiteral("Deutsch"));
    QVERIFY(wizard.Click("backButton"));
    home.AnswerNext(QMessageBox::Yes);  // books go to the FTP server from now on
    from_page = page_keys("ftpButton", QStringLiteral("Español"), [] {});
    from_dialog = dialog_keys(QStringLiteral("Español"));
    QCOMPARE(from_page.first, from_dialog.first);
    QCOMPARE(from_page.second, from_dialog.second);
    QCOMPARE(cfg.m_config_ini.ReadText("skin", "lang_filename"), std::string("es.asp"));
    // Only the folder question and, as books now go to the FTP server, the target question.
    QVERIFY2(home.Prompts().size() == 2, qPrintable(home.PromptTexts().join(" | ")));
    QVERIFY(home.PromptTexts()[1].startsWith(
        CDlgLocalize::LocaliseText(QStringLiteral("<#[MESSAGEBOX:target_change]#>")).section(QLatin1Char('\n'), 0, 0)));
}

// A wizard run that keeps the book on this computer asks before it changes where the
// advanced tab sends books (one setting for both), in English and French: No stays on the
// page and the advanced tab still shows the FTP server; Yes changes the target.
void WizardPagesTest::keepingTheBookLocallyAsksBeforeTheTargetChanges()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    AppConfig& cfg = home.Cfg();
    const fs::path pdf = home.MakePdf("target.pdf", 1);
    QVERIFY(!pdf.empty());
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {&cfg.m_lang_ini, &french}) {
        CDlgLocalize::SetLanguage(language);
        cfg.m_ftp_url = "ftp.example.org/books";
        SetPublishingMode(cfg, PublishingMode::kFtp);
        CMainDlg window(cfg, home.Table(), home.Notices());
        window.show();
        CModeTabCtrl& tabs = *window.ModeTabs();
        auto* target = tabs.AdvancedPage()->findChild<QLabel*>(QStringLiteral("uploadLabel"));
        const QString before = target->text();
        QVERIFY2(before.contains(QStringLiteral("ftp.example.org/books")), qPrintable(before));
        WizardDriver wizard(window);
        QVERIFY(wizard.ToPublishMethod(pdf));
        QVERIFY(wizard.Click("localButton"));
        const fs::path folder = home.Root() / "out" / (language == &french ? "fr" : "en");
        fs::create_directories(folder);
        wizard.Edit("folderEdit")->setText(LocalPath(folder));

        home.ClearPrompts();
        home.AnswerNext(QMessageBox::No);
        wizard.Click("nextButton");
        const QString question = CDlgLocalize::LocaliseText(QStringLiteral("<#[MESSAGEBOX:target_change]#>"))
                                     .arg(before, CDlgLocalize::Lookup("ADVANCED", "not_upload"));
        QCOMPARE(home.PromptTexts(), QStringList{question});
        QCOMPARE(home.Prompts().front().default_button, QMessageBox::Yes);
        QCOMPARE(wizard.Step(), int(kStepLocalFolder));
        QCOMPARE(cfg.m_use_ftp, 1);
        QCOMPARE(cfg.m_config_ini.ReadInt("network", "use_ftp"), 1);
        tabs.setCurrentIndex(CModeTabCtrl::kAdvancedTab);
        QCOMPARE(target->text(), before);
        tabs.setCurrentIndex(CModeTabCtrl::kWizardTab);

        home.ClearPrompts();
        home.AnswerNext(QMessageBox::Yes);
        wizard.Click("nextButton");
        QCOMPARE(home.PromptTexts(), QStringList{question});
        QCOMPARE(wizard.Step(), int(kStepConvert));
        QCOMPARE(cfg.m_use_ftp, 0);
        QCOMPARE(cfg.m_use_local, 1);
        tabs.setCurrentIndex(CModeTabCtrl::kAdvancedTab);
        QCOMPARE(target->text(), CDlgLocalize::Lookup("ADVANCED", "not_upload"));
    }
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);
}

// New book while a job runs says that it goes on; the file choosers start in the
// documents folder, then where the user chose last; Help opens the guide at the page's
// own section; on the advanced page the ten icons have one size and a failed job's
// result is not cut off.
void WizardPagesTest::newBookChoosersHelpAndTheAdvancedPageLook()
{
    UiTestHome home;
    home.UseFakeEngine(60, "0.1");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    WizardDriver wizard(window);
    const QString documents = QString::fromStdString(folders::DocumentsFolder());

    // Page 0's Browse starts in the documents folder; a choice elsewhere is remembered.
    home.ChooseFile(QString());
    QVERIFY(wizard.Click("browseButton"));
    QCOMPARE(home.ChooserStart(), documents);
    const fs::path pdf = home.Root() / "pdfs/slow.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    home.ChooseFile(LocalPath(pdf));
    QVERIFY(wizard.Click("browseButton"));
    QCOMPARE(wizard.Edit("pdfPathEdit")->text(), LocalPath(pdf));
    CAdvModeTab& advanced = *window.ModeTabs()->AdvancedPage();
    home.ChooseFile(QString());
    Find<QPushButton>(&advanced, "browseButton")->click();
    QCOMPARE(home.ChooserStart(), LocalPath(pdf.parent_path()));

    // Help on each page opens the guide at that page's section, which the guide has.
    const std::string guide = ReadFileBytes(SourceDir() / "help/index.html");
    auto help_section = [&] {
        const auto before = home.Opened().size();
        wizard.Click("helpButton");
        if (home.Opened().size() != before + 1)
            return QString();
        const QUrl opened(home.Opened().last());
        if (opened.toLocalFile() != QString::fromStdString(home.Cfg().LoadedProgramFolder() + "help/index.html") ||
            guide.find("id=\"" + opened.fragment().toStdString() + "\"") == std::string::npos)
            return QStringLiteral("not in the guide: ") + opened.toString();
        return opened.fragment();
    };
    QCOMPARE(help_section(), QStringLiteral("wizard-pdf"));
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(help_section(), QStringLiteral("wizard-quality"));
    QVERIFY(wizard.Click("nextButton"));
    QVERIFY(wizard.Click("nextButton"));
    QCOMPARE(help_section(), QStringLiteral("wizard-method"));
    QVERIFY(wizard.Click("localButton"));
    QCOMPARE(help_section(), QStringLiteral("wizard-local"));
    advanced.CommandButton(CAdvModeTab::kHelp)->click();
    QCOMPARE(QUrl(home.Opened().last()).fragment(), QStringLiteral("advanced"));

    // New book while the job converts: back on page 0, told that the job goes on.
    QVERIFY(wizard.Click("backButton"));
    home.AnswerNext(QMessageBox::Yes);
    QVERIFY(wizard.ToConvertWithFolder(LocalPath(home.Root() / "out/slow")));
    QVERIFY(wizard.Click("convertButton"));
    const std::string key = wizard.Tabs().Values().job_key;
    QVERIFY(!key.empty());
    QVERIFY(wizard.Click("newJobButton"));
    QCOMPARE(wizard.Step(), int(kStepChoosePdf));
    auto* note = wizard.Page()->findChild<QLabel*>(QStringLiteral("jobNote"));
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), CDlgLocalize::Lookup("WIZARD_CONVERT", "job_goes_on"));
    const int slot = home.Table().FindSlotByKey(key);
    QVERIFY(slot >= 0 && home.Table().Slot(slot).state.load() != JOB_STATE_FREE);
    home.Table().RequestStop(slot);
    QTRY_VERIFY_WITH_TIMEOUT(home.Table().Slot(slot).state.load() == JOB_STATE_FREE, 20000);

    // The advanced page: the ten toolbar icons are drawn at one size.
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    const QSize icon_size = advanced.CommandButton(CAdvModeTab::kRestart)->iconSize();
    for (QToolButton* button : advanced.findChild<QWidget*>(QStringLiteral("commandToolbar"))->findChildren<QToolButton*>())
        QCOMPARE(button->icon().pixmap(icon_size).deviceIndependentSize().toSize(), icon_size);
    // A failed job's result is read whole in its column.
    home.UseFakeEngine(4, "0");
    setenv("FAKE_FAIL", "HighRes", 1);
    const fs::path broken = home.Root() / "broken.pdf";
    WriteFileBytes(broken, "%PDF-1.4");
    Find<QLineEdit>(&advanced, "pdfPathEdit")->setText(LocalPath(broken));
    Find<QPushButton>(&advanced, "convertButton")->click();
    const std::string failed = advanced.QueueList().Item(advanced.QueueList().RowCount() - 1)->key;
    QTRY_VERIFY_WITH_TIMEOUT(home.Table().Slot(home.Table().FindSlotByKey(failed)).state.load() == JOB_STATE_FREE, 30000);
    unsetenv("FAKE_FAIL");
    advanced.RefreshQueue();
    const int row = advanced.QueueList().FindRowByKey(failed);
    QVERIFY(row >= 0);
    const QString result = QString::fromStdString(advanced.QueueList().CellText(row, CPdfItemList::kColResult));
    QVERIFY(!result.isEmpty());
    CPdfListView* view = advanced.QueueView();
    QTRY_VERIFY(view->header()->sectionSize(CPdfItemList::kColResult) >= view->fontMetrics().horizontalAdvance(result));
}

QTEST_MAIN(WizardPagesTest)
#include "WizardPagesTest.moc"
