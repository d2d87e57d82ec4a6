#include "CAboutDlg.h"

#include "AppModule.h"
#include "DialogPlacementRule.h"
#include "resource.h"

INT_PTR CAboutDlg::DoModal(HWND owner)
{
    return ::DialogBoxParamW(_Module.GetResourceInstance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner,
                             &CAboutDlg::DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CentreDialog(dialog, ::GetWindow(dialog, GW_OWNER));
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void CentreDialog(HWND dialog, HWND owner)
{
    RECT own {};
    const bool usable = owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)
        && ::GetWindowRect(owner, &own);
    MONITORINFO monitor {};
    monitor.cbSize = sizeof monitor;
    if (!::GetMonitorInfoW(::MonitorFromWindow(usable ? owner : dialog, MONITOR_DEFAULTTONEAREST),
                           &monitor))
        return;
    RECT self {};
    ::GetWindowRect(dialog, &self);

    const auto rect = [](const RECT &r) {
        return DialogPlacementRule::Rect {r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    std::optional<DialogPlacementRule::Rect> ownerRect;
    if (usable)
        ownerRect = rect(own);
    const DialogPlacementRule::Point place = DialogPlacementRule::position(
        self.right - self.left, self.bottom - self.top, ownerRect, rect(monitor.rcWork));
    ::SetWindowPos(dialog, nullptr, place.X, place.Y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
