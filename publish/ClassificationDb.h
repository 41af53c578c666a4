// The classification a book can be given on the web service (category, subcategory,
// country, state, city), read from the reference database data.db3. Every text that
// comes from the user or from a combo box is passed as a bound parameter, never pasted
// into the SQL, so names with apostrophes ("Children's", "L'Aquila") are found as they
// are. Failures are logged and reported by result; a missing database yields nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

// One entry of a classification list: the name shown and the row's id.
struct ClassEntry {
    std::string name;
    int32_t id = 0;
};

class ClassificationDb {
public:
    explicit ClassificationDb(sqlite3* db) : db_(db) {}

    // Countries that have their own "---" place row, by name.
    bool Countries(std::vector<ClassEntry>& rows) const;
    // Active categories that have at least one active subcategory, by title.
    bool Categories(std::vector<ClassEntry>& rows) const;
    // The active subcategories of the category titled `category`, by title.
    bool Subcategories(const std::string& category, std::vector<ClassEntry>& rows) const;
    // The states of `country` (its own "---" row first, as it sorts first).
    bool States(const std::string& country, std::vector<ClassEntry>& rows) const;
    // The cities of `state` in `country`.
    bool Cities(const std::string& country, const std::string& state, std::vector<ClassEntry>& rows) const;

    // The ids of a category and subcategory chosen by title; false when none match.
    bool CategoryIds(const std::string& category, const std::string& subcategory, int32_t& category_id,
                     int32_t& subcategory_id) const;
    // The ids of a place chosen by its names; false when none match.
    bool PlaceIds(const std::string& country, const std::string& state, const std::string& city,
                  int32_t& country_id, int32_t& state_id, int32_t& city_id) const;

private:
    // Runs `sql` with `params` bound in order; each row's first column is the name, the
    // column `id_column` the id. `error_prefix` starts the record of an SQL error.
    bool Query(const char* sql, const std::vector<std::string>& params, int id_column, const char* error_prefix,
               std::vector<ClassEntry>& rows) const;
    // The integer columns of the first row; false on an error or without rows.
    bool FirstRowIds(const char* sql, const std::vector<std::string>& params, std::vector<int32_t>& ids) const;

    sqlite3* db_;
};
