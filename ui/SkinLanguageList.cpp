#include "ui/SkinLanguageList.h"

#include "config/CommonUtil.h"
#include "config/DiagLog.h"

#include <fstream>
#include <sstream>

std::vector<SkinLanguage> ScanSkinLanguages(const std::string& text)
{
    static const std::string kMarker = "description=\"";
    std::vector<SkinLanguage> entries;
    size_t at = text.find(kMarker);
    while (at != std::string::npos) {
        size_t pos = at + kMarker.size();
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        const size_t name_end = text.find('"', pos);
        if (name_end == std::string::npos)
            break;
        SkinLanguage entry;
        entry.name = text.substr(pos, name_end - pos);
        size_t file = text.find('>', name_end);
        if (file == std::string::npos)
            break;
        ++file;
        while (file < text.size() && text[file] == ' ')
            ++file;
        size_t file_end = file;
        while (file_end < text.size() && text[file_end] != ' ' && text[file_end] != '<')
            ++file_end;
        entry.file_name = text.substr(file, file_end - file);
        entries.push_back(entry);
        at = text.find(kMarker, file_end);
    }
    return entries;
}

std::vector<SkinLanguage> ReadSkinLanguages(const std::string& books_folder)
{
    const std::string path = JoinPath(JoinPath(books_folder, "lang"), "lang.xml");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        DIAG("CommonUtil", errno, "ERR:CreateFile failed on %s", path.c_str());
        DIAG("CommonUtil", 0, "ERR:%s missing", path.c_str());
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ScanSkinLanguages(text.str());
}
