// Sessions over ODBC: unixODBC on Linux, odbc32 on Windows. Only the wide
// (W) calls and those without a suffix are used: the ANSI ones differ between
// driver managers (under Wine SQLDriverConnectA does nothing).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "database/backend.h"
#include "database/utf16.h"
#include "platform/lifecycle.h"

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

// How long a server may take to log in, and to answer a statement or a batch
// of rows. A driver's own time-outs are not enough: most count only while
// nothing arrives, and a server whose processes stand still (or a host gone
// without a reset) keeps the connection up for ever.
std::atomic<int64_t> connectLimitMs{15000};
std::atomic<int64_t> commandLimitMs{30000};
// Calls given up on whose threads still wait for the driver. Beyond the bound
// no new server session starts until some of them have returned.
std::atomic<int> abandonedCalls{0};
constexpr int MaxAbandonedCalls = 4;

std::string WithinText(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
    return std::to_string(limit.count()) + " ms";
}

// The thread of one server session: every call to the driver for the session
// runs on it, so that the caller can stop waiting for a server that does not
// answer. Past the deadline (or at a stop request) the session is given up:
// it refuses every further call, and its thread frees the handles whenever the
// call it is stuck in returns, then ends. The handles are only ever touched on
// this thread.
class Line {
public:
    static std::shared_ptr<Line> Start() {
        auto line = std::make_shared<Line>();
        line->thread_ = std::thread([line] { line->Loop(); });
        return line;
    }
    ~Line() {
        if (thread_.joinable()) thread_.detach();  // only when the start itself failed
    }

    // Runs job on the session's thread and waits for it until the limit;
    // rethrows what it threw. stoppable: a stop request gives up the wait too.
    void Call(std::chrono::milliseconds limit, std::function<void()> job, bool stoppable = true) {
        std::unique_lock lock(m_);
        if (lost_) throw DriverError("The connection was given up", lostText_, "08S01");
        job_ = std::move(job);
        pending_ = true;
        done_ = false;
        error_ = nullptr;
        cv_.notify_all();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done_) {
            const auto now = std::chrono::steady_clock::now();
            const bool stop = stoppable && platform::StopRequested();
            if (now >= deadline || stop) {
                lost_ = true;
                lostText_ = stop ? "The program is stopping" : "The server did not answer within " + WithinText(limit);
                ++abandonedCalls;
                thread_.detach();  // it ends by itself
                throw DriverError("The connection is lost", lostText_, stop ? "HY008" : "HYT00");
            }
            // Short slices: a stop request is a flag, not a notification.
            cv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(100)));
        }
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    }

    // Logs out and ends the thread; a session that was given up is left to it.
    void End() {
        try {
            Call(std::chrono::milliseconds(commandLimitMs.load()), [this] { FreeAll(); }, false);
        } catch (const std::exception&) {
        }
        std::unique_lock lock(m_);
        if (lost_) return;
        quit_ = true;
        cv_.notify_all();
        lock.unlock();
        thread_.join();
    }

    bool Lost() const {
        std::lock_guard lock(m_);
        return lost_;
    }

    // On the session's thread only.
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    std::vector<SQLHSTMT> statements;  // allocated and not yet freed

    SQLHSTMT NewStatement(const char* what) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) Fail(what, SQL_HANDLE_DBC, dbc);
        statements.push_back(stmt);
        return stmt;
    }
    void FreeStatement(SQLHSTMT stmt) {
        auto it = std::find(statements.begin(), statements.end(), stmt);
        if (it == statements.end()) return;
        statements.erase(it);
        SQLFreeStmt(stmt, SQL_CLOSE);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }

private:
    void Loop() {
        std::unique_lock lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return pending_ || quit_; });
            if (!pending_) return;
            std::function<void()> job = std::move(job_);
            pending_ = false;
            lock.unlock();
            std::exception_ptr error;
            try {
                job();
            } catch (...) {
                error = std::current_exception();
            }
            job = nullptr;
            lock.lock();
            error_ = error;
            done_ = true;
            cv_.notify_all();
            if (lost_) {
                lock.unlock();
                FreeAll();
                --abandonedCalls;
                return;
            }
        }
    }

    void FreeAll() {
        while (!statements.empty()) FreeStatement(statements.back());
        if (connected) SQLDisconnect(dbc);
        connected = false;
        if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        dbc = SQL_NULL_HDBC;
    }

    mutable std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
    std::function<void()> job_;
    bool pending_ = false, done_ = false, quit_ = false, lost_ = false;
    std::exception_ptr error_;
    std::string lostText_;
};

std::chrono::milliseconds CommandLimit() { return std::chrono::milliseconds(commandLimitMs.load()); }

// A statement's result as the session's thread reads it: the columns, and
// the rows of the current batch. Shared with the cursor, so that a call given
// up may still finish into it.
struct Result {
    explicit Result(SQLHSTMT statement) : stmt_(statement) {}

    // On the session's thread, right after the statement ran.
    void Describe() {
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
    }

    // Rows per batch: enough that the hand-over costs next to nothing per row
    // (as many as a driver commonly brings in one round trip), few enough that
    // a wide result stays small.
    size_t BatchRows() const { return std::max<size_t>(1, std::min<size_t>(1000, 16384 / names_.size())); }

    void FetchBatch() {
        rows_ = 0;
        // A failure after some rows of the batch comes with the next batch:
        // the rows before it are handed out first.
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
        const size_t columns = names_.size();
        const size_t batch = BatchRows();
        if (values_.size() < batch * columns) values_.resize(batch * columns);
        try {
            while (static_cast<size_t>(rows_) < batch) {
                const SQLRETURN rc = SQLFetch(stmt_);
                if (rc == SQL_NO_DATA) {
                    end_ = true;
                    break;
                }
                if (!SQL_SUCCEEDED(rc)) Fail("Reading the result failed", SQL_HANDLE_STMT, stmt_);
                for (size_t c = 0; c < columns; ++c)
                    Read(static_cast<int>(c), values_[static_cast<size_t>(rows_) * columns + c]);
                ++rows_;
            }
        } catch (const DriverError&) {
            if (rows_ == 0) throw;
            failure_ = std::current_exception();
        }
    }

    void Read(int column, Value& v) {
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
    std::vector<Value> values_;  // the batch, row after row
    int rows_ = 0;
    bool end_ = false;
    std::exception_ptr failure_;
};

class OdbcCursor : public Cursor {
public:
    OdbcCursor(std::shared_ptr<Line> line, std::shared_ptr<Result> result)
        : line_(std::move(line)), r_(std::move(result)) {}
    ~OdbcCursor() override {
        try {
            line_->Call(CommandLimit(), [l = line_.get(), stmt = r_->stmt_] { l->FreeStatement(stmt); }, false);
        } catch (const std::exception&) {  // given up: the session's thread frees it
        }
    }

    int Columns() const override { return static_cast<int>(r_->names_.size()); }
    const std::string& Name(int column) const override { return r_->names_[static_cast<size_t>(column)]; }

    // The rows come from the session's thread in batches, each a single
    // hand-over, and are read from the batch here.
    bool Next() override {
        if (r_->names_.empty()) return false;
        if (++row_ < r_->rows_) return true;
        if (r_->end_) return false;
        line_->Call(CommandLimit(), [r = r_] { r->FetchBatch(); });
        row_ = 0;
        return r_->rows_ > 0;
    }

    const Value& Get(int column) override {
        return r_->values_[static_cast<size_t>(row_) * r_->names_.size() + static_cast<size_t>(column)];
    }

private:
    std::shared_ptr<Line> line_;
    std::shared_ptr<Result> r_;
    int row_ = -1;
};

class OdbcSession : public Session {
public:
    explicit OdbcSession(std::shared_ptr<Line> line) : line_(std::move(line)) {}
    ~OdbcSession() override { line_->End(); }

    // The jobs hold nothing of the caller's: a call given up runs on after
    // the caller and this session have gone.
    void Execute(const std::string& sql) override {
        line_->Call(CommandLimit(), [l = line_.get(), sql] { l->FreeStatement(Run(*l, sql, "The statement failed")); });
    }

    std::unique_ptr<Cursor> Query(const std::string& sql) override {
        auto result = std::make_shared<Result>(SQLHSTMT(SQL_NULL_HSTMT));
        line_->Call(CommandLimit(), [l = line_.get(), sql, result] {
            result->stmt_ = Run(*l, sql, "The query failed");
            result->Describe();
        });
        return std::make_unique<OdbcCursor>(line_, std::move(result));
    }

    void Begin() override {
        line_->Call(CommandLimit(), [l = line_.get()] { SetAutocommit(*l, false); });
    }
    void Commit() override {
        line_->Call(CommandLimit(), [l = line_.get()] { End(*l, SQL_COMMIT); });
    }
    void Rollback() override {
        line_->Call(CommandLimit(), [l = line_.get()] { End(*l, SQL_ROLLBACK); });
    }
    bool Lost() const override { return line_->Lost(); }

private:
    // On the session's thread.
    static SQLHSTMT Run(Line& line, const std::string& sql, const char* what) {
        SQLHSTMT stmt = line.NewStatement(what);
        // Forward-only and read-only: the rows come as they are read.
        SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0);
        std::u16string text = ToUtf16(sql);
        const SQLRETURN rc = SQLExecDirectW(stmt, W(text), static_cast<SQLINTEGER>(text.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            std::string state;
            std::string driverText = Diagnostics(SQL_HANDLE_STMT, stmt, &state);
            line.FreeStatement(stmt);
            throw DriverError(what, driverText, state);
        }
        return stmt;
    }

    static void SetAutocommit(Line& line, bool on) {
        const auto value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
        if (!SQL_SUCCEEDED(SQLSetConnectAttrW(line.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value),
                                              SQL_IS_UINTEGER)))
            Fail("The transaction failed", SQL_HANDLE_DBC, line.dbc);
    }

    static void End(Line& line, SQLSMALLINT how) {
        const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, line.dbc, how);
        SetAutocommit(line, true);
        if (!SQL_SUCCEEDED(rc)) Fail("The transaction failed", SQL_HANDLE_DBC, line.dbc);
    }

    std::shared_ptr<Line> line_;
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
    if (abandonedCalls.load() >= MaxAbandonedCalls)
        throw DriverError("The connection cannot be opened",
                          std::to_string(abandonedCalls.load()) +
                              " calls to servers that did not answer still wait; no new session starts until they "
                              "have returned",
                          "HYT00");
    std::string text = connectionText;
    if (!text.empty() && text.back() != ';') text += ';';
    if (!userId.empty()) text += "UID=" + OdbcValue(userId) + ";";
    if (!password.empty()) text += "PWD=" + OdbcValue(password) + ";";
    auto wide = std::make_shared<std::u16string>(ToUtf16(text));
    // The login leaves our memory as soon as the driver has it.
    std::fill(text.begin(), text.end(), '\0');
    const std::chrono::milliseconds connectLimit(connectLimitMs.load());
    const auto seconds = [](int64_t ms) {
        return reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(std::max<int64_t>(1, (ms + 999) / 1000)));
    };
    auto line = Line::Start();
    auto connect = [l = line.get(), env, wide, login = seconds(connectLimit.count()),
                    lost = seconds(commandLimitMs.load())] {
        struct Scrub {
            std::u16string& s;
            ~Scrub() { std::fill(s.begin(), s.end(), u'\0'); }
        } scrub{*wide};
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &l->dbc))) {
            l->dbc = SQL_NULL_HDBC;
            Fail("The ODBC driver manager gives no connection", SQL_HANDLE_ENV, env);
        }
        // The driver's own time-outs as well, where it has them.
        SQLSetConnectAttrW(l->dbc, SQL_ATTR_LOGIN_TIMEOUT, login, SQL_IS_UINTEGER);
        SQLSetConnectAttrW(l->dbc, SQL_ATTR_CONNECTION_TIMEOUT, lost, SQL_IS_UINTEGER);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        const SQLRETURN rc = SQLDriverConnectW(l->dbc, nullptr, W(*wide), static_cast<SQLSMALLINT>(wide->size()), out,
                                               static_cast<SQLSMALLINT>(sizeof out / sizeof out[0]), &outLength,
                                               SQL_DRIVER_NOPROMPT);
        std::fill(std::begin(out), std::end(out), SQLWCHAR(0));
        if (!SQL_SUCCEEDED(rc)) {
            std::string state;
            std::string driverText = Diagnostics(SQL_HANDLE_DBC, l->dbc, &state);
            SQLFreeHandle(SQL_HANDLE_DBC, l->dbc);
            l->dbc = SQL_NULL_HDBC;
            throw DriverError("The connection cannot be opened", driverText, state);
        }
        l->connected = true;
    };
    try {
        line->Call(connectLimit, connect);
    } catch (const DriverError& e) {
        line->End();
        throw DriverError("The connection cannot be opened", e.driverText(), e.state());
    }
    return std::make_unique<OdbcSession>(std::move(line));
}

void SetServerTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds command) {
    connectLimitMs = connect.count();
    commandLimitMs = command.count();
}

int AbandonedServerCalls() { return abandonedCalls.load(); }

}  // namespace telwick::db::detail
