#pragma once

#include "PictureGeometry.h"
#include "PixelRows.h"
#include "TraceShape.h"

#include <algorithm>
#include <cstdint>
#include <string>

// What a look needs known to compose its picture: the background that fills everything the
// graticule, the trace and the texts leave, and the pens' reach.
struct PictureLook
{
    // Opaque 0xAARRGGBB, as the painter leaves it in the pixels.
    std::uint32_t Background = 0;
    // A single colour: only then can parts of the picture be put back apart from the rest.
    bool PlainBackground = true;
    double TracePen = 1;
    std::uint32_t TraceColour = 0;
    // Drawn by our rasteriser; otherwise the painter draws the trace.
    bool OwnTrace = true;
    // The wider of the border's and the grid's pens.
    double GraticulePen = 1;

    double widestPen() const { return std::max({TracePen, GraticulePen, 1.0}); }
};

// What a toolkit draws of a picture; the composing is the same everywhere. Each call draws at
// the geometry's scales with pixel centres at half coordinates.
class PicturePainter
{
public:
    virtual ~PicturePainter() = default;
    // Fills all of `target` with the background, then draws border and grid (nothing more when
    // the geometry has no area).
    virtual void drawLayer(const PixelRows &target, const PictureGeometry &geometry) = 0;
    // Draws one overlay line over what is there, into pixels whose (0, 0) is the picture's
    // (left, top).
    virtual void drawText(const PixelRows &pixels, int left, int top,
                          const PictureGeometry &geometry, int line,
                          const std::u16string &text) = 0;
    // The trace, for a look whose pen our rasteriser does not draw.
    virtual void drawTrace(const PixelRows &, const TraceShape::Segments &, const PictureGeometry &)
    { }
};
