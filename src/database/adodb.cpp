#include "database/adodb.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "database/backend.h"
#include "platform/fault.h"
#include "platform/text.h"

namespace telwick::db {

namespace {

// Error numbers of the data layer that are not driver errors.
constexpr int32_t NoCurrentRecord = 3021;  // EOF reached, no row to read
constexpr int32_t ItemNotFound = 3265;     // no such column
constexpr int32_t ObjectClosed = 3704;     // operation on a closed object
constexpr int32_t ObjectOpen = 3705;       // open on an object that is open

using telwick::Lower;
using telwick::Trim;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The SQL Server ODBC driver we can use, best first; empty when none is there.
std::string SqlServerDriver() {
    const std::vector<std::string> installed = detail::InstalledDrivers();
    for (const char* wanted : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "FreeTDS"})
        if (std::find(installed.begin(), installed.end(), wanted) != installed.end()) return wanted;
    return {};
}

unsigned long connectionCounter = 0;
std::string NextName() { return "telwick-db-" + std::to_string(++connectionCounter); }

// What is still open at the end of the program is closed by a handler that
// runs before the globals go (the shared connection, the monitors' result
// sets): the sessions log out while the drivers are still there. Later
// destructors find nothing left to do.
std::vector<Connection*>& LiveConnections() {
    static auto* live = new std::vector<Connection*>;  // never destroyed
    return *live;
}
bool programEnding = false;

void CloseAllAtExit() {
    const std::vector<Connection*> live = LiveConnections();
    for (Connection* c : live) c->Close();
    keep::Drop();
    programEnding = true;
}

void RegisterExitHandlerOnce() {
    static const bool registered = [] { return std::atexit(CloseAllAtExit) == 0; }();
    (void)registered;
}

// The one kept server session.
struct KeptSession {
    std::unique_ptr<detail::Session> session;     // open, logged in
    std::string name;                             // the name it had while in use
    std::string key;                              // connection text and login it was opened with
    std::chrono::steady_clock::time_point since;  // closed (logically) at
    std::chrono::steady_clock::time_point loggedIn;
};
std::optional<KeptSession> kept;
// The keep time; the tests of the whole service set it through the
// environment (TELWICK_TEST_KEEP_MS, 0 switches the keeping off).
std::chrono::milliseconds InitialIdleTime() {
    const char* text = std::getenv("TELWICK_TEST_KEEP_MS");
    int64_t ms = 0;
    if (!text || std::from_chars(text, text + std::strlen(text), ms).ec != std::errc()) return keep::DefaultIdle;
    return std::chrono::milliseconds(ms);
}
std::chrono::milliseconds idleTime = InitialIdleTime();
keep::Clock keepClock;
uint64_t physicalOpens = 0;

std::chrono::steady_clock::time_point Now() { return keepClock ? keepClock() : std::chrono::steady_clock::now(); }

// The key of a session: what the server sees of the connection text and login.
std::string KeyOf(const std::string& connectionText, const std::string& userId, const std::string& password) {
    return connectionText + '\0' + userId + '\0' + password;
}

// A value's text as the program reads it: numbers in plain decimal.
std::string TextOf(const detail::Value& v) {
    switch (v.kind) {
        case detail::Value::Kind::Null:
            return {};
        case detail::Value::Kind::Integer:
            return std::to_string(v.integer);
        case detail::Value::Kind::Real: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.15g", v.real);
            return buf;
        }
        case detail::Value::Kind::Text:
            break;
    }
    return v.text;
}

std::optional<int64_t> Rounded(double d) {
    if (!std::isfinite(d) || d < -9.2e18 || d > 9.2e18) return std::nullopt;
    return static_cast<int64_t>(d < 0 ? d - 0.5 : d + 0.5);
}

// A value as a number: integers as they are, decimals (MAX over a numeric
// column on some servers, a text of digits) rounded; anything else is no number.
std::optional<int64_t> IntegerOf(const detail::Value& v) {
    switch (v.kind) {
        case detail::Value::Kind::Null:
            return 0;
        case detail::Value::Kind::Integer:
            return v.integer;
        case detail::Value::Kind::Real:
            return Rounded(v.real);
        case detail::Value::Kind::Text:
            break;
    }
    const std::string text = Trim(v.text);
    if (text.empty()) return std::nullopt;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const char* last = text.data() + text.size();
    int64_t n = 0;
    if (auto [end, ec] = std::from_chars(first, last, n); ec == std::errc() && end == last) return n;
    char* end = nullptr;
    const double d = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return Rounded(d);
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
    std::unique_ptr<detail::Session> session = std::move(kept->session);
    kept.reset();
    session.reset();  // logs out
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
    // A path: "/..." here, "C:\..." or "\\server\share\..." on Windows.
    const bool path = !t.dataSource.empty() &&
                      (t.dataSource.front() == '/' || t.dataSource.rfind("\\\\", 0) == 0 ||
                       (t.dataSource.size() >= 3 && std::isalpha(static_cast<unsigned char>(t.dataSource[0])) &&
                        t.dataSource[1] == ':' && (t.dataSource[2] == '\\' || t.dataSource[2] == '/')));
    if (path || EndsWith(lower, ".db") || EndsWith(lower, ".sqlite") || EndsWith(lower, ".sqlite3"))
        t.kind = Target::Kind::SqliteFile;
    else if (detail::IsDataSourceName(t.dataSource))
        t.kind = Target::Kind::OdbcDsn;
    else
        t.kind = Target::Kind::SqlServerHost;
    return t;
}

// --- Connection ----------------------------------------------------------------

Connection::Connection() : name_(NextName()) { LiveConnections().push_back(this); }

Connection::~Connection() {
    Close();
    auto& live = LiveConnections();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

int32_t Connection::State() const { return open_ ? adStateOpen : adStateClosed; }

void Connection::Raise(const std::string& what, const std::string& driverText) const {
    std::string text = driverText.empty() ? what : what + ": " + driverText;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    // Drivers like to repeat the login in their messages, as given or as it
    // went into the connection text.
    for (const std::string* secret : {&password_, &userId_}) {
        text = telwick::ReplaceAll(text, detail::OdbcValue(*secret), "***");
        text = telwick::ReplaceAll(text, *secret, "***");
    }
    failed_ = true;  // a session that failed once is not kept
    throw Fault(FaultNr::Database, text);
}

void Connection::CheckStillThere() const {
    if (target_.kind != Target::Kind::SqliteFile) return;
    if (platform::IdentifyFile(target_.dataSource) != fileId_)
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
    if (programEnding) throw Fault(FaultNr::Database, "The program is ending.");
    RegisterExitHandlerOnce();
    if (target_.kind != Target::Kind::SqliteFile) {
        // The kept session serves only the same server and login, and only
        // within its keep time; any other Open ends it.
        const std::string key = KeyOf(connectionText, userId, password);
        if (kept && kept->key == key && Now() - kept->loggedIn < keep::MaxAge && !keep::DropIfIdle()) {
            session_ = std::move(kept->session);
            name_ = kept->name;
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
    name_ = NextName();

    if (target_.kind == Target::Kind::SqliteFile) {
        // Never create a database: a missing file is a failed open.
        const auto id = platform::IdentifyFile(target_.dataSource);
        if (!id) Raise("The database file " + target_.dataSource + " does not exist", {});
        fileId_ = *id;
        try {
            session_ = detail::OpenSqliteFile(target_.dataSource, false);
        } catch (const detail::DriverError& e) {
            Raise(e.what(), e.driverText());
        }
        open_ = true;
        return;
    }

    std::string odbc;
    if (target_.kind == Target::Kind::OdbcDsn) {
        odbc = "DSN=" + detail::OdbcValue(target_.dataSource) + ";";
        if (!target_.catalogue.empty()) odbc += "DATABASE=" + detail::OdbcValue(target_.catalogue) + ";";
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
        odbc = "DRIVER={" + driver + "};SERVER=" + detail::OdbcValue(host) + ";";
        if (!port.empty()) odbc += "PORT=" + detail::OdbcValue(port) + ";";
        if (!target_.catalogue.empty()) odbc += "DATABASE=" + detail::OdbcValue(target_.catalogue) + ";";
        if (target_.integratedSecurity) odbc += "Trusted_Connection=Yes;";
        // The old provider did not encrypt either; servers on the LAN rarely have a
        // certificate the client trusts.
        if (driver != "FreeTDS")
            odbc += "TrustServerCertificate=Yes;";
        else
            odbc += "ClientCharset=UTF-8;";
    }
    userId_ = userId;
    password_ = password;
    try {
        session_ = detail::OpenOdbc(odbc, userId, password);
    } catch (const detail::DriverError& e) {
        Raise("The connection to " + target_.dataSource + " cannot be opened", e.driverText());
    }
    ++physicalOpens;
    loggedIn_ = Now();
    keepKey_ = KeyOf(connectionText, userId, password);
    open_ = true;
}

void Connection::Execute(const std::string& commandText, int32_t /*options*/) {
    if (!open_) throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    CheckStillThere();
    try {
        session_->Execute(commandText);
    } catch (const detail::DriverError& e) {
        Raise("The statement failed", e.driverText());
    }
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
    std::unique_ptr<detail::Session> session = std::move(session_);
    if (!session || keepKey_.empty() || failed_ || session->Lost() || idleTime.count() <= 0 || programEnding)
        return;
    keep::Drop();  // one kept session at a time
    kept = KeptSession{std::move(session), name_, keepKey_, Now(), loggedIn_};
}

// --- Recordset -------------------------------------------------------------------

struct Recordset::Impl {
    Connection* connection = nullptr;
    std::unique_ptr<detail::Cursor> cursor;
    std::vector<std::string> names;  // column names in lower case
    // The field names asked for so far, as written, with their positions: a
    // loop that reads the same fields row after row finds each with one plain
    // comparison.
    std::vector<std::pair<std::string, int>> resolved;
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
    try {
        impl->cursor = activeConnection->session_->Query(source);
        for (int i = 0; i < impl->cursor->Columns(); ++i) impl->names.push_back(Lower(impl->cursor->Name(i)));
        impl->eof = !impl->cursor->Next();
    } catch (const detail::DriverError& e) {
        impl.reset();
        activeConnection->Raise(e.what(), e.driverText());
    }
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
    try {
        impl_->eof = !impl_->cursor->Next();
    } catch (const detail::DriverError& e) {
        impl_->eof = true;
        impl_->connection->Raise(e.what(), e.driverText());
    }
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
    auto& resolved = impl_->resolved;
    for (const auto& [asked, position] : resolved)
        if (asked == field) return position;
    // Column names compare without regard to case, as the servers treat them.
    const auto& names = impl_->names;
    for (size_t k = 0; k < names.size(); ++k) {
        if (!telwick::EqualsLowered(names[k], field)) continue;
        // A few spellings per column at most; a caller that makes up new
        // ones every row is still answered, without being remembered.
        if (resolved.size() < 2 * names.size()) resolved.emplace_back(field, static_cast<int>(k));
        return static_cast<int>(k);
    }
    throw Fault(ItemNotFound,
                "Item cannot be found in the collection corresponding to the requested name or "
                "ordinal: " +
                    field);
}

int Recordset::FieldCount() const {
    if (!impl_) throw Fault(ObjectClosed, "Operation is not allowed when the object is closed.");
    return static_cast<int>(impl_->names.size());
}

const detail::Value& Recordset::Get(int position) const {
    CheckRow();
    if (position < 0 || position >= static_cast<int>(impl_->names.size()))
        throw Fault(ItemNotFound,
                    "Item cannot be found in the collection corresponding to the "
                    "requested name or ordinal.");
    try {
        return impl_->cursor->Get(position);
    } catch (const detail::DriverError& e) {
        impl_->connection->Raise(e.what(), e.driverText());
    }
}

bool Recordset::IsNull(const std::string& field) const { return IsNull(Index(field)); }

bool Recordset::IsNull(int position) const { return Get(position).kind == detail::Value::Kind::Null; }

std::string Recordset::Text(const std::string& field) const { return Text(Index(field)); }

std::string Recordset::Text(int position) const { return TextOf(Get(position)); }

int64_t Recordset::Integer(const std::string& field) const { return Integer(Index(field)); }

int64_t Recordset::Integer(int position) const {
    const auto n = IntegerOf(Get(position));
    if (!n) throw Fault(FaultNr::TypeMismatch, "Type mismatch");
    return *n;
}

void Recordset::Close() {
    if (!impl_) return;
    impl_->connection->recordsets_.erase(this);
    impl_.reset();
}

}  // namespace telwick::db
