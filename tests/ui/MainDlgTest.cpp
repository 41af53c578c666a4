// The main window: caption and size rules, the single-instance rule, the quit that waits
// for the reference database update, a worker's report turned into an error box on the
// main thread, and the keyboard and accessibility of every control, in the main window
// and in the FTP servers dialog and server key question.
#include "config/InstanceLock.h"
#include "publish/NetworkSettings.h"
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CMainDlg.h"
#include "ui/CModeTabCtrl.h"
#include "ui/DlgNotifier.h"
#include "ui/CDlgLocalize.h"
#include "ui/CFtpDlg.h"
#include "ui/CServerKeyDlg.h"
#include "ui/PdfListView.h"
#include "ui/ReferenceUpdate.h"
#include "ui/StartupLock.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

int CountOf(const std::string& text, const std::string& what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The object names Tab reaches from `first`, in order, until it comes back round.
QStringList TabWalk(QWidget* first)
{
    first->setFocus(Qt::TabFocusReason);
    QStringList names;
    for (int step = 0; step < 40; ++step) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus || (step > 0 && focus == first))
            break;
        names << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return names;
}

// Every field of `window` that the keyboard reaches has a name for screen readers and a
// label bound to it (so that the label's text is read and its shortcut works).
void CheckNamedAndLabelled(QWidget* window)
{
    QSet<QWidget*> labelled;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy())
            labelled.insert(label->buddy());
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || widget->focusProxy() || !widget->isVisibleTo(window))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY2(accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty(),
                 qPrintable(widget->objectName()));
        if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) || qobject_cast<QSpinBox*>(widget))
            QVERIFY2(labelled.contains(widget), qPrintable(widget->objectName()));
    }
}

// The buttons of a dialog's button row from left to right.
QStringList ButtonRow(QWidget* window, const char* row_name)
{
    QList<QAbstractButton*> buttons =
        window->findChild<QWidget*>(QLatin1String(row_name))->findChildren<QAbstractButton*>();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) { return a->x() < b->x(); });
    QStringList names;
    for (QAbstractButton* button : buttons)
        names << button->objectName();
    return names;
}

}  // namespace

class MainDlgTest : public QObject {
    Q_OBJECT

private slots:
    void captionSizeAndStartPage();
    void secondInstanceIsRefused();
    void quitWaitsForTheReferenceUpdate();
    void exitQuitsWithCodeTwo();
    void workerReportBecomesAnErrorBoxOnTheMainThread();
    void everyControlIsNamedAndReachedByKeyboard();
    void notifierIsNamedAndReachedByKeyboard();
    void ftpDialogsAreNamedAndTabbedInReadingOrder();
    void arrowKeysWalkARowOfButtons();
    void borderDragResizesOnReleaseOnly();
    void statusLineFollowsTheJobLastStarted();
};

void MainDlgTest::captionSizeAndStartPage()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Vellumark 1.3"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.minimumSize(), window.size());
    QVERIFY(window.StatusLine()->text().isEmpty());
    QCOMPARE(window.ModeTabs()->currentIndex(), int(CModeTabCtrl::kWizardTab));
    // The tabs and the status line follow the window's size.
    window.resize(window.width() + 200, window.height() + 100);
    QCOMPARE(window.ModeTabs()->width(), window.width() - 8);
    QCOMPARE(window.StatusLine()->geometry().top(), window.ModeTabs()->geometry().bottom() + 5);
    QVERIFY(window.StatusLine()->geometry().bottom() < window.height());
}

void MainDlgTest::secondInstanceIsRefused()
{
    UiTestHome home;
    const std::string books = home.Cfg().m_books_folder;
    InstanceLock first;
    QVERIFY(TakeProgramLock(first, books));
    QVERIFY(home.Prompts().empty());
    InstanceLock second;
    QVERIFY(!TakeProgramLock(second, books));
    QCOMPARE(home.Prompts().size(), size_t(1));
    QCOMPARE(home.Prompts().front().text, QStringLiteral("The program already started."));
    QCOMPARE(home.Prompts().front().caption, QStringLiteral("Hint"));
    // The first copy keeps its lock: a third one is refused just the same.
    QVERIFY(first.Held());
    InstanceLock third;
    QVERIFY(!TakeProgramLock(third, books));
}

void MainDlgTest::quitWaitsForTheReferenceUpdate()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QSignalSpy quit(&window, &CMainDlg::Quit);
    StderrCapture log(home.Root() / "stderr.txt");
    SetReferenceUpdateRunning(true);
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QTest::qWait(2300);
    QCOMPARE(quit.count(), 0);
    SetReferenceUpdateRunning(false);
    QTRY_COMPARE_WITH_TIMEOUT(quit.count(), 1, 1500);
    QCOMPARE(quit.front().front().toInt(), CMainDlg::kExitClosed);
    QVERIFY(!window.isVisible());
    const std::string records = log.Stop();
    // One record per second of waiting, plus the tick that found the update done.
    QCOMPARE(CountOf(records, "INF:normal quit"), 3);
}

void MainDlgTest::exitQuitsWithCodeTwo()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QSignalSpy quit(&window, &CMainDlg::Quit);
    window.ModeTabs()->AdvancedPage()->CommandButton(CAdvModeTab::kExit)->click();
    QCOMPARE(quit.count(), 1);
    QCOMPARE(quit.front().front().toInt(), 2);
    QVERIFY(window.RequestQuit(CMainDlg::kExitCommand));  // already quitting: nothing more
    QCOMPARE(quit.count(), 1);
}

void MainDlgTest::workerReportBecomesAnErrorBoxOnTheMainThread()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    PdfJob failed;
    std::snprintf(failed.key, sizeof failed.key, "%s", "0123456789ABCDEF0123456789ABCDEF");
    failed.result_code = JOB_RESULT_UPLOAD_FAILED;
    PdfJob stopped;
    stopped.result_code = JOB_RESULT_OK;
    std::thread worker([&] {
        home.Notices().OnJobNote(&failed, "the server refused the file");
        home.Notices().OnJobIncomplete(&stopped);
        home.Notices().OnJobIncomplete(&failed);
    });
    worker.join();
    // Nothing is shown from the worker's thread; the main thread's loop shows it.
    QVERIFY(home.Prompts().empty());
    QTRY_COMPARE(home.Prompts().size(), size_t(1));
    const PromptRequest& box = home.Prompts().front();
    QCOMPARE(box.caption, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, QStringLiteral("Upload failed\nthe server refused the file"));
    QCOMPARE(window.StatusLine()->text(), QStringLiteral("the server refused the file"));
}

void MainDlgTest::everyControlIsNamedAndReachedByKeyboard()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab* page = window.ModeTabs()->AdvancedPage();

    QList<QWidget*> controls;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        if (!widget->isVisible() || !(widget->focusPolicy() & Qt::TabFocus) || widget->focusProxy())
            continue;
        if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<CPdfListView*>(widget))
            controls << widget;
    }
    // Ten commands, four edits, three "?" buttons, four buttons, two lists, and the two
    // commands on a processed book (which also explain themselves in a tooltip).
    QCOMPARE(controls.size(), 10 + 4 + 3 + 4 + 2 + 2);
    for (int command : {CAdvModeTab::kUpdateBook, CAdvModeTab::kPublishBook})
        QVERIFY(!page->BookCommandButton(command)->toolTip().isEmpty());
    for (QWidget* control : controls) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        QVERIFY(accessible);
        QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(control->objectName()));
    }

    // Tab walks through every control of the page and comes back round.
    controls.first()->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), controls.first());
    QSet<QWidget*> reached;
    for (int step = 0; step < 80 && reached.size() < controls.size(); ++step) {
        reached.insert(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    for (QWidget* control : controls)
        QVERIFY2(reached.contains(control), qPrintable(control->objectName()));

    // A toolbar command works from the keyboard alone.
    page->CommandButton(CAdvModeTab::kStop)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(page->CommandButton(CAdvModeTab::kStop), Qt::Key_Space);
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("select_process_item")});
}

void MainDlgTest::notifierIsNamedAndReachedByKeyboard()
{
    UiTestHome home;
    DlgNotifier notifier(nullptr);
    notifier.ShowPage(QUrl(QStringLiteral("http://127.0.0.1/news/")),
                      QStringLiteral("<p>News <a href=\"more.html\">more</a> <a href=\"file:///etc/passwd\">local</a></p>"
                                     "<img src=\"/etc/hostname\">"),
                      400, 300);
    QApplication::setActiveWindow(&notifier);
    QVERIFY(QTest::qWaitForWindowActive(&notifier));
    QCOMPARE(notifier.windowTitle(), CDlgLocalize::Lookup("MAINDLG", "notifier_title"));
    QWidget* ok = notifier.findChild<QAbstractButton*>(QStringLiteral("okButton"));
    for (QWidget* control : {static_cast<QWidget*>(notifier.Browser()), ok}) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        QVERIFY(accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty());
    }
    notifier.Browser()->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), notifier.Browser());
    // Tab walks the page's two links, then leaves the page for OK.
    for (int step = 0; step < 5 && QApplication::focusWidget() != ok; ++step)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ok);

    // A page's links open in the browser only when they lead to web pages; its pictures
    // are never fetched.
    QCOMPARE(notifier.Browser()->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("/etc/hostname"))),
             QVariant());
    emit notifier.Browser()->anchorClicked(QUrl(QStringLiteral("more.html")));
    emit notifier.Browser()->anchorClicked(QUrl(QStringLiteral("file:///etc/passwd")));
    QCOMPARE(home.Opened(), QStringList{QStringLiteral("http://127.0.0.1/news/more.html")});
    // OK closes it.
    QTest::keyClick(ok, Qt::Key_Space);
    QVERIFY(!notifier.isVisible());
}

void MainDlgTest::ftpDialogsAreNamedAndTabbedInReadingOrder()
{
    UiTestHome home;
    CFtpDlg dialog(home.Cfg(), nullptr);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QWidget* list = dialog.findChild<QWidget*>(QStringLiteral("profileList"));
    // Plain FTP: password and passive mode; the key file's fields are skipped.
    CheckNamedAndLabelled(&dialog);
    QCOMPARE(TabWalk(list), QStringList({"profileList", "hostEdit", "protocolCombo", "portSpin", "subdirEdit",
                                         "webaddrEdit", "userEdit", "passwordEdit", "passiveCheck", "testButton",
                                         "deleteButton", "addButton", "exitButton"}));
    // SFTP with a key file: the key file, its chooser and the passphrase, in that order.
    auto* protocol = dialog.findChild<QComboBox*>(QStringLiteral("protocolCombo"));
    protocol->setCurrentIndex(protocol->findData(int(FtpProtocol::Sftp)));
    dialog.findChild<QLineEdit*>(QStringLiteral("keyFileEdit"))->setText(QStringLiteral("/home/me/.ssh/id_ed25519"));
    CheckNamedAndLabelled(&dialog);
    QCOMPARE(TabWalk(list), QStringList({"profileList", "hostEdit", "protocolCombo", "portSpin", "subdirEdit",
                                         "webaddrEdit", "userEdit", "keyFileEdit", "browseKeyButton", "passphraseEdit",
                                         "testButton", "deleteButton", "addButton", "exitButton"}));

    // The key question: the fingerprints top to bottom, then the answers left to right;
    // the answer that starts with the focus is No.
    ServerIdentity identity;
    identity.check = IdentityCheck::Changed;
    identity.expected_from = "the profile";
    identity.expected = "SHA256:" + std::string(43, 'A');
    identity.offered = "SHA256:" + std::string(43, 'B');
    CServerKeyDlg question(identity, QStringLiteral("sftp.example.org:22"), nullptr);
    question.show();
    QApplication::setActiveWindow(&question);
    QVERIFY(QTest::qWaitForWindowActive(&question));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("refuseButton"));
    CheckNamedAndLabelled(&question);
    const QStringList answers = ButtonRow(&question, "answerButtons");
    QCOMPARE(answers.size(), 2);
    QCOMPARE(TabWalk(question.findChild<QWidget*>(QStringLiteral("expectedEdit"))),
             QStringList({"expectedEdit", "offeredEdit"}) + answers);
}

void MainDlgTest::arrowKeysWalkARowOfButtons()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab* page = window.ModeTabs()->AdvancedPage();
    QToolButton* restart = page->CommandButton(CAdvModeTab::kRestart);
    restart->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), restart);
    QTest::keyClick(restart, Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), page->CommandButton(CAdvModeTab::kStop));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), restart);
    // The row wraps round at either end.
    QTest::keyClick(restart, Qt::Key_Up);
    QCOMPARE(QApplication::focusWidget(), page->CommandButton(CAdvModeTab::kExit));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(QApplication::focusWidget(), restart);
    // In a text field the arrows move the cursor, as always.
    auto* path = page->findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"));
    path->setText(QStringLiteral("abc"));
    path->setFocus(Qt::TabFocusReason);
    path->setCursorPosition(3);
    QTest::keyClick(path, Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), path);
    QCOMPARE(path->cursorPosition(), 2);
    QVERIFY(home.Prompts().empty());
}

void MainDlgTest::borderDragResizesOnReleaseOnly()
{
    UiTestHome home;
    home.Cfg().m_lockwindow_when_dragging = 1;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize initial = window.size();
    const QPoint corner(window.width() - 2, window.height() - 2);
    QCOMPARE(window.Resizer().EdgesAt(corner), Qt::RightEdge | Qt::BottomEdge);
    QCOMPARE(window.Resizer().EdgesAt(QPoint(window.width() / 2, window.height() / 2)), Qt::Edges());

    QTest::mousePress(&window, Qt::LeftButton, {}, corner);
    QVERIFY(window.Resizer().Dragging());
    QTest::mouseMove(&window, corner + QPoint(120, 60));
    // Only the frame follows the mouse; the window keeps its size until the release.
    QCOMPARE(window.size(), initial);
    QVERIFY(window.Resizer().Frame()->isVisible());
    QCOMPARE(window.Resizer().Frame()->size(), initial + QSize(120, 60));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, corner + QPoint(120, 60));
    QTRY_COMPARE(window.size(), initial + QSize(120, 60));
    QVERIFY(!window.Resizer().Frame()->isVisible());
    QCOMPARE(window.ModeTabs()->width(), window.width() - 8);

    // Dragging the left edge past the minimum stops at the minimum; the right edge stays.
    const int right = window.geometry().right();
    const QPoint left_edge(1, window.height() / 2);
    QCOMPARE(window.Resizer().EdgesAt(left_edge), Qt::Edges(Qt::LeftEdge));
    QTest::mousePress(&window, Qt::LeftButton, {}, left_edge);
    QTest::mouseMove(&window, left_edge + QPoint(400, 0));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, left_edge + QPoint(400, 0));
    QTRY_COMPARE(window.width(), initial.width());
    QCOMPARE(window.geometry().right(), right);
}

// The status line is cleared when a job starts, on either tab, and then shows only that
// job's notes, not another job's.
void MainDlgTest::statusLineFollowsTheJobLastStarted()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    QLabel* status = window.StatusLine();
    emit home.Notices().JobNote(QStringLiteral("A"), QStringLiteral("the server's identity changed"));
    QCOMPARE(status->text(), QStringLiteral("the server's identity changed"));
    emit window.ModeTabs()->JobStarted(QStringLiteral("B"));
    QVERIFY(status->text().isEmpty());
    QVERIFY(status->accessibleDescription().isEmpty());
    emit home.Notices().JobNote(QStringLiteral("A"), QStringLiteral("published at http://example.org/A/"));
    QVERIFY(status->text().isEmpty());
    emit home.Notices().JobNote(QStringLiteral("B"), QStringLiteral("published at http://example.org/B/"));
    QCOMPARE(status->text(), QStringLiteral("published at http://example.org/B/"));
    emit window.ModeTabs()->AdvancedPage()->JobStarted(QStringLiteral("C"));
    QVERIFY(status->text().isEmpty());
}

QTEST_MAIN(MainDlgTest)
#include "MainDlgTest.moc"
