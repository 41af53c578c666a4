// End-to-end checks of the batch command with the real engine on generated multi-page
// PDFs, each in a private HOME: a complete book, stop and resume, resume after the
// process was killed, the one-at-a-time order, and the export.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "config/IniFile.h"
#include "config/InstanceLock.h"
#include "tests/pipeline/BatchE2EFixture.h"

namespace fs = std::filesystem;

TEST_F(BatchE2E, AMultiPagePdfBecomesACompleteBook)
{
    fs::path pdf = MakePdf("book one.pdf", 5, "Über Book \"one\" <i>");
    RunResult r = Run({pdf.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 1u) << r.out;
    fs::path index = out[0];
    std::string key = KeyOf(out[0]);
    EXPECT_EQ(index, books_ / key / "index.html");
    ExpectCompleteBook(books_ / key, 5);

    // Letter pages at the shipped dpi 120 are 1020 x 1320 pixels. The resolutions are
    // whole numbers, so every image is its box size to within one resolution step (and
    // the engine's rounding of a pixel): the cover 128 and the thumbnails 60 wide, the
    // page images their box height (portrait), the zoom images the page size.
    const int dpi = 120, width = 1020, height = 1320, step = height / dpi + 1;
    EXPECT_NEAR(JpegSize(books_ / key / "thumb/img-1-e-cover.jpg").first, 128, 1);
    EXPECT_NEAR(JpegSize(books_ / key / "thumb/img-2-e.jpg").first, 60, width / dpi + 1);
    EXPECT_EQ(JpegSize(books_ / key / "100/img-1.jpg"), std::make_pair(width, height));
    for (auto [folder, box] : {std::pair<const char*, int>{"HighRes", 750}, {"MedRes", 650}, {"LowRes", 500}}) {
        int res = box * dpi / height;
        auto [w, h] = JpegSize(books_ / key / folder / "img-3.jpg");
        EXPECT_NEAR(h, height * res / dpi, 1) << folder;
        EXPECT_NEAR(w, width * res / dpi, 1) << folder;
        EXPECT_LE(h, box) << folder;
        EXPECT_GE(h, box - step) << folder;
    }
    // The link-preview picture: page 1 as large as fits 1200 x 630, here as high as that.
    auto [sw, sh] = JpegSize(books_ / key / "thumb/img-1-e-share.jpg");
    EXPECT_LE(sh, 630);
    EXPECT_GE(sh, 628);
    EXPECT_NEAR(sw, sh * 612 / 792, 2);

    // The page names the book and escapes the PDF's own title.
    std::string page = ReadFileBytes(index);
    EXPECT_NE(page.find(key), std::string::npos);
    EXPECT_EQ(page.find("<i>"), std::string::npos);

    // The job section in both files.
    IniFile meta((books_ / "meta.ini").string());
    EXPECT_EQ(meta.ReadText(key, "pdf_url"), pdf.string());
    EXPECT_EQ(meta.ReadInt(key, "pagenum"), 5);
    EXPECT_EQ(meta.ReadInt(key, "pagewidth"), width);
    EXPECT_EQ(meta.ReadInt(key, "pageheight"), height);
    EXPECT_EQ(meta.ReadInt(key, "progress"), 100000);
    EXPECT_EQ(meta.ReadInt(key, "dpi"), dpi);
    EXPECT_EQ(meta.ReadInt(key, "use_ftp"), 0);
    EXPECT_EQ(meta.ReadInt(key, "use_vazirudu"), 0);
    EXPECT_EQ(meta.ReadInt(key, "preview_quality"), 25);
    EXPECT_TRUE(std::regex_match(meta.ReadText(key, "timestamp"), std::regex("(\\d+,){8}")));
    IniFile meta_w((books_ / "meta_w.ini").string());
    EXPECT_EQ(ReadFileBytes(books_ / "meta_w.ini").substr(0, 2), std::string("\xFF\xFE", 2));
    EXPECT_EQ(meta_w.ReadWide(key, "title"), "Über Book \"one\" <i>");
    EXPECT_EQ(meta_w.ReadWide(key, "tags"), "flip book, test");
    EXPECT_EQ(meta_w.ReadWide(key, "description"), "A generated test book");

    // Help and usage mistakes.
    EXPECT_EQ(Run({"--help"}).code, 0);
    EXPECT_EQ(Run({}).code, 2);
    EXPECT_EQ(Run({"--stop-after-progress", "x", pdf.string()}).code, 2);
    RunResult missing = Run({(home_.Root() / "none.pdf").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.out.empty());
}

TEST_F(BatchE2E, WhileAnotherProgramRunsTheBatchChangesNothing)
{
    fs::path pdf = MakePdf("waiting.pdf", 2);
    {
        // What the desktop program or another batch command holds, here in a session
        // with a runtime folder; the batch runs as from cron, without one.
        InstanceLock other;
        std::string error;
        ASSERT_TRUE(other.TryAcquire(books_.string(), error)) << error;
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        const std::string saved = runtime ? runtime : "";
        unsetenv("XDG_RUNTIME_DIR");
        RunResult refused = Run({pdf.string()}, "refused");
        if (!saved.empty())
            setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
        EXPECT_EQ(refused.code, 1);
        EXPECT_TRUE(refused.out.empty());
        EXPECT_NE(refused.err.find("another Vellumark program is running"), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(data_)) << "the configuration was set up anyway";
        EXPECT_FALSE(fs::exists(books_ / "meta.ini"));
    }
    RunResult after = Run({pdf.string()}, "after");
    EXPECT_EQ(after.code, 0) << after.err;
}

TEST_F(BatchE2E, StopDuringTheHighStepThenResumeRedoesOnlyTheRest)
{
    Configure({{"general/log_cmd", "1"}, {"general/log_err", "1"}});
    fs::path pdf = MakePdf("long.pdf", 100);
    RunResult stopped = Run({"--stop-after-progress", "20000", pdf.string()}, "stopped");
    EXPECT_EQ(stopped.code, 1) << stopped.err;
    EXPECT_TRUE(stopped.out.empty());
    std::string key = OnlyKey();
    ASSERT_FALSE(key.empty());
    int32_t progress = StoredProgress(key);
    EXPECT_GE(progress, 20000);
    EXPECT_LT(progress, 26000);  // stopped inside the high step
    auto zoom_times = Times(books_ / key / "100");
    auto thumb_times = Times(books_ / key / "thumb");

    fs::remove(books_ / "report.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    RunResult resumed = Run({"--resume"}, "resumed");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_EQ(Lines(resumed.out), std::vector<std::string>{(books_ / key / "index.html").string()});
    EXPECT_EQ(StoredProgress(key), 100000);
    ExpectCompleteBook(books_ / key, 100);

    // Only the high, medium, low and print runs ran again: the stored command lines name
    // none of the earlier folders, and their images were not rewritten.
    std::vector<std::string> records = CommandRecords();
    ASSERT_FALSE(records.empty());
    for (const std::string& record : records) {
        EXPECT_EQ(record.find("/thumb\""), std::string::npos) << record;
        EXPECT_EQ(record.find("/100\""), std::string::npos) << record;
        EXPECT_TRUE(record.find("/HighRes\"") != std::string::npos || record.find("/MedRes\"") != std::string::npos ||
                    record.find("/LowRes\"") != std::string::npos || record.find("/print\"") != std::string::npos)
            << record;
    }
    EXPECT_EQ(Times(books_ / key / "100"), zoom_times);
    EXPECT_EQ(Times(books_ / key / "thumb"), thumb_times);

    // Nothing is left to resume.
    RunResult again = Run({"--resume"}, "again");
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(again.out.empty());
}

TEST_F(BatchE2E, ResumeAfterTheProcessWasKilledMidJob)
{
    Configure({{"general/log_cmd", "1"}, {"general/log_err", "1"}});
    fs::path pdf = MakePdf("killed.pdf", 100);
    pid_t pid = Start({pdf.string()}, "killed");
    ASSERT_GT(pid, 0);
    // Wait until the job has stored a resume point past the zoom step, then kill it. Up to
    // three minutes: a sanitizer build beside other tests converts several times slower.
    std::string key;
    for (int i = 0; i < 3600; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        key = fs::exists(books_ / "meta.ini") ? OnlyKey() : std::string();
        if (!key.empty() && StoredProgress(key) >= 18000)
            break;
    }
    ASSERT_FALSE(key.empty());
    kill(pid, SIGKILL);
    RunResult killed = Finish(pid, "killed");
    EXPECT_EQ(killed.code, -1);  // no exit status: killed
    int32_t progress = StoredProgress(key);
    ASSERT_GE(progress, 18000);
    ASSERT_LT(progress, 100000);
    auto zoom_times = Times(books_ / key / "100");

    fs::remove(books_ / "report.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    RunResult resumed = Run({"--resume", key}, "resumed");
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    ExpectCompleteBook(books_ / key, 100);
    for (const std::string& record : CommandRecords()) {
        EXPECT_EQ(record.find("/thumb\""), std::string::npos) << record;
        EXPECT_EQ(record.find("/100\""), std::string::npos) << record;
    }
    EXPECT_EQ(Times(books_ / key / "100"), zoom_times);
}

TEST_F(BatchE2E, WithOneThreadJobsRunOneAfterAnotherInSubmissionOrder)
{
    Configure({{"option/threads_limit", "1"}});
    std::vector<std::string> pdfs;
    for (const char* name : {"first.pdf", "second.pdf", "third.pdf"})
        pdfs.push_back(MakePdf(name, 4).string());
    RunResult r = Run(pdfs);
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 3u);
    IniFile meta((books_ / "meta.ini").string());
    fs::file_time_type previous_end = fs::file_time_type::min();
    for (size_t i = 0; i < out.size(); ++i) {
        std::string key = KeyOf(out[i]);
        EXPECT_EQ(meta.ReadText(key, "pdf_url"), pdfs[i]);
        ExpectCompleteBook(books_ / key, 4);
        // Each job's first output is newer than the previous job's last one.
        fs::file_time_type start = fs::last_write_time(books_ / key / "thumb/img-1-e-cover.jpg");
        EXPECT_GE(start, previous_end) << i;
        previous_end = std::max(fs::last_write_time(books_ / key / "LowRes/img-4.jpg"),
                                fs::last_write_time(books_ / key / "LowRes/img-4-f.png"));
    }
}

TEST_F(BatchE2E, AnExportedBookIsSelfContainedAndReExportReplacesIt)
{
    fs::path pdf = MakePdf("exported.pdf", 3);
    fs::path dest = home_.Root() / "export dir";
    RunResult r = Run({"--export", dest.string(), pdf.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{(dest / "index.html").string()});
    ExpectCompleteBook(dest, 3);

    // No reference leaves the folder, and every local file the page names is there.
    std::string page = ReadFileBytes(dest / "index.html");
    EXPECT_EQ(page.find("../"), std::string::npos);
    std::smatch m;
    std::regex reference("(?:src|href)=[\"']\\s*\\.?/?([A-Za-z0-9_./-]+)[\"']");
    int checked = 0;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), reference); it != std::sregex_iterator(); ++it) {
        std::string target = (*it)[1];
        if (target.find("://") != std::string::npos || target.empty())
            continue;
        EXPECT_TRUE(fs::exists(dest / target)) << target;
        ++checked;
    }
    EXPECT_GT(checked, 0);
    for (const char* shared : {"index.js", "service.asp", "print.html", "RurovOzeza.v1.css", "skins/2/skin.js"})
        EXPECT_TRUE(fs::exists(dest / shared)) << shared;

    // Exporting again into the earlier export replaces it.
    WriteFileBytes(dest / "thumb/stale.jpg", "old");
    RunResult again = Run({"--export", dest.string(), pdf.string()}, "again");
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_FALSE(fs::exists(dest / "thumb/stale.jpg"));
    ExpectCompleteBook(dest, 3);
}
