#include "TraceShape.h"

#include "ScopeFrame.h"

#include <algorithm>
#include <cmath>

using namespace WaveformGeometry;

namespace TraceShape {

namespace {

std::uint8_t sample(const ScopeFrame &frame, int index)
{
    return frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(index)];
}

} // namespace

Segments segments(const ScopeFrame &frame)
{
    Segments lines;
    int previousY = traceY(sample(frame, 0));
    for (int i = 1; i < SampleCount; ++i) {
        const int y = traceY(sample(frame, i));
        lines[std::size_t(i - 1)] = {double(traceX(i - 1)), double(previousY), double(traceX(i)),
                                     double(y)};
        previousY = y;
    }
    return lines;
}

std::vector<PixelRect> strips(const Segments &lines, const PictureGeometry &geometry,
                              double penWidth, bool ownRasteriser, const PixelRect &limit)
{
    const double reach = ownRasteriser
        ? std::max({penWidth, 1 / geometry.ScaleX, 1 / geometry.ScaleY}) / 2
        : penWidth / 2 + 1;
    // Pixels floor(left) to ceil(right) - 1 hold ink: ours get one to spare on the left and top
    // for rounding, a toolkit's two more on every side. A noisy trace is restored a dozen
    // columns wide per row, so every column counts.
    const int before = ownRasteriser ? 1 : 2;
    const int after = ownRasteriser ? 1 : 3;
    const auto low = [before](double device) { return int(std::floor(device)) - before; };
    const auto high = [after](double device) { return int(std::ceil(device)) + after; };
    std::vector<PixelRect> rects;
    PixelRect strip;
    for (const TraceRasteriser::Segment &segment : lines) {
        const PixelRect piece {low(geometry.deviceX(segment.X1 - reach)),
                               low(geometry.deviceY(std::min(segment.Y1, segment.Y2) - reach)),
                               high(geometry.deviceX(segment.X2 + reach)),
                               high(geometry.deviceY(std::max(segment.Y1, segment.Y2) + reach))};
        const PixelRect merged = strip.united(piece);
        if (strip.empty() || merged.area() <= strip.area() + piece.area()) {
            strip = merged;
        } else {
            rects.push_back(strip.intersected(limit));
            strip = piece;
        }
    }
    rects.push_back(strip.intersected(limit));
    return rects;
}

void draw(const PixelRows &pixels, const Segments &segments, const PictureGeometry &geometry,
          double penWidth, std::uint32_t colour)
{
    TraceRasteriser rasteriser(geometry.ScaleX, geometry.ScaleY, 0.5, 0.5, penWidth, colour);
    rasteriser.draw({pixels.Bits, pixels.Stride, pixels.Width, pixels.Height}, segments.data(),
                    segments.size());
}

} // namespace TraceShape
