// The entry points of the dialogs on Windows, and what the dialogs share.
#include "dialogs/dialogs.h"

#include "dialogs/win/windialogs.h"

#include <commctrl.h>

#include <vector>

#include "database/modDatabase.h"
#include "dialogs/win/resource.h"
#include "platform/messagebox.h"
#include "platform/win/wide.h"

namespace telwick::dialogs {

namespace {
bool configurationsOpen = false;
}  // namespace

bool win::OpenConfigurationList() {
    if (configurationsOpen) return false;
    configurationsOpen = true;
    struct Reset {
        ~Reset() { configurationsOpen = false; }
    } reset;
    return ShowConfigurationsDialog(DialogOwner());
}

void OpenConfigurations() { win::OpenConfigurationList(); }

bool ConfigurationsOpen() { return configurationsOpen; }

void OpenDatabaseSettings() { win::ShowDatabaseDialog(win::DialogOwner()); }

void InstallDatabaseDialog() {
    modDatabase::SetDatabaseDialog([] {
        // Nobody could answer it without a desktop (a service in session 0):
        // it counts as cancelled.
        if (!telwick::platform::HasDisplay()) return;
        OpenDatabaseSettings();
    });
}

}  // namespace telwick::dialogs

namespace telwick::dialogs::win {

std::wstring Widen(std::string_view text) { return platform::win::Widen(text); }

std::string Narrow(std::wstring_view text) { return platform::win::Narrow(text); }

std::string ControlText(HWND dlg, int id) {
    const HWND control = GetDlgItem(dlg, id);
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextW(control, text.data(), length + 1);
    return Narrow(std::wstring_view(text.data(), static_cast<size_t>(got > 0 ? got : 0)));
}

void SetControlText(HWND dlg, int id, const std::string& text) { SetDlgItemTextW(dlg, id, Widen(text).c_str()); }

void InitCommonControlsOnce() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES;
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)done;
}

HWND DialogOwner() {
    static HWND owner = [] {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = instance;
        wc.lpszClassName = L"TelwickDialogOwner";
        RegisterClassExW(&wc);
        return CreateWindowExW(0, wc.lpszClassName, L"Telwick", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                               nullptr);
    }();
    return IsWindow(owner) ? owner : nullptr;
}

void PrepareDialog(HWND dlg) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const UINT dpi = GetDpiForWindow(dlg);
    auto load = [&](int metricX, int metricY) {
        return reinterpret_cast<LPARAM>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TELWICK), IMAGE_ICON,
                                                   GetSystemMetricsForDpi(metricX, dpi),
                                                   GetSystemMetricsForDpi(metricY, dpi), LR_SHARED));
    };
    SendMessageW(dlg, WM_SETICON, ICON_SMALL, load(SM_CXSMICON, SM_CYSMICON));
    SendMessageW(dlg, WM_SETICON, ICON_BIG, load(SM_CXICON, SM_CYICON));
    // Opened by a click on the icon, the dialog belongs in front of the
    // program the user was in.
    SetForegroundWindow(dlg);
}

}  // namespace telwick::dialogs::win
