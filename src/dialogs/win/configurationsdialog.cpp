// The configuration list on Windows: the resource IDD_CONFIGURATIONS with a
// report-style list view, drawn over ConfigurationsForm.
#include "dialogs/win/windialogs.h"

#include <commctrl.h>

#include <vector>

#include "dialogs/ConfigurationsForm.h"
#include "dialogs/win/resource.h"

namespace telwick::dialogs::win {

namespace {

class ConfigurationsDialog : public ConfigurationsView {
public:
    ConfigurationsForm form{*this};
    HWND dlg = nullptr;
    HWND list = nullptr;

    void Prepare() {
        list = GetDlgItem(dlg, IDC_LSTCONFIGURATIONS);
        // Whole rows are selected; a cell too narrow for its text ends in an
        // ellipsis and shows the whole text as a tip.
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
        const UINT dpi = GetDpiForWindow(dlg);
        for (int c = 0; c < ColumnCount; ++c) {
            std::wstring header = Widen(ListColumns[c].header);
            LVCOLUMNW column{};
            column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            column.fmt = LVCFMT_LEFT;
            column.pszText = header.data();
            // 1440 twips an inch
            column.cx = MulDiv(ListColumns[c].twips, static_cast<int>(dpi), 1440);
            column.iSubItem = c;
            ListView_InsertColumn(list, c, &column);
        }
    }

    void SetTexts(size_t index) {
        const ConfigurationRow& row = form.rows().at(index);
        for (int c = 0; c < ColumnCount; ++c) {
            std::wstring text = Widen(row.texts[static_cast<size_t>(c)]);
            ListView_SetItemText(list, static_cast<int>(index), c, text.data());
        }
    }

    void RowAdded(size_t index) override {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(index);
        item.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertItem(list, &item);
        SetTexts(index);
    }
    void RowChanged(size_t index) override { SetTexts(index); }
    void RowRemoved(size_t index) override { ListView_DeleteItem(list, static_cast<int>(index)); }
    std::string EditRecord(const std::string& record) override { return ShowConfigurationDialog(dlg, record); }

    // The list's current row when it is selected, else the first selected.
    int EditRow() const {
        const int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
        if (focused >= 0 && ListView_GetItemState(list, focused, LVIS_SELECTED)) return focused;
        return ListView_GetNextItem(list, -1, LVNI_SELECTED);
    }

    std::vector<size_t> SelectedRows() const {
        std::vector<size_t> rows;
        for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0;
             i = ListView_GetNextItem(list, i, LVNI_SELECTED))
            rows.push_back(static_cast<size_t>(i));
        return rows;
    }
};

INT_PTR CALLBACK ConfigurationsProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ConfigurationsDialog*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        self = reinterpret_cast<ConfigurationsDialog*>(lParam);
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        self->dlg = dlg;
        PrepareDialog(dlg);
        self->Prepare();
        self->form.Form_Load();
        // The list has the focus, so that Enter is OK (the default button)
        // rather than the Cancel button first in the tab order.
        SetFocus(self->list);
        return FALSE;
    case WM_COMMAND:
        if (!self) break;
        switch (LOWORD(wParam)) {
        case IDC_CMDADD: self->form.cmdAdd_Click(); return TRUE;
        case IDC_CMDEDIT: self->form.cmdEdit_Click(self->EditRow()); return TRUE;
        case IDC_CMDREMOVE: self->form.cmdRemove_Click(self->SelectedRows()); return TRUE;
        case IDOK:
            if (self->form.OKButton_Click()) EndDialog(dlg, IDOK);
            return TRUE;
        case IDCANCEL:  // the button, Esc and the close box
            self->form.CancelButton_Click();
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

}  // namespace

bool ShowConfigurationsDialog(HWND owner) {
    InitCommonControlsOnce();
    ConfigurationsDialog dialog;
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CONFIGURATIONS), owner,
                                           ConfigurationsProc, reinterpret_cast<LPARAM>(&dialog));
    dialog.form.Form_Unload();
    return result == IDOK;
}

}  // namespace telwick::dialogs::win
