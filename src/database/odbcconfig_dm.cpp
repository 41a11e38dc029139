// The ODBC configuration as the driver manager tells it (odbc32 on Windows:
// the data sources and drivers of the registry).
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cctype>

#include "database/backend.h"
#include "database/utf16.h"
#include "platform/text.h"

namespace telwick::db::detail {

namespace {

using telwick::Lower;

// Names the driver manager lists through SQLDataSourcesW or SQLDriversW.
template <class List>
std::vector<std::string> Names(List list) {
    std::vector<std::string> out;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return out;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR name[256];
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(list(env, direction, name, static_cast<SQLSMALLINT>(sizeof name / sizeof name[0]), &length)))
            break;
        const size_t shown = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)),
                                              sizeof name / sizeof name[0] - 1);
        out.push_back(ToUtf8(reinterpret_cast<const char16_t*>(name), shown));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return out;
}

}  // namespace

bool IsDataSourceName(const std::string& name) {
    std::string wanted = Lower(name);
    while (!wanted.empty() && std::isspace(static_cast<unsigned char>(wanted.back()))) wanted.pop_back();
    while (!wanted.empty() && std::isspace(static_cast<unsigned char>(wanted.front()))) wanted.erase(0, 1);
    if (wanted.empty()) return false;
    const auto sources = Names([](SQLHENV env, SQLUSMALLINT direction, SQLWCHAR* name, SQLSMALLINT room,
                                  SQLSMALLINT* length) {
        SQLWCHAR description[256];
        SQLSMALLINT descriptionLength = 0;
        return SQLDataSourcesW(env, direction, name, room, length, description,
                               static_cast<SQLSMALLINT>(sizeof description / sizeof description[0]),
                               &descriptionLength);
    });
    return std::any_of(sources.begin(), sources.end(), [&](const std::string& s) { return Lower(s) == wanted; });
}

std::vector<std::string> InstalledDrivers() {
    return Names([](SQLHENV env, SQLUSMALLINT direction, SQLWCHAR* name, SQLSMALLINT room, SQLSMALLINT* length) {
        SQLWCHAR attributes[1024];
        SQLSMALLINT attributesLength = 0;
        return SQLDriversW(env, direction, name, room, length, attributes,
                           static_cast<SQLSMALLINT>(sizeof attributes / sizeof attributes[0]), &attributesLength);
    });
}

}  // namespace telwick::db::detail
