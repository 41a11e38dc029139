#include "reliability/harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "settings/registry.h"

namespace telwick::reliability {

namespace fs = std::filesystem;

// --- results ------------------------------------------------------------------

namespace {

std::string Clean(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

const std::string& RunStamp() {
    static const std::string stamp = std::to_string(std::time(nullptr)) + "-" + std::to_string(getpid());
    return stamp;
}

std::string CaseName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return "(none)";
    return std::string(info->test_suite_name()) + "." + info->name();
}

void AppendLine(const std::string& line) {
    const std::string path = ResultsPath();
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // One write per line, so that tests running side by side do not mix lines.
    ssize_t n = write(fd, line.data(), line.size());
    (void)n;
    close(fd);
}

class ResultsListener : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override {
        const auto* result = info.result();
        std::string verdict = result->Skipped() ? "skipped" : result->Passed() ? "pass" : "FAIL";
        AppendLine(RunStamp() + "\t" + info.test_suite_name() + "." + info.name() + "\tresult\t" + verdict + "\n");
    }
};

}  // namespace

std::string ResultsPath() {
    if (const char* out = std::getenv("TELWICK_RELIABILITY_OUT"); out && *out) return out;
    return BinaryDir() + "/reliability/results.tsv";
}

void Figure(const std::string& key, const std::string& value) {
    AppendLine(RunStamp() + "\t" + CaseName() + "\t" + Clean(key) + "\t" + Clean(value) + "\n");
}

void Figure(const std::string& key, double value) {
    std::ostringstream text;
    text.precision(3);
    text << std::fixed << value;
    std::string s = text.str();
    // Whole numbers without a fraction.
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    Figure(key, s);
}

void Describe(const std::string& what) { Figure("what", what); }
void Outcome(const std::string& what) { Figure("outcome", what); }

void InstallResultsListener() { ::testing::UnitTest::GetInstance()->listeners().Append(new ResultsListener); }

// --- small tools ----------------------------------------------------------------

std::string BinaryDir() {
    if (const char* dir = std::getenv("TELWICK_BINARY_DIR"); dir && *dir) return dir;
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string SourceDir() {
    if (const char* dir = std::getenv("TELWICK_SOURCE_DIR"); dir && *dir) return dir;
    return TELWICK_SOURCE_DIR;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    chmod(path.c_str(), mode);
}

std::vector<int> Join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds step) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(step);
    }
    return true;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// --- databases --------------------------------------------------------------------

void EventStore::SetMessage(int messagenr, const std::string* text) {
    Exec("DELETE FROM t_description WHERE descriptiontypenr = 17 AND lang = 1 AND descriptionnr = " +
         std::to_string(messagenr));
    Exec("INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) VALUES (" +
         std::to_string(messagenr) + ", 17, 1, " + (text ? Quote(*text) : std::string("NULL")) + ")");
}

std::string EventStore::Quote(const std::string& text) const {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

SqliteStore::SqliteStore(const std::string& path) : path_(path) {
    Exec(ReadFile(SourceDir() + "/schema/sqlite.sql"));
    const std::string text = "Event %1";
    SetMessage(900, &text);
}

void SqliteStore::Exec(const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path_);
    sqlite3_busy_timeout(db, 10000);
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error("sqlite: " + message + " in " + sql.substr(0, 200));
}

int SqliteStore::AddEvent(int messagenr, const std::string* parameter) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path_);
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) "
                       "VALUES (1, 1, 1, ?, ?)",
                       -1, &st, nullptr);
    sqlite3_bind_int(st, 1, messagenr);
    if (parameter)
        sqlite3_bind_text(st, 2, parameter->data(), static_cast<int>(parameter->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(st, 2);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    int nr = static_cast<int>(sqlite3_last_insert_rowid(db));
    sqlite3_close(db);
    if (rc != SQLITE_DONE) throw std::runtime_error("insert failed");
    return nr;
}

std::vector<int> SqliteStore::AddNumbered(int count) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path_);
    sqlite3_busy_timeout(db, 10000);
    // The number and the parameter that repeats it appear together.
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT COALESCE(MAX(eventlognr), 0) FROM t_eventLog", -1, &st, nullptr);
    sqlite3_step(st);
    int base = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_prepare_v2(
        db,
        "INSERT INTO t_eventLog (eventlognr, computernr, eventtypenr, levelnr, messagenr, parameter) "
        "VALUES (?, 1, 1, 1, 900, ?)",
        -1, &st, nullptr);
    std::vector<int> numbers;
    for (int i = 1; i <= count; ++i) {
        const std::string text = std::to_string(base + i);
        sqlite3_bind_int(st, 1, base + i);
        sqlite3_bind_text(st, 2, text.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error("insert failed");
        sqlite3_reset(st);
        numbers.push_back(base + i);
    }
    sqlite3_finalize(st);
    int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error("commit failed");
    return numbers;
}

bool PgAvailable() {
    return fs::exists("/usr/lib/postgresql/15/bin/initdb") && fs::exists(SourceDir() + "/scripts/pg-test-env.sh");
}

PgStore::PgStore(const std::string& dir) : dir_(dir) {
    std::string output;
    if (RunProgram({"bash", SourceDir() + "/scripts/pg-test-env.sh", "start", dir_}, &output) != 0)
        throw std::runtime_error("PostgreSQL did not start: " + output);
    started_ = true;
    std::istringstream env(ReadFile(dir_ + "/env"));
    std::string line;
    std::map<std::string, std::string> vars;
    while (std::getline(env, line)) {
        if (line.rfind("export ", 0) != 0) continue;
        auto eq = line.find('=');
        std::string name = line.substr(7, eq - 7);
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
        vars[name] = value;
    }
    dsn_ = vars["TELWICK_PG_DSN"];
    user_ = vars["TELWICK_PG_USER"];
    database_ = vars.count("TELWICK_PG_DATABASE") ? vars["TELWICK_PG_DATABASE"] : "corvane";
    password_ = vars["TELWICK_PG_PASSWORD"];
    env_["ODBCINI"] = vars["ODBCINI"];
    if (vars.count("ODBCSYSINI")) env_["ODBCSYSINI"] = vars["ODBCSYSINI"];
    const std::string text = "Event %1";
    SetMessage(900, &text);
}

PgStore::~PgStore() {
    if (started_) RunProgram({"bash", SourceDir() + "/scripts/pg-test-env.sh", "stop", dir_});
}

std::string PgStore::Query(const std::string& sql, bool asOwner) {
    std::string port = ReadFile(dir_ + "/port");
    while (!port.empty() && (port.back() == '\n' || port.back() == ' ')) port.pop_back();
    std::string output;
    std::vector<std::string> cmd = {"psql",        "-X", "-q", "-t", "-A",       "-v", "ON_ERROR_STOP=1", "-h",
                                    dir_ + "/run", "-p", port, "-U", "postgres", "-d", database_};
    if (asOwner) cmd.insert(cmd.end(), {"-c", "SET ROLE " + (user_.empty() ? std::string("telwick") : user_)});
    cmd.insert(cmd.end(), {"-c", sql});
    int rc = RunProgram(cmd, &output);
    if (rc != 0) throw std::runtime_error("psql: " + output + " in " + sql.substr(0, 200));
    return output;
}

void PgStore::Exec(const std::string& sql) { Query(sql); }

std::string PgStore::Admin(const std::string& sql) { return Query(sql, false); }

std::vector<int> PgStore::AddNumbered(int count) {
    std::string out = Query(
        "INSERT INTO t_eventLog (eventlognr, computernr, eventtypenr, levelnr, messagenr, parameter) "
        "SELECT v, 1, 1, 1, 900, v::text FROM (SELECT nextval(pg_get_serial_sequence('t_eventlog', 'eventlognr')) "
        "AS v FROM generate_series(1, " +
        std::to_string(count) + ")) s RETURNING eventlognr");
    std::vector<int> numbers;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) numbers.push_back(std::stoi(line));
    return numbers;
}

int PgStore::AddEvent(int messagenr, const std::string* parameter) {
    std::string out = Query(
        "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) "
        "VALUES (1, 1, 1, " +
        std::to_string(messagenr) + ", " + (parameter ? Quote(*parameter) : std::string("NULL")) +
        ") RETURNING eventlognr");
    return std::stoi(out);
}

void PgStore::Pause() {
    if (RunProgram({"bash", SourceDir() + "/scripts/pg-test-env.sh", "pause", dir_}) != 0)
        throw std::runtime_error("PostgreSQL did not stop");
}

void PgStore::Resume() {
    if (RunProgram({"bash", SourceDir() + "/scripts/pg-test-env.sh", "resume", dir_}) != 0)
        throw std::runtime_error("PostgreSQL did not start again");
}

void PgStore::KillNow() {
    std::vector<std::string> cmd = {
        "/usr/lib/postgresql/15/bin/pg_ctl", "-D", dir_ + "/data", "-m", "immediate", "-w", "stop"};
    if (geteuid() == 0) cmd.insert(cmd.begin(), {"runuser", "-u", "postgres", "--"});
    RunProgram(cmd);
}

// --- the system log -------------------------------------------------------------------

LogReceiver::LogReceiver(const std::string& path) : collector_(path) {
    // The service may run as another user (root tests): anyone may send.
    chmod(path.c_str(), 0666);
}

std::vector<std::string> LogReceiver::Messages(const std::string& msgid) const {
    std::vector<std::string> out;
    for (const auto& d : All())
        if (test::SyslogReceiver::MsgIdOf(d) == msgid) out.push_back(test::SyslogReceiver::MessageOf(d));
    return out;
}

size_t LogReceiver::Count(const std::string& msgid) const { return Messages(msgid).size(); }

size_t LogReceiver::Total() const { return All().size(); }

std::vector<std::string> LogReceiver::All() const { return collector_.Datagrams(); }

// --- the service ---------------------------------------------------------------------------

Service::Service(Sandbox& sandbox) : sandbox_(sandbox) {}

Service::~Service() = default;

void Service::Start(const std::vector<std::string>& args) {
    std::vector<std::string> argv = sandbox_.launcher();
    argv.push_back(TELWICK_SERVICE_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    if (!notify_) notify_ = std::make_unique<test::DatagramListener>(sandbox_.file("notify.sock"));
    test::ChildOptions options;
    options.environment = sandbox_.Environment();
    options.environment.push_back("NOTIFY_SOCKET=" + notify_->path());
    options.stdoutFile = sandbox_.file("service.out");
    options.stderrFile = sandbox_.file("service.err");
    options.append = true;
    options.stderrToClosedPipe = closedStderr_;
    // The service (and every batch program it starts) works in the sandbox.
    options.workdir = sandbox_.dir();
    child_.reset();
    child_ = std::make_unique<test::ChildProcess>(argv, options);
    pid_ = child_->pid();
}

bool Service::WaitReady(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (!Running()) return false;
        auto message = notify_->Receive(50ms);
        if (message && message->find("READY=1") != std::string::npos) return true;
    }
    return false;
}

std::string Service::WaitNotify(const std::string& text, std::chrono::milliseconds limit) {
    if (!notify_) return {};
    return notify_->WaitForText(text, limit).value_or("");
}

void Service::StartReady(const std::vector<std::string>& args) {
    Start(args);
    ASSERT_TRUE(WaitReady()) << "the service did not become ready; its standard error:\n" << Stderr();
}

bool Service::Running() { return child_ && child_->Running(); }

int Service::Wait(std::chrono::milliseconds limit) { return child_ ? child_->Wait(limit) : -1; }

void Service::Signal(int sig) {
    if (child_) child_->Signal(sig);
}

int Service::Stop(std::chrono::milliseconds limit) {
    if (!Running()) return Wait(0ms);
    Signal(SIGTERM);
    int status = Wait(limit);
    if (status == -1) {
        Signal(SIGKILL);
        Wait(5s);
        return -1;
    }
    return status;
}

std::string Service::Stderr() const { return ReadFile(sandbox_.file("service.err")); }

namespace {

// The fields of /proc/PID/stat after the command name: state is [0].
std::vector<std::string> StatFields(pid_t pid) {
    std::string text = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = text.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream in(text.substr(close + 2));
    std::string f;
    while (in >> f) fields.push_back(f);
    return fields;
}

long StatusKiB(pid_t pid, const std::string& key) {
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
    return -1;
}

}  // namespace

double Service::CpuSeconds() const {
    auto f = StatFields(pid_);
    if (f.size() < 13) return -1;
    // utime and stime are fields 14 and 15 of the line, [11] and [12] here.
    return static_cast<double>(std::stoll(f[11]) + std::stoll(f[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long Service::PeakRssKiB() const { return StatusKiB(pid_, "VmHWM"); }
long Service::RssKiB() const { return StatusKiB(pid_, "VmRSS"); }

std::vector<pid_t> Service::Children() const {
    std::vector<pid_t> out;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        auto f = StatFields(std::stoi(name));
        if (f.size() > 1 && std::stoi(f[1]) == pid_) out.push_back(std::stoi(name));
    }
    return out;
}

std::vector<pid_t> Service::Zombies() const {
    std::vector<pid_t> out;
    for (pid_t child : Children()) {
        auto f = StatFields(child);
        if (!f.empty() && f[0] == "Z") out.push_back(child);
    }
    return out;
}

std::string Service::Cmdline() const { return ReadFile("/proc/" + std::to_string(pid_) + "/cmdline"); }
std::string Service::Environ() const { return ReadFile("/proc/" + std::to_string(pid_) + "/environ"); }

// --- the sandbox ------------------------------------------------------------------------------

Sandbox::Sandbox() {
    // The private PostgreSQL runs as user postgres and needs to reach the folder.
    chmod(dir_.path().c_str(), 0755);
    hive_ = file("registry.db");
    if (const char* old = std::getenv("TELWICK_REGISTRY")) oldRegistry_ = old;
    setenv("TELWICK_REGISTRY", hive_.c_str(), 1);
    fs::create_directories(file("xdg"));
    chmod(file("xdg").c_str(), 0700);
    env_["TELWICK_REGISTRY"] = hive_;
    env_["TELWICK_SYSLOG_SOCKET"] = logSocket();
    env_["XDG_RUNTIME_DIR"] = file("xdg");
    env_["QT_QPA_PLATFORM"] = "offscreen";
    env_["TELWICK_PROBE_OUT"] = probeOut();
    env_["HOME"] = dir();
}

Sandbox::~Sandbox() {
    // Probes that were told to hang have left their numbers.
    std::istringstream pids(ReadFile(probeOut() + ".pids"));
    pid_t pid;
    while (pids >> pid) kill(pid, SIGKILL);
    log_.reset();
    if (oldRegistry_.empty())
        unsetenv("TELWICK_REGISTRY");
    else
        setenv("TELWICK_REGISTRY", oldRegistry_.c_str(), 1);
}

LogReceiver& Sandbox::log() {
    if (!log_) log_ = std::make_unique<LogReceiver>(logSocket());
    return *log_;
}

void Sandbox::DropLog() { log_.reset(); }

void Sandbox::Set(const std::string& name, const std::string& value) {
    modRegistry::CreateProgramKey();
    if (!modRegistry::SetSetting(name, value)) throw std::runtime_error("cannot write " + name);
}

void Sandbox::Configure(const std::string& server, const std::vector<std::string>& records, int intervalMs) {
    Set("Server", server);
    Set("Checkinterval", std::to_string(intervalMs));
    Set("Language", "1");
    for (size_t i = 0; i < records.size(); ++i) Set("config" + std::to_string(i), records[i]);
}

std::string Sandbox::Record(bool msgBox, bool eventLog, bool batch, const std::string& batchFile) {
    std::string escaped;
    for (char c : batchFile) escaped += c == ';' ? std::string("[trdoppu]") : std::string(1, c);
    auto flag = [](bool on) { return on ? std::string("1") : std::string("0"); };
    return ";;;" + flag(msgBox) + ";" + flag(eventLog) + ";" + flag(batch) + ";" + escaped + ";";
}

std::string Sandbox::ProbePath() { return TELWICK_PROBE_PATH; }

std::vector<std::vector<std::string>> Sandbox::ProbeRuns() const {
    std::vector<std::vector<std::string>> runs;
    std::istringstream in(ReadFile(probeOut()));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string pid, count, arg;
        fields >> pid >> count;
        std::vector<std::string> args;
        while (fields >> arg) args.push_back(Unhex(arg == "-" ? "" : arg));
        if (count == "0") args.clear();
        runs.push_back(args);
    }
    return runs;
}

std::vector<std::string> Sandbox::Environment() const {
    if (bare_) {
        std::vector<std::string> out;
        for (const auto& [name, value] : env_) out.push_back(name + "=" + value);
        return out;
    }
    // Nothing of the test's own world: no display, no systemd, no odbc.ini.
    return test::EnvironmentWith(env_, {"DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "ODBCINI", "ODBCSYSINI"});
}

// --- the common opening ------------------------------------------------------------------

SqliteCase::SqliteCase(const std::string& what, const std::vector<std::string>& records)
    : SqliteCase(what, [&](Sandbox&) { return records; }) {}

SqliteCase::SqliteCase(const std::string& what, const Records& records) : db(box.file("corvane.db")), svc(box) {
    Describe(what);
    box.Configure(db.Server(), records(box));
}

LogReceiver& SqliteCase::Start(const std::vector<std::string>& args) {
    LogReceiver& log = box.log();
    svc.StartReady(args);
    return log;
}

// --- counting ---------------------------------------------------------------------------------

std::map<int, int> CountNumbered(const std::vector<std::string>& texts) {
    std::map<int, int> counts;
    for (const auto& t : texts)
        if (t.rfind("Event ", 0) == 0) counts[std::atoi(t.c_str() + 6)]++;
    return counts;
}

namespace {
constexpr const char* StderrEntry = "Telwick[110]: ";

std::vector<std::string> StderrEntries(const Service& svc) {
    std::vector<std::string> out;
    std::istringstream in(svc.Stderr());
    std::string line;
    const size_t prefix = std::strlen(StderrEntry);
    while (std::getline(in, line))
        if (line.rfind(StderrEntry, 0) == 0) out.push_back(line.substr(prefix));
    return out;
}
}  // namespace

std::vector<std::string> EntriesWritten(const LogReceiver& log, const Service& svc) {
    std::vector<std::string> texts = log.Messages("110");
    for (auto& text : StderrEntries(svc)) texts.push_back(std::move(text));
    return texts;
}

size_t EntriesOnStderr(const Service& svc) { return StderrEntries(svc).size(); }

Tally Compare(const std::vector<int>& stored, const std::vector<std::string>& texts) {
    Tally t;
    auto counts = CountNumbered(texts);
    std::set<int> wanted(stored.begin(), stored.end());
    t.expected = static_cast<int>(wanted.size());
    for (int nr : wanted) {
        auto it = counts.find(nr);
        if (it == counts.end()) {
            t.missing++;
            continue;
        }
        t.reported++;
        t.duplicates += it->second - 1;
    }
    for (const auto& [nr, n] : counts)
        if (!wanted.count(nr)) t.unexpected += n;
    return t;
}

void RecordTally(const std::string& prefix, const Tally& t) {
    Figure(prefix + "stored", t.expected);
    Figure(prefix + "reported", t.reported);
    Figure(prefix + "missing", t.missing);
    Figure(prefix + "duplicates", t.duplicates);
    if (t.unexpected) Figure(prefix + "unexpected", t.unexpected);
}

void Freeze(const PgStore& pg, bool frozen) {
    // The cluster's folder is where its driver list is (ODBCSYSINI).
    const std::string dir = pg.Env().at("ODBCSYSINI");
    if (RunProgram({"bash", SourceDir() + "/scripts/pg-test-env.sh", frozen ? "freeze" : "thaw", dir}) != 0)
        throw std::runtime_error(frozen ? "PostgreSQL could not be frozen" : "PostgreSQL could not be thawed");
}

}  // namespace telwick::reliability
