#pragma once

#include "PixelRows.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace Gdiplus {
class GpBitmap;
} // namespace Gdiplus

// A picture's 32-bit pixels, premultiplied, top row first: GDI+ draws into them through a bitmap
// made on them, our composer writes them as rows, and a paint copies any part of them to the
// screen as it is, without GDI+.
class PictureBitmap
{
public:
    // Null when the size has no pixels or memory runs out.
    static std::unique_ptr<PictureBitmap> make(int width, int height);
    ~PictureBitmap();
    PictureBitmap(const PictureBitmap &) = delete;
    PictureBitmap &operator=(const PictureBitmap &) = delete;

    int width() const { return Width; }
    int height() const { return Height; }
    PixelRows rows() { return {Pixels.data(), Width, Width, Height}; }
    // Unique to this bitmap for the program's life: what the composer knows it by.
    std::int64_t key() const { return Key; }
    // Copies the pixels of `rect` (device pixels of the picture) to the same place on dc.
    void copyTo(HDC dc, const RECT &rect) const;

    // For tests: the next `count` bitmaps fail as if memory had run out.
    static void failNext(int count);

private:
    PictureBitmap(int width, int height);

    int Width = 0;
    int Height = 0;
    std::int64_t Key = 0;
    std::vector<std::uint32_t> Pixels;
};

// A GDI+ bitmap on a picture's rows for the time of one drawing; null when GDI+ refuses.
struct GdiPlusSurface
{
    explicit GdiPlusSurface(const PixelRows &rows);
    ~GdiPlusSurface();
    GdiPlusSurface(const GdiPlusSurface &) = delete;
    GdiPlusSurface &operator=(const GdiPlusSurface &) = delete;

    Gdiplus::GpBitmap *Bitmap = nullptr;
};
