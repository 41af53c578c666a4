#include "engine/SearchFiles.h"

#include <algorithm>

#include "engine/AtomicFile.h"
#include "engine/BookPieces.h"
#include "engine/TextUtil.h"

namespace {
// The texts of pages [begin, end) as a JSON list.
std::string PageList(const std::vector<PageText>& pages, size_t begin, size_t end)
{
    std::string out = "[";
    for (size_t i = begin; i < end; ++i) {
        if (i > begin)
            out += ",\n";
        out += JsonString(pages[i].Joined());
    }
    return out + ']';
}
} // namespace

std::string MakeTxtJs(const std::string& title, const std::vector<PageText>& pages)
{
    return "window.VELLUMARK_BOOK_TEXT = {\"title\":" + JsonString(OneLine(title, 4096)) +
           ",\"pageCount\":" + std::to_string(pages.size()) + ",\"pages\":" + PageList(pages, 0, pages.size()) +
           "};\n";
}

std::string MakeTxtPiece(const std::string& title, const std::vector<PageText>& pages, size_t first_index)
{
    const size_t end = std::min(pages.size(), first_index + kPiecePages);
    return "window.VELLUMARK_BOOK_TEXT = {\"title\":" + JsonString(OneLine(title, 4096)) +
           ",\"pageCount\":" + std::to_string(pages.size()) + ",\"first\":" + std::to_string(first_index + 1) +
           ",\"pages\":" + PageList(pages, first_index, end) + "};\n";
}

std::string MakeTextHtml(const std::string& title, const std::string& description,
                         const std::vector<PageText>& pages)
{
    std::string t = HtmlEscape(OneLine(title, 4096));
    std::string d = HtmlEscape(OneLine(description, 4096));
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>" + t + "</title>\n";
    if (!d.empty())
        out += "<meta name=\"description\" content=\"" + d + "\">\n";
    // The book's page lies beside this one in the book folder, wherever it is published.
    out += "<link rel=\"alternate\" href=\"index.html\">\n</head>\n<body>\n<h1>" + t + "</h1>\n";
    if (!d.empty())
        out += "<p>" + d + "</p>\n";
    out += "<p><a href=\"index.html\">Read the book</a></p>\n";
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string n = std::to_string(i + 1);
        out += "<section id=\"page-" + n + "\">\n<h2>Page " + n + "</h2>\n";
        for (const auto& block : pages[i].blocks) {
            out += "<p>";
            for (size_t l = 0; l < block.size(); ++l) {
                if (l > 0)
                    out += "<br>\n";
                out += HtmlEscape(block[l]);
            }
            out += "</p>\n";
        }
        out += "</section>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

bool WriteSearchFiles(const std::string& folder, const std::string& title, const std::string& description,
                      const std::vector<PageText>& pages, std::string& error)
{
    if (!MakeFolders(folder, error))
        return false;
    std::string base = folder.back() == '/' ? folder : folder + "/";
    for (size_t first = 0; first < pages.size(); first += kPiecePages) {
        if (!WriteFileAtomically(base + PieceFileName("txt", static_cast<int>(first) + 1),
                                 MakeTxtPiece(title, pages, first), error))
            return false;
    }
    return WriteFileAtomically(base + "txt.js", MakeTxtJs(title, pages), error) &&
           WriteFileAtomically(base + "text.html", MakeTextHtml(title, description, pages), error);
}
