// The command line of rastrix: options with their values, parsed without side effects so
// that the parser can be tested and fuzzed on its own.
#pragma once

#include <string>
#include <vector>

enum class ImageMode {
    None,          // no image run (query or search run)
    SingleJpeg,    // img-N-e.jpg
    SplitLayers,   // img-N.jpg (background) + img-N-f.png (foreground)
};

struct EngineOptions {
    double resolution = 72.0;        // -r, dots per inch (fractions allowed)
    bool text_output = false;        // -o all
    int only_page = 0;               // -page, 1-based; 0 = every page
    std::string postfix;             // -postfix, appended to every image name
    int jpeg_quality = 75;           // -jpeg-quality, 1..100
    int jpeg_smoothing = 0;          // -jpeg-smoothing-factor, 0..100
    bool jpeg_encoding = false;      // -e jpeg
    bool verbose = false;            // -verbose: progress lines on standard error
    bool single_bit_alpha = false;   // -png-single-bit-alpha
    bool split_layers = false;       // -bf
    std::string image_dir;           // -d
    double tile_resolution = 0;      // -tile-r: the text layer's tiles at this resolution (-bf)
    std::string tile_dir;            // -tile-dir: where the tiles and tiles.js go
    bool size_query = false;         // -size
    bool info_query = false;         // -i
    std::string output_dir;          // -output-dir
    std::string title;               // -title
    std::string description;         // -description
    int page_count_limit = -1;       // -page-count; -1 = no limit
    bool help = false;               // --help
    bool version = false;            // --version
    std::string pdf_path;            // last argument

    ImageMode Mode() const;
};

enum class ParseResult { Ok, Usage };

// Parses argv[1..]. On failure `error` holds one line that names the offending argument.
// Empty arguments are skipped: a caller that splits a command line ending in a blank may
// pass one, and it can never name a file.
ParseResult ParseEngineOptions(const std::vector<std::string>& args, EngineOptions& out, std::string& error);

// The text printed for --help.
const char* EngineUsageText();
