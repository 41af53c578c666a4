// The desktop program as assistive tools see and drive it, through Qt's accessibility
// interface on the real widgets: the status line's message, the focus after Next and
// Back, commands acting on a selection made without focus or click, the job lists taking
// the keyboard focus from an assistive tool, toolbar commands
// that return while their message box is open, roles and names, and a restart that
// waits for a slow stop without freezing the window.
#include "tests/ui/UiTestKit.h"
#include "tests/ui/WizardDriver.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/CMainDlg.h"
#include "ui/CNetworkDlg.h"
#include "ui/PdfListView.h"
#include "ui/wizard/WizardPageKit.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;

namespace {

QAccessibleInterface* Accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

// Presses a button the way an assistive tool does: its accessible press action.
void Press(QWidget* button)
{
    Accessible(button)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// True when the window's focused accessible object lies inside `page` and says it is
// focused.
bool FocusInside(CMainDlg& window, QWidget* page)
{
    QAccessibleInterface* focus = Accessible(&window)->focusChild();
    if (!focus || !focus->state().focused)
        return false;
    auto* widget = qobject_cast<QWidget*>(focus->object());
    return widget && (widget == page || page->isAncestorOf(widget));
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void statusLineMessageIsReadable();
    void focusGoesIntoEachNewPage();
    void commandsActOnAnAccessibleSelection();
    void listsTakeTheFocusFromAnAssistiveTool();
    void toolbarCommandReturnsWhileItsBoxIsOpen();
    void rolesNamesAndTooltips();
    void restartWaitsForASlowStopWithoutFreezing();
};

void AccessibilityTest::statusLineMessageIsReadable()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QAccessibleInterface* status = Accessible(window.StatusLine());
    // Both ways a message reaches the status line: a command's line and a job's note.
    const QString message = QStringLiteral("The book is being published.");
    emit window.ModeTabs()->AdvancedPage()->StatusText(message);
    QCOMPARE(status->text(QAccessible::Name), QStringLiteral("Status"));
    QCOMPARE(status->text(QAccessible::Description), message);
    const QString note = QStringLiteral("Upload failed: the server refused the file");
    emit home.Notices().JobNote(QStringLiteral("k"), note);
    QCOMPARE(status->text(QAccessible::Description), note);
    QCOMPARE(window.StatusLine()->text(), note);
}

void AccessibilityTest::focusGoesIntoEachNewPage()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The service's pages are offered only with a service and a page about it; nothing
    // listens at this address.
    home.Cfg().m_vazirudu_domain = "127.0.0.1:9";
    home.Cfg().m_config_ini.WriteText("general", "advert_url", "http://127.0.0.1:9/about/");
    WizardDriver wizard(window);
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    wizard.Drop({pdf});

    // A keyboard user tabs to a button and presses Space; the button's page then goes.
    auto go = [&](const char* button, int expected) {
        QPushButton* pushed = wizard.Button(button);
        if (!pushed)
            return false;
        pushed->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pushed, Qt::Key_Space);
        return wizard.WaitForStep(expected, 5000) && FocusInside(window, wizard.Page());
    };
    QVERIFY(go("nextButton", kStepImageQuality));
    QVERIFY(go("nextButton", kStepMetadata));
    QVERIFY(go("nextButton", kStepPublishMethod));
    QVERIFY(go("serviceButton", kStepWebService));
    QVERIFY(go("backButton", kStepPublishMethod));
    QVERIFY(go("ftpButton", kStepFtp));
    QVERIFY(go("backButton", kStepPublishMethod));
    QVERIFY(go("aboutServiceButton", kStepAdvert));
    QVERIFY(go("backButton", kStepPublishMethod));
    QVERIFY(go("localButton", kStepLocalFolder));
    wizard.Edit("folderEdit")->setText(QString::fromStdString((home.Root() / "out").string()));
    home.AnswerNext(QMessageBox::Yes);
    QVERIFY(go("nextButton", kStepConvert));
    QVERIFY(go("backButton", kStepLocalFolder));
    QVERIFY(go("nextButton", kStepConvert));
    // The finished job brings the last page by itself; the focus goes with it.
    wizard.Button("convertButton")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(wizard.Button("convertButton"), Qt::Key_Space);
    QVERIFY(wizard.WaitForStep(kStepSuccess, 20000));
    QVERIFY(FocusInside(window, wizard.Page()));
    // Back from the last page starts a new book; then Back through the first pages.
    QVERIFY(go("backButton", kStepChoosePdf));
    QVERIFY(go("nextButton", kStepImageQuality));
    QVERIFY(go("nextButton", kStepMetadata));
    QVERIFY(go("backButton", kStepImageQuality));
    QVERIFY(go("backButton", kStepChoosePdf));
}

void AccessibilityTest::commandsActOnAnAccessibleSelection()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    page.show();
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const std::string book = home.ConvertAndWait(page, pdf);
    QVERIFY(!book.empty());
    home.UseFakeEngine(400, "0.05");
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    QCOMPARE(page.QueueList().RowCount(), 1);
    const std::string running = page.QueueList().Item(0)->key;
    auto slot_state = [&] { return home.Table().Slot(home.Table().FindSlotByKey(running)).state.load(); };
    QTRY_COMPARE(slot_state(), int32_t(JOB_STATE_RUNNING));
    // The user was last in the queue list (a click there), with nothing selected.
    emit page.QueueView()->Activated();

    // A processed book selected through the table interface, no focus, no click (once the
    // view has laid out its rows, as a screen reader finds them).
    QTRY_COMPARE(Accessible(page.ProcessedView())->tableInterface()->rowCount(), 1);
    QVERIFY(Accessible(page.ProcessedView())->tableInterface()->selectRow(0));
    QVERIFY(!page.ProcessedView()->hasFocus());
    page.CommandButton(CAdvModeTab::kDirectory)->click();
    const QString folder = QUrl::fromLocalFile(QString::fromStdString(
                                                   (fs::path(home.Cfg().m_books_folder) / book).string()))
                               .toString();
    QCOMPARE(home.Opened(), QStringList{folder});
    QTimer::singleShot(200, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("titleEdit"))->text(), QStringLiteral("Fake title"));
        dialog->close();
    });
    page.CommandButton(CAdvModeTab::kProperties)->click();
    const fs::path exported = home.Root() / "exported";
    home.ChooseFolder(QString::fromStdString(exported.string()));
    home.AnswerNext(QMessageBox::No);  // do not open the exported book
    page.CommandButton(CAdvModeTab::kExport)->click();
    QVERIFY(fs::exists(exported / "index.html"));
    QVERIFY(home.PromptTexts().size() == 1 && home.PromptTexts().front().contains(exported.c_str()));

    // The queue's running job, selected through its row's own action: Stop and Resume.
    QTRY_COMPARE(Accessible(page.QueueView())->tableInterface()->rowCount(), 1);
    QAccessibleInterface* cell = Accessible(page.QueueView())->tableInterface()->cellAt(0, 0);
    QVERIFY(cell && cell->actionInterface());
    cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(!page.QueueView()->hasFocus());
    // Both lists now have a selection: the one selected last is meant.
    QVERIFY(!page.ProcessedListActive());
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_COMPARE(slot_state(), int32_t(JOB_STATE_FREE));
    page.RefreshQueue();
    page.CommandButton(CAdvModeTab::kResume)->click();
    QTRY_COMPARE(slot_state(), int32_t(JOB_STATE_RUNNING));
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_COMPARE(slot_state(), int32_t(JOB_STATE_FREE));

    // With the queue's row unselected through its action again, Delete takes the
    // processed book.
    cell = Accessible(page.QueueView())->tableInterface()->cellAt(0, 0);
    cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCOMPARE(page.QueueList().SelectionMark(), -1);
    home.ClearPrompts();
    home.AnswerNext(QMessageBox::Yes);
    page.CommandButton(CAdvModeTab::kDelete)->click();
    QCOMPARE(home.PromptTexts(), QStringList{UiTestHome::MessageText("delete_confirm")});
    QVERIFY(!fs::exists(fs::path(home.Cfg().m_books_folder) / book));
    QCOMPARE(page.ProcessedList().RowCount(), 0);
    QCOMPARE(page.QueueList().RowCount(), 1);
}

void AccessibilityTest::listsTakeTheFocusFromAnAssistiveTool()
{
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    page.show();
    QApplication::setActiveWindow(&page);
    QVERIFY(QTest::qWaitForWindowActive(&page));
    // A processed book, and a job that keeps running in the queue.
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    QVERIFY(!home.ConvertAndWait(page, pdf).empty());
    home.UseFakeEngine(400, "0.05");
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    const std::string running = page.QueueList().Item(0)->key;
    auto slot_state = [&] { return home.Table().Slot(home.Table().FindSlotByKey(running)).state.load(); };
    QTRY_COMPARE(slot_state(), int32_t(JOB_STATE_RUNNING));
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setFocus();

    // Each list, through its accessible interface only: the focus action moves the
    // keyboard focus into it, and Qt's table, rows and cells are still there to select
    // the row the commands then act on.
    auto focus_and_select = [&](CPdfListView* view, CPdfListView* other, bool processed) {
        QAccessibleInterface* list = Accessible(view);
        QCOMPARE(list->role(), QAccessible::Tree);
        QVERIFY(list->state().focusable);
        QVERIFY(!list->state().focused);
        QVERIFY(list->actionInterface());
        QVERIFY(list->actionInterface()->actionNames().contains(QAccessibleActionInterface::setFocusAction()));
        list->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
        QCOMPARE(QApplication::focusWidget(), view);
        QVERIFY(list->state().focused);
        QVERIFY(!Accessible(other)->state().focused);

        QTRY_COMPARE(list->tableInterface()->rowCount(), 1);
        QVERIFY(list->tableInterface()->selectRow(0));
        QVERIFY(view->List().IsSelected(0));
        QCOMPARE(page.ProcessedListActive(), processed);
        QAccessibleInterface* cell = list->tableInterface()->cellAt(0, 0);
        QVERIFY(cell && cell->tableCellInterface() && cell->tableCellInterface()->isSelected());
        QCOMPARE(cell->parent(), list);
        QCOMPARE(cell->tableCellInterface()->table(), list);
        QVERIFY(list->indexOfChild(cell) >= 0);
    };
    focus_and_select(page.QueueView(), page.ProcessedView(), false);
    if (QTest::currentTestFailed())
        return;
    focus_and_select(page.ProcessedView(), page.QueueView(), true);
    if (QTest::currentTestFailed())
        return;

    // Back in the queue, its job, selected above, is the one Stop stops.
    Accessible(page.QueueView())->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    QVERIFY(!page.ProcessedListActive());
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_COMPARE(slot_state(), int32_t(JOB_STATE_FREE));
}

void AccessibilityTest::toolbarCommandReturnsWhileItsBoxIsOpen()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab* page = window.ModeTabs()->AdvancedPage();
    // The real message boxes, not the test's answers.
    prompt_hooks::SetPrompt({});
    // Should the press wait for the box, this closes the box and the test fails.
    bool closed_by_guard = false;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            closed_by_guard = true;
            modal->close();
        }
    });
    for (int command : {CAdvModeTab::kDirectory, CAdvModeTab::kProperties, CAdvModeTab::kStop}) {
        guard.start(3000);
        Press(page->CommandButton(command));
        guard.stop();
        QVERIFY(!closed_by_guard);
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) && box->isVisible());
        QVERIFY(QApplication::topLevelWidgets().contains(box));
        QCOMPARE(box->text(), UiTestHome::MessageText("select_process_item"));
        QCOMPARE(Accessible(box)->role(), QAccessible::AlertMessage);
        box->close();
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
}

void AccessibilityTest::rolesNamesAndTooltips()
{
    UiTestHome home;
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    QCOMPARE(Accessible(&window)->role(), QAccessible::Window);
    QWidget* area = Find<QWidget>(&window, "dropArea");
    QCOMPARE(Accessible(area)->role(), QAccessible::Grouping);
    QCOMPARE(Accessible(area)->text(QAccessible::Name), CDlgLocalize::Lookup("WIZARD1", "drop_area"));
    QVERIFY(!Accessible(area)->text(QAccessible::Name).isEmpty());

    // Every "?" button is named for its field, on the advanced page, the wizard's
    // metadata page and in the publishing settings.
    WizardDriver wizard(window);
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    home.UseFakeEngine(3, "0");
    QVERIFY(wizard.ToPublishMethod(pdf));
    CNetworkDlg settings(home.Cfg(), nullptr);
    const std::pair<const char*, const char*> expected[] = {
        {"titleHelpButton", "help_on_title"},       {"keywordsHelpButton", "help_on_keywords"},
        {"descriptionHelpButton", "help_on_description"}, {"ftpHelpButton", "help_on_ftp"},
        {"serviceHelpButton", "help_on_service"},
    };
    int named = 0;
    for (QWidget* root : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&settings)}) {
        for (QToolButton* help : root->findChildren<QToolButton*>()) {
            if (help->text() != QStringLiteral("?"))
                continue;
            const auto* match = std::find_if(std::begin(expected), std::end(expected), [&](const auto& entry) {
                return help->objectName() == QLatin1String(entry.first);
            });
            QVERIFY2(match != std::end(expected), qPrintable(help->objectName()));
            QCOMPARE(Accessible(help)->text(QAccessible::Name), CDlgLocalize::Lookup("COMMON", match->second));
            ++named;
        }
    }
    QCOMPARE(named, 8);  // three on each metadata form, two in the settings
    QCOMPARE(CDlgLocalize::Lookup("COMMON", "help_on_title"), QStringLiteral("Help on title"));

    // The ten toolbar buttons explain themselves on hover.
    CAdvModeTab* page = window.ModeTabs()->AdvancedPage();
    for (int command = CAdvModeTab::kRestart; command <= CAdvModeTab::kExit; ++command) {
        QToolButton* button = page->CommandButton(command);
        QVERIFY(!button->toolTip().isEmpty());
        QVERIFY(!button->toolTip().contains(QStringLiteral("<#[")));
        QVERIFY(button->toolTip() != button->text());
    }
}

void AccessibilityTest::restartWaitsForASlowStopWithoutFreezing()
{
    // A job that needs 8 s to let go of its slot once asked to stop (an upload ending
    // its transfer), and counts its launches.
    std::atomic<int> launches{0};
    std::atomic<int32_t> last_start{-1};
    std::atomic<bool> quick{false};
    UiTestHome home;
    home.UseFakeEngine(3, "0");
    home.Table().SetWorker([&](PdfJob& job) {
        last_start.store(job.progress.load());
        const int launch = ++launches;
        job.progress.store(job.progress.load() + 4000);
        while (job.state.load() != JOB_STATE_STOPPING && !quick.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (int waited = 0; launch == 1 && waited < 8000 && !quick.load(); waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        job.stopped.store(1);
        job.state.store(JOB_STATE_FREE);
        return 0;
    });
    CMainDlg window(home.Cfg(), home.Table(), home.Notices());
    window.show();
    window.ModeTabs()->setCurrentIndex(CModeTabCtrl::kAdvancedTab);
    CAdvModeTab* page = window.ModeTabs()->AdvancedPage();
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    page->findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page->findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    QTRY_COMPARE(launches.load(), 1);
    const std::string key = page->QueueList().Item(0)->key;
    page->QueueView()->SelectRows({0});

    // The window thread runs its own event loop while the restart waits, as in the
    // program, and a 10 ms probe timer measures its longest stall: the longest time
    // between two ticks, less the time the thread only waited for a processor (a busy
    // machine's delay, which is not the program's). One second in, the job still stops:
    // its row and the status line say so.
    QElapsedTimer clock;
    qint64 last_tick = 0;
    qint64 last_queued = QueuedMs();
    qint64 longest = 0;
    QString state_while_stopping;
    QString status_while_stopping;
    int ticks = 0;
    QEventLoop loop;
    QTimer probe;
    probe.setInterval(10);
    connect(&probe, &QTimer::timeout, [&] {
        ++ticks;
        const qint64 now = clock.elapsed();
        const qint64 queued = QueuedMs();
        longest = std::max(longest, (now - last_tick) - (queued - last_queued));
        last_tick = now;
        last_queued = queued;
        if (now >= 1000 && state_while_stopping.isEmpty()) {
            page->RefreshQueue();
            state_while_stopping = QString::fromStdString(
                page->QueueList().CellText(page->QueueList().FindRowByKey(key), CPdfItemList::kColState));
            status_while_stopping = window.StatusLine()->text();
        }
        if (launches.load() == 2 || now > 15000)
            loop.quit();
    });
    clock.start();
    probe.start();
    // Pressed from the event loop, so that a press that waited would be seen as a stall.
    QTimer::singleShot(0, [&] { Press(page->CommandButton(CAdvModeTab::kRestart)); });
    loop.exec();
    probe.stop();
    QVERIFY(ticks > 100);  // the window thread went on handling its timers meanwhile
    QCOMPARE(state_while_stopping, CDlgLocalize::Lookup("PROCESS_MSG", "process_4"));
    QCOMPARE(status_while_stopping, CDlgLocalize::Lookup("ADVANCED", "status_restart_waiting"));
    // Once it has stopped it started again from the beginning, by itself.
    QCOMPARE(launches.load(), 2);
    QVERIFY(clock.elapsed() >= 8000);
    QCOMPARE(last_start.load(), 0);
    QVERIFY2(longest < 50, qPrintable(QStringLiteral("longest stall %1 ms").arg(longest)));
    quick.store(true);
}

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
