// Reading a template, expanding its include directives and writing the page.
#include "tests/pagegen/PageTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class MakePage : public ::testing::Test {
protected:
    // Writes the template (and its folder) and makes the page; "<failed>" on false.
    std::string Make(const std::string& template_text, const BookPageSettings& settings = SampleBook()) {
        WriteFileBytes(tpl, template_text);
        HtmlBuilder builder(settings);
        if (!builder.MakePage(tpl.string(), out.string())) return "<failed>";
        return ReadFileBytes(out);
    }
    std::string Expand(std::string text, size_t start, const std::string& lang = "") {
        if (!preprocess_include_file(text, start, tpl.string(), lang)) return "<failed>";
        return text;
    }

    TempHome home;
    fs::path dir = home.Root() / "books";
    fs::path tpl = dir / "booklet.asp";
    fs::path out = home.Root() / "book" / "index.html";

    void SetUp() override { fs::create_directories(out.parent_path()); }
};

TEST_F(MakePage, TextBeforeTheDocumentTypeIsDropped) {
    EXPECT_EQ(Make("\xEF\xBB\xBF<%@ Language=VBScript %>\r\n<!-- note -->\r\n<!DOCTYPE html>\r\n<p><%=PAGECOUNT%></p>\r\n"),
              "<!DOCTYPE html>\r\n<p>12</p>\r\n");
    // Without a declaration the whole template is used.
    EXPECT_EQ(Make("<p><%=PAGECOUNT%></p>"), "<p>12</p>");
    EXPECT_EQ(Make("ab"), "ab");
    EXPECT_EQ(Make("a"), "a");
}

TEST_F(MakePage, FailuresAreReportedAsFailures) {
    EXPECT_EQ(Make(""), "<failed>");  // nothing to read
    HtmlBuilder builder(SampleBook());
    EXPECT_FALSE(builder.MakePage((dir / "missing.asp").string(), out.string()));
    WriteFileBytes(tpl, "<!DOCTYPE html>");
    EXPECT_FALSE(builder.MakePage(tpl.string(), (home.Root() / "no" / "such" / "index.html").string()));
    // A page that cannot be written whole (full device) is not passed off as made.
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(builder.MakePage(tpl.string(), "/dev/full"));
    }
}

TEST_F(MakePage, LanguageFragmentFollowsTheChosenLanguage) {
    WriteFileBytes(dir / "lang" / "en.asp", "EN");
    WriteFileBytes(dir / "lang" / "fr.asp", "FR");
    const std::string text = "<!DOCTYPE x><!--#include file=\"lang/en.asp\"-->\n|";
    EXPECT_EQ(Expand(text, 0, "fr.asp"), "<!DOCTYPE x>FR|");
    EXPECT_EQ(Expand(text, 0, ""), "<!DOCTYPE x>EN|");
    // Backslashes in the name and a cn.asp fragment: swapped too.
    EXPECT_EQ(Expand("<!--#include file='lang\\cn.asp'-->\n", 0, "fr.asp"), "FR");
    // A file that merely ends in en.asp is not a language fragment.
    WriteFileBytes(dir / "open.asp", "OPEN");
    EXPECT_EQ(Expand("<!--#include file=\"open.asp\"-->\n", 0, "fr.asp"), "OPEN");
    // Through MakePage, the language comes from the settings.
    BookPageSettings s = SampleBook();
    s.lang_filename = "fr.asp";
    EXPECT_EQ(Make("<!DOCTYPE x>\n<!--#include file=\"lang/en.asp\"-->\n", s), "<!DOCTYPE x>\nFR");
}

TEST_F(MakePage, MissingOrEmptyIncludesStayAsWritten) {
    WriteFileBytes(dir / "empty.asp", "");
    fs::create_directories(dir / "folder.asp");
    const std::string text = "<!--#include file=\"nope.asp\"-->\nA<!--#include file=\"empty.asp\"-->\nB"
                             "<!--#include file=\"folder.asp\"-->\n";
    EXPECT_EQ(Expand(text, 0), text);
}

TEST_F(MakePage, EveryDirectiveIsExpandedAndTagsInIncludesRun) {
    std::string text = "<!DOCTYPE html>\n";
    std::string expected = text;
    for (int i = 0; i < 7; ++i) {
        const std::string name = "part" + std::to_string(i) + ".asp";
        WriteFileBytes(dir / name, "[" + std::to_string(i) + "<%=PAGECOUNT+" + std::to_string(i) + "%>]");
        text += "<!--#include file=\"" + name + "\"-->\n";
        expected += "[" + std::to_string(i) + std::to_string(12 + i) + "]";
    }
    EXPECT_EQ(Make(text), expected);
}

TEST_F(MakePage, DirectiveTakesOnlyALineEndAfterItsClosingMark) {
    WriteFileBytes(dir / "a.asp", "A");
    EXPECT_EQ(Expand("<!--#include file=\"a.asp\"--><div>", 0), "A<div>");
    EXPECT_EQ(Expand("<!--#include file=\"a.asp\"-->\r\n", 0), "A\n");
    EXPECT_EQ(Expand("x<!--#include file=\"a.asp\"-->", 0), "xA");
    // Text before the start position is not copied.
    EXPECT_EQ(Expand("dropped<!--#include file=\"a.asp\"-->|", 7), "A|");
}

TEST_F(MakePage, TruncatedDirectivesAndShortTextsAreHandledInBounds) {
    for (const std::string text : {"", "<", "<!", "<!--#include file=", "<!--#include file=\"",
                                   "<!--#include file=\"a.asp", "<!--#include file=\"a.asp\"--"}) {
        EXPECT_EQ(Expand(text, 0), text);
        EXPECT_EQ(Expand(text, text.size() + 5), "");  // a start past the end copies nothing
    }
}

TEST_F(MakePage, ShippedTemplateLeavesNoTagUnexpanded) {
    const fs::path shipped = SourceDir() / "data" / "DefaultCfg" / "Upload";
    if (!fs::exists(shipped / "booklet.asp")) GTEST_SKIP() << "no shipped template yet";
    fs::copy(shipped, dir, fs::copy_options::recursive);
    BookPageSettings s = SampleBook();
    s.title = "A <b>bold</b> title";
    s.skin_usemail = 1;
    s.skin_usenote = 1;
    HtmlBuilder builder(s);
    ASSERT_TRUE(builder.MakePage(tpl.string(), out.string()));
    const std::string page = ReadFileBytes(out);
    EXPECT_EQ(page.rfind("<!DOCTYPE", 0), 0u);
    EXPECT_EQ(page.find("<%"), std::string::npos);
    EXPECT_EQ(page.find("%>"), std::string::npos);
    EXPECT_EQ(page.find("<!--#include"), std::string::npos) << "an include file of the template is missing";
    EXPECT_NE(page.find(s.job_key), std::string::npos);
    EXPECT_EQ(page.find("<b>bold</b>"), std::string::npos);
}

// The shipped page describes the book to link previews and search engines, every value
// escaped; the tags that point at the book appear only with an absolute published address.
TEST_F(MakePage, ShippedTemplateDescribesTheBookForPreviews) {
    const fs::path shipped = SourceDir() / "data" / "DefaultCfg" / "Upload";
    if (!fs::exists(shipped / "booklet.asp")) GTEST_SKIP() << "no shipped template yet";
    fs::copy(shipped, dir, fs::copy_options::recursive);
    BookPageSettings s = SampleBook();
    s.title = "Tom's \"best\" <book>";
    s.description = "A \"quoted\" <script>alert(1)</script> & more";
    s.keywords = "birds, <i>owls</i>";
    s.book_address = "https://books.example.org/shelf/" + s.job_key + "/index.html?from=\"x\"";
    const std::string page = Make(ReadFileBytes(tpl), s);
    const std::string description = "A &quot;quoted&quot; &lt;script&gt;alert(1)&lt;/script&gt; &amp; more";
    const std::string address = "https://books.example.org/shelf/" + s.job_key + "/index.html?from=&quot;x&quot;";
    const std::string cover = "https://books.example.org/shelf/" + s.job_key + "/thumb/img-1-e-cover.jpg";
    for (const std::string& tag : {
             "<meta name=\"description\" content=\"" + description + "\">",
             std::string("<meta name=\"keywords\" content=\"birds, &lt;i&gt;owls&lt;/i&gt;\">"),
             std::string("<meta property=\"og:type\" content=\"book\">"),
             std::string("<meta property=\"og:title\" content=\"Tom&#39;s &quot;best&quot; &lt;book&gt;\">"),
             "<meta property=\"og:description\" content=\"" + description + "\">",
             std::string("<meta property=\"og:locale\" content=\"en\">"),
             std::string("<meta name=\"twitter:card\" content=\"summary\">"),
             "<meta property=\"og:url\" content=\"" + address + "\">",
             "<meta property=\"og:image\" content=\"" + cover + "\">",
             "<meta name=\"twitter:image\" content=\"" + cover + "\">",
             "<link rel=\"canonical\" href=\"" + address + "\">"})
        EXPECT_NE(page.find(tag + "\n"), std::string::npos) << tag;
    EXPECT_EQ(page.find("<script>alert"), std::string::npos);
    EXPECT_EQ(page.find("<i>owls"), std::string::npos);

    // A long description stays whole: it is not cut to the size of the other variables.
    s.description = std::string(1000, '"');
    std::string quotes;
    for (int i = 0; i < 1000; ++i) quotes += "&quot;";
    EXPECT_NE(Make(ReadFileBytes(tpl), s).find("<meta name=\"description\" content=\"" + quotes + "\">"),
              std::string::npos);

    // Without an absolute published address nothing points at a place the book is not.
    for (const char* unknown : {"", "index.html", "/books/x/", "ftp://example.org/x/"}) {
        s.book_address = unknown;
        const std::string local = Make(ReadFileBytes(tpl), s);
        EXPECT_NE(local.find("<meta property=\"og:title\""), std::string::npos) << unknown;
        for (const char* absent : {"og:url", "og:image", "twitter:image", "rel=\"canonical\""})
            EXPECT_EQ(local.find(absent), std::string::npos) << unknown << ": " << absent;
    }
}

// A book with the link-preview picture names it with its size for a large preview; the
// PDF offered for download is named by an address that reaches its file whatever its name.
TEST_F(MakePage, ShippedTemplateNamesThePreviewPictureAndTheOfferedPdf) {
    const fs::path shipped = SourceDir() / "data" / "DefaultCfg" / "Upload";
    if (!fs::exists(shipped / "booklet.asp")) GTEST_SKIP() << "no shipped template yet";
    fs::copy(shipped, dir, fs::copy_options::recursive);
    BookPageSettings s = SampleBook();
    s.book_address = "https://books.example.org/shelf/" + s.job_key + "/";
    EXPECT_NE(Make(ReadFileBytes(tpl), s).find("data-pdf=\"\""), std::string::npos) << "no PDF unless offered";
    s.share_image_width = 486;
    s.share_image_height = 630;
    s.offered_pdf = "Rapport 2024 #2 \"é\".pdf";
    const std::string page = Make(ReadFileBytes(tpl), s);
    const std::string picture = s.book_address + "thumb/img-1-e-share.jpg";
    for (const std::string& tag : {"<meta property=\"og:image\" content=\"" + picture + "\">",
                                   std::string("<meta property=\"og:image:width\" content=\"486\">"),
                                   std::string("<meta property=\"og:image:height\" content=\"630\">"),
                                   std::string("<meta name=\"twitter:card\" content=\"summary_large_image\">"),
                                   "<meta name=\"twitter:image\" content=\"" + picture + "\">"})
        EXPECT_NE(page.find(tag + "\n"), std::string::npos) << tag;
    EXPECT_NE(page.find("data-pdf=\"Rapport%202024%20%232%20%22%C3%A9%22.pdf\""), std::string::npos);
}

}  // namespace
