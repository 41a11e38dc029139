#include "dialogs/dialogs.h"

#include <QApplication>

#include "database/modDatabase.h"
#include "dialogs/qt/frmConfigurations.h"
#include "dialogs/qt/frmDatabase.h"
#include "platform/messagebox.h"

namespace telwick::dialogs {

namespace {

bool configurationsOpen = false;

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

}  // namespace

void OpenConfigurations() {
    if (configurationsOpen || !HaveWidgets()) return;
    configurationsOpen = true;
    struct Reset {
        ~Reset() { configurationsOpen = false; }
    } reset;
    frmConfigurations form;  // no owner window
    form.exec();
}

bool ConfigurationsOpen() { return configurationsOpen; }

void OpenDatabaseSettings() {
    if (!HaveWidgets()) return;
    frmDatabase form;
    form.exec();
}

void InstallDatabaseDialog() {
    modDatabase::SetDatabaseDialog([] {
        // nobody could answer it without a display: it counts as cancelled
        if (!telwick::platform::HasDisplay()) return;
        OpenDatabaseSettings();
    });
}

}  // namespace telwick::dialogs
