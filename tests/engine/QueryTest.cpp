// The queries and the failure contract of rastrix, driven as a process: what the callers
// parse from standard output, and how a bad command line or a bad document ends.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

int Px(double points, double dpi)
{
    return static_cast<int>(std::floor(points * dpi / 72.0 + 0.5));
}

constexpr double kA4W = 595.276, kA4H = 841.89;

TEST(RastrixQuery, InfoPrintsSevenLinesWithUtf8MetadataOnSingleLines)
{
    RunResult r = RunRastrix({"-r", "150", "-i", Fixture("text3.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    EXPECT_EQ(lines[0], "\xC3\x9C" "ber \"quoted\" B\xC3\xBC" "cher \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(lines[1], "Zo\xC3\xAB O'Brien");
    EXPECT_EQ(lines[2], "alpha, beta, \"gamma\"");
    EXPECT_EQ(lines[3], "Line one Line two Line three");   // line breaks became blanks
    EXPECT_EQ(lines[4], "3");
    EXPECT_EQ(lines[5], std::to_string(Px(kA4W, 150)));
    EXPECT_EQ(lines[6], std::to_string(Px(kA4H, 150)));
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(RastrixQuery, LongMetadataStillFitsOneReadOfTheCaller)
{
    RunResult r = RunRastrix({"-r", "72", "-i", Fixture("long-meta.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_LT(r.out.size(), 4095u);
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_GE(lines[0].size(), 1000u);   // the caller keeps 1024 characters: give it plenty
    EXPECT_EQ(lines[4], "1");
    // Cut on a character boundary: the title is still "Té" repeated.
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "T\xC3\xA9");
}

TEST(RastrixQuery, SizeFollowsOneRuleForEveryPageShapeAndAgreesWithInfo)
{
    struct Case {
        const char* file;
        double w, h;
    } cases[] = {
        {"text3.pdf", kA4W, kA4H},     {"landscape.pdf", kA4H, kA4W}, {"square.pdf", 500, 500},
        {"rotated.pdf", kA4H, kA4W},   {"letter.pdf", 612, 792},
    };
    for (const Case& c : cases) {
        for (const char* dpi : {"72", "96", "150", "37", "64.25"}) {
            SCOPED_TRACE(std::string(c.file) + " at " + dpi);
            RunResult size = RunRastrix({"-r", dpi, "-size", Fixture(c.file)});
            ASSERT_EQ(size.exit_code, 0) << size.err;
            std::vector<std::string> lines = Lines(size.out);
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0], std::to_string(Px(c.w, std::stod(dpi))));
            EXPECT_EQ(lines[1], std::to_string(Px(c.h, std::stod(dpi))));
            RunResult info = RunRastrix({"-r", dpi, "-i", Fixture(c.file)});
            std::vector<std::string> info_lines = Lines(info.out);
            ASSERT_EQ(info_lines.size(), 7u);
            EXPECT_EQ(info_lines[5], lines[0]);
            EXPECT_EQ(info_lines[6], lines[1]);
        }
    }
}

// At the cap's edge: the size query gives the image's size, the info query the size by
// the rule, which callers divide by to compute resolutions.
TEST(RastrixQuery, SizeIsCappedButInfoKeepsTheRuleSize)
{
    struct Case {
        const char* dpi;
        int rule;     // floor(500 * dpi / 72 + 0.5)
        int capped;   // the image's side
    } cases[] = {
        {"1018.2", 7071, 7071},   // 7071^2 is just under 50 million pixels: unchanged
        {"1018.3", 7072, 7071},   // 7072^2 is over: the largest square under the cap
        {"2400", 16667, 7071},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        RunResult size = RunRastrix({"-r", c.dpi, "-size", Fixture("square.pdf")});
        ASSERT_EQ(size.exit_code, 0) << size.err;
        EXPECT_EQ(Lines(size.out), (std::vector<std::string>{std::to_string(c.capped), std::to_string(c.capped)}));
        RunResult info = RunRastrix({"-r", c.dpi, "-i", Fixture("square.pdf")});
        ASSERT_EQ(info.exit_code, 0) << info.err;
        std::vector<std::string> lines = Lines(info.out);
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_EQ(lines[5], std::to_string(c.rule));
        EXPECT_EQ(lines[6], std::to_string(c.rule));
    }
    RunResult huge = RunRastrix({"-r", "120", "-i", Fixture("huge-single.pdf")});
    ASSERT_EQ(huge.exit_code, 0) << huge.err;
    std::vector<std::string> lines = Lines(huge.out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "24000");
    EXPECT_EQ(lines[6], "24000");
}

TEST(RastrixQuery, ResolutionRoundedDownToZeroRendersAtOne)
{
    // A 60-pixel thumbnail of a page 14400 points wide asks for 0.3 dpi; a caller with
    // whole numbers passes 0, and the nearest image it can get is at 1 dpi.
    TempHome home;
    RunResult size = RunRastrix({"-r", "0", "-size", Fixture("square.pdf")});
    ASSERT_EQ(size.exit_code, 0) << size.err;
    EXPECT_EQ(Lines(size.out), (std::vector<std::string>{"7", "7"}));
    fs::path dir = home.Root() / "thumb";
    RunResult run = RunRastrix({"-r", "0", "-e", "jpeg", "-d", dir.string(), Fixture("huge-page.pdf")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    Raster img;
    ASSERT_TRUE(ReadJpeg(dir / "img-2-e.jpg", img));
    EXPECT_EQ(img.width, 200);   // 14400 points at 1 dpi
    RunResult fraction = RunRastrix({"-r", "0.3", "-size", Fixture("huge-page.pdf")});
    EXPECT_EQ(Lines(fraction.out), (std::vector<std::string>{"2", "4"}));   // page 1 is A4
}

TEST(RastrixQuery, UnreadableDocumentsFailWithOneLineAndNoImages)
{
    TempHome home;
    for (const char* name : {"missing.pdf", "not-a-pdf.pdf", "truncated-head.pdf", "encrypted.pdf"}) {
        SCOPED_TRACE(name);
        fs::path out = home.Root() / name;
        RunResult run = RunRastrix({"-r", "72", "-verbose", "-e", "jpeg", "-d", out.string(), Fixture(name)});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.find("PN:"), std::string::npos);
        EXPECT_TRUE(FilesIn(out).empty());
        RunResult size = RunRastrix({"-r", "72", "-size", Fixture(name)});
        EXPECT_EQ(size.exit_code, 1);
        EXPECT_TRUE(size.out.empty());
        EXPECT_EQ(Lines(size.err).size(), 1u) << size.err;
    }
    RunResult pw = RunRastrix({"-i", Fixture("encrypted.pdf")});
    EXPECT_NE(pw.err.find("password"), std::string::npos) << pw.err;
}

TEST(RastrixQuery, DocumentsThatOpenDespiteFlaws)
{
    // A password for changing rights only: readable by anyone, so it converts.
    RunResult owner = RunRastrix({"-r", "72", "-i", Fixture("owner-only.pdf")});
    EXPECT_EQ(owner.exit_code, 0) << owner.err;
    EXPECT_EQ(Lines(owner.out).size(), 7u);
    // A file cut short is repaired as far as it goes.
    RunResult cut = RunRastrix({"-r", "72", "-size", Fixture("truncated-tail.pdf")});
    EXPECT_EQ(cut.exit_code, 0) << cut.err;
    EXPECT_EQ(Lines(cut.out), (std::vector<std::string>{"595", "842"}));
}

TEST(RastrixQuery, ZeroPagesIsReportedNotRendered)
{
    TempHome home;
    RunResult info = RunRastrix({"-r", "72", "-i", Fixture("zero-pages.pdf")});
    EXPECT_EQ(info.exit_code, 1);
    std::vector<std::string> lines = Lines(info.out);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "0");
    EXPECT_EQ(lines[5], "0");
    RunResult run = RunRastrix({"-e", "jpeg", "-d", (home.Root() / "z").string(), Fixture("zero-pages.pdf")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(FilesIn(home.Root() / "z").empty());
}

TEST(RastrixUsage, BadCommandLinesExitTwoWithOneLine)
{
    std::string pdf = Fixture("text3.pdf");
    std::vector<std::vector<std::string>> bad = {
        {"-frobnicate", pdf},
        {"-r", "72", "-size"},                               // no PDF
        {"-size", pdf, pdf},                                 // two PDFs
        {"-size", pdf, "-r"},                                // missing value
        {"-r", "0.01", "-size", pdf},
        {"-r", "abc", "-size", pdf},
        {"-r", "-5", "-size", pdf},
        {"-jpeg-quality", "0", "-e", "jpeg", "-d", "x", pdf},
        {"-jpeg-quality", "101", "-e", "jpeg", "-d", "x", pdf},
        {"-jpeg-smoothing-factor", "7x", "-e", "jpeg", "-d", "x", pdf},
        {"-o", "some", "-output-dir", "x", pdf},
        {"-o", "all", pdf},                                  // no -output-dir
        {"-e", "gif", "-d", "x", pdf},
        {"-postfix", "/../../escape", "-e", "jpeg", "-d", "x", pdf},
        {"-page", "0", "-e", "jpeg", "-d", "x", pdf},
        {pdf},                                               // nothing to do
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        RunResult r = RunRastrix(args);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    RunResult help = RunRastrix({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("-png-single-bit-alpha"), std::string::npos);
    RunResult version = RunRastrix({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out.rfind("rastrix ", 0), 0u);
}

} // namespace
