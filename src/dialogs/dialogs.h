// The entry points of the administrator's dialogs, for the tray menu and the
// connection check.
#pragma once

namespace telwick::dialogs {

// Shows frmConfigurations modally, without an owner window. Does nothing when
// it is open already (a second double click on the icon).
void OpenConfigurations();
bool ConfigurationsOpen();

// Shows frmDatabase modally, without an owner window.
void OpenDatabaseSettings();

// Installs frmDatabase as the dialog that CheckDB shows (only with a display;
// without one the dialog counts as cancelled).
void InstallDatabaseDialog();

}  // namespace telwick::dialogs
