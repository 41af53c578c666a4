// The diagnostic log: record text and suffixes, the record limit, standard error as the
// debug channel, the status report and its switch, and the shell failure texts.
#include "config/DiagLog.h"
#include "config/IniFile.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sends standard error to a file for the life of the object.
class StderrCapture {
public:
    explicit StderrCapture(const fs::path& file) : file_(file)
    {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { Text(); }
    std::string Text()
    {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
        }
        return ReadFileBytes(file_);
    }

private:
    fs::path file_;
    int saved_ = -1;
};

std::string TimeKey()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char key[64];
    std::strftime(key, sizeof key, "%X", &local);
    return key;
}

class DiagLogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        DiagLog::Instance().SetSwitches(0, 0);
        DiagLog::Instance().SetReportPath("");
        DiagLog::Instance().SetDebugOutput(true);
    }
    std::string Report() const { return (home_.Root() / "data" / "report.txt").string(); }

    TempHome home_;
    DiagLog& log_ = DiagLog::Instance();
};

} // namespace

TEST_F(DiagLogTest, SuffixFollowsTheErrorCode)
{
    StderrCapture err(home_.Root() / "stderr.txt");
    EXPECT_EQ(log_.Report("Ini", 106, 0, "NO memory for %d bytes", 4097), 0);
    EXPECT_EQ(log_.Report("AppConfig", 7, ENOENT, "ERR:CreateFile failed on %s", "/x"), ENOENT);
    log_.SetLastServerResponse("550 Permission denied.");
    EXPECT_EQ(log_.Report("Upload", 9, 12003, "ERR:%5s|%-3c|", "ab", 'z'), 12003);
    // The server text belongs to the thread that received it.
    std::thread([&] { log_.Report("Upload", 10, 12003, "ERR:other thread"); }).join();
    errno = EACCES;
    log_.Report("X", 1, 0, "INF:no change to errno");
    EXPECT_EQ(errno, EACCES);

    EXPECT_EQ(err.Text(), "NO memory for 4097 bytes, line 106 in Ini errno:0\n"
                          "ERR:CreateFile failed on /x, line 7 in AppConfig: errno:2 Reason:No such file or directory \n"
                          "ERR:   ab|z  |, line 9 in Upload: errno:12003 Reason:550 Permission denied.\n"
                          "ERR:other thread, line 10 in Upload: errno:12003 Reason:\n"
                          "INF:no change to errno, line 1 in X errno:0\n");
}

TEST_F(DiagLogTest, LongRecordsAreCutAt511BytesOnACharacterBoundary)
{
    log_.SetReportPath(Report());
    log_.SetSwitches(1, 0);
    StderrCapture err(home_.Root() / "stderr.txt");
    const std::string message(600, 'm');
    log_.Report("Ini", 1, 0, "%s", message.c_str());
    // 510 ASCII bytes then a two-byte character: the record stops before it.
    const std::string almost = std::string(510, 'a') + "\xC3\xA9";
    const std::string key = TimeKey();
    log_.Report("Ini", 2, 0, "%s", almost.c_str());
    EXPECT_EQ(err.Text(), std::string(511, 'm') + "\n" + std::string(510, 'a') + "\n");
    if (key == TimeKey()) {
        EXPECT_EQ(IniFile(Report()).ReadRaw("errlog", key, 4096), std::string(510, 'a'));
    }
}

TEST_F(DiagLogTest, ReportIsWrittenOnlyWhileSwitchedOn)
{
    // Before the configuration is loaded nothing is stored, whatever the switches say.
    log_.SetSwitches(1, 1);
    StderrCapture err(home_.Root() / "stderr.txt");
    log_.Report("AppConfig", 1, 0, "INF:early");
    log_.SetReportPath(Report());
    log_.SetSwitches(0, 0);
    log_.Report("AppConfig", 2, 0, "INF:switched off");
    EXPECT_FALSE(fs::exists(Report()));
    EXPECT_EQ(err.Text(), "INF:early, line 1 in AppConfig errno:0\nINF:switched off, line 2 in AppConfig errno:0\n");

    StderrCapture quiet(home_.Root() / "stderr2.txt");
    log_.SetSwitches(1, 0);
    EXPECT_EQ(log_.log_err(), 1u);
    EXPECT_EQ(log_.log_cmd(), 0u);
    // Two records in one second leave the second only; retried if the clock ticks between.
    bool same_second = false;
    for (int attempt = 0; attempt < 5 && !same_second; ++attempt) {
        fs::remove(Report());
        const std::string before = TimeKey();
        log_.Report("MainDlg", 3, 0, "ERR:first");
        log_.Report("MainDlg", 4, 0, "ERR:second");
        same_second = before == TimeKey();
        if (same_second) {
            IniFile report(Report());
            EXPECT_EQ(report.ReadRaw("errlog", before), "ERR:second, line 4 in MainDlg errno:0");
            EXPECT_EQ(report.SectionNames(4, 16), 7);
            EXPECT_EQ(ReadFileBytes(Report()).find("first"), std::string::npos);
        }
    }
    EXPECT_TRUE(same_second);

    // The pipeline writes command lines itself, into a section of their own.
    const std::string key = TimeKey();
    log_.WriteRecord("cmdline", "rastrix -x \"a b\"");
    if (key == TimeKey()) {
        EXPECT_EQ(IniFile(Report()).ReadRaw("cmdline", key), "rastrix -x \"a b\"");
    }
}

TEST_F(DiagLogTest, MissingReportFolderFailsSilently)
{
    const fs::path missing = home_.Root() / "no-books" / "report.txt";
    log_.SetReportPath(missing.string());
    log_.SetSwitches(1, 0);
    StderrCapture err(home_.Root() / "stderr.txt");
    EXPECT_EQ(log_.Report("CreateHtml", 5, EIO, "ERR:x"), EIO);
    EXPECT_FALSE(fs::exists(missing.parent_path()));
    EXPECT_EQ(err.Text().rfind("ERR:x, line 5 in CreateHtml: errno:5 Reason:", 0), 0u);
}

TEST_F(DiagLogTest, ConcurrentRecordsKeepTheReportWhole)
{
    log_.SetReportPath(Report());
    log_.SetSwitches(1, 0);
    StderrCapture err(home_.Root() / "stderr.txt");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i)
                log_.Report("ProcessPdfThread", t, 0, "INF:thread %d record %d", t, i);
        });
    for (auto& th : threads)
        th.join();
    // Every record reached standard error whole, one per line.
    const std::string text = err.Text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 100);
    for (int t = 0; t < 4; ++t)
        EXPECT_NE(text.find("INF:thread " + std::to_string(t) + " record 24, line " + std::to_string(t)),
                  std::string::npos);
    // The report holds one section of well-formed records.
    IniFile report(Report());
    EXPECT_EQ(report.SectionNames(4, 16), 7);
    EXPECT_EQ(report.SectionNameList(), std::vector<std::string>{"errlog"});
}

TEST(ReportShellFailure, TextPerResultCode)
{
    EXPECT_STREQ(ReportShellFailure(0), "ShellExecute failed:NS_ERROR_OUT_OF_MEMORY");
    EXPECT_STREQ(ReportShellFailure(8), "ShellExecute failed:NS_ERROR_OUT_OF_MEMORY");
    EXPECT_STREQ(ReportShellFailure(2), "ShellExecute failed:ERROR_FILE_NOT_FOUND");
    EXPECT_STREQ(ReportShellFailure(3), "ShellExecute failed:ERROR_PATH_NOT_FOUND");
    EXPECT_STREQ(ReportShellFailure(5), "ShellExecute failed:SE_ERR_ACCESSDENIED");
    EXPECT_STREQ(ReportShellFailure(11), "ShellExecute failed:ERROR_BAD_FORMAT");
    EXPECT_STREQ(ReportShellFailure(26), "ShellExecute failed:SE_ERR_SHARE");
    EXPECT_STREQ(ReportShellFailure(27), "ShellExecute failed:SE_ERR_ASSOCINCOMPLETE");
    EXPECT_STREQ(ReportShellFailure(28), "ShellExecute failed:DDETIMEOUT");
    EXPECT_STREQ(ReportShellFailure(29), "ShellExecute failed:SE_ERR_DDEFAIL");
    EXPECT_STREQ(ReportShellFailure(30), "ShellExecute failed:SE_ERR_DDEBUSY");
    EXPECT_STREQ(ReportShellFailure(31), "ShellExecute failed:SE_ERR_NOASSOC");
    for (int other : {1, 4, 12, 25, -3})
        EXPECT_STREQ(ReportShellFailure(other), "ShellExecute failed:unknow reason");
}

TEST_F(DiagLogTest, ADisabledDebugChannelStillFillsTheReport)
{
    log_.SetReportPath(Report());
    log_.SetSwitches(1, 0);
    log_.SetDebugOutput(false);
    StderrCapture err(home_.Root() / "stderr.txt");
    const std::string key = TimeKey();
    log_.Report("ProcessPdfThread", 7, 0, "ERR:engine failed");
    EXPECT_EQ(err.Text(), "");
    if (key == TimeKey()) {
        EXPECT_EQ(IniFile(Report()).ReadRaw("errlog", key), "ERR:engine failed, line 7 in ProcessPdfThread errno:0");
    }
}

TEST_F(DiagLogTest, ControlCharactersAreShownEscapedSoARecordStaysOneLine)
{
    log_.SetReportPath(Report());
    log_.SetSwitches(1, 0);
    StderrCapture err(home_.Root() / "stderr.txt");
    // A user name and a server reply that try to end the record and plant another.
    const std::string key = TimeKey();
    log_.SetLastServerResponse("550 no\r\n[cmdline]");
    log_.Report("Upload", 3, 12003, "ERR:login failed,u:%s", "eve\r\n12:00:00=INF:forged\t\x01\x7f");
    log_.WriteRecord("cmdline", "rastrix a\nb=c");
    const std::string shown = "ERR:login failed,u:eve\\r\\n12:00:00=INF:forged\\t\\x01\\x7F, line 3 in Upload: "
                              "errno:12003 Reason:550 no\\r\\n[cmdline]";
    EXPECT_EQ(err.Text(), shown + "\n");
    if (key == TimeKey()) {
        IniFile report(Report());
        EXPECT_EQ(report.ReadRaw("errlog", key, 4096), shown);
        EXPECT_EQ(report.ReadRaw("cmdline", key, 4096), "rastrix a\\nb=c");
        EXPECT_EQ(report.SectionNames(4, 16), 15) << "errlog and cmdline only";
        const std::string file = ReadFileBytes(Report());
        EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 4) << file;
    }
}
