// What the book page variables write and what the assignments set.
#include "tests/pagegen/PageTestSupport.h"

#include "pagegen/FirstSpreadHint.h"

#include <gtest/gtest.h>

namespace {

TEST(BookPageVariables, ToolbarWidthMakesRoomForSwitchedOffButtons) {
    BookPageSettings s = SampleBook();
    struct Case {
        int32_t usemail, usenote;
        const char* value;
        int32_t expected;
    };
    for (const Case& c : {Case{0, 0, "800", 650}, Case{1, 1, "800", 800}, Case{1, 0, "800", 740},
                          Case{0, 1, "800", 710}, Case{1, 1, "0", 800}, Case{0, 0, "0", 650},
                          Case{1, 1, "-5", 800}}) {
        s.skin_usemail = c.usemail;
        s.skin_usenote = c.usenote;
        HtmlBuilder builder(s);
        builder.Assign("toolbar_width", c.value);
        EXPECT_EQ(builder.toolbar_width(), c.expected) << c.usemail << c.usenote << " " << c.value;
        EXPECT_EQ(builder.Evaluate("toolbar_width", '-', 50), std::to_string(c.expected - 50));
    }
}

TEST(BookPageVariables, NumbersFoldDigitByDigit) {
    HtmlBuilder builder(SampleBook());
    builder.Assign("win_height", "600");
    EXPECT_EQ(builder.win_height(), 600);
    builder.Assign("win_height", "6a");  // 'a' - '0' = 49
    EXPECT_EQ(builder.win_height(), 109);
    builder.Assign("win_height", "99999999999");  // wraps at 32 bits instead of overflowing
    EXPECT_EQ(builder.Evaluate("win_height", 0, 0), std::to_string(static_cast<int32_t>(99999999999LL)));
}

TEST(BookPageVariables, PageTurnLengthKeepsZeroAndFallsBackOnTheUsualLength) {
    HtmlBuilder builder(SampleBook());
    EXPECT_EQ(builder.Evaluate("page_turn_ms", 0, 0), "650");
    builder.Assign("page_turn_ms", "0");
    EXPECT_EQ(builder.Evaluate("page_turn_ms", 0, 0), "0");
    builder.Assign("page_turn_ms", "-40");
    EXPECT_EQ(builder.page_turn_ms(), 650);
}

TEST(BookPageVariables, ButtonsAreWrittenOnlyWhenSwitchedOn) {
    BookPageSettings s = SampleBook();
    HtmlBuilder off(s);
    off.Assign("email_button", "<a>mail</a>");
    off.Assign("note_button", "<a>note</a>");
    EXPECT_EQ(off.Evaluate("email_button", 0, 0), "");
    EXPECT_EQ(off.Evaluate("note_button", 0, 0), "");
    s.skin_usemail = 1;
    s.skin_usenote = 1;
    HtmlBuilder on(s);
    on.Assign("email_button", "<a>mail</a>");
    on.Assign("note_button", "<a>note</a>");
    EXPECT_EQ(on.Evaluate("email_button", 0, 0), "<a>mail</a>");
    EXPECT_EQ(on.Evaluate("note_button", 0, 0), "<a>note</a>");
}

TEST(BookPageVariables, HomeLinkAndContentFollowTheOwnLogoSettings) {
    BookPageSettings s = SampleBook();
    s.skin_logourl = "example.org/books";
    s.skin_logotxt = "My <b>home</b>";
    HtmlBuilder template_own(s);  // own logo off: the template's values
    template_own.Assign("home_link", "#page=1");
    template_own.Assign("home_img", "home.svg");
    template_own.Assign("home_content", "ignored");
    EXPECT_EQ(template_own.Evaluate("home_link", 0, 0), "#page=1");
    EXPECT_EQ(template_own.Evaluate("home_content", 0, 0),
              "<img src='../skins/2/home.svg' border='0' alt='' width='113' height='10'>");

    s.skin_useownlogo = 1;
    HtmlBuilder own(s);
    own.Assign("home_link", "#page=1");
    EXPECT_EQ(own.Evaluate("home_link", 0, 0), "http://example.org/books");
    EXPECT_EQ(own.Evaluate("home_content", 0, 0), "My <b>home</b>");
    for (const char* kept : {"http://example.org/", "https://example.org/"}) {
        s.skin_logourl = kept;
        EXPECT_EQ(HtmlBuilder(s).Evaluate("home_link", 0, 0), kept);
    }
    s.skin_logourl.clear();
    HtmlBuilder no_url(s);
    no_url.Assign("home_link", "#page=1");
    EXPECT_EQ(no_url.Evaluate("home_link", 0, 0), "#page=1");
}

TEST(BookPageVariables, SubCssAddsTheSkinSeparatorOnce) {
    HtmlBuilder builder(SampleBook());
    EXPECT_EQ(builder.Evaluate("sub_css", 0, 0), "../skins/2/site_styles.css");
    EXPECT_EQ(builder.Settings().skin_subdir, "skins/2/");
    EXPECT_EQ(builder.Evaluate("sub_css", 0, 0), "../skins/2/site_styles.css");
    BookPageSettings s = SampleBook();
    s.skin_subdir = "skins\\3\\";
    s.skin_cssfile = "dark.css";
    EXPECT_EQ(HtmlBuilder(s).Evaluate("sub_css", 0, 0), "../skins\\3\\dark.css");
}

TEST(BookPageVariables, TitleIsEscapedAndCutWithoutBreakingAReference) {
    BookPageSettings s = SampleBook();
    s.title = "Q&A <script>alert('x')</script> \"caf\xC3\xA9\"";
    EXPECT_EQ(HtmlBuilder(s).Evaluate("strTitle", '+', 3),
              "Q&amp;A &lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &quot;caf\xC3\xA9&quot;");
    // 251 letters then "&": the reference does not fit into 255 bytes and is left out.
    s.title = std::string(251, 'a') + "&b";
    EXPECT_EQ(HtmlBuilder(s).Evaluate("strTitle", 0, 0), std::string(251, 'a'));
    // A two-byte character that would straddle the limit is left out whole.
    s.title = std::string(254, 'a') + "\xC3\xA9";
    EXPECT_EQ(HtmlBuilder(s).Evaluate("strTitle", 0, 0), std::string(254, 'a'));
}

TEST(BookPageVariables, LongValuesAreCutToTheirFields) {
    BookPageSettings s = SampleBook();
    s.skin_subdir = std::string(300, 's');
    HtmlBuilder builder(s);
    EXPECT_EQ(builder.sub_skin_dir(), "../" + std::string(28, 's'));
    builder.Assign("win_id", std::string(40, 'w'));
    EXPECT_EQ(builder.win_id(), std::string(15, 'w'));
    builder.Assign("home_img", std::string(100, 'i'));
    EXPECT_EQ(builder.home_img().size(), 63u);
    builder.Assign("g_LONG", std::string(1000, 'g'));
    EXPECT_EQ(builder.Evaluate("g_LONG", 0, 0), std::string(255, 'g'));
    // An expression never writes more than 255 bytes, even from long settings.
    EXPECT_EQ(builder.Evaluate("sub_css", 0, 0).size(), 255u);
    s.skin_useownlogo = 1;
    s.skin_logourl = std::string(259, 'u');
    EXPECT_EQ(HtmlBuilder(s).Evaluate("home_link", 0, 0), "http://" + std::string(248, 'u'));
}

TEST(BookPageVariables, FreeVariablesNeedAnUpperCaseLetterAfterThePrefix) {
    HtmlBuilder builder(SampleBook());
    builder.Assign("g_Title", "yes");
    builder.Assign("g_lower", "no");
    builder.Assign("G_UPPER", "no");
    EXPECT_EQ(builder.Evaluate("g_Title", 0, 0), "yes");
    EXPECT_EQ(builder.Evaluate("g_lower", 0, 0), "");
    EXPECT_EQ(builder.Evaluate("G_UPPER", 0, 0), "");
    builder.Assign("g_Title", "again");  // overwritten
    EXPECT_EQ(builder.Evaluate("g_Title", 0, 0), "again");
}

TEST(BookPageVariables, FirstSpreadHintOffersEveryImageSetOfPageOne) {
    // 612 x 792 pages: each set by the width of the page it holds, divided by 0.95.
    const std::string sets = "./LowRes/img-1.X 407w, ./MedRes/img-1.X 529w, ./HighRes/img-1.X 610w, ./100/img-1.X 644w";
    auto with = [&](const std::string& file) {
        std::string out = sets;
        for (size_t at; (at = out.find("img-1.X")) != std::string::npos;) out.replace(at, 7, file);
        return "imagesrcset=\"" + out + "\"";
    };
    const std::string hint = HtmlBuilder(SampleBook()).Evaluate("first_spread_hint", 0, 0);
    EXPECT_NE(hint.find(with("img-1.jpg")), std::string::npos) << hint;
    EXPECT_NE(hint.find(with("img-1-f.png")), std::string::npos) << hint;
    // Whole preload links, longer than other template values may be, never cut.
    EXPECT_EQ(hint.rfind("<link rel=\"preload\" as=\"image\"", 0), 0u);
    EXPECT_EQ(hint.back(), '>');
    EXPECT_GT(hint.size(), 255u);
    EXPECT_NE(hint.find("<link rel=\"preload\" as=\"script\" href=\"./layout-1.js\">"), std::string::npos);
    EXPECT_NE(hint.find("(min-width: 700px) and (min-aspect-ratio: 1/1) min(calc((100vh - 48px - 2 * clamp(8px, 2vw, "
                        "24px)) * 0.7727), calc(50vw - clamp(8px, 2vw, 24px)))"),
              std::string::npos)
        << "a book of several pages shows page 1 in the right half of a landscape window";

    // A book of one page is never shown as a spread.
    BookPageSettings single = SampleBook();
    single.page_count = 1;
    EXPECT_EQ(pagegen::FirstSpreadHint(single, "./").find("50vw"), std::string::npos);
    // No hint where an address could not carry the folder as it is, or without image sets.
    EXPECT_EQ(pagegen::FirstSpreadHint(SampleBook(), "./\" onload=\"x"), "");
    BookPageSettings none = SampleBook();
    none.low_res_width = none.low_res_height = none.med_res_width = none.med_res_height = 0;
    none.high_res_width = none.high_res_height = 0;
    EXPECT_EQ(pagegen::FirstSpreadHint(none, "./"), "");

    // Where the zoom layer's text is in tiles, its empty text layer is never asked for:
    // the largest other set's stands in, and the page says so to the viewer.
    BookPageSettings tiled = SampleBook();
    tiled.zoom_text_in_tiles = true;
    const std::string tiled_hint = pagegen::FirstSpreadHint(tiled, "./");
    EXPECT_NE(tiled_hint.find(with("img-1.jpg")), std::string::npos) << tiled_hint;
    EXPECT_NE(tiled_hint.find("imagesrcset=\"./LowRes/img-1-f.png 407w, ./MedRes/img-1-f.png 529w, "
                              "./HighRes/img-1-f.png 610w\""),
              std::string::npos)
        << tiled_hint;
    EXPECT_EQ(HtmlBuilder(tiled).Evaluate("zoom_text", 0, 0), "tiles");
    EXPECT_EQ(HtmlBuilder(SampleBook()).Evaluate("zoom_text", 0, 0), "");
}

}  // namespace
