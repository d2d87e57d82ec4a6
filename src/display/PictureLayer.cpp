#include "PictureLayer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace WaveformGeometry;

namespace {

// Sets `count` pixels to one value. A restore fills some hundred thousand short rows a frame, a
// dozen pixels each, where a call to the library's fill or copy costs more than the stores.
inline void fillShort(std::uint32_t *to, std::size_t count, std::uint32_t pixel)
{
#if defined(__SSE2__)
    if (count >= 4) {
        const __m128i four = _mm_set1_epi32(static_cast<int>(pixel));
        std::size_t i = 0;
        for (; i + 4 <= count; i += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), four);
        if (i < count)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + count - 4), four);
        return;
    }
#endif
    std::fill_n(to, count, pixel);
}

bool allBackground(const std::uint32_t *from, const std::uint32_t *to, std::uint32_t background)
{
    return std::all_of(from, to, [background](std::uint32_t pixel) { return pixel == background; });
}

} // namespace

PixelRows PictureLayer::rows() const
{
    return {const_cast<std::uint32_t *>(Pixels.data()), Width, Width, Height};
}

bool PictureLayer::capture(const PixelRows &drawn, const PictureGeometry &geometry,
                           std::uint32_t background, double halfPen)
{
    clear();
    const int width = std::min(geometry.TextColumn, drawn.Width);
    if (width <= 0 || drawn.Height <= 0)
        return false;
    try {
        Pixels.resize(std::size_t(width) * std::size_t(drawn.Height));
        RowsWithLines.assign(std::size_t(drawn.Height), 0);
    } catch (const std::bad_alloc &) {
        clear();
        return false;
    }
    Width = width;
    Height = drawn.Height;
    Background = background;

    // The columns come from the geometry, generously.
    for (int at = GraticuleMin; at <= GraticuleMax; at += Division) {
        const int first = std::max(0, int(std::floor(geometry.deviceX(at - halfPen))) - 2);
        const int last = std::min(Width - 1, geometry.columnPast(at + halfPen));
        if (first > last)
            continue;
        if (!Columns.empty() && Columns.back().second >= first - 1)
            Columns.back().second = std::max(Columns.back().second, last);
        else
            Columns.emplace_back(first, last);
    }
    // Each row is judged as it is copied, while it is still in the cache.
    const PixelRows layer = rows();
    for (int y = 0; y < Height; ++y) {
        const std::uint32_t *row = drawn.row(y);
        std::copy_n(row, Width, layer.row(y));
        int from = 0;
        bool lines = false;
        for (const auto &[first, last] : Columns) {
            lines = lines || !allBackground(row + from, row + first, background);
            from = last + 1;
        }
        lines = lines || !allBackground(row + from, row + Width, background);
        RowsWithLines[std::size_t(y)] = lines;
    }
    try {
        for (const auto &[first, last] : Columns)
            for (int y = 0; y < Height; ++y)
                ColumnPixels.insert(ColumnPixels.end(), layer.row(y) + first,
                                    layer.row(y) + last + 1);
    } catch (const std::bad_alloc &) {
        clear();
        return false;
    }
    return true;
}

void PictureLayer::clear()
{
    Width = 0;
    Height = 0;
    Pixels.clear();
    Pixels.shrink_to_fit();
    Columns.clear();
    RowsWithLines.clear();
    ColumnPixels.clear();
    ColumnPixels.shrink_to_fit();
}

void PictureLayer::putBack(const PixelRows &target) const
{
    copyPixels(target, rows(), 0, 0, rect());
    fillPixels(target, {Width, 0, target.Width, target.Height}, Background);
}

PixelRect PictureLayer::restore(const PixelRows &target, const std::vector<PixelRect> &area) const
{
    // The graticule's columns inside the rectangle at hand, mostly none or one: where they start
    // in the packed copy, how many pixels apart its rows are, and how many to copy.
    struct Piece
    {
        int Left = 0;
        std::size_t Count = 0;
        const std::uint32_t *From = nullptr;
        std::size_t Stride = 0;
    };
    std::array<Piece, GraticuleSide / Division + 1> pieces;
    const PixelRows layer = rows();
    PixelRect bounds;
    for (const PixelRect &limit : area) {
        bounds = bounds.united(limit);
        const PixelRect part = limit.intersected(rect()).intersected(target.rect());
        if (part.empty())
            continue;
        const auto width = std::size_t(part.width());
        std::size_t count = 0;
        const std::uint32_t *run = ColumnPixels.data();
        for (const auto &[first, last] : Columns) {
            const auto runWidth = std::size_t(last - first + 1);
            const int left = std::max(first, part.Left);
            const int right = std::min(last, part.Right - 1);
            if (left <= right)
                pieces[count++] = {left, std::size_t(right - left + 1), run + (left - first),
                                   runWidth};
            run += runWidth * std::size_t(Height);
        }
        for (int y = part.Top; y < part.Bottom; ++y) {
            std::uint32_t *to = target.row(y);
            if (RowsWithLines[std::size_t(y)]) {
                std::copy_n(layer.row(y) + part.Left, width, to + part.Left);
                continue;
            }
            fillShort(to + part.Left, width, Background);
            for (std::size_t piece = 0; piece < count; ++piece) {
                const Piece &p = pieces[piece];
                std::copy_n(p.From + std::size_t(y) * p.Stride, p.Count, to + p.Left);
            }
        }
    }
    return bounds;
}
