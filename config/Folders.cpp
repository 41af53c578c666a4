#include "config/Folders.h"

#include "config/IniFile.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace folders {

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string Home()
{
    return Env("HOME");
}

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs file: a shell assignment whose
// value is a quoted path, either absolute or starting with "$HOME/".
std::string DocumentsFromUserDirs(const std::string& file)
{
    std::ifstream in(file);
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = Home() + value.substr(5);
        // A value of "$HOME/" alone means the documents are the home folder itself.
        if (!value.empty() && value.front() == '/')
            return StripTrailingSlashes(value);
    }
    return std::string();
}

}  // namespace

std::string UserDataFolder()
{
    std::string dir = Env("XDG_DATA_HOME");
    if (!dir.empty() && dir.front() == '/')
        return StripTrailingSlashes(dir);
    return Home() + "/.local/share";
}

std::string CommonDataFolder()
{
    std::string dirs = Env("XDG_DATA_DIRS");
    std::string first = dirs.substr(0, dirs.find(':'));
    if (!first.empty() && first.front() == '/')
        return StripTrailingSlashes(first);
    return "/usr/local/share";
}

std::string ConfigFolder()
{
    std::string dir = Env("XDG_CONFIG_HOME");
    if (!dir.empty() && dir.front() == '/')
        return StripTrailingSlashes(dir);
    return Home() + "/.config";
}

std::string DocumentsFolder()
{
    std::string dir = Env("XDG_DOCUMENTS_DIR");
    if (!dir.empty() && dir.front() == '/')
        return StripTrailingSlashes(dir);
    dir = DocumentsFromUserDirs(ConfigFolder() + "/user-dirs.dirs");
    if (!dir.empty())
        return dir;
    return Home() + "/Documents";
}

std::string ProgramFolderOfExe()
{
    std::string buffer(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size())
        return std::string();
    buffer.resize(static_cast<size_t>(n));
    size_t slash = buffer.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return buffer.substr(0, slash + 1);
}

std::string RegistryLanguage()
{
    IniFile registry(ConfigFolder() + "/Corvane/registry.ini");
    if (!registry.Exists())
        return std::string();
    return registry.ReadText("Software\\Vellumark", "lang", 1024);
}

std::string LocaleLanguage()
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = Env(name);
        if (!locale.empty())
            break;
    }
    if (locale.size() < 2 || !std::isalpha(static_cast<unsigned char>(locale[0])) ||
        !std::isalpha(static_cast<unsigned char>(locale[1])))
        return std::string();
    if (locale.size() > 2 && std::isalpha(static_cast<unsigned char>(locale[2])))
        return std::string();  // "C.UTF-8" fails above; "POSIX" and three-letter codes here
    std::string code = locale.substr(0, 2);
    for (char& c : code)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return code;
}

}  // namespace folders
