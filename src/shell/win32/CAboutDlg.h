#pragma once

#include <windows.h>

// The program's name and version (dialog 100).
class CAboutDlg
{
public:
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

// Centres a dialog over its owner's window rectangle, or over the work area when the owner is
// missing, hidden or minimised, and keeps it inside the work area.
void CentreDialog(HWND dialog, HWND owner);
