#include "support/testdb.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "database/backend.h"
#include "settings/crypt.h"
#include "settings/registry.h"

namespace telwick::test {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string RandomHex(int bytes) {
    std::random_device rd;
    std::string out;
    static const char* digits = "0123456789abcdef";
    for (int i = 0; i < bytes; ++i) {
        unsigned v = rd() & 0xffu;
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

// Like ReadFile, but a file that must be there (a schema) and is not is an error.
std::string ReadRequiredFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The statements of a script: split at ";" outside quotes, "--" comments dropped.
std::vector<std::string> SplitStatements(const std::string& script) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false;
    for (size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (!quoted && c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
            while (i < script.size() && script[i] != '\n') ++i;
            current += '\n';
            continue;
        }
        if (c == '\'') quoted = !quoted;
        if (!quoted && c == ';') {
            out.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    out.push_back(current);
    std::vector<std::string> statements;
    for (auto& s : out)
        if (s.find_first_not_of(" \t\r\n") != std::string::npos) statements.push_back(s);
    return statements;
}

// KEY='value' lines of the env file that pg-test-env.sh writes.
std::string EnvFileValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    const std::string prefix = "export " + key + "=";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::string v = line.substr(prefix.size());
        if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') v = v.substr(1, v.size() - 2);
        return v;
    }
    return {};
}

// A shell command of the host: through std::system, or under Wine (whose
// cmd.exe has no bash) as a Unix program started with start /unix, which
// neither waits nor hands back a status: its script leaves the status in a
// file, waited for (in TELWICK_TEST_TMPDIR, a Unix path under Wine).
int RunShell(const std::string& command) {
    if (!telwick::test::OnWindows) return std::system(command.c_str());
    const std::string base = std::filesystem::temp_directory_path().generic_string();
    const std::string dir =
        (Env("TELWICK_TEST_TMPDIR").empty() ? base : Env("TELWICK_TEST_TMPDIR")) + "/shell-" + RandomHex(6);
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/run.sh", std::ios::binary)
        << command << "\necho $? >" << dir << "/status.tmp && mv " << dir << "/status.tmp " << dir << "/status\n";
    int rc = std::system(("start /unix /bin/bash " + dir + "/run.sh").c_str());
    if (rc == 0) {
        rc = -1;
        for (int i = 0; i < 1200 && rc == -1; ++i) {
            std::ifstream status(dir + "/status");
            if (!(status >> rc)) rc = -1;
            if (rc == -1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return rc;
}

void RunOrThrow(const std::string& command) {
    const int rc = RunShell(command);
    if (rc != 0) throw std::runtime_error("command failed (" + std::to_string(rc) + "): " + command);
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// A text as an SQL literal, or NULL.
std::string Literal(const std::optional<std::string>& text) {
    if (!text) return "NULL";
    std::string out = "'";
    for (char c : *text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// The first column of the first row of a query on the writer.
std::optional<db::detail::Value> FirstValue(db::detail::Session& session, const std::string& sql) {
    try {
        auto cursor = session.Query(sql);
        if (!cursor->Next() || cursor->Columns() < 1) return std::nullopt;
        db::detail::Value v = cursor->Get(0);
        if (v.kind == db::detail::Value::Kind::Null) return std::nullopt;
        return v;
    } catch (const db::detail::DriverError& e) {
        throw std::runtime_error("test SQL failed: " + sql + ": " + e.driverText());
    }
}

}  // namespace

std::string DbKindName(DbKind kind) { return kind == DbKind::Sqlite ? "Sqlite" : "Postgres"; }

std::string DbKindParamName(const ::testing::TestParamInfo<DbKind>& info) { return DbKindName(info.param); }

bool PostgresAvailable() { return !Env("TELWICK_PG_DSN").empty(); }

bool OwnPostgresAvailable() { return PostgresAvailable(); }

std::string OwnPostgresSkipReason() { return PostgresSkipReason(); }

std::string PostgresSkipReason() {
    return "no PostgreSQL test server: TELWICK_PG_DSN is not set (start one with "
           "'bash scripts/pg-test-env.sh start DIR' and 'source DIR/env', as scripts/test.sh does)";
}

std::string SourceDir() {
    if (auto dir = Env("TELWICK_SOURCE_DIR"); !dir.empty()) return dir;
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().string();
}

TestDatabase::TestDatabase(DbKind kind) : TestDatabase(kind, Options{}) {}

TestDatabase::TestDatabase(DbKind kind, Options options) : kind_(kind), options_(options) {
    if (kind_ == DbKind::Sqlite)
        CreateSqlite();
    else
        CreatePostgres();
    if (options_.writeSettings) WriteSettings();
}

TestDatabase::~TestDatabase() {
    try {
        if (!running_) StartServer();
        if (kind_ == DbKind::Postgres && options_.ownServer) {
            CloseWriter();
            RunShell("bash " + ShellQuote(SourceDir() + "/scripts/pg-test-env.sh") + " stop " +
                     ShellQuote(pgDir_) + " >/dev/null 2>&1");
        } else if (kind_ == DbKind::Postgres && !schema_.empty()) {
            // A reader still holding the tables must not hang the end of the test.
            Exec("SET lock_timeout = '2s'");
            Exec("DROP SCHEMA " + schema_ + " CASCADE");
        }
    } catch (...) {
    }
    CloseWriter();
}

std::string TestDatabase::ConnectionText() const {
    return "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Corvane;Data Source=" + server_ +
           ";Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;";
}

void TestDatabase::CreateSqlite() {
    sqliteFile_ = dir_.file("corvane.db");
    server_ = sqliteFile_;
    OpenWriter();
    RunScript(SourceDir() + "/schema/sqlite.sql");
    if (options_.demoData) RunScript(SourceDir() + "/schema/demo.sql");
}

void TestDatabase::CreatePostgres() {
    if (!PostgresAvailable() && !options_.ownServer) throw std::runtime_error(PostgresSkipReason());
    if (options_.ownServer) {
        // The server runs as user postgres when we are root: let it in.
        std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all |
                                                      std::filesystem::perms::group_read |
                                                      std::filesystem::perms::group_exec |
                                                      std::filesystem::perms::others_read |
                                                      std::filesystem::perms::others_exec);
        pgDir_ = dir_.file("pg");
        RunOrThrow("bash " + ShellQuote(SourceDir() + "/scripts/pg-test-env.sh") + " start " + ShellQuote(pgDir_) +
                   " >/dev/null");
        const std::string env = ReadRequiredFile(pgDir_ + "/env");
        pgHost_ = EnvFileValue(env, "TELWICK_PG_HOST");
        pgPort_ = EnvFileValue(env, "TELWICK_PG_PORT");
        pgDatabase_ = EnvFileValue(env, "TELWICK_PG_DATABASE");
        user_ = EnvFileValue(env, "TELWICK_PG_USER");
        password_ = EnvFileValue(env, "TELWICK_PG_PASSWORD");
        // A data source name of our own: the driver manager may still remember
        // an earlier file that gave the same name another port.
        WriteOdbcIni("corvane_" + RandomHex(6), "");
        OpenWriter();
        if (!options_.demoData) {
            Exec("DELETE FROM t_eventLog");
            Exec("DELETE FROM t_description");
            Exec("DELETE FROM t_computer");
        }
        return;
    }
    pgHost_ = Env("TELWICK_PG_HOST").empty() ? "127.0.0.1" : Env("TELWICK_PG_HOST");
    pgPort_ = Env("TELWICK_PG_PORT");
    pgDatabase_ = Env("TELWICK_PG_DATABASE").empty() ? "Corvane" : Env("TELWICK_PG_DATABASE");
    user_ = Env("TELWICK_PG_USER");
    password_ = Env("TELWICK_PG_PASSWORD");
    const std::string id = RandomHex(6);
    schema_ = "tws_" + id;
    OpenWriter();
    Exec("CREATE SCHEMA " + schema_);
    Exec("SET search_path TO " + schema_);
    RunScript(SourceDir() + "/schema/postgresql.sql");
    if (options_.demoData) RunScript(SourceDir() + "/schema/demo.sql");

    // A data source of our own whose sessions see only this schema.
    WriteOdbcIni("corvane_" + id, "SET search_path TO " + schema_);
}

void TestDatabase::WriteOdbcIni(const std::string& dsn, const std::string& connSettings) {
    server_ = dsn;
    // Under Wine the host's unixODBC reads ODBCINI from the environment the
    // process started with, so the data source goes into that file (it reads
    // the file again at each connect); elsewhere into a file of this test's own.
    const bool shared = telwick::test::OnWindows && !Env("ODBCINI").empty();
    const std::string ini = shared ? Env("ODBCINI") : dir_.file("odbc.ini");
    std::ofstream out(ini, shared ? std::ios::app : std::ios::trunc);
    out << "[" << server_ << "]\n"
        << "Driver = PostgreSQL Unicode\n"
        << "Servername = " << pgHost_ << "\n"
        << "Port = " << pgPort_ << "\n"
        << "Database = " << pgDatabase_ << "\n"
        << "SSLMode = disable\n"
        << "UseDeclareFetch = 1\n"
        << "Fetch = 1000\n"
        << "CommLog = 0\n"  // no psqlodbc_*.log files in /tmp
        << "Debug = 0\n";
    if (!connSettings.empty()) out << "ConnSettings = " << connSettings << "\n";
    out.close();
    if (!shared) odbcIni_ = std::make_unique<ScopedEnv>("ODBCINI", ini);
}

void TestDatabase::OpenWriter() {
    try {
        if (kind_ == DbKind::Sqlite)
            writer_ = db::detail::OpenSqliteFile(sqliteFile_, true);
        else
            writer_ = db::detail::OpenOdbc("DRIVER={PostgreSQL Unicode};SERVER=" + pgHost_ + ";PORT=" + pgPort_ +
                                               ";DATABASE=" + pgDatabase_ + ";SSLMODE=disable",
                                           user_, password_);
    } catch (const db::detail::DriverError& e) {
        throw std::runtime_error("test database cannot be opened for writing: " + std::string(e.what()) + ": " +
                                 e.driverText());
    }
    if (kind_ == DbKind::Postgres && !schema_.empty()) Exec("SET search_path TO " + schema_);
}

void TestDatabase::CloseWriter() { writer_.reset(); }

db::detail::Session& TestDatabase::Writer() {
    if (!writer_) throw std::runtime_error("the test database has no writer (its server is stopped)");
    return *writer_;
}

void TestDatabase::RunScript(const std::string& path) {
    // One transaction: a SQLite file syncs once instead of once a statement.
    const auto statements = SplitStatements(ReadRequiredFile(path));
    Writer().Begin();
    try {
        for (const auto& statement : statements) Exec(statement);
    } catch (...) {
        try {
            Writer().Rollback();
        } catch (...) {
        }
        throw;
    }
    Writer().Commit();
}

void TestDatabase::Exec(const std::string& sql) {
    try {
        Writer().Execute(sql);
    } catch (const db::detail::DriverError& e) {
        throw std::runtime_error("test SQL failed: " + sql + ": " + e.driverText());
    }
}

std::optional<int64_t> TestDatabase::QueryInteger(const std::string& sql) {
    const auto v = FirstValue(Writer(), sql);
    if (!v) return std::nullopt;
    if (v->kind == db::detail::Value::Kind::Integer) return v->integer;
    if (v->kind == db::detail::Value::Kind::Real) return static_cast<int64_t>(v->real);
    return std::stoll(v->text);
}

std::optional<std::string> TestDatabase::QueryText(const std::string& sql) {
    const auto v = FirstValue(Writer(), sql);
    if (!v) return std::nullopt;
    if (v->kind == db::detail::Value::Kind::Integer) return std::to_string(v->integer);
    if (v->kind == db::detail::Value::Kind::Real) return std::to_string(v->real);
    return v->text;
}

int32_t TestDatabase::MaxEventNr() {
    return static_cast<int32_t>(QueryInteger("SELECT MAX(eventlognr) FROM t_eventLog").value_or(0));
}

int32_t TestDatabase::AddEvent(int32_t computer, int32_t type, int32_t level, int32_t message,
                               const std::optional<std::string>& parameter) {
    const std::string sql = "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES (" +
                            std::to_string(computer) + ", " + std::to_string(type) + ", " + std::to_string(level) +
                            ", " + std::to_string(message) + ", " + Literal(parameter) + ")";
    if (kind_ == DbKind::Postgres) {
        const auto nr = QueryInteger(sql + " RETURNING eventlognr");
        if (!nr) throw std::runtime_error("adding an event gave no number");
        return static_cast<int32_t>(*nr);
    }
    Exec(sql);
    return static_cast<int32_t>(QueryInteger("SELECT last_insert_rowid()").value_or(0));
}

int32_t TestDatabase::AddEvents(int64_t count, int32_t computer, int32_t type, int32_t level, int32_t message,
                                const std::optional<std::string>& parameter) {
    if (count <= 0) return MaxEventNr();
    const std::string values = std::to_string(computer) + ", " + std::to_string(type) + ", " +
                               std::to_string(level) + ", " + std::to_string(message) + ", " + Literal(parameter);
    std::string sql;
    if (kind_ == DbKind::Postgres)
        sql = "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) SELECT " + values +
              " FROM generate_series(1, " + std::to_string(count) + ")";
    else
        sql = "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " + std::to_string(count) +
              ") INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) SELECT " +
              values + " FROM n";
    Exec(sql);
    return MaxEventNr();
}

void TestDatabase::WriteSettings() const {
    modRegistry::CreateProgramKey();
    modRegistry::SetSetting("Server", server_);
    modRegistry::SetSetting("Trusted_Connection", "No");
    if (kind_ == DbKind::Postgres) {
        modCrypt::SetPassphrase();
        modRegistry::SetSetting("Username", modCrypt::ProtectValue("USR", user_));
        modRegistry::SetSetting("Password", modCrypt::ProtectValue("PWD", password_));
    }
}

void TestDatabase::StopServer() {
    if (!running_) return;
    if (kind_ == DbKind::Sqlite) {
        std::filesystem::rename(sqliteFile_, sqliteFile_ + ".away");
    } else {
        if (!options_.ownServer)
            throw std::runtime_error("stopping PostgreSQL needs a test database with a server of its own");
        CloseWriter();
        RunOrThrow("bash " + ShellQuote(SourceDir() + "/scripts/pg-test-env.sh") + " pause " + ShellQuote(pgDir_));
    }
    running_ = false;
}

void TestDatabase::StartServer() {
    if (running_) return;
    if (kind_ == DbKind::Sqlite) {
        std::filesystem::rename(sqliteFile_ + ".away", sqliteFile_);
    } else {
        RunOrThrow("bash " + ShellQuote(SourceDir() + "/scripts/pg-test-env.sh") + " resume " +
                   ShellQuote(pgDir_));
        OpenWriter();
    }
    running_ = true;
}

void DbTest::SetUp() {
    TELWICK_SKIP_UNLESS_DB(GetParam());
    if (GetParam() == DbKind::Postgres && DatabaseOptions().ownServer && !OwnPostgresAvailable())
        GTEST_SKIP() << OwnPostgresSkipReason();
    hive_ = std::make_unique<ScopedHive>();
    db_ = std::make_unique<TestDatabase>(GetParam(), DatabaseOptions());
}

void DbTest::TearDown() {
    db_.reset();
    hive_.reset();
}

}  // namespace telwick::test
