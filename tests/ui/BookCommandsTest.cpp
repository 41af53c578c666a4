// Update with a new PDF and Publish on a processed book of the advanced page, through
// the real buttons, the real worker with the scripted engine, and a real FTP server on
// 127.0.0.1.
#include "config/Folders.h"
#include "config/IniFile.h"
#include "pipeline/BookUpdate.h"
#include "pipeline/JobSection.h"
#include "tests/publish/FtpTestServer.h"
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/PdfListView.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QTest>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// Waits (bounded) until the job of `key` is back in the processed list.
bool WaitUntilProcessed(CAdvModeTab& page, const std::string& key)
{
    for (int i = 0; i < 600 && page.ProcessedList().FindRowByKey(key) < 0; ++i) {
        QTest::qWait(100);
        page.RefreshQueue();
    }
    return page.ProcessedList().FindRowByKey(key) >= 0;
}

void SelectProcessed(CAdvModeTab& page, const std::string& key)
{
    page.ProcessedView()->SelectRows({page.ProcessedList().FindRowByKey(key)});
    emit page.ProcessedView()->Activated();
}

void Click(CAdvModeTab& page, int command)
{
    page.BookCommandButton(command)->click();
}

QString Refusal(const char* lead, const char* why)
{
    return CDlgLocalize::Lookup("MESSAGEBOX", lead) + QLatin1Char('\n') + QLatin1String(why);
}

bool EngineLogHasImageRuns(const fs::path& log)
{
    return ReadFileBytes(log).find("img ") != std::string::npos;
}

}  // namespace

class BookCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void updateConvertsANewPdfUnderTheSameKey();
    void publishNeedsATargetAndSendsTheBookWithoutConverting();
    void publishShowsUploadingWhileItUploads();
};

void BookCommandsTest::updateConvertsANewPdfUnderTheSameKey()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    QSignalSpy status(&page, &CAdvModeTab::StatusText);
    const fs::path old_pdf = home.Root() / "first.pdf";
    WriteFileBytes(old_pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, old_pdf);
    QVERIFY(!key.empty());
    const fs::path book = fs::path(home.Cfg().m_books_folder) / key;
    const fs::path new_pdf = home.Root() / "second.pdf";
    WriteFileBytes(new_pdf, "%PDF-1.4");
    SelectProcessed(page, key);

    // Cancelling the file dialog changes nothing; the dialog opens in the documents folder.
    const std::string meta_before = ReadFileBytes(home.Cfg().m_meta_ini.Path());
    Click(page, CAdvModeTab::kUpdateBook);
    QCOMPARE(home.ChooserStart().toStdString(), folders::DocumentsFolder());
    QCOMPARE(ReadFileBytes(home.Cfg().m_meta_ini.Path()), meta_before);

    // A PDF the engine cannot read: the reason in a message box and on the status line.
    home.ChooseFile(QString::fromStdString(new_pdf.string()));
    home.Cfg().m_engine_path = "/bin/false";
    Click(page, CAdvModeTab::kUpdateBook);
    const QString unreadable = Refusal("update_refused", "the engine cannot read the new PDF");
    QCOMPARE(home.PromptTexts(), QStringList{unreadable});
    QCOMPARE(status.last().front().toString(), QString(unreadable).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    QCOMPARE(ReadFileBytes(home.Cfg().m_meta_ini.Path()), meta_before);
    QCOMPARE(page.ProcessedList().RowCount(), 1);

    // The new PDF has five pages: the job starts again from nothing under the same key,
    // its row in the queue.
    home.ClearPrompts();
    home.UseFakeEngine(5, "0.1");
    const fs::path engine_log = home.Root() / "engine.log";
    setenv("FAKE_LOG", engine_log.c_str(), 1);
    Click(page, CAdvModeTab::kUpdateBook);
    QVERIFY2(home.Prompts().empty(), qPrintable(home.PromptTexts().join(" | ")));
    const IniFile& meta = home.Cfg().m_meta_ini;
    QCOMPARE(meta.ReadText(key, "pdf_url", kJobPathBytes), new_pdf.string());
    QCOMPARE(meta.ReadInt(key, "pagenum"), 5);
    QCOMPARE(meta.ReadInt(key, kUpdatePendingKey), 1);
    QCOMPARE(page.ProcessedList().FindRowByKey(key), -1);
    const int row = page.QueueList().FindRowByKey(key);
    QVERIFY(row >= 0);
    QCOMPARE(page.QueueList().Item(row)->pdf_path, new_pdf.string());
    QVERIFY(home.Table().FindSlotByKey(key) >= 0);
    QVERIFY(home.Table().Slot(home.Table().FindSlotByKey(key)).state.load() != JOB_STATE_FREE);

    // While it runs, neither command takes the book.
    page.QueueView()->SelectRows({row});
    emit page.QueueView()->Activated();
    Click(page, CAdvModeTab::kPublishBook);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("stop_before_update")});

    // Once whole, the update is the book: its five pages, converted from the cover on.
    QVERIFY(WaitUntilProcessed(page, key));
    QCOMPARE(meta.ReadInt(key, kUpdatePendingKey), 0);
    QVERIFY(fs::exists(book / "thumb/img-5.jpg"));
    QVERIFY(!fs::exists(UpdateFolder(home.Cfg().m_books_folder, key)));
    QVERIFY(ReadFileBytes(engine_log).find("img cover") != std::string::npos);
    unsetenv("FAKE_LOG");
}

void BookCommandsTest::publishNeedsATargetAndSendsTheBookWithoutConverting()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(cfg, home.Table(), &home.Notices(), nullptr);
    QSignalSpy status(&page, &CAdvModeTab::StatusText);
    const fs::path pdf = home.Root() / "kept.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());
    const fs::path book = fs::path(cfg.m_books_folder) / key;

    // Nothing selected, then no target: the user is told where to set one.
    Click(page, CAdvModeTab::kPublishBook);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("select_process_item")});
    SelectProcessed(page, key);
    home.ClearPrompts();
    const std::string meta_before = ReadFileBytes(cfg.m_meta_ini.Path());
    Click(page, CAdvModeTab::kPublishBook);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("publish_no_target")});
    QCOMPARE(status.last().front().toString(), UiTestHome::MessageText("publish_no_target"));
    QCOMPARE(ReadFileBytes(cfg.m_meta_ini.Path()), meta_before);

    // An FTP server on loopback as the target, set as the publishing settings store it.
    FtpTestServer ftp(home.Root() / "ftp");
    QVERIFY(ftp.Running());
    fs::create_directories(ftp.Root() / "books");
    const std::string profile = "127.0.0.1/books";
    cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_user", "alice", cfg.m_cipher);
    cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_passwd", "secret", cfg.m_cipher);
    cfg.m_ftp_ini.WriteText(profile, "ftp_webaddr", "http://127.0.0.1/books/");
    cfg.m_ftp_ini.WriteInt(profile, "ftp_passive", 1);
    cfg.m_ftp_ini.WriteInt(profile, "ftp_port", ftp.Port());
    cfg.m_config_ini.WriteText("network", "ftp_url", profile);
    cfg.ReadFtpProfile();
    cfg.m_use_ftp = 1;

    // A book whose folder has gone is refused with the reason.
    const fs::path moved = home.Root() / "moved-book";
    fs::rename(book, moved);
    home.ClearPrompts();
    Click(page, CAdvModeTab::kPublishBook);
    QCOMPARE(home.PromptTexts(), QStringList{Refusal("publish_refused", "the book's folder is missing from the books folder")});
    QCOMPARE(page.ProcessedList().FindRowByKey(key), 0);
    fs::rename(moved, book);

    // The job goes on from the end of the conversion: no engine image run, and the book
    // arrives on the server.
    const fs::path engine_log = home.Root() / "engine.log";
    setenv("FAKE_LOG", engine_log.c_str(), 1);
    home.ClearPrompts();
    Click(page, CAdvModeTab::kPublishBook);
    QVERIFY2(home.Prompts().empty(), qPrintable(home.PromptTexts().join(" | ")));
    QVERIFY(page.QueueList().FindRowByKey(key) >= 0);
    QVERIFY(home.Table().Slot(home.Table().FindSlotByKey(key)).progress.load() >= kProgressPrintDone);
    QCOMPARE(cfg.m_meta_ini.ReadInt(key, "use_ftp"), 1);
    QVERIFY(WaitUntilProcessed(page, key));
    const PdfItem* item = page.ProcessedList().Item(page.ProcessedList().FindRowByKey(key));
    QCOMPARE(item->result_code, int32_t(JOB_RESULT_OK));
    QVERIFY(fs::exists(ftp.Root() / "books" / key / "index.html"));
    QVERIFY(fs::exists(ftp.Root() / "books" / key / "HighRes/img-3.jpg"));
    QVERIFY(!EngineLogHasImageRuns(engine_log));
    unsetenv("FAKE_LOG");
    QVERIFY2(home.Prompts().empty(), qPrintable(home.PromptTexts().join(" | ")));
}

// While a Publish... job is at the server, the job list says Uploading (in English and
// French), not Converting: here the FTP server takes the connection and answers nothing
// until the test lets it go.
void BookCommandsTest::publishShowsUploadingWhileItUploads()
{
    UiTestHome home;
    AppConfig& cfg = home.Cfg();
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(cfg, home.Table(), &home.Notices(), nullptr);
    const fs::path pdf = home.Root() / "kept.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string key = home.ConvertAndWait(page, pdf);
    QVERIFY(!key.empty());

    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    std::vector<QTcpSocket*> held;
    connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            held.push_back(socket);
    });
    const std::string profile = "127.0.0.1/books";
    cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_user", "alice", cfg.m_cipher);
    cfg.m_ftp_ini.WriteEnciphered(profile, "ftp_passwd", "secret", cfg.m_cipher);
    cfg.m_ftp_ini.WriteText(profile, "ftp_webaddr", "http://127.0.0.1/books/");
    cfg.m_ftp_ini.WriteInt(profile, "ftp_port", silent.serverPort());
    cfg.m_config_ini.WriteText("network", "ftp_url", profile);
    cfg.ReadFtpProfile();
    cfg.m_use_ftp = 1;
    cfg.m_http_upld_try_times = 1;
    cfg.m_config_ini.WriteInt("network", "http_upld_try_times", 1);

    SelectProcessed(page, key);
    Click(page, CAdvModeTab::kPublishBook);
    const auto state = [&] {
        page.RefreshQueue();
        const int row = page.QueueList().FindRowByKey(key);
        return row < 0 ? QString() : QString::fromStdString(page.QueueList().CellText(row, CPdfItemList::kColState));
    };
    const QString uploading = CDlgLocalize::Lookup("PROCESS_MSG", "process_5");
    QTRY_VERIFY_WITH_TIMEOUT(!held.empty(), 10000);  // the job is at the server
    QCOMPARE(state(), uploading);
    QVERIFY(uploading != CDlgLocalize::Lookup("PROCESS_MSG", "process_2"));
    IniFile french((SourceDir() / "data/DefaultCfg/lang_fr.ini").string());
    CDlgLocalize::SetLanguage(&french);
    page.Relocalise();
    QCOMPARE(state(), CDlgLocalize::Lookup("PROCESS_MSG", "process_5"));
    QVERIFY(state() != uploading);
    CDlgLocalize::SetLanguage(&cfg.m_lang_ini);
    page.Relocalise();

    // Stopped, and let go: the login fails and the job ends without waiting to try again.
    page.QueueView()->SelectRows({page.QueueList().FindRowByKey(key)});
    emit page.QueueView()->Activated();
    page.CommandButton(CAdvModeTab::kStop)->click();
    for (QTcpSocket* socket : held)
        socket->close();
    silent.close();
    const int slot = home.Table().FindSlotByKey(key);
    QVERIFY(slot >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(home.Table().Slot(slot).state.load(), int32_t(JOB_STATE_FREE), 30000);
}

QTEST_MAIN(BookCommandsTest)
#include "BookCommandsTest.moc"
