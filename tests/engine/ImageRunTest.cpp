// Image runs of rastrix with the command lines the pipeline builds: file names, sizes,
// progress lines, the background/foreground split and the JPEG settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/wait.h>
#include <thread>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

constexpr double kA4H = 841.89;

std::string ProgressLines(int total)
{
    std::string expected;
    for (int i = 1; i <= total; ++i)
        expected += "PN:" + std::to_string(i) + "/" + std::to_string(total) + "\r\n";
    return expected;
}

bool HasTempFile(const fs::path& folder)
{
    for (const std::string& name : FilesIn(folder))
        if (name.find(".tmp") != std::string::npos)
            return true;
    return false;
}

TEST(RastrixImages, CoverRunWritesOnlyTheCoverAtTheRuleSize)
{
    TempHome home;
    fs::path thumb = home.Root() / "book" / "thumb";   // missing parents are created
    RunResult r = RunRastrix({"-r", "15", "-o", "none", "-page", "1", "-postfix", "-cover", "-jpeg-quality", "75",
                              "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", thumb.string(),
                              Fixture("pages20.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;   // no progress without -verbose
    ASSERT_EQ(FilesIn(thumb), std::vector<std::string>{"img-1-e-cover.jpg"});
    Raster img;
    ASSERT_TRUE(ReadJpeg(thumb / "img-1-e-cover.jpg", img));
    EXPECT_EQ(img.width, 124);    // floor(595.276 * 15 / 72 + 0.5)
    EXPECT_EQ(img.height, 175);   // floor(841.89 * 15 / 72 + 0.5)
    EXPECT_EQ(JpegFirstQuantStep(thumb / "img-1-e-cover.jpg"), 8);   // quality 75
}

TEST(RastrixImages, VerboseRunNamesEveryPageAndCountsProgressInOrder)
{
    TempHome home;
    fs::path dir = home.Root() / "thumb";
    RunResult r = RunRastrix({"-r", "9", "-verbose", "-o", "none", "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d",
                              dir.string(), Fixture("pages20.pdf")},
                             {"RASTRIX_THREADS=4"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, ProgressLines(20));
    std::vector<std::string> files = FilesIn(dir);
    ASSERT_EQ(files.size(), 20u);
    for (int n = 1; n <= 20; ++n)
        EXPECT_TRUE(fs::exists(dir / ("img-" + std::to_string(n) + "-e.jpg"))) << n;
    // No quality given: the documented default.
    EXPECT_EQ(JpegFirstQuantStep(dir / "img-1-e.jpg"), 8);
}

TEST(RastrixImages, PortraitPageHitsTheWantedHeight)
{
    TempHome home;
    const int dpi = 150;
    const int page_height_at_dpi = static_cast<int>(std::floor(kA4H * dpi / 72.0 + 0.5));
    for (int wanted : {750, 1000, 400}) {
        SCOPED_TRACE(wanted);
        // A resolution with its fraction lands within a pixel of the wanted height.
        char exact[32];
        std::snprintf(exact, sizeof exact, "%.4f", double(wanted) * dpi / page_height_at_dpi);
        fs::path dir = home.Root() / ("h" + std::to_string(wanted));
        RunResult r = RunRastrix({"-r", exact, "-png-single-bit-alpha", "-bf", "-d", dir.string(), "-page", "1",
                                  Fixture("text3.pdf")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        Raster bg, fg;
        ASSERT_TRUE(ReadJpeg(dir / "img-1.jpg", bg));
        ASSERT_TRUE(ReadPng(dir / "img-1-f.png", fg));
        EXPECT_NEAR(bg.height, wanted, 1);
        EXPECT_EQ(fg.width, bg.width);
        EXPECT_EQ(fg.height, bg.height);
        // A whole resolution, as a caller that rounds it passes: off by at most the page
        // height in inches.
        int whole = wanted * dpi / page_height_at_dpi;
        fs::path dir2 = home.Root() / ("w" + std::to_string(wanted));
        r = RunRastrix({"-r", std::to_string(whole), "-e", "jpeg", "-d", dir2.string(), "-page", "1",
                        Fixture("text3.pdf")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        Raster img;
        ASSERT_TRUE(ReadJpeg(dir2 / "img-1-e.jpg", img));
        EXPECT_EQ(img.height, static_cast<int>(std::floor(kA4H * whole / 72.0 + 0.5)));
        EXPECT_NEAR(img.height, wanted, kA4H / 72.0 + 1);
    }
}

TEST(RastrixImages, SplitPutsTextInACrispLayerAndPicturesBehindIt)
{
    TempHome home;
    fs::path dir = home.Root() / "100";
    RunResult r = RunRastrix({"-r", "72", "-verbose", "-o", "none", "-jpeg-quality", "25", "-jpeg-smoothing-factor",
                              "0", "-png-single-bit-alpha", "-bf", "-d", dir.string(), Fixture("mixed.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, ProgressLines(1));
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"img-1-f.png", "img-1.jpg"}));
    Raster bg, fg;
    ASSERT_TRUE(ReadJpeg(dir / "img-1.jpg", bg));
    ASSERT_TRUE(ReadPng(dir / "img-1-f.png", fg));
    ASSERT_EQ(bg.width, 595);
    ASSERT_EQ(fg.width, 595);
    EXPECT_EQ(JpegFirstQuantStep(dir / "img-1.jpg"), 32);   // quality 25

    long opaque = 0, partial = 0;
    for (int y = 0; y < fg.height; ++y)
        for (int x = 0; x < fg.width; ++x) {
            unsigned a = fg.At(x, y)[3];
            opaque += a == 255;
            partial += a != 0 && a != 255;
        }
    EXPECT_EQ(partial, 0);
    EXPECT_GT(opaque, 2000);
    // The heading's letters (28 pt bold at y 700..728 from the bottom) are in the
    // foreground; the background there shows the picture, not dark letters.
    long fg_dark = 0, bg_dark = 0;
    for (int y = 842 - 728; y < 842 - 700; ++y)
        for (int x = 60; x < 500; ++x) {
            const unsigned char* f = fg.At(x, y);
            fg_dark += f[3] == 255 && f[0] + f[1] + f[2] < 150;
            const unsigned char* b = bg.At(x, y);
            bg_dark += b[0] + b[1] + b[2] < 150;
        }
    EXPECT_GT(fg_dark, 1000);
    EXPECT_LT(bg_dark, fg_dark / 20);
    // Thin line art goes with the text, stroked (y 690) or filled (y 600); a thick bar
    // (y 500..530) stays in the background.
    auto dark_in_fg = [&](int y) {
        int n = 0;
        for (int x = 80; x < 480; ++x)
            n += fg.At(x, y)[3] == 255 && fg.At(x, y)[0] < 100;
        return n;
    };
    auto dark_in_bg = [&](int y) {
        int n = 0;
        for (int x = 80; x < 480; ++x)
            n += bg.At(x, y)[0] + bg.At(x, y)[1] + bg.At(x, y)[2] < 300;
        return n;
    };
    for (int y : {842 - 690, 842 - 601}) {
        int fg_rows = dark_in_fg(y - 1) + dark_in_fg(y) + dark_in_fg(y + 1);
        int bg_rows = dark_in_bg(y - 1) + dark_in_bg(y) + dark_in_bg(y + 1);
        EXPECT_GT(fg_rows, 380) << "rule at row " << y;
        EXPECT_LT(bg_rows, 20) << "rule at row " << y;
    }
    EXPECT_EQ(dark_in_fg(842 - 515), 0);
    EXPECT_EQ(dark_in_bg(842 - 515), 400);
    // Away from the text, the foreground is transparent over the picture.
    for (int y = 400; y < 600; y += 7)
        for (int x = 100; x < 500; x += 7)
            if (y < 842 - 602 || y > 842 - 599) {
                ASSERT_EQ(fg.At(x, y)[3], 0) << x << "," << y;
            }
}

TEST(RastrixImages, TextPageBackgroundIsPaperAndForegroundCarriesTheLetters)
{
    TempHome home;
    fs::path dir = home.Root() / "LowRes";
    RunResult r = RunRastrix({"-r", "100", "-png-single-bit-alpha", "-bf", "-d", dir.string(), "-page", "2",
                              Fixture("text3.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"img-2-f.png", "img-2.jpg"}));
    Raster bg, fg;
    ASSERT_TRUE(ReadJpeg(dir / "img-2.jpg", bg));
    ASSERT_TRUE(ReadPng(dir / "img-2-f.png", fg));
    EXPECT_EQ(bg.channels, 1);   // nothing coloured left: stored as gray
    int darkest = 255;
    for (unsigned char v : bg.pixels)
        darkest = std::min<int>(darkest, v);
    EXPECT_GT(darkest, 230);
    long black = 0;
    for (int y = 0; y < fg.height; ++y)
        for (int x = 0; x < fg.width; ++x)
            black += fg.At(x, y)[3] == 255 && fg.At(x, y)[0] < 60;
    EXPECT_GT(black, 1000);
}

TEST(RastrixImages, WithoutSingleBitTheForegroundKeepsSmoothAlpha)
{
    TempHome home;
    fs::path dir = home.Root() / "soft";
    RunResult r = RunRastrix({"-r", "100", "-bf", "-d", dir.string(), "-page", "1", Fixture("text3.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Raster fg;
    ASSERT_TRUE(ReadPng(dir / "img-1-f.png", fg));
    long partial = 0;
    for (int y = 0; y < fg.height; ++y)
        for (int x = 0; x < fg.width; ++x)
            partial += fg.At(x, y)[3] != 0 && fg.At(x, y)[3] != 255;
    EXPECT_GT(partial, 100);
}

TEST(RastrixImages, QualityAndSmoothingReachTheEncoder)
{
    TempHome home;
    auto render = [&](const std::string& q, const std::string& s) {
        fs::path dir = home.Root() / ("q" + q + "s" + s);
        RunResult r = RunRastrix({"-r", "72", "-jpeg-quality", q, "-jpeg-smoothing-factor", s, "-e", "jpeg", "-d",
                                  dir.string(), "-page", "1", Fixture("images.pdf")});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return dir / "img-1-e.jpg";
    };
    fs::path q10 = render("10", "0"), q90 = render("90", "0"), q90s = render("90", "60");
    EXPECT_EQ(JpegFirstQuantStep(q10), 80);   // 16 * 5000 / 10 / 100
    EXPECT_EQ(JpegFirstQuantStep(q90), 3);    // 16 * (200 - 180) / 100, rounded
    EXPECT_LT(fs::file_size(q10), fs::file_size(q90));
    // Smoothing blurs the input before encoding: same tables, different, smaller data.
    EXPECT_EQ(JpegFirstQuantStep(q90s), 3);
    EXPECT_NE(ReadFileBytes(q90s), ReadFileBytes(q90));
    EXPECT_LT(fs::file_size(q90s), fs::file_size(q90));
}

TEST(RastrixImages, ParallelRunWritesTheSameBytesAsOneThread)
{
    // 100 pages: each worker also reopens the document and drops its caches on the way.
    TempHome home;
    fs::path one = home.Root() / "one", many = home.Root() / "many";
    std::vector<std::string> args = {"-r", "12", "-verbose", "-jpeg-quality", "25", "-png-single-bit-alpha", "-bf"};
    auto run = [&](const fs::path& dir, const char* threads) {
        std::vector<std::string> a = args;
        a.insert(a.end(), {"-d", dir.string(), Fixture("pages100.pdf")});
        RunResult r = RunRastrix(a, {std::string("RASTRIX_THREADS=") + threads});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, ProgressLines(100));
    };
    run(one, "1");
    run(many, "3");
    std::vector<std::string> names = FilesIn(one);
    ASSERT_EQ(names.size(), 200u);
    ASSERT_EQ(FilesIn(many), names);
    for (const std::string& name : names)
        EXPECT_EQ(ReadFileBytes(one / name), ReadFileBytes(many / name)) << name;
}

TEST(RastrixImages, APageThatFailsIsReportedAndTheRunGoesOn)
{
    TempHome home;
    fs::path dir = home.Root() / "zoom";
    // Page 2's layers (50 million pixels under the cap) do not fit a small memory budget.
    RunResult r = RunRastrix({"-r", "72", "-verbose", "-o", "none", "-png-single-bit-alpha", "-bf", "-d",
                              dir.string(), Fixture("huge-page.pdf")},
                             {"RASTRIX_MEMORY_MB=64"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"img-1-f.png", "img-1.jpg", "img-3-f.png", "img-3.jpg"}));
    EXPECT_NE(r.err.find("rastrix: page 2: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    // The progress still runs to the end, in order.
    std::string progress;
    for (const std::string& line : Lines(r.err))
        if (line.rfind("PN:", 0) == 0)
            progress += line + "\n";
    EXPECT_EQ(progress, "PN:1/3\r\nPN:2/3\r\nPN:3/3\r\n");
}

// A page too large for the pixel cap at the job's resolution still gets its images, at
// the largest size under the cap, and the size query names that size beforehand.
TEST(RastrixImages, PageAboveThePixelCapIsDrawnAtTheLargestSizeUnderIt)
{
    TempHome home;
    struct Case {
        const char* file;
        const char* dpi;
        int width, height;   // the documented rule: floor(exact side * f)
    } cases[] = {
        {"huge-single.pdf", "120", 7071, 7071},   // 24000 x 24000 by the rule
        {"strip.pdf", "360", 60000, 416},         // 72000 x 500: over the longest side only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        fs::path dir = home.Root() / c.file;
        RunResult r = RunRastrix({"-r", c.dpi, "-verbose", "-o", "none", "-jpeg-quality", "25",
                                  "-png-single-bit-alpha", "-bf", "-d", dir.string(), Fixture(c.file)});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, ProgressLines(1));
        Raster bg, fg;
        ASSERT_TRUE(ReadJpeg(dir / "img-1.jpg", bg));
        ASSERT_TRUE(ReadPng(dir / "img-1-f.png", fg));
        EXPECT_EQ(bg.width, c.width);
        EXPECT_EQ(bg.height, c.height);
        EXPECT_EQ(fg.width, bg.width);
        EXPECT_EQ(fg.height, bg.height);
        EXPECT_LE(static_cast<long long>(bg.width) * bg.height, 50000000LL);
        EXPECT_LE(bg.width, 60000);
        // The page is drawn into the smaller image, not cut off: its heading is there.
        long dark = 0;
        for (int y = 0; y < fg.height; ++y)
            for (int x = 0; x < std::min(fg.width, 2000); ++x)
                dark += fg.At(x, y)[3] == 255;
        EXPECT_GT(dark, 20);
        RunResult size = RunRastrix({"-r", c.dpi, "-size", Fixture(c.file)});
        ASSERT_EQ(size.exit_code, 0) << size.err;
        EXPECT_EQ(Lines(size.out), (std::vector<std::string>{std::to_string(bg.width), std::to_string(bg.height)}));
    }
    // The single-image run (thumbnails, print) follows the same cap.
    fs::path print = home.Root() / "print";
    RunResult r = RunRastrix({"-r", "120", "-e", "jpeg", "-d", print.string(), Fixture("huge-page.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Raster img;
    ASSERT_TRUE(ReadJpeg(print / "img-2-e.jpg", img));
    EXPECT_EQ(img.width, 7071);
    EXPECT_EQ(img.height, 7071);
    ASSERT_TRUE(ReadJpeg(print / "img-1-e.jpg", img));
    EXPECT_EQ(img.width, 992);   // A4 beside it keeps the rule: floor(595.276 * 120 / 72 + 0.5)
}

TEST(RastrixImages, APageThatWouldRunForeverIsStoppedByTheTimeLimit)
{
    TempHome home;
    fs::path dir = home.Root() / "zoom";
    // Page 2 draws 10^9 squares through nested forms.
    RunResult r = RunRastrix({"-r", "50", "-verbose", "-png-single-bit-alpha", "-bf", "-d", dir.string(),
                              Fixture("slow-page.pdf")},
                             {"RASTRIX_PAGE_SECONDS=1"}, 60);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("page 2: stopped after 1 seconds"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PN:3/3\r\n"), std::string::npos);
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"img-1-f.png", "img-1.jpg", "img-3-f.png", "img-3.jpg"}));
    // The text run is guarded the same way and still writes the other pages' text.
    RunResult t = RunRastrix({"-o", "all", "-output-dir", dir.string(), "-r", "50", "-title", "t",
                              Fixture("slow-page.pdf")},
                             {"RASTRIX_PAGE_SECONDS=1"}, 60);
    EXPECT_EQ(t.exit_code, 1) << t.err;
    EXPECT_NE(ReadFileBytes(dir / "txt.js").find("This is page 3 of"), std::string::npos);
}

TEST(RastrixImages, MissingPageAndExistingFilesAreHandled)
{
    TempHome home;
    fs::path dir = home.Root() / "x";
    RunResult r = RunRastrix({"-page", "4", "-e", "jpeg", "-d", dir.string(), Fixture("text3.pdf")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(Lines(r.err).size(), 1u);
    // An existing image is replaced whole.
    WriteFileBytes(dir / "img-1-e.jpg", std::string(100000, 'x'));
    r = RunRastrix({"-page", "1", "-e", "jpeg", "-d", dir.string(), Fixture("text3.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    Raster img;
    EXPECT_TRUE(ReadJpeg(dir / "img-1-e.jpg", img));
    EXPECT_FALSE(HasTempFile(dir));
}

TEST(RastrixImages, TerminatedRunLeavesNoTemporaryFiles)
{
    TempHome home;
    fs::path dir = home.Root() / "100";
    // Stop the engine (as the pipeline does on a stop request) while it writes large
    // images; whatever it leaves must be whole files.
    pid_t pid = StartRastrix({"-r", "300", "-png-single-bit-alpha", "-bf", "-d", dir.string(), Fixture("pages20.pdf")});
    ASSERT_GT(pid, 0);
    // Stop as soon as the first page is on disk, so that the run is cut mid-way however
    // many cores the machine has.
    for (int i = 0; i < 2000 && FilesIn(dir).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "the run ended before it was stopped";
    EXPECT_FALSE(HasTempFile(dir));
    for (const std::string& name : FilesIn(dir)) {
        Raster img;
        bool ok = name.size() > 4 && name.substr(name.size() - 4) == ".png" ? ReadPng(dir / name, img)
                                                                           : ReadJpeg(dir / name, img);
        EXPECT_TRUE(ok) << name;
    }
}

} // namespace

// The zoom run's tiles are the text layer at the tile resolution, cut into 512 px squares
// with hard edges: every tile the index names is the crop of the page's text layer drawn
// whole at that resolution, opaque in its colour from half coverage, and every tile left
// out is empty there.
TEST(RastrixImages, TilesAreTheTextLayerAtTheTileResolutionCutIntoSquares)
{
    TempHome home;
    fs::path zoom = home.Root() / "100", tiles = home.Root() / "tiles", whole = home.Root() / "whole";
    RunResult r = RunRastrix({"-r", "40", "-verbose", "-o", "none", "-png-single-bit-alpha", "-bf", "-tile-r", "100",
                              "-tile-dir", tiles.string(), "-d", zoom.string(), Fixture("text3.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, ProgressLines(3));
    EXPECT_EQ(FilesIn(zoom).size(), 6u);   // the zoom images as before
    // Their own text layers are empty 1x1 images: the text is in the tiles.
    for (int page = 1; page <= 3; ++page) {
        Raster layer;
        ASSERT_TRUE(ReadPng(zoom / ("img-" + std::to_string(page) + "-f.png"), layer));
        EXPECT_TRUE(layer.width == 1 && layer.height == 1 && layer.At(0, 0)[3] == 0) << page;
    }
    // The text layer with its coverage as alpha, for comparison.
    RunResult w = RunRastrix({"-r", "100", "-o", "none", "-bf", "-d", whole.string(), Fixture("text3.pdf")});
    ASSERT_EQ(w.exit_code, 0) << w.err;

    const std::string index = ReadFileBytes(tiles / "tiles.js");
    const std::string head = "window.VELLUMARK_BOOK_TILES = {\"version\":1,\"size\":512,\"dpi\":100,\"pages\":[";
    ASSERT_EQ(index.substr(0, head.size()), head) << index;
    size_t at = head.size(), files = 1;
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        Raster full;
        ASSERT_TRUE(ReadPng(whole / ("img-" + std::to_string(page) + "-f.png"), full));
        const std::string entry = "{\"w\":" + std::to_string(full.width) + ",\"h\":" + std::to_string(full.height) +
                                  ",\"tiles\":\"";
        ASSERT_EQ(index.compare(at, entry.size(), entry), 0) << index.substr(at);
        at += entry.size();
        const int cols = (full.width + 511) / 512, rows = (full.height + 511) / 512;
        int present = 0;
        for (int t = 0; t < cols * rows; ++t) {
            const int x0 = t % cols * 512, y0 = t / cols * 512;
            const char digit = index[at + static_cast<size_t>(t / 4)];
            const bool listed = ((digit <= '9' ? digit - '0' : digit - 'a' + 10) >> (t % 4)) & 1;
            const fs::path file = tiles / ("img-" + std::to_string(page) + "-" + std::to_string(t % cols) + "-" +
                                           std::to_string(t / cols) + ".png");
            ASSERT_EQ(fs::exists(file), listed) << file;
            Raster tile;
            if (listed) {
                ASSERT_TRUE(ReadPng(file, tile));
                ASSERT_EQ(tile.width, std::min(512, full.width - x0));
                ASSERT_EQ(tile.height, std::min(512, full.height - y0));
                ++present;
            }
            long differing = 0, drawn = 0;
            for (int y = y0; y < std::min(full.height, y0 + 512); ++y)
                for (int x = x0; x < std::min(full.width, x0 + 512); ++x) {
                    const unsigned char* want = full.At(x, y);
                    const bool opaque = want[3] >= 96;
                    drawn += opaque;
                    if (!listed)
                        continue;
                    const unsigned char* got = tile.At(x - x0, y - y0);
                    bool same = got[3] == (opaque ? 255 : 0);
                    for (int c = 0; c < 3 && opaque; ++c)
                        same = same && std::abs(got[c] - want[c]) <= 2;
                    differing += !same;
                }
            EXPECT_EQ(differing, 0) << file;
            if (!listed) {
                EXPECT_EQ(drawn, 0) << file;
            }
        }
        EXPECT_GT(present, 0);
        files += static_cast<size_t>(present);
        at = index.find('{', at);
    }
    EXPECT_EQ(FilesIn(tiles).size(), files);
    EXPECT_EQ(index.substr(index.size() - 4), "]};\n");

    // A page whose tiles would not fit the memory budget keeps its images, its own text
    // layer among them, and goes without tiles, silently; the others get theirs.
    fs::path huge = home.Root() / "huge";
    RunResult h = RunRastrix({"-r", "10", "-o", "none", "-png-single-bit-alpha", "-bf", "-tile-r", "400", "-tile-dir",
                              (huge / "tiles").string(), "-d", huge.string(), Fixture("huge-page.pdf")},
                             {"RASTRIX_MEMORY_MB=150"});
    EXPECT_EQ(h.exit_code, 0) << h.err;
    EXPECT_EQ(h.err, "");
    Raster own_layer;
    EXPECT_TRUE(fs::exists(huge / "img-2.jpg") && ReadPng(huge / "img-2-f.png", own_layer) && own_layer.width > 1);
    const std::string huge_index = ReadFileBytes(huge / "tiles" / "tiles.js");
    EXPECT_NE(huge_index.find("},\nnull,\n{"), std::string::npos) << huge_index;

    // Tiles come only with the two layers, and both options go together.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-r", "40", "-tile-r", "100", "-tile-dir", tiles.string(), "-d", zoom.string()},
          std::vector<std::string>{"-r", "40", "-bf", "-tile-r", "100", "-d", zoom.string()}}) {
        std::vector<std::string> full = args;
        full.push_back(Fixture("text3.pdf"));
        EXPECT_EQ(RunRastrix(full).exit_code, 2);
    }
}
