#pragma once

#include "PictureGeometry.h"
#include "PixelRows.h"
#include "TraceRasteriser.h"

#include <array>
#include <vector>

class ScopeFrame;

// The trace of one frame: its segments in logical units, the device pixels it can touch and its
// drawing by our rasteriser.
namespace TraceShape {

using Segments = std::array<TraceRasteriser::Segment, WaveformGeometry::SampleCount - 1>;

Segments segments(const ScopeFrame &frame);

// Every device pixel the trace can touch, as rectangles inside `limit`: each segment's bounds
// widened by the pen, neighbours merged while one rectangle for both is no larger than the two.
// A flat trace thus becomes a few long strips and a noisy one stays segment by segment, so
// restoring them puts back about the pixels the trace covered. ownRasteriser: drawn by ours,
// which inks nothing beyond the pen's half-width; a toolkit's caps and fringes reach further.
std::vector<PixelRect> strips(const Segments &segments, const PictureGeometry &geometry,
                              double penWidth, bool ownRasteriser, const PixelRect &limit);

// One segment after another, each blended over what is there.
void draw(const PixelRows &pixels, const Segments &segments, const PictureGeometry &geometry,
          double penWidth, std::uint32_t colour);

} // namespace TraceShape
