// The preload hint for the first page's images (see FirstSpreadHint.h).
#include "pagegen/FirstSpreadHint.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace pagegen {
namespace {

struct ImageSet {
    const char* dir;
    int32_t width;
    int32_t height;
};

// Folder names the viewer joins into addresses unchanged.
bool PlainFolder(const std::string& dir) {
    return std::all_of(dir.begin(), dir.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '/' ||
               c == '_' || c == '-';
    });
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

}  // namespace

std::string FirstSpreadHint(const BookPageSettings& book, const std::string& image_dir) {
    if (!PlainFolder(image_dir) || book.page_count < 1) return {};
    const bool sized = book.page_width > 0 && book.page_height > 0;
    const double aspect = sized ? static_cast<double>(book.page_width) / book.page_height : 0.75;
    std::vector<ImageSet> sets = {{"LowRes", book.low_res_width, book.low_res_height},
                                  {"MedRes", book.med_res_width, book.med_res_height},
                                  {"HighRes", book.high_res_width, book.high_res_height}};
    // The zoom layer is made at the book's page size.
    if (sized) sets.push_back({"100", book.page_width, book.page_height});

    // Each set as the width of the page it holds, as the viewer measures it: portrait
    // pages are scaled to the set's height, other pages to its width.
    std::vector<std::pair<long, const char*>> candidates;
    for (const ImageSet& set : sets) {
        if (set.width <= 0 && set.height <= 0) continue;
        const double height = (aspect <= 1 || set.width <= 0) ? (set.height > 0 ? set.height : set.width / aspect)
                                                                : set.width / aspect;
        const long descriptor = static_cast<long>(height * aspect / 0.95 + 0.5);
        if (descriptor < 1) continue;
        // Two sets of one width would be the same choice to the browser: the first stays.
        if (std::none_of(candidates.begin(), candidates.end(), [&](const auto& c) { return c.first == descriptor; }))
            candidates.emplace_back(descriptor, set.dir);
    }
    // Without a normal set the viewer falls back on sizes of its own: no hint then.
    const bool normal_set = std::any_of(sets.begin(), sets.begin() + 3, [](const ImageSet& set) {
        return set.width > 0 || set.height > 0;
    });
    if (!normal_set || candidates.empty()) return {};
    std::sort(candidates.begin(), candidates.end());

    // The width the viewer gives page 1: the stage is the window less the toolbar (which
    // lies over the page on a phone-sized window), less a margin of 2% of its width
    // (8 to 24 pixels) all round; two pages stand side by side in a landscape window
    // at least 700 pixels wide, and page 1 then takes the right half.
    const std::string a = Fixed(aspect);
    const std::string pad = "clamp(8px, 2vw, 24px)";
    std::string sizes = "(max-width: 640px) min(calc((100vh - 2 * " + pad + ") * " + a + "), calc(100vw - 2 * " +
                        pad + ")), ";
    if (book.page_count > 1)
        sizes += "(min-width: 700px) and (min-aspect-ratio: 1/1) min(calc((100vh - 48px - 2 * " + pad + ") * " + a +
                 "), calc(50vw - " + pad + ")), ";
    sizes += "min(calc((100vh - 48px - 2 * " + pad + ") * " + a + "), calc(100vw - 2 * " + pad + "))";

    std::string out;
    for (const char* file : {"img-1.jpg", "img-1-f.png"}) {
        const bool text_layer = file[5] == '-';
        std::string srcset;
        for (const auto& [descriptor, dir] : candidates) {
            if (text_layer && book.zoom_text_in_tiles && std::string(dir) == "100") continue;
            if (!srcset.empty()) srcset += ", ";
            srcset += image_dir + dir + "/" + file + " " + std::to_string(descriptor) + "w";
        }
        out += "<link rel=\"preload\" as=\"image\" data-vm-first=\"" + std::string(file) + "\" imagesrcset=\"" + srcset +
               "\" imagesizes=\"" + sizes + "\">\n";
    }
    // The first piece of the page layout (links, words, reading direction), for which the
    // first spread waits.
    out += "<link rel=\"preload\" as=\"script\" href=\"" + image_dir + "layout-1.js\">";
    return out;
}

bool ZoomTextInTiles(const std::string& book_folder) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(book_folder + "/tiles/tiles.js", ignored);
}

}  // namespace pagegen
