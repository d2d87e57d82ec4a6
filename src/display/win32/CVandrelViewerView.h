#pragma once

#include "ScopeFrame.h"

#include <windows.h>

#include <atomic>
#include <memory>

namespace Gdiplus {
class GpBitmap;
class GpBrush;
class GpSolidFill;
class GpPen;
class GpFont;
} // namespace Gdiplus

class Event;
class SerialReceiver;

// The client window that shows the waveform. Every picture is made off-screen in BackBuffer, by
// the RenderThread once per frame the receiver announces and by the window's thread after a size
// change; a paint only copies the finished picture.
class CVandrelViewerView
{
public:
    CVandrelViewerView();
    ~CVandrelViewerView();
    CVandrelViewerView(const CVandrelViewerView &) = delete;
    CVandrelViewerView &operator=(const CVandrelViewerView &) = delete;

    // Before Create: the receiver whose frames are shown. Not owned.
    void SetReceiver(SerialReceiver *receiver) { Receiver = receiver; }

    // Creates the window as a child of parent; its OnCreate starts the RenderThread. Throws
    // ReceiverError("Cannot start a thread for receive.") when the thread cannot start.
    HWND Create(HWND parent, const RECT &rect, DWORD style, DWORD exStyle);
    HWND window() const { return Window; }

    BOOL PreTranslateMessage(MSG *) { return FALSE; }

    // Draws DisplayFrame into the BackBuffer and copies the result onto the window.
    void RenderFrame();

private:
    struct ThreadLink;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT OnCreate();
    LRESULT OnSize();
    LRESULT OnPaint();
    LRESULT OnDestroy();

    static unsigned __stdcall RenderThreadProc(void *parameter);
    void renderPass(ThreadLink &link);
    void makeBackBuffer();

    HWND Window = nullptr;
    Gdiplus::GpSolidFill *BackgroundBrush = nullptr;
    Gdiplus::GpPen *TracePen = nullptr;
    Gdiplus::GpPen *BorderPen = nullptr;
    Gdiplus::GpPen *GridPen = nullptr;
    Gdiplus::GpSolidFill *TextBrush = nullptr;
    Gdiplus::GpFont *TextFont = nullptr;
    // Null while the client area has no pixels; DrawingReady tells that OnCreate has run.
    Gdiplus::GpBitmap *BackBuffer = nullptr;
    SerialReceiver *Receiver = nullptr;
    ScopeFrame DisplayFrame;
    HANDLE RenderThreadHandle = nullptr;
    std::atomic<int> RenderRunFlag {1};
    std::shared_ptr<Event> FrameEventHandle;
    // Guards BackBuffer, the drawing objects and DisplayFrame.
    CRITICAL_SECTION ViewLock;

    bool DrawingReady = false;
    bool ThreadStartFailed = false;
    std::shared_ptr<ThreadLink> Link;
};
