#include "CVandrelViewerView.h"

#include "Event.h"
#include "GdiPlusRenderer.h"
#include "OverlayLines.h"
#include "PictureBitmap.h"
#include "RenderCanvas.h"
#include "ScopeFrame.h"
#include "SerialReceiver.h"
#include "WaveformGeometry.h"

#include <gdiplus.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr wchar_t ViewClassName[] = L"VandrelViewerView";

} // namespace

// The picture the window shows, and what a paint has yet to bring to the screen. PictureLock is
// held only to hand a picture over and to copy it to the screen.
struct CVandrelViewerView::Shown
{
    std::mutex PictureLock;
    std::unique_ptr<PictureBitmap> Image;
    ChangedRegion Pending;
    bool PendingWhole = false;
};

// The drawing objects and the BackBuffer, shared with the RenderThread. Freed by OnDestroy once
// the thread has ended; an abandoned thread's drawing objects are left to the process's end,
// since the drawing library may be shut down before that thread lets go of them.
struct CVandrelViewerView::Canvas : RenderCanvas
{
    Canvas(HWND window, std::shared_ptr<Shown> picture, const SerialReceiver *receiver)
        : RenderCanvas(receiver)
        , Window(window)
        , Picture(std::move(picture))
    { }

    const HWND Window;
    const std::shared_ptr<Shown> Picture;
    // All below under ViewLock.
    GdiPlusRenderer::Tools Tools;
    GdiPlusRenderer Renderer;
    // The client area's size, which both pictures take.
    SIZE Size {};
    // Null while the client area has no pixels, or when it could not be made: then the next
    // render tries again.
    std::unique_ptr<PictureBitmap> BackBuffer;
    // BackBuffer holds a picture not yet handed over; Drawn holds what changed in it since it was
    // last shown, DrawnTexts its texts.
    bool Unshown = false;
    ChangedRegion Drawn;
    OverlayLines DrawnTexts;
    // What the last hand-over changed, and the texts of the picture shown. A bitmap drawn in turn
    // with another was last brought up to date two pictures ago, so a repaint covers the changes
    // of both hand-overs, and everything when the texts differ from those shown.
    ChangedRegion LastHandOver;
    OverlayLines ShownTexts;
    bool ShownKnown = false;

    using RenderCanvas::ViewLock;

    void draw() override;
    void handOver() override;
    void askRepaint() override;
    // Both take PictureLock.
    void resetPictures();
    void takePending(ChangedRegion &pending, bool &whole);
};

CVandrelViewerView::CVandrelViewerView()
    : Picture(std::make_shared<Shown>())
{ }

CVandrelViewerView::~CVandrelViewerView()
{
    if (Window != nullptr)
        ::DestroyWindow(Window);
}

HWND CVandrelViewerView::Create(HWND parent, const RECT &rect, DWORD style, DWORD exStyle)
{
    const auto instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    static const ATOM registered = [instance] {
        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        windowClass.lpfnWndProc = &CVandrelViewerView::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = ViewClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    if (registered == 0)
        return nullptr;
    ThreadStartFailed = false;
    HWND window = ::CreateWindowExW(exStyle, ViewClassName, nullptr, style, rect.left, rect.top,
                                    rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                    instance, this);
    // Thrown here rather than from OnCreate: an exception must not unwind through the system's
    // frames of the window procedure.
    if (window == nullptr && ThreadStartFailed)
        throw ReceiverError("Cannot start a thread for receive.");
    return window;
}

LRESULT CALLBACK CVandrelViewerView::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *created = reinterpret_cast<CREATESTRUCTW *>(lParam);
        auto *view = static_cast<CVandrelViewerView *>(created->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
        view->Window = window;
    }
    auto *view = reinterpret_cast<CVandrelViewerView *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = view->ProcessWindowMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        view->Window = nullptr;
    }
    return result;
}

LRESULT CVandrelViewerView::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_PAINT:
        return OnPaint();
    case WM_DESTROY:
        return OnDestroy();
    case WM_SIZE:
        return OnSize();
    default:
        return ::DefWindowProcW(Window, message, wParam, lParam);
    }
}

// Both pictures take the client area's size: the BackBuffer, and a blank one for the picture
// shown, which the render that follows on this thread replaces before any paint can show it.
// The caller holds ViewLock.
void CVandrelViewerView::rebuildBuffers()
{
    RECT client {};
    ::GetClientRect(Window, &client);
    Drawing->Size = {client.right, client.bottom};
    Drawing->BackBuffer = PictureBitmap::make(client.right, client.bottom);
    Drawing->Unshown = false;
    Drawing->Drawn.clear();
    Drawing->resetPictures();
}

void CVandrelViewerView::Canvas::resetPictures()
{
    LastHandOver.clear();
    ShownKnown = false;
    std::unique_ptr<PictureBitmap> previous = PictureBitmap::make(Size.cx, Size.cy);
    {
        std::scoped_lock lock(Picture->PictureLock);
        std::swap(Picture->Image, previous);
        Picture->Pending.clear();
        Picture->PendingWhole = true;
    }
}

LRESULT CVandrelViewerView::OnCreate()
{
    ::SetClassLongPtrW(Window, GCLP_HBRBACKGROUND, 0);
    auto canvas = std::make_shared<Canvas>(Window, Picture, Receiver);
    Drawing = canvas;
    {
        std::scoped_lock lock(canvas->ViewLock);
        rebuildBuffers();
        canvas->Tools = GdiPlusRenderer::Tools::make();
    }

    try {
        RenderThread.start(canvas, Receiver != nullptr ? Receiver->frameEvent() : nullptr);
    } catch (const std::system_error &) {
        ThreadStartFailed = true;
        return -1;
    }
    return 0;
}

LRESULT CVandrelViewerView::OnSize()
{
    if (!Drawing)
        return 0;
    {
        std::scoped_lock lock(Drawing->ViewLock);
        if (Drawing->Tools.BackgroundBrush == nullptr)
            return 0;
        rebuildBuffers();
    }
    RenderFrame();
    return 0;
}

// Copies what changed of the shown picture under PictureLock, which a render never holds while
// it draws; the picture reaches the screen unscaled, pixel for pixel.
LRESULT CVandrelViewerView::OnPaint()
{
    PAINTSTRUCT paint {};
    HDC dc = ::BeginPaint(Window, &paint);
    LONG width = 0;
    LONG height = 0;
    {
        std::scoped_lock lock(Picture->PictureLock);
        if (Picture->Image) {
            width = Picture->Image->width();
            height = Picture->Image->height();
            Picture->Image->copyTo(dc, paint.rcPaint);
        }
    }
    // The class has no background brush: whatever no picture covers is filled here, or it
    // would show what was on the screen before.
    RECT client {};
    ::GetClientRect(Window, &client);
    if (client.right > width || client.bottom > height) {
        constexpr std::uint32_t Colour = WaveformGeometry::BackgroundColour;
        HBRUSH background =
            ::CreateSolidBrush(RGB((Colour >> 16) & 0xFF, (Colour >> 8) & 0xFF, Colour & 0xFF));
        const RECT right {width, 0, client.right, client.bottom};
        const RECT below {0, height, client.right, client.bottom};
        if (background != nullptr) {
            if (client.right > width)
                ::FillRect(dc, &right, background);
            if (client.bottom > height)
                ::FillRect(dc, &below, background);
            ::DeleteObject(background);
        }
    }
    ::EndPaint(Window, &paint);
    return 0;
}

// The thread goes first: it uses the drawing objects until it ends. One that overruns the stop
// is abandoned rather than terminated, which could leave a lock held for good; it keeps the
// canvas it co-owns and reaches neither the view nor the receiver again.
LRESULT CVandrelViewerView::OnDestroy()
{
    const bool ended = RenderThread.stop();
    if (Drawing && ended) {
        Canvas &canvas = *Drawing;
        std::scoped_lock lock(canvas.ViewLock);
        canvas.Tools.release();
        canvas.BackBuffer.reset();
    }
    Drawing.reset();
    std::unique_ptr<PictureBitmap> shown;
    {
        std::scoped_lock lock(Picture->PictureLock);
        shown = std::move(Picture->Image);
    }
    return 0;
}

void CVandrelViewerView::RenderFrame()
{
    if (!Drawing)
        return;
    Drawing->renderNow();
    ChangedRegion pending;
    bool whole = false;
    Drawing->takePending(pending, whole);
    ::InvalidateRect(Window, nullptr, FALSE);
}

// The caller holds ViewLock. A bitmap that could not be made is tried again here, so that a
// passing shortage of memory does not freeze the picture until the next resize.
void CVandrelViewerView::Canvas::draw()
{
    if (Tools.BackgroundBrush == nullptr)
        return;
    if (!BackBuffer)
        BackBuffer = PictureBitmap::make(Size.cx, Size.cy);
    if (!BackBuffer)
        return;
    const OverlayLines lines =
        overlayLines(DisplayFrame.Frame, DisplayFrame.Running, DisplayFrame.Port);
    ChangedRegion changed;
    Renderer.render(*BackBuffer, Tools, DisplayFrame.Frame, lines, changed);
    // Drawn again before it was shown: the screen still lacks the first drawing's changes.
    if (!std::exchange(Unshown, true))
        Drawn.clear();
    for (const PixelRect &rect : changed.rects())
        Drawn.add(rect);
    DrawnTexts = lines;
}

// The caller holds ViewLock.
void CVandrelViewerView::Canvas::handOver()
{
    if (!std::exchange(Unshown, false))
        return;
    const bool textsShown = ShownKnown && ShownTexts == DrawnTexts;
    ChangedRegion repaint = Drawn;
    for (const PixelRect &rect : LastHandOver.rects())
        repaint.add(rect);
    LastHandOver = std::move(Drawn);
    Drawn.clear();
    ShownTexts = DrawnTexts;
    ShownKnown = true;
    std::scoped_lock lock(Picture->PictureLock);
    std::swap(Picture->Image, BackBuffer);
    Picture->PendingWhole = Picture->PendingWhole || !textsShown;
    for (const PixelRect &rect : repaint.rects())
        Picture->Pending.add(rect);
}

void CVandrelViewerView::Canvas::takePending(ChangedRegion &pending, bool &whole)
{
    std::scoped_lock lock(Picture->PictureLock);
    pending = std::move(Picture->Pending);
    Picture->Pending.clear();
    whole = std::exchange(Picture->PendingWhole, false);
}

// On the RenderThread: the window's update region gathers what is asked until the next paint.
// Asked in one region rather than a rectangle at a time: every request is a round trip to the
// window system's server under Wine.
void CVandrelViewerView::Canvas::askRepaint()
{
    ChangedRegion pending;
    bool whole = false;
    takePending(pending, whole);
    pending.settle();
    if (pending.empty() && !whole)
        return;
    HRGN region = nullptr;
    if (!whole) {
        std::vector<unsigned char> data(sizeof(RGNDATAHEADER)
                                        + pending.rects().size() * sizeof(RECT));
        auto *header = reinterpret_cast<RGNDATA *>(data.data());
        header->rdh.dwSize = sizeof(RGNDATAHEADER);
        header->rdh.iType = RDH_RECTANGLES;
        header->rdh.nCount = DWORD(pending.rects().size());
        const PixelRect &bounds = pending.bounds();
        header->rdh.rcBound = {bounds.Left, bounds.Top, bounds.Right, bounds.Bottom};
        auto *rects = reinterpret_cast<RECT *>(header->Buffer);
        for (const PixelRect &rect : pending.rects())
            *rects++ = {rect.Left, rect.Top, rect.Right, rect.Bottom};
        region = ::ExtCreateRegion(nullptr, DWORD(data.size()), header);
    }
    // Without a region, for the whole window or when none could be made.
    ::InvalidateRgn(Window, region, FALSE);
    if (region != nullptr)
        ::DeleteObject(region);
}
