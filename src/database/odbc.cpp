// Sessions over ODBC: unixODBC on Linux, odbc32 on Windows. Only the wide
// (W) calls and those without a suffix are used: the ANSI ones differ between
// driver managers (under Wine SQLDriverConnectA does nothing).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "database/backend.h"
#include "database/utf16.h"

namespace telwick::db::detail {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16 code units");

namespace {

// The driver manager's environment: one for the process, never freed (the
// sessions still open at the end of the program may outlive any global).
SQLHENV Environment() {
    static SQLHENV env = [] {
        SQLHENV h = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h))) return SQLHENV(SQL_NULL_HENV);
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)),
                      0);
        return h;
    }();
    return env;
}

SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// The diagnostics of a handle, one line: "[SQLSTATE] text; [SQLSTATE] text".
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string* firstState = nullptr) {
    std::string out;
    for (SQLSMALLINT rec = 1; rec <= 8; ++rec) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[1024];
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, rec, state, &native, text,
                                            static_cast<SQLSMALLINT>(sizeof text / sizeof text[0]), &length);
        if (!SQL_SUCCEEDED(rc)) break;
        const size_t shown = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                              sizeof text / sizeof text[0] - 1);
        const std::string sqlState = ToUtf8(reinterpret_cast<const char16_t*>(state), 5);
        // The first error's state: warnings (class 01) only when nothing else came.
        if (firstState && (firstState->empty() || (firstState->rfind("01", 0) == 0 && sqlState.rfind("01", 0) != 0)))
            *firstState = sqlState;
        if (!out.empty()) out += "; ";
        out += "[" + sqlState + "] " + ToUtf8(reinterpret_cast<const char16_t*>(text), shown);
    }
    return out;
}

[[noreturn]] void Fail(const std::string& what, SQLSMALLINT type, SQLHANDLE handle) {
    std::string state;
    std::string text = Diagnostics(type, handle, &state);
    throw DriverError(what, text, state);
}

bool IsIntegerType(SQLSMALLINT type) {
    return type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_TINYINT || type == SQL_BIGINT ||
           type == SQL_BIT;
}

bool IsRealType(SQLSMALLINT type) { return type == SQL_REAL || type == SQL_FLOAT || type == SQL_DOUBLE; }

class OdbcCursor : public Cursor {
public:
    explicit OdbcCursor(SQLHSTMT stmt) : stmt_(stmt) {
        SQLSMALLINT count = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_, &count))) Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
        for (SQLSMALLINT i = 1; i <= count; ++i) {
            SQLWCHAR name[256];
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            if (!SQL_SUCCEEDED(SQLDescribeColW(stmt_, static_cast<SQLUSMALLINT>(i), name,
                                               static_cast<SQLSMALLINT>(sizeof name / sizeof name[0]), &nameLength,
                                               &type, &size, &digits, &nullable)))
                Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
            const size_t shown = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                                  sizeof name / sizeof name[0] - 1);
            names_.push_back(ToUtf8(reinterpret_cast<const char16_t*>(name), shown));
            types_.push_back(type);
        }
        values_.resize(names_.size());
    }
    ~OdbcCursor() override {
        SQLFreeStmt(stmt_, SQL_CLOSE);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    }

    int Columns() const override { return static_cast<int>(names_.size()); }
    const std::string& Name(int column) const override { return names_[static_cast<size_t>(column)]; }

    bool Next() override {
        read_ = 0;
        if (names_.empty()) return false;
        const SQLRETURN rc = SQLFetch(stmt_);
        if (rc == SQL_NO_DATA) return false;
        if (!SQL_SUCCEEDED(rc)) Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
        return true;
    }

    // The columns of a row are read in order, each once (what every driver
    // allows), and only as far as asked.
    const Value& Get(int column) override {
        while (read_ <= column) {
            Read(read_);
            ++read_;
        }
        return values_[static_cast<size_t>(column)];
    }

private:
    void Read(int column) {
        Value& v = values_[static_cast<size_t>(column)];
        v.text.clear();
        const auto number = static_cast<SQLUSMALLINT>(column + 1);
        const SQLSMALLINT type = types_[static_cast<size_t>(column)];
        SQLLEN indicator = 0;
        if (IsIntegerType(type)) {
            SQLBIGINT n = 0;
            if (!SQL_SUCCEEDED(SQLGetData(stmt_, number, SQL_C_SBIGINT, &n, sizeof n, &indicator)))
                Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
            v.kind = indicator == SQL_NULL_DATA ? Value::Kind::Null : Value::Kind::Integer;
            v.integer = n;
            return;
        }
        if (IsRealType(type)) {
            double d = 0;
            if (!SQL_SUCCEEDED(SQLGetData(stmt_, number, SQL_C_DOUBLE, &d, sizeof d, &indicator)))
                Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
            v.kind = indicator == SQL_NULL_DATA ? Value::Kind::Null : Value::Kind::Real;
            v.real = d;
            return;
        }
        // Anything else as text, in pieces for long values.
        std::u16string text;
        SQLWCHAR buffer[512];
        for (;;) {
            const SQLRETURN rc = SQLGetData(stmt_, number, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
            if (rc == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(rc)) Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
            if (indicator == SQL_NULL_DATA) {
                v.kind = Value::Kind::Null;
                return;
            }
            const size_t room = sizeof buffer / sizeof buffer[0] - 1;  // one for the terminating zero
            const size_t got = indicator == SQL_NO_TOTAL || indicator < 0 ||
                                       static_cast<size_t>(indicator) / sizeof(SQLWCHAR) > room
                                   ? room
                                   : static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
            text.append(reinterpret_cast<const char16_t*>(buffer), got);
            if (rc == SQL_SUCCESS) break;  // SQL_SUCCESS_WITH_INFO: truncated, more to come
        }
        v.kind = Value::Kind::Text;
        v.text = ToUtf8(text);
    }

    SQLHSTMT stmt_;
    std::vector<std::string> names_;
    std::vector<SQLSMALLINT> types_;
    std::vector<Value> values_;
    int read_ = 0;
};

class OdbcSession : public Session {
public:
    explicit OdbcSession(SQLHDBC dbc) : dbc_(dbc) {}
    ~OdbcSession() override {
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }

    void Execute(const std::string& sql) override {
        SQLHSTMT stmt = Run(sql, "The statement failed");
        SQLFreeStmt(stmt, SQL_CLOSE);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }

    std::unique_ptr<Cursor> Query(const std::string& sql) override {
        SQLHSTMT stmt = Run(sql, "The query failed");
        try {
            return std::make_unique<OdbcCursor>(stmt);
        } catch (...) {
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            throw;
        }
    }

    void Begin() override { SetAutocommit(false); }
    void Commit() override { End(SQL_COMMIT); }
    void Rollback() override { End(SQL_ROLLBACK); }

private:
    SQLHSTMT Run(const std::string& sql, const char* what) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) Fail(what, SQL_HANDLE_DBC, dbc_);
        // Forward-only and read-only: the rows come as they are read.
        SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0);
        std::u16string text = ToUtf16(sql);
        const SQLRETURN rc = SQLExecDirectW(stmt, W(text), static_cast<SQLINTEGER>(text.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            std::string state;
            std::string driverText = Diagnostics(SQL_HANDLE_STMT, stmt, &state);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            throw DriverError(what, driverText, state);
        }
        return stmt;
    }

    void SetAutocommit(bool on) {
        const auto value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
        if (!SQL_SUCCEEDED(
                SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER)))
            Fail("The transaction failed", SQL_HANDLE_DBC, dbc_);
    }

    void End(SQLSMALLINT how) {
        const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, how);
        SetAutocommit(true);
        if (!SQL_SUCCEEDED(rc)) Fail("The transaction failed", SQL_HANDLE_DBC, dbc_);
    }

    SQLHDBC dbc_;
};

}  // namespace

std::string OdbcValue(const std::string& value) {
    if (value.empty()) return value;
    const bool needed = value.find_first_of(";{}") != std::string::npos ||
                        std::isspace(static_cast<unsigned char>(value.front())) ||
                        std::isspace(static_cast<unsigned char>(value.back()));
    if (!needed) return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

std::unique_ptr<Session> OpenOdbc(const std::string& connectionText, const std::string& userId,
                                  const std::string& password) {
    SQLHENV env = Environment();
    if (env == SQL_NULL_HENV) throw DriverError("The ODBC driver manager cannot be started", {});
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        Fail("The ODBC driver manager gives no connection", SQL_HANDLE_ENV, env);
    // As the old provider: 15 seconds to log in; a lost server is noticed
    // after 30 seconds at most.
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), SQL_IS_UINTEGER);
    SQLSetConnectAttrW(dbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), SQL_IS_UINTEGER);
    std::string text = connectionText;
    if (!text.empty() && text.back() != ';') text += ';';
    if (!userId.empty()) text += "UID=" + OdbcValue(userId) + ";";
    if (!password.empty()) text += "PWD=" + OdbcValue(password) + ";";
    std::u16string wide = ToUtf16(text);
    // The login leaves our memory as soon as the driver has it.
    std::fill(text.begin(), text.end(), '\0');
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, W(wide), static_cast<SQLSMALLINT>(wide.size()), out,
                                           static_cast<SQLSMALLINT>(sizeof out / sizeof out[0]), &outLength,
                                           SQL_DRIVER_NOPROMPT);
    std::fill(wide.begin(), wide.end(), u'\0');
    std::fill(std::begin(out), std::end(out), SQLWCHAR(0));
    if (!SQL_SUCCEEDED(rc)) {
        std::string state;
        std::string driverText = Diagnostics(SQL_HANDLE_DBC, dbc, &state);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw DriverError("The connection cannot be opened", driverText, state);
    }
    return std::make_unique<OdbcSession>(dbc);
}

}  // namespace telwick::db::detail
