#include "TraceRasteriser.h"

#include "LineClip.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The coverage of a pixel by a convex polygon, row by row.
//
// Within row j (j <= y <= j + 1) the polygon spans, at each height y, the interval from its left
// chain xl(y) to its right chain xr(y). The area it covers of pixel column i is
//
//     A(i) = integral over the row of clamp(xr(y) - i, 0, 1) - clamp(xl(y) - i, 0, 1) dy,
//
// which is a sum over the polygon's edges of s * F(i), F(i) the integral of clamp(x(y) - i, 0, 1)
// along the part of the edge inside the row and s +1 for an edge running down (the right chain
// of a clockwise polygon) and -1 for one running up. Cut an edge at the column boundaries: on a
// piece of height h inside column k, x is linear in y, so the piece adds h * (m - k) to F(k),
// m the mean of its x (the midpoint of its ends), and h to F(i) for every column i left of k.
// Stored as differences from one column to the next, the piece touches only columns k and k + 1:
// -h * (1 - (m - k)) and -h * (m - k). A running sum over the row gives A(i) exactly, up to the
// sign, which depends on the polygon's orientation. A line's rows cost their few edge pieces and
// the columns the line touches, with no per-pixel division and no sampling.
//
// Clamping an edge's x to [0, width] leaves clamp(x - i, 0, 1) unchanged for every column
// inside the picture, so lines that run off the picture are clipped exactly.
//
// Far ends are cut off first, in double and before any slope or integer is formed: the centre
// line is clipped to the picture widened by the pen's half width and a pixel, its reach. A flat
// end on that border lies wholly outside the picture, so the cut changes no pixel, and every
// coordinate after it is of the picture's size. An edge's slope may still overflow where the
// edge is almost level; it is then used only away from the edge's top, where it clamps to the
// edge's ends, so no NaN and no infinity reaches an integer conversion.

using LineClip::clampToReach;
using LineClip::clipAlongMajorAxis;
using LineClip::logicalReach;

namespace {

// round(t / 255) for t in [0, 255 * 255], on two 8-bit channels at once (0x00FF00FF lanes).
inline std::uint32_t divideBy255(std::uint32_t t)
{
    return ((t + ((t >> 8) & 0x00FF00FFU) + 0x00800080U) >> 8) & 0x00FF00FFU;
}

// Source over: colour with coverage a / 255 over the pixel, every channel alike.
inline std::uint32_t blend(std::uint32_t colour, std::uint32_t pixel, std::uint32_t a)
{
    const std::uint32_t rest = 255 - a;
    const std::uint32_t rb = (colour & 0x00FF00FFU) * a + (pixel & 0x00FF00FFU) * rest;
    const std::uint32_t ag =
        ((colour >> 8) & 0x00FF00FFU) * a + ((pixel >> 8) & 0x00FF00FFU) * rest;
    return divideBy255(rb) | (divideBy255(ag) << 8);
}

// Source over for two pixels at once, each with its own coverage: the same arithmetic as blend()
// on 16-bit lanes, whose sums stay below 2^16 (255 * 255 + 255 + 128).
inline void blendTwo(std::uint32_t colour, std::uint32_t &first, std::uint32_t firstA,
                     std::uint32_t &second, std::uint32_t secondA)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i pixels = _mm_unpacklo_epi8(
        _mm_set_epi32(0, 0, static_cast<int>(second), static_cast<int>(first)), zero);
    const __m128i source = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(colour)), zero);
    const auto a1 = static_cast<short>(firstA);
    const auto a2 = static_cast<short>(secondA);
    const __m128i a = _mm_set_epi16(a2, a2, a2, a2, a1, a1, a1, a1);
    const __m128i rest = _mm_sub_epi16(_mm_set1_epi16(255), a);
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(source, a), _mm_mullo_epi16(pixels, rest));
    t = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), _mm_set1_epi16(0x80)),
                       8);
    const __m128i packed = _mm_packus_epi16(t, t);
    first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
    second = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 4)));
#else
    first = blend(colour, first, firstA);
    second = blend(colour, second, secondA);
#endif
}

// A share of a pixel, 0 to 1, as a level of 0 to 255.
inline std::uint32_t shareLevel(double share)
{
    return static_cast<std::uint32_t>(share * 255.0 + 0.5);
}

inline std::uint32_t level(double coverage)
{
    return shareLevel(std::clamp(coverage, 0.0, 1.0));
}

// The integral of clamp(s, 0, 1) from 0 to s.
inline double rampIntegral(double s)
{
    return s <= 0 ? 0 : s >= 1 ? s - 0.5 : s * s * 0.5;
}

// The mean over a row of clamp(x - column, 0, 1) for an edge whose x sweeps evenly from `low`
// to `high` down the row: the share of the column left of the edge.
inline double sweptShare(double low, double high, double inverseStep, int column)
{
    return (rampIntegral(high - column) - rampIntegral(low - column)) * inverseStep;
}

// Half a pen is drawn at most this wide, in device pixels: beyond any picture, and small enough
// that every coordinate within the reach of one keeps a fine fraction of a pixel.
constexpr double MaxHalfWidth = 4294967296.0; // 2^32

// Half the pen's width along one axis in device pixels, at least half a pixel, signed as the
// scale is: the normal maps through a mirroring scale like every other vector.
double halfWidth(double penWidth, double scale)
{
    const double width = penWidth > 0 ? penWidth * std::abs(scale) : 0.0;
    return std::copysign(std::min(std::max(width, 1.0) / 2, MaxHalfWidth), scale);
}

} // namespace

TraceRasteriser::TraceRasteriser(double scaleX, double scaleY, double offsetX, double offsetY,
                                 double penWidth, std::uint32_t colour)
    : ScaleX(scaleX)
    , ScaleY(scaleY)
    , OffsetX(offsetX)
    , OffsetY(offsetY)
    , HalfWidthX(halfWidth(penWidth, scaleX))
    , HalfWidthY(halfWidth(penWidth, scaleY))
    , Colour(colour | 0xFF000000U)
    , Finite(std::isfinite(scaleX) && std::isfinite(scaleY) && std::isfinite(offsetX)
             && std::isfinite(offsetY))
{ }

void TraceRasteriser::draw(const Pixels &pixels, const Segment *segments, std::size_t count)
{
    if (pixels.Bits == nullptr || pixels.Width <= 0 || pixels.Height <= 0 || !Finite)
        return;
    if (Cells.size() < static_cast<std::size_t>(pixels.Width) + 2)
        Cells.assign(static_cast<std::size_t>(pixels.Width) + 2, 0.0);
    for (std::size_t k = 0; k < count; ++k)
        drawSegment(pixels, segments[k]);
}

void TraceRasteriser::drawSegment(const Pixels &pixels, const Segment &segment)
{
    if (!std::isfinite(segment.X1) || !std::isfinite(segment.Y1) || !std::isfinite(segment.X2)
        || !std::isfinite(segment.Y2))
        return;
    double dx = segment.X2 - segment.X1;
    double dy = segment.Y2 - segment.Y1;
    double length = std::hypot(dx, dy);
    if (!std::isfinite(length)) {
        // The difference or its length overflowed: the same direction from half the ends,
        // scaled to at most 1.
        dx = segment.X2 * 0.5 - segment.X1 * 0.5;
        dy = segment.Y2 * 0.5 - segment.Y1 * 0.5;
        const double larger = std::max(std::abs(dx), std::abs(dy));
        dx /= larger;
        dy /= larger;
        length = std::hypot(dx, dy);
    }
    // A flat-ended line of no length covers nothing.
    if (!(length > 0))
        return;

    // The rectangle's corners: the ends moved half the pen's width along the logical normal,
    // both mapped to the device. Corners in order round the parallelogram.
    const double nx = -dy / length * HalfWidthX;
    const double ny = dx / length * HalfWidthY;
    double x1 = segment.X1 * ScaleX + OffsetX;
    double y1 = segment.Y1 * ScaleY + OffsetY;
    double x2 = segment.X2 * ScaleX + OffsetX;
    double y2 = segment.Y2 * ScaleY + OffsetY;
    const double reachX = std::abs(HalfWidthX) + 1;
    const double reachY = std::abs(HalfWidthY) + 1;
    const double lowX = -reachX;
    const double highX = pixels.Width + reachX;
    const double lowY = -reachY;
    const double highY = pixels.Height + reachY;
    const auto inReach = [](double v, double low, double high) { return v >= low && v <= high; };
    if (!inReach(x1, lowX, highX) || !inReach(y1, lowY, highY) || !inReach(x2, lowX, highX)
        || !inReach(y2, lowY, highY)) {
        // The part of the logical line whose device points lie within reach, its ends clamped
        // into the reach against rounding.
        double fromX = 0;
        double toX = 0;
        double fromY = 0;
        double toY = 0;
        if (!logicalReach(ScaleX, OffsetX, lowX, highX, fromX, toX)
            || !logicalReach(ScaleY, OffsetY, lowY, highY, fromY, toY))
            return;
        double ends[4];
        if (std::abs(segment.X2 * 0.5 - segment.X1 * 0.5)
            >= std::abs(segment.Y2 * 0.5 - segment.Y1 * 0.5)) {
            if (!clipAlongMajorAxis(segment.X1, segment.Y1, segment.X2, segment.Y2, fromX, toX,
                                    fromY, toY, ends))
                return;
        } else {
            if (!clipAlongMajorAxis(segment.Y1, segment.X1, segment.Y2, segment.X2, fromY, toY,
                                    fromX, toX, ends))
                return;
            std::swap(ends[0], ends[1]);
            std::swap(ends[2], ends[3]);
        }
        x1 = clampToReach(ends[0] * ScaleX + OffsetX, lowX, highX);
        y1 = clampToReach(ends[1] * ScaleY + OffsetY, lowY, highY);
        x2 = clampToReach(ends[2] * ScaleX + OffsetX, lowX, highX);
        y2 = clampToReach(ends[3] * ScaleY + OffsetY, lowY, highY);
    }
    const double cornerX[4] = {x1 + nx, x2 + nx, x2 - nx, x1 - nx};
    const double cornerY[4] = {y1 + ny, y2 + ny, y2 - ny, y1 - ny};
    for (int c = 0; c < 4; ++c)
        if (!std::isfinite(cornerX[c]) || !std::isfinite(cornerY[c]))
            return;

    Edge edges[4];
    int edgeCount = 0;
    double top = cornerY[0];
    double bottom = cornerY[0];
    for (int c = 0; c < 4; ++c) {
        const double ax = cornerX[c];
        const double ay = cornerY[c];
        const double bx = cornerX[(c + 1) % 4];
        const double by = cornerY[(c + 1) % 4];
        top = std::min(top, ay);
        bottom = std::max(bottom, ay);
        if (ay == by)
            continue; // a level edge bounds rows, which the other edges' heights already do
        Edge &edge = edges[edgeCount++];
        const bool down = by > ay;
        edge.Top = down ? ay : by;
        edge.Bottom = down ? by : ay;
        edge.X = down ? ax : bx;
        edge.Slope = ((down ? bx : ax) - edge.X) / (edge.Bottom - edge.Top);
        edge.Left = std::min(ax, bx);
        edge.Right = std::max(ax, bx);
        edge.Sign = down ? 1.0 : -1.0;
    }
    if (edgeCount == 0)
        return;

    const int width = pixels.Width;
    // Rows are counted only once clamped to the picture, so no far coordinate overflows an int.
    const double rowLimit = pixels.Height;
    const int firstRow = std::max(0, static_cast<int>(std::floor(std::clamp(top, -1.0, rowLimit))));
    const int lastRow = std::min(
        pixels.Height - 1, static_cast<int>(std::ceil(std::clamp(bottom, -1.0, rowLimit))) - 1);

    // Rows wholly between the second and the third corner from the top meet just two edges, and
    // those are parallel: there the line's section is a run of one width sliding along a slope.
    // Where the columns its two ends sweep in a row do not meet, the row is those columns blended
    // by their shares around a filled run; every other row goes the general way.
    double sortedY[4] = {cornerY[0], cornerY[1], cornerY[2], cornerY[3]};
    std::sort(sortedY, sortedY + 4);
    int runFirst =
        std::max(firstRow, static_cast<int>(std::ceil(std::clamp(sortedY[1], -1.0, rowLimit))));
    int runLast =
        std::min(lastRow, static_cast<int>(std::floor(std::clamp(sortedY[2], -1.0, rowLimit))) - 1);
    double runStart = 0; // x of the run's left end at y = 0
    double runSlope = 0;
    double runWidth = 0;
    if (runFirst <= runLast) {
        const Edge *sides[2] = {};
        int found = 0;
        for (int e = 0; e < edgeCount && found < 2; ++e)
            if (edges[e].Top <= sortedY[1] && edges[e].Bottom >= sortedY[2])
                sides[found++] = &edges[e];
        const double middle = (sortedY[1] + sortedY[2]) / 2;
        const auto at = [middle](const Edge &edge) {
            return edge.X + (middle - edge.Top) * edge.Slope;
        };
        if (found == 2) {
            if (at(*sides[1]) < at(*sides[0]))
                std::swap(sides[0], sides[1]);
            runSlope = sides[0]->Slope;
            runStart = sides[0]->X - sides[0]->Top * runSlope;
            runWidth = at(*sides[1]) - at(*sides[0]);
        }
        // The run must stay inside the picture; at its edges the general way clips.
        const double startX = runStart + runFirst * runSlope;
        const double endX = runStart + (runLast + 1.0) * runSlope;
        if (found != 2 || std::min(startX, endX) < 0 || std::max(startX, endX) + runWidth >= width)
            runLast = runFirst - 1;
    }

    // Per row, each end of the run sweeps x from `low` to `low + step`.
    const double step = std::abs(runSlope);
    const double inverseStep = step > 1e-9 ? 1 / step : 0;
    const double lowAtZero = runStart + std::min(runSlope, 0.0);
    for (int j = firstRow; j <= lastRow; ++j) {
        const double low = lowAtZero + j * runSlope;
        const double high = low + step;
        // Rounding may carry a run that ends on the picture's edge past it: such a row goes the
        // general way.
        if (j >= runFirst && j <= runLast && low >= 0 && high + runWidth < width) {
            const int leftFirst = static_cast<int>(low);
            const int leftLast = static_cast<int>(high);
            const int rightFirst = static_cast<int>(low + runWidth);
            const int rightLast = static_cast<int>(high + runWidth);
            const bool single = leftFirst == leftLast && rightFirst == rightLast;
            if (leftLast < rightFirst && (single || inverseStep > 0)) {
                std::uint32_t *const row = pixels.Bits + pixels.Stride * j;
                if (single) {
                    // The left end's column is covered right of the end's mean x, the right
                    // end's column left of it.
                    // Both shares lie in [0, 1] here, so they need no clamping.
                    const double middle = low + step * 0.5;
                    blendTwo(Colour, row[leftFirst], shareLevel(leftFirst + 1 - middle),
                             row[rightFirst], shareLevel(middle + runWidth - rightFirst));
                } else {
                    for (int i = leftFirst; i <= leftLast; ++i)
                        row[i] =
                            blend(Colour, row[i], level(1 - sweptShare(low, high, inverseStep, i)));
                    for (int i = rightFirst; i <= rightLast; ++i)
                        row[i] = blend(
                            Colour, row[i],
                            level(sweptShare(low + runWidth, high + runWidth, inverseStep, i)));
                }
                for (int i = leftLast + 1; i < rightFirst; ++i)
                    row[i] = Colour;
                continue;
            }
        }
        generalRow(pixels, j, edges, edgeCount);
    }
}

void TraceRasteriser::generalRow(const Pixels &pixels, int j, const Edge *edges, int edgeCount)
{
    const int width = pixels.Width;
    const double rowTop = j;
    const double rowBottom = j + 1.0;
    CellFirst = width + 1;
    CellLast = -1;
    for (int e = 0; e < edgeCount; ++e) {
        const Edge &edge = edges[e];
        if (edge.Bottom <= rowTop || edge.Top >= rowBottom)
            continue;
        const double ya = std::max(rowTop, edge.Top);
        const double yb = std::min(rowBottom, edge.Bottom);
        // At the top the slope, which may be infinite for an almost level edge, is not needed.
        const double xa = ya > edge.Top
            ? std::clamp(edge.X + (ya - edge.Top) * edge.Slope, edge.Left, edge.Right)
            : edge.X;
        const double xb = std::clamp(edge.X + (yb - edge.Top) * edge.Slope, edge.Left, edge.Right);
        addPiece(xa, xb, (yb - ya) * edge.Sign, width);
    }
    if (CellLast >= CellFirst)
        blendRow(pixels.Bits + pixels.Stride * j, CellFirst, std::min(CellLast, width - 1));
}

// One edge's part inside the current row, from x = xa to x = xb, of signed height `height`.
void TraceRasteriser::addPiece(double xa, double xb, double height, int width)
{
    const double limit = width;
    double left = std::min(xa, xb);
    double right = std::max(xa, xb);
    // Right of the picture an edge changes no column inside it, but the columns up to the
    // picture's edge lie inside the line.
    if (left >= limit) {
        CellLast = std::max(CellLast, width);
        return;
    }
    double *const cells = Cells.data();
    // Left of the picture, or across its left edge too narrowly to share the height out by
    // width: all of it on the left edge.
    if (right <= 0 || (left < 0 && right - left < std::numeric_limits<double>::min())) {
        cells[0] -= height;
        CellFirst = 0;
        CellLast = std::max(CellLast, 0);
        return;
    }
    int column = static_cast<int>(std::max(left, 0.0));
    CellFirst = std::min(CellFirst, column);
    if (left >= 0 && right < limit && column == static_cast<int>(right)) {
        const double inside = (left + right) * 0.5 - column;
        cells[column] -= height * (1 - inside);
        cells[column + 1] -= height * inside;
        CellLast = std::max(CellLast, column + 1);
        return;
    }
    // Height per unit of x: the piece's height shared out over the columns it crosses. What
    // lies left of the picture counts as lying on its left edge.
    const double perUnit = height / (right - left);
    if (left < 0) {
        cells[0] -= perUnit * -left;
        left = 0;
        column = 0;
    }
    right = std::min(right, limit);
    const int lastColumn = static_cast<int>(right);
    CellLast = std::max(CellLast, lastColumn + 1);
    double inside = std::min(right, column + 1.0) - left;
    double share = perUnit * inside;
    double middle = (left + std::min(right, column + 1.0)) * 0.5 - column;
    cells[column] -= share * (1 - middle);
    cells[column + 1] -= share * middle;
    if (column == lastColumn)
        return;
    for (++column; column < lastColumn; ++column) {
        cells[column] -= perUnit * 0.5;
        cells[column + 1] -= perUnit * 0.5;
    }
    inside = right - lastColumn;
    share = perUnit * inside;
    cells[lastColumn] -= share * (1 - inside * 0.5);
    cells[lastColumn + 1] -= share * (inside * 0.5);
}

void TraceRasteriser::blendRow(std::uint32_t *row, int first, int last)
{
    double *const cells = Cells.data();
    double coverage = 0;
    for (int i = first; i <= last; ++i) {
        coverage += cells[i];
        cells[i] = 0;
        const auto a = static_cast<std::uint32_t>(std::min(std::abs(coverage), 1.0) * 255.0 + 0.5);
        if (a == 0)
            continue;
        row[i] = a >= 255 ? Colour : blend(Colour, row[i], a);
    }
    for (int i = last + 1; i <= CellLast; ++i)
        cells[i] = 0;
}
