// SQLite files through the SQLite ODBC driver (Christian Werner's "SQLite3
// ODBC Driver"): the way on Windows, where no sqlite3 library comes with the
// system; built everywhere, so that it is tested here too. The driver cannot
// take a function of ours, so GetDate() in a statement is answered by SQLite's
// own local time instead.
#include <cctype>

#include "database/backend.h"

namespace telwick::db::detail {

namespace {

constexpr const char* DriverName = "SQLite3";
constexpr const char* LocalNow = "datetime('now','localtime')";

bool IdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; }

// The statement with every call GetDate() (any case, blanks allowed before and
// inside the parentheses) outside quotes and brackets replaced by SQLite's
// local time, in the form SQL Server's GetDate() prints.
std::string WithLocalTime(const std::string& sql) {
    std::string out;
    out.reserve(sql.size());
    const std::string name = "getdate";
    for (size_t i = 0; i < sql.size();) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || c == '[' || c == '`') {
            const char close = c == '[' ? ']' : c;
            size_t end = sql.find(close, i + 1);
            end = end == std::string::npos ? sql.size() : end + 1;
            out.append(sql, i, end - i);
            i = end;
            continue;
        }
        if (IdentifierChar(c)) {
            size_t end = i;
            while (end < sql.size() && IdentifierChar(sql[end])) ++end;
            bool call = end - i == name.size();
            for (size_t k = 0; call && k < name.size(); ++k)
                call = std::tolower(static_cast<unsigned char>(sql[i + k])) == name[k];
            size_t j = end;
            if (call) {
                while (j < sql.size() && std::isspace(static_cast<unsigned char>(sql[j]))) ++j;
                call = j < sql.size() && sql[j] == '(';
                if (call) {
                    ++j;
                    while (j < sql.size() && std::isspace(static_cast<unsigned char>(sql[j]))) ++j;
                    call = j < sql.size() && sql[j] == ')';
                }
            }
            if (call) {
                out += LocalNow;
                i = j + 1;
            } else {
                out.append(sql, i, end - i);
                i = end;
            }
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

class SqliteOdbcSession : public Session {
public:
    explicit SqliteOdbcSession(std::unique_ptr<Session> odbc) : odbc_(std::move(odbc)) {}
    void Execute(const std::string& sql) override { odbc_->Execute(WithLocalTime(sql)); }
    std::unique_ptr<Cursor> Query(const std::string& sql) override { return odbc_->Query(WithLocalTime(sql)); }
    void Begin() override { odbc_->Begin(); }
    void Commit() override { odbc_->Commit(); }
    void Rollback() override { odbc_->Rollback(); }

private:
    std::unique_ptr<Session> odbc_;
};

}  // namespace

std::unique_ptr<Session> OpenSqliteFileOverOdbc(const std::string& path, bool writable) {
    // NoCreat: a missing file fails instead of becoming an empty database.
    // Timeout: how long to wait while the collector holds the file locked.
    std::string text = std::string("Driver={") + DriverName + "};Database=" + OdbcValue(path) +
                       ";Timeout=5000;";
    if (!writable) text += "NoCreat=1;";
    std::unique_ptr<Session> odbc;
    try {
        odbc = OpenOdbc(text, {}, {});
    } catch (const DriverError& e) {
        // IM002: no such driver (Windows); IM003: it cannot be loaded. A failed
        // connect with nothing but a warning: the driver manager found no
        // driver to ask (unixODBC, also under Wine: "Can't open lib").
        const std::string& state = e.state();
        if (state == "IM002" || state == "IM003" || state.rfind("01", 0) == 0)
            throw DriverError("The database file " + path + " cannot be opened",
                              "the SQLite ODBC driver \"" + std::string(DriverName) +
                                  "\" is not installed (install the SQLite ODBC driver, sqliteodbc, from "
                                  "http://www.ch-werner.de/sqliteodbc/)",
                              e.state());
        throw DriverError("The database file " + path + " cannot be opened", e.driverText(), e.state());
    }
    // Nothing the program sends can change the file.
    if (!writable) odbc->Execute("PRAGMA query_only = 1");
    return std::make_unique<SqliteOdbcSession>(std::move(odbc));
}

}  // namespace telwick::db::detail
