#pragma once

#include "PictureGeometry.h"
#include "PixelRows.h"

#include <cstdint>
#include <utility>
#include <vector>

// The picture without trace and texts, kept for the columns the trace can reach, so that a render
// puts back only the pixels under the previous trace instead of drawing the graticule again.
//
// The graticule's vertical lines are a few columns, its horizontal lines a few rows; everything
// else is the background, which a restore fills rather than copies. The vertical lines' pixels
// are also kept packed, column run after column run, so that a restore's copies stay in the cache
// instead of reading rows a page apart.
class PictureLayer
{
public:
    // Takes the layer from a picture that holds just background and graticule. halfPen: half the
    // widest graticule pen in logical units. Answers false when memory runs out.
    bool capture(const PixelRows &drawn, const PictureGeometry &geometry, std::uint32_t background,
                 double halfPen);
    void clear();
    bool empty() const { return Pixels.empty(); }
    PixelRect rect() const { return {0, 0, Width, Height}; }

    // The whole picture as the layer holds it, background right of it.
    void putBack(const PixelRows &target) const;
    // The layer's pixels inside the rectangles; answers their bounds.
    PixelRect restore(const PixelRows &target, const std::vector<PixelRect> &area) const;

private:
    PixelRows rows() const;

    int Width = 0;
    int Height = 0;
    std::uint32_t Background = 0;
    std::vector<std::uint32_t> Pixels;
    // The vertical lines' columns as [first, last] runs.
    std::vector<std::pair<int, int>> Columns;
    // Per row: it holds more than background outside those columns (a horizontal line).
    std::vector<unsigned char> RowsWithLines;
    std::vector<std::uint32_t> ColumnPixels;
};
