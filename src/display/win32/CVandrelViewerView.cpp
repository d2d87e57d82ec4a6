#include "CVandrelViewerView.h"

#include "Event.h"
#include "OverlayLines.h"
#include "SerialReceiver.h"
#include "WaveformGeometry.h"

#include <gdiplus.h>
#include <process.h>

#include <cwchar>
#include <mutex>
#include <new>
#include <string>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr DWORD StopTimeoutMs = 3000;
// Between attempts while there is no frame event to wait on: slow enough not to spin.
constexpr DWORD NoEventPauseMs = 100;

using WaveformGeometry::BackgroundColour;
using WaveformGeometry::GraticuleColour;
using WaveformGeometry::TextColour;
using WaveformGeometry::TextPoints;
using WaveformGeometry::TraceColour;
constexpr REAL GridDashes[] = {WaveformGeometry::GridDash, WaveformGeometry::GridGap};

constexpr wchar_t ViewClassName[] = L"VandrelViewerView";

class ScopedLock
{
public:
    explicit ScopedLock(CRITICAL_SECTION &lock)
        : Lock(lock)
    {
        ::EnterCriticalSection(&Lock);
    }
    ~ScopedLock() { ::LeaveCriticalSection(&Lock); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    CRITICAL_SECTION &Lock;
};

GpFont *fontOfFamily(const WCHAR *name)
{
    GpFontFamily *family = nullptr;
    GpFont *font = nullptr;
    if (GdipCreateFontFamilyFromName(name, nullptr, &family) == Ok) {
        GdipCreateFont(family, TextPoints, FontStyleRegular, UnitPoint, &font);
        GdipDeleteFontFamily(family);
    }
    return font;
}

// The face the dialogs' text really shows in: the system's font mapper resolves the message
// font to a face that is installed, whatever the message font names.
std::wstring dialogFace()
{
    NONCLIENTMETRICSW metrics {};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return {};
    HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    HDC screen = ::GetDC(nullptr);
    std::wstring face(LF_FACESIZE, L'\0');
    if (font != nullptr && screen != nullptr) {
        HGDIOBJ previous = ::SelectObject(screen, font);
        if (::GetTextFaceW(screen, LF_FACESIZE, face.data()) <= 0)
            face[0] = L'\0';
        face.resize(std::wcslen(face.c_str()));
        ::SelectObject(screen, previous);
    } else {
        face.clear();
    }
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    if (font != nullptr)
        ::DeleteObject(font);
    return face;
}

// Times New Roman, else the generic sans serif. A system that has neither would show a picture
// without its settings, so then the dialogs' face, and last any family that makes a font.
GpFont *makeTextFont()
{
    GpFont *font = fontOfFamily(reinterpret_cast<const WCHAR *>(WaveformGeometry::TextFace));
    GpFontFamily *family = nullptr;
    if (font == nullptr && GdipGetGenericFontFamilySansSerif(&family) == Ok) {
        GdipCreateFont(family, TextPoints, FontStyleRegular, UnitPoint, &font);
        GdipDeleteFontFamily(family);
    }
    if (font == nullptr) {
        const std::wstring face = dialogFace();
        if (!face.empty())
            font = fontOfFamily(face.c_str());
    }
    GpFontCollection *installed = nullptr;
    INT count = 0;
    if (font == nullptr && GdipNewInstalledFontCollection(&installed) == Ok
        && GdipGetFontCollectionFamilyCount(installed, &count) == Ok && count > 0) {
        // The families belong to the collection, which belongs to GDI+.
        std::vector<GpFontFamily *> families(static_cast<std::size_t>(count), nullptr);
        INT found = 0;
        if (GdipGetFontCollectionFamilyList(installed, count, families.data(), &found) == Ok)
            for (INT i = 0; i < found && font == nullptr; ++i)
                GdipCreateFont(families[static_cast<std::size_t>(i)], TextPoints, FontStyleRegular,
                               UnitPoint, &font);
    }
    return font;
}

} // namespace

// What the RenderThread shares with the view. The thread holds the Mutex for the part of a pass
// that touches the view, so once OnDestroy has set Abandoned under it, a thread that overran the
// stop can never reach the view again.
struct CVandrelViewerView::ThreadLink
{
    CVandrelViewerView *View = nullptr;
    SerialReceiver *Receiver = nullptr;
    std::shared_ptr<Event> FrameEvent;
    std::mutex Mutex;
    bool Abandoned = false;
};

CVandrelViewerView::CVandrelViewerView()
{
    ::InitializeCriticalSection(&ViewLock);
}

CVandrelViewerView::~CVandrelViewerView()
{
    if (Window != nullptr)
        ::DestroyWindow(Window);
    ::DeleteCriticalSection(&ViewLock);
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

void CVandrelViewerView::makeBackBuffer()
{
    RECT client {};
    ::GetClientRect(Window, &client);
    GpGraphics *reference = nullptr;
    GdipCreateFromHWND(Window, &reference);
    // A client area without pixels gets no bitmap; the next WM_SIZE with an area makes one.
    BackBuffer = nullptr;
    if (reference != nullptr && client.right > 0 && client.bottom > 0)
        GdipCreateBitmapFromGraphics(client.right, client.bottom, reference, &BackBuffer);
    if (reference != nullptr)
        GdipDeleteGraphics(reference);
}

LRESULT CVandrelViewerView::OnCreate()
{
    ::SetClassLongPtrW(Window, GCLP_HBRBACKGROUND, 0);
    {
        ScopedLock lock(ViewLock);
        makeBackBuffer();
        GdipCreateSolidFill(BackgroundColour, &BackgroundBrush);
        GdipCreatePen1(TraceColour, 1.0F, UnitWorld, &TracePen);
        GdipCreatePen1(GraticuleColour, 1.0F, UnitWorld, &BorderPen);
        if (GdipCreatePen1(GraticuleColour, 1.0F, UnitWorld, &GridPen) == Ok)
            GdipSetPenDashArray(GridPen, GridDashes, 2);
        GdipCreateSolidFill(TextColour, &TextBrush);
        TextFont = makeTextFont();
        DrawingReady = true;
    }

    FrameEventHandle = Receiver != nullptr ? Receiver->frameEvent() : nullptr;
    auto link = std::make_shared<ThreadLink>();
    link->View = this;
    link->Receiver = Receiver;
    link->FrameEvent = FrameEventHandle;
    // The thread holds its own reference to the link, released when it ends.
    auto *threadLink = new (std::nothrow) std::shared_ptr<ThreadLink>(link);
    const uintptr_t thread = threadLink == nullptr
        ? 0
        : ::_beginthreadex(nullptr, 0, &CVandrelViewerView::RenderThreadProc, threadLink, 0,
                           nullptr);
    if (thread == 0) {
        delete threadLink;
        ThreadStartFailed = true;
        return -1;
    }
    RenderThreadHandle = reinterpret_cast<HANDLE>(thread);
    Link = std::move(link);
    return 0;
}

unsigned __stdcall CVandrelViewerView::RenderThreadProc(void *parameter)
{
    const std::shared_ptr<ThreadLink> link =
        std::move(*static_cast<std::shared_ptr<ThreadLink> *>(parameter));
    delete static_cast<std::shared_ptr<ThreadLink> *>(parameter);
    for (;;) {
        {
            std::scoped_lock lock(link->Mutex);
            if (link->Abandoned || link->View->RenderRunFlag.load() == 0)
                break;
        }
        if (!link->FrameEvent) {
            ::Sleep(NoEventPauseMs);
            continue;
        }
        link->FrameEvent->wait();

        // Copied outside the ViewLock: the receiver's lock may be held for a whole block, and
        // a paint or resize must not wait for that.
        ScopeFrame latest;
        if (link->Receiver != nullptr)
            latest.fillFrom(*link->Receiver);

        std::scoped_lock lock(link->Mutex);
        if (link->Abandoned)
            break;
        CVandrelViewerView &view = *link->View;
        {
            ScopedLock viewLock(view.ViewLock);
            view.DisplayFrame = latest;
        }
        view.RenderFrame();
        ::InvalidateRect(view.Window, nullptr, FALSE);
    }
    return 0;
}

LRESULT CVandrelViewerView::OnSize()
{
    {
        ScopedLock lock(ViewLock);
        if (!DrawingReady)
            return 0;
        if (BackBuffer != nullptr)
            GdipDisposeImage(BackBuffer);
        makeBackBuffer();
    }
    RenderFrame();
    ::InvalidateRect(Window, nullptr, FALSE);
    return 0;
}

// Takes the ViewLock, unlike a bare copy: the RenderThread may be drawing into the BackBuffer,
// and a bitmap is not safe to read while it is written.
LRESULT CVandrelViewerView::OnPaint()
{
    PAINTSTRUCT paint {};
    HDC dc = ::BeginPaint(Window, &paint);
    GpGraphics *graphics = nullptr;
    GdipCreateFromHDC(dc, &graphics);
    if (graphics != nullptr) {
        ScopedLock lock(ViewLock);
        UINT width = 0;
        UINT height = 0;
        if (BackBuffer != nullptr) {
            GdipGetImageWidth(BackBuffer, &width);
            GdipGetImageHeight(BackBuffer, &height);
            GdipDrawImageI(graphics, BackBuffer, 0, 0);
        }
        // The class has no background brush: whatever no picture covers is filled here, or it
        // would show what was on the screen before.
        RECT client {};
        ::GetClientRect(Window, &client);
        if (BackgroundBrush != nullptr) {
            if (client.right > static_cast<LONG>(width))
                GdipFillRectangleI(graphics, BackgroundBrush, static_cast<INT>(width), 0,
                                   client.right - static_cast<INT>(width), client.bottom);
            if (client.bottom > static_cast<LONG>(height))
                GdipFillRectangleI(graphics, BackgroundBrush, 0, static_cast<INT>(height),
                                   client.right, client.bottom - static_cast<INT>(height));
        }
        GdipDeleteGraphics(graphics);
    }
    ::EndPaint(Window, &paint);
    return 0;
}

// The thread goes first: it uses the drawing objects until it ends. A thread that overruns the
// stop is disowned under the link's mutex rather than terminated: terminated, it could leave the
// ViewLock or the frame event's own lock held for good.
LRESULT CVandrelViewerView::OnDestroy()
{
    if (RenderThreadHandle != nullptr) {
        RenderRunFlag.store(0);
        if (FrameEventHandle)
            FrameEventHandle->set();
        if (::WaitForSingleObject(RenderThreadHandle, StopTimeoutMs) != WAIT_OBJECT_0) {
            std::scoped_lock lock(Link->Mutex);
            Link->Abandoned = true;
        }
        ::CloseHandle(RenderThreadHandle);
        RenderThreadHandle = nullptr;
    }
    RenderRunFlag.store(0);

    ScopedLock lock(ViewLock);
    if (TextFont != nullptr) {
        GdipDeleteFont(TextFont);
        TextFont = nullptr;
    }
    if (TextBrush != nullptr) {
        GdipDeleteBrush(TextBrush);
        TextBrush = nullptr;
    }
    if (GridPen != nullptr) {
        GdipDeletePen(GridPen);
        GridPen = nullptr;
    }
    if (BorderPen != nullptr) {
        GdipDeletePen(BorderPen);
        BorderPen = nullptr;
    }
    if (TracePen != nullptr) {
        GdipDeletePen(TracePen);
        TracePen = nullptr;
    }
    if (BackBuffer != nullptr) {
        GdipDisposeImage(BackBuffer);
        BackBuffer = nullptr;
    }
    if (BackgroundBrush != nullptr) {
        GdipDeleteBrush(BackgroundBrush);
        BackgroundBrush = nullptr;
    }
    DrawingReady = false;
    return 0;
}

void CVandrelViewerView::RenderFrame()
{
    namespace G = WaveformGeometry;
    const bool running = Receiver != nullptr && Receiver->isRunning();
    const int port = running ? Receiver->currentPort() : -1;

    GpGraphics *surface = nullptr;
    GpGraphics *windowSurface = nullptr;
    {
        ScopedLock lock(ViewLock);
        if (BackBuffer == nullptr || !DrawingReady)
            return;
        const OverlayLines lines = overlayLines(DisplayFrame, running, port);

        GdipGetImageGraphicsContext(BackBuffer, &surface);
        if (surface != nullptr) {
            GdipSetSmoothingMode(surface, SmoothingModeHighQuality);
            UINT width = 0;
            UINT height = 0;
            GdipGetImageWidth(BackBuffer, &width);
            GdipGetImageHeight(BackBuffer, &height);
            const G::Area area = G::fitArea(static_cast<int>(width), static_cast<int>(height));
            GdipFillRectangleI(surface, BackgroundBrush, 0, 0, static_cast<INT>(width),
                               static_cast<INT>(height));
            GdipScaleWorldTransform(
                surface, static_cast<REAL>(static_cast<double>(area.Width) / G::LogicalWidth),
                static_cast<REAL>(static_cast<double>(area.Height) / G::LogicalHeight),
                MatrixOrderPrepend);

            constexpr int Min = G::GraticuleMin;
            constexpr int Max = G::GraticuleMax;
            GdipDrawLineI(surface, BorderPen, Min, Min, Max, Min);
            GdipDrawLineI(surface, BorderPen, Max, Min, Max, Max);
            GdipDrawLineI(surface, BorderPen, Max, Max, Min, Max);
            GdipDrawLineI(surface, BorderPen, Min, Max, Min, Min);
            for (int k = G::Division; k < G::GraticuleSide; k += G::Division) {
                GdipDrawLineI(surface, GridPen, k + Min, Min, k + Min, Max);
                GdipDrawLineI(surface, GridPen, Min, k + Min, Max, k + Min);
            }

            const auto sample = [this](int i) {
                return DisplayFrame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)];
            };
            int previousY = G::traceY(sample(0));
            for (int i = 1; i < G::SampleCount; ++i) {
                const int y = G::traceY(sample(i));
                GdipDrawLineI(surface, TracePen, G::traceX(i - 1), previousY, G::traceX(i), y);
                previousY = y;
            }

            for (int line = 0; line < G::TextLineCount; ++line) {
                const std::u16string &text = lines[static_cast<std::size_t>(line)];
                const RectF origin(static_cast<REAL>(G::TextLeft),
                                   static_cast<REAL>(G::textTop(line)), 0.0F, 0.0F);
                GdipDrawString(surface, reinterpret_cast<const WCHAR *>(text.c_str()),
                               static_cast<INT>(text.size()), TextFont, &origin, nullptr,
                               TextBrush);
            }
        }

        GdipCreateFromHWND(Window, &windowSurface);
        if (windowSurface != nullptr)
            GdipDrawImageI(windowSurface, BackBuffer, 0, 0);
    }
    if (windowSurface != nullptr)
        GdipDeleteGraphics(windowSurface);
    if (surface != nullptr)
        GdipDeleteGraphics(surface);
}
