#include "config/AppConfig.h"

#include "config/BooksFolderRefresh.h"
#include "config/CommonUtil.h"
#include "config/DiagLog.h"
#include "config/Folders.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>

namespace fs = std::filesystem;

namespace {

const char kModule[] = "AppConfig";

// Folder creation failures pass silently: the later file operations log what fails.
void MakeFolder(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
}

// Keeps at most `units` UTF-16 code units of UTF-8 text, never splitting a character.
std::string LimitUtf16Units(const std::string& text, size_t units)
{
    size_t used = 0;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        size_t cost = length == 4 ? 2 : 1;
        if (used + cost > units || i + length > text.size())
            break;
        used += cost;
        i += length;
    }
    return text.substr(0, i);
}

std::string RemoveOneTrailingSeparator(std::string path)
{
    if (!path.empty() && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

}  // namespace

void AppConfig::DbCloser::operator()(sqlite3* db) const
{
    sqlite3_close(db);
}

AppConfig::AppConfig()
{
    const auto* key = reinterpret_cast<const uint8_t*>(kIniCipherKey);
    m_cipher.MakeKey(key, nullptr, 32, 32);
}

AppConfig::~AppConfig() = default;

AppConfig& TheConfig()
{
    static AppConfig config;
    return config;
}

std::string AppConfig::SkinNumberOf(const std::string& skin_subdir)
{
    size_t slash = skin_subdir.find('/');
    return slash == std::string::npos ? std::string() : skin_subdir.substr(slash + 1);
}

void AppConfig::SetProgramFolder(const std::string& folder)
{
    m_program_folder = folder;
    if (!m_program_folder.empty() && m_program_folder.back() != '/')
        m_program_folder += '/';
    m_default_cfg_known = false;
}

const std::string& AppConfig::ProgramFolder()
{
    if (m_program_folder.empty()) {
        const char* override_dir = std::getenv("VELLUMARK_PROGRAM_DIR");
        if (override_dir && *override_dir)
            SetProgramFolder(override_dir);
        else
            m_program_folder = folders::ProgramFolderOfExe();
    }
    return m_program_folder;
}

const std::string& AppConfig::DefaultConfigFolder()
{
    if (m_default_cfg_known)
        return m_default_cfg_folder;
    m_default_cfg_known = true;
    const std::string shipped = ProgramFolder() + "DefaultCfg";
    const std::string common = folders::CommonDataFolder() + "/Corvane";
    if (IsFolder(shipped)) {
        m_default_cfg_folder = shipped + "/";
        // An older installation left its defaults in the common data folder. That folder
        // belongs to the package manager here, so it is only noted, never deleted.
        if (PathExists(common))
            DIAG(kModule, 0, "INF:legacy folder %s kept", common.c_str());
    } else {
        m_default_cfg_folder = common + "/Vellumark/";
    }
    return m_default_cfg_folder;
}

void AppConfig::CopyDefaults(bool overwrite)
{
    const std::string& source = DefaultConfigFolder();
    if (!IsFolder(source))
        return;
    const int flag = overwrite ? 1 : 0;
    const std::pair<const char*, int> files[] = {
        {"http_user.ini", flag}, {"http.ini", flag}, {"ftp.ini", flag}, {"config.ini", flag}, {"data.db3", 0}};
    for (const auto& [name, file_overwrite] : files) {
        int rc = copy_file_or_path(m_data_folder + name, source + name, file_overwrite, 0);
        if (rc != 0)
            DIAG(kModule, rc, "ERR:copy_file_or_path failed, return %d ", rc);
    }
}

void AppConfig::SelectLanguage()
{
    m_localization_file = m_config_ini.ReadText("general", "localization_file", 260);
    if (!m_localization_file.empty())
        return;
    std::string from_registry = folders::RegistryLanguage();
    if (!from_registry.empty()) {
        m_localization_file = from_registry.substr(0, 259);
        m_config_ini.WriteText("general", "localization_file", m_localization_file);
        return;
    }
    // No choice stored: follow the locale while a matching file is shipped. The choice
    // is not written, so a later change of locale is followed too.
    const std::string code = folders::LocaleLanguage();
    const std::string candidate = "lang_" + code + ".ini";
    if (!code.empty() && PathExists(ProgramFolder() + "DefaultCfg/" + candidate))
        m_localization_file = candidate;
    else
        m_localization_file = kDefaultLanguageFile;
}

void AppConfig::LoadLanguageTexts()
{
    m_language_path = ProgramFolder() + "DefaultCfg/" + m_localization_file;
    m_lang_ini.SetPath(m_language_path);
    char key[24];
    for (int i = 0; i < 5; ++i) {
        std::snprintf(key, sizeof key, "process_%d", i + 1);
        m_process_msg[i] = LimitUtf16Units(m_lang_ini.ReadWide("PROCESS_MSG", key), 255);
    }
    for (size_t i = 0; i < m_error_msg.size(); ++i) {
        std::snprintf(key, sizeof key, "error_%d", static_cast<int>(i) + 1);
        m_error_msg[i] = LimitUtf16Units(m_lang_ini.ReadWide("PROCESS_MSG", key), 255);
    }
}

void AppConfig::OpenDatabase()
{
    m_db.reset();
    if (!PathExists(m_db_path)) {
        DIAG(kModule, errno, "ERR:database %s missing", m_db_path.c_str());
        return;
    }
    DIAG(kModule, 0, "INF:will open database %s", m_db_path.c_str());
    sqlite3* handle = nullptr;
    // The user-interface thread and the reference update thread share the handle.
    int rc = sqlite3_open_v2(m_db_path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        DIAG(kModule, errno, "can't open database:%s", handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc));
        sqlite3_close(handle);
        return;
    }
    m_db.reset(handle);
}


std::string AppConfig::BooksFolderFor(const std::string& vazirudu_path)
{
    const std::string root = vazirudu_path.empty() ? folders::DocumentsFolder() : vazirudu_path;
    return RemoveOneTrailingSeparator(root) + "/" + kBooksFolderName;
}

std::string AppConfig::LocateBooksFolder()
{
    IniFile config(folders::UserDataFolder() + "/Corvane/Vellumark/config.ini");
    return BooksFolderFor(config.ReadText("general", "vazirudu_path", 260));
}

void AppConfig::Load()
{
    // 1. The data folder.
    const std::string user_data = folders::UserDataFolder();
    MakeFolder(user_data);
    MakeFolder(user_data + "/Corvane");
    m_data_folder = user_data + "/Corvane/Vellumark/";

    // 2. The data folder's INI files and the skin in use. The skin falls back to the
    // built-in one here already, so that a first run copies its files.
    m_config_ini.SetPath(m_data_folder, "config.ini");
    m_http_ini.SetPath(m_data_folder, "http.ini");
    m_ftp_ini.SetPath(m_data_folder, "ftp.ini");
    m_http_user_ini.SetPath(m_data_folder, "http_user.ini");
    m_skin_subdir = m_config_ini.ReadText("skin", "skin_subdir", 128);
    if (m_skin_subdir.empty())
        m_skin_subdir = "skins/2";
    m_skin_number = SkinNumberOf(m_skin_subdir);

    // 3. The books folder with meta.ini and meta_w.ini; meta_w.ini starts as a bare
    // UTF-16LE byte-order mark so that the wide writes store UTF-16.
    m_vazirudu_path = m_config_ini.ReadText("general", "vazirudu_path", 260);
    if (m_vazirudu_path.empty())
        MakeFolder(folders::DocumentsFolder());
    m_books_folder = m_books_folder_override.empty() ? BooksFolderFor(m_vazirudu_path) : m_books_folder_override;
    MakeFolder(m_books_folder);
    m_meta_ini.SetPath(m_books_folder, "meta.ini");
    m_meta_w_ini.SetPath(m_books_folder, "meta_w.ini");
    if (!m_meta_w_ini.Exists()) {
        std::ofstream bom(m_meta_w_ini.Path(), std::ios::binary);
        bom.write("\xFF\xFE", 2);
    }

    // 4. First run: create the data folder and fill it from the shipped defaults.
    m_first_run = !IsFolder(m_data_folder);
    if (m_first_run) {
        MakeFolder(m_data_folder);
        CopyDefaults(true);
    } else {
        DefaultConfigFolder();
    }

    // 5. The shared book files.
    RefreshBooksFolder(m_books_folder, m_data_folder, DefaultConfigFolder(), m_skin_number, m_first_run,
                       m_app_ini);

    // The language choice below may create config.ini just to store its name; such a
    // file still gets the written defaults.
    const bool had_config = m_config_ini.Exists();

    // 6, 7. The language file and the job list texts.
    SelectLanguage();
    LoadLanguageTexts();
    const bool config_only_holds_language = !had_config && m_config_ini.Exists();

    // 8, 9. The reference database; files missing from the data folder arrive again,
    // without replacing any that are there.
    m_db_path = m_data_folder + "data.db3";
    if (!PathExists(m_db_path) || !m_http_ini.Exists())
        CopyDefaults(false);
    OpenDatabase();

    // 10. The status report.
    m_report_path = m_books_folder + "/report.txt";
    DiagLog::Instance().SetReportPath(m_report_path);

    // 11. The conversion engine.
    m_is_fullpath = m_config_ini.ReadInt("option", "is_fullpath");
    m_program_name = m_config_ini.ReadText("option", "program_name", 260);
    if (m_is_fullpath == 0 || m_program_name.empty())
        m_engine_path = ProgramFolder() + kEngineName;
    else
        m_engine_path = m_program_name;

    // 12. A config.ini made by the program gets the written defaults; one that arrived
    // from the shipped defaults in step 8 is kept as shipped.
    if (config_only_holds_language || !m_config_ini.Exists())
        WriteDefaults();

    // 13. The template target.
    m_template_html = m_config_ini.ReadText("option", "template_html", 64);
    if (m_template_html.empty())
        m_template_html = "booklet.asp";
    MakeFolder(m_books_folder + "/");
    m_template_target = m_books_folder + "/" + m_template_html;

    // 14. Every other key.
    ReadSettings();

    // 15. The build that wrote this file.
    m_config_ini.WriteInt("general", "buildver", kBuildVer);
    m_config_ini.WriteText("general", "ver", kVersion);
}
