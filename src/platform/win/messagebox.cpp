#include "platform/win/messagebox.h"

#include <windows.h>
#include <wtsapi32.h>

#include <algorithm>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/consoleline.h"
#include "platform/win/wide.h"

namespace telwick::platform {

bool HasDisplay() { return win::HasVisibleDesktop(); }

}  // namespace telwick::platform

namespace telwick::platform::win {

namespace {

// Line ends as an edit control wants them: CR LF.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

// The beginning of the text, cut after a word where one ends near the cut,
// never inside a character's surrogate pair.
std::wstring Head(const std::wstring& whole, size_t length) {
    if (length >= whole.size()) return whole;
    if (length > 0 && IS_HIGH_SURROGATE(whole[length - 1])) --length;
    std::wstring head = whole.substr(0, length);
    const size_t blank = head.find_last_of(L" \t\r\n");
    if (blank != std::wstring::npos && blank > 0 && blank + 40 > length) head.resize(blank);
    while (!head.empty() && iswspace(head.back())) head.pop_back();
    return head + L" \u2026";
}

// The window of this thread that a box belongs to: the active dialog, never
// the hidden window.
HWND OwnerWindow() {
    const HWND active = GetActiveWindow();
    return active && IsWindowVisible(active) ? active : nullptr;
}

RECT WorkAreaOf(HWND window) {
    POINT cursor{};
    GetCursorPos(&cursor);
    const HMONITOR monitor =
        window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT area{0, 0, 800, 600};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

// The width a box wraps its text at: half the screen, at most 500 pixels at
// 96 dpi (as the Linux boxes do).
int WrapWidth(const RECT& work, UINT dpi) {
    return std::max(200, std::min<int>((work.right - work.left) / 2, MulDiv(500, static_cast<int>(dpi), 96)));
}

UINT DpiOf(HWND window) {
    if (window) return GetDpiForWindow(window);
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The size of the text wrapped at width: its height, and the width of its
// longest line.
SIZE TextSize(HDC dc, const std::wstring& text, int width) {
    RECT r{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    return {r.right - r.left, r.bottom - r.top};
}
int TextHeight(HDC dc, const std::wstring& text, int width) { return TextSize(dc, text, width).cy; }

// Wide enough for a window manager to show the whole title beside the
// frame's buttons: the title in the caption font with some slack.
int TitleWidth(HWND dlg, const std::wstring& title) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return 0;
    const HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    const HDC dc = GetDC(dlg);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &size);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(dlg, dc);
    DeleteObject(font);
    return size.cx * 5 / 4 + 10 * tm.tmHeight;
}

// --- the box ----------------------------------------------------------------

constexpr int IdText = 100, IdDetails = 101, IdToggle = 102;

struct LongBox {
    std::wstring whole;
    std::wstring title;
    Buttons buttons = Buttons::Ok;
    bool topmost = false;
    // Laid out in WM_INITDIALOG, in pixels of the client area.
    int margin = 0, gap = 0, buttonHeight = 0, detailsHeight = 0;
    int collapsedClientHeight = 0;
    bool detailsShown = false;
};

void SetClientHeight(HWND dlg, int clientHeight) {
    RECT window{}, client{};
    GetWindowRect(dlg, &window);
    GetClientRect(dlg, &client);
    const int frame = (window.bottom - window.top) - (client.bottom - client.top);
    SetWindowPos(dlg, nullptr, 0, 0, window.right - window.left, clientHeight + frame,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PlaceButtons(HWND dlg, LongBox& box, int top) {
    RECT client{};
    GetClientRect(dlg, &client);
    RECT unit{50, 14, 0, 0};
    MapDialogRect(dlg, &unit);
    const int width = unit.left;
    int right = client.right - box.margin;
    for (int id : {IDNO, IDYES, IDOK}) {
        const HWND button = GetDlgItem(dlg, id);
        if (!button || !(GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE)) continue;
        SetWindowPos(button, nullptr, right - width, top, width, box.buttonHeight, SWP_NOZORDER);
        right -= width + box.gap;
    }
    RECT toggleUnit{70, 0, 0, 0};
    MapDialogRect(dlg, &toggleUnit);
    if (const HWND toggle = GetDlgItem(dlg, IdToggle))
        SetWindowPos(toggle, nullptr, box.margin, top, toggleUnit.left, box.buttonHeight, SWP_NOZORDER);
}

void ToggleDetails(HWND dlg, LongBox& box) {
    box.detailsShown = !box.detailsShown;
    const HWND details = GetDlgItem(dlg, IdDetails);
    ShowWindow(details, box.detailsShown ? SW_SHOW : SW_HIDE);
    SetDlgItemTextW(dlg, IdToggle, box.detailsShown ? L"Hide &Details..." : L"Show &Details...");
    RECT detailsRect{};
    GetWindowRect(details, &detailsRect);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&detailsRect), 2);
    const int buttonsTop = box.detailsShown ? detailsRect.bottom + box.margin
                                            : box.collapsedClientHeight - box.margin - box.buttonHeight;
    SetClientHeight(dlg, buttonsTop + box.buttonHeight + box.margin);
    PlaceButtons(dlg, box, buttonsTop);
    if (box.detailsShown) SetFocus(details);
}

HWND AddControl(HWND dlg, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
    const HWND control = CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 10, 10, dlg,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                         GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, SendMessageW(dlg, WM_GETFONT, 0, 0), FALSE);
    return control;
}

void LayOut(HWND dlg, LongBox& box) {
    SetWindowTextW(dlg, box.title.c_str());
    // The program's icon (resource 1) on the frame and in the task bar.
    for (const auto& [kind, cx, cy] : {std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}, std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}})
        if (const HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                           GetSystemMetrics(cx), GetSystemMetrics(cy), LR_SHARED))
            SendMessageW(dlg, WM_SETICON, kind, reinterpret_cast<LPARAM>(icon));

    RECT units{7, 4, 0, 14};
    MapDialogRect(dlg, &units);
    box.margin = units.left;
    box.gap = units.top;
    box.buttonHeight = units.bottom;

    const RECT work = WorkAreaOf(dlg);
    int width = WrapWidth(work, DpiOf(dlg));
    RECT window{}, client{};
    GetWindowRect(dlg, &window);
    GetClientRect(dlg, &client);
    const int frame = (window.bottom - window.top) - (client.bottom - client.top);
    const int limit = (work.bottom - work.top) * 2 / 3 - frame;

    const HDC dc = GetDC(dlg);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)));
    const SIZE whole = TextSize(dc, box.whole, width);
    const bool fits = whole.cy + 3 * box.margin + box.buttonHeight <= limit;
    std::wstring head = box.whole;
    int headHeight = whole.cy;
    if (fits) {
        // A short text: as wide as it needs, and as the title and the buttons.
        RECT buttons{2 * 50 + 4, 0, 0, 0};
        MapDialogRect(dlg, &buttons);
        width = std::max({static_cast<int>(whole.cx), static_cast<int>(buttons.left), TitleWidth(dlg, box.title) - 2 * box.margin});
        width = std::min<int>(width, (work.right - work.left) * 9 / 10);
    } else {
        // The longest beginning that leaves room for the opened details.
        box.detailsHeight = limit / 3;
        const int fixed = 4 * box.margin + box.buttonHeight + box.detailsHeight;
        size_t shown = 0, tooLong = std::min<size_t>(box.whole.size(), 10000);
        while (tooLong - shown > 1) {
            const size_t middle = shown + (tooLong - shown) / 2;
            (TextHeight(dc, Head(box.whole, middle), width) + fixed <= limit ? shown : tooLong) = middle;
        }
        head = Head(box.whole, shown);
        headHeight = TextHeight(dc, head, width);
    }
    SelectObject(dc, old);
    ReleaseDC(dlg, dc);

    const HWND text = AddControl(dlg, L"STATIC", head.c_str(), WS_VISIBLE | SS_NOPREFIX | SS_EDITCONTROL, 0, IdText);
    SetWindowPos(text, nullptr, box.margin, box.margin, width, headHeight, SWP_NOZORDER);
    if (!fits) {
        // The whole text, to read and to copy, behind "Show Details...".
        const HWND details = AddControl(dlg, L"EDIT", L"",
                                        WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                                        WS_EX_CLIENTEDGE, IdDetails);
        SendMessageW(details, EM_SETLIMITTEXT, 0, 0);
        SetWindowTextW(details, WithCrLf(box.whole).c_str());
        SetWindowPos(details, nullptr, box.margin, box.margin + headHeight + box.margin, width, box.detailsHeight,
                     SWP_NOZORDER);
        AddControl(dlg, L"BUTTON", L"Show &Details...", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, IdToggle);
    }
    const bool question = box.buttons == Buttons::YesNo;
    if (question) {
        AddControl(dlg, L"BUTTON", L"&Yes", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDYES);
        AddControl(dlg, L"BUTTON", L"&No", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, IDNO);
    } else {
        AddControl(dlg, L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, IDOK);
    }
    SendMessageW(dlg, DM_SETDEFID, question ? IDYES : IDOK, 0);

    box.collapsedClientHeight = box.margin + headHeight + box.margin + box.buttonHeight + box.margin;
    const int clientWidth = width + 2 * box.margin;
    SetWindowPos(dlg, nullptr, 0, 0, clientWidth + (window.right - window.left) - (client.right - client.left),
                 box.collapsedClientHeight + frame, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceButtons(dlg, box, box.collapsedClientHeight - box.margin - box.buttonHeight);

    // Centred on its screen, the top third free for the details to open into.
    GetWindowRect(dlg, &window);
    const int x = work.left + ((work.right - work.left) - (window.right - window.left)) / 2;
    const int y = work.top + ((work.bottom - work.top) - (window.bottom - window.top) - box.detailsHeight) / 2;
    SetWindowPos(dlg, box.topmost ? HWND_TOPMOST : nullptr, x, std::max<int>(work.top, y), 0, 0,
                 SWP_NOSIZE | (box.topmost ? 0 : SWP_NOZORDER));
    SetForegroundWindow(dlg);
    SetFocus(GetDlgItem(dlg, question ? IDYES : IDOK));
}

INT_PTR CALLBACK LongBoxProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* box = reinterpret_cast<LongBox*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        LayOut(dlg, *reinterpret_cast<LongBox*>(lParam));
        return FALSE;  // the focus is set
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDYES:
        case IDNO:
        case IDCANCEL: EndDialog(dlg, LOWORD(wParam)); return TRUE;
        case IdToggle:
            if (box) ToggleDetails(dlg, *box);
            return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

// An empty dialog in the dialog font; LongBoxProc adds the controls.
std::vector<WORD> EmptyDialogTemplate() {
    const DWORD style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    std::vector<WORD> t = {LOWORD(style), HIWORD(style), 0, 0, /* controls */ 0, 0, 0, 200, 100,
                           /* menu, class, title */ 0, 0, 0, /* point size */ 8};
    for (const wchar_t* c = L"MS Shell Dlg"; *c; ++c) t.push_back(static_cast<WORD>(*c));
    t.push_back(0);
    return t;
}

int ShowBox(HWND owner, const std::wstring& text, const std::wstring& title, Buttons buttons) {
    LongBox box;
    box.whole = text;
    box.title = title;
    box.buttons = buttons;
    box.topmost = owner == nullptr;
    const std::vector<WORD> dialog = EmptyDialogTemplate();
    return static_cast<int>(DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                    reinterpret_cast<const DLGTEMPLATE*>(dialog.data()), owner,
                                                    LongBoxProc, reinterpret_cast<LPARAM>(&box)));
}

// --- a service without a desktop ----------------------------------------------

Answer SendToConsoleUser(const std::string& text, const std::string& title, Buttons buttons) {
    const Answer answer = buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    const DWORD session = WTSGetActiveConsoleSessionId();
    bool someone = false;
    if (session != 0xFFFFFFFF) {
        LPWSTR user = nullptr;
        DWORD bytes = 0;
        if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &user, &bytes)) {
            someone = user && *user;
            WTSFreeMemory(user);
        }
    }
    if (someone) {
        std::wstring body = Widen(text);
        if (body.size() > SessionMessageLimit) body = Head(body, SessionMessageLimit);
        std::wstring caption = Widen(title);
        DWORD response = 0;
        // Not waited for: the service goes on at once, as if OK (or Yes) had
        // been chosen; the box stays with the user until closed.
        if (WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, session, caption.data(),
                            static_cast<DWORD>(caption.size() * sizeof(wchar_t)), body.data(),
                            static_cast<DWORD>(body.size() * sizeof(wchar_t)), MB_OK | MB_SETFOREGROUND | MB_TOPMOST,
                            0, &response, FALSE))
            return answer;
    }
    // Nobody there to see it: the line of the console host, answered at once.
    return ConsoleMessageBox().Show(text, title, buttons);
}

}  // namespace

bool HasVisibleDesktop() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

Answer DesktopMessageBox::Show(const std::string& text, const std::string& title, Buttons buttons) {
    if (!HasVisibleDesktop()) return SendToConsoleUser(text, title, buttons);
    const std::wstring body = Widen(text);
    const std::wstring caption = Widen(title);
    const HWND owner = OwnerWindow();
    const bool question = buttons == Buttons::YesNo;
    const int result = ShowBox(owner, body, caption, buttons);
    if (!question) return Answer::Ok;
    return result == IDYES ? Answer::Yes : Answer::No;
}

}  // namespace telwick::platform::win
