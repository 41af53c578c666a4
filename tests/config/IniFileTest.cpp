// The settings store's INI rules on narrow and UTF-16 files, the typed values,
// section lists, enciphered values, and the atomicity of concurrent writes.
#include "config/IniFile.h"
#include "config/Rijndael.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    TempHome home_;
    fs::path Dir() const { return home_.Root() / "data"; }
    std::string PathOf(const char* name) const { return (Dir() / name).string(); }
};

// UTF-16LE bytes with the FF FE mark for ASCII-only text.
std::string WideBytes(const std::string& ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

TEST_F(IniFileTest, LookupIgnoresCaseAndTakesFirstMatch)
{
    WriteFileBytes(PathOf("a.ini"), "; settings\n[General]\n  Name = first  \nname=second\nnoequals\n\n"
                                    "[other]\nname=other\n[GENERAL]\nname=duplicate\n");
    IniFile ini(PathOf("a.ini"));
    EXPECT_EQ(ini.ReadText("general", "NAME"), "first");
    EXPECT_EQ(ini.ReadText("Other", "Name"), "other");
    EXPECT_EQ(ini.ReadText("general", "noequals"), "");
    EXPECT_EQ(ini.ReadText("missing", "name"), "");
    EXPECT_EQ(ini.ReadInt("general", "missing"), -1);

    // Replacing keeps the line's place; a new key goes after the section's last line and
    // before the blank line that separates it from the next section.
    ASSERT_TRUE(ini.WriteText("GENERAL", "name", "changed"));
    ASSERT_TRUE(ini.WriteText("general", "added", "1"));
    ASSERT_TRUE(ini.WriteText("new", "k", "v"));
    EXPECT_EQ(ReadFileBytes(PathOf("a.ini")),
              "; settings\n[General]\nname=changed\nname=second\nnoequals\nadded=1\n\n"
              "[other]\nname=other\n[GENERAL]\nname=duplicate\n[new]\nk=v\n");
}

TEST_F(IniFileTest, FirstWriteCreatesFileButNeverTheFolder)
{
    IniFile ini;
    ini.SetPath(Dir().string(), "new.ini");
    EXPECT_EQ(ini.Path(), PathOf("new.ini"));
    EXPECT_FALSE(ini.Exists());
    ASSERT_TRUE(ini.WriteInt("s", "n", 12));
    EXPECT_TRUE(ini.Exists());
    EXPECT_EQ(ReadFileBytes(ini.Path()), "[s]\nn=12\n");

    IniFile nowhere((Dir() / "absent" / "x.ini").string());
    EXPECT_FALSE(nowhere.WriteText("s", "k", "v"));
    EXPECT_FALSE(fs::exists(Dir() / "absent"));

    ini.SetPath(Dir().string() + "/", "b.ini");
    EXPECT_EQ(ini.Path(), PathOf("b.ini"));
}

TEST_F(IniFileTest, IntegerFoldKeepsItsDocumentedQuirks)
{
    IniFile ini(PathOf("n.ini"));
    ini.WriteInt("s", "minus", -1);
    ini.WriteText("s", "abc", "abc");
    ini.WriteText("s", "empty", "");
    ini.WriteText("s", "wrap", "4294967296");      // 2^32 folds to 0
    ini.WriteText("s", "min", "2147483648");       // 2^31 wraps to the smallest value
    ini.WriteText("s", "long", std::string(63, '0') + "7");  // only 63 characters are read
    ini.WriteInt("s", "max", INT32_MAX);
    EXPECT_EQ(ini.ReadText("s", "minus"), "-1");
    EXPECT_EQ(ini.ReadInt("s", "minus"), -29);
    EXPECT_EQ(ini.ReadInt("s", "abc"), 5451);
    EXPECT_EQ(ini.ReadInt("s", "empty"), -1);
    EXPECT_EQ(ini.ReadInt("s", "wrap"), 0);
    EXPECT_EQ(ini.ReadInt("s", "min"), INT32_MIN);
    EXPECT_EQ(ini.ReadInt("s", "long"), 0);
    EXPECT_EQ(ini.ReadInt("s", "max"), INT32_MAX);
}

TEST_F(IniFileTest, TextLimitsAndUnsafeCharacters)
{
    IniFile ini(PathOf("t.ini"));
    ini.WriteRaw("s", "raw", "abcdef");
    EXPECT_EQ(ini.ReadRaw("s", "raw", 4), "abc");
    // "é" is two bytes: a buffer of 3 holds "a" only, never half a character.
    ini.WriteText("s", "utf", "aé");
    EXPECT_EQ(ini.ReadText("s", "utf", 3), "a");
    EXPECT_EQ(ini.ReadText("s", "utf", 4), "aé");
    ini.WriteText("s", "big", std::string(3000, 'x'));
    EXPECT_EQ(ini.ReadText("s", "big").size(), 2047u);
    EXPECT_EQ(ini.ReadRaw("s", "big", 5000).size(), 3000u);

    // A line break in a value must not plant a section or key in the file.
    ini.WriteText("s", "title", "evil\n[s]\nraw=owned");
    EXPECT_EQ(ini.ReadRaw("s", "raw"), "abcdef");
    EXPECT_EQ(ini.ReadText("s", "title"), "evil [s] raw=owned");
}

TEST_F(IniFileTest, WideFilesStayUtf16AndNarrowFilesStayNarrow)
{
    const std::string text = "Wert \xC3\xA4 \xF0\x9F\x98\x80";  // "Wert ä" and an emoji (surrogate pair)
    WriteFileBytes(PathOf("meta_w.ini"), WideBytes("[Job]\r\ntitle=old\r\n"));
    IniFile wide(PathOf("meta_w.ini"));
    EXPECT_EQ(wide.ReadWide("job", "TITLE"), "old");
    ASSERT_TRUE(wide.WriteWide("job", "title", text));
    ASSERT_TRUE(wide.WriteInt("job", "pages", 7));  // narrow operations keep the encoding too
    EXPECT_EQ(wide.ReadWide("job", "title"), text);
    EXPECT_EQ(wide.ReadInt("job", "pages"), 7);
    const std::string expected = WideBytes("[Job]\r\ntitle=Wert ") + std::string("\xE4\0 \0\x3D\xD8\x00\xDE", 8) +
                                 WideBytes("\r\npages=7\r\n").substr(2);
    EXPECT_EQ(ReadFileBytes(PathOf("meta_w.ini")), expected);

    IniFile narrow(PathOf("plain.ini"));
    ASSERT_TRUE(narrow.WriteWide("job", "title", text));
    EXPECT_EQ(ReadFileBytes(PathOf("plain.ini")), "[job]\ntitle=" + text + "\n");
    EXPECT_EQ(narrow.ReadWide("job", "title"), text);

    // A UTF-8 mark (as some editors write it) neither hides the first section nor is lost.
    WriteFileBytes(PathOf("marked.ini"), "\xEF\xBB\xBF[general]\r\nk=v\r\n");
    IniFile marked(PathOf("marked.ini"));
    EXPECT_EQ(marked.ReadText("general", "k"), "v");
    ASSERT_TRUE(marked.WriteText("general", "n", "1"));
    EXPECT_EQ(ReadFileBytes(PathOf("marked.ini")), "\xEF\xBB\xBF[general]\r\nk=v\r\nn=1\r\n");

    // Bytes that are not UTF-8 cannot be stored as UTF-16: they become U+FFFD, and the
    // rest of the value survives.
    wide.WriteWide("job", "bad", "a\xFF" "b");
    EXPECT_EQ(wide.ReadWide("job", "bad"), "a\xEF\xBF\xBD" "b");

    // At most 2047 UTF-16 units are read, and a surrogate pair is never split.
    std::string long_text(2046, 'a');
    long_text += "\xF0\x9F\x98\x80";
    wide.WriteWide("job", "long", long_text);
    EXPECT_EQ(wide.ReadWide("job", "long"), std::string(2046, 'a'));
}

TEST_F(IniFileTest, DateTimeRecord)
{
    IniFile ini(PathOf("meta.ini"));
    const DateTimeRecord in{2026, 12, 1, 7, 23, 59, 58, 999};
    ASSERT_TRUE(ini.WriteDateTime("job", "timestamp", in));
    EXPECT_EQ(ini.ReadText("job", "timestamp"), "2026,12,1,7,23,59,58,999,");
    DateTimeRecord out;
    ASSERT_TRUE(ini.ReadDateTime("job", "timestamp", out));
    EXPECT_EQ(out.year, 2026);
    EXPECT_EQ(out.day_of_week, 1);
    EXPECT_EQ(out.milliseconds, 999);

    for (const char* bad : {"", "2026,12,1,7,23,59,58,999", "2026,12,x,7,23,59,58,999,", "1,2,3"}) {
        ini.WriteText("job", "bad", bad);
        out = in;
        EXPECT_FALSE(ini.ReadDateTime("job", "bad", out)) << bad;
        EXPECT_EQ(out.year, 0) << bad;
    }
}

TEST_F(IniFileTest, SectionListsAndDeletion)
{
    IniFile ini(PathOf("s.ini"));
    WriteFileBytes(ini.Path(), "key=before any section\n");
    EXPECT_EQ(ini.SectionNames(10, 32), 0);
    EXPECT_TRUE(ini.SectionNameList().empty());

    ini.WriteText("Alpha", "k", "1");
    ini.WriteText("beta", "k", "2");
    ini.WriteText("gamma", "k", "3");
    EXPECT_EQ(ini.SectionNames(10, 32), 17);  // "Alpha\0beta\0gamma\0"
    EXPECT_EQ(ini.SectionNameList(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    // A buffer of (3 + 1) * 2 + 1 = 9 bytes: the last name is cut and the list still ends.
    EXPECT_EQ(ini.SectionNames(2, 3), 7);
    EXPECT_EQ(ini.SectionNameList(), (std::vector<std::string>{"Alpha", "b"}));
    EXPECT_EQ(ini.SectionNames(0, 32), 0);
    EXPECT_EQ(ini.SectionNames(-1, 32), 0);
    // A size beyond any buffer is refused (and logged), never wrapped into a small one.
    EXPECT_EQ(ini.SectionNames(INT32_MAX, INT32_MAX), 0);
    EXPECT_TRUE(ini.SectionNameList().empty());

    EXPECT_TRUE(ini.SectionExists("Alpha", 10, 32));
    EXPECT_FALSE(ini.SectionExists("alpha", 10, 32));  // exact comparison
    EXPECT_TRUE(ini.SectionNameList().empty());

    WriteFileBytes(ini.Path(), ReadFileBytes(ini.Path()) + "[BETA]\nk=dup\n");
    ASSERT_TRUE(ini.DeleteSection("Beta"));
    EXPECT_EQ(ReadFileBytes(ini.Path()), "key=before any section\n[Alpha]\nk=1\n[gamma]\nk=3\n");
    EXPECT_EQ(ini.ReadText("beta", "k"), "");
    EXPECT_TRUE(ini.DeleteSection("absent"));
    IniFile missing(PathOf("none.ini"));
    EXPECT_TRUE(missing.DeleteSection("x"));
    EXPECT_FALSE(missing.Exists());
}

TEST_F(IniFileTest, SectionNamesWithBracketsRoundTrip)
{
    // A profile named after a user's folder may hold "]": the header ends at the last one.
    IniFile ini(PathOf("ftp.ini"));
    const std::string profile = "host.example/books]2";
    ASSERT_TRUE(ini.WriteText(profile, "ftp_webaddr", "http://a"));
    ASSERT_TRUE(ini.WriteText(profile, "ftp_webaddr", "http://b"));
    ASSERT_TRUE(ini.WriteInt(profile, "ftp_port", 2121));
    EXPECT_EQ(ini.ReadText(profile, "ftp_webaddr"), "http://b");
    EXPECT_EQ(ini.ReadText("host.example/books", "ftp_webaddr"), "");
    EXPECT_EQ(ReadFileBytes(ini.Path()), "[" + profile + "]\nftp_webaddr=http://b\nftp_port=2121\n");
    EXPECT_TRUE(ini.SectionExists(profile, 10, 64));
}

TEST_F(IniFileTest, EncipheredValues)
{
    Rijndael cipher;
    ASSERT_TRUE(cipher.MakeKey(reinterpret_cast<const uint8_t*>(kIniCipherKey), nullptr, 32, 32));
    IniFile ini(PathOf("ftp.ini"));
    ASSERT_TRUE(ini.WriteEnciphered("ftp", "ftp_passwd", "secret1234", cipher));
    const std::string stored = ini.ReadText("ftp", "ftp_passwd");
    // The same field enciphered by the independent implementations.
    EXPECT_EQ(stored, "5F5399C38C51C8F640F194C8A854279AD0F2619B390C483F3030E7341934707A"
                      "85DD39A1715634D8837FB48A1AC7BBAA251AA99E0EE017580C7529D4979B406D");
    EXPECT_EQ(ini.ReadEnciphered("FTP", "FTP_PASSWD", cipher), "secret1234");

    std::string lower = stored;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ini.WriteText("ftp", "lower", lower);
    EXPECT_NE(ini.ReadEnciphered("ftp", "lower", cipher), "secret1234");

    ini.WriteText("ftp", "empty", "");
    EXPECT_EQ(ini.ReadEnciphered("ftp", "empty", cipher), "");
    EXPECT_EQ(ini.ReadEnciphered("ftp", "missing", cipher), "");

    // The field holds 63 characters and the zero; longer text is cut, never overflows.
    const std::string long_text(80, 'p');
    ASSERT_TRUE(ini.WriteEnciphered("ftp", "long", long_text, cipher));
    EXPECT_EQ(ini.ReadEnciphered("ftp", "long", cipher), long_text.substr(0, 63));

    Rijndael unkeyed;
    EXPECT_FALSE(ini.WriteEnciphered("ftp", "ftp_user", "bob", unkeyed));
    EXPECT_EQ(ini.ReadText("ftp", "ftp_user"), "");
}

TEST_F(IniFileTest, WriteKeepsFileModeLinkAndUnreadableFile)
{
    const std::string path = PathOf("mode.ini");
    IniFile ini(path);
    ini.WriteText("s", "a", "1");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ini.WriteText("s", "b", "2");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    fs::create_symlink(path, Dir() / "link.ini");
    IniFile link((Dir() / "link.ini").string());
    ASSERT_TRUE(link.WriteText("s", "c", "3"));
    EXPECT_TRUE(fs::is_symlink(Dir() / "link.ini"));
    EXPECT_EQ(ini.ReadText("s", "c"), "3");

    // A path that cannot be read as a file is never replaced by a fresh one.
    fs::create_directory(Dir() / "dir.ini");
    IniFile dir((Dir() / "dir.ini").string());
    EXPECT_FALSE(dir.WriteText("s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(Dir() / "dir.ini"));

    for (const auto& entry : fs::directory_iterator(Dir()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(IniFileTest, ConcurrentWritersLoseNothingAndReadersNeverSeeTornFiles)
{
    const std::string path = PathOf("stress.ini");
    constexpr int kThreads = 8, kKeys = 200;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};

    // Every complete file is a run of "[w<n>]" sections with "k<i>=<n>-<i>" lines.
    std::thread reader([&] {
        while (!done.load()) {
            const std::string bytes = ReadFileBytes(path);
            std::istringstream lines(bytes);
            std::string line;
            if (!bytes.empty() && bytes.back() != '\n')
                ++torn;
            while (std::getline(lines, line))
                if (!(line.size() > 2 && line.front() == '[' && line.back() == ']') &&
                    line.find('=') == std::string::npos)
                    ++torn;
            ++reads;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            IniFile ini(path);
            for (int i = 0; i < kKeys; ++i)
                ini.WriteText(t % 2 ? "shared" : "w" + std::to_string(t), "k" + std::to_string(t) + "_" +
                              std::to_string(i), std::to_string(t) + "-" + std::to_string(i));
        });
    for (auto& w : writers)
        w.join();
    done = true;
    reader.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    IniFile ini(path);
    int found = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kKeys; ++i)
            found += ini.ReadText(t % 2 ? "shared" : "w" + std::to_string(t),
                                  "k" + std::to_string(t) + "_" + std::to_string(i)) ==
                     std::to_string(t) + "-" + std::to_string(i);
    EXPECT_EQ(found, kThreads * kKeys);
}

// The store keeps the parsed file between calls; a file another program rewrote (even to
// the same size) must be read as it now is, and a write must keep what that program added.
TEST_F(IniFileTest, ChangesByAnotherProgramAreReadAndKeptByTheNextWrite)
{
    fs::create_directories(Dir());
    const std::string path = PathOf("meta.ini");
    IniFile ini(path);
    ASSERT_TRUE(ini.WriteText("job", "progress", "5000"));
    EXPECT_EQ(ini.ReadText("job", "progress"), "5000");

    WriteFileBytes(path, "[job]\nprogress=6000\n");
    EXPECT_EQ(ini.ReadText("job", "progress"), "6000");

    WriteFileBytes(path, "[job]\nprogress=7000\nother=kept\n");
    ASSERT_TRUE(ini.WriteText("job", "title", "t"));
    EXPECT_EQ(ReadFileBytes(path), "[job]\nprogress=7000\nother=kept\ntitle=t\n");

    // Several keys in one replacement leave the file as writing them one by one does.
    IniFile one_by_one(PathOf("one.ini"));
    one_by_one.WriteText("job", "a", "1");
    one_by_one.WriteText("JOB", "b", "2");
    one_by_one.WriteText("job", "a", "3");
    IniFile together(PathOf("together.ini"));
    ASSERT_TRUE(together.WriteTexts("job", {{"a", "1"}, {"b", "2"}, {"a", "3"}}));
    EXPECT_EQ(ReadFileBytes(PathOf("together.ini")), ReadFileBytes(PathOf("one.ini")));
}
