#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "pipeline/CreateSearchDB.h"
#include "pipeline/EngineRun.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

const char* const kFakeVars[] = {"FAKE_ENGINE_MODE", "FAKE_ENGINE_DELAY", "FAKE_ENGINE_TEXT",
                                 "FAKE_ENGINE_STREAM", "FAKE_ENGINE_ARGS", "FAKE_ENGINE_FDS"};

// A small valid PDF of `pages` letter-size pages, each with one line of text.
std::string MakePdf(int pages) {
    std::vector<std::string> objects;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < pages; ++i) {
        std::string content = "BT /F1 24 Tf 72 700 Td (Searchable page " + std::to_string(i + 1) + ") Tj ET";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >>"
                          " /Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[32];
        snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

}  // namespace

class EngineQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* var : kFakeVars) unsetenv(var);
        setenv("FAKE_ENGINE_MODE", "raw", 1);
        setenv("FAKE_ENGINE_STREAM", "1", 1);
    }
    void TearDown() override {
        for (const char* var : kFakeVars) unsetenv(var);
    }
    static void Output(const std::string& text) { setenv("FAKE_ENGINE_TEXT", text.c_str(), 1); }
    static std::string Fake() { return FAKE_ENGINE_PATH; }
    TempHome home;
};

TEST_F(EngineQueryTest, InfoQueryReadsSevenLinesWithAnyLineEnding) {
    Output("My \"Title\"\r\nignored\r\ntag1, tag2\r\nA description\r\n12\r\n612\r\n792\r\n");
    EngineDocInfo info;
    ASSERT_TRUE(EngineRun::QueryInfo(72, Fake(), "/in/a.pdf", info));
    EXPECT_EQ(info.title, "My \"Title\"");
    EXPECT_EQ(info.tags, "tag1, tag2");
    EXPECT_EQ(info.description, "A description");
    EXPECT_EQ(info.page_count, 12);
    EXPECT_EQ(info.page_width, 612);
    EXPECT_EQ(info.page_height, 792);

    // Output that arrives in several pieces is read whole, not only its last piece.
    setenv("FAKE_ENGINE_DELAY", "50", 1);
    Output("Split\n\n\x1f\nkw\n3\x1f\n100\n200");
    ASSERT_TRUE(EngineRun::QueryInfo(72, Fake(), "/in/a.pdf", info));
    EXPECT_EQ(info.title, "Split");
    EXPECT_EQ(info.tags, "");
    EXPECT_EQ(info.description, "kw");
    EXPECT_EQ(info.page_count, 3);
    EXPECT_EQ(info.page_height, 200);
}

TEST_F(EngineQueryTest, InfoQueryCutsLongTextsOnCharacterBoundaries) {
    std::string long_title;
    for (int i = 0; i < 700; ++i) long_title += "\xC3\xA9\xF0\x9F\x98\x80";  // 1 + 2 UTF-16 units each
    Output(long_title + "\n\n\n\n1\n10\n10\n");
    EngineDocInfo info;
    ASSERT_TRUE(EngineRun::QueryInfo(72, Fake(), "/in/a.pdf", info));
    // 341 pairs (1023 units) fit; the next character alone would fit, the emoji would not.
    EXPECT_EQ(info.title.size(), 341u * 6 + 2);
    EXPECT_EQ(info.title, long_title.substr(0, 341 * 6 + 2));
}

TEST_F(EngineQueryTest, QueriesFailWithoutUsableNumbers) {
    EngineDocInfo info;
    info.page_count = 99;
    Output("T\n\nK\nD\n0\n612\n792\n");
    EXPECT_FALSE(EngineRun::QueryInfo(72, Fake(), "/in/a.pdf", info));
    Output("cannot open document\n");
    EXPECT_FALSE(EngineRun::QueryInfo(72, Fake(), "/in/a.pdf", info));
    EXPECT_EQ(info.page_count, 99);

    int32_t w = -1, h = -1;
    Output("640\r\n480\r\n");
    ASSERT_TRUE(EngineRun::QuerySize(96, Fake(), "/in/a.pdf", w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    Output("640\n");
    EXPECT_FALSE(EngineRun::QuerySize(96, Fake(), "/in/a.pdf", w, h));
    Output("640\n4x0\n");
    EXPECT_FALSE(EngineRun::QuerySize(96, Fake(), "/in/a.pdf", w, h));
    EXPECT_EQ(w, 640);
}

TEST_F(EngineQueryTest, MissingEngineFailsEveryQueryWithItsLogText) {
    const std::string missing = (home.Root() / "no-engine").string();
    EngineDocInfo info;
    int32_t w = 0, h = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(EngineRun::QueryInfo(72, missing, "/in/a.pdf", info));
    EXPECT_FALSE(EngineRun::QuerySize(72, missing, "/in/a.pdf", w, h));
    CreateSearchDB("/in/a.pdf", home.Root().string(), 72, missing, "T", 1);
    std::string log = testing::internal::GetCapturedStderr();
    size_t first = log.find("ERR:Cannot get the meta infomation of the PDF");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("CreateSearchDB"), std::string::npos) << log;
}

// The search run gets its output on standard output and every value as one argument.
TEST_F(EngineQueryTest, SearchRunPassesTheTitleUnchangedOnItsOwnStdout) {
    const fs::path args_file = home.Root() / "args";
    const fs::path fds_file = home.Root() / "fds";
    setenv("FAKE_ENGINE_MODE", "fds", 1);
    setenv("FAKE_ENGINE_ARGS", args_file.c_str(), 1);
    setenv("FAKE_ENGINE_FDS", fds_file.c_str(), 1);
    const std::string title = "A \"quoted\" title";
    const std::string book = (home.Root() / "books dir/KEY").string();
    CreateSearchDB("/in/my file.pdf", book, 72, Fake(), title, 4);

    std::string expected;
    for (const std::string& arg : SearchCommand(book, 72, title, 4, "/in/my file.pdf").args) expected += arg + '\0';
    EXPECT_EQ(ReadFileBytes(args_file), expected);
    std::istringstream fds(ReadFileBytes(fds_file));
    std::map<int, std::string> open;
    int fd;
    std::string target;
    while (fds >> fd >> target) open[fd] = target;
    ASSERT_EQ(open.size(), 3u);
    EXPECT_EQ(open[0], "/dev/null");
    EXPECT_EQ(open[1].rfind("pipe:", 0), 0u);
    EXPECT_EQ(open[2], "/dev/null");
}

TEST_F(EngineQueryTest, RealEngineAnswersQueriesAndWritesSearchFiles) {
    const fs::path engine = ProgramDir() / "rastrix";
    if (!fs::exists(engine)) GTEST_SKIP() << "no engine at " << engine << " (build the rastrix target)";
    const fs::path pdf = home.Root() / "in put" / "three pages.pdf";
    WriteFileBytes(pdf, MakePdf(3));

    EngineDocInfo info;
    ASSERT_TRUE(EngineRun::QueryInfo(72, engine.string(), pdf.string(), info));
    EXPECT_EQ(info.page_count, 3);
    EXPECT_EQ(info.page_width, 612);
    EXPECT_EQ(info.page_height, 792);

    int32_t w = 0, h = 0;
    ASSERT_TRUE(EngineRun::QuerySize(36, engine.string(), pdf.string(), w, h));
    EXPECT_EQ(w, 306);
    EXPECT_EQ(h, 396);

    const fs::path book = home.Root() / "books" / "0123456789ABCDEF0123456789ABCDEF";
    fs::create_directories(book);
    CreateSearchDB(pdf.string(), book.string(), 72, engine.string(), "Three \"pages\"", 3);
    EXPECT_TRUE(fs::exists(book / "text.html"));
    EXPECT_TRUE(fs::exists(book / "txt.js"));
    EXPECT_NE(ReadFileBytes(book / "text.html").find("Searchable page 2"), std::string::npos);

    // An image run followed through its progress lines on standard error.
    fs::create_directories(book / "thumb");
    PdfJob job;
    job.state = JOB_STATE_RUNNING;
    job.progress = 6000;
    EngineRun run;
    ASSERT_TRUE(run.Start(engine.string(), ThumbsCommand(SideResolution(60, 72, info.page_width),
                                                         (book / "thumb").string(), pdf.string())));
    EXPECT_TRUE(run.Follow(job, ENGINE_RUN_THUMBS, 4000));
    EXPECT_GT(job.progress.load(), 6000);
    EXPECT_LE(job.progress.load(), 10000);
    for (int page = 1; page <= 3; ++page)
        EXPECT_TRUE(fs::exists(book / "thumb" / ("img-" + std::to_string(page) + "-e.jpg"))) << page;
}
