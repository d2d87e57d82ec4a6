#include "TraceRasteriser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// The comparison with the toolkit's own drawing needs Qt; everything else runs on every platform.
#if defined(VANDREL_TEST_WITH_QT)
#include "WaveformGeometry.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#endif

namespace {

using Segment = TraceRasteriser::Segment;

struct Transform
{
    double ScaleX = 1;
    double ScaleY = 1;
    // Pixel centres lie at half coordinates, so a logical point lands on a pixel's centre.
    double Offset = 0.5;
};

struct Point
{
    double X = 0;
    double Y = 0;
};

// 0xAARRGGBB pixels inside a guard band of canaries, which no drawing may change.
class Picture
{
public:
    static constexpr int Guard = 4;

    Picture(int width, int height, std::uint32_t fill)
        : Width(width)
        , Height(height)
        , Stride(width + 2 * Guard)
        , Bits(std::size_t(Stride) * std::size_t(height + 2 * Guard))
    {
        for (std::size_t k = 0; k < Bits.size(); ++k)
            Bits[k] = canary(k);
        for (int j = 0; j < height; ++j)
            std::fill_n(&at(0, j), width, fill);
    }

    TraceRasteriser::Pixels pixels() { return {&at(0, 0), Stride, Width, Height}; }
    std::uint32_t pixel(int i, int j) const { return Bits[index(i, j)]; }
    int width() const { return Width; }
    int height() const { return Height; }

    bool guardIntact() const
    {
        for (std::size_t k = 0; k < Bits.size(); ++k) {
            const int i = int(k % std::size_t(Stride)) - Guard;
            const int j = int(k / std::size_t(Stride)) - Guard;
            const bool inside = i >= 0 && i < Width && j >= 0 && j < Height;
            if (!inside && Bits[k] != canary(k))
                return false;
        }
        return true;
    }

    bool operator==(const Picture &other) const = default;

private:
    static std::uint32_t canary(std::size_t k) { return 0x5A5A0000U ^ std::uint32_t(k * 40503U); }
    std::size_t index(int i, int j) const
    {
        return std::size_t(j + Guard) * std::size_t(Stride) + std::size_t(i + Guard);
    }
    std::uint32_t &at(int i, int j) { return Bits[index(i, j)]; }

    int Width;
    int Height;
    int Stride;
    std::vector<std::uint32_t> Bits;
};

int red(std::uint32_t pixel)
{
    return int((pixel >> 16) & 0xFF);
}
int green(std::uint32_t pixel)
{
    return int((pixel >> 8) & 0xFF);
}
int blue(std::uint32_t pixel)
{
    return int(pixel & 0xFF);
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
Segment randomSegment(std::mt19937 &generator, double width, double height, Point from)
{
    std::uniform_real_distribution<double> xs(-0.2 * width, 1.2 * width);
    std::uniform_real_distribution<double> ys(-0.2 * height, 1.2 * height);
    Point to {std::round(xs(generator)), std::round(ys(generator))};
    switch (generator() % 8) {
    case 0:
        to.Y = from.Y;
        break;
    case 1:
        to.X = from.X;
        break;
    case 2:
        to.X = from.X + (generator() % 2 ? 1 : -1);
        break;
    case 3:
        to.X = from.X + double(generator() % 5) - 2;
        break;
    case 4:
        to.Y = from.Y + double(generator() % 5) - 2;
        break;
    case 5:
        to = from;
        break;
    case 6:
        to.X += double(generator() % 1000) / 1000;
        to.Y += double(generator() % 1000) / 1000;
        break;
    default:
        break;
    }
    return {from.X, from.Y, to.X, to.Y};
}

double channel(std::uint32_t pixel, int which)
{
    return which == 0 ? red(pixel) : which == 1 ? green(pixel) : blue(pixel);
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
        const Point from {std::round(logicalWidth * (generator() % 1000) / 1000.0),
                          std::round(logicalHeight * (generator() % 1000) / 1000.0)};
        const Segment segment = randomSegment(generator, logicalWidth, logicalHeight, from);

        Picture image(width, height, 0xFF000000);
        TraceRasteriser(transform.ScaleX, transform.ScaleY, transform.Offset, transform.Offset, pen,
                        0xFFFFFF)
            .draw(image.pixels(), &segment, 1);

        const Reference reference(segment, transform, pen);
        double ink = 0;
        int touched = 0;
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i) {
                const std::uint32_t pixel = image.pixel(i, j);
                ink += green(pixel) / 255.0;
                touched += green(pixel) != 0;
                ASSERT_TRUE(red(pixel) == green(pixel) && green(pixel) == blue(pixel));
                const double expected = reference.coverage(i, j);
                ASSERT_NEAR(green(pixel) / 255.0, expected, 1.0 / 16)
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
        const auto contains = [&](double x, double y) {
            return x >= 0 && x < width && y >= 0 && y < height;
        };
        bool inside = true;
        for (const double along : {-2 * pen - 1, 2 * pen + 1})
            for (const Point end : {Point {segment.X1, segment.Y1}, Point {segment.X2, segment.Y2}})
                inside = inside
                    && contains((end.X + along) * transform.ScaleX + 0.5,
                                (end.Y + along) * transform.ScaleY + 0.5)
                    && contains((end.X - along) * transform.ScaleX + 0.5,
                                (end.Y + along) * transform.ScaleY + 0.5);
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
    const std::uint32_t background = 0xFF000040;
    const std::uint32_t colour = 0xFF64FF64;
    for (int trial = 0; trial < 24; ++trial) {
        const int width = 30 + int(generator() % 60);
        const int height = 30 + int(generator() % 60);
        Transform transform;
        transform.ScaleX = 1 + (generator() % 4000) / 1000.0;
        transform.ScaleY = 1 + (generator() % 4000) / 1000.0;
        const double logicalWidth = width / transform.ScaleX;
        const double logicalHeight = height / transform.ScaleY;
        std::vector<Segment> segments;
        Point from {std::round(logicalWidth / 2), std::round(logicalHeight / 2)};
        for (int k = 0; k < 5; ++k) {
            segments.push_back(randomSegment(generator, logicalWidth, logicalHeight, from));
            from = {segments.back().X2, segments.back().Y2};
        }

        Picture image(width, height, background);
        TraceRasteriser(transform.ScaleX, transform.ScaleY, transform.Offset, transform.Offset, 1.0,
                        colour)
            .draw(image.pixels(), segments.data(), segments.size());

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

// Lines far beyond the picture, or across all of it, touch only its pixels and only where they
// lie; a picture of no pixels is left alone.
TEST(TraceRasteriser, ClipsAtThePicturesEdges)
{
    Picture image(40, 30, 0xFF000000);
    const Segment far[] = {{-1e6, -1e6, -2e6, 5},
                           {1e9, 3, 1e9, 20},
                           {5, -1e7, 6, -2e7},
                           {-1e15, -1e15, -1e15, 1e15},
                           {1e15, 1e15, 2e15, 1e15}};
    TraceRasteriser(2.0, 3.0, 0.5, 0.5, 1.0, 0xFFFFFF).draw(image.pixels(), far, std::size(far));
    EXPECT_TRUE(image == Picture(40, 30, 0xFF000000));

    // Across the whole picture, level, two pixels high: every column of its rows full.
    const Segment across {-1000, 5, 1000, 5};
    TraceRasteriser(2.0, 2.0, 0.5, 0.5, 1.0, 0xFFFFFF).draw(image.pixels(), &across, 1);
    for (int x = 0; x < image.width(); ++x) {
        EXPECT_EQ(image.pixel(x, 9), 0xFF808080U) << x;
        EXPECT_EQ(image.pixel(x, 10), 0xFFFFFFFFU) << x;
        EXPECT_EQ(image.pixel(x, 11), 0xFF808080U) << x;
    }
    EXPECT_TRUE(image.guardIntact());

    TraceRasteriser::Pixels none {nullptr, 0, 0, 0};
    TraceRasteriser(2.0, 2.0, 0.5, 0.5, 1.0, 0xFFFFFF).draw(none, &across, 1);
}

// The level (0 to 255) at which `pixel` is `colour` over `background`, rounded as 8-bit blending
// rounds; -1 when it is no such blend.
int blendLevel(std::uint32_t pixel, std::uint32_t colour, std::uint32_t background)
{
    if ((pixel >> 24) != 0xFF)
        return -1;
    for (int a = 0; a < 256; ++a) {
        bool same = true;
        for (int which = 0; which < 3 && same; ++which) {
            const int c = int(channel(colour, which));
            const int b = int(channel(background, which));
            same = int(channel(pixel, which)) == (c * a + b * (255 - a) + 127) / 255;
        }
        if (same)
            return a;
    }
    return -1;
}

// Finite numbers of every kind: zeros, denormals, the least and greatest normal numbers, any
// exponent at all, and plain ones up to about `plain`.
double anyFinite(std::mt19937_64 &generator, double plain)
{
    static constexpr double Edges[] = {0.0,     -0.0,     DBL_TRUE_MIN, -DBL_TRUE_MIN,
                                       DBL_MIN, -DBL_MIN, DBL_MAX,      -DBL_MAX,
                                       1e-16,   -1e-16,   1e300,        -1e300};
    std::uniform_real_distribution<double> unit(0, 1);
    switch (generator() % 5) {
    case 0:
        return Edges[generator() % std::size(Edges)];
    case 1: {
        double value = 0;
        do {
            const std::uint64_t bits = generator();
            std::memcpy(&value, &bits, sizeof value);
        } while (!std::isfinite(value));
        return value;
    }
    case 2:
        return std::ldexp(1 + unit(generator), int(generator() % 2098) - 1075)
            * (generator() % 2 ? 1 : -1);
    default:
        return (unit(generator) * 1.4 - 0.2) * plain;
    }
}

// A huge number and a tiny one, of either sign: the parts of a long, almost level or upright
// direction. The tiny one may be denormal or zero.
Point hugeAndTiny(std::mt19937_64 &generator, bool level)
{
    std::uniform_real_distribution<double> unit(0, 1);
    const double huge = std::pow(10.0, 300 * unit(generator)) * (generator() % 2 ? 1 : -1);
    double tiny = std::pow(10.0, -330 * unit(generator)) * (generator() % 2 ? 1 : -1);
    if (generator() % 4 == 0)
        tiny = DBL_TRUE_MIN * double(generator() % 9);
    return level ? Point {huge, tiny} : Point {tiny, huge};
}

std::string describe(const Segment &segment, double scaleX, double scaleY, double offsetX,
                     double offsetY, double pen, int width, int height)
{
    std::ostringstream text;
    text << std::setprecision(17) << "segment (" << segment.X1 << ", " << segment.Y1 << ")-("
         << segment.X2 << ", " << segment.Y2 << ") scales " << scaleX << ", " << scaleY
         << " offsets " << offsetX << ", " << offsetY << " pen " << pen << " picture " << width
         << "x" << height;
    return text.str();
}

// Whatever finite numbers it is given (ends, scales, offsets and pen of any size and sign,
// denormal or zero), a line changes no pixel outside the picture and leaves each one inside a
// blend of its colour over what was there.
TEST(TraceRasteriser, AnyFiniteLineStaysInsideThePictureAsABlend)
{
    std::mt19937_64 generator(24);
    std::uniform_real_distribution<double> unit(0, 1);
    const std::uint32_t background = 0xFF000040;
    const std::uint32_t colour = 0xFF64FF64;
    int inkedTrials = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const int width = 1 + int(generator() % 24);
        const int height = 1 + int(generator() % 20);
        const double scaleX = trial % 3 ? 0.3 + 5 * unit(generator) : anyFinite(generator, 4);
        const double scaleY = trial % 3 ? 0.3 + 5 * unit(generator) : anyFinite(generator, 4);
        const double offsetX = trial % 4 ? 0.5 : anyFinite(generator, width);
        const double offsetY = trial % 4 ? 0.5 : anyFinite(generator, height);
        const double pen = trial % 5 ? 1.0 : anyFinite(generator, 3);
        // Ends of any kind; or a plain end, and the other any way from it.
        const double plain = std::max(width, height);
        Segment segment {anyFinite(generator, plain), anyFinite(generator, plain),
                         anyFinite(generator, plain), anyFinite(generator, plain)};
        if (trial % 2 == 0) {
            segment.X1 = unit(generator) * width;
            segment.Y1 = unit(generator) * height;
            const Point step = trial % 4 == 0
                ? Point {anyFinite(generator, plain), anyFinite(generator, plain)}
                : hugeAndTiny(generator, trial % 8 == 2);
            segment.X2 = std::isfinite(segment.X1 + step.X) ? segment.X1 + step.X : step.X;
            segment.Y2 = std::isfinite(segment.Y1 + step.Y) ? segment.Y1 + step.Y : step.Y;
        }

        Picture image(width, height, background);
        TraceRasteriser(scaleX, scaleY, offsetX, offsetY, pen, colour)
            .draw(image.pixels(), &segment, 1);
        const auto what = [&] {
            return "trial " + std::to_string(trial) + " "
                + describe(segment, scaleX, scaleY, offsetX, offsetY, pen, width, height);
        };
        ASSERT_TRUE(image.guardIntact()) << what();
        bool inked = false;
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i) {
                const int level = blendLevel(image.pixel(i, j), colour, background);
                ASSERT_GE(level, 0) << what() << " pixel " << i << "," << j;
                inked = inked || level > 0;
            }
        inkedTrials += inked;
    }
    // Enough of them cross the picture for the blends to mean something.
    EXPECT_GT(inkedTrials, 1000);
}

// Far parts of a line change nothing in the picture. With an end, or both, any distance away
// along the line (up to the greatest double, past what device coordinates can hold), and with a
// direction of any proportions, a line covers each pixel as its part near the picture does.
TEST(TraceRasteriser, FarPartsOfALineChangeNothingInThePicture)
{
    struct Case
    {
        Point From;
        Point Direction;
        double First; // the ends, as multiples of Direction from From
        double Last;
        double Offset;
    };
    // Almost level from the picture's corner to 1e300, whose slope overflows; almost upright
    // from just below a row's top, whose short sides' slopes overflow.
    const Case named[] = {{{0, 0}, {1e300, 1e-16}, 0, 1, 0.5},
                          {{0, 0}, {1e300, 1e-16}, 0, 1, 0},
                          {{0, 1e-313}, {1e-310, 1000}, 0, 1, 0},
                          {{3, 1e-313}, {-1e-310, 1000}, 0, 1, 0},
                          {{0, 4}, {-1e308, 1e-300}, -1, 1, 0.5}};
    std::mt19937_64 generator(25);
    std::uniform_real_distribution<double> unit(0, 1);
    const std::uint32_t background = 0xFF000040;
    const std::uint32_t colour = 0xFF64FF64;
    for (int trial = 0; trial < 240; ++trial) {
        const int width = 12 + int(generator() % 30);
        const int height = 12 + int(generator() % 30);
        Transform transform;
        transform.ScaleX = trial < int(std::size(named)) ? 1 : 0.4 + 5.6 * unit(generator);
        transform.ScaleY = trial < int(std::size(named)) ? 1 : 0.4 + 5.6 * unit(generator);
        const double pen = trial % 2 ? 1.0 : 0.3 + 2.7 * unit(generator);
        Case line {{unit(generator) * width / transform.ScaleX,
                    unit(generator) * height / transform.ScaleY},
                   {unit(generator) * 2 - 1, unit(generator) * 2 - 1},
                   0,
                   0,
                   trial % 5 ? 0.5 : 0};
        if (trial % 3)
            line.Direction = hugeAndTiny(generator, trial % 3 == 1);
        const bool isNamed = trial < int(std::size(named));
        if (isNamed)
            line = named[trial];
        const double length = std::hypot(line.Direction.X, line.Direction.Y);
        // Past `near` directions from From a point is beyond the pen's reach of the picture.
        const double near =
            ((width + height) / std::min(transform.ScaleX, transform.ScaleY) + 4 * pen + 4)
            / length;
        // Out to the greatest double, or to a million times `near` both ways, where the rounding
        // of the far ends still leaves the line's place in the picture exact.
        const double farthest = DBL_MAX / 2 / std::max(length, 1.0);
        const double far = std::min(near * std::pow(10.0, 320 * unit(generator)), farthest);
        switch (isNamed ? -1 : trial % 4) {
        case -1:
            break;
        case 0:
            line.Last = far;
            break;
        case 1:
            line.First = -far;
            break;
        default:
            line.First = -std::min(far, near * 1e6);
            line.Last = std::min(far * unit(generator), near * 1e6);
            break;
        }
        transform.Offset = line.Offset;

        const auto at = [&](double k) {
            return Point {line.From.X + k * line.Direction.X, line.From.Y + k * line.Direction.Y};
        };
        const Point first = at(line.First);
        const Point last = at(line.Last);
        const Segment segment {first.X, first.Y, last.X, last.Y};
        const Point nearFirst = at(std::clamp(line.First, -near, near));
        const Point nearLast = at(std::clamp(line.Last, -near, near));
        const Reference reference({nearFirst.X, nearFirst.Y, nearLast.X, nearLast.Y}, transform,
                                  pen);

        Picture image(width, height, background);
        TraceRasteriser(transform.ScaleX, transform.ScaleY, transform.Offset, transform.Offset, pen,
                        colour)
            .draw(image.pixels(), &segment, 1);
        const auto what = [&] {
            return "trial " + std::to_string(trial) + " "
                + describe(segment, transform.ScaleX, transform.ScaleY, transform.Offset,
                           transform.Offset, pen, width, height);
        };
        ASSERT_TRUE(image.guardIntact()) << what();
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i) {
                const int level = blendLevel(image.pixel(i, j), colour, background);
                ASSERT_GE(level, 0) << what() << " pixel " << i << "," << j;
                ASSERT_NEAR(level / 255.0, reference.coverage(i, j), 1.0 / 16)
                    << what() << " pixel " << i << "," << j;
            }
    }
}

#if defined(VANDREL_TEST_WITH_QT)

TraceRasteriser::Pixels pixelsOf(QImage &image)
{
    return {reinterpret_cast<std::uint32_t *>(image.bits()), image.bytesPerLine() / 4,
            image.width(), image.height()};
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
            const Segment s =
                randomSegment(generator, 640, 480, Point {double(from.x()), double(from.y())});
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

#endif

} // namespace
