#include "CVandrelViewerView.h"
#include "PictureBitmap.h"
#include "WaveformGeometry.h"

#include <windows.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

namespace {

void pump()
{
    MSG message;
    for (int round = 0; round < 3; ++round)
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
}

// What the window shows at a point, as 0x00RRGGBB.
std::uint32_t shownAt(HWND window, int x, int y)
{
    HDC dc = ::GetDC(window);
    const COLORREF pixel = ::GetPixel(dc, x, y);
    ::ReleaseDC(window, dc);
    return (GetRValue(pixel) << 16) | (GetGValue(pixel) << 8) | GetBValue(pixel);
}

// A bitmap that could not be made, the BackBuffer or the picture shown, is made again by the next
// render: the window keeps showing new pictures rather than a blank one until the next resize.
TEST(ViewWindowsTest, PicturesThatCouldNotBeMadeAreMadeByTheNextRender)
{
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480,
                                    nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    {
        CVandrelViewerView view;
        const RECT area {0, 0, 320, 240};
        HWND window =
            view.Create(parent, area, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0);
        ASSERT_NE(window, nullptr);
        pump();

        // Below the graticule, in the 4:3 area of a 400 x 300 view: background.
        const std::uint32_t background = WaveformGeometry::BackgroundColour & 0xFFFFFF;
        PictureBitmap::failNext(2);
        ::SetWindowPos(window, nullptr, 0, 0, 400, 300, SWP_NOZORDER | SWP_NOMOVE);
        for (int render = 0; render < 3; ++render) {
            view.RenderFrame();
            ::UpdateWindow(window);
            pump();
            EXPECT_EQ(shownAt(window, 200, 292), background) << "render " << render;
            EXPECT_EQ(shownAt(window, 100, 5), WaveformGeometry::GraticuleColour & 0xFFFFFF)
                << "render " << render;
        }
        PictureBitmap::failNext(0);
    }
    ::DestroyWindow(parent);
    Gdiplus::GdiplusShutdown(token);
}

} // namespace
