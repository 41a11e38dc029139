// SQLite files where the system has no sqlite3 library (Windows): through
// the SQLite ODBC driver.
#include "database/backend.h"

namespace telwick::db::detail {

std::unique_ptr<Session> OpenSqliteFile(const std::string& path, bool writable) {
    return OpenSqliteFileOverOdbc(path, writable);
}

}  // namespace telwick::db::detail
