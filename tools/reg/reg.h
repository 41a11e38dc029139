// telwick-reg: reads and writes the hive from the command line, in the manner
// of reg.exe. The whole command sits here so that tests drive it directly.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace telwick::reg {

// Runs one command (args without the program name). Questions (overwrite,
// delete) are asked on in only when interactive is true; otherwise /f is
// needed. Returns the exit status: 0 on success, 1 with one line on err.
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        bool interactive);

// The same on the process's own streams; interactive when stdin is a terminal.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace telwick::reg
