// The conversion worker against a stand-in engine: which steps run and in what order,
// the resolutions they use, resume points, set-backs, early ends and the unfinished-job
// callback. The end-to-end tests run the real engine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "config/AppConfig.h"
#include "config/DiagLog.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"
#include "pipeline/PdfItemList.h"
#include "pipeline/ProcessPdfThread.h"
#include "pipeline/SubmitJob.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

class RecordingObserver : public JobObserver {
public:
    void OnJobIncomplete(PdfJob* slot) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slots_.push_back(slot);
    }
    void OnJobFinished(PdfJob* slot, int exit_code) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_.emplace_back(slot->key, exit_code);
    }
    void OnJobNote(PdfJob*, const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notes_.push_back(text);
    }
    std::vector<PdfJob*> Slots()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return slots_;
    }
    std::vector<std::pair<std::string, int>> Finished()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }
    std::vector<std::string> Notes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return notes_;
    }

private:
    std::mutex mutex_;
    std::vector<PdfJob*> slots_;
    std::vector<std::pair<std::string, int>> finished_;
    std::vector<std::string> notes_;
};

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log_ = (home_.Root() / "engine.log").string();
        setenv("FAKE_LOG", log_.c_str(), 1);
        unsetenv("FAKE_SHORT");
        unsetenv("FAKE_DELAY");
        unsetenv("FAKE_PAGES");
        cfg_ = std::make_unique<AppConfig>();
        cfg_->Load();
        cfg_->m_engine_path = (SourceDir() / "tests/pipeline/fake_rastrix.sh").string();
        cfg_->m_dpi = 120;
        pdf_ = (home_.Root() / "book.pdf").string();
        WriteFileBytes(pdf_, "%PDF-1.4 stand-in");
        table_.SetWorker([this](PdfJob& job) { return ProcessPdfThread(job, *cfg_); });
    }
    void TearDown() override
    {
        for (int i = 0; i < JobTable::kSlotCount; ++i)
            table_.RequestStop(i);
        table_.JoinAll();
    }

    // Registers a job for the stand-in PDF through the normal submission.
    int Submit(int32_t width = 1020, int32_t height = 1320, JobTargets targets = {})
    {
        SubmitRequest request;
        request.pdf_path = pdf_;
        request.title = "Title";
        request.pagenum = 4;
        request.pagewidth = width;
        request.pageheight = height;
        int slot = SubmitJob(*cfg_, table_, request, targets, false, nullptr, &key_, &observer_);
        EXPECT_GE(slot, 0);
        return slot;
    }
    void WaitIdle()
    {
        for (int i = 0; i < 1000 && table_.AnyActive(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        table_.JoinAll();
    }
    std::vector<std::string> EngineRuns()
    {
        std::istringstream in(ReadFileBytes(log_));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    int32_t StoredProgress() { return ReadJobProgress(IniFile(cfg_->m_meta_ini.Path()), key_); }
    fs::path Book() { return fs::path(cfg_->m_books_folder) / key_; }

    TempHome home_;
    std::unique_ptr<AppConfig> cfg_;
    JobTable table_;
    RecordingObserver observer_;
    std::string log_, pdf_, key_;
};

}  // namespace

TEST(BoxResolution, PortraitFitsTheHeightEverythingElseTheWidth)
{
    EXPECT_EQ(BoxResolution(680, 750, 120, 1020, 1320), 750 * 120 / 1320);
    EXPECT_EQ(BoxResolution(680, 750, 120, 1320, 1020), 680 * 120 / 1320);
    EXPECT_EQ(BoxResolution(680, 750, 120, 1000, 1000), 680 * 120 / 1000);  // square: width
}

TEST_F(WorkerTest, AFullRunTakesEveryStepInOrderAtItsResolution)
{
    // The page step hands the measured image sizes and the book's values to the page.
    WriteFileBytes(cfg_->m_template_target,
                   "<%@ server line %>\n<!DOCTYPE html><%=PAGECOUNT%>|<%=LowResWidth%>x<%=LowResHeight%>|"
                   "<%=HighResWidth%>x<%=HighResHeight%>|<%=PAGEWIDTH%>|<%=guid%>|<%=strTitle%>");
    int slot = Submit();
    WaitIdle();
    EXPECT_EQ(table_.Slot(slot).progress.load(), kProgressFinished);
    EXPECT_EQ(StoredProgress(), kProgressFinished);
    EXPECT_TRUE(observer_.Slots().empty());  // a finished job posts no early end
    EXPECT_EQ(observer_.Finished(), (std::vector<std::pair<std::string, int>>{{key_, 0}}));
    EXPECT_TRUE(observer_.Notes().empty());
    std::vector<std::string> expected = {
        "img cover 15",  // 128 * 120 / 1020
        "img share 57.27",  // fits 1200 x 630: 630 * 120 / 1320
        "size - 45",     // low: 500 * 120 / 1320 (portrait)
        "size - 59",     // medium: 650 * 120 / 1320
        "size - 68",     // high: 750 * 120 / 1320
        "search - 120",
        "img thumb 7",   // 60 * 120 / 1020
        "img 100 120",
        "img HighRes 68",
        "img MedRes 59",
        "img LowRes 45",
        "img print 108",
    };
    EXPECT_EQ(EngineRuns(), expected);
    EXPECT_TRUE(fs::exists(Book() / "thumb/img-1-e-cover.jpg"));
    EXPECT_TRUE(fs::exists(Book() / "LowRes/img-4.jpg"));
    EXPECT_TRUE(fs::exists(Book() / "txt.js"));
    // Sizes as the stand-in's size query prints them: 8.5 and 11 times the resolution.
    EXPECT_EQ(ReadFileBytes(Book() / "index.html"),
              "<!DOCTYPE html>4|382x495|578x748|1020|" + key_ + "|Title");
}

// A page that prints from one of the book's image sets gets no print images; those an
// earlier run made for an older page go when the book is made again.
TEST_F(WorkerTest, APageThatPrintsFromItsImagesGetsNoPrintSet)
{
    WriteFileBytes(cfg_->m_template_target, "<!DOCTYPE html><div data-print-set=\"\"></div>");
    int slot = Submit();
    WaitIdle();
    ASSERT_TRUE(fs::exists(Book() / "print/img-4-e.jpg")) << "an empty name asks for the print set";
    WriteFileBytes(cfg_->m_template_target, "<!DOCTYPE html><div data-print-set=\"HighRes\"></div>");
    fs::remove(log_);
    JobParams params = ReadJobParams(IniFile(cfg_->m_meta_ini.Path()), key_);
    ASSERT_EQ(table_.LaunchJob(key_, params, &observer_, 0), slot);
    WaitIdle();
    EXPECT_EQ(StoredProgress(), kProgressFinished);
    EXPECT_EQ(EngineRuns().back(), "img LowRes 45");
    EXPECT_FALSE(fs::exists(Book() / "print"));
}

TEST_F(WorkerTest, ResumeSetsAnInterruptedStepBackAndSkipsFinishedOnes)
{
    int slot = Submit();
    WaitIdle();
    fs::remove(log_);
    // Resume as if stopped in the high step at 21000, with the high run now stopping
    // after 2 of 4 pages: the step restarts at 18000 and ends early at 18000 + 2*8000/4.
    setenv("FAKE_SHORT", "HighRes", 1);
    fs::remove_all(Book() / "HighRes");
    JobParams params = ReadJobParams(IniFile(cfg_->m_meta_ini.Path()), key_);
    ASSERT_EQ(table_.LaunchJob(key_, params, &observer_, 21000), slot);
    WaitIdle();
    EXPECT_EQ(EngineRuns(), (std::vector<std::string>{"img HighRes 68"}));
    EXPECT_EQ(table_.Slot(slot).progress.load(), 22000);
    EXPECT_EQ(StoredProgress(), 22000);
    ASSERT_EQ(observer_.Slots().size(), 1u);
    EXPECT_EQ(observer_.Slots()[0], &table_.Slot(slot));
    EXPECT_EQ(table_.Slot(slot).result_code.load(), JOB_RESULT_CONVERSION_FAILED);
}

// A book is done only when every step wrote every file: an incomplete run of any step,
// thumbnails and print images included, fails the job and says where.
TEST_F(WorkerTest, IncompleteRunsOfEveryStepFailTheJob)
{
    setenv("FAKE_SHORT", "thumb", 1);
    int first = Submit();
    WaitIdle();
    EXPECT_EQ(table_.Slot(first).progress.load(), 8000);  // 6000 + 2 * 4000 / 4
    EXPECT_EQ(table_.Slot(first).result_code.load(), JOB_RESULT_CONVERSION_FAILED);
    ASSERT_EQ(observer_.Notes().size(), 1u);
    EXPECT_NE(observer_.Notes()[0].find("/thumb"), std::string::npos) << observer_.Notes()[0];

    // Print images are made for a page that names no image set to print from.
    WriteFileBytes(cfg_->m_template_target, "<!DOCTYPE html><div data-print=\"../print.html\"></div>");
    setenv("FAKE_SHORT", "print", 1);
    Submit();
    WaitIdle();
    EXPECT_EQ(StoredProgress(), 46000);  // 42000 + 2 * 8000 / 4
    EXPECT_TRUE(observer_.Finished().empty());

    setenv("FAKE_SHORT", "100", 1);
    fs::remove(log_);
    testing::internal::CaptureStderr();
    int second = Submit();
    WaitIdle();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERR:engine failed when execute  -r 120 -verbose"), std::string::npos) << log;
    EXPECT_EQ(table_.Slot(second).progress.load(), 14000);  // 10000 + 2 * 8000 / 4
    EXPECT_EQ(StoredProgress(), 14000);
    EXPECT_EQ(EngineRuns().back(), "img 100 120");
    ASSERT_EQ(observer_.Slots().size(), 3u);
    EXPECT_EQ(observer_.Slots()[2], &table_.Slot(second));
}

TEST_F(WorkerTest, AFailedEngineRunFailsTheJobWithTheEnginesMessage)
{
    // Every page's files are there, but the engine said a page failed and exited 1.
    setenv("FAKE_FAIL", "MedRes", 1);
    int slot = Submit();
    WaitIdle();
    unsetenv("FAKE_FAIL");
    EXPECT_EQ(table_.Slot(slot).result_code.load(), JOB_RESULT_CONVERSION_FAILED);
    EXPECT_EQ(StoredProgress(), kProgressHighDone + 8000);  // every page was reported
    ASSERT_EQ(observer_.Notes().size(), 1u);
    EXPECT_EQ(observer_.Notes()[0], "the conversion engine failed: page 3: the page is broken");
    EXPECT_TRUE(observer_.Finished().empty());

    // Without its page template a book has no page: the job fails at the page step.
    fs::remove(cfg_->m_template_target);
    Submit();
    WaitIdle();
    EXPECT_EQ(StoredProgress(), kProgressCoverDone);
    ASSERT_EQ(observer_.Notes().size(), 2u);
    EXPECT_NE(observer_.Notes()[1].find("page template"), std::string::npos) << observer_.Notes()[1];
}

TEST_F(WorkerTest, PagesTheEngineCouldNotFullyReadAreNotedOnceAndTheJobFinishes)
{
    setenv("FAKE_WARN", "1", 1);
    int slot = Submit();
    WaitIdle();
    unsetenv("FAKE_WARN");
    EXPECT_EQ(table_.Slot(slot).progress.load(), kProgressFinished);
    EXPECT_EQ(observer_.Notes(),
              std::vector<std::string>{"warning: page 2: some of its content could not be read"});
    // The warning reaches the status report even with diagnostic records switched off.
    EXPECT_NE(ReadFileBytes(DiagLog::Instance().ReportPath()).find("page 2: some of its content"), std::string::npos);
}

TEST_F(WorkerTest, ARunWhoseLastProgressLinesArriveTogetherStillCompletes)
{
    // All four progress lines of the high run reach the reader in one piece, so only
    // "1 of 4" is counted; the pages are all there, so the step is complete.
    setenv("FAKE_BURST", "HighRes", 1);
    int slot = Submit();
    WaitIdle();
    unsetenv("FAKE_BURST");
    EXPECT_EQ(table_.Slot(slot).progress.load(), kProgressFinished);
    EXPECT_TRUE(observer_.Slots().empty());

    // Without the pages' files the same short run still ends the job early.
    fs::remove_all(Book());
    setenv("FAKE_SHORT", "HighRes", 1);
    int second = Submit();
    WaitIdle();
    EXPECT_EQ(table_.Slot(second).progress.load(), 22000);
}

TEST_F(WorkerTest, MissingEngineEndsEarlyWithTheSlotReported)
{
    cfg_->m_engine_path = (home_.Root() / "no-such-engine").string();
    testing::internal::CaptureStderr();
    int slot = Submit();
    WaitIdle();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERR:Cannot Start rastrix.exe"), std::string::npos) << log;
    EXPECT_EQ(table_.Slot(slot).progress.load(), 0);
    EXPECT_EQ(table_.Slot(slot).state.load(), JOB_STATE_FREE);
    ASSERT_EQ(observer_.Slots().size(), 1u);
    EXPECT_EQ(observer_.Slots()[0], &table_.Slot(slot));
    EXPECT_EQ(observer_.Slots()[0]->result_code.load(), JOB_RESULT_CONVERSION_FAILED);
}

TEST_F(WorkerTest, StopDuringARunEndsEarlyAtTheLastReportedPage)
{
    setenv("FAKE_DELAY", "0.15", 1);
    int slot = Submit();
    PdfJob& job = table_.Slot(slot);
    for (int i = 0; i < 1000 && job.progress.load() <= kProgressZoomDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(table_.RequestStop(slot));
    WaitIdle();
    int32_t progress = job.progress.load();
    EXPECT_GT(progress, kProgressZoomDone);
    EXPECT_LT(progress, kProgressHighDone);
    EXPECT_EQ(StoredProgress(), progress);
    EXPECT_EQ(EngineRuns().back(), "img HighRes 68");
    ASSERT_EQ(observer_.Slots().size(), 1u);
    EXPECT_EQ(job.result_code.load(), 0);
}

TEST_F(WorkerTest, PublishingTargetsWithoutAccountNeverReportSuccess)
{
    // An FTP profile that has no account in ftp.ini ends the job before any connection.
    JobTargets targets;
    targets.use_ftp = 1;
    targets.ftp_url = "ftp.example.org/books";
    testing::internal::CaptureStderr();
    int slot = Submit(1020, 1320, targets);
    WaitIdle();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERR:ftp profile ftp.example.org/books has no account"), std::string::npos) << log;
    EXPECT_EQ(table_.Slot(slot).progress.load(), kProgressPrintDone);
    EXPECT_EQ(StoredProgress(), kProgressPrintDone);
    EXPECT_EQ(observer_.Slots().size(), 1u);

    // A web-service target without an account ends before any engine run.
    fs::remove(log_);
    JobTargets web;
    web.use_vazirudu = 1;
    testing::internal::CaptureStderr();
    Submit(1020, 1320, web);
    WaitIdle();
    log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERR:vazirudu_user empty"), std::string::npos) << log;
    EXPECT_TRUE(EngineRuns().empty());
}

TEST_F(WorkerTest, UnusableJobsEndEarlyWithoutTouchingTheDisk)
{
    // A zero page width would divide by zero in every resolution.
    int slot = Submit(0, 1320);
    WaitIdle();
    EXPECT_EQ(table_.Slot(slot).progress.load(), 0);
    EXPECT_TRUE(EngineRuns().empty());
    EXPECT_FALSE(fs::exists(Book()));

    // A slot whose key is no job key never becomes a folder name.
    ASSERT_GE(table_.LaunchJob("../../outside", {}, &observer_, 0), 0);
    WaitIdle();
    EXPECT_FALSE(fs::exists(fs::path(cfg_->m_books_folder).parent_path().parent_path() / "outside"));
    EXPECT_TRUE(EngineRuns().empty());
    EXPECT_EQ(observer_.Slots().size(), 2u);
}
