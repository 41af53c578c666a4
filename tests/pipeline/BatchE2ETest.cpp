// End-to-end checks of the batch command with the real engine on generated multi-page
// PDFs, each in a private HOME: a complete book, stop and resume, resume after the
// process was killed, the one-at-a-time order, and the export.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "config/IniFile.h"
#include "config/InstanceLock.h"
#include "tests/helpers/TempHome.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

std::pair<int, int> JpegSize(const fs::path& path)
{
    std::string d = ReadFileBytes(path);
    size_t i = 2;
    while (i + 9 < d.size() && static_cast<uint8_t>(d[i]) == 0xFF) {
        uint8_t marker = static_cast<uint8_t>(d[i + 1]);
        size_t length = (static_cast<uint8_t>(d[i + 2]) << 8) | static_cast<uint8_t>(d[i + 3]);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            int h = (static_cast<uint8_t>(d[i + 5]) << 8) | static_cast<uint8_t>(d[i + 6]);
            int w = (static_cast<uint8_t>(d[i + 7]) << 8) | static_cast<uint8_t>(d[i + 8]);
            return {w, h};
        }
        i += 2 + length;
    }
    return {0, 0};
}

std::pair<int, int> PngSize(const fs::path& path)
{
    std::string d = ReadFileBytes(path);
    if (d.size() < 24 || d.compare(1, 3, "PNG") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        return (static_cast<uint8_t>(d[at]) << 24) | (static_cast<uint8_t>(d[at + 1]) << 16) |
               (static_cast<uint8_t>(d[at + 2]) << 8) | static_cast<uint8_t>(d[at + 3]);
    };
    return {be32(16), be32(20)};
}

class BatchE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        batch_ = ProgramDir() / "vellumark-batch";
        if (!fs::exists(batch_) || !fs::exists(ProgramDir() / "rastrix"))
            GTEST_SKIP() << "vellumark-batch or the engine is not built";
        books_ = home_.Home() / "Documents/vAziruduues";
        data_ = home_.Root() / "data/Corvane/Vellumark";
    }

    // A first start sets the user's folders up; then the given keys of config.ini are
    // changed, as the desktop program's dialogs would.
    void Configure(const std::map<std::string, std::string>& keys)
    {
        ASSERT_EQ(Run({"--resume"}, "setup").code, 0);
        ASSERT_TRUE(fs::exists(data_ / "config.ini"));
        IniFile ini((data_ / "config.ini").string());
        for (const auto& [path, value] : keys) {
            size_t slash = path.find('/');
            ini.WriteText(path.substr(0, slash), path.substr(slash + 1), value);
        }
    }

    fs::path MakePdf(const std::string& name, int pages, const std::string& title = "Generated Book")
    {
        fs::path pdf = home_.Root() / name;
        std::string command = "python3 '" + (SourceDir() / "tests/pipeline/make_book_pdf.py").string() + "' '" +
                              pdf.string() + "' --pages " + std::to_string(pages) + " --title '" + title + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return pdf;
    }

    pid_t Start(const std::vector<std::string>& args, const std::string& tag)
    {
        // --verbose: a failing test shows the diagnostic records in its message.
        std::vector<std::string> argv_text = {batch_.string(), "--verbose"};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argv_text)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (home_.Root() / (tag + ".out")).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (home_.Root() / (tag + ".err")).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    RunResult Finish(pid_t pid, const std::string& tag)
    {
        RunResult r;
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            r.code = WEXITSTATUS(status);
        r.out = ReadFileBytes(home_.Root() / (tag + ".out"));
        r.err = ReadFileBytes(home_.Root() / (tag + ".err"));
        return r;
    }

    RunResult Run(const std::vector<std::string>& args, const std::string& tag = "run")
    {
        return Finish(Start(args, tag), tag);
    }

    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                lines.push_back(line);
        return lines;
    }

    // The job key of a printed index.html path (its folder's name).
    static std::string KeyOf(const std::string& index_path) { return fs::path(index_path).parent_path().filename(); }

    int32_t StoredProgress(const std::string& key)
    {
        return IniFile((books_ / "meta.ini").string()).ReadInt(key, "progress");
    }

    // The only job section of meta.ini.
    std::string OnlyKey()
    {
        IniFile meta((books_ / "meta.ini").string());
        meta.SectionNames(1024, 32);
        return meta.SectionNameList().size() == 1 ? meta.SectionNameList()[0] : std::string();
    }

    // The engine command lines stored in the status report.
    std::vector<std::string> CommandRecords()
    {
        std::vector<std::string> records;
        bool in_section = false;
        for (const std::string& line : Lines(ReadFileBytes(books_ / "report.txt"))) {
            if (!line.empty() && line[0] == '[') {
                in_section = line.rfind("[cmdline]", 0) == 0;
                continue;
            }
            if (in_section)
                records.push_back(line);
        }
        return records;
    }

    std::map<std::string, fs::file_time_type> Times(const fs::path& folder)
    {
        std::map<std::string, fs::file_time_type> times;
        for (const auto& entry : fs::directory_iterator(folder))
            times[entry.path().filename()] = entry.last_write_time();
        return times;
    }

    void ExpectCompleteBook(const fs::path& book, int pages)
    {
        for (int n = 1; n <= pages; ++n) {
            std::string jpg = "img-" + std::to_string(n) + ".jpg";
            std::string png = "img-" + std::to_string(n) + "-f.png";
            std::string e = "img-" + std::to_string(n) + "-e.jpg";
            EXPECT_TRUE(fs::exists(book / "thumb" / e)) << n;
            EXPECT_TRUE(fs::exists(book / "print" / e)) << n;
            for (const char* folder : {"100", "HighRes", "MedRes", "LowRes"}) {
                ASSERT_TRUE(fs::exists(book / folder / jpg)) << folder << " " << n;
                EXPECT_EQ(JpegSize(book / folder / jpg), PngSize(book / folder / png)) << folder << " " << n;
            }
        }
        EXPECT_TRUE(fs::exists(book / "thumb/img-1-e-cover.jpg"));
        EXPECT_FALSE(fs::exists(book / "thumb" / ("img-" + std::to_string(pages + 1) + "-e.jpg")));
        EXPECT_TRUE(fs::exists(book / "text.html"));
        EXPECT_TRUE(fs::exists(book / "txt.js"));
        std::string page = ReadFileBytes(book / "index.html");
        EXPECT_EQ(page.rfind("<!DOCTYPE", 0), 0u);
        EXPECT_EQ(page.find("<%"), std::string::npos);
        EXPECT_EQ(page.find("%>"), std::string::npos);
    }

    TempHome home_;
    fs::path batch_, books_, data_;
};

}  // namespace

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
    auto [pw, ph] = JpegSize(books_ / key / "print/img-1-e.jpg");
    EXPECT_NEAR(pw, 612 * 108 / 72, 1);
    EXPECT_NEAR(ph, 792 * 108 / 72, 1);

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
    // Wait until the job has stored a resume point past the zoom step, then kill it.
    std::string key;
    for (int i = 0; i < 600; ++i) {
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
        previous_end = fs::last_write_time(books_ / key / "print/img-4-e.jpg");
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
