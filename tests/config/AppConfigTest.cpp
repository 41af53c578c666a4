#include "config/AppConfig.h"
#include "config/BooksFolderRefresh.h"
#include "config/DiagLog.h"
#include "config/IniFile.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace fs = std::filesystem;

namespace {

const char kKey[] = "0123456789ABCDEF0123456789ABCDEF";

// The shipped configuration files of the source tree (an absolute path, so that the test
// does not depend on the folder it was started from).
fs::path ShippedDefaults()
{
    return SourceDir() / "data/DefaultCfg";
}

// A private home and a private program folder whose DefaultCfg holds the shipped
// configuration files and a small set of book files of known versions.
class AppConfigTest : public ::testing::Test {
protected:
    TempHome home;
    fs::path program = home.Root() / "prog";
    fs::path defaults = program / "DefaultCfg";
    fs::path data = home.Root() / "data/Corvane/Vellumark";
    fs::path books = home.Home() / "Documents/vAziruduues";

    void SetUp() override
    {
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        unsetenv("LANG");
        fs::create_directories(program);
    }

    void ShipDefaults()
    {
        fs::create_directories(defaults);
        for (const char* name : {"config.ini", "app.ini", "ftp.ini", "http.ini", "http_user.ini", "meta.ini",
                                 "lang_en.ini"})
            fs::copy_file(ShippedDefaults() / name, defaults / name);
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((defaults / "data.db3").c_str(), &db));
        sqlite3_exec(db, "create table country(ID integer, CountryName text)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        WriteFileBytes(defaults / "Upload/print.html", "print");
        WriteFileBytes(defaults / "Upload/index.js", "index");
        WriteFileBytes(defaults / "Upload/service.asp", "service");
        WriteFileBytes(defaults / "Upload/RurovOzeza.v1.css", "css");
        WriteFileBytes(defaults / "Upload/bar2.asp", "bar");
        WriteFileBytes(defaults / "Upload/booklet.asp", "<% corvane_version=\"5\" %>shipped");
        WriteFileBytes(defaults / "Upload/skins/2/skin.js", "skin");
        WriteFileBytes(defaults / "Upload/lang/lang.xml", "<lang corvane_version=\"3\"/>");
    }

    void Load(AppConfig& config)
    {
        config.SetProgramFolder(program.string());
        config.Load();
    }

    std::string ConfigText(const char* section, const char* key)
    {
        return IniFile((data / "config.ini").string()).ReadText(section, key);
    }
};

TEST_F(AppConfigTest, FirstRunWithDefaultsCopiesThemAndKeepsTheShippedSettings)
{
    ShipDefaults();
    WriteFileBytes(home.Root() / "shared/Corvane/old/settings.ini", "[old]\n");
    AppConfig config;
    testing::internal::CaptureStderr();
    Load(config);
    std::string log = testing::internal::GetCapturedStderr();

    // The legacy folder of the common data folder is noted, never deleted.
    EXPECT_NE(std::string::npos, log.find("INF:legacy folder"));
    EXPECT_TRUE(fs::exists(home.Root() / "shared/Corvane/old/settings.ini"));
    EXPECT_EQ(defaults.string() + "/", config.DefaultConfigFolder());
    EXPECT_TRUE(config.first_run());
    for (const char* name : {"config.ini", "ftp.ini", "http.ini", "http_user.ini", "data.db3"})
        EXPECT_TRUE(fs::exists(data / name)) << name;
    EXPECT_EQ(data.string() + "/", config.m_data_folder);
    EXPECT_EQ(books.string(), config.m_books_folder);
    EXPECT_EQ((books / "report.txt").string(), DiagLog::Instance().ReportPath());
    EXPECT_EQ((books / "booklet.asp").string(), config.m_template_target);
    EXPECT_EQ(program.string() + "/rastrix", config.m_engine_path);
    EXPECT_EQ(program.string() + "/Plexeng.dll", config.m_engine_lib_path);
    EXPECT_EQ(std::string("\xFF\xFE"), ReadFileBytes(books / "meta_w.ini"));
    ASSERT_NE(nullptr, config.db());

    // The shipped file publishes nowhere; the written defaults (which would switch both
    // publishing targets on) are not added to it.
    EXPECT_EQ(0, config.m_use_ftp);
    EXPECT_EQ(0, config.m_use_vazirudu);
    EXPECT_EQ(1, config.m_use_local);
    EXPECT_EQ("0", ConfigText("network", "use_ftp"));
    EXPECT_EQ("-561452569", ConfigText("general", "buildver"));
    EXPECT_EQ("1.3", ConfigText("general", "ver"));
    EXPECT_EQ(2, config.m_threads_limit);
    EXPECT_EQ("", config.m_vazirudu_domain);

    // The English texts of the job lists, found without any language setting.
    EXPECT_EQ("lang_en.ini", config.m_localization_file);
    EXPECT_EQ("Converting", config.m_process_msg[1]);
    EXPECT_EQ("FTP login failed", config.m_error_msg[1]);

    // The shared book files arrived.
    EXPECT_EQ("print", ReadFileBytes(books / "print.html"));
    EXPECT_EQ("skin", ReadFileBytes(books / "skins/2/skin.js"));
    EXPECT_EQ(5, ReadVersionMarker((books / "booklet.asp").string()));
    EXPECT_EQ(3, ReadVersionMarker((books / "lang/lang.xml").string()));
}

TEST_F(AppConfigTest, FirstRunWithoutDefaultsWritesTheDefaultsAndReportsTheMissingDatabase)
{
    AppConfig config;
    testing::internal::CaptureStderr();
    Load(config);
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(config.first_run());
    EXPECT_EQ((home.Root() / "shared/Corvane/Vellumark/").string(), config.DefaultConfigFolder());
    EXPECT_NE(std::string::npos, log.find("ERR:database " + (data / "data.db3").string() + " missing"));
    EXPECT_EQ(nullptr, config.db());
    EXPECT_EQ("7", ConfigText("general", "days"));
    EXPECT_EQ("1", ConfigText("network", "use_vazirudu"));
    EXPECT_EQ("", ConfigText("network", "vazirudu_domain"));
    EXPECT_EQ("2", ConfigText("option", "threads_limit"));
    EXPECT_EQ(2, config.m_threads_limit);
    EXPECT_EQ(120, config.m_dpi);
    EXPECT_EQ(1, config.m_autoview);
    EXPECT_EQ("", config.m_process_msg[0]);  // no language file: empty texts
    EXPECT_EQ("-561452569", ConfigText("general", "buildver"));
}

TEST_F(AppConfigTest, LanguageFromTheRegistryIsStoredWithoutLosingTheWrittenDefaults)
{
    WriteFileBytes(home.Root() / "config/Corvane/registry.ini", "[Software\\Vellumark]\nlang=lang_xx.ini\n");
    AppConfig config;
    Load(config);
    EXPECT_EQ("lang_xx.ini", config.m_localization_file);
    EXPECT_EQ("lang_xx.ini", ConfigText("general", "localization_file"));
    EXPECT_EQ((program / "DefaultCfg/lang_xx.ini").string(), config.m_language_path);
    // Storing the language created config.ini; the defaults are written all the same.
    EXPECT_EQ("1", ConfigText("general", "autoview"));
    EXPECT_EQ("0", ConfigText("general", "use_skin"));
}

TEST_F(AppConfigTest, AConfigurationRestoredFromTheDefaultsGetsNoWrittenDefaults)
{
    // The data folder lost config.ini and http.ini: both arrive again from the shipped
    // defaults, and the shipped settings are kept as they are.
    ShipDefaults();
    WriteFileBytes(data / "ftp.ini", "[files.example.org]\nftp_port=21\n");
    AppConfig config;
    Load(config);
    EXPECT_FALSE(config.first_run());
    EXPECT_TRUE(fs::exists(data / "http.ini"));
    EXPECT_EQ("0", ConfigText("network", "use_ftp"));
    EXPECT_EQ("0", ConfigText("network", "use_vazirudu"));
    EXPECT_EQ(0, config.m_use_ftp);
}

TEST_F(AppConfigTest, RefreshIsSkippedForAForeignBuildAndRunsForOurOwn)
{
    ShipDefaults();
    {
        AppConfig first;
        Load(first);
    }
    fs::remove(books / "print.html");
    IniFile((data / "config.ini").string()).WriteText("general", "buildver", "-1");  // folds to -29
    {
        AppConfig second;
        Load(second);
        EXPECT_FALSE(second.first_run());
        EXPECT_FALSE(fs::exists(books / "print.html"));
    }
    // The second load wrote our own build value, so the third one refreshes.
    {
        AppConfig third;
        Load(third);
        EXPECT_EQ("print", ReadFileBytes(books / "print.html"));
    }
}

TEST_F(AppConfigTest, RefreshReplacesOnlyOlderVersionsAndKeepsUserFilesThatAreNotReplaced)
{
    ShipDefaults();
    WriteFileBytes(books / "booklet.asp", "corvane_version=\"7\" mine");
    WriteFileBytes(books / "lang/lang.xml", "corvane_version=\"2\" old");
    WriteFileBytes(books / "service.asp", "my service");
    WriteFileBytes(books / "skins/2/2/stale.js", "nested");
    AppConfig config;
    Load(config);

    EXPECT_EQ("corvane_version=\"7\" mine", ReadFileBytes(books / "booklet.asp"));
    EXPECT_EQ(3, ReadVersionMarker((books / "lang/lang.xml").string()));
    EXPECT_EQ("my service", ReadFileBytes(books / "service.asp"));  // copied with overwrite off
    EXPECT_FALSE(fs::exists(books / "skins/2/2"));
    EXPECT_EQ(-1, ReadVersionMarker((books / "none.asp").string()));
}

TEST_F(AppConfigTest, ANewerShippedTemplateReplacesTheUsersWhichIsKeptBeside)
{
    ShipDefaults();
    WriteFileBytes(books / "booklet.asp", "corvane_version=\"4\" edited by the user");
    WriteFileBytes(books / "booklet.asp.bak-4", "kept by an earlier refresh");
    for (int run = 0; run < 2; ++run) {
        AppConfig config;
        Load(config);
    }
    EXPECT_EQ(5, ReadVersionMarker((books / "booklet.asp").string()));
    EXPECT_EQ("corvane_version=\"4\" edited by the user", ReadFileBytes(books / "booklet.asp.bak-4-2"));
    EXPECT_EQ("kept by an earlier refresh", ReadFileBytes(books / "booklet.asp.bak-4"));
    EXPECT_FALSE(fs::exists(books / "booklet.asp.bak-5")) << "a current template is left alone";
}

TEST_F(AppConfigTest, SampleBooksAreImportedOnceWithoutReplacingTheUsersJobs)
{
    ShipDefaults();
    WriteFileBytes(defaults / "meta.ini", std::string("[") + kKey + "]\npagenum=3\n");
    WriteFileBytes(defaults / "Upload" / kKey / "index.html", "sample");
    WriteFileBytes(books / "meta.ini", "[USERJOB]\nprogress=100000\n");
    for (int run = 0; run < 2; ++run) {
        AppConfig config;
        Load(config);
    }
    EXPECT_EQ("sample", ReadFileBytes(books / kKey / "index.html"));
    IniFile meta((books / "meta.ini").string());
    EXPECT_EQ(100000, meta.ReadInt("USERJOB", "progress"));
    EXPECT_EQ(3, meta.ReadInt(kKey, "pagenum"));
    ASSERT_GT(meta.SectionNames(16, 40), 0);
    EXPECT_EQ(2u, meta.SectionNameList().size());
    // The shipped folder is left as it was.
    EXPECT_TRUE(fs::exists(defaults / "meta.ini"));
}

TEST_F(AppConfigTest, ASampleBookTheUserAlreadyHasIsFoundInAFileWithAUtf8Mark)
{
    // The settings store reads meta.ini through a UTF-8 mark and around blanks in the
    // header; the import must see the same sections, or it would replace the user's
    // book folder and list the book twice.
    ShipDefaults();
    WriteFileBytes(defaults / "meta.ini", std::string("[") + kKey + "]\npagenum=3\n");
    WriteFileBytes(defaults / "Upload" / kKey / "index.html", "sample");
    WriteFileBytes(books / "meta.ini", std::string("\xEF\xBB\xBF[ ") + kKey + " ]\npagenum=3\ntitle=mine\n");
    WriteFileBytes(books / kKey / "index.html", "edited by the user");
    AppConfig config;
    Load(config);
    EXPECT_EQ("edited by the user", ReadFileBytes(books / kKey / "index.html"));
    IniFile meta((books / "meta.ini").string());
    ASSERT_GT(meta.SectionNames(16, 40), 0);
    EXPECT_EQ(1u, meta.SectionNameList().size());
}

TEST_F(AppConfigTest, KeysTakeTheirFallbacksAndNormalisedKeysAreWrittenBack)
{
    WriteFileBytes(data / "config.ini",
                   "[general]\nvazirudu_path=" + (home.Root() / "lib").string() + "/\n"
                   "low_dpi=72\nlog_err=2\nlog_cmd=1\nLowResWidth=400\ncat_id=-5\ndpi=0\nuse_skin=1\n"
                   "lockwindow_when_dragging=0\n"
                   "[option]\nthreads_limit=0\nis_fullpath=1\nprogram_name=/opt/engine/rastrix\n"
                   "[network]\nhttp_upld_try_times=9\nftp_upld_try_times=0\nhttp_chunk_size=100\n"
                   "http_wait_after_upld_chunk=9000\nvazirudu_url=/svc\n"
                   "[skin]\nskin_subdir=plain\nskin_logotxt=caf\xE9\n");
    AppConfig config;
    testing::internal::CaptureStderr();
    Load(config);
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(config.first_run());
    EXPECT_EQ((home.Root() / "lib/vAziruduues").string(), config.m_books_folder);
    EXPECT_TRUE(fs::is_directory(home.Root() / "lib/vAziruduues"));
    EXPECT_EQ(1, config.m_threads_limit);
    EXPECT_EQ(7, config.m_http_upld_try_times);
    EXPECT_EQ(4, config.m_ftp_upld_try_times);
    EXPECT_EQ(48, config.m_http_chunk_size);
    EXPECT_EQ(5000, config.m_http_wait_after_upld_chunk);
    EXPECT_EQ("7", ConfigText("network", "http_upld_try_times"));
    EXPECT_EQ("48", ConfigText("network", "http_chunk_size"));
    EXPECT_EQ(96, config.m_low_dpi);
    EXPECT_EQ("96", ConfigText("general", "low_dpi"));
    EXPECT_EQ("150", ConfigText("general", "high_dpi"));
    EXPECT_EQ(120, config.m_dpi);
    EXPECT_EQ(0, config.m_log_err);
    EXPECT_EQ(0u, DiagLog::Instance().log_err());
    EXPECT_EQ(1u, DiagLog::Instance().log_cmd());
    EXPECT_EQ(0, config.m_autoview);  // missing: off, although the built-in value is on
    EXPECT_EQ(400, config.m_low_res_width);
    EXPECT_EQ(580, config.m_med_res_width);
    EXPECT_EQ(0, config.m_cat_id);
    EXPECT_EQ(0, config.m_lockwindow_when_dragging);
    EXPECT_EQ("/opt/engine/rastrix", config.m_engine_path);
    EXPECT_EQ("", config.m_skin_number);
    EXPECT_EQ("caf\xE9", config.m_skin_logotxt);
    EXPECT_EQ("site_styles.css", config.m_skin_cssfile);
    EXPECT_EQ(-1, config.m_use_vazirudu);

    // Web-service keys: a missing one takes the default and says so; a missing service
    // address means no service, never a built-in host.
    EXPECT_EQ("/svc", config.m_vazirudu_url);
    EXPECT_EQ("", config.m_vazirudu_domain);
    EXPECT_EQ("", config.m_vazirudu_webaddr);
    EXPECT_EQ("your.name@example.com", config.m_vazirudu_user);
    EXPECT_NE(std::string::npos, log.find("INF:no publishing service set"));
    EXPECT_NE(std::string::npos, log.find("ERR:vazirudu_user missing, use default"));
    EXPECT_EQ(std::string::npos, log.find("ERR:vazirudu_url missing"));
}

TEST_F(AppConfigTest, ValuesForTheEngineOutOfTheirRangeAreBroughtIntoItAndLogged)
{
    WriteFileBytes(data / "config.ini", "[general]\npreview_quality=999\nzoomin_quality=-5\npreview_smooth=abc\n"
                                        "zoomin_smooth=0\ndpi=999\n");
    AppConfig config;
    testing::internal::CaptureStderr();
    Load(config);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(85, config.m_preview_quality);
    EXPECT_EQ(25, config.m_zoomin_quality);
    EXPECT_EQ(100, config.m_preview_smooth);
    EXPECT_EQ(0, config.m_zoomin_smooth);  // in range: kept
    EXPECT_EQ(150, config.m_dpi);
    for (const char* line : {"preview_quality=\"999\" out of range, 85 used", "zoomin_quality=\"-5\" out of range, 25 used",
                             "preview_smooth=\"abc\" out of range, 100 used", "dpi=\"999\" out of range, 150 used"})
        EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
    EXPECT_EQ(std::string::npos, log.find("zoomin_smooth=")) << log;
}

TEST_F(AppConfigTest, ProgramFolderFollowsTheSetterThenTheEnvironmentThenTheExecutable)
{
    AppConfig from_exe;
    unsetenv("VELLUMARK_PROGRAM_DIR");
    EXPECT_EQ(fs::canonical("/proc/self/exe").parent_path().string() + "/", from_exe.ProgramFolder());

    setenv("VELLUMARK_PROGRAM_DIR", program.c_str(), 1);
    AppConfig from_env;
    EXPECT_EQ(program.string() + "/", from_env.ProgramFolder());
    from_env.SetProgramFolder((home.Root() / "other").string());
    EXPECT_EQ((home.Root() / "other/").string(), from_env.ProgramFolder());
}

TEST_F(AppConfigTest, SkinOffForcesTheLockedWindow)
{
    WriteFileBytes(data / "config.ini", "[general]\nuse_skin=0\nlockwindow_when_dragging=0\n");
    AppConfig config;
    Load(config);
    EXPECT_EQ(0, config.m_use_skin);
    EXPECT_EQ(1, config.m_lockwindow_when_dragging);
}

TEST_F(AppConfigTest, CurrentFtpProfileIsReadWithItsAccount)
{
    WriteFileBytes(data / "config.ini", "[network]\nftp_url=ftp://files.example.org/books\n");
    AppConfig config;
    IniFile ftp((data / "ftp.ini").string());
    const std::string section = "files.example.org/books";
    ASSERT_TRUE(ftp.WriteEnciphered(section, "ftp_user", std::string(40, 'u'), config.m_cipher));
    ASSERT_TRUE(ftp.WriteEnciphered(section, "ftp_passwd", "secret-pw1", config.m_cipher));
    ftp.WriteText(section, "ftp_webaddr", "http://files.example.org/books");
    ftp.WriteInt(section, "ftp_port", 0);
    Load(config);

    EXPECT_EQ(section, config.m_ftp_url);
    EXPECT_EQ("files.example.org", config.m_ftp_host);
    EXPECT_EQ("/books", config.m_ftp_subdir);
    EXPECT_EQ("", config.m_ftp_user);  // 40 characters: taken as damaged
    EXPECT_EQ("secret-pw1", config.m_ftp_passwd);
    EXPECT_EQ("http://files.example.org/books", config.m_ftp_webaddr);
    EXPECT_EQ(21, config.m_ftp_port);
    EXPECT_EQ(1, config.m_ftp_passive);
}

TEST_F(AppConfigTest, FoldersThatCannotBeReachedAreLoggedNotFatal)
{
    // A link that points at itself makes every lookup below it fail (ELOOP), as a folder
    // without search permission does for an ordinary user: the load carries on with the
    // built-in values instead of ending the program.
    fs::create_symlink("loop", home.Root() / "loop");
    setenv("XDG_DATA_HOME", (home.Root() / "loop").c_str(), 1);
    AppConfig config;
    config.SetProgramFolder((home.Root() / "loop/prog").string());
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(config.Load());
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ((home.Root() / "shared/Corvane/Vellumark/").string(), config.DefaultConfigFolder());
    EXPECT_NE(std::string::npos, log.find("ERR:database "));
    EXPECT_EQ(nullptr, config.db());
    EXPECT_EQ(1, config.m_threads_limit);
    EXPECT_TRUE(fs::is_directory(books));
}

TEST_F(AppConfigTest, LocaleChoosesAShippedLanguageFile)
{
    ShipDefaults();
    fs::copy_file(defaults / "lang_en.ini", defaults / "lang_de.ini");
    setenv("LANG", "de_DE.UTF-8", 1);
    AppConfig german;
    Load(german);
    EXPECT_EQ("lang_de.ini", german.m_localization_file);
    // Not stored: a later change of locale is followed.
    EXPECT_EQ("", ConfigText("general", "localization_file"));

    setenv("LANG", "it_IT.UTF-8", 1);
    AppConfig italian;
    Load(italian);
    EXPECT_EQ("lang_en.ini", italian.m_localization_file);
}

}  // namespace
