// The main window's start-up work against the real vellumark-service on 127.0.0.1: a
// newer build is offered through a question, the reference database is brought up to
// the service's rows, the notifier's page appears in the pop-up; an unreachable service
// is logged and shows nothing. Also the notifier page's "key=value" rules.
#include "publish/ReferenceUpdate.h"
#include "tests/service/ServiceFixture.h"
#include "tests/ui/UiTestKit.h"
#include "ui/BackgroundChecks.h"
#include "ui/CDlgLocalize.h"
#include "ui/CMainDlg.h"
#include "ui/DlgNotifier.h"

#include <QTest>

#include <csignal>
#include <sqlite3.h>

namespace fs = std::filesystem;

namespace {

long long CountRows(const fs::path& db_file, const char* table)
{
    sqlite3* db = nullptr;
    long long count = -1;
    if (sqlite3_open_v2(db_file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* row = nullptr;
        const std::string sql = std::string("select count(*) from ") + table;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &row, nullptr) == SQLITE_OK && sqlite3_step(row) == SQLITE_ROW)
            count = sqlite3_column_int64(row, 0);
        sqlite3_finalize(row);
    }
    sqlite3_close(db);
    return count;
}

bool Exec(const fs::path& db_file, const char* sql)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(db_file.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

}  // namespace

class StartupChecksTest : public QObject {
    Q_OBJECT

private slots:
    void notifierTextRules();
    void newerBuildReferenceUpdateAndNotice();
    void unreachableServiceIsLoggedAndShowsNothing();
};

void StartupChecksTest::notifierTextRules()
{
    NotifierNotice notice;
    // Carriage returns end lines too; a value ends at the next equals sign; a later
    // line replaces an earlier value; size defaults when missing.
    QVERIFY(ParseNotifierText("show=0\r\nurl=http://a/x?k=v\rshow=1\nwidth=800", notice));
    QCOMPARE(notice.url, std::string("http://a/x?k"));
    QCOMPARE(notice.width, 800);
    QCOMPARE(notice.height, 480);
    // "show" must be exactly 1, and a url is needed.
    QVERIFY(!ParseNotifierText("show=1 \nurl=http://a/", notice));
    QVERIFY(!ParseNotifierText("show=1\n", notice));
    QVERIFY(!ParseNotifierText("", notice));
    // A size no screen can hold, or none at all, falls back to the default.
    QVERIFY(ParseNotifierText("url=http://a/\nshow=1\nwidth=-5\nheight=99999", notice));
    QCOMPARE(notice.width, 640);
    QCOMPARE(notice.height, 480);
    QCOMPARE(NotifierAddress("127.0.0.1:8080"),
             std::string("http://127.0.0.1:8080/vellumark/corvanenotifier.aspx?ver=1.3bld=201302010343"));
    QVERIFY(NotifierAddress("").empty());
}

void StartupChecksTest::newerBuildReferenceUpdateAndNotice()
{
    UiTestHome home;
    const fs::path notice = home.Root() / "notice.txt";
    const fs::path db_file = fs::path(home.Cfg().m_db_path);
    QVERIFY(fs::exists(db_file));
    const long long subcategories = CountRows(db_file, "subcategory");
    QVERIFY(subcategories > 0);
    // An older database: rows the service still has are missing here.
    QVERIFY(Exec(db_file, "DELETE FROM subcategory WHERE categoryID = 3"));
    QVERIFY(CountRows(db_file, "subcategory") < subcategories);

    ServiceProcess service(home.Root() / "svc", {"--latest-build", "201402020000", "--notice", notice.string()});
    QVERIFY(service.Running());
    WriteFileBytes(notice, "show=1\r\nurl=" + service.BaseUrl() + "/createPubAccount.asp\r\nwidth=520\r\nheight=360\r\n");
    home.Cfg().m_vazirudu_domain = "127.0.0.1:" + std::to_string(service.Port());
    home.Cfg().m_config_ini.WriteText("general", "upgrade_url", "http://127.0.0.1/download/");
    home.AnswerNext(QMessageBox::Yes);

    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(home.Prompts().size(), size_t(1), 15000);
    const PromptRequest& question = home.Prompts().front();
    QCOMPARE(question.caption, QStringLiteral("Vellumark"));
    QVERIFY(question.text.startsWith(QStringLiteral("A new version of this program is available.\n")));
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(home.Opened(), QStringList{QStringLiteral("http://127.0.0.1/download/")});

    QTRY_VERIFY_WITH_TIMEOUT(window.Notifier() && window.Notifier()->isVisible(), 15000);
    QVERIFY(window.Notifier()->Browser()->toPlainText().contains(QStringLiteral("Create a publishing account")));
    QCOMPARE(window.Notifier()->size(), QSize(520, 360));
    QCOMPARE(window.Notifier()->windowTitle(), CDlgLocalize::Lookup("MAINDLG", "notifier_title"));

    QTRY_COMPARE_WITH_TIMEOUT(CountRows(db_file, "subcategory"), subcategories, 15000);
    QTRY_VERIFY(!g_reference_db_updating.load());
}

void StartupChecksTest::unreachableServiceIsLoggedAndShowsNothing()
{
    UiTestHome home;
    int closed_port = 0;
    {
        ServiceProcess gone(home.Root() / "gone");
        QVERIFY(gone.Running());
        closed_port = gone.Port();
        gone.Stop(SIGTERM);
    }
    home.Cfg().m_vazirudu_domain = "127.0.0.1:" + std::to_string(closed_port);
    StderrCapture log(home.Root() / "stderr.txt");
    {
        CMainDlg window(home.Cfg(), home.Table(), home.Notices());
        window.show();
        QTest::qWait(CMainDlg::kStartupDelayMs + 1500);
        QVERIFY(home.Prompts().empty());
        QVERIFY(!window.Notifier());
    }  // the checks' threads have ended here
    const std::string records = log.Stop();
    QVERIFY(records.find("INF:callback_update_db called") != std::string::npos);
    // Once by the reference update, once by the version check.
    int failed = 0;
    for (size_t at = records.find("ERR:http_connect failed"); at != std::string::npos;
         at = records.find("ERR:http_connect failed", at + 1))
        ++failed;
    QCOMPARE(failed, 2);
    QVERIFY(home.Prompts().empty());
}

QTEST_MAIN(StartupChecksTest)
#include "StartupChecksTest.moc"
