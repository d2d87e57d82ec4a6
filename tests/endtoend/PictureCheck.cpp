#include "PictureCheck.h"

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace PictureCheck {

namespace {

constexpr QRgb TextInk = qRgb(255, 255, 200);

// Lines are 1 logical unit wide, anti-aliased and scaled, so their ink spreads over about two
// pixels either side of the exact position; a fault worth catching moves them further.
constexpr double NearPixels = 2.5;

// How far a colour has moved from the background towards the ink (0 to 1), and how far it lies
// off the straight blend between the two; anti-aliasing only ever produces such blends.
struct Blend
{
    double Amount = 0;
    double Off = 0;
};

Blend blendTowards(QRgb pixel, QRgb ink)
{
    const double d[3] = {double(qRed(ink) - qRed(Background)),
                         double(qGreen(ink) - qGreen(Background)),
                         double(qBlue(ink) - qBlue(Background))};
    const double p[3] = {double(qRed(pixel) - qRed(Background)),
                         double(qGreen(pixel) - qGreen(Background)),
                         double(qBlue(pixel) - qBlue(Background))};
    const double length2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double amount = std::clamp((p[0] * d[0] + p[1] * d[1] + p[2] * d[2]) / length2, 0.0, 1.0);
    double off2 = 0;
    for (int c = 0; c < 3; ++c)
        off2 += (p[c] - amount * d[c]) * (p[c] - amount * d[c]);
    return {amount, std::sqrt(off2)};
}

// The strongest ink among the pixels around a point: a line whose centre lies there shows at
// least half its colour on one of them. Across only, when the line's direction is given, so that
// the ends of a dash are not stretched.
double inkAround(const QImage &window, QPointF at, QRgb ink, int reach,
                 std::optional<Qt::Orientation> along = std::nullopt)
{
    double best = 0;
    const int cx = static_cast<int>(std::floor(at.x()));
    const int cy = static_cast<int>(std::floor(at.y()));
    const int reachX = along == Qt::Horizontal ? 0 : reach;
    const int reachY = along == Qt::Vertical ? 0 : reach;
    for (int y = cy - reachY; y <= cy + reachY; ++y)
        for (int x = cx - reachX; x <= cx + reachX; ++x)
            if (window.valid(x, y)) {
                const Blend blend = blendTowards(window.pixel(x, y), ink);
                if (blend.Off < 40)
                    best = std::max(best, blend.Amount);
            }
    return best;
}

double distanceToSegment(QPointF p, const QLineF &segment)
{
    const QPointF d = segment.p2() - segment.p1();
    const double length2 = d.x() * d.x() + d.y() * d.y();
    double t = 0;
    if (length2 > 0)
        t = std::clamp(QPointF::dotProduct(p - segment.p1(), d) / length2, 0.0, 1.0);
    const QPointF nearest = segment.p1() + t * d;
    return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
}

double distanceToAny(QPointF p, const std::vector<QLineF> &segments)
{
    double best = 1e9;
    for (const QLineF &segment : segments)
        best = std::min(best, distanceToSegment(p, segment));
    return best;
}

// Logical geometry, worked out from the layout: graticule corners (8, 8) and (448, 448), eight
// divisions of 55, sample i at x = 8 + 440 i / 128 and value v at y = 448 - 440 v / 64.
constexpr int Low = 8;
constexpr int High = 448;

int sampleX(int i)
{
    return Low + (440 * i) / 128;
}
int sampleY(std::uint8_t sample)
{
    return High - (440 * (sample & 0x3F)) / 64;
}

std::vector<QLineF> borderLines(const Placement &placement)
{
    const QPointF a = placement.toPixel(Low, Low), b = placement.toPixel(High, Low);
    const QPointF c = placement.toPixel(High, High), d = placement.toPixel(Low, High);
    return {{a, b}, {b, c}, {c, d}, {d, a}};
}

std::vector<QLineF> gridLines(const Placement &placement)
{
    std::vector<QLineF> lines;
    for (int k = Low + 55; k < High; k += 55) {
        lines.emplace_back(placement.toPixel(k, Low), placement.toPixel(k, High));
        lines.emplace_back(placement.toPixel(Low, k), placement.toPixel(High, k));
    }
    return lines;
}

std::vector<QLineF> traceLines(const Placement &placement, const Samples &samples)
{
    std::vector<QLineF> lines;
    for (int i = 1; i < 128; ++i)
        lines.emplace_back(placement.toPixel(sampleX(i - 1), sampleY(samples[i - 1])),
                           placement.toPixel(sampleX(i), sampleY(samples[i])));
    return lines;
}

// Whether graticule ink shows at each pixel step along the line, skipping the spots where the
// trace covers it.
std::vector<std::optional<bool>> inkAlong(const QImage &window, const QLineF &line,
                                          const std::vector<QLineF> &trace)
{
    std::vector<std::optional<bool>> steps;
    const int count = static_cast<int>(line.length());
    const Qt::Orientation direction = line.dx() == 0 ? Qt::Vertical : Qt::Horizontal;
    for (int s = 0; s <= count; ++s) {
        const QPointF at = line.pointAt(count > 0 ? double(s) / count : 0);
        if (distanceToAny(at, trace) < 3.5)
            steps.push_back(std::nullopt);
        else
            steps.push_back(inkAround(window, at, GraticuleInk, 1, direction) >= 0.5);
    }
    return steps;
}

QString where(QPointF p)
{
    return u"(%1, %2)"_s.arg(p.x(), 0, 'f', 1).arg(p.y(), 0, 'f', 1);
}

} // namespace

std::optional<QRect> locateView(const QImage &window)
{
    // The longest vertical run of background among the leftmost columns gives left, top and
    // height; the run along its top row gives the width.
    int bestLength = 0, bestX = -1, bestTop = -1;
    for (int x = 0; x < std::min(window.width(), 8); ++x) {
        for (int y = 0; y < window.height();) {
            if (window.pixel(x, y) != Background) {
                ++y;
                continue;
            }
            const int top = y;
            while (y < window.height() && window.pixel(x, y) == Background)
                ++y;
            if (y - top > bestLength) {
                bestLength = y - top;
                bestX = x;
                bestTop = top;
            }
        }
        if (bestLength > 0)
            break;
    }
    if (bestLength < 48)
        return std::nullopt;
    int right = bestX;
    while (right + 1 < window.width() && window.pixel(right + 1, bestTop) == Background)
        ++right;
    return QRect(bestX, bestTop, right - bestX + 1, bestLength);
}

Placement placementFor(const QRect &view)
{
    Placement placement;
    placement.View = view;
    const long long w = view.width(), h = view.height();
    if (3 * w > 4 * h) {
        placement.AreaWidth = static_cast<int>((4 * h) / 3);
        placement.AreaHeight = static_cast<int>(h);
    } else {
        placement.AreaWidth = static_cast<int>(w);
        placement.AreaHeight = static_cast<int>((3 * w) / 4);
    }
    placement.Sx = placement.AreaWidth / 640.0;
    placement.Sy = placement.AreaHeight / 480.0;
    return placement;
}

QStringList checkGraticule(const QImage &window, const Placement &placement, const Samples &samples,
                           Dashes dashes)
{
    QStringList faults;
    const std::vector<QLineF> trace = traceLines(placement, samples);
    for (const QLineF &line : borderLines(placement)) {
        const auto steps = inkAlong(window, line, trace);
        const auto seen =
            std::count_if(steps.begin(), steps.end(), [](const auto &s) { return s.has_value(); });
        const auto inked = std::count(steps.begin(), steps.end(), std::optional<bool>(true));
        if (seen > 0 && inked < seen * 95 / 100)
            faults << u"border %1 to %2: ink at %3 of %4 points"_s.arg(where(line.p1()))
                          .arg(where(line.p2()))
                          .arg(inked)
                          .arg(seen);
    }
    // 440 units of a dash 4 and a gap 4 units long, both scaled with the picture: 55 dashes,
    // fewer where the trace hides part of the line, and one more for each dash it cuts in two.
    for (const QLineF &line : gridLines(placement)) {
        const auto steps = inkAlong(window, line, trace);
        long seen = 0, inked = 0, dashCount = 0, hidden = 0;
        bool previous = false;
        for (const auto &step : steps) {
            if (!step) {
                hidden += previous;
                previous = false;
                continue;
            }
            ++seen;
            inked += *step;
            dashCount += *step && !previous;
            previous = *step;
        }
        const auto countFits = [&](double perLine) {
            const double wanted = perLine * double(seen) / double(steps.size());
            return dashCount >= wanted * 0.85 - 1
                && dashCount <= wanted * 1.15 + double(hidden) + 1;
        };
        const double expected = 55.0 * double(seen) / double(steps.size());
        const bool dashesFit = countFits(55.0)
            || (dashes == Dashes::ScaledOrDevicePixels && countFits(line.length() / 8.0));
        if (inked < seen * 3 / 10 || inked > seen * 7 / 10 || !dashesFit)
            faults << u"grid line %1 to %2: ink at %3 of %4 points in %5 dashes (want about "
                      "half, in %6 dashes)"_s.arg(where(line.p1()))
                          .arg(where(line.p2()))
                          .arg(inked)
                          .arg(seen)
                          .arg(dashCount)
                          .arg(qRound(expected));
    }
    return faults;
}

QStringList checkTrace(const QImage &window, const Placement &placement, const Samples &samples)
{
    QStringList faults;
    for (int i = 0; i < 128; ++i) {
        const QPointF at = placement.toPixel(sampleX(i), sampleY(samples[i]));
        if (inkAround(window, at, TraceInk, 1) < 0.5)
            faults << u"sample %1 (value %2): no trace at %3"_s.arg(i)
                          .arg(samples[i] & 0x3F)
                          .arg(where(at));
    }
    const std::vector<QLineF> trace = traceLines(placement, samples);
    int stray = 0;
    QString first;
    const QRect view = placement.View;
    for (int y = view.top(); y <= view.bottom(); ++y)
        for (int x = view.left(); x <= view.right(); ++x) {
            const QRgb pixel = window.pixel(x, y);
            // Green well above both red (unlike the texts) and blue (unlike the graticule) is the
            // trace's, whatever it is blended with.
            if (qGreen(pixel) < 120 || qGreen(pixel) < qRed(pixel) + 60
                || qGreen(pixel) < qBlue(pixel) + 20)
                continue;
            const QPointF centre(x + 0.5, y + 0.5);
            if (distanceToAny(centre, trace) > NearPixels) {
                if (stray++ == 0)
                    first = where(centre);
            }
        }
    if (stray > 0)
        faults << u"%1 trace pixels away from the samples' polyline, the first at %2"_s.arg(stray)
                      .arg(first);
    return faults;
}

QStringList checkBackground(const QImage &window, const Placement &placement,
                            const Samples &samples)
{
    std::vector<QLineF> drawn = borderLines(placement);
    const std::vector<QLineF> grid = gridLines(placement);
    const std::vector<QLineF> trace = traceLines(placement, samples);
    drawn.insert(drawn.end(), grid.begin(), grid.end());
    drawn.insert(drawn.end(), trace.begin(), trace.end());
    // The text column: from x = 460 to the view's edge (long lines run on into the strip), eight
    // lines of 24 units from y = 8; a little slack for glyphs that reach past their line.
    const QPointF textTopLeft = placement.toPixel(456, 4);
    const QPointF textBottom = placement.toPixel(456, 8 + 8 * 24 + 8);
    QStringList faults;
    int stray = 0;
    QString first;
    const QRect view = placement.View;
    for (int y = view.top(); y <= view.bottom(); ++y)
        for (int x = view.left(); x <= view.right(); ++x) {
            if (window.pixel(x, y) == Background)
                continue;
            const QPointF centre(x + 0.5, y + 0.5);
            if (centre.x() >= textTopLeft.x() && centre.y() >= textTopLeft.y()
                && centre.y() <= textBottom.y())
                continue;
            if (distanceToAny(centre, drawn) > NearPixels) {
                if (stray++ == 0)
                    first = where(centre);
            }
        }
    if (stray > 0)
        faults << u"%1 pixels other than background away from graticule, trace and texts, the "
                  "first at %2 (4:3 area %3 x %4 in a view of %5 x %6)"_s.arg(stray)
                      .arg(first)
                      .arg(placement.AreaWidth)
                      .arg(placement.AreaHeight)
                      .arg(view.width())
                      .arg(view.height());
    return faults;
}

QRect textLineBand(const Placement &placement, int line)
{
    const QPointF top = placement.toPixel(456, 8 + 24 * line);
    const QPointF bottom = placement.toPixel(456, 8 + 24 * (line + 1));
    const int left = static_cast<int>(std::floor(top.x()));
    return QRect(QPoint(left, static_cast<int>(std::floor(top.y()))),
                 QPoint(placement.View.right(), static_cast<int>(std::floor(bottom.y())) - 1));
}

int differingPixels(const QImage &a, const QRect &inA, const QImage &b, const QRect &inB)
{
    int count = 0;
    const int w = std::min(inA.width(), inB.width()), h = std::min(inA.height(), inB.height());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb p = a.pixel(inA.left() + x, inA.top() + y);
            const QRgb q = b.pixel(inB.left() + x, inB.top() + y);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            count += d > 48;
        }
    return count;
}

int textPixels(const QImage &window, const QRect &band)
{
    int count = 0;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x) {
            const Blend blend = blendTowards(window.pixel(x, y), TextInk);
            count += blend.Amount >= 0.5 && blend.Off < 40;
        }
    return count;
}

} // namespace PictureCheck
