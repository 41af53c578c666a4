#include "engine/BookPieces.h"

#include <filesystem>
#include <regex>
#include <system_error>

std::string PieceFileName(const std::string& stem, int first_page)
{
    return stem + "-" + std::to_string(first_page) + ".js";
}

void RemoveStalePieces(const std::string& folder, int page_count, bool keep_outline)
{
    static const std::regex kPiece("(layout|txt)-([0-9]{1,9})\\.js");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        std::smatch m;
        bool stale = false;
        if (std::regex_match(name, m, kPiece)) {
            const long first = std::stol(m[2].str());
            stale = first > page_count || (first - 1) % kPiecePages != 0;
        } else {
            stale = name == kOutlinePieceName && !keep_outline;
        }
        std::error_code ignored;
        if (stale)
            std::filesystem::remove(entry.path(), ignored);
    }
}
