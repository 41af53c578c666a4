#include "engine/EngineOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// Whole decimal number in [lo, hi]; no sign, blanks or trailing characters.
bool ParseInt(const std::string& text, int lo, int hi, int& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < lo || value > hi)
        return false;
    out = static_cast<int>(value);
    return true;
}

// A resolution: digits with an optional fraction ("96", "64.125"). Callers that want an
// exact pixel size pass the fraction; integer callers get the nearest size to it.
bool ParseResolution(const std::string& text, double& out)
{
    if (text.empty() || text.size() > 32)
        return false;
    bool dot = false;
    bool digit = false;
    for (char c : text) {
        if (c == '.' && !dot)
            dot = true;
        else if (c >= '0' && c <= '9')
            digit = true;
        else
            return false;
    }
    if (!digit)
        return false;
    errno = 0;
    double value = std::strtod(text.c_str(), nullptr);
    // A caller that computes a whole resolution for a small image of a large page rounds
    // anything below 1 down to 0; 1 is the nearest resolution it can have meant.
    if (value == 0.0)
        value = 1.0;
    // Upper bound keeps a single page image within a sane allocation.
    if (errno != 0 || !std::isfinite(value) || value < 0.05 || value > 2400.0)
        return false;
    out = value;
    return true;
}

} // namespace

ImageMode EngineOptions::Mode() const
{
    if (size_query || info_query || image_dir.empty())
        return ImageMode::None;
    return split_layers ? ImageMode::SplitLayers : ImageMode::SingleJpeg;
}

ParseResult ParseEngineOptions(const std::vector<std::string>& args, EngineOptions& out, std::string& error)
{
    out = EngineOptions();
    bool options_ended = false;
    std::vector<std::string> positional;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty())
            continue;
        if (options_ended || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }

        // Flags.
        if (arg == "-verbose") { out.verbose = true; continue; }
        if (arg == "-png-single-bit-alpha") { out.single_bit_alpha = true; continue; }
        if (arg == "-bf") { out.split_layers = true; continue; }
        if (arg == "-size") { out.size_query = true; continue; }
        if (arg == "-i") { out.info_query = true; continue; }
        if (arg == "--help" || arg == "-h") { out.help = true; continue; }
        if (arg == "--version") { out.version = true; continue; }

        static const char* const kValued[] = {
            "-r", "-o", "-page", "-postfix", "-jpeg-quality", "-jpeg-smoothing-factor",
            "-e", "-d", "-output-dir", "-title", "-description", "-page-count", "-tile-r", "-tile-dir",
        };
        bool valued = false;
        for (const char* name : kValued)
            valued = valued || arg == name;
        if (!valued) {
            error = "unknown option '" + arg + "' (see --help)";
            return ParseResult::Usage;
        }
        if (i + 1 >= args.size()) {
            error = "option " + arg + " needs a value";
            return ParseResult::Usage;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (arg == "-r") {
            ok = ParseResolution(value, out.resolution);
        } else if (arg == "-o") {
            ok = value == "none" || value == "all";
            out.text_output = value == "all";
        } else if (arg == "-page") {
            ok = ParseInt(value, 1, 99999999, out.only_page);
        } else if (arg == "-postfix") {
            // The postfix becomes part of a file name: no folder separators, no NUL.
            ok = value.find('/') == std::string::npos && value.size() <= 64;
            out.postfix = value;
        } else if (arg == "-jpeg-quality") {
            ok = ParseInt(value, 1, 100, out.jpeg_quality);
        } else if (arg == "-jpeg-smoothing-factor") {
            ok = ParseInt(value, 0, 100, out.jpeg_smoothing);
        } else if (arg == "-e") {
            ok = value == "jpeg" || value == "jpg";
            out.jpeg_encoding = ok;
        } else if (arg == "-d") {
            out.image_dir = value;
            ok = !value.empty();
        } else if (arg == "-tile-r") {
            ok = ParseResolution(value, out.tile_resolution);
        } else if (arg == "-tile-dir") {
            out.tile_dir = value;
            ok = !value.empty();
        } else if (arg == "-output-dir") {
            out.output_dir = value;
            ok = !value.empty();
        } else if (arg == "-title") {
            out.title = value;
        } else if (arg == "-description") {
            out.description = value;
        } else if (arg == "-page-count") {
            ok = ParseInt(value, 0, 99999999, out.page_count_limit);
        }
        if (!ok) {
            error = "invalid value '" + value + "' for option " + arg;
            return ParseResult::Usage;
        }
    }

    if (out.help || out.version)
        return ParseResult::Ok;
    if (positional.size() != 1) {
        error = positional.empty() ? "no PDF file given (see --help)"
                                   : "more than one PDF file given: '" + positional[1] + "'";
        return ParseResult::Usage;
    }
    out.pdf_path = positional[0];
    if (out.size_query && out.info_query) {
        error = "-size and -i cannot be combined";
        return ParseResult::Usage;
    }
    if (out.jpeg_encoding && out.split_layers) {
        error = "-e jpeg and -bf cannot be combined";
        return ParseResult::Usage;
    }
    if ((out.tile_resolution > 0) != !out.tile_dir.empty() || (!out.tile_dir.empty() && !out.split_layers)) {
        error = "-tile-r and -tile-dir go together, and only with -bf";
        return ParseResult::Usage;
    }
    if (out.text_output && out.output_dir.empty()) {
        error = "-o all needs -output-dir";
        return ParseResult::Usage;
    }
    if (!out.size_query && !out.info_query && !out.text_output && out.image_dir.empty()) {
        error = "nothing to do: give -d, -o all, -size or -i (see --help)";
        return ParseResult::Usage;
    }
    return ParseResult::Ok;
}

const char* EngineUsageText()
{
    return
        "Usage: rastrix [options] FILE.pdf\n"
        "Renders PDF pages to images, extracts their text, or reports page sizes.\n"
        "\n"
        "Queries (standard output):\n"
        "  -i                      title, author, keywords, subject, page count,\n"
        "                          page 1 width and height in pixels at -r (uncapped)\n"
        "  -size                   page 1 width and height of its image at -r\n"
        "Image runs (progress on standard error):\n"
        "  -d DIR                  write one image per page into DIR (created when missing)\n"
        "  -e jpeg                 img-N-e.jpg per page (the default image kind)\n"
        "  -bf                     img-N.jpg without text plus img-N-f.png with the text\n"
        "  -png-single-bit-alpha   foreground pixels fully opaque or fully transparent\n"
        "  -page N                 only page N\n"
        "  -postfix TEXT           appended to every image name before its extension\n"
        "  -tile-r N -tile-dir DIR with -bf: the text layer also at N dpi in 256 px tiles\n"
        "                          img-N-COLUMN-ROW.png (tiles without text left out),\n"
        "                          listed in DIR/tiles.js\n"
        "  -jpeg-quality Q         1..100 (default 75)\n"
        "  -jpeg-smoothing-factor S  0..100 (default 0)\n"
        "  -verbose                print PN:done/total after every page\n"
        "Text run:\n"
        "  -o all -output-dir DIR  write text.html and txt.js into DIR\n"
        "  -title TEXT             the book title for the text files\n"
        "  -description TEXT       the book's description for text.html\n"
        "  -page-count C           at most C pages\n"
        "Common:\n"
        "  -r N                    resolution in dots per inch (default 72, fractions allowed;\n"
        "                          0 is taken as 1)\n"
        "  -o none                 no text output\n"
        "  --help, --version\n"
        "\n"
        "Pixel size of a page: floor(points * N / 72 + 0.5) on each side of the page box\n"
        "after its rotation, at least 1; a page above 50 million pixels or 60000 on a side\n"
        "is drawn at the largest resolution under that cap, keeping its shape.\n"
        "Exit codes: 0 done, 1 document or page failure, 2 usage error.\n"
        "\n"
        "Standard error, one whole line each, never containing \"PN:\" but in progress:\n"
        "  PN:done/total           (CR LF) after every page, with -verbose\n"
        "  rastrix: page N: TEXT   page N failed and has no output (exit code 1)\n"
        "  rastrix: warning: page N: read only in part (TEXT)\n"
        "                          page N was damaged; its output holds what could be read\n"
        "  rastrix: warning: the file is damaged and was repaired\n"
        "                          at most once per run, before or among the pages\n"
        "  rastrix: TEXT           any other failure\n"
        "Warnings leave the exit code at 0.\n"
        "\n"
        "Environment:\n"
        "  RASTRIX_THREADS         worker threads (default: one per core)\n"
        "  RASTRIX_PAGE_SECONDS    time limit of one page (default 120)\n"
        "  RASTRIX_MEMORY_MB       memory budget of the renderer (default 1536)\n";
}
