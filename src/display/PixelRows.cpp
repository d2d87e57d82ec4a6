#include "PixelRows.h"

#include <algorithm>
#include <cstring>

void fillPixels(const PixelRows &to, const PixelRect &rect, std::uint32_t pixel)
{
    const PixelRect area = rect.intersected(to.rect());
    for (int y = area.Top; y < area.Bottom; ++y)
        std::fill_n(to.row(y) + area.Left, area.width(), pixel);
}

void copyPixels(const PixelRows &to, const PixelRows &from, int originX, int originY,
                const PixelRect &rect)
{
    const PixelRect area =
        rect.intersected(to.rect()).intersected(from.rect().translated(originX, originY));
    const std::size_t length = std::size_t(area.width()) * sizeof(std::uint32_t);
    for (int y = area.Top; y < area.Bottom; ++y)
        std::memcpy(to.row(y) + area.Left, from.row(y - originY) + (area.Left - originX), length);
}

PixelRect inkBounds(const PixelRows &pixels, std::uint32_t background)
{
    PixelRect ink;
    for (int y = 0; y < pixels.Height; ++y) {
        const std::uint32_t *row = pixels.row(y);
        int first = 0;
        while (first < pixels.Width && row[first] == background)
            ++first;
        if (first == pixels.Width)
            continue;
        int last = pixels.Width - 1;
        while (row[last] == background)
            --last;
        ink = ink.united({first, y, last + 1, y + 1});
    }
    return ink;
}
