#include "publish/BookDataFiles.h"

#include <algorithm>
#include <filesystem>
#include <regex>
#include <system_error>

bool IsBookDataPiece(const std::string& name) {
    static const std::regex kPiece("(layout|txt)-[0-9]{1,9}\\.js|layout-outline\\.js");
    return std::regex_match(name, kPiece);
}

std::vector<std::string> BookDataFiles(const std::string& book_folder) {
    std::vector<std::string> names = {"txt.js", "text.html"};
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::path(book_folder) / "layout.js", ec)) names.push_back("layout.js");
    std::vector<std::string> pieces;
    for (const auto& entry : std::filesystem::directory_iterator(book_folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (IsBookDataPiece(name) && entry.is_regular_file(ec)) pieces.push_back(name);
    }
    std::sort(pieces.begin(), pieces.end());
    names.insert(names.end(), pieces.begin(), pieces.end());
    return names;
}
