// The job list model: building from the job sections, refreshing from the slots, moving
// finished rows, sorting and the column texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <memory>
#include <string>

#include "config/IniFile.h"
#include "pipeline/JobTable.h"
#include "pipeline/PdfItemList.h"
#include "tests/helpers/TempHome.h"

namespace {

std::string Key(int n)
{
    char text[40];
    std::snprintf(text, sizeof text, "%032X", n);
    return text;
}

std::string Section(const std::string& name, const std::string& pdf, int progress, int day)
{
    return "[" + name + "]\r\npdf_url=" + pdf + "\r\nprogress=" + std::to_string(progress) +
           "\r\ntimestamp=2026,3,0," + std::to_string(day) + ",10,0,0,0,\r\n";
}

std::unique_ptr<PdfItem> Item(const std::string& key, const std::string& path, int progress, int state)
{
    auto item = std::make_unique<PdfItem>();
    item->key = key;
    item->pdf_path = path;
    item->progress = progress;
    item->state = state;
    return item;
}

const std::array<std::string, 5> kStates = {"Free", "Running", "Pending", "Stopping", "Uploading"};
const CPdfItemList::ResultTexts kResults = {"OK", "Login failed", "Upload failed", "Upload stopped",
                                             "Title modified", "Conversion failed"};

}  // namespace

TEST(PdfItemList, BuildSplitsFinishedFromUnfinishedAndSkipsMalformedKeys)
{
    TempHome home;
    std::string path = (home.Root() / "meta.ini").string();
    WriteFileBytes(path, Section(Key(1), "/b/old.pdf", 500, 1) + Section(Key(2), "/b/done.pdf", 100000, 2) +
                             Section(Key(3), "/b/new.pdf", 21000, 3) + Section("../../escape", "/b/x.pdf", 0, 4) +
                             Section(Key(4).substr(1) + "g", "/b/y.pdf", 0, 5));
    IniFile meta(path);

    CPdfItemList queue(false), processed(true);
    queue.SetTexts(kStates, kResults);
    EXPECT_EQ(queue.Build(meta), 2);
    EXPECT_EQ(processed.Build(meta), 1);

    // Newest first; progress 500 is on the older scale.
    ASSERT_EQ(queue.RowCount(), 2);
    EXPECT_EQ(queue.CellText(0, CPdfItemList::kColKey), Key(3));
    EXPECT_EQ(queue.CellText(1, CPdfItemList::kColProgress), "50.0%");
    EXPECT_EQ(queue.CellText(1, CPdfItemList::kColState), "Stopped");  // unfinished, not running
    EXPECT_EQ(queue.CellText(1, CPdfItemList::kColFile), "old.pdf");
    EXPECT_EQ(queue.CellText(1, CPdfItemList::kColPath), "/b/old.pdf");
    EXPECT_EQ(processed.CellText(0, CPdfItemList::kColProgress), "100.0%");
    EXPECT_EQ(queue.SortColumn(), CPdfItemList::kColTime);
    EXPECT_EQ(queue.SortDirection(), -1);
}

TEST(PdfItemList, OnlyTheFirst1024SectionsAreConsidered)
{
    TempHome home;
    std::string path = (home.Root() / "meta.ini").string();
    std::string text;
    for (int i = 0; i < 1030; ++i)
        text += Section(Key(i), "/b/f.pdf", 0, 1);
    WriteFileBytes(path, text);
    CPdfItemList queue(false);
    EXPECT_EQ(queue.Build(IniFile(path)), 1024);
    EXPECT_EQ(queue.FindRowByKey(Key(1023)) >= 0, true);
    EXPECT_EQ(queue.FindRowByKey(Key(1024)), -1);
}

TEST(PdfItemList, RefreshCopiesSlotsAndFinishedRowsMove)
{
    // Key 4 runs until it is asked to stop; the others finish once all three are launched,
    // so that a finished slot is not handed to the next launch before the refresh sees it.
    std::atomic<bool> launched{false};
    JobTable table([&launched](PdfJob& job) {
        while (!launched.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        while (job.key == Key(4) && job.state.load() != JOB_STATE_STOPPING)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (job.key != Key(4))
            job.progress = kProgressFinished;
        job.state = JOB_STATE_FREE;
        return 0;
    });
    CPdfItemList queue(false), processed(true);
    queue.SetTexts(kStates, kResults);
    // Two consecutive finished jobs, one job without a slot, and one still running.
    queue.AddRow(0, Item(Key(1), "/a/one.pdf", 0, 1), true);
    queue.AddRow(1, Item(Key(2), "/a/two.pdf", 0, 1), true);
    queue.AddRow(2, Item(Key(3), "/a/three.pdf", 42000, 1), true);
    queue.AddRow(3, Item(Key(4), "/a/four.pdf", 0, 1), true);
    EXPECT_EQ(queue.CellText(0, CPdfItemList::kColState), "Running");  // until the first refresh

    int running = table.LaunchJob(Key(4), {}, nullptr, 0);
    table.LaunchJob(Key(1), {}, nullptr, 0);
    table.LaunchJob(Key(2), {}, nullptr, 0);
    launched = true;
    for (int i = 0; i < 500 && (table.Slot(1).state != JOB_STATE_FREE || table.Slot(2).state != JOB_STATE_FREE); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    table.Slot(running).result_code = 3;

    queue.Refresh(table);
    EXPECT_EQ(queue.Item(0)->progress, kProgressFinished);
    EXPECT_EQ(queue.Item(2)->state, 0);  // no slot: state text for 0, progress kept
    EXPECT_EQ(queue.Item(2)->progress, 42000);
    EXPECT_EQ(queue.CellText(3, CPdfItemList::kColState), "Running");
    EXPECT_EQ(queue.CellText(3, CPdfItemList::kColResult), "Upload stopped");

    EXPECT_EQ(queue.MoveFinishedTo(processed), 2);
    ASSERT_EQ(queue.RowCount(), 2);
    EXPECT_EQ(queue.Item(0)->key, Key(3));
    EXPECT_EQ(processed.RowCount(), 2);
    EXPECT_GE(processed.FindRowByKey(Key(1)), 0);
    EXPECT_GE(processed.FindRowByKey(Key(2)), 0);
    table.RequestStop(running);
}

TEST(PdfItemList, AJobThatEndsEarlyReadsFailedOrStoppedNeverDone)
{
    // Key 1 runs and ends early on its own (no result code of its own); key 2 waits for
    // the one worker and is stopped before it starts.
    std::atomic<bool> release{false};
    JobTable table([&release](PdfJob& job) {
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        job.progress = 20000;
        job.state = JOB_STATE_FREE;
        return 102;
    });
    table.SetThreadLimit(1);
    CPdfItemList queue(false);
    queue.SetTexts(kStates, kResults);
    queue.AddRow(0, Item(Key(1), "/a/one.pdf", 0, 1), true);
    queue.AddRow(1, Item(Key(2), "/a/two.pdf", 0, 1), true);
    const int first = table.LaunchJob(Key(1), {}, nullptr, 0);
    const int second = table.LaunchJob(Key(2), {}, nullptr, 0);
    ASSERT_EQ(table.Slot(second).state.load(), JOB_STATE_PENDING);
    table.RequestStop(second);
    release = true;
    for (int i = 0; i < 500 && table.Slot(first).state.load() != JOB_STATE_FREE; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    queue.Refresh(table);
    const int one = queue.FindRowByKey(Key(1));
    const int two = queue.FindRowByKey(Key(2));
    EXPECT_EQ(queue.CellText(one, CPdfItemList::kColState), "Failed");
    EXPECT_EQ(queue.CellText(one, CPdfItemList::kColResult), "");  // never "OK"
    EXPECT_EQ(queue.CellText(two, CPdfItemList::kColState), "Stopped");
    // A failure with a code of its own names it.
    table.Slot(first).result_code = JOB_RESULT_CONVERSION_FAILED;
    queue.Refresh(table);
    EXPECT_EQ(queue.CellText(one, CPdfItemList::kColResult), "Conversion failed");
    table.JoinAll();
}

TEST(PdfItemList, HeaderClicksSortAscendingThenDescendingAndKeepTheSelection)
{
    CPdfItemList list(false);
    list.AddRow(0, Item(Key(1), "/z/b.pdf", 30000, 0), false);
    list.AddRow(1, Item(Key(2), "/a/c.pdf", 1000, 0), false);
    list.AddRow(2, Item(Key(3), "C:\\docs\\a.pdf", 99000, 0), false);
    list.Select(1, true);

    list.ClickHeader(CPdfItemList::kColProgress);
    EXPECT_EQ(list.SortDirection(), 1);
    EXPECT_EQ(list.Item(0)->key, Key(2));
    EXPECT_EQ(list.Item(2)->key, Key(3));
    list.ClickHeader(CPdfItemList::kColProgress);
    EXPECT_EQ(list.SortDirection(), -1);
    EXPECT_EQ(list.Item(0)->key, Key(3));

    // File names are taken after either separator.
    list.ClickHeader(CPdfItemList::kColFile);
    EXPECT_EQ(list.SortDirection(), 1);
    EXPECT_EQ(list.CellText(0, CPdfItemList::kColFile), "a.pdf");
    EXPECT_EQ(list.CellText(2, CPdfItemList::kColFile), "c.pdf");
    ASSERT_EQ(list.SelectedRows().size(), 1u);
    EXPECT_EQ(list.Item(list.SelectedRows()[0])->key, Key(2));
    EXPECT_EQ(list.SelectionMark(), list.SelectedRows()[0]);

    EXPECT_EQ(list.AddRow(0, nullptr, false), 0);
    EXPECT_FALSE(list.DeleteRow(7));
    EXPECT_TRUE(list.DeleteRow(0));
    EXPECT_EQ(list.RowCount(), 2);
}
