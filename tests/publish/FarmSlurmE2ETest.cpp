// End to end: a backlog of PDFs converted and published by a Slurm job array on the
// test's own one-node cluster, submitted with the shipped scripts, to a vsftpd the test
// starts: every good PDF's book equals a single-machine run's, every bad PDF is one
// failure with its reason, the farm report counts both; then a task killed in mid-run is
// completed by a resubmission that converts no finished book again.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "batch/ResultLog.h"
#include "tests/pipeline/BatchE2EFixture.h"
#include "tests/publish/PublishedBook.h"
#include "tests/publish/SlurmCluster.h"
#include "tests/publish/TransportServers.h"

namespace fs = std::filesystem;

namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class FarmSlurmE2E : public BatchE2E {
protected:
    void SetUp() override
    {
        BatchE2E::SetUp();
        if (IsSkipped())
            return;
        if (const std::string why = SlurmCluster::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        std::string why;
        account_ = TestAccount::Get(why);
        if (!account_)
            GTEST_SKIP() << why;
        folder_ = std::make_unique<ServerFolder>();
        ASSERT_EQ(chown(folder_->Site().c_str(), account_->uid, account_->gid), 0);
        vsftpd_ = std::make_unique<VsftpdServer>(*account_, *folder_);
        ASSERT_TRUE(vsftpd_->Running());
        const fs::path remote = folder_->Site() / "books";
        fs::create_directories(remote);
        ASSERT_EQ(chown(remote.c_str(), account_->uid, account_->gid), 0);
        // One conversion at a time per task, so that a task is caught between two books.
        Configure({{"option/threads_limit", "1"}});
        RunResult saved = Run({"--set-ftp-target", "127.0.0.1/books", "--protocol", "ftps", "--ftp-user",
                               account_->name, "--ftp-webaddr", "http://127.0.0.1/books/", "--ftp-port",
                               std::to_string(vsftpd_->Port()), "--accept-fingerprint", vsftpd_->Fingerprint()},
                              "target", account_->password + "\n");
        ASSERT_EQ(saved.code, 0) << saved.err;
        cluster_ = std::make_unique<SlurmCluster>(home_.Root() / "slurm");
        ASSERT_TRUE(cluster_->Running()) << cluster_->Why();
    }

    // Submits the list to a 4-task array and the report step, with the shipped wrapper;
    // the array's job ID.
    std::string Submit()
    {
        std::string out;
        const int code = cluster_->Command({(SourceDir() / "scripts/slurm/submit-farm.sh").string(), "--list",
                                            list_.string(), "--farm", farm_.string(), "--tasks", "4", "--publish",
                                            "--batch", batch_.string(), "--", "--cpus-per-task=1"},
                                           &out);
        EXPECT_EQ(code, 0) << out;
        std::istringstream words(out);
        std::string label, array;
        words >> label >> array;
        EXPECT_EQ(label, "array") << out;
        return array;
    }

    void WaitForTheReport()
    {
        ASSERT_TRUE(cluster_->WaitIdle(400)) << ReadFileBytes(farm_ / "logs/task-0.out");
    }

    // Every results line of the farm, by PDF.
    std::map<std::string, std::vector<ItemResult>> Results() const
    {
        std::map<std::string, std::vector<ItemResult>> by_pdf;
        for (int task = 0; task < 4; ++task)
            for (ItemResult& r : ReadResults((farm_ / ("task-" + std::to_string(task)) / "results.jsonl").string()))
                by_pdf[r.pdf].push_back(r);
        return by_pdf;
    }

    static int Count(const std::vector<ItemResult>& lines, const std::string& outcome)
    {
        int n = 0;
        for (const ItemResult& r : lines)
            n += r.outcome == outcome;
        return n;
    }

    static const ItemResult* Last(const std::vector<ItemResult>& lines, const std::string& outcome)
    {
        const ItemResult* found = nullptr;
        for (const ItemResult& r : lines)
            if (r.outcome == outcome)
                found = &r;
        return found;
    }

    // The report the dependent job made: its counts.
    std::map<std::string, int> ReportCounts() const
    {
        std::map<std::string, int> counts;
        const std::string json = ReadFileBytes(farm_ / "report.json");
        for (const char* name : {"items", "done", "failed", "unfinished", "not_started"}) {
            const std::string field = std::string("\"") + name + "\": ";
            const size_t at = json.find(field);
            counts[name] = at == std::string::npos ? -1 : std::atoi(json.c_str() + at + field.size());
        }
        return counts;
    }

    void AppendToList(const std::vector<fs::path>& pdfs)
    {
        std::string text = ReadFileBytes(list_);
        for (const fs::path& pdf : pdfs)
            text += pdf.string() + "\n";
        WriteFileBytes(list_, text);
    }

    const TestAccount* account_ = nullptr;
    std::unique_ptr<ServerFolder> folder_;
    std::unique_ptr<VsftpdServer> vsftpd_;
    std::unique_ptr<SlurmCluster> cluster_;
    fs::path list_ = home_.Root() / "backlog.txt";
    fs::path farm_ = home_.Root() / "farm";
};

TEST_F(FarmSlurmE2E, ABacklogRunsAsAnArrayAndAKilledTaskIsCompletedByAResubmission)
{
    // 24 PDFs: 18 good ones and 6 hostile ones (encrypted, cut short, not a PDF), and a
    // line naming a file that is not there; 8 more good ones join the list later.
    std::vector<fs::path> good, later;
    for (int i = 0; i < 18; ++i)
        good.push_back(home_.Root() / ("book-" + std::to_string(i) + ".pdf"));
    for (int i = 0; i < 8; ++i)
        later.push_back(home_.Root() / ("later-" + std::to_string(i) + ".pdf"));
    std::map<fs::path, std::string> bad;  // PDF, a word of its reason
    for (int i = 0; i < 2; ++i) {
        bad[home_.Root() / ("locked-" + std::to_string(i) + ".pdf")] = "encrypted";
        bad[home_.Root() / ("cut-" + std::to_string(i) + ".pdf")] = "cut short";
        bad[home_.Root() / ("notes-" + std::to_string(i) + ".pdf")] = "not a PDF";
    }
    bad[home_.Root() / "gone.pdf"] = "no such file";
    // One interpreter makes them all: good books of one page (the later ones of two), and
    // PDFs encrypted with a user password.
    std::string script = "import runpy, sys\nsys.path.insert(0, '" + (SourceDir() / "tests/pdfgen").string() +
                         "')\nfrom pdfgen import build, text_page\n";
    for (const auto* set : {&good, &later})
        for (const fs::path& pdf : *set)
            script += "sys.argv = ['make', '" + pdf.string() + "', '--pages', '" + (set == &good ? "1" : "2") +
                      "', '--title', '" + pdf.stem().string() + "']\nrunpy.run_path('" +
                      (SourceDir() / "tests/pipeline/make_book_pdf.py").string() + "', run_name='__main__')\n";
    for (int i = 0; i < 2; ++i)
        script += "open('" + (home_.Root() / ("locked-" + std::to_string(i) + ".pdf")).string() +
                  "', 'wb').write(build([text_page(1)], user_password='secret', owner_password='o'))\n";
    WriteFileBytes(home_.Root() / "make_pdfs.py", script);
    ASSERT_EQ(std::system(("/usr/bin/python3 " + (home_.Root() / "make_pdfs.py").string()).c_str()), 0);
    for (int i = 0; i < 2; ++i) {
        WriteFileBytes(home_.Root() / ("cut-" + std::to_string(i) + ".pdf"),
                       ReadFileBytes(good[static_cast<size_t>(i)]).substr(0, 300));
        WriteFileBytes(home_.Root() / ("notes-" + std::to_string(i) + ".pdf"), "Minutes of the meeting\nnothing\n");
    }
    std::string list = "# the backlog\n\n";
    auto next_bad = bad.begin();
    for (size_t i = 0; i < good.size(); ++i) {
        list += good[i].string() + "\n";
        if (i % 2 == 1 && next_bad != bad.end())
            list += (next_bad++)->first.string() + "\n";
    }
    WriteFileBytes(list_, list);

    // The single-machine run of the same PDFs, beside the array.
    std::vector<std::string> reference_args = {"--publish"};
    for (const auto* set : {&good, &later})
        for (const fs::path& pdf : *set)
            reference_args.push_back(pdf.string());
    const pid_t reference_run = Start(reference_args, "reference");

    const std::string first_array = Submit();
    WaitForTheReport();
    const RunResult reference = Finish(reference_run, "reference");
    ASSERT_EQ(reference.code, 0) << reference.err;
    const std::vector<std::string> reference_pages = Lines(reference.out);
    ASSERT_EQ(reference_pages.size(), good.size() + later.size());
    std::map<std::string, std::string> reference_key;  // by PDF
    for (size_t i = 0; i < reference_pages.size(); ++i)
        reference_key[(i < good.size() ? good[i] : later[i - good.size()]).string()] = KeyOf(reference_pages[i]);

    // Every good PDF: one book, equal to the single-machine run's but for its key, and
    // published whole at the address its line names.
    auto expect_books = [&](const std::vector<fs::path>& pdfs) {
        const auto results = Results();
        for (const fs::path& pdf : pdfs) {
            SCOPED_TRACE(pdf.string());
            ASSERT_TRUE(results.count(pdf.string()));
            const std::vector<ItemResult>& lines = results.at(pdf.string());
            ASSERT_EQ(Count(lines, kOutcomeDone), 1);
            const ItemResult& done = *Last(lines, kOutcomeDone);
            EXPECT_EQ(done.sha256.size(), 64u);
            ASSERT_EQ(done.addresses.size(), 1u);
            EXPECT_EQ(done.addresses[0].second, "http://127.0.0.1/books/" + done.key + "/index.html");
            const fs::path book = farm_ / ("task-" + std::to_string(done.task)) / "books" / done.key;
            const auto farm_book = Tree(book);
            const auto single_book = Tree(books_ / reference_key[pdf.string()]);
            ASSERT_FALSE(farm_book.empty());
            ASSERT_EQ(farm_book.size(), single_book.size());
            for (const auto& [name, bytes] : single_book) {
                ASSERT_TRUE(farm_book.count(name)) << name;
                EXPECT_TRUE(Replaced(farm_book.at(name), done.key, reference_key[pdf.string()]) == bytes) << name;
            }
            ExpectPublishedBook(book, folder_->Site() / "books" / done.key);
        }
    };
    expect_books(good);
    // Every bad one: one failure line with its reason, and no book.
    {
        const auto results = Results();
        for (const auto& [pdf, reason] : bad) {
            ASSERT_TRUE(results.count(pdf.string())) << pdf;
            const std::vector<ItemResult>& lines = results.at(pdf.string());
            ASSERT_EQ(lines.size(), 1u) << pdf;
            EXPECT_EQ(lines[0].outcome, kOutcomeFailed) << pdf;
            EXPECT_NE(lines[0].error.find(reason), std::string::npos) << pdf << ": " << lines[0].error;
        }
    }
    const int items = static_cast<int>(good.size() + bad.size());
    EXPECT_EQ(ReportCounts(), (std::map<std::string, int>{{"items", items},
                                                          {"done", static_cast<int>(good.size())},
                                                          {"failed", static_cast<int>(bad.size())},
                                                          {"unfinished", 0},
                                                          {"not_started", 0}}))
        << ReadFileBytes(farm_ / "report.txt");
    EXPECT_NE(ReadFileBytes(farm_ / "logs/report.out").find("18 done, 7 failed"), std::string::npos);

    // Eight more PDFs, two in each task's slice; task 0 is killed once it has done one.
    AppendToList(later);
    const std::string second_array = Submit();
    ASSERT_NE(second_array, first_array);
    const std::set<std::string> task0_later = {later[3].string(), later[7].string()};  // positions 28, 32
    const fs::path task0_results = farm_ / "task-0/results.jsonl";
    // Bounded generously: the sanitizer build converts several times slower.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    bool one_done = false;
    while (!one_done && std::chrono::steady_clock::now() < deadline) {
        for (const ItemResult& r : ReadResults(task0_results.string()))
            one_done = one_done || (r.outcome == kOutcomeDone && task0_later.count(r.pdf));
        if (!one_done)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(one_done) << ReadFileBytes(farm_ / "logs/task-0.out");
    // --batch: the signal goes to the task's processes at once. Without it the controller
    // treats SIGKILL as a cancel, which sends SIGTERM first, and vellumark-batch then
    // stops its job resumably instead of dying in it.
    ASSERT_EQ(cluster_->Command({"scancel", "--batch", "--signal=KILL", second_array + "_0"}), 0);
    WaitForTheReport();
    {
        const auto results = Results();
        int done = 0;
        for (const std::string& pdf : task0_later)
            done += results.count(pdf) ? Count(results.at(pdf), kOutcomeDone) : 0;
        ASSERT_EQ(done, 1) << "the task ended before the kill";
    }
    EXPECT_EQ(ReportCounts()["unfinished"], 1) << ReadFileBytes(farm_ / "report.txt");

    // The same submission again completes the killed task's book: resumed under its
    // key, no finished book converted again, every published book whole.
    Submit();
    WaitForTheReport();
    std::vector<fs::path> all_good = good;
    all_good.insert(all_good.end(), later.begin(), later.end());
    expect_books(all_good);
    const auto results = Results();
    std::set<std::string> keys;
    for (const fs::path& pdf : all_good) {
        const std::vector<ItemResult>& lines = results.at(pdf.string());
        EXPECT_EQ(Count(lines, kOutcomeStarted), 1) << pdf << ": converted more than once";
        EXPECT_EQ(Last(lines, kOutcomeStarted)->key, Last(lines, kOutcomeDone)->key) << pdf;
        keys.insert(Last(lines, kOutcomeDone)->key);
    }
    for (const auto& [pdf, key] : reference_key)
        keys.insert(key);
    // Nothing on the server but the books done (and the viewer's shared files).
    for (const auto& entry : fs::directory_iterator(folder_->Site() / "books")) {
        if (entry.is_directory() && entry.path().filename().string().size() == 32) {
            EXPECT_TRUE(keys.count(entry.path().filename().string())) << entry.path();
        }
    }
    EXPECT_EQ(ReportCounts(), (std::map<std::string, int>{{"items", items + 8},
                                                          {"done", static_cast<int>(all_good.size())},
                                                          {"failed", static_cast<int>(bad.size())},
                                                          {"unfinished", 0},
                                                          {"not_started", 0}}))
        << ReadFileBytes(farm_ / "report.txt");
}

}  // namespace
