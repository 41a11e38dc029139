// What the connection and recordset of adodb.h run on: a session with a
// database and its forward-only results, over ODBC (odbc.cpp) or, for SQLite
// files, over whatever this system has (sqlitefile_*.cpp). Texts are UTF-8.
// Also used by the test support and the benchmarks to make their databases.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace telwick::db::detail {

// A failure the driver or library reported, in its own words (never holding
// the login: adodb scrubs it before it shows).
class DriverError : public std::runtime_error {
public:
    DriverError(std::string what, std::string driverText, std::string state = {})
        : std::runtime_error(what), driverText_(std::move(driverText)), state_(std::move(state)) {}
    const std::string& driverText() const { return driverText_; }
    const std::string& state() const { return state_; }  // the ODBC SQLSTATE of the error, if any

private:
    std::string driverText_, state_;
};

// One value of the current row.
struct Value {
    enum class Kind { Null, Integer, Real, Text } kind = Kind::Null;
    int64_t integer = 0;
    double real = 0;
    std::string text;
};

// A forward-only result; the rows stream, a few at a time, never all at once.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual int Columns() const = 0;
    virtual const std::string& Name(int column) const = 0;
    // To the next row (the first one after the query); false at the end.
    virtual bool Next() = 0;
    // A column of the current row, 0-based.
    virtual const Value& Get(int column) = 0;
};

class Session {
public:
    virtual ~Session() = default;
    // Runs a statement and drops whatever it returns.
    virtual void Execute(const std::string& sql) = 0;
    virtual std::unique_ptr<Cursor> Query(const std::string& sql) = 0;
    // Groups the following statements until Commit (the test support's scripts).
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // Given up after a server did not answer in time: every further call fails.
    virtual bool Lost() const { return false; }
};

// A SQLite file. Read-only: a missing file fails and nothing can change it,
// and GetDate() answers as on SQL Server. Writable (test support): created
// when missing.
std::unique_ptr<Session> OpenSqliteFile(const std::string& path, bool writable);
// The same through the SQLite ODBC driver "SQLite3" (what OpenSqliteFile is on
// Windows). A missing driver fails saying what to install.
std::unique_ptr<Session> OpenSqliteFileOverOdbc(const std::string& path, bool writable);

// An ODBC connection text (without the login); the login is added here.
std::unique_ptr<Session> OpenOdbc(const std::string& connectionText, const std::string& userId,
                                  const std::string& password);

// How long a server session may wait for the server: to log in (15 s), and
// for a statement or a batch of rows (30 s). A server that does not answer in
// time is taken for lost: the call fails, and the session with it.
void SetServerTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds command);
// Calls given up on whose threads still wait for their server's answer.
int AbandonedServerCalls();

// The ODBC configuration of this system: the data source names and the
// installed drivers (names as the driver manager knows them).
bool IsDataSourceName(const std::string& name);
std::vector<std::string> InstalledDrivers();

// An ODBC connection attribute value, braced where needed so that ";" and "}"
// in it cannot start a new attribute.
std::string OdbcValue(const std::string& value);

}  // namespace telwick::db::detail
