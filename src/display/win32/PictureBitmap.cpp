#include "PictureBitmap.h"

#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <new>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

std::atomic<std::int64_t> NextKey {1};
std::atomic<int> Failing {0};

} // namespace

PictureBitmap::PictureBitmap(int width, int height)
    : Width(width)
    , Height(height)
    , Key(NextKey.fetch_add(1))
    , Pixels(std::size_t(width) * std::size_t(height), 0xFF000000U)
{ }

PictureBitmap::~PictureBitmap() = default;

std::unique_ptr<PictureBitmap> PictureBitmap::make(int width, int height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    for (int left = Failing.load(); left > 0;)
        if (Failing.compare_exchange_weak(left, left - 1))
            return nullptr;
    try {
        return std::unique_ptr<PictureBitmap>(new PictureBitmap(width, height));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void PictureBitmap::failNext(int count)
{
    Failing.store(count);
}

// The rows from rect's top to its bottom, as a top-down bitmap of their own: its first row is
// the first one copied, so no bottom-up source coordinate is involved.
void PictureBitmap::copyTo(HDC dc, const RECT &rect) const
{
    const LONG left = std::max<LONG>(rect.left, 0);
    const LONG top = std::max<LONG>(rect.top, 0);
    const LONG right = std::min<LONG>(rect.right, Width);
    const LONG bottom = std::min<LONG>(rect.bottom, Height);
    if (left >= right || top >= bottom)
        return;
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -(bottom - top);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(dc, left, top, DWORD(right - left), DWORD(bottom - top), left, 0, 0,
                        UINT(bottom - top), Pixels.data() + std::size_t(top) * std::size_t(Width),
                        &info, DIB_RGB_COLORS);
}

GdiPlusSurface::GdiPlusSurface(const PixelRows &rows)
{
    if (!rows.empty())
        GdipCreateBitmapFromScan0(
            rows.Width, rows.Height, INT(rows.Stride * INT(sizeof(std::uint32_t))),
            PixelFormat32bppPARGB, reinterpret_cast<BYTE *>(rows.Bits), &Bitmap);
}

GdiPlusSurface::~GdiPlusSurface()
{
    if (Bitmap != nullptr)
        GdipDisposeImage(Bitmap);
}
