// What the fault tests share: a sandbox per test (folder, hive, system-log
// socket, database), the service as a child process with its /proc figures,
// the batch probe, a private PostgreSQL, and the results file that the
// reliability report is made from.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/datagram.h"
#include "support/process.h"
#include "support/testenv.h"

namespace telwick::reliability {

using namespace std::chrono_literals;

// --- results ------------------------------------------------------------------
// One line per figure: run stamp, case (the test's name), key, value. The file
// is $TELWICK_RELIABILITY_OUT, else <build>/reliability/results.tsv.
std::string ResultsPath();
void Figure(const std::string& key, const std::string& value);
void Figure(const std::string& key, double value);
// What the case tried and what happened, in words.
void Describe(const std::string& what);
void Outcome(const std::string& what);
// Installs the listener that writes each case's result (pass / FAIL).
void InstallResultsListener();

// --- small tools ----------------------------------------------------------------
std::string BinaryDir();  // $TELWICK_BINARY_DIR, else the folder of this test program
std::string SourceDir();  // $TELWICK_SOURCE_DIR
using telwick::test::ReadFile;
void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644);
using telwick::test::RunProgram;
// Waits until done() holds or the time is up; returns done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = 50ms);
std::string Hex(const std::string& bytes);
// Both lists, one after the other.
std::vector<int> Join(std::vector<int> a, const std::vector<int>& b);
std::string Unhex(const std::string& hex);

// --- a database the collector writes ----------------------------------------------
class EventStore {
public:
    virtual ~EventStore() = default;
    // The Data Source for the hive's "Server".
    virtual std::string Server() const = 0;
    // Runs SQL as the collector (the owner of the tables).
    virtual void Exec(const std::string& sql) = 0;
    // Adds count events of message 900 ("Event %1") whose parameter is their own
    // number, all in one transaction; returns the numbers given.
    virtual std::vector<int> AddNumbered(int count) = 0;
    // Adds one event with the given message number and parameter (nullptr: null).
    virtual int AddEvent(int messagenr, const std::string* parameter) = 0;
    // Sets the text of message nr in language 1 (nullptr: null).
    void SetMessage(int messagenr, const std::string* text);
    virtual std::string Quote(const std::string& text) const;
};

// A SQLite file in the sandbox with the program's schema.
class SqliteStore : public EventStore {
public:
    explicit SqliteStore(const std::string& path);
    std::string Server() const override { return path_; }
    void Exec(const std::string& sql) override;
    int AddEvent(int messagenr, const std::string* parameter) override;
    std::vector<int> AddNumbered(int count) override;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A private PostgreSQL cluster in the sandbox (scripts/pg-test-env.sh), reached
// by the service through an ODBC data source.
class PgStore : public EventStore {
public:
    explicit PgStore(const std::string& dir);
    ~PgStore() override;
    std::string Server() const override { return dsn_; }
    void Exec(const std::string& sql) override;
    int AddEvent(int messagenr, const std::string* parameter) override;
    std::vector<int> AddNumbered(int count) override;
    // Runs SQL as the superuser (roles, sessions).
    std::string Admin(const std::string& sql);
    void Pause();    // stops the server, keeping its data
    void Resume();   // starts it again on the same port
    void KillNow();  // stops it at once (immediate shutdown: no checkpoint, like a crash)
    std::string Query(const std::string& sql, bool asOwner = true);
    // What the service needs in its environment (ODBCINI).
    std::map<std::string, std::string> Env() const { return env_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }

private:
    std::string dir_, dsn_, user_, password_, database_;
    std::map<std::string, std::string> env_;
    bool started_ = false;
};

// True when a PostgreSQL server can be made here.
bool PgAvailable();

// --- the system log -------------------------------------------------------------------
// A receiver that reads on a thread of its own and keeps every datagram; it can
// be told to stop reading (its queue then fills up).
class LogReceiver {
public:
    explicit LogReceiver(const std::string& path);
    const std::string& path() const { return collector_.path(); }
    void Pause(bool paused) { collector_.Pause(paused); }
    std::vector<std::string> Messages(const std::string& msgid) const;  // MSG parts of that MSGID
    size_t Count(const std::string& msgid) const;
    size_t Total() const;
    std::vector<std::string> All() const;

private:
    mutable test::DatagramCollector collector_;
};

// --- the service as a child process ------------------------------------------------------
class Sandbox;

class Service {
public:
    explicit Service(Sandbox& sandbox);
    ~Service();
    // Starts the service; it tells READY=1 to a notify socket of the sandbox
    // once its start request went through (the monitors are loaded then).
    void Start(const std::vector<std::string>& args = {});
    bool WaitReady(std::chrono::milliseconds limit = 30s);
    // The next message to the notify socket that holds text (the ones before it
    // are read and dropped), or the empty text when none came in time.
    std::string WaitNotify(const std::string& text, std::chrono::milliseconds limit = 30s);
    // Start, WaitReady and a test failure when it did not become ready.
    void StartReady(const std::vector<std::string>& args = {});
    pid_t pid() const { return pid_; }
    bool Running();  // started and not ended
    // SIGTERM, then waits; returns the exit status (128 + signal when killed),
    // or -1 when it did not end in time (it is then killed).
    int Stop(std::chrono::milliseconds limit = 15s);
    void Signal(int sig);
    // The next start gets a pipe as standard error whose reader is already gone.
    void StderrToClosedPipe() { closedStderr_ = true; }
    int Wait(std::chrono::milliseconds limit);  // -1 when still running
    std::string Stderr() const;
    double CpuSeconds() const;  // user + system time so far
    long PeakRssKiB() const;    // VmHWM
    long RssKiB() const;        // VmRSS
    std::vector<pid_t> Children() const;
    std::vector<pid_t> Zombies() const;  // children in state Z
    std::string Cmdline() const;
    std::string Environ() const;

private:
    Sandbox& sandbox_;
    std::unique_ptr<test::DatagramListener> notify_;  // made by the first start
    std::unique_ptr<test::ChildProcess> child_;
    pid_t pid_ = -1;
    bool closedStderr_ = false;
};

// One test's world: a folder (reachable by the postgres user), a hive, a
// system-log receiver, the settings of the service and its environment.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    const std::string& dir() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    const std::string& hive() const { return hive_; }
    std::string logSocket() const { return dir_.file("log.sock"); }
    LogReceiver& log();  // made on first use
    void DropLog();      // no receiver: the socket is gone

    // Settings in the hive (through the program's own registry functions).
    void Set(const std::string& name, const std::string& value);
    // The usual settings: server, a short check interval, the records given.
    void Configure(const std::string& server, const std::vector<std::string>& records, int intervalMs = 200);
    // A record for a monitor of message-numbered events: any computer, type
    // and level, with the given actions.
    static std::string Record(bool msgBox, bool eventLog, bool batch, const std::string& batchFile = "");

    // The batch probe: a program that writes one line per run to probeOut().
    static std::string ProbePath();
    std::string probeOut() const { return file("probe.out"); }
    // The arguments (after the program name) of every run of the probe.
    std::vector<std::vector<std::string>> ProbeRuns() const;

    std::map<std::string, std::string>& env() { return env_; }
    std::vector<std::string> Environment() const;
    // The service gets env() alone, nothing of the test's own environment.
    void SetBareEnvironment(bool bare) { bare_ = bare; }
    // Words put before the service's program path (a wrapper that starts it).
    std::vector<std::string>& launcher() { return launcher_; }

private:
    test::TempDir dir_;
    std::string hive_;
    std::unique_ptr<LogReceiver> log_;
    std::map<std::string, std::string> env_;
    bool bare_ = false;
    std::vector<std::string> launcher_;
    std::string oldRegistry_;
};

// The opening most cases share: the case described, a sandbox with a SQLite
// store of the program's schema ("corvane.db") and the usual settings with the
// records given (by default one monitor with only the event log on). The case
// may change the settings further; Start() then adds the system-log receiver
// and starts the service, ready. Unpacked by reference:
//     SqliteCase run("what is tried");
//     auto& [box, db, svc] = run;
//     LogReceiver& log = run.Start();
class SqliteCase {
public:
    using Records = std::function<std::vector<std::string>(Sandbox&)>;
    explicit SqliteCase(const std::string& what,
                        const std::vector<std::string>& records = {Sandbox::Record(false, true, false)});
    SqliteCase(const std::string& what, const Records& records);
    LogReceiver& Start(const std::vector<std::string>& args = {});

    Sandbox box;
    SqliteStore db;
    Service svc;
};

// Counts how often each number n appears as "Event n" among texts.
std::map<int, int> CountNumbered(const std::vector<std::string>& texts);
// The texts of the entries 110 the service wrote: those the receiver got, then
// those it put on standard error instead because the receiver did not read
// within the send bound (a loaded machine can starve the receiver's thread).
std::vector<std::string> EntriesWritten(const LogReceiver& log, const Service& svc);
// How many of them are on standard error.
size_t EntriesOnStderr(const Service& svc);
struct Tally {
    int expected = 0, reported = 0, missing = 0, duplicates = 0, unexpected = 0;
};
Tally Compare(const std::vector<int>& stored, const std::vector<std::string>& texts);
void RecordTally(const std::string& prefix, const Tally& t);

// Stops every process of the private PostgreSQL (SIGSTOP: its connections stay
// up and nothing answers), or lets them run again.
void Freeze(const PgStore& pg, bool frozen);

}  // namespace telwick::reliability
