#pragma once
// A fresh production database for a test, on a real server: SQLite in a fresh file, or a fresh
// database of the PostgreSQL server that the PG* variables name (scripts/test-postgres starts a
// throwaway one); without them the PostgreSQL cases are skipped. The test keeps a connection of
// its own to look into the tables and to cut the program off.
#include "cli/production_db.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace tarnik::testing {

using cli::DbOptions;
using cli::NewRunId;
using cli::OpenedDb;
using cli::ProductionDb;

// A fresh database of one kind, and a connection of the test's own to look into it.
class Place {
public:
    explicit Place(const std::string& kind) : postgres_(kind == "PostgreSQL") {
        if (!postgres_) {
            url_ = "sqlite:" + (dir_ / "line.db").string();
            raw_.open(soci::sqlite3, (dir_ / "line.db").string());
            return;
        }
        // (The library mangles a connection text without a key=value pair.)
        admin_.open(soci::postgresql, "postgresql://?connect_timeout=10");
        name_ = "tarnik_test_" + NewRunId().substr(0, 12);
        admin_ << "CREATE DATABASE " + name_;
        url_ = "postgresql:///" + name_;
        raw_.open(soci::postgresql, url_ + "?connect_timeout=10");
    }
    ~Place() {
        raw_.close();
        if (postgres_) admin_ << "DROP DATABASE " + name_ + " WITH (FORCE)";
    }
    const std::string& Url() const { return url_; }
    soci::session& Raw() { return raw_; }
    // A short wait for a locked SQLite file makes a cut database fail at once.
    DbOptions Options(std::chrono::milliseconds busy = std::chrono::seconds(10)) const {
        return {busy, dir_ / "spool"};
    }
    std::unique_ptr<ProductionDb> Open(std::chrono::milliseconds busy = std::chrono::seconds(10)) {
        OpenedDb opened = ProductionDb::Open(url_, Options(busy));
        EXPECT_TRUE(opened.db) << opened.error;
        return std::move(opened.db);
    }
    // Makes the database refuse every write of the program (and, on PostgreSQL, every
    // connection) until Restore.
    void Cut() {
        if (!postgres_) {
            raw_ << "BEGIN EXCLUSIVE";
            return;
        }
        admin_ << "ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS false";
        admin_ << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                      name_ + "' AND pid <> pg_backend_pid()";
    }
    void Restore() {
        if (!postgres_) {
            raw_ << "ROLLBACK";
            return;
        }
        admin_ << "ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS true";
        raw_.reconnect();
    }
    long long Count(const std::string& table) {
        long long rows = 0;
        raw_ << "SELECT COUNT(*) FROM " + table, soci::into(rows);
        return rows;
    }

private:
    bool postgres_;
    TempDir dir_;
    std::string url_;
    std::string name_;
    soci::session admin_;
    soci::session raw_;
};

class DbBackendTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "PostgreSQL" && std::getenv("PGHOST") == nullptr) {
            if (std::getenv("TARNIK_REQUIRE_POSTGRES") != nullptr)
                FAIL() << "TARNIK_REQUIRE_POSTGRES is set but no PGHOST";
            GTEST_SKIP() << "no PostgreSQL server named (PGHOST)";
        }
        place_ = std::make_unique<Place>(GetParam());
    }
    Place& place() { return *place_; }

    std::unique_ptr<Place> place_;
};

} // namespace tarnik::testing
