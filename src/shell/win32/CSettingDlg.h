#pragma once

#include <windows.h>

// Lets the user pick the serial port among COM1 to COM20 (dialog 201). The choice lives in
// SelectedPort for the owner's whole life; only OK changes it.
class CSettingDlg
{
public:
    // Zero-based port index (0 is COM1); -1 when no entry was selected.
    int SelectedPort = 0;

    // Shows the dialog modally; answers the button that closed it.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnOK();
    void OnCancel();
    void showDevice();

    HWND Dialog = nullptr;
    HWND PortCombo = nullptr;
};
