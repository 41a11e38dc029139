// SQLite files through the sqlite3 library (Linux).
#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "database/backend.h"
#include "platform/lifecycle.h"

namespace telwick::db::detail {

namespace {

void SqliteGetDate(sqlite3_context* ctx, int, sqlite3_value**) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    sqlite3_result_text(ctx, buf, static_cast<int>(n), SQLITE_TRANSIENT);
}

// Another process holds the database file locked (the collector writes): wait
// in short slices, up to five seconds in all, and give up at once when a stop
// has been asked for.
constexpr int BusySliceMs = 10;
constexpr int BusyPatienceMs = 5000;

int WaitWhileBusy(void*, int tries) {
    if (platform::StopRequested() || tries >= BusyPatienceMs / BusySliceMs) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(BusySliceMs));
    return 1;
}

[[noreturn]] void Fail(const std::string& what, sqlite3* db) {
    throw DriverError(what, db ? sqlite3_errmsg(db) : "out of memory");
}

class SqliteCursor : public Cursor {
public:
    SqliteCursor(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {
        const int n = sqlite3_column_count(stmt_);
        for (int i = 0; i < n; ++i) {
            const char* name = sqlite3_column_name(stmt_, i);
            names_.emplace_back(name ? name : "");
        }
        values_.resize(names_.size());
        readInRow_.resize(names_.size(), 0);
    }
    ~SqliteCursor() override { sqlite3_finalize(stmt_); }

    int Columns() const override { return static_cast<int>(names_.size()); }
    const std::string& Name(int column) const override { return names_[static_cast<size_t>(column)]; }

    bool Next() override {
        ++row_;
        if (done_) return false;
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        done_ = true;
        if (rc != SQLITE_DONE) Fail("Reading the result failed", db_);
        return false;
    }

    const Value& Get(int column) override {
        // A value is read once per row, when first asked for; the columns not
        // asked for are not read at all.
        const auto c = static_cast<size_t>(column);
        if (readInRow_[c] != row_) {
            Read(column);
            readInRow_[c] = row_;
        }
        return values_[c];
    }

private:
    void Read(int column) {
        Value& v = values_[static_cast<size_t>(column)];
        v.text.clear();
        switch (sqlite3_column_type(stmt_, column)) {
            case SQLITE_NULL:
                v.kind = Value::Kind::Null;
                break;
            case SQLITE_INTEGER:
                v.kind = Value::Kind::Integer;
                v.integer = sqlite3_column_int64(stmt_, column);
                break;
            case SQLITE_FLOAT:
                v.kind = Value::Kind::Real;
                v.real = sqlite3_column_double(stmt_, column);
                break;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
                const int bytes = sqlite3_column_bytes(stmt_, column);
                v.kind = Value::Kind::Text;
                if (text) v.text.assign(text, static_cast<size_t>(bytes));
            }
        }
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_;
    std::vector<std::string> names_;
    std::vector<Value> values_;        // their texts keep their room from row to row
    std::vector<uint64_t> readInRow_;  // the row each value was read in
    uint64_t row_ = 0;
    bool done_ = false;
};

class SqliteSession : public Session {
public:
    explicit SqliteSession(sqlite3* db) : db_(db) {}
    ~SqliteSession() override { sqlite3_close_v2(db_); }

    void Execute(const std::string& sql) override {
        // Every statement of the text runs; rows are dropped unread.
        const char* tail = sql.c_str();
        while (tail && *tail) {
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db_, tail, -1, &stmt, &tail) != SQLITE_OK) Fail("The statement failed", db_);
            if (!stmt) break;  // only blanks or comments were left
            int rc;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            }
            sqlite3_finalize(stmt);
            if (rc != SQLITE_DONE) Fail("The statement failed", db_);
        }
    }

    std::unique_ptr<Cursor> Query(const std::string& sql) override {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK)
            Fail("The query failed", db_);
        if (!stmt) throw DriverError("The query failed", "the text holds no statement");
        return std::make_unique<SqliteCursor>(db_, stmt);
    }

    void Begin() override { Execute("BEGIN"); }
    void Commit() override { Execute("COMMIT"); }
    void Rollback() override { Execute("ROLLBACK"); }

private:
    sqlite3* db_;
};

}  // namespace

std::unique_ptr<Session> OpenSqliteFile(const std::string& path, bool writable) {
    sqlite3* db = nullptr;
    // A session is used by one thread at a time: no locking in every call.
    const int flags =
        (writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        const std::string text = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw DriverError("The database file " + path + " cannot be opened", text);
    }
    auto session = std::make_unique<SqliteSession>(db);
    // The probe and the queries may call GetDate() as on SQL Server.
    if (sqlite3_create_function_v2(db, "GetDate", 0, SQLITE_UTF8, nullptr, SqliteGetDate, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
        Fail("GetDate() cannot be registered on " + path, db);
    sqlite3_busy_handler(db, WaitWhileBusy, nullptr);
    return session;
}

}  // namespace telwick::db::detail
