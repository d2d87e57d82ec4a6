#include "AppModule.h"
#include "CMainFrame.h"

#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>

namespace {

// The main window was shown and closed: the quit code the frame posts. A start that made no
// window ends with a code of its own, so that a caller can tell it from a normal end.
constexpr int ExitNotStarted = 2;

int Run(LPWSTR, int showCommand)
{
    CMessageLoop loop;
    _Module.AddMessageLoop(&loop);

    Gdiplus::GdiplusStartupInput input(nullptr, FALSE, FALSE);
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);

    int exitCode = ExitNotStarted;
    {
        CMainFrame frame;
        if (frame.CreateEx() == nullptr) {
            _Module.RemoveMessageLoop();
            Gdiplus::GdiplusShutdown(token);
            return ExitNotStarted;
        }
        ::ShowWindow(frame.window(), showCommand);
        exitCode = loop.Run();
        _Module.RemoveMessageLoop();
        // The windows, and with them the view's drawing objects, are gone by now; the receiver
        // goes with the frame object below.
        Gdiplus::GdiplusShutdown(token);
    }
    return exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::DefWindowProcW(nullptr, 0, 0, 0);
    INITCOMMONCONTROLSEX controls {sizeof(INITCOMMONCONTROLSEX),
                                   ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    ::InitCommonControlsEx(&controls);
    _Module.Init(instance);

    const int exitCode = Run(commandLine, showCommand);

    _Module.Term();
    ::CoUninitialize();
    return exitCode;
}
