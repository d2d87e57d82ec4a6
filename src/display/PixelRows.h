#pragma once

#include "PixelRegion.h"

#include <cstddef>
#include <cstdint>

// 32-bit pixels (0xAARRGGBB, opaque or premultiplied) in rows Stride pixels apart: the form in
// which both toolkits' pictures are composed. Borrowed, never owned.
struct PixelRows
{
    std::uint32_t *Bits = nullptr;
    std::ptrdiff_t Stride = 0;
    int Width = 0;
    int Height = 0;

    bool empty() const { return Bits == nullptr || Width <= 0 || Height <= 0; }
    std::uint32_t *row(int y) const { return Bits + y * Stride; }
    PixelRect rect() const { return {0, 0, Width, Height}; }
};

void fillPixels(const PixelRows &to, const PixelRect &rect, std::uint32_t pixel);
// Copies `rect` of `to`'s pixels from `from`, whose pixel (0, 0) lies at (originX, originY).
void copyPixels(const PixelRows &to, const PixelRows &from, int originX, int originY,
                const PixelRect &rect);
// The bounds of the pixels that are not `background`.
PixelRect inkBounds(const PixelRows &pixels, std::uint32_t background);
