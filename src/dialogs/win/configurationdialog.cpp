// The configuration editor on Windows: the resource IDD_CONFIGURATION with
// three image combos (ComboBoxEx) and the standard open-file dialog, drawn over
// ConfigurationForm.
#include "dialogs/win/windialogs.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <vector>

#include "dialogs/ConfigurationForm.h"
#include "dialogs/win/resource.h"

namespace telwick::dialogs::win {

namespace {

constexpr std::array<int, ComboCount> ComboIds = {IDC_CBOCOMPUTER, IDC_CBOEVENTTYPE, IDC_CBOEVENTLEVEL};
constexpr std::array<int, ComboCount> ComboIcons = {IDI_COMPUTER, IDI_EVENTTYPE, IDI_EVENTLEVEL};
constexpr std::array<int, CheckCount> CheckIds = {IDC_CHKMESSAGEBOX, IDC_CHKEVENTLOG, IDC_CHKRUNBATCH};

struct ConfigurationDialog {
    explicit ConfigurationDialog(const std::string& record) : form(record) {}
    ConfigurationForm form;
    HIMAGELIST images = nullptr;
    ~ConfigurationDialog() {
        if (images) ImageList_Destroy(images);
    }
};

// --- the image combos -------------------------------------------------------------

// The closed combo draws its item itself: a name too long for the field ends in
// an ellipsis ("WS-ACCOUNTING (CORV…") rather than being cut without a sign.
// Delete and Backspace take the selection back: an open filter.
LRESULT CALLBACK ComboSubclass(HWND combo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_DRAWITEM) {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if ((item->itemState & ODS_COMBOBOXEDIT) && item->itemID != static_cast<UINT>(-1)) {
            wchar_t text[512] = {};
            COMBOBOXEXITEMW entry{};
            entry.mask = CBEIF_TEXT | CBEIF_IMAGE;
            entry.iItem = static_cast<INT_PTR>(item->itemID);
            entry.pszText = text;
            entry.cchTextMax = ARRAYSIZE(text);
            SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&entry));
            const bool selected = (item->itemState & ODS_SELECTED) != 0;
            FillRect(item->hDC, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
            RECT area = item->rcItem;
            area.left += 2;
            const auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(combo, CBEM_GETIMAGELIST, 0, 0));
            int cx = 0, cy = 0;
            if (images && ImageList_GetIconSize(images, &cx, &cy)) {
                ImageList_Draw(images, entry.iImage, item->hDC, area.left,
                               area.top + (area.bottom - area.top - cy) / 2, ILD_TRANSPARENT);
                area.left += cx + 4;
            }
            SetBkMode(item->hDC, TRANSPARENT);
            SetTextColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
            DrawTextW(item->hDC, text, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
            if (item->itemState & ODS_FOCUS) DrawFocusRect(item->hDC, &item->rcItem);
            return TRUE;
        }
    }
    return DefSubclassProc(combo, message, wParam, lParam);
}

LRESULT CALLBACK InnerComboSubclass(HWND inner, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR comboEx) {
    if (message == WM_KEYDOWN && (wParam == VK_DELETE || wParam == VK_BACK)) {
        SendMessageW(reinterpret_cast<HWND>(comboEx), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        return 0;
    }
    return DefSubclassProc(inner, message, wParam, lParam);
}

void FillCombo(HWND dlg, ConfigurationDialog& self, ComboIndex index) {
    const HWND combo = GetDlgItem(dlg, ComboIds[index]);
    SendMessageW(combo, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(self.images));
    SetWindowSubclass(combo, ComboSubclass, 1, 0);
    if (const auto inner = reinterpret_cast<HWND>(SendMessageW(combo, CBEM_GETCOMBOCONTROL, 0, 0)))
        SetWindowSubclass(inner, InnerComboSubclass, 1, reinterpret_cast<DWORD_PTR>(combo));

    // The open list as wide as its longest name, so that every name can be read.
    const HDC dc = GetDC(combo);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)));
    int widest = 0;
    int position = 0;
    for (const ComboItem& item : self.form.items(index)) {
        std::wstring text = Widen(item.text);
        COMBOBOXEXITEMW entry{};
        entry.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
        entry.iItem = position++;
        entry.pszText = text.data();
        entry.iImage = entry.iSelectedImage = index;
        SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max<int>(widest, size.cx);
    }
    SelectObject(dc, old);
    ReleaseDC(combo, dc);
    int cx = 16, cy = 16;
    ImageList_GetIconSize(self.images, &cx, &cy);
    RECT box{};
    GetWindowRect(combo, &box);
    const int wanted = widest + cx + 12 + GetSystemMetrics(SM_CXVSCROLL);
    const int width = std::min<int>(std::max<int>(wanted, box.right - box.left), GetSystemMetrics(SM_CXSCREEN) / 2);
    SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(width), 0);

    const int selected = self.form.fields().selected[index];
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);  // -1: none, an open filter
}

HIMAGELIST MakeImages(HWND dlg) {
    const UINT dpi = GetDpiForWindow(dlg);
    const int cx = GetSystemMetricsForDpi(SM_CXSMICON, dpi), cy = GetSystemMetricsForDpi(SM_CYSMICON, dpi);
    HIMAGELIST images = ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, ComboCount, 0);
    for (int id : ComboIcons) {
        const auto icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
        ImageList_AddIcon(images, icon);
        if (icon) DestroyIcon(icon);
    }
    return images;
}

// --- the check boxes and the path ----------------------------------------------------

// 0 unchecked, 1 checked, 2 greyed. A greyed box (a record may say 2) is a
// three-state box until it is clicked; then it is checked and has two states.
void SetCheck(HWND dlg, int id, int value) {
    const HWND box = GetDlgItem(dlg, id);
    if (value == 2) {
        SendMessageW(box, BM_SETSTYLE, BS_3STATE, TRUE);
        SendMessageW(box, BM_SETCHECK, BST_INDETERMINATE, 0);
    } else {
        SendMessageW(box, BM_SETSTYLE, BS_AUTOCHECKBOX, TRUE);
        SendMessageW(box, BM_SETCHECK, value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

int CheckValue(HWND dlg, int id) {
    switch (IsDlgButtonChecked(dlg, id)) {
    case BST_CHECKED: return 1;
    case BST_INDETERMINATE: return 2;
    default: return 0;
    }
}

// chkRunBatch_Click: the path and Browse are enabled while the box is checked.
void EnableBatch(HWND dlg) {
    const BOOL on = ConfigurationForm::BatchEnabled(CheckValue(dlg, IDC_CHKRUNBATCH)) ? TRUE : FALSE;
    EnableWindow(GetDlgItem(dlg, IDC_TXTBATCH), on);
    EnableWindow(GetDlgItem(dlg, IDC_CMDBROWSE), on);
}

// The path with its end in sight: a path too long for the field scrolls, and
// the file's name is what shows.
void ShowPath(HWND dlg, const std::string& path) {
    SetControlText(dlg, IDC_TXTBATCH, path);
    const HWND edit = GetDlgItem(dlg, IDC_TXTBATCH);
    const int length = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void Browse(HWND dlg) {
    // "Batch file (*.bat;*.cmd)|*.bat;*.cmd|All files (*.*)|*.*" as the
    // common dialog takes it: NUL between the parts, two at the end.
    std::wstring filter = Widen(BrowseFilter);
    for (wchar_t& c : filter)
        if (c == L'|') c = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');

    const std::string current = ControlText(dlg, IDC_TXTBATCH);
    std::wstring folder = Widen(current);
    const size_t slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);

    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = dlg;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;  // opens on the batch files
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    // The service's working folder stays where it was.
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    const std::string chosen = GetOpenFileNameW(&ofn) ? Narrow(file.data()) : std::string();
    ShowPath(dlg, ConfigurationForm::BrowseResult(current, chosen));
}

ConfigurationFields Shown(HWND dlg) {
    ConfigurationFields shown;
    for (int c = 0; c < ComboCount; ++c) {
        const LRESULT selected = SendDlgItemMessageW(dlg, ComboIds[static_cast<size_t>(c)], CB_GETCURSEL, 0, 0);
        shown.selected[static_cast<size_t>(c)] = selected == CB_ERR ? -1 : static_cast<int>(selected);
    }
    for (int c = 0; c < CheckCount; ++c)
        shown.checks[static_cast<size_t>(c)] = CheckValue(dlg, CheckIds[static_cast<size_t>(c)]);
    shown.batchFile = ControlText(dlg, IDC_TXTBATCH);
    return shown;
}

INT_PTR CALLBACK ConfigurationProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ConfigurationDialog*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        self = reinterpret_cast<ConfigurationDialog*>(lParam);
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        PrepareDialog(dlg);
        self->form.Form_Load();
        self->images = MakeImages(dlg);
        for (int c = 0; c < ComboCount; ++c) FillCombo(dlg, *self, static_cast<ComboIndex>(c));
        const ConfigurationFields& fields = self->form.fields();
        for (int c = 0; c < CheckCount; ++c)
            SetCheck(dlg, CheckIds[static_cast<size_t>(c)], fields.checks[static_cast<size_t>(c)]);
        ShowPath(dlg, fields.batchFile);
        EnableBatch(dlg);
        SetFocus(GetDlgItem(dlg, IDC_CBOCOMPUTER));
        return FALSE;
    }
    case WM_COMMAND:
        if (!self) break;
        switch (LOWORD(wParam)) {
        case IDC_CHKMESSAGEBOX:
        case IDC_CHKEVENTLOG:
        case IDC_CHKRUNBATCH:
            if (HIWORD(wParam) == BN_CLICKED) {
                const int id = LOWORD(wParam);
                // A greyed box becomes a checked two-state box when clicked.
                if (CheckValue(dlg, id) == 2) SetCheck(dlg, id, 1);
                if (id == IDC_CHKRUNBATCH) EnableBatch(dlg);
            }
            return TRUE;
        case IDC_CMDBROWSE: Browse(dlg); return TRUE;
        case IDOK:
            if (self->form.OKButton_Click(Shown(dlg))) EndDialog(dlg, IDOK);
            return TRUE;
        case IDCANCEL:  // the button and Esc
            self->form.CancelButton_Click();
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        default: break;
        }
        break;
    case WM_CLOSE:
        // The close box runs neither OK nor Cancel: the editor hands back the
        // record it was given.
        EndDialog(dlg, 0);
        return TRUE;
    default: break;
    }
    return FALSE;
}

}  // namespace

std::string ShowConfigurationDialog(HWND owner, const std::string& record) {
    InitCommonControlsOnce();
    ConfigurationDialog dialog(record);
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONFIGURATION), owner, ConfigurationProc,
                    reinterpret_cast<LPARAM>(&dialog));
    return dialog.form.record();
}

}  // namespace telwick::dialogs::win
