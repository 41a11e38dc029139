// The command lines of the programs the monitors start, as text, without any
// Windows call (so that the rules are tested on their own).
//
// A batch file runs in cmd.exe, which parses its command line a second time:
// it expands %NAME% (and %NAME:~a,b%) before anything else, whether in quotes
// or not; outside quotes & | < > ( ) ^ start or change commands; a line feed
// ends the command and carriage returns vanish. The message of an event comes
// from remote computers, so it is written such that cmd.exe hands it to the
// batch file as its %1, in double quotes, and starts nothing else:
//   - the whole message stands in double quotes, and a double quote inside it
//     is written twice: every character stays inside quotes for cmd.exe, and
//     %1 stays one balanced quoted word that the batch file may use again
//     (echo %1, call x.bat %1) without letting the text out. %~1 shows the
//     inner quotes doubled;
//   - a % is written %%cd:~,% : cmd.exe keeps the first %, and %cd:~,% (an
//     empty piece of the current folder's name, which always exists) takes up
//     the original %, so no name between two % is ever looked up;
//   - a line break (CR, LF, CR LF) and NUL become one blank: cmd.exe has no
//     escape for them that survives its parse;
//   - everything else (^ & | < > ( ) ! , ; = tab, backslashes, any Unicode)
//     passes unchanged: inside quotes cmd.exe takes it literally, and cmd.exe
//     runs with delayed expansion off, so ! is not special.
// cmd.exe refuses a command longer than 8191 characters: the message is cut
// (between characters, never inside an escape) so that the line fits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace telwick::platform::win {

// cmd.exe's limit on one command line, in UTF-16 units.
constexpr size_t CmdLineLimit = 8191;

// The path names a batch file (.bat or .cmd, in any case): it runs in cmd.exe.
bool IsBatchFile(std::string_view path);

// The message as the batch file's %1: in double quotes, escaped as above, at
// most budget UTF-16 units long (the text is cut to fit).
std::string QuoteBatchArgument(std::string_view message, size_t budget = CmdLineLimit);

// The text after cmd.exe's own name: /e:on /v:off /d /s /c ""PATH" "MESSAGE""
// (extensions on for %cd:~,%; delayed expansion off; no AutoRun commands; /s
// takes the outermost quotes off and leaves the rest as written). The path is
// quoted too (a folder name with a blank is common) and its % escaped like the
// message's. Empty when the path itself cannot be passed (a double quote or a
// control character in it).
std::string BatchCommandLine(std::string_view path, std::string_view message);

// For a program that is not a batch file: the argument as the C runtime of
// the program splits its command line (double quotes around it; a double
// quote inside written \" and the backslashes before it doubled).
std::string QuoteProgramArgument(std::string_view argument);

}  // namespace telwick::platform::win
