#include "engine/SearchFiles.h"

#include "engine/AtomicFile.h"
#include "engine/TextUtil.h"

std::string MakeTxtJs(const std::string& title, const std::vector<PageText>& pages)
{
    std::string out = "window.VELLUMARK_BOOK_TEXT = {\"title\":" + JsonString(OneLine(title, 4096)) +
                      ",\"pageCount\":" + std::to_string(pages.size()) + ",\"pages\":[";
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0)
            out += ",\n";
        out += JsonString(pages[i].Joined());
    }
    out += "]};\n";
    return out;
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

namespace {
bool WriteWhole(const std::string& path, const std::string& bytes, std::string& error)
{
    AtomicFile file;
    if (!file.Open(path, error))
        return false;
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        error = "cannot write '" + path + "'";
        return false;
    }
    return file.Commit(error);
}
} // namespace

bool WriteSearchFiles(const std::string& folder, const std::string& title, const std::string& description,
                      const std::vector<PageText>& pages, std::string& error)
{
    if (!MakeFolders(folder, error))
        return false;
    std::string base = folder.back() == '/' ? folder : folder + "/";
    return WriteWhole(base + "txt.js", MakeTxtJs(title, pages), error) &&
           WriteWhole(base + "text.html", MakeTextHtml(title, description, pages), error);
}
