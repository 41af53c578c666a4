// Job submission and relaunch: what a new job writes, what the settings remember, and
// which selected rows a restart or resume launches.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/AppConfig.h"
#include "pipeline/JobSection.h"
#include "pipeline/JobTable.h"
#include "pipeline/PdfItemList.h"
#include "pipeline/SubmitJob.h"
#include "tests/helpers/TempHome.h"

namespace {

class SubmitJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cfg_ = std::make_unique<AppConfig>();
        cfg_->Load();
        pdf_ = (home_.Root() / "in.pdf").string();
        WriteFileBytes(pdf_, "%PDF-1.4");
        // Each launched job records its start progress and ends at once.
        table_.SetWorker([this](PdfJob& job) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                launched_.push_back(std::string(job.key) + "@" + std::to_string(job.progress.load()));
            }
            job.state = JOB_STATE_FREE;
            return 0;
        });
    }
    void TearDown() override { table_.JoinAll(); }
    // The jobs launched so far; all of them have ended, and the running count is
    // recomputed as the once-a-second refresh does.
    std::vector<std::string> Launched()
    {
        table_.JoinAll();
        table_.RecountRunning();
        std::lock_guard<std::mutex> lock(mutex_);
        return launched_;
    }
    // A stored job with the given progress and web-service flag.
    std::string StoredJob(int progress, int use_vazirudu, int dpi = 120)
    {
        SubmitRequest request;
        request.pdf_path = pdf_;
        request.pagenum = 2;
        request.pagewidth = 100;
        request.pageheight = 200;
        JobTargets targets;
        std::string key;
        AppConfig& cfg = *cfg_;
        EXPECT_GE(SubmitJob(cfg, table_, request, targets, false, nullptr, &key, nullptr), 0);
        IniFile meta(cfg.m_meta_ini.Path());
        meta.WriteInt(key, "progress", progress);
        meta.WriteInt(key, "use_vazirudu", use_vazirudu);
        meta.WriteInt(key, "dpi", dpi);
        return key;
    }

    TempHome home_;
    std::unique_ptr<AppConfig> cfg_;
    JobTable table_;
    std::mutex mutex_;
    std::vector<std::string> launched_;
    std::string pdf_;
};

}  // namespace

TEST_F(SubmitJobTest, SubmissionWritesTheJobAndRemembersTheChoices)
{
    CPdfItemList queue(false);
    SubmitRequest request;
    request.pdf_path = " " + pdf_ + "\n";
    JobTargets none;
    EXPECT_EQ(SubmitJob(*cfg_, table_, request, none, false, &queue, nullptr, nullptr), -1)
        << "a path with blanks around it names no file";
    request.pdf_path = pdf_;
    request.title = "  A title\t";
    request.pagenum = 3;
    request.city_id = 9;
    JobTargets targets;
    targets.export_requested = true;
    targets.export_folder = (home_.Root() / "out").string();
    std::string key;
    int slot = SubmitJob(*cfg_, table_, request, targets, true, &queue, &key, nullptr);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(key.size(), 32u);
    EXPECT_EQ(table_.Slot(slot).export_flag, 1);
    EXPECT_EQ(table_.Slot(slot).dpi, cfg_->m_dpi);
    EXPECT_FALSE(targets.export_requested);  // the request is used up

    ASSERT_EQ(queue.RowCount(), 1);
    EXPECT_EQ(queue.Item(0)->state, JOB_STATE_RUNNING);
    EXPECT_EQ(queue.Item(0)->key, key);

    IniFile meta(cfg_->m_meta_ini.Path());
    EXPECT_EQ(meta.ReadText(key, "progress"), "0");
    EXPECT_EQ(meta.ReadInt(key, "city_id"), 9);
    EXPECT_EQ(meta.ReadText(key, "export_folder"), targets.export_folder);
    EXPECT_EQ(IniFile(cfg_->m_meta_w_ini.Path()).ReadWide(key, "title"), "A title");
    IniFile config(cfg_->m_config_ini.Path());
    EXPECT_EQ(config.ReadText("general", "export_folder"), targets.export_folder);
    EXPECT_EQ(config.ReadInt("network", "use_ftp"), 0);

    // Without remembering, the user's settings are left alone.
    config.WriteText("general", "export_folder", "/kept");
    targets.export_requested = true;
    EXPECT_GE(SubmitJob(*cfg_, table_, request, targets, false, &queue, nullptr, nullptr), 0);
    EXPECT_EQ(config.ReadText("general", "export_folder"), "/kept");
}

TEST_F(SubmitJobTest, ResumeStartsEachSelectedJobFromItsOwnProgress)
{
    std::string a = StoredJob(21000, 0);
    std::string b = StoredJob(500, 0);      // older scale: 50000
    std::string c = StoredJob(3000, 0, -1); // no dpi: never relaunched
    StoredJob(4000, 0);                     // not selected
    Launched();
    launched_.clear();

    CPdfItemList queue(false);
    queue.Build(IniFile(cfg_->m_meta_ini.Path()));
    EXPECT_EQ(RelaunchSelected(*cfg_, table_, queue, -1, nullptr), -1);  // no selection mark
    for (const std::string& key : {a, b, c})
        queue.Select(queue.FindRowByKey(key), true);
    EXPECT_EQ(RelaunchSelected(*cfg_, table_, queue, -1, nullptr), 0);
    std::vector<std::string> launched = Launched();
    std::sort(launched.begin(), launched.end());
    std::vector<std::string> expected = {a + "@21000", b + "@50000"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(launched, expected);
}

TEST_F(SubmitJobTest, RestartOfAFinishedWebServiceJobIsRefusedAndStopsTheRest)
{
    std::string first = StoredJob(30000, 0);
    std::string published = StoredJob(100000, 1);
    std::string after = StoredJob(30000, 0);
    Launched();
    launched_.clear();

    CPdfItemList list(false);
    for (const std::string& key : {first, published, after}) {
        auto item = std::make_unique<PdfItem>();
        item->key = key;
        item->progress = ReadJobProgress(IniFile(cfg_->m_meta_ini.Path()), key);
        list.AddRow(list.RowCount(), std::move(item), false);
        list.Select(list.RowCount() - 1, true);
    }
    // A crafted row key never reaches the table.
    auto crafted = std::make_unique<PdfItem>();
    crafted->key = "../../etc";
    list.AddRow(0, std::move(crafted), false);
    list.Select(0, true);

    EXPECT_EQ(RelaunchSelected(*cfg_, table_, list, 0, nullptr), -2);
    EXPECT_EQ(Launched(), std::vector<std::string>{first + "@0"});
    EXPECT_EQ(table_.FindSlotByKey("../../etc"), -1);

    // Resuming the same rows launches them all; the finished one starts at 100000.
    launched_.clear();
    EXPECT_EQ(RelaunchSelected(*cfg_, table_, list, -1, nullptr), 0);
    EXPECT_EQ(Launched().size(), 3u);
}
