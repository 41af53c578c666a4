#include "support/SupportPaths.h"

#include "config/AppConfig.h"
#include "config/CommonUtil.h"
#include "config/Folders.h"
#include "config/IniFile.h"

#include <cstdlib>

namespace support_paths {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The program folder with a trailing '/': VELLUMARK_PROGRAM_DIR when set (a build tree
// or a test runs the program from elsewhere), else the folder of the executable.
std::string ProgramFolder()
{
    const char* from_env = std::getenv("VELLUMARK_PROGRAM_DIR");
    if (from_env && *from_env) {
        std::string folder = from_env;
        if (!IsSeparator(folder.back()))
            folder += '/';
        return folder;
    }
    return folders::ProgramFolderOfExe();
}

std::string DefaultConfigFolder()
{
    const std::string beside_program = ProgramFolder() + "DefaultCfg/";
    if (IsFolder(beside_program))
        return beside_program;
    return folders::CommonDataFolder() + "/Corvane/Vellumark/";
}

}  // namespace

std::string ConfigFilePath()
{
    return folders::UserDataFolder() + "/Corvane/Vellumark/config.ini";
}

std::string ReportPath(const std::string& vazirudu_path)
{
    std::string root = vazirudu_path.empty() ? folders::DocumentsFolder() : vazirudu_path;
    if (!root.empty() && IsSeparator(root.back()))
        root.pop_back();
    return root + "/" + AppConfig::kBooksFolderName + "/report.txt";
}

std::string FolderOf(const std::string& file_path)
{
    const size_t last = file_path.find_last_of("/\\");
    return last == std::string::npos ? std::string() : file_path.substr(0, last + 1);
}

std::string LanguageFilePath(const IniFile& config)
{
    const std::string folder = DefaultConfigFolder();
    std::string name = config.ReadText("general", "localization_file", 260);
    if (name.empty())
        name = folders::RegistryLanguage().substr(0, 259);
    if (name.empty()) {
        const std::string code = folders::LocaleLanguage();
        const std::string candidate = "lang_" + code + ".ini";
        name = !code.empty() && PathExists(folder + candidate) ? candidate : AppConfig::kDefaultLanguageFile;
    }
    return folder + name;
}

}  // namespace support_paths
