#include "pipeline/EngineCommand.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

TEST(EngineCommandTest, ImageRunLinesAreExactAndArgumentsMatchTheirPieces) {
    EngineCommand cover = CoverCommand(21, "/b/K/thumb", "/in/a.pdf");
    EXPECT_EQ(cover.text,
              " -r 21 -o none -page 1 -postfix \"-cover\" -jpeg-quality 75 -jpeg-smoothing-factor 0 -e jpeg"
              " -d \"/b/K/thumb\" \"/in/a.pdf\" ");
    EXPECT_EQ(cover.args, (Args{"-r", "21", "-o", "none", "-page", "1", "-postfix", "-cover", "-jpeg-quality", "75",
                                "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", "/b/K/thumb", "/in/a.pdf"}));

    EngineCommand thumbs = ThumbsCommand(10, "/b/K/thumb", "/in/a.pdf");
    EXPECT_EQ(thumbs.text,
              " -r 10 -verbose -o none -jpeg-smoothing-factor 0 -e jpeg -d \"/b/K/thumb\" \"/in/a.pdf\" ");
    EXPECT_EQ(thumbs.args.size(), 12u);

    EngineCommand zoom = PageImagesCommand(150, 85, 10, "/b/K/100", "/in/a.pdf");
    EXPECT_EQ(zoom.text,
              " -r 150 -verbose -o none -jpeg-quality 85 -jpeg-smoothing-factor 10 -png-single-bit-alpha -bf"
              " -d \"/b/K/100\" \"/in/a.pdf\" ");
    EXPECT_EQ(zoom.args, (Args{"-r", "150", "-verbose", "-o", "none", "-jpeg-quality", "85", "-jpeg-smoothing-factor",
                               "10", "-png-single-bit-alpha", "-bf", "-d", "/b/K/100", "/in/a.pdf"}));

    // The zoom run also cuts the tiles: 2048 pixels across the page (A4 at 120 dpi is 992
    // pixels wide), and at least one and a half times the zoom images' resolution.
    EngineCommand tiled =
        ZoomImagesCommand(120, TileResolution(120, 992), 25, 100, "/b/K/100", "/b/K/tiles", "/in/a.pdf");
    EXPECT_EQ(tiled.text,
              " -r 120 -verbose -o none -jpeg-quality 25 -jpeg-smoothing-factor 100 -png-single-bit-alpha -bf"
              " -tile-r 248 -tile-dir \"/b/K/tiles\" -d \"/b/K/100\" \"/in/a.pdf\" ");
    EXPECT_EQ(tiled.args.size(), 18u);
    EXPECT_EQ(TileResolution(300, 2480), 450);
    EXPECT_EQ(TileResolution(120, 0), 0);

    // A job recorded with values the engine refuses still gets values it takes.
    EXPECT_EQ(PageImagesCommand(150, 999, -5, "/b/K/100", "/in/a.pdf").args[6], "100");
    EXPECT_EQ(PageImagesCommand(150, -5, 999, "/b/K/100", "/in/a.pdf").args[8], "100");
    EXPECT_EQ(PageImagesCommand(150, 0, -5, "/b/K/100", "/in/a.pdf").args[6], "1");
    EXPECT_EQ(PageImagesCommand(150, 0, -5, "/b/K/100", "/in/a.pdf").args[8], "0");

    EngineCommand print = PrintCommand("/b/K/print", "/in/a.pdf");
    EXPECT_EQ(print.text,
              " -r 108 -verbose -o none -jpeg-quality 70 -jpeg-smoothing-factor 0 -e jpeg"
              " -d \"/b/K/print\" \"/in/a.pdf\" ");
}

TEST(EngineCommandTest, QueryAndSearchLinesAreExact) {
    EXPECT_EQ(SizeQueryCommand(96, "/in/a.pdf").text, " -r 96 -size \"/in/a.pdf\"");
    EXPECT_EQ(SizeQueryCommand(96, "/in/a.pdf").args, (Args{"-r", "96", "-size", "/in/a.pdf"}));
    EXPECT_EQ(InfoQueryCommand(72, "/in/a.pdf").text, " -r 72 -i \"/in/a.pdf\"");
    EXPECT_EQ(InfoQueryCommand(72, "/in/a.pdf").args, (Args{"-r", "72", "-i", "/in/a.pdf"}));

    EngineCommand search = SearchCommand("/b/K", 72, "Title", 12, "/in/a.pdf");
    EXPECT_EQ(search.text, " -o all -output-dir \"/b/K\" -r 72 -title \"Title\" -page-count 12 \"/in/a.pdf\"");
    EXPECT_EQ(search.args,
              (Args{"-o", "all", "-output-dir", "/b/K", "-r", "72", "-title", "Title", "-page-count", "12", "/in/a.pdf"}));
}

// The logged text is not escaped, but a quote or blank can never reach the engine as an
// argument boundary: each value stays one argument, byte for byte.
TEST(EngineCommandTest, QuotesAndBlanksStayInsideTheirArgument) {
    const std::string title = "Say \"hi\" -r 1 \"";
    const std::string pdf = "/my books/a \"b\".pdf";
    EngineCommand search = SearchCommand("/b/my book", 72, title, 3, pdf);
    EXPECT_EQ(search.text, " -o all -output-dir \"/b/my book\" -r 72 -title \"Say \"hi\" -r 1 \"\" -page-count 3 "
                           "\"/my books/a \"b\".pdf\"");
    ASSERT_EQ(search.args.size(), 11u);
    EXPECT_EQ(search.args[3], "/b/my book");
    EXPECT_EQ(search.args[7], title);
    EXPECT_EQ(search.args[10], pdf);
    // A description, quotes and option-like words included, is one argument after the title.
    EngineCommand described = SearchCommand("/b/K", 72, "T", 3, "/in/a.pdf", "A \"b\" -page-count 9");
    EXPECT_EQ(described.args, (Args{"-o", "all", "-output-dir", "/b/K", "-r", "72", "-title", "T", "-description",
                                    "A \"b\" -page-count 9", "-page-count", "3", "/in/a.pdf"}));
}

TEST(EngineCommandTest, SideResolutionDropsTheRemainderAndNeverDividesByZero) {
    EXPECT_EQ(SideResolution(128, 72, 612), 15);  // 9216 / 612 = 15.05
    EXPECT_EQ(SideResolution(60, 300, 2550), 7);
    EXPECT_EQ(SideResolution(60, 72, 0), 0);
    EXPECT_EQ(SideResolution(60, 72, -5), 0);
    EXPECT_EQ(SideResolution(2000000, 2000, 1000), 4000000);  // no 32-bit overflow in between
}

// The link-preview picture fills 1200 x 630 as far as the page's shape allows, never more,
// with its resolution written with a decimal point whatever the locale.
TEST(EngineCommandTest, ThePreviewPictureFitsItsBoxAndNamesItsResolutionInHundredths) {
    EXPECT_EQ(FitResolution(1200, 630, 120, 1020, 1320), 5727);  // portrait: the height decides
    EXPECT_EQ(FitResolution(1200, 630, 150, 3000, 1000), 6000);  // wide: the width decides
    EXPECT_EQ(FitResolution(1200, 630, 72, 0, 792), 0);
    EXPECT_EQ(FitResolution(1200, 630, 2000000, 1, 1), INT32_MAX);  // no overflow on the way
    EngineCommand share = ShareImageCommand(5727, "/b/K/thumb", "/in/a.pdf");
    EXPECT_EQ(share.args, (Args{"-r", "57.27", "-o", "none", "-page", "1", "-postfix", "-share", "-jpeg-quality", "85",
                                "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", "/b/K/thumb", "/in/a.pdf"}));
    EXPECT_EQ(ShareImageCommand(7205, "/t", "/a.pdf").args[1], "72.05");
}
