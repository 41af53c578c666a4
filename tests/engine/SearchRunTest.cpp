// The search run: txt.js and text.html in the book folder, checked by parsing them the
// way a browser would (txt.js as JSON after its assignment, text.html as escaped HTML).
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

const char kPrefix[] = "window.VELLUMARK_BOOK_TEXT = ";

// Parses txt.js with Python's JSON reader and prints title, count and pages, one JSON
// value per line, so the test sees exactly what a script would get.
std::vector<std::string> ParseTxtJs(const fs::path& file)
{
    std::string script =
        "import json,sys\n"
        "s=open(sys.argv[1],encoding='utf-8').read()\n"
        "p='" + std::string(kPrefix) + "'\n"
        "assert s.startswith(p) and s.endswith('};\\n'), 'not the txt.js shape'\n"
        "o=json.loads(s[len(p):-2])\n"
        "print(json.dumps(o['title']))\n"
        "print(o['pageCount'])\n"
        "for t in o['pages']: print(json.dumps(t))\n";
    fs::path py = file.parent_path() / "parse.py";
    WriteFileBytes(py, script);
    std::string command = "python3 '" + py.string() + "' '" + file.string() + "'";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
            output.append(buf, n);
        if (pclose(pipe) != 0)
            return {};
    }
    fs::remove(py);
    return Lines(output);
}

TEST(RastrixSearch, WritesBothFilesWithEveryPageInOrder)
{
    TempHome home;
    fs::path book = home.Root() / "BOOK";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "150", "-title",
                              "Say \"hi\" & <go>", "-page-count", "20", Fixture("pages20.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> parsed = ParseTxtJs(book / "txt.js");
    ASSERT_EQ(parsed.size(), 22u);
    EXPECT_EQ(parsed[0], "\"Say \\\"hi\\\" & <go>\"");
    EXPECT_EQ(parsed[1], "20");
    for (int n = 1; n <= 20; ++n)
        EXPECT_EQ(parsed[static_cast<size_t>(n) + 1].rfind("\"Page " + std::to_string(n) + " heading\\nThis is page " +
                                                               std::to_string(n) + " of",
                                                           0),
                  0u)
            << parsed[static_cast<size_t>(n) + 1];

    std::string html = ReadFileBytes(book / "text.html");
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("<title>Say &quot;hi&quot; &amp; &lt;go&gt;</title>"), std::string::npos);
    size_t p3 = html.find("<h2>Page 3</h2>"), p4 = html.find("<h2>Page 4</h2>");
    ASSERT_NE(p3, std::string::npos);
    ASSERT_NE(p4, std::string::npos);
    EXPECT_LT(p3, p4);
    EXPECT_NE(html.find("This is page 3 of", p3), std::string::npos);
    EXPECT_EQ(FilesIn(book),
              (std::vector<std::string>{"layout-1.js", "layout.js", "text.html", "txt-1.js", "txt.js"}));
}

TEST(RastrixSearch, PageCountLimitsThePagesAndLargerCountsAreHarmless)
{
    TempHome home;
    fs::path few = home.Root() / "few", all = home.Root() / "all";
    ASSERT_EQ(RunRastrix({"-o", "all", "-output-dir", few.string(), "-r", "72", "-title", "t", "-page-count", "2",
                          Fixture("pages20.pdf")})
                  .exit_code,
              0);
    EXPECT_EQ(ParseTxtJs(few / "txt.js").size(), 4u);
    ASSERT_EQ(RunRastrix({"-o", "all", "-output-dir", all.string(), "-r", "72", "-title", "t", "-page-count", "99",
                          Fixture("text3.pdf")})
                  .exit_code,
              0);
    std::vector<std::string> parsed = ParseTxtJs(all / "txt.js");
    ASSERT_EQ(parsed.size(), 5u);
    EXPECT_EQ(parsed[1], "3");
}

TEST(RastrixSearch, MarkupInTheTextCannotEscapeEitherFile)
{
    TempHome home;
    fs::path book = home.Root() / "b";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "</script><b>",
                              "-description", "A \"quoted\" <i>note</i> & more", "-page-count", "1",
                              Fixture("special-text.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string js = ReadFileBytes(book / "txt.js");
    EXPECT_EQ(js.find("</"), std::string::npos);
    EXPECT_EQ(js.find('<'), std::string::npos);
    std::vector<std::string> parsed = ParseTxtJs(book / "txt.js");
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed[0], "\"</script><b>\"");
    // The page text arrives intact, quotes, backslash and non-ASCII included.
    EXPECT_NE(parsed[2].find("Tags <b>&amp; \\\"quotes\\\" 'single' </script> caf\\u00e9 \\u00bd"), std::string::npos)
        << parsed[2];
    EXPECT_NE(parsed[2].find("backslash \\\\ and"), std::string::npos) << parsed[2];

    std::string html = ReadFileBytes(book / "text.html");
    EXPECT_EQ(html.find("</script>"), std::string::npos);
    EXPECT_NE(html.find("Tags &lt;b&gt;&amp;amp; &quot;quotes&quot;"), std::string::npos);
    // The description, escaped, as the page's description and as text, and the way back
    // to the book beside it.
    const std::string description = "A &quot;quoted&quot; &lt;i&gt;note&lt;/i&gt; &amp; more";
    EXPECT_NE(html.find("<meta name=\"description\" content=\"" + description + "\">"), std::string::npos) << html;
    EXPECT_NE(html.find("<p>" + description + "</p>"), std::string::npos);
    EXPECT_EQ(html.find("<i>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"index.html\">"), std::string::npos);
    EXPECT_LT(html.find("<a href=\"index.html\">"), html.find("<section"));
}

// Checks with Python's JSON reader that the pieces of layout.js and txt.js in `book` hold,
// in order, exactly the whole files' page entries, each piece naming its first page and
// the book's page count; prints the pieces' first pages, or what does not fit.
std::string CheckPieces(const fs::path& book)
{
    std::string script =
        "import json,os,re,sys\n"
        "d=sys.argv[1]\n"
        "def load(n,p):\n"
        "  s=open(os.path.join(d,n),encoding='utf-8').read(); assert s.startswith(p) and s.endswith('};\\n'), n\n"
        "  return json.loads(s[len(p):-2])\n"
        "out=[]\n"
        "for stem,p in (('layout','window.VELLUMARK_BOOK_LAYOUT = '),('txt','window.VELLUMARK_BOOK_TEXT = ')):\n"
        "  whole=load(stem+'.js',p); firsts=sorted(int(m.group(1)) for m in (re.fullmatch(stem+r'-(\\d+)\\.js',f) for f in os.listdir(d)) if m)\n"
        "  pages=[]\n"
        "  for f in firsts:\n"
        "    o=load('%s-%d.js'%(stem,f),p); assert o['first']==f and o['pageCount']==whole['pageCount'], f\n"
        "    if stem=='layout': assert o['pieces']==32 and o['direction']==whole['direction'] and o['outlineEntries']==len(whole['outline'])\n"
        "    assert len(pages)==f-1, f; pages+=o['pages']\n"
        "  assert pages==whole['pages'], stem+': pieces differ from the whole file'\n"
        "  out.append(stem+' '+' '.join(map(str,firsts)))\n"
        "print('; '.join(out))\n";
    fs::path py = book.parent_path() / "pieces.py";
    WriteFileBytes(py, script);
    std::string output;
    if (FILE* pipe = popen(("python3 '" + py.string() + "' '" + book.string() + "' 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
            output.append(buf, n);
        pclose(pipe);
    }
    fs::remove(py);
    return output;
}

TEST(RastrixSearch, PiecesHoldTheWholeFilesPagesAndAShorterRunLeavesNoneBeyondIt)
{
    TempHome home;
    fs::path book = home.Root() / "BOOK";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "t",
                              Fixture("pages100.pdf")},
                             {"RASTRIX_THREADS=4"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(CheckPieces(book), "layout 1 33 65 97; txt 1 33 65 97\n");
    EXPECT_FALSE(fs::exists(book / "layout-outline.js"));
    // The same folder converted again from a shorter document.
    r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "t", "-page-count", "40",
                    Fixture("pages100.pdf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(CheckPieces(book), "layout 1 33; txt 1 33\n");
}

TEST(RastrixSearch, EmptyDocumentStillGetsItsFiles)
{
    TempHome home;
    fs::path book = home.Root() / "z";
    RunResult r = RunRastrix({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "Empty",
                              "-page-count", "0", Fixture("zero-pages.pdf")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> parsed = ParseTxtJs(book / "txt.js");
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[1], "0");
    EXPECT_TRUE(fs::exists(book / "text.html"));
    EXPECT_EQ(ReadFileBytes(book / "layout.js"),
              "window.VELLUMARK_BOOK_LAYOUT = {\"version\":2,\"unit\":2,\"pageCount\":0,\"direction\":\"ltr\","
              "\"outline\":[],\"pages\":[\n\n]};\n");
}

} // namespace
