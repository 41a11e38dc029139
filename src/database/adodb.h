// A small connection / recordset pair with the operations the program uses,
// over ODBC, and over the sqlite3 library (Windows: the SQLite ODBC driver) for
// SQLite files. Texts are UTF-8. Failures throw telwick::Fault (number FaultNr::Database) with a
// description that never holds the login.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "platform/fileid.h"

namespace telwick::db {

namespace detail {
class Session;
class Cursor;
struct Value;
}  // namespace detail

constexpr int32_t adStateClosed = 0;
constexpr int32_t adStateOpen = 1;
constexpr int32_t adUseClient = 3;
constexpr int32_t adOpenForwardOnly = 0;
constexpr int32_t adLockReadOnly = 1;
constexpr int32_t adConnectUnspecified = -1;
constexpr int32_t adCmdUnspecified = -1;

// How a connection text's Data Source is reached.
struct Target {
    enum class Kind { SqliteFile, OdbcDsn, SqlServerHost };
    Kind kind = Kind::SqlServerHost;
    std::string dataSource;  // the Data Source as written
    std::string catalogue;   // Initial Catalog (may be empty)
    bool integratedSecurity = false;
};
// Reads the connection text of BuildConnectionString. A Data Source that is an
// absolute path ("/...", "C:\..." or "\\server\...") or ends in .db, .sqlite or
// .sqlite3 is a SQLite file; one that names an ODBC data source (odbc.ini:
// $ODBCINI, ~/.odbc.ini, /etc/odbc.ini; on Windows the driver manager's list)
// is a DSN; anything else is a SQL Server host.
Target ParseTarget(const std::string& connectionText);

class Recordset;

// The server connection beneath a closed connection.
//
// Closing a connection to a server (DSN or SQL Server host) ends its logical
// life only: the session with the server stays open and the next Open with the
// same connection text and login takes it over instead of logging in again.
// One such session is kept at a time (the program has one shared connection).
// It is dropped after the keep time without use, after any error on it, and
// when an Open asks for another server or login; and however often it is used,
// a session older than MaxAge logs in afresh, so that a changed password or a
// disabled login takes effect on the server's side within that time. A SQLite file is closed for
// real: opening one costs next to nothing.
namespace keep {
// The default keep time. It is longer than the longest check interval (65.5 s),
// so that the gap between two ticks never drops the session.
constexpr std::chrono::milliseconds DefaultIdle{120000};
constexpr std::chrono::minutes MaxAge{15};
using Clock = std::function<std::chrono::steady_clock::time_point()>;
// Zero or less switches the keeping off; the default is DefaultIdle.
void SetIdleTime(std::chrono::milliseconds idle);
std::chrono::milliseconds IdleTime();
// The clock the idle time is measured with (tests); nullptr: the steady clock.
void SetClock(Clock clock);
// Drops the kept session once it has been idle for the keep time. The
// program's tick calls it, so that a session does not outlive its keep time
// when no Open comes (checks switched off, say). True when it dropped one.
bool DropIfIdle();
// Drops the kept session, if any.
void Drop();
bool Held();  // a session is kept
// Server sessions opened by this process so far (logins).
uint64_t PhysicalOpens();
}  // namespace keep

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int32_t State() const;  // adStateOpen or adStateClosed
    int32_t CursorLocation() const { return cursorLocation_; }
    void SetCursorLocation(int32_t location) { cursorLocation_ = location; }

    // A SQLite file opens read-only (a missing file fails, nothing is created)
    // with GetDate() registered; a DSN with the catalogue as database; a SQL
    // Server host through the first installed SQL Server ODBC driver.
    void Open(const std::string& connectionText, const std::string& userId, const std::string& password,
              int32_t options = adConnectUnspecified);
    // Runs a statement and drops its result unread.
    void Execute(const std::string& commandText, int32_t options = adCmdUnspecified);
    void Close();  // harmless when closed

    // A name of the session in use, unique in the process (diagnostics).
    const std::string& name() const { return name_; }
    // The last Open took over a kept server session instead of logging in.
    // Whether that session still lives shows only at the first statement.
    bool reused() const { return reused_; }
    // What Open made of the connection text (valid while open).
    const Target& target() const { return target_; }

private:
    friend class Recordset;
    // Turns a driver's error into a Fault whose description holds no login.
    [[noreturn]] void Raise(const std::string& what, const std::string& driverText) const;
    // A file database that was removed or replaced counts as a lost connection.
    void CheckStillThere() const;

    // Ends the session beneath, or hands it to the keeping.
    void Release();

    std::string name_;
    int32_t cursorLocation_ = 2;
    bool open_ = false;
    bool reused_ = false;
    mutable bool failed_ = false;                       // an error happened on this session: never kept
    std::string keepKey_;                               // connection text and login (empty: not to be kept)
    std::chrono::steady_clock::time_point loggedIn_{};  // when the session beneath logged in
    Target target_;
    std::string userId_, password_;  // kept only to scrub them from messages
    platform::FileId fileId_;        // the SQLite file that was opened
    std::unique_ptr<detail::Session> session_;
    std::set<Recordset*> recordsets_;  // closed with the connection
};

// Forward-only, read-only; the rows stream, they are not held all at once.
class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void Open(const std::string& source, Connection* activeConnection, int32_t cursorType = adOpenForwardOnly,
              int32_t lockType = adLockReadOnly,
              int32_t options = adCmdUnspecified);  // nullptr connection: fault 424
    int32_t State() const;
    bool EOF_() const;
    void MoveNext();
    bool IsNull(const std::string& field) const;
    bool IsNull(int position) const;
    std::string Text(const std::string& field) const;  // null gives the empty text (UTF-8)
    std::string Text(int position) const;
    int64_t Integer(const std::string& field) const;  // null gives 0
    int64_t Integer(int position) const;
    void Close();  // harmless when closed

    // The column names of the open result (tests, diagnostics).
    int FieldCount() const;

private:
    friend class Connection;
    struct Impl;
    int Index(const std::string& field) const;
    void CheckRow() const;
    const detail::Value& Get(int position) const;
    std::unique_ptr<Impl> impl_;
};

}  // namespace telwick::db
