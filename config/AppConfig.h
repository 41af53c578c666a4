// The process-wide configuration: where the program's folders lie, every setting of
// config.ini with its fallback, the current FTP profile, the language texts of the job
// lists, the reference database handle and the cipher of the enciphered INI values.
//
// The programs use the one instance returned by TheConfig(); tests may construct as many
// plain objects as they like. Load() runs once, before any worker thread exists; after
// it, workers only read the fields and the user-interface thread updates the ones its
// dialogs edit (after writing the INI file). There is no lock around the fields.
#pragma once

#include "config/IniFile.h"
#include "config/Rijndael.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;

class AppConfig {
public:
    // The build stamp of this program and the value stored for it: the settings store
    // writes signed 32-bit integers, so only the low 32 bits of the stamp are kept.
    static constexpr int64_t kBuildStamp = 201302010343LL;
    static constexpr int32_t kBuildVer = static_cast<int32_t>(kBuildStamp & 0xFFFFFFFFLL);  // -561452569
    static constexpr const char* kVersion = "1.3";
    // The address that stands for the user's own e-mail address until the user enters one.
    static constexpr const char* kPlaceholderUser = "your.name@example.com";
    static constexpr const char* kServiceUrl = "/vellumark/standalone.ashx";
    static constexpr const char* kEngineName = "rastrix";
    static constexpr const char* kEngineLibraryName = "Plexeng.dll";
    static constexpr const char* kBooksFolderName = "vAziruduues";
    // Language file used when neither config.ini, the registry file nor the locale
    // names one that exists.
    static constexpr const char* kDefaultLanguageFile = "lang_en.ini";

    // Sets every field to its built-in value and keys the cipher.
    AppConfig();
    ~AppConfig();
    AppConfig(const AppConfig&) = delete;
    AppConfig& operator=(const AppConfig&) = delete;

    // Reads the environment (HOME, XDG_*), sets up the folders, copies the defaults on
    // the first run, refreshes the shared book files, opens the reference database and
    // reads every setting. Failures are logged and never stop the program.
    void Load();

    // The books folder for a configured `vazirudu_path` (empty: the documents folder).
    static std::string BooksFolderFor(const std::string& vazirudu_path);
    // The books folder that Load will choose, found without creating or changing
    // anything: the single-instance lock lives there, and must be held before Load
    // touches the job records.
    static std::string LocateBooksFolder();

    // The program folder with a trailing '/'. By default the folder of /proc/self/exe;
    // the environment variable VELLUMARK_PROGRAM_DIR, when set and not empty, replaces
    // it (tests and a build tree run the programs from elsewhere), and SetProgramFolder
    // replaces both. Call the setter before Load.
    const std::string& ProgramFolder();
    void SetProgramFolder(const std::string& folder);
    // The program folder as Load found it (empty before Load), for readers on any thread.
    const std::string& LoadedProgramFolder() const { return m_program_folder; }

    // The shipped defaults: program folder + "DefaultCfg/" when that exists, else the
    // common data folder + "Corvane/Vellumark/". Computed once per object.
    const std::string& DefaultConfigFolder();

    // True when Load found no data folder and created it.
    bool first_run() const { return m_first_run; }

    // The reference database, or null when it is missing or could not be opened.
    // Owned by this object and closed when it is destroyed.
    sqlite3* db() const { return m_db.get(); }

    // Reads the current FTP profile again: ftp_url of config.ini names the section of
    // ftp.ini whose account, web address, passive flag and port become the fields below.
    void ReadFtpProfile();

    // Skin number of skin_subdir ("skins/2" gives "2"), empty when there is no "/".
    static std::string SkinNumberOf(const std::string& skin_subdir);

    // ---- Language texts of section PROCESS_MSG (state s shows m_process_msg[s],
    //      result code c shows m_error_msg[c]; keys process_1..5 and error_1..6).
    std::array<std::string, 5> m_process_msg;
    std::array<std::string, 6> m_error_msg;

    // ---- Folders and paths. Folders named "..._folder" end in '/', except the books
    //      folder, which names the folder itself.
    std::string m_data_folder;       // $XDG_DATA_HOME/Corvane/Vellumark/
    std::string m_books_folder;      // <vazirudu_path or documents>/vAziruduues
    std::string m_report_path;       // books folder + "/report.txt"
    std::string m_template_target;   // books folder + "/" + template_html
    std::string m_engine_path;       // the conversion engine program
    std::string m_engine_lib_path;   // program folder + "Plexeng.dll" (kept, unused)
    std::string m_db_path;           // data folder + "data.db3"
    std::string m_language_path;     // program folder + "DefaultCfg/" + localization_file

    // ---- INI file objects.
    IniFile m_config_ini;     // data folder / config.ini
    IniFile m_ftp_ini;        // data folder / ftp.ini
    IniFile m_http_ini;       // data folder / http.ini
    IniFile m_http_user_ini;  // data folder / http_user.ini
    IniFile m_meta_ini;       // books folder / meta.ini
    IniFile m_meta_w_ini;     // books folder / meta_w.ini (UTF-16LE)
    IniFile m_app_ini;        // default configuration folder / app.ini
    IniFile m_lang_ini;       // the language file (UTF-16LE, read with the wide operations)

    // The cipher of the enciphered INI values; callers serialise its use.
    Rijndael m_cipher;

    // ---- Section general.
    std::string m_vazirudu_path;      // root of the books folder as configured (260)
    // Set before Load(): the books folder to use instead of the configured one (a batch
    // farm task's own); the configured root is left as it is.
    std::string m_books_folder_override;
    std::string m_localization_file;  // language file name (260)
    int32_t m_log_cmd = 0;            // 1 on, else off
    int32_t m_log_err = 0;            // 1 on, else off
    int32_t m_cat_id = 0, m_subcat_id = 0, m_country_id = 0, m_state_id = 0, m_city_id = 0;
    int32_t m_autoview = 1;
    int32_t m_lockwindow_when_dragging = 1;
    int32_t m_upload_pdf = 0;
    int32_t m_preview_quality = 25;
    int32_t m_preview_smooth = 100;
    int32_t m_zoomin_quality = 25;
    int32_t m_zoomin_smooth = 100;
    int32_t m_low_dpi = 96;
    int32_t m_med_dpi = 120;
    int32_t m_high_dpi = 150;
    int32_t m_dpi = 150;
    int32_t m_back_normal = 0;
    int32_t m_low_res_width = 480;    // LowResWidth
    int32_t m_low_res_height = 500;   // LowResHeight
    int32_t m_med_res_width = 580;    // MedResWidth
    int32_t m_med_res_height = 650;   // MedResHeight
    int32_t m_high_res_width = 680;   // HighResWidth
    int32_t m_high_res_height = 750;  // HighResHeight
    int32_t m_use_skin = 1;
    std::string m_export_folder;      // (260)
    int32_t m_new_version = 0;        // app.ini general/new_version; negative or missing: 0

    // ---- Section option.
    int32_t m_is_fullpath = 0;
    std::string m_program_name;       // (260)
    std::string m_template_html = "booklet.asp";  // (64)
    int32_t m_threads_limit = 1;

    // ---- Section network.
    int32_t m_http_upld_try_times = 4;          // 1..7
    int32_t m_ftp_upld_try_times = 4;           // 1..7
    int32_t m_http_wait_after_upld_chunk = 1000;  // 1..5000 ms
    int32_t m_http_chunk_size = 48;             // 1..48 (KB)
    int32_t m_use_vazirudu = 0;                 // as read (missing: -1)
    std::string m_vazirudu_domain;              // (128) empty: no publishing service set
    std::string m_vazirudu_url = kServiceUrl;      // (260)
    std::string m_vazirudu_webaddr;             // (260)
    std::string m_vazirudu_user;                // (256)
    int32_t m_use_ftp = 0;
    int32_t m_use_local = 0;                    // as read (missing: -1)

    // ---- Current FTP profile: m_ftp_url is the section of ftp.ini ("host/folder",
    //      without "ftp://"); host is the part before its first '/', the sub-folder the
    //      rest (starting with '/').
    std::string m_ftp_url;        // (260)
    std::string m_ftp_host;
    std::string m_ftp_subdir;
    std::string m_ftp_user;       // deciphered; longer than 32 characters: empty
    std::string m_ftp_passwd;     // deciphered; longer than 32 characters: empty
    std::string m_ftp_webaddr;    // (512)
    int32_t m_ftp_passive = 1;
    int32_t m_ftp_port = 21;

    // ---- Section skin.
    std::string m_skin_subdir = "skins/2";  // (128)
    std::string m_skin_number = "2";
    int32_t m_skin_usemail = 0;
    int32_t m_skin_usenote = 0;
    int32_t m_skin_useownlogo = 0;
    std::string m_skin_logoimg;             // (260)
    std::string m_skin_logotxt;             // raw bytes (260)
    std::string m_skin_logourl;             // (260)
    std::string m_skin_cssfile = "site_styles.css";  // (64)

private:
    struct DbCloser {
        void operator()(sqlite3* db) const;
    };

    void CopyDefaults(bool overwrite);
    void SelectLanguage();
    void LoadLanguageTexts();
    void OpenDatabase();
    void WriteDefaults();
    void ReadSettings();
    std::string ReadWebServiceKey(const char* key, size_t capacity, const std::string& fallback);

    std::unique_ptr<sqlite3, DbCloser> m_db;
    std::string m_program_folder;
    std::string m_default_cfg_folder;
    bool m_default_cfg_known = false;
    bool m_first_run = false;
};

// The one configuration of the running program.
AppConfig& TheConfig();
