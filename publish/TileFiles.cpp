#include "publish/TileFiles.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

// The page of "img-<page>-<column>-<row>.png", or 0 for any other name.
int32_t PageOfTile(const std::string& name) {
    if (name.rfind("img-", 0) != 0 || name.size() < 12 || name.compare(name.size() - 4, 4, ".png") != 0) return 0;
    int32_t numbers = 0, page = 0, value = 0;
    bool digits = false;
    for (size_t i = 4; i < name.size() - 4; ++i) {
        const char c = name[i];
        if (c >= '0' && c <= '9' && value < 100000000) {
            value = value * 10 + (c - '0');
            digits = true;
        } else if (c == '-' && digits) {
            if (numbers++ == 0) page = value;
            value = 0;
            digits = false;
        } else {
            return 0;
        }
    }
    return digits && numbers == 2 ? page : 0;
}

}  // namespace

std::vector<std::vector<std::string>> TileNamesByPage(const std::string& tile_folder, int32_t page_count) {
    std::vector<std::vector<std::string>> pages(static_cast<size_t>(std::max<int32_t>(page_count, 0)));
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(tile_folder, error)) {
        const std::string name = entry.path().filename().string();
        const int32_t page = PageOfTile(name);
        if (page >= 1 && page <= page_count) pages[static_cast<size_t>(page - 1)].push_back(name);
    }
    for (auto& names : pages) std::sort(names.begin(), names.end());
    return pages;
}
