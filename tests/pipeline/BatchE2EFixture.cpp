#include "tests/pipeline/BatchE2EFixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "config/IniFile.h"

extern char** environ;
namespace fs = std::filesystem;

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

void BatchE2E::SetUp()
{
    batch_ = ProgramDir() / "vellumark-batch";
    if (!fs::exists(batch_) || !fs::exists(ProgramDir() / "rastrix"))
        GTEST_SKIP() << "vellumark-batch or the engine is not built";
    books_ = home_.Home() / "Documents/vAziruduues";
    data_ = home_.Root() / "data/Corvane/Vellumark";
}

void BatchE2E::Configure(const std::map<std::string, std::string>& keys)
{
    ASSERT_EQ(Run({"--resume"}, "setup").code, 0);
    ASSERT_TRUE(fs::exists(data_ / "config.ini"));
    IniFile ini((data_ / "config.ini").string());
    for (const auto& [path, value] : keys) {
        size_t slash = path.find('/');
        ini.WriteText(path.substr(0, slash), path.substr(slash + 1), value);
    }
}

fs::path BatchE2E::MakePdf(const std::string& name, int pages, const std::string& title, int changed_page)
{
    fs::path pdf = home_.Root() / name;
    std::string command = "python3 '" + (SourceDir() / "tests/pipeline/make_book_pdf.py").string() + "' '" +
                          pdf.string() + "' --pages " + std::to_string(pages) + " --title '" + title + "'" +
                          " --changed-page " + std::to_string(changed_page);
    EXPECT_EQ(std::system(command.c_str()), 0);
    return pdf;
}

pid_t BatchE2E::Start(const std::vector<std::string>& args, const std::string& tag, const std::string& input)
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
    if (!input.empty()) {
        WriteFileBytes(home_.Root() / (tag + ".in"), input);
        posix_spawn_file_actions_addopen(&actions, 0, (home_.Root() / (tag + ".in")).c_str(), O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, (home_.Root() / (tag + ".out")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (home_.Root() / (tag + ".err")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

RunResult BatchE2E::Finish(pid_t pid, const std::string& tag)
{
    RunResult r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        r.code = WEXITSTATUS(status);
    r.out = ReadFileBytes(home_.Root() / (tag + ".out"));
    r.err = ReadFileBytes(home_.Root() / (tag + ".err"));
    return r;
}

RunResult BatchE2E::Run(const std::vector<std::string>& args, const std::string& tag, const std::string& input)
{
    return Finish(Start(args, tag, input), tag);
}

std::vector<std::string> BatchE2E::Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::string BatchE2E::KeyOf(const std::string& index_path)
{
    return fs::path(index_path).parent_path().filename();
}

int32_t BatchE2E::StoredProgress(const std::string& key)
{
    return IniFile((books_ / "meta.ini").string()).ReadInt(key, "progress");
}

std::string BatchE2E::OnlyKey()
{
    IniFile meta((books_ / "meta.ini").string());
    meta.SectionNames(1024, 32);
    return meta.SectionNameList().size() == 1 ? meta.SectionNameList()[0] : std::string();
}

std::vector<std::string> BatchE2E::Keys()
{
    IniFile meta((books_ / "meta.ini").string());
    meta.SectionNames(1024, 32);
    return meta.SectionNameList();
}

std::vector<std::string> BatchE2E::CommandRecords()
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

std::map<std::string, fs::file_time_type> BatchE2E::Times(const fs::path& folder)
{
    std::map<std::string, fs::file_time_type> times;
    for (const auto& entry : fs::directory_iterator(folder))
        times[entry.path().filename()] = entry.last_write_time();
    return times;
}

void BatchE2E::ExpectCompleteBook(const fs::path& book, int pages)
{
    // The tile index's entries, one line per page: null for a page drawn without tiles.
    std::vector<bool> tiled;
    const std::string index = ReadFileBytes(book / "tiles/tiles.js");
    const std::string head = "\"pages\":[";
    for (size_t at = index.find(head) + head.size(); at > head.size() && at < index.size() && index[at] != ']';
         at = index.find('\n', at) + 1)
        tiled.push_back(index.compare(at, 4, "null") != 0);
    EXPECT_EQ(tiled.size(), static_cast<size_t>(pages)) << index;
    for (int n = 1; n <= pages; ++n) {
        std::string jpg = "img-" + std::to_string(n) + ".jpg";
        std::string png = "img-" + std::to_string(n) + "-f.png";
        std::string e = "img-" + std::to_string(n) + "-e.jpg";
        EXPECT_TRUE(fs::exists(book / "thumb" / e)) << n;
        for (const char* folder : {"100", "HighRes", "MedRes", "LowRes"}) {
            ASSERT_TRUE(fs::exists(book / folder / jpg)) << folder << " " << n;
            // The zoom images' text is in the tiles: their own text layer is empty.
            const bool in_tiles = std::string(folder) == "100" && n <= static_cast<int>(tiled.size()) && tiled[n - 1];
            const std::pair<int, int> layer = in_tiles ? std::make_pair(1, 1) : JpegSize(book / folder / jpg);
            EXPECT_EQ(PngSize(book / folder / png), layer) << folder << " " << n;
        }
    }
    EXPECT_TRUE(fs::exists(book / "thumb/img-1-e-cover.jpg"));
    EXPECT_TRUE(fs::exists(book / "thumb/img-1-e-share.jpg"));
    // The shipped page prints from the high-resolution set: no images exist for printing alone.
    EXPECT_FALSE(fs::exists(book / "print"));
    EXPECT_FALSE(fs::exists(book / "thumb" / ("img-" + std::to_string(pages + 1) + "-e.jpg")));
    EXPECT_TRUE(fs::exists(book / "text.html"));
    EXPECT_TRUE(fs::exists(book / "txt.js"));
    std::string page = ReadFileBytes(book / "index.html");
    EXPECT_EQ(page.rfind("<!DOCTYPE", 0), 0u);
    EXPECT_EQ(page.find("<%"), std::string::npos);
    EXPECT_NE(page.find("data-print-set=\"HighRes\""), std::string::npos);
    EXPECT_NE(page.find("data-zoom-text=\"tiles\""), std::string::npos);
    EXPECT_EQ(page.find("%>"), std::string::npos);
}
