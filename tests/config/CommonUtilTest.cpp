#include "config/CommonUtil.h"
#include "config/Folders.h"
#include "config/JobKey.h"
#include "config/IniFile.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <set>

namespace fs = std::filesystem;

namespace {

class CopyTest : public ::testing::Test {
protected:
    TempHome home;
    fs::path src = home.Root() / "src";
    fs::path dst = home.Root() / "dst";

    void SetUp() override
    {
        WriteFileBytes(src / "a.txt", "alpha");
        WriteFileBytes(src / "tree/b.txt", "beta");
        WriteFileBytes(src / "tree/deep/c.txt", "gamma");
    }
};

TEST_F(CopyTest, CopiesAFileCreatingFoldersOrIntoAnExistingFolder)
{
    EXPECT_EQ(0, copy_file_or_path((dst / "x/y/a.txt").string(), (src / "a.txt").string(), 1));
    EXPECT_EQ("alpha", ReadFileBytes(dst / "x/y/a.txt"));

    fs::create_directories(dst / "folder");
    EXPECT_EQ(0, copy_file_or_path((dst / "folder").string(), (src / "a.txt").string(), 1));
    EXPECT_EQ("alpha", ReadFileBytes(dst / "folder/a.txt"));
}

TEST_F(CopyTest, CopiesATreeAsTheDestinationOrIntoAnExistingFolder)
{
    EXPECT_EQ(0, copy_file_or_path((dst / "copy").string(), (src / "tree").string(), 1));
    EXPECT_EQ("gamma", ReadFileBytes(dst / "copy/deep/c.txt"));

    // An existing destination folder receives the tree under its own name.
    fs::create_directories(dst / "skins");
    EXPECT_EQ(0, copy_file_or_path((dst / "skins").string(), (src / "tree").string(), 1));
    EXPECT_EQ("beta", ReadFileBytes(dst / "skins/tree/b.txt"));
    EXPECT_FALSE(fs::exists(dst / "skins/b.txt"));
}

TEST_F(CopyTest, WildcardCopiesTheContentOfAFolder)
{
    EXPECT_EQ(0, copy_file_or_path((dst / "export").string(), (src / "tree/*").string(), 1));
    EXPECT_EQ("beta", ReadFileBytes(dst / "export/b.txt"));
    EXPECT_EQ("gamma", ReadFileBytes(dst / "export/deep/c.txt"));
    EXPECT_FALSE(fs::exists(dst / "export/tree"));
}

TEST_F(CopyTest, OverwriteFlagDecidesWhetherAnExistingDestinationIsReplaced)
{
    WriteFileBytes(dst / "a.txt", "old");
    EXPECT_EQ(0, copy_file_or_path((dst / "a.txt").string(), (src / "a.txt").string(), 0));
    EXPECT_EQ("old", ReadFileBytes(dst / "a.txt"));
    EXPECT_EQ(0, copy_file_or_path((dst / "a.txt").string(), (src / "a.txt").string(), 1));
    EXPECT_EQ("alpha", ReadFileBytes(dst / "a.txt"));

    // Replacing a tree keeps files the source does not have and replaces the others.
    WriteFileBytes(dst / "t/b.txt", "old");
    WriteFileBytes(dst / "t/extra.txt", "mine");
    EXPECT_EQ(0, copy_file_or_path((dst / "t").string(), (src / "tree/*").string(), 0));
    EXPECT_EQ("old", ReadFileBytes(dst / "t/b.txt"));
    EXPECT_EQ(0, copy_file_or_path((dst / "t").string(), (src / "tree/*").string(), 1));
    EXPECT_EQ("beta", ReadFileBytes(dst / "t/b.txt"));
    EXPECT_EQ("mine", ReadFileBytes(dst / "t/extra.txt"));
}

TEST_F(CopyTest, MissingSourceGivesAnErrnoAndCopiesNothing)
{
    EXPECT_EQ(ENOENT, copy_file_or_path((dst / "n.txt").string(), (src / "none.txt").string(), 1));
    EXPECT_EQ(ENOENT, copy_file_or_path((dst / "n").string(), (src / "none/*").string(), 1));
    EXPECT_FALSE(fs::exists(dst / "n.txt"));
    EXPECT_FALSE(fs::exists(dst / "n"));
    // A file where a folder must be created is a failure too, not a success.
    WriteFileBytes(dst / "blocker", "x");
    EXPECT_NE(0, copy_file_or_path((dst / "blocker/sub/a.txt").string(), (src / "a.txt").string(), 1));
}

TEST_F(CopyTest, AFolderIsNeverCopiedIntoItself)
{
    EXPECT_EQ(EINVAL, copy_file_or_path((src / "tree/deep/copy").string(), (src / "tree").string(), 1));
    EXPECT_EQ(EINVAL, copy_file_or_path((src / "tree").string(), (src / "tree/*").string(), 1));
    EXPECT_EQ(EINVAL, copy_file_or_path((src / "tree/").string(), (src / "tree/deep/..").string(), 1));
    EXPECT_FALSE(fs::exists(src / "tree/deep/copy"));
    EXPECT_FALSE(fs::exists(src / "tree/tree"));
    // A sibling whose name merely starts with the source's name is fine.
    EXPECT_EQ(0, copy_file_or_path((src / "tree2").string(), (src / "tree").string(), 1));
    EXPECT_EQ("gamma", ReadFileBytes(src / "tree2/deep/c.txt"));
}

TEST(JobKeyTest, NewKeysAreDistinctVersionFourGuidsInUpperCaseHex)
{
    std::set<std::string> keys;
    for (int i = 0; i < 200; ++i) {
        std::string key = NewJobKey();
        ASSERT_TRUE(IsJobKey(key)) << key;
        EXPECT_EQ('4', key[12]);
        EXPECT_NE(std::string::npos, std::string("89AB").find(key[16]));
        keys.insert(key);
    }
    EXPECT_EQ(200u, keys.size());
}

TEST(JobKeyTest, OnlyExactlyThirtyTwoUpperCaseHexDigitsAreKeys)
{
    const std::string good = "0123456789ABCDEF0123456789ABCDEF";
    EXPECT_TRUE(IsJobKey(good));
    EXPECT_FALSE(IsJobKey(good.substr(1)));
    EXPECT_FALSE(IsJobKey(good + "0"));
    EXPECT_FALSE(IsJobKey("0123456789abcdef0123456789ABCDEF"));
    EXPECT_FALSE(IsJobKey("0123456789ABCDEG0123456789ABCDEF"));
    EXPECT_FALSE(IsJobKey("../3456789ABCDEF0123456789ABCDEF"));
}

TEST(FoldersTest, DocumentsFolderComesFromTheEnvironmentThenUserDirsThenHome)
{
    TempHome home;
    EXPECT_EQ((home.Home() / "Documents").string(), folders::DocumentsFolder());

    unsetenv("XDG_DOCUMENTS_DIR");
    WriteFileBytes(home.Root() / "config/user-dirs.dirs",
                   "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Papers/\"\n");
    EXPECT_EQ((home.Home() / "Papers").string(), folders::DocumentsFolder());

    fs::remove(home.Root() / "config/user-dirs.dirs");
    EXPECT_EQ((home.Home() / "Documents").string(), folders::DocumentsFolder());
}

TEST(FoldersTest, DataFoldersFallBackToTheirDefaults)
{
    TempHome home;
    setenv("XDG_DATA_DIRS", "/first/share:/second/share", 1);
    EXPECT_EQ("/first/share", folders::CommonDataFolder());
    unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ("/usr/local/share", folders::CommonDataFolder());
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ((home.Home() / ".local/share").string(), folders::UserDataFolder());
}

TEST(FoldersTest, LanguageComesFromTheRegistryFileOrTheLocale)
{
    TempHome home;
    EXPECT_EQ("", folders::RegistryLanguage());
    WriteFileBytes(home.Root() / "config/Corvane/registry.ini", "[Software\\Vellumark]\nlang=lang_fr.ini\n");
    EXPECT_EQ("lang_fr.ini", folders::RegistryLanguage());

    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ("de", folders::LocaleLanguage());
    setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ("", folders::LocaleLanguage());
    setenv("LC_ALL", "POSIX", 1);
    EXPECT_EQ("", folders::LocaleLanguage());
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    EXPECT_EQ("", folders::LocaleLanguage());
}

TEST(FoldersTest, ProgramFolderIsTheExecutablesFolderWithATrailingSlash)
{
    std::string folder = folders::ProgramFolderOfExe();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ('/', folder.back());
    EXPECT_TRUE(fs::is_directory(folder));
}

}  // namespace
