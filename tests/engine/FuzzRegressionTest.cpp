// Hostile input for the built rastrix: the fuzzing seed documents (damaged, encrypted,
// empty, odd operators) and every input a fuzzer found, run through the image and text
// runs of a book; and names and arguments crafted to break the error line or to pass
// for a progress line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/RastrixProcess.h"
#include "tests/helpers/TempHome.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> HostileDocuments()
{
    std::vector<fs::path> docs;
    for (const char* folder : {"engine/fuzz/corpus/document", "engine/fuzz/regressions"}) {
        fs::path dir = SourceDir() / folder;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file())
                docs.push_back(entry.path());
    }
    return docs;
}

std::vector<std::string> TempFilesIn(const fs::path& folder)
{
    std::vector<std::string> found;
    if (!fs::is_directory(folder))
        return found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && name[0] == '.' && name.ends_with(".tmp"))
            found.push_back(name);
    }
    return found;
}

} // namespace

TEST(FuzzRegression, HostileDocumentsNeverCrashTheRunsOfABook)
{
    TempHome home;
    std::vector<fs::path> docs = HostileDocuments();
    ASSERT_GE(docs.size(), 5u) << "fuzz seed documents not found under " << SourceDir();
    for (const fs::path& doc : docs) {
        SCOPED_TRACE(doc.filename().string());
        fs::path images = home.Root() / "img";
        fs::path book = home.Root() / "book";
        std::vector<std::vector<std::string>> runs = {
            {"-r", "72", "-i", doc.string()},
            {"-r", "40", "-verbose", "-o", "none", "-jpeg-quality", "25", "-jpeg-smoothing-factor", "100",
             "-png-single-bit-alpha", "-bf", "-d", images.string(), doc.string()},
            {"-r", "15", "-o", "none", "-page", "1", "-postfix", "-cover", "-jpeg-quality", "75",
             "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", images.string(), doc.string()},
            {"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "T", "-page-count", "5",
             doc.string()},
        };
        for (const auto& args : runs) {
            RunResult out = RunRastrix(args);
            ASSERT_NE(out.exit_code, -1) << "killed by a signal or hung: " << args[2] << " " << out.err;
            EXPECT_TRUE(out.exit_code == 0 || out.exit_code == 1) << "exit " << out.exit_code << ": " << out.err;
        }
        EXPECT_TRUE(TempFilesIn(images).empty());
        EXPECT_TRUE(TempFilesIn(book).empty());
        fs::remove_all(images);
        fs::remove_all(book);
    }
}

// The caller takes the first "PN:" anywhere in the engine's standard error as progress,
// so an error line quoting a crafted file name or argument must stay one line and must
// not contain it: otherwise a failed run looks complete.
TEST(FuzzRegression, ErrorLinesQuotingCraftedTextStayOneLineWithoutProgress)
{
    TempHome home;
    std::string crafted = "x\r\nPN:1/1\r\nPN:2/2";
    fs::path damaged = home.Root() / (crafted + ".pdf");
    WriteFileBytes(damaged, "%PDF-1.4\nnot really\n");
    fs::path images = home.Root() / "img";

    std::vector<std::vector<std::string>> runs = {
        {"-r", "72", "-verbose", "-e", "jpeg", "-d", images.string(), (home.Root() / "missing" / crafted).string()},
        {"-r", "72", "-verbose", "-e", "jpeg", "-d", images.string(), damaged.string()},
        {"-r", "72", "-i", damaged.string()},
        {"-r", "72", crafted, "-d", images.string(), damaged.string()},
        {"-r", crafted, "-d", images.string(), damaged.string()},
    };
    for (const auto& args : runs) {
        RunResult out = RunRastrix(args);
        SCOPED_TRACE(out.err);
        ASSERT_NE(out.exit_code, -1);
        EXPECT_NE(out.exit_code, 0);
        ASSERT_FALSE(out.err.empty());
        EXPECT_EQ(out.err.find('\n'), out.err.size() - 1) << "more than one line";
        EXPECT_EQ(out.err.find('\r'), std::string::npos);
        EXPECT_EQ(out.err.find("PN:"), std::string::npos);
        EXPECT_NE(out.err.find("PN :1/1"), std::string::npos) << "the crafted text is not quoted";
    }
    EXPECT_TRUE(TempFilesIn(images).empty());
}
