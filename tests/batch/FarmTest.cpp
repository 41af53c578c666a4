// The farm's parts that need no conversion: the list, the slice arithmetic and its
// sources, the results lines and the merged report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <set>
#include <unistd.h>

#include "batch/FarmList.h"
#include "batch/FarmReport.h"
#include "batch/ResultLog.h"
#include "tests/helpers/TempHome.h"

namespace {
EnvReader Env(std::map<std::string, std::string> values)
{
    return [values](const std::string& name) {
        auto found = values.find(name);
        return found == values.end() ? std::string() : found->second;
    };
}

ItemResult Line(const std::string& outcome, const std::string& pdf, const std::string& sha, const std::string& time,
                int pages = 0, double seconds = 0, const std::string& error = "")
{
    ItemResult r(outcome, pdf, sha, "K", pages);
    r.seconds = seconds;
    r.time = time;
    r.error = error;
    return r;
}
}  // namespace

TEST(FarmList, CommentsBlanksAndRelativePathsAreHandled)
{
    const std::string text = "# a backlog\n\n/a/one.pdf\r\n   two.pdf  \n\t# indented comment\nsub/three.pdf\n \n";
    EXPECT_EQ(ParseList(text, "/lists"),
              (std::vector<std::string>{"/a/one.pdf", "/lists/two.pdf", "/lists/sub/three.pdf"}));
    std::vector<std::string> items;
    std::string error;
    EXPECT_FALSE(ReadList("/no/such/list.txt", items, error));
    EXPECT_NE(error.find("/no/such/list.txt"), std::string::npos);
}

TEST(FarmList, SlicesCoverEveryItemExactlyOnce)
{
    for (size_t total : {0u, 1u, 3u, 24u, 25u}) {
        for (int count : {1, 2, 4, 7, 30}) {
            std::multiset<size_t> seen;
            for (int index = 0; index < count; ++index) {
                for (size_t position : SlicePositions(total, {index, count})) {
                    EXPECT_EQ(position % static_cast<size_t>(count), static_cast<size_t>(index));
                    seen.insert(position);
                }
            }
            ASSERT_EQ(seen.size(), total) << total << " " << count;
            for (size_t i = 0; i < total; ++i)
                EXPECT_EQ(seen.count(i), 1u) << i;
        }
    }
}

TEST(FarmList, SliceTextsAndVariablesAreCheckedBeforeUse)
{
    Slice slice;
    std::string error;
    EXPECT_TRUE(ParseSlice("2/4", slice, error));
    EXPECT_EQ(slice.index, 2);
    EXPECT_EQ(slice.count, 4);
    for (const char* bad : {"4/4", "0/0", "-1/4", "1", "a/4", "1/", "1/4x", " 1/4", "99999999999/1"})
        EXPECT_FALSE(ParseSlice(bad, slice, error)) << bad;

    // A Slurm array 1-8:2 (IDs 1, 3, 5, 7): ID 5 is the third task of four.
    ASSERT_TRUE(SliceFromSlurm(Env({{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_MIN", "1"},
                                    {"SLURM_ARRAY_TASK_COUNT", "4"}, {"SLURM_ARRAY_TASK_STEP", "2"}}),
                               slice, error))
        << error;
    EXPECT_EQ(slice.index, 2);
    EXPECT_EQ(slice.count, 4);
    // No step variable: steps of one.
    ASSERT_TRUE(SliceFromSlurm(Env({{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_MIN", "0"},
                                    {"SLURM_ARRAY_TASK_COUNT", "4"}}),
                               slice, error));
    EXPECT_EQ(slice.index, 3);
    // Outside an array: no slice and no error; a list of IDs that is no range: an error.
    error.clear();
    EXPECT_FALSE(SliceFromSlurm(Env({}), slice, error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(SliceFromSlurm(Env({{"SLURM_ARRAY_TASK_ID", "9"}, {"SLURM_ARRAY_TASK_MIN", "1"},
                                     {"SLURM_ARRAY_TASK_COUNT", "3"}}),
                                slice, error));
    EXPECT_FALSE(error.empty());

    // Another engine's index, its count in the default or a named variable.
    ASSERT_TRUE(SliceFromEnv("JOB_COMPLETION_INDEX", Env({{"JOB_COMPLETION_INDEX", "1"}, {kDefaultCountVariable, "3"}}),
                             slice, error));
    EXPECT_EQ(slice.index, 1);
    EXPECT_EQ(slice.count, 3);
    ASSERT_TRUE(SliceFromEnv("I,N", Env({{"I", "0"}, {"N", "2"}}), slice, error));
    EXPECT_EQ(slice.count, 2);
    EXPECT_FALSE(SliceFromEnv("I", Env({{"I", "0"}}), slice, error));
    EXPECT_NE(error.find(kDefaultCountVariable), std::string::npos);
    EXPECT_FALSE(SliceFromEnv("I,N", Env({{"I", "2"}, {"N", "2"}}), slice, error));
    EXPECT_FALSE(SliceFromEnv(",N", Env({{"N", "2"}}), slice, error));
}

TEST(FarmResults, LinesSurviveTheRoundTripAndACutLastLineIsSkipped)
{
    TempHome home;
    const std::string file = (home.Root() / "results.jsonl").string();
    ItemResult done = Line(kOutcomeDone, "/b/a \"quoted\"\nname.pdf", "ab12", "2026-01-01T00:00:00Z", 3, 1.5);
    done.addresses = {{"ftp", "http://h/books/K/index.html"}};
    std::string error;
    ASSERT_TRUE(AppendResult(file, done, error)) << error;
    ASSERT_TRUE(AppendResult(file, Line(kOutcomeFailed, "/b/x.pdf", "", "t", 0, 0, "not a PDF"), error));
    // A line cut short (a full disk), then one that is no result at all.
    const int fd = open(file.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(write(fd, "[1]\n{\"outcome\":\"do", 18), 18);
    close(fd);
    int skipped = 0;
    const std::vector<ItemResult> read = ReadResults(file, &skipped);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(skipped, 2);
    EXPECT_EQ(read[0].pdf, done.pdf);
    EXPECT_EQ(read[0].pages, 3);
    EXPECT_DOUBLE_EQ(read[0].seconds, 1.5);
    EXPECT_EQ(read[0].addresses, done.addresses);
    EXPECT_EQ(read[1].error, "not a PDF");
    // Each line is one line, whatever the file name holds.
    EXPECT_EQ(ResultLine(done).find('\n'), ResultLine(done).size() - 1);
}

TEST(FarmReport, TheLatestBytesOfEachPdfDecideItsVerdict)
{
    const std::vector<ItemResult> lines = {
        // Done on the first run, after a failed attempt.
        Line(kOutcomeFailed, "/a.pdf", "s1", "2026-01-01T00:00:01Z", 0, 0.5, "the job ended early"),
        Line(kOutcomeDone, "/a.pdf", "s1", "2026-01-01T00:00:02Z", 4, 2.0),
        // Failed twice: counted once, with its latest reason.
        Line(kOutcomeFailed, "/bad.pdf", "s2", "2026-01-01T00:00:01Z", 0, 0.1, "old reason"),
        Line(kOutcomeFailed, "/bad.pdf", "s2", "2026-01-01T00:00:05Z", 0, 0.1, "not a PDF"),
        // Started and never ended (a killed task).
        Line(kOutcomeStarted, "/killed.pdf", "s3", "2026-01-01T00:00:03Z", 2),
        // Done, then changed: its new bytes are not done.
        Line(kOutcomeDone, "/changed.pdf", "old", "2026-01-01T00:00:01Z", 5, 1.0),
        Line(kOutcomeFailed, "/changed.pdf", "new", "2026-01-01T00:00:06Z", 0, 0.2, "damaged"),
        // Failed, then started again by a later run that was killed.
        Line(kOutcomeFailed, "/retried.pdf", "s4", "2026-01-01T00:00:01Z", 0, 0.1, "ended early"),
        Line(kOutcomeStarted, "/retried.pdf", "s4", "2026-01-01T00:00:09Z", 1),
    };
    const FarmSummary s = MergeResults(lines);
    EXPECT_EQ(s.items, 5);
    EXPECT_EQ(s.done, 1);
    EXPECT_EQ(s.failed, 2);
    EXPECT_EQ(s.unfinished, 2);
    EXPECT_EQ(s.pages, 4);
    EXPECT_NEAR(s.seconds, 4.0, 1e-9);
    std::map<std::string, std::string> reasons;
    for (const ItemResult& f : s.failures)
        reasons[f.pdf] = f.error;
    EXPECT_EQ(reasons, (std::map<std::string, std::string>{{"/bad.pdf", "not a PDF"}, {"/changed.pdf", "damaged"}}));

    // --only-failed skips exactly the bytes that were done.
    EXPECT_EQ(DoneItems(lines), (std::vector<std::pair<std::string, std::string>>{{"/a.pdf", "s1"}, {"/changed.pdf", "old"}}));

    // The JSON names the same counts.
    const std::string json = SummaryJson(s);
    EXPECT_NE(json.find("\"done\": 1"), std::string::npos) << json;
    EXPECT_NE(json.find("\"unfinished\": 2"), std::string::npos) << json;
    EXPECT_NE(SummaryText(s).find("failed: /bad.pdf: not a PDF"), std::string::npos);
}

TEST(FarmReport, EveryTaskFolderOfTheFarmIsRead)
{
    TempHome home;
    const auto farm = home.Root() / "farm";
    std::string error;
    std::filesystem::create_directories(farm / "task-0");
    std::filesystem::create_directories(farm / "task-1");
    ASSERT_TRUE(AppendResult((farm / "task-0/results.jsonl").string(), Line(kOutcomeDone, "/a.pdf", "1", "t1", 2),
                             error));
    ASSERT_TRUE(AppendResult((farm / "task-1/results.jsonl").string(),
                             Line(kOutcomeFailed, "/b.pdf", "2", "t1", 0, 0, "no such file"), error));
    std::filesystem::create_directories(farm / "other");
    WriteFileBytes(farm / "other/results.jsonl", "{\"outcome\":\"done\",\"pdf\":\"/c.pdf\"}\n");
    // The list a task noted names a PDF that no task has taken yet.
    WriteFileBytes(home.Root() / "list.txt", "/a.pdf\n/b.pdf\n# not this\n/never.pdf\n");
    WriteFileBytes(farm / "task-0/list", (home.Root() / "list.txt").string() + "\n");
    const FarmSummary s = ReadFarm(farm.string());
    EXPECT_EQ(s.tasks, 2);
    EXPECT_EQ(s.items, 3);
    EXPECT_EQ(s.done, 1);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(s.not_started_items, std::vector<std::string>{"/never.pdf"});
}
