// The ODBC configuration where unixODBC is the driver manager: its ini files,
// read afresh each time, so that a changed $ODBCINI or $ODBCSYSINI counts at
// once (the driver manager itself remembers the first paths it saw).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "database/backend.h"
#include "platform/text.h"

namespace telwick::db::detail {

namespace {

using telwick::Lower;
using telwick::Trim;

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

std::string SystemFolder() {
    const std::string sys = Env("ODBCSYSINI");
    return sys.empty() ? std::string("/etc") : sys;
}

// The odbc.ini files unixODBC consults: the user's ($ODBCINI instead of
// ~/.odbc.ini) and the system's ($ODBCSYSINI instead of /etc).
std::vector<std::string> OdbcIniFiles() {
    std::vector<std::string> files;
    if (auto v = Env("ODBCINI"); !v.empty())
        files.push_back(v);
    else if (auto home = Env("HOME"); !home.empty())
        files.push_back(home + "/.odbc.ini");
    files.push_back(SystemFolder() + "/odbc.ini");
    return files;
}

}  // namespace

bool IsDataSourceName(const std::string& name) {
    const std::string wanted = Lower(Trim(name));
    if (wanted.empty() || wanted == "odbc data sources" || wanted == "odbc") return false;
    for (const auto& file : OdbcIniFiles())
        for (const auto& section : IniSections(file))
            if (Lower(section) == wanted) return true;
    return false;
}

std::vector<std::string> InstalledDrivers() {
    const std::string inst = Env("ODBCINSTINI");
    const std::string file = !inst.empty() && inst.front() == '/'
                                 ? inst
                                 : SystemFolder() + "/" + (inst.empty() ? std::string("odbcinst.ini") : inst);
    std::vector<std::string> drivers = IniSections(file);
    drivers.erase(std::remove(drivers.begin(), drivers.end(), "ODBC"), drivers.end());
    return drivers;
}

}  // namespace telwick::db::detail
