#include "publish/ClassificationDb.h"

#include "config/DiagLog.h"

#include <sqlite3.h>

#include <memory>

namespace {

constexpr const char* kModule = "BaseNetworkDlg";

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// Prepares `sql` and binds `params` as texts, in order. Null on failure (logged).
Statement Prepare(sqlite3* db, const char* sql, const std::vector<std::string>& params, const char* error_prefix)
{
    if (!db)
        return nullptr;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        DIAG(kModule, 0, "%sSQL error: %s\n", error_prefix, sqlite3_errmsg(db));
        sqlite3_finalize(raw);
        return nullptr;
    }
    Statement statement(raw);
    for (size_t i = 0; i < params.size(); ++i) {
        if (sqlite3_bind_text(raw, static_cast<int>(i + 1), params[i].data(), static_cast<int>(params[i].size()),
                              SQLITE_TRANSIENT) != SQLITE_OK) {
            DIAG(kModule, 0, "%sSQL error: %s\n", error_prefix, sqlite3_errmsg(db));
            return nullptr;
        }
    }
    return statement;
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

}  // namespace

bool ClassificationDb::Query(const char* sql, const std::vector<std::string>& params, int id_column,
                             const char* error_prefix, std::vector<ClassEntry>& rows) const
{
    rows.clear();
    Statement statement = Prepare(db_, sql, params, error_prefix);
    if (!statement)
        return false;
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        ClassEntry entry;
        entry.name = ColumnText(statement.get(), 0);
        entry.id = static_cast<int32_t>(sqlite3_column_int64(statement.get(), id_column));
        rows.push_back(std::move(entry));
    }
    if (step != SQLITE_DONE) {
        DIAG(kModule, 0, "%sSQL error: %s\n", error_prefix, sqlite3_errmsg(db_));
        rows.clear();
        return false;
    }
    if (rows.empty()) {
        DIAG(kModule, 0, "ERR:nrow<=0");
        return false;
    }
    return true;
}

bool ClassificationDb::FirstRowIds(const char* sql, const std::vector<std::string>& params,
                                   std::vector<int32_t>& ids) const
{
    Statement statement = Prepare(db_, sql, params, "");
    if (!statement)
        return false;
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_ROW) {
        for (size_t i = 0; i < ids.size(); ++i)
            ids[i] = static_cast<int32_t>(sqlite3_column_int64(statement.get(), static_cast<int>(i)));
        return true;
    }
    if (step == SQLITE_DONE)
        DIAG(kModule, 0, "ERR:nrow<=0");
    else
        DIAG(kModule, 0, "SQL error: %s\n", sqlite3_errmsg(db_));
    return false;
}

bool ClassificationDb::Countries(std::vector<ClassEntry>& rows) const
{
    return Query("select countryname,c.ID from citystateview cs inner join country c on c.ID = cs.countryid "
                 "where statename like '---%' and cityname like '---%' order by countryname",
                 {}, 1, "ERR:", rows);
}

bool ClassificationDb::Categories(std::vector<ClassEntry>& rows) const
{
    return Query("select distinct c.title,c.ID from category c inner join subcategory sc on sc.categoryID=c.id "
                 "where sc.status=2 and c.status=2 order by c.title",
                 {}, 1, "ERR:", rows);
}

bool ClassificationDb::Subcategories(const std::string& category, std::vector<ClassEntry>& rows) const
{
    return Query("select sc.Title,sc.ID as 'Subcategory', sc.ID from category c inner join subcategory sc "
                 "on sc.categoryID=c.id where sc.status=2 and c.status=2 and c.title=?1 order by sc.Title",
                 {category}, 1, "", rows);
}

bool ClassificationDb::States(const std::string& country, std::vector<ClassEntry>& rows) const
{
    return Query("select distinct StateName,StateID from citystateview cs inner join country c "
                 "on c.ID = cs.countryid where c.CountryName=?1 and StateName<>?1 order by StateName",
                 {country}, 1, "", rows);
}

bool ClassificationDb::Cities(const std::string& country, const std::string& state,
                              std::vector<ClassEntry>& rows) const
{
    return Query("select distinct CityName,cs.ID from citystateview cs inner join country c on c.ID = cs.countryid "
                 "where c.CountryName=?1 and StateName=?2 order by CityName",
                 {country, state}, 1, "", rows);
}

bool ClassificationDb::CategoryIds(const std::string& category, const std::string& subcategory,
                                   int32_t& category_id, int32_t& subcategory_id) const
{
    std::vector<int32_t> ids(2, 0);
    if (!FirstRowIds("select c.ID as CID, sc.ID as SID from category c inner join subcategory sc "
                     "on sc.categoryID=c.id where sc.status=2 and c.status=2 and c.title=?1 and sc.title=?2",
                     {category, subcategory}, ids))
        return false;
    category_id = ids[0];
    subcategory_id = ids[1];
    return true;
}

bool ClassificationDb::PlaceIds(const std::string& country, const std::string& state, const std::string& city,
                                int32_t& country_id, int32_t& state_id, int32_t& city_id) const
{
    std::vector<int32_t> ids(3, 0);
    if (!FirstRowIds("select CountryID,StateID,cs.ID as CityID from citystateview cs inner join country c "
                     "on c.ID = cs.countryid where countryname=?1 and statename=?2 and cityname=?3",
                     {country, state, city}, ids))
        return false;
    country_id = ids[0];
    state_id = ids[1];
    city_id = ids[2];
    return true;
}
