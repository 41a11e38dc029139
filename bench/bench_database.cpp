// What the data layer costs:
//   OpenProbeClose   one open of the shared kind of connection, the probe
//                    "SELECT GetDate() " and the close (what every check pays,
//                    since the connection is closed after each check), with the
//                    server session kept beneath the close and without;
//   Read1M           reading 1,000,000 rows (number + parameter text) through a
//                    forward-only recordset, beside the same rows read straight
//                    from the driver's cursor beneath it, and the peak resident
//                    memory the read added;
// on a SQLite file and, with TELWICK_PG_DSN set (scripts/pg-test-env.sh), on
// PostgreSQL through ODBC.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "database/adodb.h"
#include "database/backend.h"
#include "database/modDatabase.h"
#include "platform/fault.h"

namespace {

namespace fs = std::filesystem;
constexpr int64_t Rows = 1000000;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "bench_database: %s\n", what.c_str());
    std::exit(2);
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// kB from /proc/self/status.
long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return 0;
}

// Starts a new peak: the kernel sets the high-water mark back to the current size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Target {
    std::string text, user, password;
    std::string table;  // where the 1,000,000 rows are
    std::string file;   // the SQLite file, or empty: the data source of TELWICK_PG_DSN
};

// A session of the layer beneath the connection, on the same database.
std::unique_ptr<telwick::db::detail::Session> BareSession(const Target& t) {
    try {
        if (!t.file.empty()) return telwick::db::detail::OpenSqliteFile(t.file, false);
        return telwick::db::detail::OpenOdbc("DSN=" + Env("TELWICK_PG_DSN") + ";", t.user, t.password);
    } catch (const telwick::db::detail::DriverError& e) {
        Die(std::string(e.what()) + ": " + e.driverText());
    }
}

// A SQLite file with the rows, made once per run.
const Target& SqliteTarget() {
    static Target t = [] {
        const fs::path dir = fs::temp_directory_path() / ("telwick-bench-db-" + std::to_string(getpid()));
        fs::create_directories(dir);
        const std::string file = (dir / "corvane.db").string();
        sqlite3* db = nullptr;
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) Die("cannot create " + file);
        const std::string sql =
            "CREATE TABLE t_bench (eventlognr INTEGER PRIMARY KEY, parameter TEXT);"
            "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
            std::to_string(Rows) + ") INSERT INTO t_bench SELECT x, 'C:;' || x FROM n;";
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
        sqlite3_close(db);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::temp_directory_path() / ("telwick-bench-db-" + std::to_string(getpid())), ec);
        });
        return Target{modDatabase::BuildConnectionString(file, modDatabase::Catalogue, false), "", "", "t_bench",
                      file};
    }();
    return t;
}

// The rows in a table of the PostgreSQL test database, made once per run.
const Target* PostgresTarget() {
    static const Target* t = []() -> const Target* {
        if (Env("TELWICK_PG_DSN").empty()) return nullptr;
        static Target target;
        target.text = modDatabase::BuildConnectionString(Env("TELWICK_PG_DSN"), modDatabase::Catalogue, false);
        target.user = Env("TELWICK_PG_USER");
        target.password = Env("TELWICK_PG_PASSWORD");
        target.table = "bench_rows_" + std::to_string(getpid());
        static std::unique_ptr<telwick::db::detail::Session> writer = BareSession(target);
        try {
            writer->Execute("CREATE TABLE " + target.table +
                            " AS SELECT x AS eventlognr, 'C:;' || x AS parameter FROM generate_series(1, " +
                            std::to_string(Rows) + ") AS x");
        } catch (const telwick::db::detail::DriverError& e) {
            Die("PostgreSQL: " + e.driverText());
        }
        std::atexit([] {
            try {
                writer->Execute("DROP TABLE IF EXISTS bench_rows_" + std::to_string(getpid()));
            } catch (const telwick::db::detail::DriverError&) {
            }
            writer.reset();
        });
        return &target;
    }();
    return t;
}

const Target* TargetOf(int kind) { return kind == 0 ? &SqliteTarget() : PostgresTarget(); }

void OpenProbeClose(benchmark::State& state) {
    const Target* t = TargetOf(static_cast<int>(state.range(0)));
    if (!t) {
        state.SkipWithError("TELWICK_PG_DSN is not set");
        return;
    }
    namespace keep = telwick::db::keep;
    const auto keepTime = keep::IdleTime();
    if (!state.range(1)) keep::SetIdleTime(std::chrono::milliseconds(0));
    const uint64_t logins = keep::PhysicalOpens();
    for (auto _ : state) {
        telwick::db::Connection c;
        c.SetCursorLocation(telwick::db::adUseClient);
        c.Open(t->text, t->user, t->password);
        c.Execute("SELECT GetDate() ");
        c.Close();
    }
    state.counters["logins"] = static_cast<double>(keep::PhysicalOpens() - logins);
    keep::Drop();
    keep::SetIdleTime(keepTime);
}

void Read1M(benchmark::State& state) {
    const Target* t = TargetOf(static_cast<int>(state.range(0)));
    if (!t) {
        state.SkipWithError("TELWICK_PG_DSN is not set");
        return;
    }
    const bool bare = state.range(1) == 1;
    const std::string sql = "SELECT eventlognr, parameter FROM " + t->table + " ORDER BY eventlognr";
    telwick::db::Connection c;
    c.Open(t->text, t->user, t->password);
    long peakAddedKb = 0;
    for (auto _ : state) {
        const long before = StatusKb("VmRSS:");
        ResetPeak();
        int64_t rows = 0, sum = 0;
        if (bare) {
            auto session = BareSession(*t);
            auto cursor = session->Query(sql);
            while (cursor->Next()) {
                sum += cursor->Get(0).integer + static_cast<int64_t>(cursor->Get(1).text.size());
                ++rows;
            }
        } else {
            telwick::db::Recordset rs;
            rs.Open(sql, &c);
            for (; !rs.EOF_(); rs.MoveNext()) {
                sum += rs.Integer("eventlognr") + static_cast<int64_t>(rs.Text("parameter").size());
                ++rows;
            }
        }
        benchmark::DoNotOptimize(sum);
        if (rows != Rows) Die("read " + std::to_string(rows) + " rows");
        peakAddedKb = std::max(peakAddedKb, StatusKb("VmHWM:") - before);
    }
    state.SetItemsProcessed(state.iterations() * Rows);
    state.counters["peak_added_MiB"] = static_cast<double>(peakAddedKb) / 1024.0;
}

}  // namespace

// Args: kind (0 SQLite, 1 PostgreSQL), the server session kept beneath the close (1) or not (0).
BENCHMARK(OpenProbeClose)
    ->ArgNames({"pg", "keep"})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);
// Args: kind (0 SQLite, 1 PostgreSQL), the driver's bare cursor (1) or the recordset (0).
BENCHMARK(Read1M)
    ->ArgNames({"pg", "bare"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

BENCHMARK_MAIN();
