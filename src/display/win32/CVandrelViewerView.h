#pragma once

#include "RenderLoop.h"

#include <windows.h>

#include <memory>
#include <vector>

class SerialReceiver;

// The client window that shows the waveform. Every picture is made off-screen in BackBuffer, by
// the RenderThread once per frame the receiver announces and by the window's thread after a size
// change, and then handed over to the picture a paint copies; a paint never waits for a render.
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

    // On the window's thread: draws DisplayFrame with the receiver's state now and shows it.
    void RenderFrame();

private:
    struct Canvas;
    struct Shown;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT OnCreate();
    LRESULT OnSize();
    LRESULT OnPaint();
    LRESULT OnDestroy();

    void rebuildBuffers();

    HWND Window = nullptr;
    SerialReceiver *Receiver = nullptr;
    RenderLoop RenderThread;
    // The last finished picture, which a paint copies; the drawing objects, BackBuffer and
    // DisplayFrame, shared with the RenderThread, which may outlive the view once abandoned.
    std::shared_ptr<Shown> Picture;
    std::shared_ptr<Canvas> Drawing;
    bool ThreadStartFailed = false;
};
