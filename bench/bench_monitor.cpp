// What the monitor engine costs:
//   Window100k   one check over 100,000 matching events with the event-log
//                action to a bound socket (a thread drains it), beside reading
//                the same query's rows alone and the bare read plus one
//                datagram per event (the physical limit of this work);
//   Tick100      one tick's worth of checks of 100 monitors with no new events,
//                on SQLite and (with TELWICK_PG_DSN set) on PostgreSQL, beside
//                the same statements on one open connection, and the logins;
//   CheckAsTheTableGrows  one check with 100 new events as t_eventLog grows;
//   PeakRss1M    the peak resident memory of a check over 1,000,000 events, in
//                a process of its own;
//   ParseValue   a record field and fields of a 100 KB parameter list;
//   KeepPositions100  the positions of 100 monitors kept in the hive at the
//                end of a tick (Resume on): every monitor moved (one hive
//                transaction of 100 values), and none moved (no write).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "database/backend.h"
#include "database/adodb.h"
#include "database/modDatabase.h"
#include "monitor/clsMonitor.h"
#include "monitor/modMain.h"
#include "monitor/positions.h"
#include "platform/syslog.h"
#include "settings/crypt.h"
#include "settings/registry.h"
#include "settings/settings.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "bench_monitor: %s\n", what.c_str());
    std::exit(2);
}

std::string SourceDir() {
    if (const char* s = std::getenv("TELWICK_SOURCE_DIR")) return s;
    return fs::path(__FILE__).parent_path().parent_path().string();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string MakeTempDir() {
    std::string tmpl = (fs::temp_directory_path() / "telwick-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) Die("mkdtemp");
    chmod(tmpl.c_str(), 0755);
    return tmpl;
}

// A system logger on a socket of its own, drained by a thread.
class DrainedSocket {
public:
    explicit DrainedSocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) Die("bind " + path);
        timeval tv{0, 100000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        reader_ = std::thread([this] {
            char buf[70000];
            while (!stop_)
                if (recv(fd_, buf, sizeof(buf), 0) >= 0) received_.fetch_add(1, std::memory_order_relaxed);
        });
    }
    ~DrainedSocket() {
        stop_ = true;
        reader_.join();
        close(fd_);
        unlink(path_.c_str());
    }
    int64_t received() const { return received_.load(); }

private:
    std::string path_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> received_{0};
    std::thread reader_;
};

// A Corvane database to read from: a SQLite file, or a schema of its own on the
// private PostgreSQL (reached through a data source that sees only it).
class BenchDatabase {
public:
    enum class Kind { Sqlite, Postgres };

    BenchDatabase(Kind kind, const std::string& dir)
        : kind_(kind) {
        ++count_;
        if (kind == Kind::Sqlite) {
            server_ = dir + "/corvane.db";
            try {
                writer_ = telwick::db::detail::OpenSqliteFile(server_, true);
            } catch (const telwick::db::detail::DriverError& e) {
                Die("sqlite: " + e.driverText());
            }
            // The collector keeps writing while a check reads.
            Exec("PRAGMA journal_mode=WAL");
            RunScript(SourceDir() + "/schema/sqlite.sql");
        } else {
            const std::string id = std::to_string(getpid()) + "_" + std::to_string(count_);
            schema_ = "bench_" + id;
            try {
                writer_ = telwick::db::detail::OpenOdbc("DRIVER={PostgreSQL Unicode};SERVER=" + Env("TELWICK_PG_HOST") +
                                                            ";PORT=" + Env("TELWICK_PG_PORT") +
                                                            ";DATABASE=" + Env("TELWICK_PG_DATABASE") +
                                                            ";SSLMODE=disable",
                                                        Env("TELWICK_PG_USER"), Env("TELWICK_PG_PASSWORD"));
            } catch (const telwick::db::detail::DriverError& e) {
                Die("postgres: " + e.driverText());
            }
            Exec("CREATE SCHEMA " + schema_);
            Exec("SET search_path TO " + schema_);
            RunScript(SourceDir() + "/schema/postgresql.sql");
            server_ = "corvane_" + id;
            std::ofstream(dir + "/odbc.ini")
                << "[" << server_ << "]\nDriver = PostgreSQL Unicode\nServername = " << Env("TELWICK_PG_HOST")
                << "\nPort = " << Env("TELWICK_PG_PORT") << "\nDatabase = " << Env("TELWICK_PG_DATABASE")
                << "\nSSLMode = disable\nUseDeclareFetch = 1\nFetch = 1000\n"
                << "ConnSettings = SET search_path TO " << schema_ << "\n";
            setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
        }
        Exec(
            "INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) "
            "VALUES (1, 17, 1, 'Disk %1 is %2% full')");
    }
    ~BenchDatabase() {
        if (kind_ == Kind::Postgres) {
            try {
                Exec("DROP SCHEMA " + schema_ + " CASCADE");
            } catch (...) {
            }
        }
        writer_.reset();
    }

    // Server, Trusted_Connection and the login into the current hive.
    void WriteSettings() const {
        modRegistry::CreateProgramKey();
        modRegistry::SetSetting("Server", server_);
        modRegistry::SetSetting("Trusted_Connection", "No");
        modRegistry::SetSetting("Language", "1");
        if (kind_ == Kind::Postgres) {
            modCrypt::SetPassphrase();
            modRegistry::SetSetting("Username", modCrypt::ProtectValue("USR", Env("TELWICK_PG_USER")));
            modRegistry::SetSetting("Password", modCrypt::ProtectValue("PWD", Env("TELWICK_PG_PASSWORD")));
        }
    }

    void Exec(const std::string& sql) {
        try {
            writer_->Execute(sql);
        } catch (const telwick::db::detail::DriverError& e) {
            Die(sql.substr(0, 80) + ": " + e.driverText());
        }
    }

    // count events of computer 3, type 1, level 5, message 1, "C:;95".
    void AddEvents(int64_t count) {
        const std::string values = "3, 1, 5, 1, 'C:;95'";
        if (kind_ == Kind::Postgres)
            Exec("INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) SELECT " +
                 values + " FROM generate_series(1, " + std::to_string(count) + ")");
        else
            Exec("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                 std::to_string(count) +
                 ") INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) SELECT " +
                 values + " FROM n");
    }

    // count events of other computers and kinds, generated by the database itself.
    void AddOtherEvents(int64_t count) {
        if (count <= 0) return;
        const std::string values = "x % 50 + 10, x % 4 + 1, x % 5 + 1, 1, 'D:;' || x";
        if (kind_ == Kind::Postgres)
            Exec("INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) SELECT " +
                 values + " FROM generate_series(1, " + std::to_string(count) + ") AS x");
        else
            Exec("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                 std::to_string(count) +
                 ") INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) SELECT " +
                 values + " FROM n");
    }

    // All rows of the first column, one a line.
    std::string QueryText(const std::string& sql) {
        using telwick::db::detail::Value;
        std::string out;
        try {
            auto cursor = writer_->Query(sql);
            while (cursor->Next()) {
                for (int i = 0; i < cursor->Columns(); ++i) {
                    const Value& v = cursor->Get(i);
                    out += (v.kind == Value::Kind::Integer ? std::to_string(v.integer)
                            : v.kind == Value::Kind::Real  ? std::to_string(v.real)
                                                           : v.text) +
                           " ";
                }
                out += "\n";
            }
        } catch (const telwick::db::detail::DriverError& e) {
            Die(sql.substr(0, 80) + ": " + e.driverText());
        }
        return out;
    }

    int64_t MaxEventNr() {
        const std::string max = QueryText("SELECT MAX(eventlognr) FROM t_eventLog");
        return std::atoll(max.c_str());
    }

private:
    static std::string Env(const char* name) {
        const char* v = std::getenv(name);
        return v ? v : "";
    }
    void RunScript(const std::string& path) {
        // Statements end with ";" at a line end; comments start with "--".
        std::istringstream in(ReadFile(path));
        std::string statement;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("--", 0) == 0) continue;
            statement += line + "\n";
            if (!line.empty() && line.back() == ';') {
                Exec(statement);
                statement.clear();
            }
        }
    }

    Kind kind_;
    std::string server_, schema_;
    std::unique_ptr<telwick::db::detail::Session> writer_;
    static inline int count_ = 0;
};

// A private hive, a private database and a drained system-log socket.
struct Setup {
    explicit Setup(BenchDatabase::Kind kind) : dir(MakeTempDir()) {
        setenv("TELWICK_REGISTRY", (dir + "/registry.db").c_str(), 1);
        setenv("TELWICK_SYSLOG_SOCKET", (dir + "/log.sock").c_str(), 1);
        log = std::make_unique<DrainedSocket>(dir + "/log.sock");
        db = std::make_unique<BenchDatabase>(kind, dir);
        db->WriteSettings();
        modDatabase::Reset();
        modSettings::ResetLanguageCache();
    }
    ~Setup() {
        modMain::Monitors.clear();
        modDatabase::Reset();
        db.reset();
        log.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string dir;
    std::unique_ptr<DrainedSocket> log;
    std::unique_ptr<BenchDatabase> db;
};

bool PostgresThere() { return std::getenv("TELWICK_PG_DSN") != nullptr; }

std::string WindowQuery(int64_t above, int64_t upTo) {
    return "SELECT EVL.*, DES.description AS message FROM t_eventLog AS EVL INNER JOIN t_description AS DES ON "
           "EVL.messagenr = DES.descriptionnr AND DES.descriptiontypenr = 17 AND DES.lang = 1 WHERE 1=1 AND "
           "eventlognr > " +
           std::to_string(above) + " AND eventlognr <= " + std::to_string(upTo) + " ORDER BY eventlognr ";
}

// Reads the window's rows as a check does, optionally sending one datagram
// of the size of an entry per row; returns the rows read.
int64_t ReadWindow(int64_t above, int64_t upTo, int socketFd, const std::string& datagram) {
    telwick::db::Recordset rs;
    rs.Open(WindowQuery(above, upTo), modDatabase::GetConnection());
    int64_t rows = 0;
    for (; !rs.EOF_(); rs.MoveNext(), ++rows) {
        benchmark::DoNotOptimize(rs.Integer("eventlognr"));
        benchmark::DoNotOptimize(rs.Text("message"));
        benchmark::DoNotOptimize(rs.Text("parameter"));
        if (socketFd < 0) continue;
        while (send(socketFd, datagram.data(), datagram.size(), MSG_NOSIGNAL) < 0) {
            if (errno != EAGAIN) Die("send");
            pollfd p{socketFd, POLLOUT, 0};
            poll(&p, 1, 2000);
        }
    }
    rs.Close();
    modDatabase::CloseSharedConnection();
    return rows;
}

int ConnectedSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) Die("connect");
    return fd;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void BM_Window100k(benchmark::State& state) {
    constexpr int64_t Events = 100000;
    Setup setup(BenchDatabase::Kind::Sqlite);
    const int fd = ConnectedSocket(setup.dir + "/log.sock");
    // An entry as the check writes it: header and the filled message.
    const std::string datagram = "<30>1 2026-01-01T00:00:00.000000Z host Telwick 12345 110 - Disk C: is 95% full";
    double check = 0, read = 0, limit = 0;
    for (auto _ : state) {
        setup.db->Exec("DELETE FROM t_eventLog");
        auto monitor = std::make_unique<clsMonitor>();  // starts at 0 on the empty table
        monitor->setWriteEventLog(true);
        setup.db->AddEvents(Events);
        const int64_t newest = setup.db->MaxEventNr();

        auto t0 = Clock::now();
        if (ReadWindow(newest - Events, newest, -1, datagram) != Events) Die("read");
        read += Seconds(t0);

        t0 = Clock::now();
        if (ReadWindow(newest - Events, newest, fd, datagram) != Events) Die("read + send");
        limit += Seconds(t0);

        const int64_t before = setup.log->received();
        t0 = Clock::now();
        monitor->Check();
        const double took = Seconds(t0);
        check += took;
        state.SetIterationTime(took);
        if (monitor->lastEventLogNr() != newest) Die("the check did not reach the newest event");
        // Every entry was sent (the drain thread may still be reading the last).
        for (int i = 0; i < 200 && setup.log->received() - before < Events; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (setup.log->received() - before < Events) Die("entries missing");
    }
    close(fd);
    const double n = static_cast<double>(state.iterations()) * Events;
    state.counters["check_ev_per_s"] = n / check;
    state.counters["read_ev_per_s"] = n / read;
    state.counters["limit_ev_per_s"] = n / limit;
    state.counters["check_vs_read"] = read / check;
    state.counters["check_vs_limit"] = limit / check;
}
BENCHMARK(BM_Window100k)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The statements of one tick's checks (no new events) on one connection that
// stays open: what the tick would cost if no check ever logged in.
void TickOnOneConnection(telwick::db::Connection& c) {
    for (auto& m : modMain::Monitors) {
        c.Execute("SELECT GetDate() ");
        telwick::db::Recordset rs;
        rs.Open("SELECT MAX(eventlognr) FROM t_eventLog", &c);
        const auto newest = rs.Integer(0);
        rs.Close();
        c.Execute("SELECT GetDate() ");
        rs.Open(m->BuildQuery(static_cast<decltype(m->lastEventLogNr())>(newest)), &c);
        while (!rs.EOF_()) rs.MoveNext();
        rs.Close();
    }
}

// Args: PostgreSQL (1) or SQLite (0); the server session kept between checks
// (1) or not (0, every check logs in).
void BM_Tick100(benchmark::State& state) {
    const auto kind = state.range(0) ? BenchDatabase::Kind::Postgres : BenchDatabase::Kind::Sqlite;
    if (kind == BenchDatabase::Kind::Postgres && !PostgresThere()) {
        state.SkipWithError("no PostgreSQL (TELWICK_PG_DSN not set)");
        return;
    }
    namespace keep = telwick::db::keep;
    const auto keepTime = keep::IdleTime();
    if (!state.range(1)) keep::SetIdleTime(std::chrono::milliseconds(0));
    Setup setup(kind);
    setup.db->AddEvents(10);
    for (int i = 0; i < 100; ++i)
        modRegistry::SetSetting("config" + std::to_string(i),
                                std::to_string(i % 5 + 1) + ";;" + std::to_string(i % 3 + 1) + ";1;1;0;;");
    // The logins from the loading of the monitors to the last tick.
    const uint64_t loginsBefore = keep::PhysicalOpens();
    modMain::LoadMonitorings();
    if (modMain::Monitors.size() != 100) Die("monitors not loaded");
    telwick::db::Connection one;
    const uint64_t beforeOne = keep::PhysicalOpens();
    one.Open(modDatabase::BuildConnectionString(modDatabase::DBServer, modDatabase::Catalogue, false),
             modDatabase::DBUsername, modDatabase::DBPassword);
    const uint64_t oneLogins = keep::PhysicalOpens() - beforeOne;
    double ticks = 0, onOne = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (auto& m : modMain::Monitors) m->Check();
        const double took = Seconds(t0);
        ticks += took;
        state.SetIterationTime(took);
        t0 = Clock::now();
        TickOnOneConnection(one);
        onOne += Seconds(t0);
    }
    const uint64_t logins = keep::PhysicalOpens() - loginsBefore - oneLogins;
    one.Close();
    keep::SetIdleTime(keepTime);
    state.counters["vs_one_connection"] = ticks / onOne;
    state.counters["one_connection_ms"] = 1000.0 * onOne / static_cast<double>(state.iterations());
    // Server logins for loading the 100 monitors and running the ticks.
    state.counters["logins_load_and_ticks"] = static_cast<double>(logins);
}
BENCHMARK(BM_Tick100)
    ->ArgNames({"pg", "keep"})
    ->Args({0, 1})
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tick100)
    ->ArgNames({"pg", "keep"})
    ->Args({1, 0})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tick100)
    ->ArgNames({"pg", "keep"})
    ->Args({1, 1})
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// --- one check as the event table grows ------------------------------------------

// Whether the database reads the window through the key of t_eventLog.
bool WindowUsesTheKey(BenchDatabase& db, BenchDatabase::Kind kind, const std::string& query) {
    const std::string plan =
        db.QueryText(kind == BenchDatabase::Kind::Postgres ? "EXPLAIN " + query : "EXPLAIN QUERY PLAN " + query);
    return plan.find(kind == BenchDatabase::Kind::Postgres ? "t_eventlog_pkey" : "INTEGER PRIMARY KEY") !=
           std::string::npos;
}

// One check with 100 new events (event-log action on) while t_eventLog holds
// 10^4, 10^5, 10^6 and 10^7 rows (TELWICK_BENCH_SCALE_ROWS lowers the top; the
// 10^7 rows take about 10 s to make on SQLite and 25 s on PostgreSQL): the time
// of each size and its ratio to the smallest, in one run.
void BM_CheckAsTheTableGrows(benchmark::State& state) {
    const auto kind = state.range(0) ? BenchDatabase::Kind::Postgres : BenchDatabase::Kind::Sqlite;
    if (kind == BenchDatabase::Kind::Postgres && !PostgresThere()) {
        state.SkipWithError("no PostgreSQL (TELWICK_PG_DSN not set)");
        return;
    }
    int64_t maxRows = 10000000;
    if (const char* v = std::getenv("TELWICK_BENCH_SCALE_ROWS")) maxRows = std::max<int64_t>(10000, std::atoll(v));
    constexpr int Repeats = 9;
    Setup setup(kind);
    for (auto _ : state) {
        int64_t rows = 0;
        double smallest = 0;
        bool keyUsed = true;
        for (int64_t size = 10000; size <= maxRows; size *= 10) {
            const auto f0 = Clock::now();
            setup.db->AddOtherEvents(size - rows);
            // The statistics a server keeps up to date by itself (autovacuum).
            if (kind == BenchDatabase::Kind::Postgres) setup.db->Exec("ANALYZE t_eventLog");
            const double fill = Seconds(f0);
            rows = size;
            auto monitor = std::make_unique<clsMonitor>();  // starts at the newest event
            monitor->setComputerNr(3);
            monitor->setEventLevelNr(5);
            monitor->setWriteEventLog(true);
            // The first check warms the caches of a new server session; the
            // median of the others counts.
            std::vector<double> took;
            for (int r = 0; r <= Repeats; ++r) {
                setup.db->AddEvents(100);
                rows += 100;
                const int64_t newest = setup.db->MaxEventNr();
                const int64_t before = setup.log->received();
                const auto t0 = Clock::now();
                monitor->Check();
                if (r > 0) took.push_back(Seconds(t0));
                if (monitor->lastEventLogNr() != newest) Die("the check did not reach the newest event");
                for (int i = 0; i < 200 && setup.log->received() - before < 100; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (setup.log->received() - before != 100) Die("not 100 entries");
            }
            keyUsed = keyUsed && WindowUsesTheKey(*setup.db, kind, monitor->BuildQuery(monitor->lastEventLogNr()));
            std::sort(took.begin(), took.end());
            const double ms = 1000.0 * took[took.size() / 2];
            if (size == 10000) smallest = ms;
            std::string exp = "1e" + std::to_string(static_cast<int>(std::lround(std::log10(size))));
            state.counters["check_ms_" + exp] = ms;
            state.counters["vs_smallest_" + exp] = ms / smallest;
            state.counters["fill_s_" + exp] = fill;
        }
        state.counters["window_uses_key"] = keyUsed ? 1 : 0;
    }
}
BENCHMARK(BM_CheckAsTheTableGrows)->ArgName("pg")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// --- peak memory, in a process of its own ------------------------------------

int64_t StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::atoll(line.c_str() + std::strlen(field));
    return -1;
}

// The child: one check over a window of 1,000,000 events with the event-log
// action; prints the resident memory before and the peak during the check.
int RssChild(BenchDatabase::Kind kind) {
    constexpr int64_t Events = 1000000;
    Setup setup(kind);
    auto monitor = std::make_unique<clsMonitor>();
    monitor->setWriteEventLog(true);
    setup.db->AddEvents(Events);
    const int64_t newest = setup.db->MaxEventNr();
    // From here on only the check counts: reset the high-water mark.
    std::ofstream("/proc/self/clear_refs") << "5";
    const int64_t before = StatusKiB("VmRSS:");
    monitor->Check();
    const int64_t peak = StatusKiB("VmHWM:");
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    if (monitor->lastEventLogNr() != newest) Die("the check did not reach the newest event");
    std::printf("%lld %lld %ld\n", static_cast<long long>(before), static_cast<long long>(peak), ru.ru_maxrss);
    return 0;
}

void PeakRss(benchmark::State& state, const char* kind) {
    if (std::string(kind) == "postgres" && !PostgresThere()) {
        state.SkipWithError("no PostgreSQL (TELWICK_PG_DSN not set)");
        return;
    }
    long long before = 0, peak = 0, maxrss = 0;
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) Die("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        const std::string arg = std::string("--rss-child=") + kind;
        char* argv[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>(arg.c_str()), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, environ) != 0) Die("spawn");
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        std::string out;
        char buf[256];
        for (ssize_t n; (n = read(pipeFds[0], buf, sizeof(buf))) > 0;) out.append(buf, static_cast<size_t>(n));
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            std::sscanf(out.c_str(), "%lld %lld %lld", &before, &peak, &maxrss) != 3) {
            state.SkipWithError("the measuring process failed");
            return;
        }
    }
    state.counters["rss_before_MiB"] = static_cast<double>(before) / 1024.0;
    state.counters["peak_in_check_MiB"] = static_cast<double>(peak) / 1024.0;
    state.counters["peak_process_MiB"] = static_cast<double>(maxrss) / 1024.0;
}
void BM_PeakRss1M_Sqlite(benchmark::State& state) { PeakRss(state, "sqlite"); }
void BM_PeakRss1M_Postgres(benchmark::State& state) { PeakRss(state, "postgres"); }
BENCHMARK(BM_PeakRss1M_Sqlite)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_PeakRss1M_Postgres)->Iterations(1)->Unit(benchmark::kSecond);

// One entry through the sink against one bare send of the same size.
void BM_EventLogEntry(benchmark::State& state) {
    const std::string dir = MakeTempDir();
    setenv("TELWICK_SYSLOG_SOCKET", (dir + "/log.sock").c_str(), 1);
    {
        DrainedSocket log(dir + "/log.sock");
        const std::string text = "Disk C: is 95% full";
        const int fd = state.range(0) ? ConnectedSocket(dir + "/log.sock") : -1;
        const std::string datagram = "<30>1 2026-01-01T00:00:00.000000Z host Telwick 12345 110 - " + text;
        for (auto _ : state) {
            if (fd < 0) {
                if (!telwick::platform::WriteEventLog(telwick::platform::EventInformation, 110, text))
                    Die("entry");
            } else {
                while (send(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL) < 0) {
                    pollfd p{fd, POLLOUT, 0};
                    poll(&p, 1, 2000);
                }
            }
        }
        if (fd >= 0) close(fd);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_EventLogEntry)->Arg(0)->Arg(1);  // through the sink, bare send

// --- the field splitter --------------------------------------------------------

void BM_ParseValue_Record(benchmark::State& state) {
    const std::string record = "12;;3;0;1;1;C:\\jobs\\a[trdoppu]b.bat;";
    for (auto _ : state) benchmark::DoNotOptimize(modMain::ParseValue(record, 7, ";"));
}
BENCHMARK(BM_ParseValue_Record);

void BM_ParseValue_100KB(benchmark::State& state) {
    std::string list;
    int fields = 0;
    while (list.size() < 100000) list += "parameter" + std::to_string(++fields) + ";";
    const int32_t index = state.range(0) == 0 ? 1 : fields;
    for (auto _ : state) benchmark::DoNotOptimize(modMain::ParseValue(list, index, ";"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(state.range(0) == 0 ? 12 : list.size()));
}
BENCHMARK(BM_ParseValue_100KB)->Arg(0)->Arg(1);  // the first field, the last one

// --- positions kept across a restart ----------------------------------------------

void BM_KeepPositions100(benchmark::State& state) {
    const std::string dir = MakeTempDir();
    setenv("TELWICK_REGISTRY", (dir + "/registry.db").c_str(), 1);
    modRegistry::CreateProgramKey();
    const bool moved = state.range(0) == 0;
    modPositions::Keeper keeper;
    std::vector<int64_t> covered;
    for (int i = 0; i < 100; ++i) {
        const std::string record =
            std::to_string(i) + ";;5;1;1;0;/opt/corvane/jobs/alert" + std::to_string(i) + ".sh;";
        keeper.Track("config" + std::to_string(i), record, std::nullopt);
        covered.push_back(4000000000LL + i * 1000);
    }
    if (!keeper.Save(covered)) Die("the hive refused the positions");
    for (auto _ : state) {
        if (moved)
            for (auto& c : covered) c += 17;
        if (!keeper.Save(covered)) Die("the hive refused the positions");
    }
    state.counters["values_per_tick"] = moved ? 100 : 0;
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_KeepPositions100)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);  // all moved, none moved

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rss-child=sqlite") return RssChild(BenchDatabase::Kind::Sqlite);
        if (a == "--rss-child=postgres") return RssChild(BenchDatabase::Kind::Postgres);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
