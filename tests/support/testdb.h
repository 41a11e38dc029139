// A fresh Corvane database per test, on SQLite or on the private PostgreSQL,
// with the same tables and demo data on both, and the connection settings of
// the program written into the current hive.
//
//   class MyTest : public telwick::test::DbTest {};
//   TEST_P(MyTest, Something) { db().AddEvent(3, 1, 5, 1, "C:;95"); ... }
//   TELWICK_INSTANTIATE_DB_TEST(MyTest);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/testenv.h"

namespace telwick::db::detail {
class Session;
}

namespace telwick::test {

enum class DbKind { Sqlite, Postgres };

std::string DbKindName(DbKind kind);  // "Sqlite", "Postgres"
// True when the private PostgreSQL of scripts/pg-test-env.sh is there
// (TELWICK_PG_DSN set, normally by sourcing its env file).
bool PostgresAvailable();
// The message of the skip when it is not.
std::string PostgresSkipReason();
// True when a test may also run a PostgreSQL server of its own (ownServer)
// with scripts/pg-test-env.sh (under Wine as a Unix program of the host).
bool OwnPostgresAvailable();
std::string OwnPostgresSkipReason();
// The source folder (TELWICK_SOURCE_DIR, else found from this file's path).
std::string SourceDir();

class TestDatabase {
public:
    struct Options {
        // PostgreSQL: run a server of its own (about 1.5 s), so that stopping it
        // hurts no other test. Needed for StopServer/StartServer on PostgreSQL.
        bool ownServer = false;
        // Write Server, Trusted_Connection and the protected login into the hive.
        bool writeSettings = true;
        // Load the demo data after the tables.
        bool demoData = true;
    };

    // Throws std::runtime_error when the database cannot be made (for
    // PostgreSQL check PostgresAvailable() first, or use DbTest).
    explicit TestDatabase(DbKind kind);
    TestDatabase(DbKind kind, Options options);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    DbKind kind() const { return kind_; }
    // What the setting "Server" holds: the file path or the DSN.
    const std::string& server() const { return server_; }
    // The login (empty for SQLite).
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // The program's connection text for this database.
    std::string ConnectionText() const;

    // Server, Trusted_Connection "No", and for PostgreSQL the protected
    // Username/Password, into the hive that TELWICK_REGISTRY names.
    void WriteSettings() const;

    // Stores one event and returns its number.
    int32_t AddEvent(int32_t computer, int32_t type, int32_t level, int32_t message,
                     const std::optional<std::string>& parameter);
    // Stores count events with the same values in one transaction; returns the
    // number of the last one.
    int32_t AddEvents(int64_t count, int32_t computer, int32_t type, int32_t level, int32_t message,
                      const std::optional<std::string>& parameter);
    // Runs any statement on the writable connection; throws on failure.
    void Exec(const std::string& sql);
    // The first column of the first row (nullopt for no row or null).
    std::optional<int64_t> QueryInteger(const std::string& sql);
    std::optional<std::string> QueryText(const std::string& sql);
    int32_t MaxEventNr();  // 0 for an empty table

    // An outage: PostgreSQL stops (needs ownServer); the SQLite file is moved
    // away. StartServer undoes it.
    void StopServer();
    void StartServer();
    bool running() const { return running_; }

private:
    void CreateSqlite();
    void CreatePostgres();
    void OpenWriter();
    void CloseWriter();
    void RunScript(const std::string& path);
    db::detail::Session& Writer();
    void WriteOdbcIni(const std::string& dsn, const std::string& connSettings);

    DbKind kind_;
    Options options_;
    TempDir dir_;
    std::string server_, user_, password_;
    std::unique_ptr<db::detail::Session> writer_;  // the writable connection of the test itself
    std::string sqliteFile_;
    std::string pgHost_, pgPort_, pgDatabase_, schema_, pgDir_;
    std::unique_ptr<ScopedEnv> odbcIni_;
    bool running_ = true;
};

// A test fixture that runs for both kinds: a private hive, and the database
// made fresh for each test (PostgreSQL cases skip without the server).
class DbTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override;
    void TearDown() override;
    // Override to ask for a server of its own, or no demo data.
    virtual TestDatabase::Options DatabaseOptions() const { return {}; }
    TestDatabase& db() { return *db_; }
    const ScopedHive& hive() const { return *hive_; }

private:
    std::unique_ptr<ScopedHive> hive_;
    std::unique_ptr<TestDatabase> db_;
};

// Skips the current test when the kind cannot run here.
#define TELWICK_SKIP_UNLESS_DB(kind)                                                              \
    do {                                                                                          \
        if ((kind) == ::telwick::test::DbKind::Postgres && !::telwick::test::PostgresAvailable()) \
            GTEST_SKIP() << ::telwick::test::PostgresSkipReason();                                \
    } while (0)

std::string DbKindParamName(const ::testing::TestParamInfo<DbKind>& info);

#define TELWICK_INSTANTIATE_DB_TEST(Fixture)                                                                   \
    INSTANTIATE_TEST_SUITE_P(                                                                                  \
        Kinds, Fixture, ::testing::Values(::telwick::test::DbKind::Sqlite, ::telwick::test::DbKind::Postgres), \
        ::telwick::test::DbKindParamName)

}  // namespace telwick::test
