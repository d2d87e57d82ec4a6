#pragma once

#include <QImage>
#include <QLineF>
#include <QRect>
#include <QRgb>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// Reads a captured window against the picture's geometry: a 640 x 480 logical space fitted 4:3
// into the view at its top-left corner. Expectations are worked out here from the geometry alone,
// not taken from the program, so that a fault in the program cannot hide in its own numbers.
namespace PictureCheck {

constexpr QRgb Background = qRgb(0, 0, 64);
constexpr QRgb GraticuleInk = qRgb(0, 80, 180);
constexpr QRgb TraceInk = qRgb(100, 255, 100);

// The view inside the captured window: the largest rectangle of the background colour whose
// left column and top row are background throughout (the logical space's margins are).
std::optional<QRect> locateView(const QImage &window);

// Where the logical space lands in the window for a view of this placement.
struct Placement
{
    QRect View;
    int AreaWidth = 0;
    int AreaHeight = 0;
    double Sx = 0;
    double Sy = 0;
    QPointF toPixel(double x, double y) const
    {
        return {View.left() + x * Sx, View.top() + y * Sy};
    }
};
Placement placementFor(const QRect &view);

using Samples = std::array<std::uint8_t, 128>;

// Each check answers the faults it found; an empty list means the picture is right.
// How long the grid's dashes may be: scaled with the picture as the drawing asks, or also 4
// device pixels whatever the scale, as Wine's GDI+ draws them at some scales.
enum class Dashes { Scaled, ScaledOrDevicePixels };
// Border solid and grid lines dashed where the geometry puts them.
QStringList checkGraticule(const QImage &window, const Placement &placement, const Samples &samples,
                           Dashes dashes = Dashes::Scaled);
// A trace pixel at every sample and none away from the polyline of the samples.
QStringList checkTrace(const QImage &window, const Placement &placement, const Samples &samples);
// Nothing but background off the graticule, the trace and the text column, strip included.
QStringList checkBackground(const QImage &window, const Placement &placement,
                            const Samples &samples);

// The text column's rows of one line (0 to 7), from the view's left to its right edge.
QRect textLineBand(const Placement &placement, int line);
// Pixels of the band that differ noticeably between two images of it.
int differingPixels(const QImage &a, const QRect &inA, const QImage &b, const QRect &inB);
// Pixels of the band in (or blended towards) the text colour.
int textPixels(const QImage &window, const QRect &band);

} // namespace PictureCheck
