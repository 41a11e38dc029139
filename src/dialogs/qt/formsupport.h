// What the three dialogs share: the fixed window of a settings dialog, the
// twip geometry scaled to the screen, check box values, texts across the
// Qt boundary and the file filter of the browse button.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

class QAbstractButton;
class QCheckBox;
class QDialog;
class QIcon;
class QKeyEvent;
class QWidget;

namespace telwick::dialogs {

// Makes the pictures and icons of the dialogs available (the library is static).
void InitResources();
// The program's own icon in its three sizes.
QIcon ProgramIcon();

// A fixed dialog border without minimise and maximise buttons. The forms are
// laid out in pixels at 96 dpi; on a screen with another logical dpi every
// control is scaled by dpi / 96 before the size is fixed.
void PrepareForm(QDialog* form);
// Esc (alone) presses the dialog's cancel button, so that it runs the Cancel
// handler; the window's close box does not. True when the key was taken.
bool EscapePressesCancel(QKeyEvent* event, QAbstractButton* cancel);
// Twips to pixels on the screen of the widget (1440 twips an inch).
int TwipsToPixels(int twips, const QWidget* widget);

// Texts cross into the core as UTF-8 byte strings.
inline QString FromText(const std::string& text) { return QString::fromStdString(text); }
inline std::string ToText(const QString& text) { return text.toStdString(); }

// Check box values as the stored records write them: 0 unchecked, 1 checked,
// 2 greyed.
int CheckValue(const QCheckBox* box);
// Returns false (and leaves the box alone) for a value outside 0 to 2.
bool SetCheckValue(QCheckBox* box, long long value);

// "Description|pattern;pattern|Description|pattern" as the open-file dialogs of
// the other platform take it, as Qt name filters: "Description (pattern pattern)".
// "*.*" becomes "*" so that files without an extension are listed too. Extra
// patterns may be appended to the first entry (scripts on this platform).
QStringList NameFiltersFromCommonDialog(const QString& filter, const QStringList& extraFirstPatterns = {});

}  // namespace telwick::dialogs
