// Checks the shipped reference database data.db3 with the queries the publishing
// settings run on it, so that a broken schema, a lost country, an inactive row that
// shows up or a changed id is caught at build time. Tests that change the database
// work on a private copy.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/helpers/TempHome.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Puts a text between quotes with every "'" doubled, as the dialogs do.
std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

class Db {
public:
    explicit Db(const std::filesystem::path& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path << ": " << sqlite3_errmsg(db_);
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    // Runs a query the way the program does (get-table); a failing query fails the test.
    Rows Query(const std::string& sql) {
        Rows rows;
        if (!db_) return rows;
        char** table = nullptr;
        int nrow = 0, ncol = 0;
        char* err = nullptr;
        if (sqlite3_get_table(db_, sql.c_str(), &table, &nrow, &ncol, &err) != SQLITE_OK) {
            ADD_FAILURE() << "SQL error: " << (err ? err : "?") << "\n in: " << sql;
            sqlite3_free(err);
            return rows;
        }
        for (int r = 1; r <= nrow; ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < ncol; ++c) row.emplace_back(table[r * ncol + c] ? table[r * ncol + c] : "");
            rows.push_back(std::move(row));
        }
        sqlite3_free_table(table);
        return rows;
    }

    // Runs several statements in one call, as the reference update does.
    bool Exec(const std::string& sql) {
        char* err = nullptr;
        int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) ADD_FAILURE() << "SQL error: " << (err ? err : "?");
        sqlite3_free(err);
        return rc == SQLITE_OK;
    }

private:
    sqlite3* db_ = nullptr;
};

std::filesystem::path ShippedDb() { return ProgramDir() / "DefaultCfg" / "data.db3"; }

// The queries of the publishing settings, with the selected texts put in.
const char* kCountries =
    "select countryname,c.ID from citystateview cs inner join country c on c.ID = cs.countryid "
    "where statename like '---%' and cityname like '---%' order by countryname";
const char* kCategories =
    "select distinct c.title,c.ID from category c inner join subcategory sc on sc.categoryID=c.id "
    "where sc.status=2 and c.status=2 order by c.title";

std::string SubcategoriesOf(const std::string& category) {
    return "select sc.Title,sc.ID as 'Subcategory', sc.ID from category c inner join subcategory sc "
           "on sc.categoryID=c.id where sc.status=2 and c.status=2 and c.title=" +
           Quote(category) + " order by sc.Title";
}
std::string StatesOf(const std::string& country) {
    return "select distinct StateName,StateID from citystateview cs inner join country c on c.ID = "
           "cs.countryid where c.CountryName=" +
           Quote(country) + " and StateName<>" + Quote(country) + " order by StateName";
}
std::string CitiesOf(const std::string& country, const std::string& state) {
    return "select distinct CityName,cs.ID from citystateview cs inner join country c on c.ID = "
           "cs.countryid where c.CountryName=" +
           Quote(country) + " and StateName=" + Quote(state) + " order by CityName";
}
std::string CategoryIds(const std::string& category, const std::string& subcategory) {
    return "select c.ID as CID, sc.ID as SID from category c inner join subcategory sc on "
           "sc.categoryID=c.id where sc.status=2 and c.status=2 and c.title=" +
           Quote(category) + " and sc.title=" + Quote(subcategory);
}
std::string PlaceIds(const std::string& country, const std::string& state, const std::string& city) {
    return "select CountryID,StateID,cs.ID as CityID from citystateview cs inner join country c on "
           "c.ID = cs.countryid where countryname=" +
           Quote(country) + " and statename=" + Quote(state) + " and cityname=" + Quote(city);
}

std::vector<std::string> Column(const Rows& rows, size_t col = 0) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.at(col));
    return out;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class ReferenceDbTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(std::filesystem::exists(ShippedDb())) << ShippedDb(); }
};

// A private, writable copy of the shipped database.
class ReferenceDbCopyTest : public ReferenceDbTest {
protected:
    void SetUp() override {
        ReferenceDbTest::SetUp();
        copy_ = home_.Root() / "data.db3";
        std::filesystem::copy_file(ShippedDb(), copy_);
    }
    TempHome home_;
    std::filesystem::path copy_;
};

TEST_F(ReferenceDbTest, EveryCountryIsOfferedOnceInNameOrder) {
    Db db(ShippedDb());
    Rows rows = db.Query(kCountries);
    ASSERT_EQ(rows.size(), 249u);
    std::set<std::string> names, ids;
    for (const auto& r : rows) {
        names.insert(r[0]);
        ids.insert(r[1]);
    }
    EXPECT_EQ(names.size(), 249u);
    EXPECT_EQ(ids.size(), 249u);
    std::vector<std::string> list = Column(rows);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                               [](const std::string& a, const std::string& b) { return sqlite3_stricmp(a.c_str(), b.c_str()) < 0; }));
    for (const char* name : {"Afghanistan", "Brazil", "Côte d'Ivoire", "Germany", "India", "Japan", "Tuvalu", "United States", "Zimbabwe"})
        EXPECT_TRUE(Contains(list, name)) << name;

    // Each country carries its two codes, both unique.
    Rows codes = db.Query("select count(distinct Alpha2), count(distinct Alpha3), min(length(Alpha2)), max(length(Alpha2)) from country");
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0], (std::vector<std::string>{"249", "249", "2", "2"}));
}

TEST_F(ReferenceDbTest, PopulousCountriesHaveStatesWithCities) {
    Db db(ShippedDb());
    const std::map<std::string, size_t> expected_states = {
        {"China", 31}, {"India", 36}, {"United States", 51}, {"Indonesia", 38}, {"Pakistan", 7},
        {"Nigeria", 37}, {"Brazil", 27}, {"Bangladesh", 8}, {"Russia", 83}, {"Mexico", 32}};
    for (const auto& [country, count] : expected_states) {
        Rows states = db.Query(StatesOf(country));
        // The country's own "---" row is offered first, then every division.
        ASSERT_EQ(states.size(), count + 1) << country;
        EXPECT_EQ(states[0][0], "---") << country;
        for (size_t i = 1; i < states.size(); ++i) {
            Rows cities = db.Query(CitiesOf(country, states[i][0]));
            ASSERT_GE(cities.size(), 2u) << country << " / " << states[i][0];
            EXPECT_EQ(cities[0][0], "---") << country << " / " << states[i][0];
        }
    }
    // A country without divisions offers only its own row, down to the city.
    EXPECT_EQ(db.Query(StatesOf("Iceland")), (Rows{{"---", "352000"}}));
    EXPECT_EQ(db.Query(CitiesOf("Iceland", "---")), (Rows{{"---", "352000000"}}));
}

TEST_F(ReferenceDbTest, LookupsGiveTheStableIds) {
    // Stored settings keep these ids; a renumbering of the shipped rows would change
    // what users' saved choices mean.
    Db db(ShippedDb());
    EXPECT_EQ(db.Query(PlaceIds("India", "Maharashtra", "Mumbai")), (Rows{{"356", "356021", "356021001"}}));
    EXPECT_EQ(db.Query(PlaceIds("United States", "California", "Los Angeles")), (Rows{{"840", "840005", "840005002"}}));
    EXPECT_EQ(db.Query(PlaceIds("Brazil", "São Paulo", "Campinas")), (Rows{{"76", "76025", "76025002"}}));
    EXPECT_EQ(db.Query(PlaceIds("United States", "California", "---")), (Rows{{"840", "840005", "840005000"}}));
    EXPECT_EQ(db.Query(PlaceIds("Côte d'Ivoire", "---", "---")), (Rows{{"384", "384000", "384000000"}}));
    EXPECT_EQ(db.Query(CategoryIds("Education", "Higher Education")), (Rows{{"7", "703"}}));
    EXPECT_EQ(db.Query(CategoryIds("Children's", "Children's Books")), (Rows{{"5", "502"}}));
    EXPECT_TRUE(db.Query(PlaceIds("India", "Maharashtra", "Lagos")).empty());

    // Every id fits the signed 32-bit values the settings hold.
    Rows max = db.Query("select max(ID) from city");
    ASSERT_EQ(max.size(), 1u);
    EXPECT_LE(std::stoll(max[0][0]), INT32_MAX);
}

TEST_F(ReferenceDbTest, CategoriesOfferSeveralSubcategories) {
    Db db(ShippedDb());
    Rows cats = db.Query(kCategories);
    ASSERT_GE(cats.size(), 20u);
    for (const auto& c : cats) {
        Rows subs = db.Query(SubcategoriesOf(c[0]));
        EXPECT_GE(subs.size(), 4u) << c[0];
        for (const auto& s : subs) EXPECT_EQ(std::stoi(s[1]) / 100, std::stoi(c[1])) << s[0];
    }
    // A title with an apostrophe is found once the apostrophe is doubled.
    std::vector<std::string> kids = Column(db.Query(SubcategoriesOf("Children's")));
    EXPECT_TRUE(Contains(kids, "Children's Books"));
}

TEST_F(ReferenceDbCopyTest, InactiveRowsAreHidden) {
    Db db(copy_);
    ASSERT_TRUE(db.Exec(
        "update category set status=1 where title='Science';"
        "update subcategory set status=0 where categoryID=(select ID from category where title='History');"
        "update subcategory set status=0 where Title='Golf';"
        "update country set status=0 where CountryName='Iceland';"
        "update state set status=0 where StateName='Texas';"
        "update city set status=0 where CityName='Pune';"));
    std::vector<std::string> cats = Column(db.Query(kCategories));
    EXPECT_FALSE(Contains(cats, "Science"));
    EXPECT_FALSE(Contains(cats, "History"));  // no active subcategory left
    EXPECT_TRUE(Contains(cats, "Sports & Recreation"));
    EXPECT_FALSE(Contains(Column(db.Query(SubcategoriesOf("Sports & Recreation"))), "Golf"));
    EXPECT_TRUE(db.Query(SubcategoriesOf("Science")).empty());

    std::vector<std::string> countries = Column(db.Query(kCountries));
    EXPECT_EQ(countries.size(), 248u);
    EXPECT_FALSE(Contains(countries, "Iceland"));
    EXPECT_FALSE(Contains(Column(db.Query(StatesOf("United States"))), "Texas"));
    EXPECT_TRUE(db.Query(PlaceIds("United States", "Texas", "Houston")).empty());
    std::vector<std::string> cities = Column(db.Query(CitiesOf("India", "Maharashtra")));
    EXPECT_FALSE(Contains(cities, "Pune"));
    EXPECT_TRUE(Contains(cities, "Mumbai"));
}

TEST_F(ReferenceDbCopyTest, ServiceUpdatesAreAccepted) {
    // An update from the service arrives as one SQL text run in one call; it adds rows
    // with only the columns it knows, and may name places through the view.
    Db db(copy_);
    ASSERT_TRUE(db.Exec(
        "insert into category (ID, title) values (90, 'Pets');"
        "insert into subcategory (ID, Title, categoryID) values (9001, 'Dogs', 90);"
        "insert into citystateview (countryid, StateID, StateName, ID, CityName) values "
        "(352, 352001, 'Capital Region', 352001000, '---'), (352, 352001, 'Capital Region', 352001001, 'Reykjavík');"
        "insert or replace into city (ID, stateID, CityName, status) values (356021001, 356021, 'Mumbai', 2);"));
    EXPECT_EQ(db.Query(CategoryIds("Pets", "Dogs")), (Rows{{"90", "9001"}}));
    EXPECT_EQ(db.Query(PlaceIds("Iceland", "Capital Region", "Reykjavík")), (Rows{{"352", "352001", "352001001"}}));
    std::vector<std::string> states = Column(db.Query(StatesOf("Iceland")));
    EXPECT_EQ(states, (std::vector<std::string>{"---", "Capital Region"}));
    EXPECT_EQ(db.Query(PlaceIds("India", "Maharashtra", "Mumbai")).size(), 1u);

}

}  // namespace
