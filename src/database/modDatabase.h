// The one shared connection, the settings cache and the connection check.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "database/adodb.h"

namespace modDatabase {

extern std::unique_ptr<telwick::db::Connection> SharedConnection;  // created on first use
extern std::string DBServer;
extern bool DBTrustedConnection;
extern std::string DBUsername;
extern std::string DBPassword;

inline const std::string Catalogue = "Corvane";

// The shared connection, opened and probed, or nullptr when it cannot be had.
telwick::db::Connection* GetConnection();
// True when the shared connection is open and answered "SELECT GetDate() ".
// May show the database dialog, ask whether to reconnect, or end the program.
bool CheckDB();
std::string BuildConnectionString(const std::string& server, const std::string& catalogue, bool trusted);
void WaitSeconds(int32_t seconds);

// The database settings dialog, modal. Installed by the dialogs; without it (or
// without a display) the dialog counts as cancelled.
void SetDatabaseDialog(std::function<void()> showDialog);
void ShowDatabaseDialog();

// Closes the shared connection if it is open (end of a check, the list closing).
void CloseSharedConnection();
// Forget everything (tests): connection, cache, counters.
void Reset();

// While the database is unreachable (from the loss the system log heard of
// until the connection stands again): the time of the first failed attempt of
// this outage; 0 otherwise.
std::time_t OutageSince();
// Told when an outage begins and when it ends (the service shows it in its
// status; nullptr removes it).
void SetOutageObserver(std::function<void()> observer);

// Told the retry number (1 to 3) before each automatic retry of the probe, just
// before its pause (tests; nullptr removes it).
void SetRetryObserver(std::function<void(int32_t retry)> observer);

}  // namespace modDatabase
