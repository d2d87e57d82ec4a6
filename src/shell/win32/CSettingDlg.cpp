#include "CSettingDlg.h"

#include "AppModule.h"
#include "CAboutDlg.h"
#include "PortNames.h"
#include "resource.h"

#include <array>
#include <string>

INT_PTR CSettingDlg::DoModal(HWND owner)
{
    return ::DialogBoxParamW(_Module.GetResourceInstance(), MAKEINTRESOURCEW(IDD_SETTING), owner,
                             &CSettingDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CSettingDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto *self = reinterpret_cast<CSettingDlg *>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->Dialog = dialog;
        return self->OnInitDialog();
    }
    auto *self = reinterpret_cast<CSettingDlg *>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr || message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        self->OnOK();
        return TRUE;
    case IDCANCEL:
        self->OnCancel();
        return TRUE;
    case IDC_PORT:
        if (HIWORD(wParam) == CBN_SELCHANGE)
            self->showDevice();
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CSettingDlg::OnInitDialog()
{
    PortCombo = ::GetDlgItem(Dialog, IDC_PORT);
    for (int i = 0; i < PortCount; ++i) {
        std::array<wchar_t, 8> name {};
        ::wsprintfW(name.data(), L"COM%d", i + 1);
        ::SendMessageW(PortCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.data()));
    }
    // An index outside the list selects nothing, and the selection is what counts from here on.
    ::SendMessageW(PortCombo, CB_SETCURSEL, static_cast<WPARAM>(SelectedPort), 0);
    SelectedPort = static_cast<int>(::SendMessageW(PortCombo, CB_GETCURSEL, 0, 0));
    showDevice();
    CentreDialog(Dialog, ::GetWindow(Dialog, GW_OWNER));
    // The system gives the focus to the template's first control, the OK button.
    return TRUE;
}

void CSettingDlg::OnOK()
{
    SelectedPort = static_cast<int>(::SendMessageW(PortCombo, CB_GETCURSEL, 0, 0));
    ::EndDialog(Dialog, IDOK);
}

void CSettingDlg::OnCancel()
{
    ::EndDialog(Dialog, IDCANCEL);
}

// Asked afresh on every change: adapters come and go while the dialog is open.
void CSettingDlg::showDevice()
{
    const int index = static_cast<int>(::SendMessageW(PortCombo, CB_GETCURSEL, 0, 0));
    const std::string path = portDevicePath(index);
    std::wstring text;
    if (path.empty()) {
        text = L"デバイス: なし";
    } else {
        text = L"デバイス: " + std::wstring(path.begin(), path.end())
            + (portDeviceExists(index) ? L"（あり）" : L"（見つかりません）");
    }
    ::SetDlgItemTextW(Dialog, IDC_DEVICE, text.c_str());
}
