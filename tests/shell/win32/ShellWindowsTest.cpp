#include "CAboutDlg.h"
#include "PortFailureMessage.h"
#include "SerialReceiver.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

PortFailure failure(int index, int error, const char *reason, bool lost = false)
{
    PortFailure f;
    f.Index = index;
    f.DevicePath = "\\\\.\\COM" + std::to_string(index + 1);
    f.ErrorNumber = error;
    f.Reason = reason;
    f.Lost = lost;
    return f;
}

// A plain pop-up window of the given rectangle, for the centring to measure.
HWND popup(int x, int y, int width, int height, bool visible)
{
    return ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | (visible ? WS_VISIBLE : 0), x, y, width,
                             height, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

RECT workArea(HWND window)
{
    MONITORINFO monitor {};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

} // namespace

// The Windows port reports a refused open as busy: Windows answers a second opener of a COM port
// with access denied, and no group membership helps there.
TEST(PortFailureMessageTest, WindowsCausesGetTheirHints)
{
    EXPECT_EQ(portFailureMessage(failure(0, EBUSY, "Device or resource busy")),
              u"COM1 (\\\\.\\COM1) を開けません: Device or resource busy。別のプログラムがこのポー"
              u"トを使用中です。");
    EXPECT_EQ(portFailureMessage(failure(2, EACCES, "Permission denied")),
              u"COM3 (\\\\.\\COM3) を開けません: Permission denied。別のプログラムがこのポートを使"
              u"用中です。");
    EXPECT_EQ(portFailureMessage(failure(19, ENOENT, "No such file or directory")),
              u"COM20 (\\\\.\\COM20) を開けません: No such file or directory。デバイスが接続されて"
              u"いません。");
    EXPECT_EQ(portFailureMessage(failure(4, EIO, "Input/output error", true)),
              u"COM5 (\\\\.\\COM5) が切断されました: Input/output error。デバイスが取り外された"
              u"か、応答しません。");
    EXPECT_EQ(portFailureMessage(failure(-1, ENOENT, "")), u"接続ポートが選択されていません。");
}

// On real windows: over a visible owner the dialog's centre meets the owner's; a hidden owner
// counts as none; an owner hanging off the work area leaves the dialog wholly inside it.
TEST(CentreDialogTest, CentresOverTheOwnerOrTheWorkAreaAndStaysInside)
{
    HWND owner = popup(100, 80, 400, 300, true);
    HWND dialog = popup(0, 0, 200, 100, false);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(dialog, nullptr);
    const RECT area = workArea(owner);
    ASSERT_GE(area.right - area.left, 600) << "work area too small for the cases";

    CentreDialog(dialog, owner);
    RECT placed {};
    ::GetWindowRect(dialog, &placed);
    EXPECT_EQ(placed.left, 200);
    EXPECT_EQ(placed.top, 180);
    EXPECT_EQ(placed.right - placed.left, 200) << "the dialog keeps its size";

    ::ShowWindow(owner, SW_HIDE);
    CentreDialog(dialog, owner);
    ::GetWindowRect(dialog, &placed);
    EXPECT_EQ(placed.left, (area.left + area.right) / 2 - 100);
    EXPECT_EQ(placed.top, (area.top + area.bottom) / 2 - 50);

    ::SetWindowPos(owner, nullptr, area.right - 100, area.bottom - 50, 400, 300,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    CentreDialog(dialog, owner);
    ::GetWindowRect(dialog, &placed);
    EXPECT_EQ(placed.right, area.right);
    EXPECT_EQ(placed.bottom, area.bottom);

    ::DestroyWindow(dialog);
    ::DestroyWindow(owner);
}
