// The advanced page's commands on real lists and real job records: what each command
// tells the user when it has nothing to work on, the checks of Convert and upload, stop,
// resume and restart of the selected rows, delete and export with their safety rules,
// dropping a PDF and opening a book.
#include "config/JobKey.h"
#include "pipeline/JobSection.h"
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/COptionDlg.h"
#include "ui/PdfListView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

namespace {

QLineEdit* Edit(CAdvModeTab& page, const char* name)
{
    return page.findChild<QLineEdit*>(QLatin1String(name));
}

void ClickConvert(CAdvModeTab& page)
{
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
}

// Selects rows of one of the lists as a click would, making that list the active one.
void SelectRows(CPdfListView* view, const std::vector<int>& rows)
{
    view->SelectRows(rows);
    emit view->Activated();
}

int32_t SlotState(UiTestHome& home, const std::string& key)
{
    const int slot = home.Table().FindSlotByKey(key);
    return slot < 0 ? -1 : home.Table().Slot(slot).state.load();
}

}  // namespace

class AdvModeCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void commandsWithNothingSelectedTellTheUser();
    void convertChecksTheFileTheEngineAndTheMetadata();
    void aFullQueueIsReported();
    void stopResumeAndRestartActOnTheSelectedRows();
    void deleteRefusesRunningJobsAndKeepsForeignFolders();
    void exportAsksBeforeEmptyingAFolder();
    void propertiesWriteTheMetadataBack();
    void droppedPdfFillsThePathAndPreviewOpensTheBook();
    void typedPathTakesThePdfsOwnTexts();
    void aBookWhoseUploadDidNotFinishOffersNoDeadLink();
};

void AdvModeCommandsTest::commandsWithNothingSelectedTellTheUser()
{
    UiTestHome home;
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const std::string meta_before = ReadFileBytes(home.Cfg().m_meta_ini.Path());
    for (int command : {CAdvModeTab::kRestart, CAdvModeTab::kStop, CAdvModeTab::kResume, CAdvModeTab::kProperties,
                        CAdvModeTab::kPreview, CAdvModeTab::kDirectory, CAdvModeTab::kDelete}) {
        home.ClearPrompts();
        page.CommandButton(command)->click();
        QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("select_process_item")});
    }
    // Export works on processed books only, whatever is selected elsewhere.
    home.ClearPrompts();
    page.CommandButton(CAdvModeTab::kExport)->click();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("export_only_processed")});
    emit page.ProcessedView()->Activated();
    home.ClearPrompts();
    page.CommandButton(CAdvModeTab::kExport)->click();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("select_process_item")});
    QVERIFY(home.Opened().isEmpty());
    QCOMPARE(ReadFileBytes(home.Cfg().m_meta_ini.Path()), meta_before);
}

void AdvModeCommandsTest::convertChecksTheFileTheEngineAndTheMetadata()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    Edit(page, "pdfPathEdit")->setText(QString::fromStdString((home.Root() / "missing.pdf").string()));
    ClickConvert(page);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("select_pdf")});

    // A file the engine cannot read.
    home.Cfg().m_engine_path = "/bin/false";
    const fs::path text = home.Root() / "notes.pdf";
    WriteFileBytes(text, "just text");
    Edit(page, "pdfPathEdit")->setText(QString::fromStdString(text.string()));
    home.ClearPrompts();
    ClickConvert(page);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("invalid_pdf")});

    // Publishing to the web service needs all three texts.
    home.UseFakeEngine(3, "0");
    home.Cfg().m_use_vazirudu = 1;
    // Typed by the user, the description typed and erased again: the PDF's own values
    // do not replace what the user typed.
    QTest::keyClicks(Edit(page, "titleEdit"), QStringLiteral("A title"));
    QTest::keyClicks(Edit(page, "keywordsEdit"), QStringLiteral("some, words"));
    QTest::keyClicks(Edit(page, "descriptionEdit"), QStringLiteral("x"));
    QTest::keyClick(Edit(page, "descriptionEdit"), Qt::Key_Backspace);
    home.ClearPrompts();
    ClickConvert(page);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("meta_data_required")});
    QCOMPARE(page.QueueList().RowCount(), 0);

    // Locally, the same fields are enough; they are kept for another submission.
    home.Cfg().m_use_vazirudu = 0;
    home.ClearPrompts();
    ClickConvert(page);
    QVERIFY(home.Prompts().empty());
    QCOMPARE(page.QueueList().RowCount(), 1);
    QCOMPARE(Edit(page, "titleEdit")->text(), QStringLiteral("A title"));
}

void AdvModeCommandsTest::aFullQueueIsReported()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    // Jobs that run until asked to stop fill every slot.
    home.Table().SetWorker([](PdfJob& job) {
        while (job.state.load() != JOB_STATE_STOPPING)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        job.state = JOB_STATE_FREE;
        return 0;
    });
    JobParams params;
    params.dpi = 96;
    for (int i = 0; i < JobTable::kSlotCount; ++i)
        QVERIFY(home.Table().LaunchJob(NewJobKey(), params, nullptr, 0) >= 0);
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    Edit(page, "pdfPathEdit")->setText(QString::fromStdString(pdf.string()));
    ClickConvert(page);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("queue_full")});
    QCOMPARE(page.QueueList().RowCount(), 0);
}

void AdvModeCommandsTest::stopResumeAndRestartActOnTheSelectedRows()
{
    UiTestHome home;
    home.UseFakeEngine(400, "0.02");
    // Every conversion from nothing begins with the cover: the engine's log counts them.
    const fs::path engine_log = home.Root() / "engine.log";
    setenv("FAKE_LOG", engine_log.c_str(), 1);
    const auto covers_made = [&] {
        const std::string log = ReadFileBytes(engine_log);
        size_t count = 0;
        for (size_t at = log.find("img cover"); at != std::string::npos; at = log.find("img cover", at + 1))
            ++count;
        return count;
    };
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "long.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    Edit(page, "pdfPathEdit")->setText(QString::fromStdString(pdf.string()));
    ClickConvert(page);
    ClickConvert(page);
    QCOMPARE(page.QueueList().RowCount(), 2);
    const std::string first = page.QueueList().Item(0)->key;
    const std::string second = page.QueueList().Item(1)->key;
    QTRY_COMPARE(SlotState(home, first), int32_t(JOB_STATE_RUNNING));
    QTRY_COMPARE(SlotState(home, second), int32_t(JOB_STATE_RUNNING));
    QTRY_VERIFY(home.Table().Slot(home.Table().FindSlotByKey(first)).progress.load() > kProgressCoverDone);

    SelectRows(page.QueueView(), {0});
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_COMPARE(SlotState(home, first), int32_t(JOB_STATE_FREE));
    QCOMPARE(SlotState(home, second), int32_t(JOB_STATE_RUNNING));
    page.RefreshQueue();
    const int32_t stopped_at = page.QueueList().Item(page.QueueList().FindRowByKey(first))->progress;
    QVERIFY(stopped_at > 0);

    // Resume goes on from where the job stopped.
    page.CommandButton(CAdvModeTab::kResume)->click();
    QTRY_COMPARE(SlotState(home, first), int32_t(JOB_STATE_RUNNING));
    QVERIFY(home.Table().Slot(home.Table().FindSlotByKey(first)).progress.load() >= stopped_at);
    QTRY_COMPARE(covers_made(), size_t(2));

    // Restart stops the running job and begins it again from nothing once it has stopped.
    page.CommandButton(CAdvModeTab::kRestart)->click();
    QTRY_COMPARE(covers_made(), size_t(3));
    QTRY_COMPARE(SlotState(home, first), int32_t(JOB_STATE_RUNNING));
    QCOMPARE(SlotState(home, second), int32_t(JOB_STATE_RUNNING));
    QVERIFY(home.Prompts().empty());
    unsetenv("FAKE_LOG");
}

void AdvModeCommandsTest::deleteRefusesRunningJobsAndKeepsForeignFolders()
{
    UiTestHome home;
    home.UseFakeEngine(400, "0.02");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "long.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    Edit(page, "pdfPathEdit")->setText(QString::fromStdString(pdf.string()));
    ClickConvert(page);
    const std::string key = page.QueueList().Item(0)->key;
    const fs::path book = fs::path(home.Cfg().m_books_folder) / key;
    QTRY_VERIFY(fs::exists(book));

    SelectRows(page.QueueView(), {0});
    home.AnswerNext(QMessageBox::Yes);
    page.CommandButton(CAdvModeTab::kDelete)->click();
    QCOMPARE(home.PromptTexts(), QStringList({UiTestHome::MessageText("delete_confirm"),
                                              UiTestHome::MessageText("stop_before_delete")}));
    QCOMPARE(page.QueueList().RowCount(), 1);
    QVERIFY(fs::exists(book));

    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_COMPARE(SlotState(home, key), int32_t(JOB_STATE_FREE));
    // Answering No changes nothing.
    home.ClearPrompts();
    page.CommandButton(CAdvModeTab::kDelete)->click();
    QCOMPARE(home.Prompts().size(), size_t(1));
    QCOMPARE(page.QueueList().RowCount(), 1);
    home.AnswerNext(QMessageBox::Yes);
    page.CommandButton(CAdvModeTab::kDelete)->click();
    QCOMPARE(page.QueueList().RowCount(), 0);
    QVERIFY(!fs::exists(book));
    QVERIFY(!home.Cfg().m_meta_ini.SectionExists(key, 1024, 32));

    // A book folder that is a link to somewhere else: the record and the row go, what
    // the link points at stays.
    const std::string linked = NewJobKey();
    const fs::path outside = home.Root() / "outside";
    WriteFileBytes(outside / "keep.txt", "keep");
    fs::create_directory_symlink(outside, fs::path(home.Cfg().m_books_folder) / linked);
    JobSection job;
    job.pdf_url = pdf.string();
    job.params.dpi = 96;
    QVERIFY(WriteJobSection(home.Cfg().m_meta_ini, home.Cfg().m_meta_w_ini, linked, job));
    page.BuildLists();
    QCOMPARE(page.QueueList().RowCount(), 1);
    SelectRows(page.QueueView(), {0});
    home.AnswerNext(QMessageBox::Yes);
    page.CommandButton(CAdvModeTab::kDelete)->click();
    QCOMPARE(page.QueueList().RowCount(), 0);
    QCOMPARE(ReadFileBytes(outside / "keep.txt"), std::string("keep"));
}

void AdvModeCommandsTest::exportAsksBeforeEmptyingAFolder()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "short.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());
    SelectRows(page.ProcessedView(), {0});

    // Into an empty folder: no question, a self-contained book, and the offer to open it.
    const fs::path target = home.Root() / "export";
    fs::create_directories(target);
    home.ChooseFolder(QString::fromStdString(target.string()));
    home.AnswerNext(QMessageBox::Yes);
    page.CommandButton(CAdvModeTab::kExport)->click();
    QCOMPARE(home.Prompts().size(), size_t(1));
    QVERIFY(home.Prompts().front().text.startsWith(UiTestHome::MessageText("export_success") + "\n" +
                                                   QString::fromStdString(target.string())));
    QVERIFY(fs::exists(target / "index.html"));
    QVERIFY(ReadFileBytes(target / "index.html").find("\"../") == std::string::npos);
    QCOMPARE(home.Opened(), QStringList{QUrl::fromLocalFile(QString::fromStdString((target / "index.html").string()))
                                            .toString()});
    QCOMPARE(home.Cfg().m_config_ini.ReadText("general", "export_folder", 260), target.string());

    // Again into the same, now full folder: asked first; No leaves it alone.
    const auto written = fs::last_write_time(target / "index.html");
    home.ClearPrompts();
    page.CommandButton(CAdvModeTab::kExport)->click();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("export_not_empty")});
    QCOMPARE(home.Prompts().front().default_button, QMessageBox::No);
    QCOMPARE(fs::last_write_time(target / "index.html"), written);
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);
    home.AnswerNext(QMessageBox::No);
    page.CommandButton(CAdvModeTab::kExport)->click();
    QCOMPARE(home.Prompts().size(), size_t(2));
    QVERIFY(fs::exists(target / "index.html"));

    // A folder holding other files: even with Yes the export is refused, with the reason.
    const fs::path other = home.Root() / "letters";
    WriteFileBytes(other / "letter.txt", "dear");
    home.ChooseFolder(QString::fromStdString(other.string()));
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);
    page.CommandButton(CAdvModeTab::kExport)->click();
    QCOMPARE(home.Prompts().size(), size_t(2));
    QVERIFY(home.Prompts().back().text.startsWith(UiTestHome::MessageText("export_error") + "\n"));
    QVERIFY(home.Prompts().back().text.size() > UiTestHome::MessageText("export_error").size() + 5);
    QCOMPARE(ReadFileBytes(other / "letter.txt"), std::string("dear"));
    QVERIFY(!fs::exists(other / "index.html"));
}

void AdvModeCommandsTest::propertiesWriteTheMetadataBack()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "short.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());
    SelectRows(page.ProcessedView(), {0});
    home.Cfg().m_meta_w_ini.WriteWide(key, "title", "Stored title");
    const std::string tags = home.Cfg().m_meta_w_ini.ReadWide(key, "tags");
    QTimer::singleShot(200, [] {
        auto* dialog = qobject_cast<COptionDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->Title(), QStringLiteral("Stored title"));
        dialog->findChild<QLineEdit*>(QStringLiteral("titleEdit"))->setText(QStringLiteral("Ünïcode title"));
        dialog->accept();
    });
    page.CommandButton(CAdvModeTab::kProperties)->click();
    QCOMPARE(QString::fromStdString(home.Cfg().m_meta_w_ini.ReadWide(key, "title")), QStringLiteral("Ünïcode title"));
    QCOMPARE(home.Cfg().m_meta_w_ini.ReadWide(key, "tags"), tags);
}

// A path typed (or dropped) instead of browsed still gives the book the PDF's own title,
// keywords and description; what the user typed into a field is kept.
void AdvModeCommandsTest::typedPathTakesThePdfsOwnTexts()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "typed.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QTest::keyClicks(Edit(page, "pdfPathEdit"), QString::fromStdString(pdf.string()));
    ClickConvert(page);
    QVERIFY(home.Prompts().empty());
    QCOMPARE(page.QueueList().RowCount(), 1);
    QCOMPARE(Edit(page, "titleEdit")->text(), QStringLiteral("Fake title"));
    QCOMPARE(Edit(page, "keywordsEdit")->text(), QStringLiteral("fake, tags"));
    QCOMPARE(Edit(page, "descriptionEdit")->text(), QStringLiteral("Fake description"));
    const std::string key = page.QueueList().Item(0)->key;
    const JobSection job = ReadJobSection(home.Cfg().m_meta_ini, home.Cfg().m_meta_w_ini, key);
    QCOMPARE(job.title, std::string("Fake title"));
    QCOMPARE(job.tags, std::string("fake, tags"));
    QCOMPARE(job.description, std::string("Fake description"));

    // A title the user typed stays; the other two follow the PDF.
    Edit(page, "titleEdit")->clear();
    QTest::keyClicks(Edit(page, "titleEdit"), QStringLiteral("My own title"));
    ClickConvert(page);
    QCOMPARE(page.QueueList().RowCount(), 2);
    const std::string other = page.QueueList().Item(0)->key == key ? page.QueueList().Item(1)->key
                                                                    : page.QueueList().Item(0)->key;
    const JobSection second = ReadJobSection(home.Cfg().m_meta_ini, home.Cfg().m_meta_w_ini, other);
    QCOMPARE(second.title, std::string("My own title"));
    QCOMPARE(second.description, std::string("Fake description"));
}

void AdvModeCommandsTest::droppedPdfFillsThePathAndPreviewOpensTheBook()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    QVERIFY(page.acceptDrops());
    page.TakeDroppedFiles({QUrl::fromLocalFile(QStringLiteral("/tmp/Big Book.PDF")),
                           QUrl::fromLocalFile(QStringLiteral("/tmp/Notes.TXT"))});
    QCOMPARE(Edit(page, "pdfPathEdit")->text(), QStringLiteral("/tmp/Big Book.PDF"));

    const fs::path pdf = home.Root() / "short.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());
    SelectRows(page.ProcessedView(), {0});
    page.CommandButton(CAdvModeTab::kPreview)->click();
    page.CommandButton(CAdvModeTab::kDirectory)->click();
    const QString book = QString::fromStdString((fs::path(home.Cfg().m_books_folder) / key).string());
    QCOMPARE(home.Opened(), QStringList({QUrl::fromLocalFile(book + "/index.html").toString(),
                                         QUrl::fromLocalFile(book).toString()}));

    // With both publishing targets the service page opens first, then the FTP one; the
    // upload label names both.
    home.Cfg().m_meta_ini.WriteInt(key, "use_ftp", 1);
    home.Cfg().m_meta_ini.WriteInt(key, "use_vazirudu", 1);
    home.Cfg().m_meta_ini.WriteText(key, "ftp_webaddr", "http://example.org/books");
    home.Cfg().m_vazirudu_webaddr = "http://books.example/vellumark/";
    page.CommandButton(CAdvModeTab::kPreview)->click();
    QCOMPARE(home.Opened().mid(2),
             QStringList({QString::fromStdString(home.Cfg().m_vazirudu_webaddr) + "booklet.asp?guid=" +
                              QString::fromStdString(key),
                          "http://example.org/books/" + QString::fromStdString(key) + "/index.html"}));
    home.Cfg().m_use_ftp = 1;
    home.Cfg().m_use_vazirudu = 1;
    page.RefreshUploadLabel();
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("uploadLabel"))->text(),
             QStringLiteral("Books are uploaded to: your FTP server, the publishing service"));
    // The line names the servers; the button says it uploads, and only converts when
    // books stay on this computer.
    home.Cfg().m_ftp_url = "ftp.example.org/books";
    home.Cfg().m_vazirudu_domain = "books.example.org";
    page.RefreshUploadLabel();
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("uploadLabel"))->text(),
             QStringLiteral("Books are uploaded to: your FTP server (ftp.example.org/books), the publishing service "
                            "(books.example.org)"));
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("convertButton"))->text(), QStringLiteral("Convert and upload"));
    home.Cfg().m_use_ftp = 0;
    home.Cfg().m_use_vazirudu = 0;
    page.RefreshUploadLabel();
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("convertButton"))->text(), QStringLiteral("Convert"));
}

// A book made for the web whose upload ended early has no embed code and no web address
// to open: the properties dialog and Preview say why and offer Publish..., which
// continues the same job (same key, from where it ended) in English and French.
void AdvModeCommandsTest::aBookWhoseUploadDidNotFinishOffersNoDeadLink()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    AppConfig& cfg = home.Cfg();
    CAdvModeTab page(cfg, home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "short.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());
    // As a job whose FTP upload failed leaves it.
    cfg.m_meta_ini.WriteInt(key, "use_ftp", 1);
    cfg.m_meta_ini.WriteText(key, "ftp_webaddr", "http://example.org/books");
    QVERIFY(WriteJobProgress(cfg.m_meta_ini, key, kProgressUploadStart));
    SelectRows(page.ProcessedView(), {0});

    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    for (const IniFile* language : {static_cast<const IniFile*>(&cfg.m_lang_ini), static_cast<const IniFile*>(&french)}) {
        CDlgLocalize::SetLanguage(language);
        COptionDlg properties(nullptr);
        properties.ShowEmbedCodes(cfg, key);
        properties.show();
        QVERIFY(!properties.findChild<QWidget*>(QStringLiteral("embedFtpCode"))->isVisible());
        auto* why = properties.findChild<QLabel*>(QStringLiteral("uploadUnfinishedLabel"));
        QVERIFY(why->isVisible());
        QCOMPARE(why->text(), CDlgLocalize::Lookup("EMBED", "upload_unfinished"));
        auto* publish = properties.findChild<QPushButton*>(QStringLiteral("embedPublishButton"));
        QVERIFY(publish->isVisible());
        QCOMPARE(publish->text(), CDlgLocalize::Lookup("EMBED", "publish"));

        // Preview opens nothing and says why.
        home.ClearPrompts();
        home.AnswerNext(QMessageBox::No);
        page.CommandButton(CAdvModeTab::kPreview)->click();
        QVERIFY(home.Opened().isEmpty());
        QCOMPARE(home.PromptTexts(), QStringList{CDlgLocalize::Lookup("MESSAGEBOX", "upload_unfinished")});
    }
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);

    // Publish... from the properties dialog continues the same job from where it ended.
    const int books_before = page.ProcessedView()->model()->rowCount() + page.QueueView()->model()->rowCount();
    QTimer::singleShot(200, [] {
        auto* dialog = qobject_cast<COptionDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->findChild<QPushButton*>(QStringLiteral("embedPublishButton"))->click();
    });
    page.CommandButton(CAdvModeTab::kProperties)->click();
    QCOMPARE(page.ProcessedView()->model()->rowCount() + page.QueueView()->model()->rowCount(), books_before);
    QVERIFY(home.Table().FindSlotByKey(key) >= 0);
    QVERIFY(ReadJobProgress(cfg.m_meta_ini, key) >= kProgressUploadStart);
    // No second book was made.
    int books = 0;
    for (const auto& entry : fs::directory_iterator(cfg.m_books_folder))
        books += entry.is_directory() && IsJobKey(entry.path().filename().string()) ? 1 : 0;
    QCOMPARE(books, 1);
}

QTEST_MAIN(AdvModeCommandsTest)
#include "AdvModeCommandsTest.moc"
