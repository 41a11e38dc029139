#include "database/adodb.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "platform/fault.h"
#include "platform/lifecycle.h"

namespace telwick::db {

namespace {

// Error numbers of the data layer that are not driver errors.
constexpr int32_t NoCurrentRecord = 3021;  // EOF reached, no row to read
constexpr int32_t ItemNotFound = 3265;     // no such column
constexpr int32_t ObjectClosed = 3704;     // operation on a closed object
constexpr int32_t ObjectOpen = 3705;       // open on an object that is open

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The section names of an ini file ("[name]"), in file order.
std::vector<std::string> IniSections(const std::string& path) {
    std::vector<std::string> out;
    if (path.empty()) return out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
            out.push_back(Trim(line.substr(1, line.size() - 2)));
    }
    return out;
}

// The odbc.ini files unixODBC consults: the user's ($ODBCINI instead of
// ~/.odbc.ini) and the system's ($ODBCSYSINI instead of /etc).
std::vector<std::string> OdbcIniFiles() {
    std::vector<std::string> files;
    if (auto v = Env("ODBCINI"); !v.empty())
        files.push_back(v);
    else if (auto home = Env("HOME"); !home.empty())
        files.push_back(home + "/.odbc.ini");
    const std::string sys = Env("ODBCSYSINI");
    files.push_back((sys.empty() ? std::string("/etc") : sys) + "/odbc.ini");
    return files;
}

bool IsDataSourceName(const std::string& name) {
    const std::string wanted = Lower(Trim(name));
    if (wanted.empty() || wanted == "odbc data sources" || wanted == "odbc") return false;
    for (const auto& file : OdbcIniFiles())
        for (const auto& section : IniSections(file))
            if (Lower(section) == wanted) return true;
    return false;
}

// The SQL Server ODBC drivers we can use, best first.
std::string SqlServerDriver() {
    const std::string sys = Env("ODBCSYSINI");
    const std::string inst = Env("ODBCINSTINI");
    const std::string file = !inst.empty() && inst.front() == '/'
                                 ? inst
                                 : (sys.empty() ? std::string("/etc") : sys) + "/" +
                                       (inst.empty() ? std::string("odbcinst.ini") : inst);
    const std::vector<std::string> files{file};
    std::vector<std::string> installed;
    for (const auto& f : files)
        for (const auto& s : IniSections(f)) installed.push_back(s);
    for (const char* wanted : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "FreeTDS"})
        if (std::find(installed.begin(), installed.end(), wanted) != installed.end()) return wanted;
    return {};
}

// An ODBC connection attribute value between braces, so that ";" and "}" in it
// cannot start a new attribute.
std::string Braced(const std::string& value) {
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

// Braces only where needed: some drivers keep them as part of the value.
std::string Quoted(const std::string& value) {
    if (value.empty()) return value;
    const bool needed = value.find_first_of(";{}") != std::string::npos ||
                        std::isspace(static_cast<unsigned char>(value.front())) ||
                        std::isspace(static_cast<unsigned char>(value.back()));
    return needed ? Braced(value) : value;
}

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

std::atomic<unsigned long> connectionCounter{0};

// Qt keeps its connections in a global that goes away at the end of the
// program, before our own globals (the shared connection, the monitors' result
// sets). Whatever is still open is closed first, by a handler registered after
// that global came to be; later destructors leave Qt alone.
std::set<Connection*>& LiveConnections() {
    static auto* live = new std::set<Connection*>;  // never destroyed
    return *live;
}
bool qtSqlGone = false;

void CloseAllAtExit() {
    const std::set<Connection*> live = LiveConnections();
    for (Connection* c : live) c->Close();
    keep::Drop();
    qtSqlGone = true;
}

void RegisterExitHandlerOnce() {
    static const bool registered = [] { return std::atexit(CloseAllAtExit) == 0; }();
    (void)registered;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& by) {
    if (what.empty()) return;
    for (size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += by.size())
        text.replace(pos, what.size(), by);
}

std::string NextQtName() { return "telwick-db-" + std::to_string(++connectionCounter); }

// Ends a server session: closes it and forgets its Qt connection.
void CloseQtConnection(const std::string& name) {
    if (qtSqlGone) return;
    const QString qname = QString::fromStdString(name);
    {
        QSqlDatabase db = QSqlDatabase::database(qname, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(qname);
}

// The one kept server session.
struct KeptSession {
    std::string qtName;                           // its Qt connection, open
    std::string key;                              // connection text and login it was opened with
    std::chrono::steady_clock::time_point since;  // closed (logically) at
    std::chrono::steady_clock::time_point loggedIn;
};
std::optional<KeptSession> kept;
std::chrono::milliseconds idleTime = keep::DefaultIdle;
keep::Clock keepClock;
uint64_t physicalOpens = 0;

std::chrono::steady_clock::time_point Now() { return keepClock ? keepClock() : std::chrono::steady_clock::now(); }

// The key of a session: what the server sees of the connection text and login.
std::string KeyOf(const std::string& connectionText, const std::string& userId, const std::string& password) {
    return connectionText + '\0' + userId + '\0' + password;
}

// The application takes Qt's SQL drivers with it when it ends: the kept session
// goes first, and none is kept while no application runs after one has ended.
QCoreApplication* endingWatched = nullptr;
bool applicationEnded = false;

void ApplicationEnding() {
    applicationEnded = true;
    endingWatched = nullptr;
    keep::Drop();
}

// With an event loop the kept session does not outlive its keep time even when
// no Open comes (checks switched off, say); without one it is dropped by the
// next Open or by keep::DropIfIdle.
void ArmIdleTimer() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (endingWatched != app) {
        qAddPostRoutine(ApplicationEnding);
        endingWatched = app;
    }
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(app);
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, [] { keep::DropIfIdle(); });
    }
    // A little after the keep time, so that the clock has surely passed it.
    timer->start(static_cast<int>(std::min<long long>(idleTime.count() + 1000, 24LL * 3600 * 1000)));
}

}  // namespace

namespace keep {

void SetIdleTime(std::chrono::milliseconds idle) {
    idleTime = idle;
    DropIfIdle();
}

std::chrono::milliseconds IdleTime() { return idleTime; }

void SetClock(Clock c) { keepClock = std::move(c); }

bool DropIfIdle() {
    if (!kept || (idleTime.count() > 0 && Now() - kept->since < idleTime)) return false;
    Drop();
    return true;
}

void Drop() {
    if (!kept) return;
    const std::string name = kept->qtName;
    kept.reset();
    CloseQtConnection(name);
}

bool Held() { return kept.has_value(); }

uint64_t PhysicalOpens() { return physicalOpens; }

}  // namespace keep

Target ParseTarget(const std::string& connectionText) {
    Target t;
    size_t start = 0;
    while (start <= connectionText.size()) {
        size_t end = connectionText.find(';', start);
        if (end == std::string::npos) end = connectionText.size();
        const std::string part = connectionText.substr(start, end - start);
        start = end + 1;
        const size_t eq = part.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Lower(Trim(part.substr(0, eq)));
        const std::string value = Trim(part.substr(eq + 1));
        if (key == "data source")
            t.dataSource = value;
        else if (key == "initial catalog")
            t.catalogue = value;
        else if (key == "integrated security")
            t.integratedSecurity = Lower(value) == "sspi";
    }
    const std::string lower = Lower(t.dataSource);
    if (!t.dataSource.empty() && (t.dataSource.front() == '/' || EndsWith(lower, ".db") ||
                                  EndsWith(lower, ".sqlite") || EndsWith(lower, ".sqlite3")))
        t.kind = Target::Kind::SqliteFile;
    else if (IsDataSourceName(t.dataSource))
        t.kind = Target::Kind::OdbcDsn;
    else
        t.kind = Target::Kind::SqlServerHost;
    return t;
}

// --- Connection ----------------------------------------------------------------

Connection::Connection() : name_(NextQtName()) { LiveConnections().insert(this); }

Connection::~Connection() {
    Close();
    LiveConnections().erase(this);
}

int32_t Connection::State() const { return open_ ? adStateOpen : adStateClosed; }

void Connection::Raise(const std::string& what, const std::string& driverText) const {
    std::string text = driverText.empty() ? what : what + ": " + driverText;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    // Drivers like to repeat the login in their messages.
    ReplaceAll(text, password_, "***");
    ReplaceAll(text, userId_, "***");
    failed_ = true;  // a session that failed once is not kept
    throw Fault(FaultNr::Database, text);
}

void Connection::CheckStillThere() const {
    if (target_.kind != Target::Kind::SqliteFile) return;
    struct stat st {};
    if (::stat(target_.dataSource.c_str(), &st) != 0 || st.st_dev != fileDev_ || st.st_ino != fileIno_)
        Raise("The database file " + target_.dataSource + " is no longer available", {});
}

void Connection::Open(const std::string& connectionText, const std::string& userId, const std::string& password,
                      int32_t /*options*/) {
    if (open_) throw Fault(ObjectOpen, "Operation is not allowed when the object is open.");
    target_ = ParseTarget(connectionText);
    userId_.clear();
    password_.clear();
    reused_ = false;
    failed_ = false;
    keepKey_.clear();
    if (qtSqlGone) throw Fault(FaultNr::Database, "The program is ending.");
    if (target_.kind != Target::Kind::SqliteFile) {
        // The kept session serves only the same server and login, and only
        // within its keep time; any other Open ends it.
        const std::string key = KeyOf(connectionText, userId, password);
        if (kept && kept->key == key && Now() - kept->loggedIn < keep::MaxAge && !keep::DropIfIdle()) {
            name_ = kept->qtName;
            loggedIn_ = kept->loggedIn;
            kept.reset();
            userId_ = userId;
            password_ = password;
            keepKey_ = key;
            reused_ = true;
            open_ = true;
            return;
        }
        keep::Drop();
    }
    name_ = NextQtName();
    const QString qname = QString::fromStdString(name_);

    if (target_.kind == Target::Kind::SqliteFile) {
        // Never create a database: a missing file is a failed open.
        struct stat st {};
        if (::stat(target_.dataSource.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            Raise("The database file " + target_.dataSource + " does not exist", {});
        fileDev_ = st.st_dev;
        fileIno_ = st.st_ino;
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", qname);
        RegisterExitHandlerOnce();
        db.setDatabaseName(QString::fromStdString(target_.dataSource));
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (!db.open()) {
            const std::string err = db.lastError().text().toStdString();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(qname);
            Raise("The database file " + target_.dataSource + " cannot be opened", err);
        }
        // The probe and the queries may call GetDate() as on SQL Server.
        QVariant handle = db.driver()->handle();
        sqlite3* h = nullptr;
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
            h = *static_cast<sqlite3* const*>(handle.data());
        if (!h || sqlite3_create_function_v2(h, "GetDate", 0, SQLITE_UTF8, nullptr, SqliteGetDate, nullptr,
                                             nullptr, nullptr) != SQLITE_OK) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(qname);
            Raise("GetDate() cannot be registered on " + target_.dataSource, {});
        }
        sqlite3_busy_handler(h, WaitWhileBusy, nullptr);
        open_ = true;
        return;
    }

    std::string odbc;
    if (target_.kind == Target::Kind::OdbcDsn) {
        // Qt puts "DSN=" in front of a text without DRIVER= or SERVER=.
        odbc = target_.dataSource;
        if (!target_.catalogue.empty()) odbc += ";DATABASE=" + Quoted(target_.catalogue);
    } else {
        const std::string driver = SqlServerDriver();
        if (driver.empty())
            Raise(
                "No SQL Server ODBC driver is installed (install Microsoft's \"ODBC Driver 18 for SQL "
                "Server\" (msodbcsql18) or FreeTDS (Debian package tdsodbc))",
                {});
        std::string host = target_.dataSource, port;
        if (driver == "FreeTDS") {
            // FreeTDS takes the port separately; SQL Server writes "host,port".
            if (auto comma = host.find(','); comma != std::string::npos) {
                port = Trim(host.substr(comma + 1));
                host = Trim(host.substr(0, comma));
            }
        }
        odbc = "DRIVER={" + driver + "};SERVER=" + Quoted(host) + ";";
        if (!port.empty()) odbc += "PORT=" + Quoted(port) + ";";
        if (!target_.catalogue.empty()) odbc += "DATABASE=" + Quoted(target_.catalogue) + ";";
        if (target_.integratedSecurity) odbc += "Trusted_Connection=Yes;";
        // The old provider did not encrypt either; servers on the LAN rarely have a
        // certificate the client trusts.
        if (driver != "FreeTDS")
            odbc += "TrustServerCertificate=Yes";
        else
            odbc += "ClientCharset=UTF-8";
    }
    userId_ = userId;
    password_ = password;
    QSqlDatabase db = QSqlDatabase::addDatabase("QODBC", qname);
    RegisterExitHandlerOnce();
    db.setDatabaseName(QString::fromStdString(odbc));
    // Qt appends them as UID=...;PWD=...: a value with ";" or braces must be braced.
    db.setUserName(QString::fromStdString(Quoted(userId)));
    db.setPassword(QString::fromStdString(Quoted(password)));
    db.setConnectOptions("SQL_ATTR_LOGIN_TIMEOUT=15;SQL_ATTR_CONNECTION_TIMEOUT=30");
    if (!db.open()) {
        const std::string err = db.lastError().text().toStdString();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(qname);
        Raise("The connection to " + target_.dataSource + " cannot be opened", err);
    }
    ++physicalOpens;
    loggedIn_ = Now();
    keepKey_ = KeyOf(connectionText, userId, password);
    open_ = true;
}

void Connection::Execute(const std::string& commandText, int32_t /*options*/) {
    if (!open_) throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    CheckStillThere();
    QSqlQuery query(QSqlDatabase::database(QString::fromStdString(name_), false));
    query.setForwardOnly(true);
    if (!query.exec(QString::fromStdString(commandText)))
        Raise("The statement failed", query.lastError().text().toStdString());
    query.finish();
}

void Connection::Close() {
    // Closing a connection closes the result sets still open on it.
    while (!recordsets_.empty()) (*recordsets_.begin())->Close();
    if (!open_) return;
    open_ = false;
    Release();
    userId_.clear();
    password_.clear();
}

void Connection::Release() {
    if (qtSqlGone) return;
    const bool applicationGone = applicationEnded && !QCoreApplication::instance();
    if (keepKey_.empty() || failed_ || idleTime.count() <= 0 || applicationGone) {
        CloseQtConnection(name_);
        return;
    }
    keep::Drop();  // one kept session at a time
    kept = KeptSession{name_, keepKey_, Now(), loggedIn_};
    ArmIdleTimer();
}

// --- Recordset -------------------------------------------------------------------

struct Recordset::Impl {
    Connection* connection = nullptr;
    QSqlQuery query;
    std::vector<std::string> names;  // column names in lower case
    bool eof = true;
};

Recordset::Recordset() = default;

Recordset::~Recordset() { Close(); }

void Recordset::Open(const std::string& source, Connection* activeConnection, int32_t /*cursorType*/,
                     int32_t /*lockType*/, int32_t /*options*/) {
    if (!activeConnection) throw Fault(FaultNr::ObjectRequired, "Object required");
    if (impl_) throw Fault(ObjectOpen, "Operation is not allowed when the object is open.");
    if (activeConnection->State() != adStateOpen)
        throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    activeConnection->CheckStillThere();
    auto impl = std::make_unique<Impl>();
    impl->connection = activeConnection;
    impl->query = QSqlQuery(QSqlDatabase::database(QString::fromStdString(activeConnection->name()), false));
    impl->query.setForwardOnly(true);
    if (!impl->query.exec(QString::fromStdString(source)))
        activeConnection->Raise("The query failed", impl->query.lastError().text().toStdString());
    const QSqlRecord record = impl->query.record();
    for (int i = 0; i < record.count(); ++i) impl->names.push_back(Lower(record.fieldName(i).toStdString()));
    impl->eof = !impl->query.next();
    if (impl->eof && impl->query.lastError().isValid())
        activeConnection->Raise("Reading the result failed", impl->query.lastError().text().toStdString());
    impl_ = std::move(impl);
    activeConnection->recordsets_.insert(this);
}

int32_t Recordset::State() const { return impl_ ? adStateOpen : adStateClosed; }

bool Recordset::EOF_() const {
    if (!impl_) throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    return impl_->eof;
}

void Recordset::MoveNext() {
    CheckRow();
    impl_->eof = !impl_->query.next();
    if (impl_->eof && impl_->query.lastError().isValid())
        impl_->connection->Raise("Reading the result failed", impl_->query.lastError().text().toStdString());
}

void Recordset::CheckRow() const {
    if (!impl_) throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    if (impl_->eof)
        throw Fault(NoCurrentRecord,
                    "Either BOF or EOF is True, or the current record has been deleted. Requested "
                    "operation requires a current record.");
}

int Recordset::Index(const std::string& field) const {
    CheckRow();
    // Column names compare without regard to case, as the servers treat them.
    const auto& names = impl_->names;
    int i = -1;
    for (size_t k = 0; k < names.size() && i < 0; ++k) {
        const std::string& n = names[k];
        if (n.size() != field.size()) continue;
        size_t j = 0;
        while (j < n.size() && n[j] == std::tolower(static_cast<unsigned char>(field[j]))) ++j;
        if (j == n.size()) i = static_cast<int>(k);
    }
    if (i < 0)
        throw Fault(ItemNotFound,
                    "Item cannot be found in the collection corresponding to the requested name or "
                    "ordinal: " +
                        field);
    return i;
}

int Recordset::FieldCount() const {
    if (!impl_) throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    return static_cast<int>(impl_->names.size());
}

bool Recordset::IsNull(const std::string& field) const { return IsNull(Index(field)); }

bool Recordset::IsNull(int position) const {
    CheckRow();
    if (position < 0 || position >= static_cast<int>(impl_->names.size()))
        throw Fault(ItemNotFound,
                    "Item cannot be found in the collection corresponding to the "
                    "requested name or ordinal.");
    return impl_->query.isNull(position);
}

std::string Recordset::Text(const std::string& field) const { return Text(Index(field)); }

std::string Recordset::Text(int position) const {
    if (IsNull(position)) return {};
    const QVariant v = impl_->query.value(position);
    if (v.typeId() == QMetaType::QByteArray) return v.toByteArray().toStdString();
    return v.toString().toStdString();
}

int64_t Recordset::Integer(const std::string& field) const { return Integer(Index(field)); }

int64_t Recordset::Integer(int position) const {
    if (IsNull(position)) return 0;
    const QVariant v = impl_->query.value(position);
    bool ok = false;
    qlonglong n = v.toLongLong(&ok);
    if (!ok) {
        // Decimal columns (MAX over a numeric column on some servers) come as text.
        double d = v.toDouble(&ok);
        if (ok && d >= -9.2e18 && d <= 9.2e18)
            n = static_cast<qlonglong>(d < 0 ? d - 0.5 : d + 0.5);
        else
            ok = false;
    }
    if (!ok) throw Fault(FaultNr::TypeMismatch, "Type mismatch");
    return n;
}

void Recordset::Close() {
    if (!impl_) return;
    impl_->connection->recordsets_.erase(this);
    if (qtSqlGone) {
        (void)impl_.release();  // the end of the program: Qt's side is gone already
        return;
    }
    impl_->query.finish();
    impl_.reset();
}

}  // namespace telwick::db
