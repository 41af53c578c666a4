// Fuzz target: arbitrary bytes as the PDF of every kind of engine run. The input is
// written to a file and handed to the engine's own entry point exactly as a command line
// would hand it over, so opening, page loading, layer splitting, image writing and text
// extraction all see it. Besides crashes and sanitizer reports, it fails when a run
// leaves a temporary file behind or answers a valid command line with a usage error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "engine/EngineMain.h"

namespace fs = std::filesystem;

namespace {

fs::path g_work;   // private folder of this fuzzing process

// Aborts (a finding) when `folder` holds a hidden temporary file of an unfinished write.
void CheckNoTempFiles(const fs::path& folder)
{
    std::error_code ec;
    if (!fs::exists(folder, ec))
        return;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0) {
            std::fprintf(stderr, "temporary file left behind: %s\n", entry.path().c_str());
            std::abort();
        }
    }
}

void Run(const std::vector<std::string>& args)
{
    int code = RunEngine(args);
    if (code != kExitOk && code != kExitFailure) {
        std::fprintf(stderr, "engine answered a valid command line with exit code %d\n", code);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // One worker thread: a finding must replay the same way.
    setenv("RASTRIX_THREADS", "1", 1);
    // A renderer memory budget well inside the fuzzer's own limit, so that a document
    // asking for too much takes the engine's out-of-memory paths instead of ending the run.
    setenv("RASTRIX_MEMORY_MB", "512", 1);
    const char* tmp = std::getenv("TMPDIR");
    g_work = fs::path(tmp && *tmp ? tmp : "/tmp") / ("rastrix-fuzz-" + std::to_string(getpid()));
    fs::create_directories(g_work);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string pdf = (g_work / "in.pdf").string();
    const fs::path images = g_work / "img";
    const fs::path book = g_work / "book";
    {
        FILE* f = std::fopen(pdf.c_str(), "wb");
        if (!f)
            return 0;
        if (size > 0)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    // The queries, then the image and text runs the book needs, each bounded to a few
    // pages at low resolution so that one input stays fast.
    Run({"-r", "72", "-i", pdf});
    Run({"-r", "50.5", "-size", pdf});
    Run({"-r", "40", "-verbose", "-o", "none", "-jpeg-quality", "25", "-jpeg-smoothing-factor", "100",
         "-png-single-bit-alpha", "-bf", "-page-count", "3", "-d", images.string(), pdf});
    Run({"-r", "30", "-o", "none", "-page", "1", "-postfix", "-cover", "-jpeg-quality", "75",
         "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", images.string(), pdf});
    Run({"-o", "all", "-output-dir", book.string(), "-r", "72", "-title", "t", "-page-count", "3", pdf});

    CheckNoTempFiles(images);
    CheckNoTempFiles(book);
    std::error_code ec;
    fs::remove_all(images, ec);
    fs::remove_all(book, ec);
    return 0;
}
