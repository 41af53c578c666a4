// Fuzz target: the engine's command-line parser. The input is split at NUL bytes into
// arguments. Besides crashes, it fails when an accepted command line breaks a promise the
// rest of the engine relies on (values in range, a PDF path, an image name that stays in
// its folder) or refuses one without saying why.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/AtomicFile.h"
#include "engine/EngineOptions.h"
#include "engine/PageRenderer.h"

namespace {

void Fail(const char* what)
{
    std::fprintf(stderr, "option parser: %s\n", what);
    std::abort();
}

void CheckAccepted(const EngineOptions& o)
{
    if (o.help || o.version)
        return;
    if (o.pdf_path.empty())
        Fail("accepted without a PDF path");
    if (!(o.resolution >= 0.05 && o.resolution <= 2400.0))
        Fail("resolution out of range");
    if (o.jpeg_quality < 1 || o.jpeg_quality > 100)
        Fail("JPEG quality out of range");
    if (o.jpeg_smoothing < 0 || o.jpeg_smoothing > 100)
        Fail("smoothing factor out of range");
    if (o.only_page < 0 || o.page_count_limit < -1)
        Fail("negative page number");
    if (o.size_query && o.info_query)
        Fail("both queries accepted");
    if (o.text_output && o.output_dir.empty())
        Fail("text run without an output folder");
    // Every image name must land in the -d folder, whatever the postfix holds.
    RenderSettings settings;
    settings.folder = "out";
    settings.postfix = o.postfix;
    for (ImageKind kind : {ImageKind::Single, ImageKind::Background, ImageKind::Foreground})
        if (FolderOf(ImagePath(settings, 1, kind)) != "out")
            Fail("image name leaves its folder");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() <= 64; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    EngineOptions first;
    std::string error;
    ParseResult result = ParseEngineOptions(args, first, error);
    if (result == ParseResult::Ok) {
        CheckAccepted(first);
    } else if (error.empty()) {
        Fail("refused without a reason");
    }
    // Parsing has no hidden state: the same arguments give the same answer.
    EngineOptions second;
    std::string error2;
    if (ParseEngineOptions(args, second, error2) != result || error2 != error ||
        second.pdf_path != first.pdf_path || second.resolution != first.resolution)
        Fail("the same arguments parsed differently");
    return 0;
}
