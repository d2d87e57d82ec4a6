#include "CVandrelViewerView.h"

#include "Event.h"
#include "OverlayLines.h"
#include "RenderCanvas.h"
#include "ScopeFrame.h"
#include "SerialReceiver.h"
#include "WaveformGeometry.h"

#include <gdiplus.h>

#include <cwchar>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

using WaveformGeometry::BackgroundColour;
using WaveformGeometry::GraticuleColour;
using WaveformGeometry::TextColour;
using WaveformGeometry::TextPoints;
using WaveformGeometry::TraceColour;
constexpr REAL GridDashes[] = {WaveformGeometry::GridDash, WaveformGeometry::GridGap};

constexpr wchar_t ViewClassName[] = L"VandrelViewerView";

// Frees a drawing object that exists and clears its field.
template<typename Object, typename Base>
void release(Object *&object, GpStatus(WINGDIPAPI *free)(Base *))
{
    if (object != nullptr)
        free(object);
    object = nullptr;
}

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

// The picture the window shows. PictureLock is held only to hand a picture over and to copy it
// to the screen.
struct CVandrelViewerView::Shown
{
    std::mutex PictureLock;
    GpBitmap *Image = nullptr;
};

// The drawing objects and the BackBuffer, shared with the RenderThread. Freed by OnDestroy once
// the thread has ended; an abandoned thread's are left to the process's end, since the drawing
// library may be shut down before that thread lets go of them.
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
    GpSolidFill *BackgroundBrush = nullptr;
    GpPen *TracePen = nullptr;
    GpPen *BorderPen = nullptr;
    GpPen *GridPen = nullptr;
    GpSolidFill *TextBrush = nullptr;
    GpFont *TextFont = nullptr;
    // Null while the client area has no pixels. Always the size of the shown picture, which it
    // is swapped with once it has been drawn.
    GpBitmap *BackBuffer = nullptr;
    // BackBuffer holds a picture not yet handed over.
    bool Unshown = false;

    using RenderCanvas::ViewLock;

    void draw() override;

    void handOver() override
    {
        if (!std::exchange(Unshown, false))
            return;
        std::scoped_lock lock(Picture->PictureLock);
        std::swap(Picture->Image, BackBuffer);
    }

    void askRepaint() override { ::InvalidateRect(Window, nullptr, FALSE); }
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

// A client area without pixels gets no bitmap; the next WM_SIZE with an area makes one.
GpBitmap *CVandrelViewerView::makeBitmap() const
{
    RECT client {};
    ::GetClientRect(Window, &client);
    GpGraphics *reference = nullptr;
    GdipCreateFromHWND(Window, &reference);
    GpBitmap *bitmap = nullptr;
    if (reference != nullptr && client.right > 0 && client.bottom > 0)
        GdipCreateBitmapFromGraphics(client.right, client.bottom, reference, &bitmap);
    if (reference != nullptr)
        GdipDeleteGraphics(reference);
    return bitmap;
}

// Both pictures take the client area's size: the BackBuffer, and a blank one for the picture
// shown, which the render that follows on this thread replaces before any paint can show it.
// The caller holds ViewLock.
void CVandrelViewerView::rebuildBuffers()
{
    release(Drawing->BackBuffer, GdipDisposeImage);
    Drawing->BackBuffer = makeBitmap();
    Drawing->Unshown = false;
    GpBitmap *previous = makeBitmap();
    {
        std::scoped_lock lock(Picture->PictureLock);
        std::swap(Picture->Image, previous);
    }
    release(previous, GdipDisposeImage);
}

LRESULT CVandrelViewerView::OnCreate()
{
    ::SetClassLongPtrW(Window, GCLP_HBRBACKGROUND, 0);
    auto canvas = std::make_shared<Canvas>(Window, Picture, Receiver);
    Drawing = canvas;
    {
        std::scoped_lock lock(canvas->ViewLock);
        rebuildBuffers();
        GdipCreateSolidFill(BackgroundColour, &canvas->BackgroundBrush);
        GdipCreatePen1(TraceColour, 1.0F, UnitWorld, &canvas->TracePen);
        GdipCreatePen1(GraticuleColour, 1.0F, UnitWorld, &canvas->BorderPen);
        if (GdipCreatePen1(GraticuleColour, 1.0F, UnitWorld, &canvas->GridPen) == Ok)
            GdipSetPenDashArray(canvas->GridPen, GridDashes, 2);
        GdipCreateSolidFill(TextColour, &canvas->TextBrush);
        canvas->TextFont = makeTextFont();
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
        if (Drawing->BackgroundBrush == nullptr)
            return 0;
        rebuildBuffers();
    }
    RenderFrame();
    return 0;
}

// Copies the shown picture under PictureLock, which a render never holds while it draws.
LRESULT CVandrelViewerView::OnPaint()
{
    PAINTSTRUCT paint {};
    HDC dc = ::BeginPaint(Window, &paint);
    GpGraphics *graphics = nullptr;
    GdipCreateFromHDC(dc, &graphics);
    if (graphics != nullptr) {
        UINT width = 0;
        UINT height = 0;
        {
            std::scoped_lock lock(Picture->PictureLock);
            if (Picture->Image != nullptr) {
                GdipGetImageWidth(Picture->Image, &width);
                GdipGetImageHeight(Picture->Image, &height);
                GdipDrawImageI(graphics, Picture->Image, 0, 0);
            }
        }
        // The class has no background brush: whatever no picture covers is filled here, or it
        // would show what was on the screen before.
        RECT client {};
        ::GetClientRect(Window, &client);
        GpSolidFill *background = nullptr;
        if ((client.right > static_cast<LONG>(width) || client.bottom > static_cast<LONG>(height))
            && GdipCreateSolidFill(BackgroundColour, &background) == Ok) {
            if (client.right > static_cast<LONG>(width))
                GdipFillRectangleI(graphics, background, static_cast<INT>(width), 0,
                                   client.right - static_cast<INT>(width), client.bottom);
            if (client.bottom > static_cast<LONG>(height))
                GdipFillRectangleI(graphics, background, 0, static_cast<INT>(height), client.right,
                                   client.bottom - static_cast<INT>(height));
            GdipDeleteBrush(background);
        }
        GdipDeleteGraphics(graphics);
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
        release(canvas.TextFont, GdipDeleteFont);
        release(canvas.TextBrush, GdipDeleteBrush);
        release(canvas.GridPen, GdipDeletePen);
        release(canvas.BorderPen, GdipDeletePen);
        release(canvas.TracePen, GdipDeletePen);
        release(canvas.BackBuffer, GdipDisposeImage);
        release(canvas.BackgroundBrush, GdipDeleteBrush);
    }
    Drawing.reset();
    std::scoped_lock lock(Picture->PictureLock);
    release(Picture->Image, GdipDisposeImage);
    return 0;
}

void CVandrelViewerView::RenderFrame()
{
    if (!Drawing)
        return;
    Drawing->renderNow();
    ::InvalidateRect(Window, nullptr, FALSE);
}

// The caller holds ViewLock.
void CVandrelViewerView::Canvas::draw()
{
    namespace G = WaveformGeometry;
    if (BackBuffer == nullptr || BackgroundBrush == nullptr)
        return;
    const OverlayLines lines =
        overlayLines(DisplayFrame.Frame, DisplayFrame.Running, DisplayFrame.Port);

    GpGraphics *surface = nullptr;
    GdipGetImageGraphicsContext(BackBuffer, &surface);
    if (surface == nullptr)
        return;
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
        static_cast<REAL>(static_cast<double>(area.Height) / G::LogicalHeight), MatrixOrderPrepend);

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
        return DisplayFrame.Frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)];
    };
    int previousY = G::traceY(sample(0));
    for (int i = 1; i < G::SampleCount; ++i) {
        const int y = G::traceY(sample(i));
        GdipDrawLineI(surface, TracePen, G::traceX(i - 1), previousY, G::traceX(i), y);
        previousY = y;
    }

    for (int line = 0; line < G::TextLineCount; ++line) {
        const std::u16string &text = lines[static_cast<std::size_t>(line)];
        const RectF origin(static_cast<REAL>(G::TextLeft), static_cast<REAL>(G::textTop(line)),
                           0.0F, 0.0F);
        GdipDrawString(surface, reinterpret_cast<const WCHAR *>(text.c_str()),
                       static_cast<INT>(text.size()), TextFont, &origin, nullptr, TextBrush);
    }
    GdipDeleteGraphics(surface);
    Unshown = true;
}
