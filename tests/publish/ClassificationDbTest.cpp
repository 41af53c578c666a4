// The classification lists and id look-ups on a private copy of the shipped data.db3:
// every list equals what the query with the name pasted in (apostrophes doubled) gives,
// names with apostrophes are found, only active rows are offered, and a missing
// database yields nothing. Also the FTP profile keys.
#include "publish/ClassificationDb.h"
#include "publish/NetworkSettings.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

std::string Quoted(const std::string& text)
{
    std::string doubled;
    for (char c : text) {
        doubled += c;
        if (c == '\'')
            doubled += '\'';
    }
    return "'" + doubled + "'";
}

class ClassificationDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(ProgramDir() / "DefaultCfg/data.db3"));
        fs::copy_file(ProgramDir() / "DefaultCfg/data.db3", path_);
        ASSERT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
        // Rows whose names hold apostrophes, besides the shipped "Children's" and "L'Aquila".
        Exec("insert into category (ID, title, status) values (900, 'Children''s books', 2), (901, 'Off''line', 1);"
             "insert into subcategory (ID, Title, categoryID, status) values (90001, 'Rock''n''roll', 900, 2),"
             " (90002, 'Fairy tales', 900, 2), (90003, 'Hidden', 900, 1), (90101, 'Any', 901, 2);");
    }
    void TearDown() override { sqlite3_close(db_); }

    void Exec(const std::string& sql) {
        char* error = nullptr;
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    }

    // The rows of `sql` as name and id (columns 0 and `id_column`).
    std::vector<ClassEntry> Literal(const std::string& sql, int id_column = 1) {
        std::vector<ClassEntry> rows;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(statement) == SQLITE_ROW)
            rows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                            sqlite3_column_int(statement, id_column)});
        sqlite3_finalize(statement);
        return rows;
    }

    static void ExpectSame(const std::vector<ClassEntry>& got, const std::vector<ClassEntry>& want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].name, want[i].name);
            EXPECT_EQ(got[i].id, want[i].id);
        }
    }

    TempHome home_;
    fs::path path_ = home_.Root() / "data.db3";
    sqlite3* db_ = nullptr;
};

TEST_F(ClassificationDbTest, ListsEqualThePastedQueries) {
    const ClassificationDb db(db_);
    std::vector<ClassEntry> rows;
    ASSERT_TRUE(db.Countries(rows));
    ExpectSame(rows, Literal("select countryname,c.ID from citystateview cs inner join country c on c.ID = "
                             "cs.countryid where statename like '---%' and cityname like '---%' order by countryname"));
    ASSERT_TRUE(db.Categories(rows));
    ExpectSame(rows, Literal("select distinct c.title,c.ID from category c inner join subcategory sc on "
                             "sc.categoryID=c.id where sc.status=2 and c.status=2 order by c.title"));

    for (const std::string category : {"Children's", "Children's books", "Education"}) {
        ASSERT_TRUE(db.Subcategories(category, rows)) << category;
        ExpectSame(rows, Literal("select sc.Title,sc.ID as 'Subcategory', sc.ID from category c inner join subcategory"
                                 " sc on sc.categoryID=c.id where sc.status=2 and c.status=2 and c.title=" +
                                 Quoted(category) + " order by sc.Title"));
    }
    for (const std::string country : {"Italy", "Côte d'Ivoire"}) {
        ASSERT_TRUE(db.States(country, rows)) << country;
        ExpectSame(rows, Literal("select distinct StateName,StateID from citystateview cs inner join country c on c.ID"
                                 " = cs.countryid where c.CountryName=" + Quoted(country) + " and StateName<>" +
                                 Quoted(country) + " order by StateName"));
        EXPECT_EQ(rows.front().name, "---");  // the whole country comes first
        const std::string state = rows.back().name;
        ASSERT_TRUE(db.Cities(country, state, rows));
        ExpectSame(rows, Literal("select distinct CityName,cs.ID from citystateview cs inner join country c on c.ID ="
                                 " cs.countryid where c.CountryName=" + Quoted(country) + " and StateName=" +
                                 Quoted(state) + " order by CityName"));
    }
}

TEST_F(ClassificationDbTest, NamesWithApostrophesAreFound) {
    const ClassificationDb db(db_);
    std::vector<ClassEntry> rows;
    ASSERT_TRUE(db.Subcategories("Children's books", rows));
    ASSERT_EQ(rows.size(), 2u);  // the inactive one is left out
    EXPECT_EQ(rows[0].name, "Fairy tales");
    EXPECT_EQ(rows[1].name, "Rock'n'roll");
    EXPECT_EQ(rows[1].id, 90001);

    int32_t category = 0, subcategory = 0;
    ASSERT_TRUE(db.CategoryIds("Children's books", "Rock'n'roll", category, subcategory));
    EXPECT_EQ(category, 900);
    EXPECT_EQ(subcategory, 90001);

    ASSERT_TRUE(db.Cities("Italy", "Abruzzo", rows));
    auto aquila = std::find_if(rows.begin(), rows.end(), [](const ClassEntry& row) { return row.name == "L'Aquila"; });
    ASSERT_NE(aquila, rows.end());
    int32_t country = 0, state = 0, city = 0;
    ASSERT_TRUE(db.PlaceIds("Italy", "Abruzzo", "L'Aquila", country, state, city));
    EXPECT_EQ(country, 380);
    EXPECT_EQ(state, 380001);
    EXPECT_EQ(city, aquila->id);
    ASSERT_TRUE(db.PlaceIds("Côte d'Ivoire", "---", "---", country, state, city));
    EXPECT_EQ(country, 384);
    EXPECT_EQ(state, 384000);
}

TEST_F(ClassificationDbTest, InactiveUnknownAndQuotedTextsFindNothing) {
    const ClassificationDb db(db_);
    std::vector<ClassEntry> rows;
    ASSERT_TRUE(db.Categories(rows));
    for (const ClassEntry& row : rows)
        EXPECT_NE(row.name, "Off'line");  // switched off, though its subcategory is active
    int32_t a = 7, b = 7, c = 7;
    // Text that would widen a pasted query is only a name here.
    EXPECT_FALSE(db.Subcategories("x' or '1'='1", rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(db.CategoryIds("Children's books", "Hidden", a, b));
    EXPECT_FALSE(db.PlaceIds("Italy", "Abruzzo", "x' or cityname like '%", a, b, c));
    EXPECT_EQ(a, 7);

    // Without a database every list is empty.
    const ClassificationDb none(nullptr);
    EXPECT_FALSE(none.Countries(rows));
    EXPECT_TRUE(rows.empty());
    EXPECT_FALSE(none.PlaceIds("Italy", "Abruzzo", "L'Aquila", a, b, c));
    // A database without the tables reports the error and yields nothing.
    Exec("drop view citystateview;");
    EXPECT_FALSE(db.Countries(rows));
    EXPECT_FALSE(db.Cities("Italy", "Abruzzo", rows));
}

TEST(FtpProfileKeyTest, KeysAreTheAddressWithoutScheme) {
    EXPECT_EQ(FtpProfileKey("ftp://ftp.example.org", "books"), "ftp.example.org/books");
    EXPECT_EQ(FtpProfileKey("ftp.example.org", "/books/2024"), "ftp.example.org/books/2024");
    EXPECT_EQ(FtpProfileKey("ftp.example.org", ""), "ftp.example.org/");
    EXPECT_EQ(FtpProfileKey("FTP://ftp.example.org", "b"), "FTP://ftp.example.org/b");  // scheme is case-sensitive
    EXPECT_EQ(FtpProfileKey("", "books"), "");
    EXPECT_EQ(FtpProfileKey("ftp://", "books"), "");
    const FtpProfile split = FtpProfileFromKey("ftp.example.org/books/2024");
    EXPECT_EQ(split.host, "ftp.example.org");
    EXPECT_EQ(split.subdir, "books/2024");
    EXPECT_EQ(FtpProfileKey(split.host, split.subdir), "ftp.example.org/books/2024");
    EXPECT_EQ(FtpProfileFromKey("host").subdir, "");
}

}  // namespace
