#include "support/process.h"

#include <cstdlib>

#include "platform/lifecycle.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace telwick::test {

EndProgramThrows::EndProgramThrows() {
    platform::SetEndProgramHandler([](int status) { throw ProgramEnded{status}; });
}

EndProgramThrows::~EndProgramThrows() { platform::SetEndProgramHandler(nullptr); }

std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& set,
                                         const std::set<std::string>& removed) {
    std::vector<std::string> out;
#ifdef _WIN32
    char** const all = _environ;
#else
    char** const all = environ;
#endif
    for (char** e = all; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!set.count(name) && !removed.count(name)) out.push_back(entry);
    }
    for (const auto& [name, value] : set) out.push_back(name + "=" + value);
    return out;
}

}  // namespace telwick::test
