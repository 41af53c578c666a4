// End-to-end checks that the batch command never harms what it was not asked to touch,
// and reports every job's real outcome: exports that would delete the user's files,
// their books, settings or PDF are refused before anything happens; text from the PDF
// survives the export; engine failures fail the job; file names that cannot be stored
// are refused; and more PDFs than job slots all finish. Canary files prove that nothing
// outside the intended folder was touched.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "config/IniFile.h"
#include "tests/pipeline/BatchE2EFixture.h"

namespace fs = std::filesystem;

namespace {

// Files of the user's that must come through every run unchanged.
class Canaries {
public:
    void Add(const fs::path& path)
    {
        std::string text = "canary " + path.string();
        WriteFileBytes(path, text);
        files_[path] = text;
    }
    void Keep(const fs::path& path) { files_[path] = ReadFileBytes(path); }
    void ExpectIntact() const
    {
        for (const auto& [path, text] : files_) {
            EXPECT_TRUE(fs::exists(path)) << path << " was deleted";
            EXPECT_EQ(ReadFileBytes(path), text) << path << " was changed";
        }
    }

private:
    std::map<fs::path, std::string> files_;
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(BatchE2E, ExportSubFoldersNamedAfterPdfsNeverReachOutsideTheExportFolder)
{
    Canaries canaries;
    const fs::path work = home_.Home() / "Work";
    for (int i = 0; i < 20; ++i)
        canaries.Add(work / ("file" + std::to_string(i) + ".txt"));
    canaries.Add(home_.Home() / "Desktop/photo.jpg");
    canaries.Add(home_.Home() / ".ssh/id_ed25519");
    fs::create_directories(home_.Root() / "src");
    const fs::path dots = MakePdf("src/...pdf", 1);
    const fs::path other = MakePdf("src/other.pdf", 1);
    const fs::path desktop = MakePdf("src/Desktop.pdf", 1);
    const fs::path ssh = MakePdf("src/.ssh.pdf", 1);
    canaries.Keep(dots);

    // "...pdf" names no parent folder: it becomes "book". The title keeps its "../".
    RunResult r = Run({"--title", "Doc ../ title", "--export", (work / "out").string(), dots.string(), other.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{(work / "out/book/index.html").string(),
                                                      (work / "out/other/index.html").string()}));
    ExpectCompleteBook(work / "out/book", 1);
    ExpectCompleteBook(work / "out/other", 1);
    EXPECT_TRUE(Contains(ReadFileBytes(work / "out/other/index.html"), "<title>Doc ../ title</title>"));
    canaries.ExpectIntact();

    // Into the home folder: refused as a whole before any job, so ~/Desktop survives.
    RunResult home = Run({"--export", home_.Home().string(), other.string(), desktop.string(), ssh.string()}, "home");
    EXPECT_EQ(home.code, 1);
    EXPECT_TRUE(home.out.empty());
    EXPECT_TRUE(Contains(home.err, "refused")) << home.err;
    EXPECT_EQ(Keys().size(), 2u);
    canaries.ExpectIntact();

    // Into a folder whose sub-folder of that name holds the user's files: refused too.
    canaries.Add(work / "mixed/Desktop/todo.txt");
    RunResult mixed = Run({"--export", (work / "mixed").string(), desktop.string(), ssh.string()}, "mixed");
    EXPECT_EQ(mixed.code, 1);
    EXPECT_TRUE(Contains(mixed.err, "todo.txt")) << mixed.err;
    EXPECT_FALSE(fs::exists(work / "mixed/ssh"));
    EXPECT_EQ(Keys().size(), 2u);
    canaries.ExpectIntact();

    // Where the names are free, a leading dot is dropped: no hidden book folder.
    RunResult fresh = Run({"--export", (work / "books").string(), desktop.string(), ssh.string()}, "fresh");
    ASSERT_EQ(fresh.code, 0) << fresh.err;
    EXPECT_EQ(Lines(fresh.out), (std::vector<std::string>{(work / "books/Desktop/index.html").string(),
                                                          (work / "books/ssh/index.html").string()}));
    canaries.ExpectIntact();
}

TEST_F(BatchE2E, RefusedExportsChangeNothingAndFailTheRun)
{
    fs::create_directories(home_.Root() / "pdfs");
    const fs::path pdf = MakePdf("pdfs/doc.pdf", 1);
    RunResult first = Run({pdf.string()}, "first");
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string key = KeyOf(Lines(first.out).at(0));

    Canaries canaries;
    canaries.Keep(books_ / key / "index.html");
    canaries.Keep(pdf);
    for (const char* name : {"config.ini", "data.db3", "ftp.ini", "http.ini", "http_user.ini"})
        canaries.Keep(data_ / name);

    const std::vector<fs::path> refused = {
        books_ / key,                 // an existing book folder
        books_ / "new",               // a folder inside the books folder
        home_.Root() / "pdfs",        // the folder of the PDF itself
        data_,                        // the program's own settings
    };
    for (const fs::path& dest : refused) {
        SCOPED_TRACE(dest.string());
        RunResult r = Run({"--export", dest.string(), pdf.string()}, "refused");
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.out.empty()) << r.out;  // no book path is printed for a refused export
        EXPECT_TRUE(Contains(r.err, "refused")) << r.err;
        canaries.ExpectIntact();
    }
    EXPECT_FALSE(fs::exists(books_ / "new"));
    EXPECT_EQ(Keys(), std::vector<std::string>{key});  // nothing was even converted
}

TEST_F(BatchE2E, AFailedEngineRunFailsTheJobAndSaysWhy)
{
    // The real engine, except that the medium-size run reports a broken page and fails.
    const fs::path wrapper = home_.Root() / "failing-engine.sh";
    WriteFileBytes(wrapper, "#!/bin/sh\n"
                            "case \"$*\" in *MedRes*) echo 'rastrix: page 1: simulated failure' >&2; exit 1;; esac\n"
                            "exec '" + (ProgramDir() / "rastrix").string() + "' \"$@\"\n");
    fs::permissions(wrapper, fs::perms::owner_all);
    Configure({{"option/is_fullpath", "1"}, {"option/program_name", wrapper.string()}});
    const fs::path pdf = MakePdf("broken.pdf", 2);

    RunResult r = Run({pdf.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(Contains(r.err, "page 1: simulated failure")) << r.err;
    EXPECT_TRUE(Contains(r.err, "failed")) << r.err;
    const std::string key = OnlyKey();
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(StoredProgress(key), 26000);  // the medium step never finished: resumable there
    EXPECT_EQ(IniFile((books_ / "meta.ini").string()).ReadInt(key, "progress"), 26000);
}

TEST_F(BatchE2E, ImageSettingsOutOfRangeInConfigIniStillConvertWithValuesInRange)
{
    Configure({{"general/log_cmd", "1"},
               {"general/preview_quality", "999"},
               {"general/zoomin_quality", "-5"},
               {"general/preview_smooth", "abc"},
               {"general/zoomin_smooth", "999"}});
    const fs::path pdf = MakePdf("settings.pdf", 2);
    RunResult r = Run({pdf.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string key = KeyOf(Lines(r.out).at(0));
    ExpectCompleteBook(books_ / key, 2);
    IniFile meta((books_ / "meta.ini").string());
    EXPECT_EQ(meta.ReadInt(key, "preview_quality"), 85);
    EXPECT_EQ(meta.ReadInt(key, "zoomin_quality"), 25);
    EXPECT_EQ(meta.ReadInt(key, "preview_smooth"), 100);
    EXPECT_EQ(meta.ReadInt(key, "zoomin_smooth"), 100);
    // The engine refuses a quality or smoothing out of its range, so the book above is
    // the main proof; the command lines the report kept (one per second) agree.
    const std::regex values(R"(-jpeg-quality (\d+) -jpeg-smoothing-factor (\d+) )");
    int runs = 0;
    for (const std::string& record : CommandRecords()) {
        std::smatch m;
        if (!std::regex_search(record, m, values))
            continue;
        ++runs;
        EXPECT_LE(std::stoi(m[1].str()), 100) << record;
        EXPECT_GE(std::stoi(m[1].str()), 1) << record;
        EXPECT_LE(std::stoi(m[2].str()), 100) << record;
    }
    EXPECT_GE(runs, 1);
}

TEST_F(BatchE2E, APosterSizePageStillMakesACompleteBook)
{
    // 14400 x 14400 pt is 24000 pixels a side at 120 dpi, far over the engine's cap:
    // the zoom and print images come out at the largest size under it.
    const fs::path pdf = home_.Root() / "poster.pdf";
    std::string command = "python3 '" + (SourceDir() / "tests/pipeline/make_book_pdf.py").string() + "' '" +
                          pdf.string() + "' --pages 1 --points 14400 14400";
    ASSERT_EQ(std::system(command.c_str()), 0);
    RunResult r = Run({pdf.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string key = KeyOf(Lines(r.out).at(0));
    ExpectCompleteBook(books_ / key, 1);
    auto [w, h] = JpegSize(books_ / key / "100/img-1.jpg");
    EXPECT_EQ(w, h);
    EXPECT_LE(int64_t(w) * h, 50LL * 1000 * 1000);
    EXPECT_GT(w, 7000);
}

TEST_F(BatchE2E, PagesTheEngineCouldNotFullyReadAreReportedAsWarnings)
{
    Configure({});
    const fs::path intact = MakePdf("intact.pdf", 6);
    // The content streams of pages 4 to 6 lose their data, as in a file cut short in
    // transfer and repaired when read: those pages come out blank.
    std::string pdf = ReadFileBytes(intact);
    std::vector<std::string> contents;
    std::regex page_object(R"(/Type /Page /[^\n]*/Contents (\d+) 0 R)");
    for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), page_object); it != std::sregex_iterator(); ++it)
        contents.push_back((*it)[1].str());
    ASSERT_EQ(contents.size(), 6u);
    for (size_t page = 6; page >= 4; --page) {
        size_t data = pdf.find("stream\n", pdf.find("\n" + contents[page - 1] + " 0 obj\n")) + 7;
        pdf.erase(data + 10, pdf.find("\nendstream", data) - data - 10);
    }
    const fs::path damaged = home_.Root() / "damaged.pdf";
    WriteFileBytes(damaged, pdf);

    RunResult r = Run({damaged.string()});
    ASSERT_EQ(r.code, 0) << r.err;  // the book is made, with the warnings
    for (const char* page : {"page 4", "page 5", "page 6"})
        EXPECT_TRUE(Contains(r.err, "damaged.pdf: warning: " + std::string(page) + ": read only in part")) << r.err;
    EXPECT_FALSE(Contains(r.err, "warning: page 3")) << r.err;
    EXPECT_TRUE(Contains(r.err, "damaged.pdf: warning: the file is damaged and was repaired")) << r.err;
    const std::string report = ReadFileBytes(books_ / "report.txt");
    EXPECT_TRUE(Contains(report, "warning: page 4: read only in part")) << report;
    ExpectCompleteBook(books_ / KeyOf(Lines(r.out).at(0)), 6);

    // An intact PDF gives no warning at all.
    RunResult clean = Run({intact.string()}, "clean");
    ASSERT_EQ(clean.code, 0) << clean.err;
    EXPECT_FALSE(Contains(clean.err, "warning")) << clean.err;
}

TEST_F(BatchE2E, AFileNameWithALineBreakIsRefusedAndTheOthersConvert)
{
    const fs::path broken = MakePdf("two\nlines.pdf", 1);
    const fs::path fine = MakePdf("fine.pdf", 1);
    RunResult r = Run({broken.string(), fine.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Contains(r.err, "two\\nlines.pdf: cannot be converted: the path contains a line break")) << r.err;
    std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 1u);
    const std::string key = KeyOf(out[0]);
    EXPECT_EQ(Keys(), std::vector<std::string>{key});  // no job was stored for the refused name
    EXPECT_EQ(IniFile((books_ / "meta.ini").string()).ReadText(key, "pdf_url"), fine.string());
    ExpectCompleteBook(books_ / key, 1);
}

// More PDFs than the 512 job slots: the batch queues the rest and submits them as slots
// free, and every job's outcome is its own, also once its slot serves another job. A
// stand-in engine keeps the 514 jobs fast.
TEST_F(BatchE2E, MorePdfsThanJobSlotsAllFinishAndAreReportedSo)
{
    setenv("FAKE_PAGES", "1", 1);
    setenv("FAKE_DELAY", "0", 1);
    Configure({{"option/is_fullpath", "1"},
               {"option/program_name", (SourceDir() / "tests/pipeline/fake_rastrix.sh").string()},
               {"option/threads_limit", "8"}});
    const fs::path pdf = home_.Root() / "one.pdf";
    WriteFileBytes(pdf, "%PDF-1.4 stand-in");
    std::vector<std::string> pdfs;
    for (int i = 0; i < 514; ++i) {
        const fs::path copy = home_.Root() / "many" / ("doc" + std::to_string(i) + ".pdf");
        fs::create_directories(copy.parent_path());
        fs::copy_file(pdf, copy);
        pdfs.push_back(copy.string());
    }
    RunResult r = Run(pdfs);
    unsetenv("FAKE_PAGES");
    unsetenv("FAKE_DELAY");
    EXPECT_EQ(r.code, 0) << r.err.substr(0, 2000);
    EXPECT_FALSE(Contains(r.err, "ended early")) << r.err.substr(0, 2000);
    std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 514u);
    std::vector<std::string> keys = Keys();
    ASSERT_EQ(keys.size(), 514u);
    for (const std::string& key : keys)
        EXPECT_EQ(StoredProgress(key), 100000) << key;
    // Printed in submission order, one book per PDF.
    IniFile meta((books_ / "meta.ini").string());
    for (size_t i = 0; i < out.size(); i += 73)
        EXPECT_EQ(meta.ReadText(KeyOf(out[i]), "pdf_url"), pdfs[i]) << i;
    // Nothing is left to resume.
    RunResult resume = Run({"--resume"}, "resume");
    EXPECT_EQ(resume.code, 0) << resume.err;
}
