// What the service shows on standard error is its own lines only: Qt's messages
// pass through one handler, and Qt finds the private runtime folder it wants.
#pragma once

#include <QtGlobal>

#include <string>
#include <string_view>

namespace telwick::service {

// Gives the process a private runtime folder ($XDG_RUNTIME_DIR) when it has
// none, as a system service started by systemd has none: the folder systemd
// made for the unit ($RUNTIME_DIRECTORY, /run/telwick), else /run/telwick for root
// (only root may create names in /run, so nobody can put a folder or link
// there first), else /tmp/telwick-runtime-UID when it is ours, a real folder
// and closed to others, else a fresh folder from mkdtemp in /tmp. Each is made
// with mode 0700. Before the QApplication.
void PrepareRuntimeDirectory();

// A warning of Qt's SQL drivers about a statement or a connection that failed:
// the program's own entries (111, the error dialogs) already say it.
bool CoveredByOwnEntries(QtMsgType type, std::string_view message);
// The line a Qt message becomes: "Telwick: Qt: " + message, control characters
// escaped, and a line feed.
std::string QtMessageLine(std::string_view message);

// Routes Qt's messages to standard error as QtMessageLine, without the covered
// warnings; with keepAll (a -debug run) every message is shown.
void InstallQtMessageHandler(bool keepAll);

}  // namespace telwick::service
