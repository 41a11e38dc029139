// The database connection dialog on Windows: the resource IDD_DATABASE drawn
// over DatabaseForm.
#include "dialogs/win/windialogs.h"

#include "dialogs/DatabaseForm.h"
#include "dialogs/win/resource.h"

namespace telwick::dialogs::win {

namespace {

struct DatabaseDialog {
    DatabaseForm form;
};

int SelectedOption(HWND dlg) { return IsDlgButtonChecked(dlg, IDC_OPTUSER1) == BST_CHECKED ? 1 : 0; }

// optUser_Click: disabling keeps the texts.
void EnableLogin(HWND dlg) {
    const BOOL login = DatabaseForm::LoginEnabled(SelectedOption(dlg)) ? TRUE : FALSE;
    EnableWindow(GetDlgItem(dlg, IDC_TXTUSERNAME), login);
    EnableWindow(GetDlgItem(dlg, IDC_TXTPASSWORD), login);
}

INT_PTR CALLBACK DatabaseProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<DatabaseDialog*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        self = reinterpret_cast<DatabaseDialog*>(lParam);
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        PrepareDialog(dlg);
        const DatabaseFields fields = self->form.Form_Load();
        SetControlText(dlg, IDC_TXTSERVER, fields.server);
        CheckRadioButton(dlg, IDC_OPTUSER0, IDC_OPTUSER1, fields.optUser == 1 ? IDC_OPTUSER1 : IDC_OPTUSER0);
        SetControlText(dlg, IDC_TXTUSERNAME, fields.username);
        SetControlText(dlg, IDC_TXTPASSWORD, fields.password);
        EnableLogin(dlg);
        return TRUE;  // the focus goes to the server's box, first in the tab order
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OPTUSER0:
        case IDC_OPTUSER1:
            if (HIWORD(wParam) == BN_CLICKED) EnableLogin(dlg);
            return TRUE;
        case IDOK: {
            DatabaseFields typed;
            typed.server = ControlText(dlg, IDC_TXTSERVER);
            typed.optUser = SelectedOption(dlg);
            // taken from disabled boxes too
            typed.username = ControlText(dlg, IDC_TXTUSERNAME);
            typed.password = ControlText(dlg, IDC_TXTPASSWORD);
            if (self && self->form.OKButton_Click(typed)) EndDialog(dlg, IDOK);
            return TRUE;
        }
        case IDCANCEL:  // the button, Esc and the close box
            if (self) self->form.CancelButton_Click();
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

void ShowDatabaseDialog(HWND owner) {
    InitCommonControlsOnce();
    DatabaseDialog dialog;
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_DATABASE), owner, DatabaseProc,
                    reinterpret_cast<LPARAM>(&dialog));
    // Whatever closed it.
    dialog.form.Form_Unload();
}

}  // namespace telwick::dialogs::win
