// What the Windows dialogs share: texts across the UTF-16 boundary, the
// common controls, the invisible owner that keeps the dialogs out of the task
// bar, and the three dialogs themselves.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace telwick::dialogs::win {

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
// The text of a dialog's control, as UTF-8.
std::string ControlText(HWND dlg, int id);
void SetControlText(HWND dlg, int id, const std::string& text);

// The list view, the image combos (ComboBoxEx) and the other common controls.
void InitCommonControlsOnce();
// An invisible window that owns the dialogs opened "without an owner": they
// stay out of the task bar and are modal to no window of the program.
HWND DialogOwner();
// The program's icon on a dialog's frame and in the task bar; a dialog opened
// from the tray comes to the front.
void PrepareDialog(HWND dlg);

// The three dialogs, modal. The list and the database dialog return when they
// are closed; the editor returns the record it hands back (the edited one
// after OK, "" after Cancel, the given one after the close box).
void ShowDatabaseDialog(HWND owner);
bool ShowConfigurationsDialog(HWND owner);  // true: closed with OK (saved)
// The list as the neutral OpenConfigurations opens it (once at a time);
// true when it was saved with OK.
bool OpenConfigurationList();
std::string ShowConfigurationDialog(HWND owner, const std::string& record);

}  // namespace telwick::dialogs::win
