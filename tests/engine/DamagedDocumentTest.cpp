// Documents MuPDF reads only in part: the run goes on and succeeds, and its standard error
// names the file's repair and every page that came out incomplete, in whole lines that the
// caller can never take for progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

enum class Damage {
    Cut,       // the streams lose their data: offsets move, so the file must be repaired
    Garbled,   // the streams' data is overwritten in place: the file itself is intact
};

// pages6.pdf with the content streams of pages 4 to 6 damaged. Pages are written in
// order, so the n-th "/Type /Page " object is page n.
std::string DamagePages456(Damage damage)
{
    std::string pdf = ReadFileBytes(Fixture("pages6.pdf"));
    std::vector<std::string> contents;
    std::regex page_object(R"(/Type /Page /[^\n]*/Contents (\d+) 0 R)");
    for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), page_object); it != std::sregex_iterator(); ++it)
        contents.push_back((*it)[1].str());
    EXPECT_EQ(contents.size(), 6u);
    // Back to front, so that cutting a stream does not move the ones still to find.
    for (size_t page = 6; page >= 4 && page <= contents.size(); --page) {
        size_t obj = pdf.find("\n" + contents[page - 1] + " 0 obj\n");
        size_t data = pdf.find("stream\n", obj) + 7;
        size_t end = pdf.find("\nendstream", data);
        EXPECT_TRUE(obj != std::string::npos && end != std::string::npos);
        if (damage == Damage::Cut)
            pdf.erase(data + 10, end - data - 10);
        else
            std::fill(pdf.begin() + static_cast<long>(data + 10), pdf.begin() + static_cast<long>(end), '\0');
    }
    return pdf;
}

// The "rastrix: warning:" lines of a run, sorted (workers finish pages in any order).
std::vector<std::string> Warnings(const std::string& err)
{
    std::vector<std::string> found;
    for (const std::string& line : Lines(err))
        if (line.rfind("rastrix: warning: ", 0) == 0)
            found.push_back(line);
    std::sort(found.begin(), found.end());
    return found;
}

std::string ProgressOnly(const std::string& err)
{
    std::string progress;
    for (const std::string& line : Lines(err))
        if (line.rfind("PN:", 0) == 0)
            progress += line + "\n";
    return progress;
}

// Share of pure white pixels of an image.
double WhiteShare(const fs::path& jpeg)
{
    Raster img;
    if (!ReadJpeg(jpeg, img))
        return -1;
    size_t white = 0;
    for (size_t i = 0; i < img.pixels.size(); i += static_cast<size_t>(img.channels))
        white += img.pixels[i] >= 250;
    return double(white) * img.channels / double(img.pixels.size());
}

void ExpectPages456Named(const std::vector<std::string>& warnings)
{
    ASSERT_EQ(warnings.size(), 3u) << ::testing::PrintToString(warnings);
    for (size_t i = 0; i < 3; ++i) {
        std::string prefix = "rastrix: warning: page " + std::to_string(4 + i) + ": read only in part (";
        EXPECT_EQ(warnings[i].rfind(prefix, 0), 0u) << warnings[i];
    }
}

// A three-page document written here: page 2 carries two links to destinations the
// document does not define (a named one and a GoTo action), page 3 a content stream with
// garbage in it. The cross-reference table is exact, so the file itself is sound.
std::string LinkAndDamageDocument()
{
    auto text = [](const std::string& s) { return "BT /F1 12 Tf 20 100 Td (" + s + ") Tj ET"; };
    const std::string links = "/Annots [<< /Type /Annot /Subtype /Link /Rect [10 10 100 50] /Border [0 0 0] "
                              "/Dest (missing) >> << /Type /Annot /Subtype /Link /Rect [10 60 100 90] "
                              "/A << /S /GoTo /D /nowhere >> >>] ";
    const std::pair<std::string, std::string> pages[] = {
        {text("one"), ""}, {text("two"), links}, {text("three") + std::string(4, '\0') + " ]]] BT ET ET", ""}};
    std::vector<std::string> objects = {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    const int pages_object = 2 + 2 * 3;
    std::string kids;
    for (const auto& [content, extra] : pages) {
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                          "\nendstream");
        objects.push_back("<< /Type /Page /Parent " + std::to_string(pages_object) +
                          " 0 R /MediaBox [0 0 200 200] /Resources << /Font << /F1 1 0 R >> >> /Contents " +
                          std::to_string(objects.size()) + " 0 R " + extra + ">>");
        kids += std::to_string(objects.size()) + " 0 R ";
    }
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count 3 >>");
    objects.push_back("<< /Type /Catalog /Pages " + std::to_string(pages_object) + " 0 R >>");
    std::string pdf = "%PDF-1.4\n";
    std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 0; i < objects.size(); ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref_at = pdf.size();
    pdf += xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root " +
           std::to_string(objects.size()) + " 0 R >>\nstartxref\n" + std::to_string(xref_at) + "\n%%EOF\n";
    return pdf;
}

TEST(RastrixDamage, PagesReadOnlyInPartAreNamedAndTheRunSucceeds)
{
    TempHome home;
    for (Damage damage : {Damage::Cut, Damage::Garbled}) {
        bool cut = damage == Damage::Cut;
        SCOPED_TRACE(cut ? "cut" : "garbled");
        fs::path pdf = home.Root() / (cut ? "cut.pdf" : "garbled.pdf");
        WriteFileBytes(pdf, DamagePages456(damage));
        fs::path dir = home.Root() / (cut ? "cut" : "garbled");

        RunResult r = RunRastrix({"-r", "20", "-verbose", "-o", "none", "-e", "jpeg", "-d", dir.string(),
                                  pdf.string()},
                                 {"RASTRIX_THREADS=3"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        // Every line is a progress line or a whole warning line; the progress is unbroken.
        for (const std::string& line : Lines(r.err))
            EXPECT_TRUE(line.rfind("PN:", 0) == 0 || line.rfind("rastrix: warning: ", 0) == 0) << line;
        EXPECT_EQ(ProgressOnly(r.err), "PN:1/6\r\nPN:2/6\r\nPN:3/6\r\nPN:4/6\r\nPN:5/6\r\nPN:6/6\r\n");
        std::vector<std::string> warnings = Warnings(r.err);
        for (const std::string& w : warnings)
            EXPECT_EQ(w.find("PN:", 1), std::string::npos) << w;
        // Only a file whose table had to be rebuilt says so, and once (every worker opens
        // its own copy and finds the damage).
        const std::string repaired = "rastrix: warning: the file is damaged and was repaired";
        EXPECT_EQ(std::count(warnings.begin(), warnings.end(), repaired), cut ? 1 : 0);
        warnings.erase(std::remove(warnings.begin(), warnings.end(), repaired), warnings.end());
        ExpectPages456Named(warnings);
        // The damage is real: pages 4 to 6 come out blank, the others carry their text.
        ASSERT_EQ(FilesIn(dir).size(), 6u);
        for (int page = 1; page <= 6; ++page) {
            double white = WhiteShare(dir / ("img-" + std::to_string(page) + "-e.jpg"));
            if (page >= 4)
                EXPECT_GT(white, 0.999) << page;
            else
                EXPECT_LT(white, 0.99) << page;
        }

        // The search run reads the pages the same way and says the same.
        fs::path book = home.Root() / (cut ? "book-cut" : "book-garbled");
        RunResult t = RunRastrix({"-o", "all", "-output-dir", book.string(), "-title", "T", pdf.string()});
        ASSERT_EQ(t.exit_code, 0) << t.err;
        std::vector<std::string> text_warnings = Warnings(t.err);
        EXPECT_EQ(std::count(text_warnings.begin(), text_warnings.end(), repaired), cut ? 1 : 0);
        text_warnings.erase(std::remove(text_warnings.begin(), text_warnings.end(), repaired), text_warnings.end());
        EXPECT_EQ(text_warnings, warnings);
        EXPECT_NE(ReadFileBytes(book / "txt.js").find("This is page 3 of"), std::string::npos);
    }
}

TEST(RastrixDamage, IntactDocumentGivesNoWarning)
{
    TempHome home;
    fs::path dir = home.Root() / "zoom";
    RunResult r = RunRastrix({"-r", "20", "-verbose", "-png-single-bit-alpha", "-bf", "-d", dir.string(),
                              Fixture("pages6.pdf")},
                             {"RASTRIX_THREADS=3"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "PN:1/6\r\nPN:2/6\r\nPN:3/6\r\nPN:4/6\r\nPN:5/6\r\nPN:6/6\r\n");
    RunResult t = RunRastrix({"-o", "all", "-output-dir", (home.Root() / "book").string(), "-title", "T",
                              Fixture("pages6.pdf")});
    ASSERT_EQ(t.exit_code, 0) << t.err;
    EXPECT_TRUE(t.err.empty()) << t.err;
}

TEST(RastrixDamage, AnUndefinedLinkDestinationIsNoDamage)
{
    TempHome home;
    fs::path pdf = home.Root() / "links.pdf";
    WriteFileBytes(pdf, LinkAndDamageDocument());
    const std::vector<std::string> only_page3 = {
        "rastrix: warning: page 3: read only in part (syntax error in content stream)"};
    RunResult r = RunRastrix({"-r", "20", "-verbose", "-o", "none", "-e", "jpeg", "-d",
                              (home.Root() / "img").string(), pdf.string()},
                             {"RASTRIX_THREADS=2"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Warnings(r.err), only_page3) << r.err;
    EXPECT_EQ(FilesIn(home.Root() / "img").size(), 3u);
    RunResult t = RunRastrix({"-o", "all", "-output-dir", (home.Root() / "book").string(), "-title", "T", pdf.string()});
    ASSERT_EQ(t.exit_code, 0) << t.err;
    EXPECT_EQ(Warnings(t.err), only_page3) << t.err;
}

} // namespace
