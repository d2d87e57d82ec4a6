#include "TraceRasteriser.h"
#include "WaveformGeometry.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using Segment = TraceRasteriser::Segment;

struct Transform
{
    double ScaleX = 1;
    double ScaleY = 1;
    // Pixel centres lie at half coordinates, so a logical point lands on a pixel's centre.
    double Offset = 0.5;
};

TraceRasteriser::Pixels pixelsOf(QImage &image)
{
    return {reinterpret_cast<std::uint32_t *>(image.bits()), image.bytesPerLine() / 4,
            image.width(), image.height()};
}

// The share of pixel (i, j) that the line's rectangle covers, found by sampling: a sample is
// mapped back to logical space and tested against the rectangle there. Only pixels that straddle
// one of the rectangle's sides are sampled; the rest are wholly in or out.
//
// A pen thinner than a device pixel along an axis is a pixel wide there: then the line is the
// parallelogram of its device ends moved by the widened half-normal, tested in device space.
class Reference
{
public:
    Reference(const Segment &segment, const Transform &transform, double penWidth)
        : S(segment)
        , T(transform)
        , Along {segment.X2 - segment.X1, segment.Y2 - segment.Y1}
        , Length(std::hypot(Along[0], Along[1]))
        , Half(penWidth / 2)
        , Thin(penWidth * transform.ScaleX < 1 || penWidth * transform.ScaleY < 1)
    {
        if (!(Length > 0))
            return;
        Device[0] = Along[0] * T.ScaleX;
        Device[1] = Along[1] * T.ScaleY;
        Normal[0] = -Along[1] / Length * std::max(penWidth * T.ScaleX, 1.0) / 2;
        Normal[1] = Along[0] / Length * std::max(penWidth * T.ScaleY, 1.0) / 2;
    }

    // The line's area in device pixels.
    double area() const
    {
        return Length > 0 ? 2 * std::abs(Device[0] * Normal[1] - Device[1] * Normal[0]) : 0;
    }

    double coverage(int i, int j) const
    {
        if (!(Length > 0))
            return 0;
        bool allInside = true;
        for (int side = 0; side < 4; ++side) {
            int outside = 0;
            for (int corner = 0; corner < 4; ++corner) {
                const double d = distanceOut(side, i + corner % 2, j + corner / 2);
                outside += d > 0;
                allInside = allInside && d <= 0;
            }
            if (outside == 4)
                return 0;
        }
        if (allInside)
            return 1;
        constexpr int N = 32;
        int inside = 0;
        for (int v = 0; v < N; ++v)
            for (int u = 0; u < N; ++u) {
                const double x = i + (u + 0.5) / N;
                const double y = j + (v + 0.5) / N;
                bool in = true;
                for (int side = 0; side < 4 && in; ++side)
                    in = distanceOut(side, x, y) <= 0;
                inside += in;
            }
        return double(inside) / (N * N);
    }

private:
    // How far the device point (x, y) lies outside one side of the rectangle, in logical units
    // (in the parallelogram's own measure for a thin pen).
    double distanceOut(int side, double x, double y) const
    {
        if (Thin) {
            const double px = x - (S.X1 * T.ScaleX + T.Offset);
            const double py = y - (S.Y1 * T.ScaleY + T.Offset);
            const double det = Device[0] * Normal[1] - Device[1] * Normal[0];
            const double along = (px * Normal[1] - py * Normal[0]) / det;
            const double across = (Device[0] * py - Device[1] * px) / det;
            return side == 0 ? -along
                : side == 1  ? along - 1
                : side == 2  ? across - 1
                             : -across - 1;
        }
        const double lx = (x - T.Offset) / T.ScaleX - S.X1;
        const double ly = (y - T.Offset) / T.ScaleY - S.Y1;
        const double along = (lx * Along[0] + ly * Along[1]) / Length;
        const double across = (lx * Along[1] - ly * Along[0]) / Length;
        switch (side) {
        case 0:
            return -along;
        case 1:
            return along - Length;
        case 2:
            return across - Half;
        default:
            return -across - Half;
        }
    }

    Segment S;
    Transform T;
    double Along[2];
    double Length;
    double Half;
    bool Thin;
    double Device[2] = {};
    double Normal[2] = {};
};

// A segment of a random kind from `from`: level, upright, one unit across, steep, shallow, of no
// length, either way; ends anywhere in a box of the given logical size, a little beyond it too.
Segment randomSegment(std::mt19937 &generator, double width, double height, QPointF from)
{
    std::uniform_real_distribution<double> xs(-0.2 * width, 1.2 * width);
    std::uniform_real_distribution<double> ys(-0.2 * height, 1.2 * height);
    QPointF to(std::round(xs(generator)), std::round(ys(generator)));
    switch (generator() % 8) {
    case 0:
        to.setY(from.y());
        break;
    case 1:
        to.setX(from.x());
        break;
    case 2:
        to.setX(from.x() + (generator() % 2 ? 1 : -1));
        break;
    case 3:
        to.setX(from.x() + double(generator() % 5) - 2);
        break;
    case 4:
        to.setY(from.y() + double(generator() % 5) - 2);
        break;
    case 5:
        to = from;
        break;
    case 6:
        to += QPointF(double(generator() % 1000) / 1000, double(generator() % 1000) / 1000);
        break;
    default:
        break;
    }
    return {from.x(), from.y(), to.x(), to.y()};
}

double channel(QRgb pixel, int which)
{
    return which == 0 ? qRed(pixel) : which == 1 ? qGreen(pixel) : qBlue(pixel);
}

TEST(TraceRasteriser, CoversEachPixelByTheAreaOfTheLineInIt)
{
    std::mt19937 generator(21);
    int areasChecked = 0;
    for (int trial = 0; trial < 160; ++trial) {
        const int width = 12 + int(generator() % 90);
        const int height = 12 + int(generator() % 90);
        Transform transform;
        transform.ScaleX = 0.4 + (generator() % 5600) / 1000.0;
        transform.ScaleY = trial % 3 == 0 ? transform.ScaleX : 0.4 + (generator() % 5600) / 1000.0;
        const double pen = trial % 2 ? 1.0 : 0.3 + (generator() % 2700) / 1000.0;
        const double logicalWidth = width / transform.ScaleX;
        const double logicalHeight = height / transform.ScaleY;
        const QPointF from(std::round(logicalWidth * (generator() % 1000) / 1000.0),
                           std::round(logicalHeight * (generator() % 1000) / 1000.0));
        const Segment segment = randomSegment(generator, logicalWidth, logicalHeight, from);

        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::black);
        TraceRasteriser(transform.ScaleX, transform.ScaleY, transform.Offset, transform.Offset, pen,
                        0xFFFFFF)
            .draw(pixelsOf(image), &segment, 1);

        const Reference reference(segment, transform, pen);
        double ink = 0;
        int touched = 0;
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i) {
                const QRgb pixel = image.pixel(i, j);
                ink += qGreen(pixel) / 255.0;
                touched += qGreen(pixel) != 0;
                ASSERT_TRUE(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel));
                const double expected = reference.coverage(i, j);
                ASSERT_NEAR(qGreen(pixel) / 255.0, expected, 1.0 / 16)
                    << "trial " << trial << " pixel " << i << "," << j << " segment (" << segment.X1
                    << "," << segment.Y1 << ")-(" << segment.X2 << "," << segment.Y2 << ") scales "
                    << transform.ScaleX << "," << transform.ScaleY << " pen " << pen << " picture "
                    << width << "x" << height;
            }
        // In all, a line inside the picture inks exactly its area: the rectangle's times the
        // scales, for a pen a pixel wide or wider. Each pixel rounds to the nearest level, half a
        // level at most.
        const double length = std::hypot(segment.X2 - segment.X1, segment.Y2 - segment.Y1);
        const bool thin = pen * transform.ScaleX < 1 || pen * transform.ScaleY < 1;
        EXPECT_NEAR(reference.area(),
                    thin ? reference.area() : length * pen * transform.ScaleX * transform.ScaleY,
                    1e-9);
        const QRectF picture(0, 0, width, height);
        bool inside = true;
        for (const double along : {-2 * pen - 1, 2 * pen + 1})
            for (const QPointF end :
                 {QPointF(segment.X1, segment.Y1), QPointF(segment.X2, segment.Y2)})
                inside = inside
                    && picture.contains(QPointF((end.x() + along) * transform.ScaleX + 0.5,
                                                (end.y() + along) * transform.ScaleY + 0.5))
                    && picture.contains(QPointF((end.x() - along) * transform.ScaleX + 0.5,
                                                (end.y() + along) * transform.ScaleY + 0.5));
        if (inside) {
            ++areasChecked;
            EXPECT_NEAR(ink, reference.area(), touched * 0.5 / 255 + 1e-9) << "trial " << trial;
        }
    }
    EXPECT_GT(areasChecked, 20);
}

// Where lines meet, the later one is blended over the earlier, not merged with it.
TEST(TraceRasteriser, BlendsLinesOneAfterAnother)
{
    std::mt19937 generator(22);
    const QRgb background = 0xFF000040;
    const QRgb colour = 0xFF64FF64;
    for (int trial = 0; trial < 24; ++trial) {
        const int width = 30 + int(generator() % 60);
        const int height = 30 + int(generator() % 60);
        Transform transform;
        transform.ScaleX = 1 + (generator() % 4000) / 1000.0;
        transform.ScaleY = 1 + (generator() % 4000) / 1000.0;
        const double logicalWidth = width / transform.ScaleX;
        const double logicalHeight = height / transform.ScaleY;
        std::vector<Segment> segments;
        QPointF from(std::round(logicalWidth / 2), std::round(logicalHeight / 2));
        for (int k = 0; k < 5; ++k) {
            segments.push_back(randomSegment(generator, logicalWidth, logicalHeight, from));
            from = QPointF(segments.back().X2, segments.back().Y2);
        }

        QImage image(width, height, QImage::Format_RGB32);
        image.fill(background);
        TraceRasteriser(transform.ScaleX, transform.ScaleY, transform.Offset, transform.Offset, 1.0,
                        colour)
            .draw(pixelsOf(image), segments.data(), segments.size());

        std::vector<Reference> references;
        for (const Segment &segment : segments)
            references.emplace_back(segment, transform, 1.0);
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i)
                for (int which = 0; which < 3; ++which) {
                    double expected = channel(background, which);
                    for (const Reference &reference : references)
                        expected += (channel(colour, which) - expected) * reference.coverage(i, j);
                    ASSERT_NEAR(channel(image.pixel(i, j), which), expected, 255.0 / 16)
                        << "trial " << trial << " pixel " << i << "," << j;
                }
    }
}

struct InkComparison
{
    double OwnInk = 0;
    double ToolkitInk = 0;
    int Worst = 0;
    QPoint WorstAt;
};

// Totals of the trace colour's share (read from green, where trace and background differ most)
// and the largest difference in any channel, over the pixels `counted` accepts.
template<typename Counted>
InkComparison compareInk(const QImage &own, const QImage &toolkit, QRgb background, QRgb colour,
                         Counted counted)
{
    const auto share = [&](QRgb pixel) {
        return double(qGreen(pixel) - qGreen(background)) / (qGreen(colour) - qGreen(background));
    };
    InkComparison result;
    for (int y = 0; y < own.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(toolkit.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(own.constScanLine(y));
        for (int x = 0; x < own.width(); ++x) {
            if ((a[x] == background && b[x] == background) || !counted(x, y))
                continue;
            result.ToolkitInk += share(a[x]);
            result.OwnInk += share(b[x]);
            int off = 0;
            for (int which = 0; which < 3; ++which)
                off = std::max(off, int(std::abs(channel(a[x], which) - channel(b[x], which))));
            if (off > result.Worst) {
                result.Worst = off;
                result.WorstAt = QPoint(x, y);
            }
        }
    }
    return result;
}

// Against the toolkit's own anti-aliased drawing of the same lines under the picture's transform:
// the same ink in all, and no pixel off by more than an eighth, at picture sizes with equal and
// unequal scales.
//
// At equal scales the toolkit draws a line by a fast path of its own that leaves out the partly
// covered row at a slanted flat end, up to 233 levels short of the exact area there (the sampled
// reference above confirms the area), and falls up to 1.2 % short of the exact ink in all at
// scales near 1. There, against the toolkit's lines, the pixels within a pen's reach of a line's
// end are left out and the ink is held to 2 %; and the whole picture is held to the full bounds
// against the toolkit's general stroker, which it uses at unequal scales: the lines' outlines as
// it strokes them, filled one after another.
TEST(TraceRasteriser, DrawsWhatTheToolkitDrawsWithinItsAntiAliasing)
{
    std::mt19937 generator(23);
    const QRgb background = 0xFF000040;
    const QRgb colour = 0xFF64FF64;
    const QPen pen(QColor::fromRgb(colour), 1.0, Qt::SolidLine, Qt::FlatCap);
    std::vector<QSize> sizes {{961, 721},  {1916, 1006}, {1920, 1081}, {1283, 963},
                              {700, 1001}, {1920, 1080}, {1916, 1005}};
    while (sizes.size() < 24)
        sizes.emplace_back(660 + int(generator() % 1300), 500 + int(generator() % 800));
    int unequal = 0;
    for (const QSize size : sizes) {
        const WaveformGeometry::Area area = WaveformGeometry::fitArea(size.width(), size.height());
        const float scaleX = float(area.Width / 640.0);
        const float scaleY = float(area.Height / 480.0);
        const bool equal = scaleX == scaleY;
        unequal += !equal;
        const QTransform transform = QTransform().translate(0.5, 0.5).scale(scaleX, scaleY);
        // Random lines of every kind, then a trace's worth of steps three or four units across.
        std::vector<QLine> lines;
        QPoint from(int(generator() % 640), int(generator() % 480));
        for (int k = 0; k < 40; ++k) {
            const Segment s = randomSegment(generator, 640, 480, from);
            lines.emplace_back(from, QPoint(int(s.X2), int(s.Y2)));
            from = lines.back().p2();
        }
        for (int i = 1; i < WaveformGeometry::SampleCount; ++i)
            lines.emplace_back(WaveformGeometry::traceX(i - 1), lines.back().y2(),
                               WaveformGeometry::traceX(i),
                               WaveformGeometry::traceY(std::uint8_t(generator())));

        QImage own(size, QImage::Format_RGB32);
        own.fill(background);
        std::vector<Segment> segments;
        for (const QLine &line : lines)
            segments.push_back(
                {double(line.x1()), double(line.y1()), double(line.x2()), double(line.y2())});
        TraceRasteriser(scaleX, scaleY, 0.5, 0.5, 1.0, colour)
            .draw(pixelsOf(own), segments.data(), segments.size());

        QImage toolkit(size, QImage::Format_RGB32);
        toolkit.fill(background);
        {
            QPainter painter(&toolkit);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setTransform(transform);
            painter.setPen(pen);
            for (const QLine &line : lines)
                painter.drawLine(line);
        }
        // Each line's ends, widened by a pen's reach.
        QImage ends(size, QImage::Format_Grayscale8);
        ends.fill(0);
        if (equal) {
            QPainter painter(&ends);
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::white);
            const double reach = scaleX / 2 + 1.5;
            for (const QLine &line : lines)
                for (const QPoint end : {line.p1(), line.p2()})
                    painter.drawEllipse(QPointF(end.x() * scaleX + 0.5, end.y() * scaleY + 0.5),
                                        reach, reach);
        }
        const auto awayFromEnds = [&](int x, int y) { return ends.constScanLine(y)[x] == 0; };
        const std::string at = std::to_string(size.width()) + "x" + std::to_string(size.height());
        InkComparison ink = compareInk(own, toolkit, background, colour, awayFromEnds);
        EXPECT_NEAR(ink.OwnInk, ink.ToolkitInk, ink.ToolkitInk / (equal ? 50 : 100)) << at;
        EXPECT_LE(ink.Worst, 255 / 8) << at << " at " << ink.WorstAt.x() << "," << ink.WorstAt.y();
        if (!equal)
            continue;

        QPainterPathStroker stroker(pen);
        toolkit.fill(background);
        {
            QPainter painter(&toolkit);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setTransform(transform);
            for (const QLine &line : lines) {
                QPainterPath path(line.p1());
                path.lineTo(line.p2());
                painter.fillPath(stroker.createStroke(path), pen.brush());
            }
        }
        ink = compareInk(own, toolkit, background, colour, [](int, int) { return true; });
        EXPECT_NEAR(ink.OwnInk, ink.ToolkitInk, ink.ToolkitInk / 100) << at << " stroked";
        EXPECT_LE(ink.Worst, 255 / 8)
            << at << " stroked, at " << ink.WorstAt.x() << "," << ink.WorstAt.y();
    }
    EXPECT_GT(unequal, 10);
}

// Lines far beyond the picture, or across all of it, touch only its pixels and only where they
// lie; a picture of no pixels is left alone.
TEST(TraceRasteriser, ClipsAtThePicturesEdges)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::black);
    const Segment far[] = {{-1e6, -1e6, -2e6, 5},
                           {1e9, 3, 1e9, 20},
                           {5, -1e7, 6, -2e7},
                           {-1e15, -1e15, -1e15, 1e15},
                           {1e15, 1e15, 2e15, 1e15}};
    TraceRasteriser(2.0, 3.0, 0.5, 0.5, 1.0, 0xFFFFFF).draw(pixelsOf(image), far, std::size(far));
    EXPECT_EQ(image.pixel(0, 0), 0xFF000000U);
    QImage blank(40, 30, QImage::Format_RGB32);
    blank.fill(Qt::black);
    EXPECT_EQ(image, blank);

    // Across the whole picture, level, two pixels high: every column of its rows full.
    const Segment across {-1000, 5, 1000, 5};
    TraceRasteriser(2.0, 2.0, 0.5, 0.5, 1.0, 0xFFFFFF).draw(pixelsOf(image), &across, 1);
    for (int x = 0; x < image.width(); ++x) {
        EXPECT_EQ(image.pixel(x, 9), 0xFF808080U) << x;
        EXPECT_EQ(image.pixel(x, 10), 0xFFFFFFFFU) << x;
        EXPECT_EQ(image.pixel(x, 11), 0xFF808080U) << x;
    }

    TraceRasteriser::Pixels none {nullptr, 0, 0, 0};
    TraceRasteriser(2.0, 2.0, 0.5, 0.5, 1.0, 0xFFFFFF).draw(none, &across, 1);
}

} // namespace
