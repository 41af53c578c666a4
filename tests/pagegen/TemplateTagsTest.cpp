// The tag and statement rules of the template processor, one by one.
#include "tests/pagegen/PageTestSupport.h"

#include <gtest/gtest.h>

namespace {

class TemplateTags : public ::testing::Test {
protected:
    std::string Run(const std::string& text) { return RunTags(builder, text, home); }
    TempHome home;
    HtmlBuilder builder{SampleBook()};
};

TEST_F(TemplateTags, TextOutsideTagsIsCopiedAndUnfinishedTagsStayLiteral) {
    EXPECT_EQ(Run("<p>plain 100% text</p>\n"), "<p>plain 100% text</p>\n");
    EXPECT_EQ(Run("a<%=PAGECOUNT%>b<%"), "a12b<%");
    EXPECT_EQ(Run("a<%=PAGECOUNT"), "a<%=PAGECOUNT");
    // A tag that opens, runs a statement and never closes: the text before it is written
    // once and the tag itself follows literally.
    EXPECT_EQ(Run("head<%win_id=w1\nwin_height=5"), "head<%win_id=w1\nwin_height=5");
    EXPECT_EQ(builder.win_id(), "w1");
    EXPECT_EQ(Run(""), "");
    EXPECT_EQ(Run("<"), "<");
    EXPECT_EQ(Run("%>"), "%>");
}

TEST_F(TemplateTags, TagOverSeveralLinesRunsEachLineAndWritesNothingBetween) {
    const std::string page = Run("A<%win_id=abc\n  \tg_X=1\r\n  home_img=h.png%>B|<%=win_id%>|<%=g_X%>");
    EXPECT_EQ(page, "AB|abc|1");
    EXPECT_EQ(builder.home_img(), "h.png");
    // A tag whose closing mark stands on a line of its own.
    EXPECT_EQ(Run("x<%\n g_Y=2\n%>y<%=g_Y%>"), "xy2");
}

TEST_F(TemplateTags, ExpressionsWithOperators) {
    EXPECT_EQ(Run("<%=PAGEWIDTH + 10%>|<%=zoom_container_width-20%>|<%= PAGEHEIGHT %>"), "622|608|792");
    // Text variables ignore the operator.
    EXPECT_EQ(Run("<%=guid + 10%>"), "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(Run("<%=zoom_container_height%>,<%=PDFINFO_ID%>,<%=use_ftp%>"), "832,0,1");
    EXPECT_EQ(Run("<%=LowResWidth%>x<%=LowResHeight%> <%=MedResWidth%>x<%=MedResHeight%> "
                  "<%=HighResWidth%>x<%=HighResHeight%>"),
              "386x500 502x650 579x750");
    EXPECT_EQ(Run("[<%=no_such_variable%>][<%=g_NEVERSET%>][<%=jpg_domain%>][<%=service_dir%>]"),
              "[][][][]");
    EXPECT_EQ(Run("<%=skin_dir%> <%=img_parent_dir%> <%=sub_skindir%> <%=web_service%>"),
              ".. ./ ../skins/2 ../service.asp");
    EXPECT_EQ(Run("<%=config_js%>"),
              "<script type='text/javascript' language='javascript' src='../config.js'></script>");
}

TEST_F(TemplateTags, BlankBeforeEqualsSignMakesTheAssignmentSetNothing) {
    Run("<%toolbar_width =800%>");
    EXPECT_EQ(builder.toolbar_width(), 0);
    Run("<%toolbar_width=800%>");
    EXPECT_EQ(builder.toolbar_width(), 650);  // mail and note buttons off
    // Blanks before the name are skipped.
    Run("<%   win_height=600%>");
    EXPECT_EQ(builder.win_height(), 600);
}

TEST_F(TemplateTags, QuotedValuesJoinLiteralsAndVariables) {
    Run("<%home_img=logo.gif%><%g_A=\"<img src='\"+sub_skindir+\"/\"+home_img+\"' alt=''>\"%>");
    EXPECT_EQ(Run("<%=g_A%>"), "<img src='../skins/2/logo.gif' alt=''>");
    Run("<%g_B=\"pre-\"+g_A+\"-post\"%>");
    EXPECT_EQ(Run("<%=g_B%>"), "pre-<img src='../skins/2/logo.gif' alt=''>-post");
    // A quoted value that ends at the line end inside a longer tag; an unknown
    // reference inserts nothing.
    Run("<%g_C=\"one\"+unknown+\"two\"\n g_D=\"x\"%>");
    EXPECT_EQ(Run("<%=g_C%>|<%=g_D%>"), "onetwo|x");
    // Quotes inside a single literal part are kept.
    Run("<%g_E=\"say \"hi\" now\"%>");
    EXPECT_EQ(Run("<%=g_E%>"), "say \"hi\" now");
}

TEST_F(TemplateTags, VariablesWrittenBeforeTheirAssignmentKeepTheEarlierValue) {
    EXPECT_EQ(Run("<%=win_id%>|<%win_id=later%><%=win_id%>"), "|later");
}

}  // namespace
