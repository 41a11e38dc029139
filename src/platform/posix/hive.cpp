#include "platform/posix/hive.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <thread>

namespace telwick::hive {

namespace {

// "TWRG" in the file header marks a hive; the schema version sits beside it.
constexpr int kApplicationId = 0x54575247;
constexpr int kSchemaVersion = 1;
// How long a call waits for another process that holds the hive.
constexpr auto kBusyWait = std::chrono::seconds(10);
constexpr int kBusyTimeoutMs = 10000;
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

thread_local std::string lastError;

struct RootInfo {
    uint32_t handle;
    const char* shortName;
    const char* longName;
    int64_t id;  // fixed row of its top level in every hive
};

constexpr RootInfo kRoots[] = {
    {0x80000000u, "HKCR", "HKEY_CLASSES_ROOT", 1},   {0x80000001u, "HKCU", "HKEY_CURRENT_USER", 2},
    {0x80000002u, "HKLM", "HKEY_LOCAL_MACHINE", 3},  {0x80000003u, "HKU", "HKEY_USERS", 4},
    {0x80000005u, "HKCC", "HKEY_CURRENT_CONFIG", 6},
};
// HKEY_LOCAL_MACHINE\SOFTWARE, present in every hive under this row.
constexpr int64_t kSoftwareId = 16;
constexpr int64_t kMachineId = 3;

const RootInfo* FindRoot(uint32_t handle) {
    for (const auto& r : kRoots)
        if (r.handle == handle) return &r;
    return nullptr;
}

// Names compare without regard to case. ASCII letters fold to lower case, as
// every hive has stored them from the start; any other letter of a UTF-8 name
// folds through its upper case, the way the registry compares names (so final
// and medial sigma are one letter). Bytes that are no UTF-8 stay as they are.
locale_t Utf8Locale() {
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

std::string Fold(const std::string& s) {
    const locale_t loc = Utf8Locale();
    std::string f;
    f.reserve(s.size());
    std::mbstate_t state{};
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80 || !loc) {
            f += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
            ++i;
            continue;
        }
        wchar_t wc = 0;
        const locale_t previous = uselocale(loc);
        size_t n = std::mbrtowc(&wc, s.data() + i, s.size() - i, &state);
        char out[MB_LEN_MAX];
        size_t m = static_cast<size_t>(-1);
        if (n != static_cast<size_t>(-1) && n != static_cast<size_t>(-2) && n != 0) {
            std::mbstate_t outState{};
            m = std::wcrtomb(out, static_cast<wchar_t>(towlower_l(towupper_l(static_cast<wint_t>(wc), loc), loc)),
                             &outState);
        }
        uselocale(previous);
        if (m == static_cast<size_t>(-1)) {
            state = std::mbstate_t{};
            f += static_cast<char>(c);
            ++i;
            continue;
        }
        f.append(out, m);
        i += n;
    }
    return f;
}

// Hives written before names of other letters were folded hold such names
// folded in ASCII alone: a name is also compared by folding the stored name
// afresh (the older row first, should an old hive hold two spellings).
constexpr const char* kFoldMatch = "(fold = ?2 OR telwick_fold(name) = ?2) ORDER BY id LIMIT 1";

void FoldFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const void* p = sqlite3_value_blob(argv[0]);
    const int n = sqlite3_value_bytes(argv[0]);
    const std::string folded = Fold(p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : "");
    sqlite3_result_blob(ctx, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

// A failure of SQLite, carried to the transaction loop.
struct SqlError {
    int rc;
    std::string message;
};

[[noreturn]] void Throw(sqlite3* db, int rc) { throw SqlError{rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)}; }

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) : db_(db) {
        int rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
        if (rc != SQLITE_OK) Throw(db, rc);
    }
    ~Stmt() { sqlite3_finalize(stmt_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& Bind(int i, int64_t v) {
        Check(sqlite3_bind_int64(stmt_, i, v));
        return *this;
    }
    Stmt& Bind(int i, const std::string& bytes) {
        // Empty data must stay a zero-length blob, never NULL.
        Check(sqlite3_bind_blob(stmt_, i, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    bool Step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        Throw(db_, rc);
    }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string Blob(int col) {
        const void* p = sqlite3_column_blob(stmt_, col);
        int n = sqlite3_column_bytes(stmt_, col);
        return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) Throw(db_, rc);
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void Exec(sqlite3* db, const char* sql) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Throw(db, rc);
}

int64_t PragmaInt(sqlite3* db, const char* sql) {
    Stmt s(db, sql);
    return s.Step() ? s.Int(0) : 0;
}

// Splits a key path into its names. The empty path is the root itself.
bool SplitPath(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (path.empty()) return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() || name.size() > kMaxKeyName || name.find('\0') != std::string::npos) return false;
        names.push_back(std::move(name));
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool ValidValueName(const std::string& name) {
    return name.size() <= kMaxValueName && name.find('\0') == std::string::npos;
}

enum class FileState { Missing, Empty, Ready };

// What one call works on: an open database inside a transaction, or nothing at
// all while the file is missing (then only the keys that always exist are seen).
struct Ctx {
    sqlite3* db = nullptr;
    FileState state = FileState::Missing;
    bool write = false;
    bool needFile = false;  // set by a write that found no file: make it and run again

    // The row of a key, or NotFound / Invalid / Denied.
    Status Resolve(uint32_t root, const std::string& path, int64_t& id) {
        const RootInfo* r = FindRoot(root);
        if (!r) return Status::Denied;
        std::vector<std::string> names;
        if (!SplitPath(path, names)) return Status::Invalid;
        id = r->id;
        if (state != FileState::Ready) {
            // Only the keys that every hive has.
            if (names.empty()) return Status::Ok;
            if (names.size() == 1 && r->id == kMachineId && Fold(names[0]) == "software") {
                id = kSoftwareId;
                return Status::Ok;
            }
            return Status::NotFound;
        }
        Stmt s(db, (std::string("SELECT id FROM hive_keys WHERE parent = ?1 AND ") + kFoldMatch).c_str());
        for (const auto& name : names) {
            s.Reset();
            s.Bind(1, id).Bind(2, Fold(name));
            if (!s.Step()) return Status::NotFound;
            id = s.Int(0);
        }
        return Status::Ok;
    }

    // True when the call may go on writing; false after it asked for the file.
    bool ReadyToWrite() {
        if (state == FileState::Ready) return true;
        needFile = true;
        return false;
    }
};

class Connection {
public:
    ~Connection() {
        if (db_) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);  // no-op after COMMIT
            sqlite3_close_v2(db_);
        }
    }
    sqlite3* Open(const std::string& path, bool write) {
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
        int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
        if (rc != SQLITE_OK && !write) {
            // A reader without write permission still gets to read.
            sqlite3_close_v2(db_);
            db_ = nullptr;
            rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        }
        if (rc != SQLITE_OK) {
            SqlError e{rc, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)};
            throw e;
        }
        sqlite3_extended_result_codes(db_, 0);
        sqlite3_create_function_v2(db_, "telwick_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   FoldFunction, nullptr, nullptr, nullptr);
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        return db_;
    }

private:
    sqlite3* db_ = nullptr;
};

// What the file holds; throws for a file that is no (longer a whole) hive.
// Runs inside the transaction, so the file cannot change meanwhile.
FileState ReadState(sqlite3* db, const std::string& path) {
    int64_t app = PragmaInt(db, "PRAGMA application_id");
    int64_t version = PragmaInt(db, "PRAGMA user_version");
    // A cut file still has its header; the pages it lacks would be taken for
    // empty ones, and a write would build on them.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size != 0 &&
        st.st_size != PragmaInt(db, "PRAGMA page_count") * PragmaInt(db, "PRAGMA page_size"))
        throw SqlError{SQLITE_CORRUPT,
                       "the file is " + std::to_string(st.st_size) + " bytes long, not the size its header gives"};
    if (app == kApplicationId && version == kSchemaVersion) return FileState::Ready;
    if (app == 0 && version == 0 && PragmaInt(db, "SELECT count(*) FROM sqlite_master") == 0)
        return FileState::Empty;
    throw SqlError{SQLITE_NOTADB, "not a registry hive"};
}

void CreateSchema(sqlite3* db) {
    Exec(db,
         "CREATE TABLE hive_keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name BLOB NOT NULL,"
         " fold BLOB NOT NULL, UNIQUE(parent, fold));"
         "CREATE TABLE hive_values(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, name BLOB NOT NULL,"
         " fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));");
    Stmt ins(db, "INSERT INTO hive_keys(id, parent, name, fold) VALUES(?1, ?2, ?3, ?4)");
    auto add = [&](int64_t id, int64_t parent, const std::string& name) {
        ins.Reset();
        ins.Bind(1, id).Bind(2, parent).Bind(3, name).Bind(4, Fold(name));
        ins.Step();
    };
    for (const auto& r : kRoots) add(r.id, 0, r.longName);
    add(kSoftwareId, kMachineId, "SOFTWARE");
    const std::string marks = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    Exec(db, marks.c_str());
}

// Makes the folders (0700) and the empty file (0600) of a hive that is not there.
bool MakeFile(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            lastError = "cannot create folder " + dir + ": " + std::strerror(errno);
            return false;
        }
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return true;  // another process was quicker
        lastError = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    return true;
}

// Runs body inside one transaction, waiting for other processes that hold the
// hive and starting over when they got in the way.
template <class Body>
Status Transact(bool write, Body&& body) {
    lastError.clear();
    const std::string path = HivePath();
    const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
    bool madeFile = false;
    for (;;) {
        try {
            Ctx ctx;
            ctx.write = write;
            Connection conn;
            struct stat st {};
            if (stat(path.c_str(), &st) != 0) {
                if (errno != ENOENT) {
                    lastError = path + ": " + std::strerror(errno);
                    return Status::Failed;
                }
                Status s = body(ctx);
                if (!ctx.needFile) return s;
                if (madeFile || !MakeFile(path)) {
                    if (lastError.empty()) lastError = "cannot create " + path;
                    return Status::Failed;
                }
                madeFile = true;
                continue;
            }
            ctx.db = conn.Open(path, write);
            Exec(ctx.db, write ? "BEGIN IMMEDIATE" : "BEGIN");
            ctx.state = ReadState(ctx.db, path);
            if (write && ctx.state == FileState::Empty) {
                CreateSchema(ctx.db);
                ctx.state = FileState::Ready;
            }
            Status s = body(ctx);
            if (ctx.needFile) {  // cannot happen with a file, but never loop on it
                lastError = "hive not initialised";
                return Status::Failed;
            }
            Exec(ctx.db, s == Status::Ok && write ? "COMMIT" : "ROLLBACK");
            return s;
        } catch (const SqlError& e) {
            lastError = e.message;
            int rc = e.rc & 0xff;
            if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    lastError = "the hive " + path + " stayed locked by another process";
                    return Status::Failed;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT || rc == SQLITE_FORMAT) {
                lastError = path + " is damaged or not a registry hive (" + e.message + ")";
                return Status::Damaged;
            }
            lastError = path + ": " + e.message;
            return Status::Failed;
        }
    }
}

}  // namespace

uint32_t RootFromName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& r : kRoots)
        if (upper == r.shortName || upper == r.longName) return r.handle;
    return 0;
}

std::string RootName(uint32_t root) {
    const RootInfo* r = FindRoot(root);
    return r ? r->longName : "";
}

std::string HivePath() {
    if (const char* p = std::getenv("TELWICK_REGISTRY"); p && *p) return p;
    if (geteuid() == 0) return "/var/lib/telwick/registry.db";
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/')
        return std::string(x) + "/telwick/registry.db";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    return home + "/.local/state/telwick/registry.db";
}

const std::string& LastError() { return lastError; }

std::string FoldName(const std::string& name) { return Fold(name); }

Status KeyExists(uint32_t root, const std::string& path) {
    return Transact(false, [&](Ctx& ctx) {
        int64_t id = 0;
        return ctx.Resolve(root, path, id);
    });
}

Status ReadValue(uint32_t root, const std::string& path, const std::string& name, Value& out) {
    if (!ValidValueName(name)) return Status::Invalid;
    return Transact(false, [&](Ctx& ctx) {
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s != Status::Ok) return s;
        if (ctx.state != FileState::Ready) return Status::NotFound;
        Stmt q(ctx.db,
               (std::string("SELECT name, type, data FROM hive_values WHERE key = ?1 AND ") + kFoldMatch).c_str());
        q.Bind(1, id).Bind(2, Fold(name));
        if (!q.Step()) return Status::NotFound;
        out.name = q.Blob(0);
        out.type = static_cast<uint32_t>(q.Int(1));
        out.data = q.Blob(2);
        return Status::Ok;
    });
}

Status WriteValue(uint32_t root, const std::string& path, const std::string& name, uint32_t type,
                  const std::string& data) {
    if (!ValidValueName(name)) return Status::Invalid;
    return Transact(true, [&](Ctx& ctx) {
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s != Status::Ok) return s;
        if (!ctx.ReadyToWrite()) return Status::Failed;
        // An existing value keeps its place and the case of its name.
        Stmt find(ctx.db, (std::string("SELECT id FROM hive_values WHERE key = ?1 AND ") + kFoldMatch).c_str());
        find.Bind(1, id).Bind(2, Fold(name));
        if (find.Step()) {
            Stmt up(ctx.db, "UPDATE hive_values SET type = ?2, data = ?3 WHERE id = ?1");
            up.Bind(1, find.Int(0)).Bind(2, static_cast<int64_t>(type)).Bind(3, data);
            up.Step();
            return Status::Ok;
        }
        Stmt ins(ctx.db, "INSERT INTO hive_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)");
        ins.Bind(1, id).Bind(2, name).Bind(3, Fold(name)).Bind(4, static_cast<int64_t>(type)).Bind(5, data);
        ins.Step();
        return Status::Ok;
    });
}

namespace {

// Creates one level below parentId (or finds it); the call must be ready to write.
Status CreateOne(Ctx& ctx, int64_t parentId, const std::string& name, int64_t& id, bool& created) {
    Stmt find(ctx.db, (std::string("SELECT id FROM hive_keys WHERE parent = ?1 AND ") + kFoldMatch).c_str());
    find.Bind(1, parentId).Bind(2, Fold(name));
    if (find.Step()) {
        id = find.Int(0);
        created = false;
        return Status::Ok;
    }
    Stmt ins(ctx.db, "INSERT INTO hive_keys(parent, name, fold) VALUES(?1, ?2, ?3)");
    ins.Bind(1, parentId).Bind(2, name).Bind(3, Fold(name));
    ins.Step();
    id = sqlite3_last_insert_rowid(ctx.db);
    created = true;
    return Status::Ok;
}

}  // namespace

Status CreateKey(uint32_t root, const std::string& parent, const std::string& subKey) {
    if (subKey.size() > kMaxKeyName || subKey.find('\\') != std::string::npos ||
        subKey.find('\0') != std::string::npos)
        return Status::Invalid;
    return Transact(!subKey.empty(), [&](Ctx& ctx) {
        int64_t parentId = 0;
        Status s = ctx.Resolve(root, parent, parentId);
        if (s != Status::Ok || subKey.empty()) return s;
        // A key that is already there needs no file to be made.
        int64_t id = 0;
        if (ctx.Resolve(root, parent.empty() ? subKey : parent + "\\" + subKey, id) == Status::Ok)
            return Status::Ok;
        if (!ctx.ReadyToWrite()) return Status::Failed;
        bool created = false;
        return CreateOne(ctx, parentId, subKey, id, created);
    });
}

Status WriteValues(uint32_t root, const std::string& path, const std::vector<Value>& values,
                   const std::vector<std::string>& removals) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return Status::Invalid;
    for (const auto& v : values)
        if (!ValidValueName(v.name)) return Status::Invalid;
    for (const auto& name : removals)
        if (!ValidValueName(name)) return Status::Invalid;
    return Transact(true, [&](Ctx& ctx) {
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s != Status::Ok && s != Status::NotFound) return s;
        if (!ctx.ReadyToWrite()) return Status::Failed;
        if (s == Status::NotFound) {
            id = FindRoot(root)->id;
            bool made = false;
            for (const auto& name : names) CreateOne(ctx, id, name, id, made);
        }
        Stmt up(ctx.db,
                "INSERT INTO hive_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
        for (const auto& v : values) {
            up.Reset();
            up.Bind(1, id).Bind(2, v.name).Bind(3, Fold(v.name)).Bind(4, static_cast<int64_t>(v.type));
            up.Bind(5, v.data);
            up.Step();
        }
        Stmt del(ctx.db, "DELETE FROM hive_values WHERE key = ?1 AND fold = ?2");
        for (const auto& name : removals) {
            del.Reset();
            del.Bind(1, id).Bind(2, Fold(name));
            del.Step();
        }
        return Status::Ok;
    });
}

Status CreateKeyPath(uint32_t root, const std::string& path, bool* created) {
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return Status::Invalid;
    if (created) *created = false;
    return Transact(true, [&](Ctx& ctx) {
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s == Status::Ok || s != Status::NotFound) return s;
        if (!ctx.ReadyToWrite()) return Status::Failed;
        id = FindRoot(root)->id;
        bool made = false;
        for (const auto& name : names) {
            CreateOne(ctx, id, name, id, made);
        }
        if (created) *created = made;
        return Status::Ok;
    });
}

Status ListKey(uint32_t root, const std::string& path, std::vector<Value>& values,
               std::vector<std::string>& subKeys) {
    return Transact(false, [&](Ctx& ctx) {
        values.clear();
        subKeys.clear();
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s != Status::Ok) return s;
        if (ctx.state != FileState::Ready) {
            if (id == kMachineId) subKeys.push_back("SOFTWARE");
            return Status::Ok;
        }
        Stmt v(ctx.db, "SELECT name, type, data FROM hive_values WHERE key = ?1 ORDER BY id");
        v.Bind(1, id);
        while (v.Step()) values.push_back(Value{v.Blob(0), static_cast<uint32_t>(v.Int(1)), v.Blob(2)});
        Stmt k(ctx.db, "SELECT name FROM hive_keys WHERE parent = ?1 ORDER BY id");
        k.Bind(1, id);
        while (k.Step()) subKeys.push_back(k.Blob(0));
        return Status::Ok;
    });
}

Status DeleteValue(uint32_t root, const std::string& path, const std::string& name) {
    if (!ValidValueName(name)) return Status::Invalid;
    return Transact(true, [&](Ctx& ctx) {
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s != Status::Ok) return s;
        if (ctx.state != FileState::Ready) return Status::NotFound;
        Stmt d(
            ctx.db,
            (std::string("DELETE FROM hive_values WHERE id IN (SELECT id FROM hive_values WHERE key = ?1 AND ") +
             kFoldMatch + ")")
                .c_str());
        d.Bind(1, id).Bind(2, Fold(name));
        d.Step();
        return sqlite3_changes(ctx.db) > 0 ? Status::Ok : Status::NotFound;
    });
}

Status DeleteKey(uint32_t root, const std::string& path) {
    return Transact(true, [&](Ctx& ctx) {
        int64_t id = 0;
        Status s = ctx.Resolve(root, path, id);
        if (s != Status::Ok) return s;
        if (id <= kSoftwareId) return Status::Denied;  // a root or SOFTWARE
        if (ctx.state != FileState::Ready) return Status::NotFound;
        Exec(ctx.db, "CREATE TEMP TABLE doomed(id INTEGER PRIMARY KEY)");
        Stmt collect(ctx.db,
                     "INSERT INTO doomed WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
                     " SELECT k.id FROM hive_keys k JOIN sub ON k.parent = sub.id) SELECT id FROM sub");
        collect.Bind(1, id);
        collect.Step();
        Exec(ctx.db,
             "DELETE FROM hive_values WHERE key IN (SELECT id FROM doomed);"
             "DELETE FROM hive_keys WHERE id IN (SELECT id FROM doomed);"
             "DROP TABLE doomed;");
        return Status::Ok;
    });
}

bool IsPermanentKey(uint32_t root, const std::string& path) {
    if (!FindRoot(root)) return false;
    std::vector<std::string> names;
    if (!SplitPath(path, names)) return false;
    return names.empty() || (root == 0x80000002u && names.size() == 1 && Fold(names[0]) == "software");
}

Status Verify() {
    return Transact(false, [&](Ctx& ctx) {
        if (!ctx.db) return Status::Ok;
        Stmt q(ctx.db, "PRAGMA quick_check");
        while (q.Step()) {
            std::string line = q.Blob(0);
            if (line != "ok") throw SqlError{SQLITE_CORRUPT, line};
        }
        return Status::Ok;
    });
}

}  // namespace telwick::hive
