// A fixture with the service's database opened afresh for each test: an SQLite file in
// the test's folder, or a database on the test process's own PostgreSQL server when the
// service tests run against PostgreSQL.
#pragma once

#include "service/ServiceDatabase.h"
#include "tests/helpers/PostgresCluster.h"
#include "tests/helpers/TempHome.h"

#include <gtest/gtest.h>

#include <string>

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        const std::string target = TestDatabaseTarget((home_.Root() / "service.db").string(), why);
        ASSERT_TRUE(!target.empty() && db_.Open(target, why)) << why;
    }

    TempHome home_;
    service::ServiceDatabase db_;
};
