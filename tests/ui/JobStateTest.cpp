// How jobs that did not finish read in the advanced page's queue: a failed job says
// "Failed" with its reason and a stopped one "Stopped", never "Done", and neither keeps a
// progress bar that looks as if the job were still going on.
#include "tests/ui/UiTestKit.h"
#include "ui/CAdvModeTab.h"
#include "ui/CDlgLocalize.h"
#include "ui/PdfListView.h"

#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

QString Cell(CAdvModeTab& page, const std::string& key, int column)
{
    const int row = page.QueueList().FindRowByKey(key);
    return row < 0 ? QString() : QString::fromStdString(page.QueueList().CellText(row, column));
}

// Pixels of the row's progress cell, as the view draws them, close to the colour a
// progress bar fills with.
int BarPixels(CAdvModeTab& page, const std::string& key)
{
    CPdfListView* view = page.QueueView();
    const QModelIndex cell = view->model()->index(page.QueueList().FindRowByKey(key), CPdfItemList::kColProgress);
    const QImage image = view->viewport()->grab(view->visualRect(cell)).toImage();
    const QColor fill = view->palette().color(QPalette::Highlight);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::abs(c.red() - fill.red()) + std::abs(c.green() - fill.green()) +
                         std::abs(c.blue() - fill.blue()) < 90;
        }
    return count;
}

std::string Convert(CAdvModeTab& page, const fs::path& pdf)
{
    page.findChild<QLineEdit*>(QStringLiteral("pdfPathEdit"))->setText(QString::fromStdString(pdf.string()));
    page.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
    return page.QueueList().RowCount() ? page.QueueList().Item(page.QueueList().RowCount() - 1)->key : std::string();
}

bool Ended(UiTestHome& home, const std::string& key)
{
    const int slot = home.Table().FindSlotByKey(key);
    return slot >= 0 && home.Table().Slot(slot).state.load() == JOB_STATE_FREE;
}

}  // namespace

class JobStateTest : public QObject {
    Q_OBJECT

private slots:
    void failedAndStoppedJobsReadAsSuch();
};

void JobStateTest::failedAndStoppedJobsReadAsSuch()
{
    UiTestHome home;
    home.UseFakeEngine(100, "0.02");
    CAdvModeTab page(home.Cfg(), home.Table(), &home.Notices(), nullptr);
    page.resize(1200, 600);
    page.show();
    const fs::path pdf = home.Root() / "book.pdf";
    WriteFileBytes(pdf, "%PDF-1.4");
    const QString done = CDlgLocalize::Lookup("PROCESS_MSG", "process_1");

    // A running job has its bar (which also shows that the pixel check sees one).
    const std::string stopped = Convert(page, pdf);
    QTRY_VERIFY_WITH_TIMEOUT(home.Table().FindSlotByKey(stopped) >= 0 &&
                                 home.Table().Slot(home.Table().FindSlotByKey(stopped)).progress.load() >
                                     kProgressThumbsDone,
                             20000);
    page.RefreshQueue();
    QTRY_VERIFY(BarPixels(page, stopped) > 20);

    page.QueueView()->SelectRows({page.QueueList().FindRowByKey(stopped)});
    emit page.QueueView()->Activated();
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_VERIFY(Ended(home, stopped));
    page.RefreshQueue();
    page.QueueView()->clearSelection();
    QCOMPARE(Cell(page, stopped, CPdfItemList::kColState), CDlgLocalize::Lookup("PROCESS_MSG", "state_stopped"));
    QCOMPARE(Cell(page, stopped, CPdfItemList::kColResult), QString());  // not "OK"
    QCOMPARE(BarPixels(page, stopped), 0);

    // The engine fails in the page-image step: the row says so, with the reason.
    home.UseFakeEngine(4, "0");
    setenv("FAKE_FAIL", "HighRes", 1);
    const std::string failed = Convert(page, pdf);
    QTRY_VERIFY_WITH_TIMEOUT(Ended(home, failed), 30000);
    unsetenv("FAKE_FAIL");
    page.RefreshQueue();
    QCOMPARE(page.QueueList().FindRowByKey(failed) >= 0, true);  // stays in the queue
    QCOMPARE(Cell(page, failed, CPdfItemList::kColState), CDlgLocalize::Lookup("PROCESS_MSG", "state_failed"));
    QVERIFY(Cell(page, failed, CPdfItemList::kColState) != done);
    QCOMPARE(Cell(page, failed, CPdfItemList::kColResult), CDlgLocalize::Lookup("PROCESS_MSG", "error_6"));
    QCOMPARE(BarPixels(page, failed), 0);

    // Restarted, the failed row reads as running again.
    page.QueueView()->SelectRows({page.QueueList().FindRowByKey(failed)});
    emit page.QueueView()->Activated();
    home.UseFakeEngine(400, "0.02");
    page.CommandButton(CAdvModeTab::kRestart)->click();
    page.RefreshQueue();
    QCOMPARE(Cell(page, failed, CPdfItemList::kColState), CDlgLocalize::Lookup("PROCESS_MSG", "process_2"));
    page.CommandButton(CAdvModeTab::kStop)->click();
    QTRY_VERIFY(Ended(home, failed));
}

QTEST_MAIN(JobStateTest)
#include "JobStateTest.moc"
