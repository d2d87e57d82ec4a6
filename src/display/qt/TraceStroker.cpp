#include "TraceStroker.h"

#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

// The coverage arithmetic below is the toolkit's, step for step: 16.16 fixed point, corners on the
// 1/64 grid, edges followed row by row by repeated addition, truncation where it truncates. Any
// other order of the same mathematics lands a level off here and there, and the picture has to
// equal the toolkit's to the bit.
namespace {

// 16.16 fixed point. Lines with a flat edge, the only ones whose slopes reach the ends of the
// range, are left to the toolkit, so for everything drawn here the sums stay far inside it.
using Fixed = std::int64_t;

constexpr Fixed One = 1 << 16;

constexpr Fixed product(Fixed a, Fixed b)
{
    return (a * b) >> 16;
}

constexpr Fixed whole(int value)
{
    return static_cast<Fixed>(value) * One;
}

constexpr int wholePart(Fixed value)
{
    return static_cast<int>(value >> 16);
}

constexpr Fixed half(Fixed value)
{
    return value >> 1;
}

constexpr int level(Fixed coverage)
{
    return wholePart(coverage * 255);
}

Fixed fixed(double value)
{
    const double scaled = value * 65536.;
    if (!(scaled < 9223372036854775807.))
        return scaled != scaled ? std::numeric_limits<Fixed>::min()
                                : std::numeric_limits<Fixed>::max();
    if (scaled < -9223372036854775807.)
        return std::numeric_limits<Fixed>::min();
    return static_cast<Fixed>(scaled);
}

double divided(double x, double y)
{
    if (y == 0)
        return x > 0 ? 1e20 : -1e20;
    return x / y;
}

bool sameOnGrid(double from, double to)
{
    return static_cast<int>((to - from) * 64.) == 0;
}

QPointF onGrid(const QPointF &point)
{
    return {std::floor(point.x() * 64) * (1 / 64.), std::floor(point.y() * 64) * (1 / 64.)};
}

// Per 8-bit channel x * a / 255, rounded the toolkit's way.
constexpr quint32 scaled(quint32 x, quint32 a)
{
    std::uint64_t t = ((std::uint64_t(x) | (std::uint64_t(x) << 24)) & 0x00ff00ff00ff00ffULL) * a;
    t = (t + ((t >> 8) & 0x00ff00ff00ff00ffULL) + 0x0080008000800080ULL) >> 8;
    t &= 0x00ff00ff00ff00ffULL;
    return quint32(t) | quint32(t >> 24);
}

// An edge of the line's quadrilateral, as it crosses the rows.
struct Edge
{
    double Slope = 0;
    Fixed SlopeFixed;
    Fixed InverseFixed;

    explicit Edge(const QPointF &from, const QPointF &to)
        : Slope(divided(to.x() - from.x(), to.y() - from.y()))
        , SlopeFixed(fixed(Slope))
        , InverseFixed(fixed(divided(1, Slope)))
    { }
};

// The part of pixel column x, between heights top and bottom, that lies left of an edge crossing
// that band from x = low to x = high.
[[gnu::always_inline]] inline Fixed leftOfEdge(int x, Fixed top, Fixed bottom, Fixed low,
                                               Fixed high, const Edge &edge)
{
    const Fixed leftX = whole(x);
    const Fixed rightX = leftX + One;
    const Fixed height = bottom - top;
    if (low >= leftX && high <= rightX)
        return product(height, low - leftX + half(high - low));
    if (low >= rightX)
        return height;
    if (low < leftX && high <= leftX)
        return 0;

    // Where the edge crosses the column's sides.
    const bool falling = edge.SlopeFixed > 0;
    const Fixed leftY = top + product((falling ? leftX - low : leftX - high), edge.InverseFixed);
    const Fixed rightY = leftY + edge.InverseFixed;
    if (low >= leftX)
        return height - product(half(rightX - low), falling ? rightY - top : bottom - rightY);
    if (high <= rightX)
        return product(half(high - leftX), falling ? bottom - leftY : leftY - top);
    return falling ? (bottom - rightY) + half(rightY - leftY)
                   : (rightY - top) + half(leftY - rightY);
}

// One side of a row between a line's corners: the edge, where it enters the row and where it
// leaves, the lower x first.
struct Side
{
    Fixed Low;
    Fixed High;
    const Edge *Along;
};

class Painter
{
public:
    Painter(QImage &target, quint32 colour)
        : Bits(target.bits())
        , Stride(target.bytesPerLine())
        , Right(target.width() - 1)
        , Bottom(target.height() - 1)
        , Colour(colour)
    {
        for (quint32 alpha = 0; alpha < Ink.size(); ++alpha)
            Ink[alpha] = scaled(colour, alpha);
    }

    // False, with nothing drawn, for a line this cannot draw as the toolkit does.
    bool line(QPointF a, QPointF b, double width) const;

private:
    quint32 *scanLine(int y) const { return reinterpret_cast<quint32 *>(Bits + y * Stride); }

    // A coverage is kept in a byte, as the toolkit keeps it, once it is known not to be zero.
    void blend(quint32 &pixel, int coverage) const
    {
        if (coverage == 0)
            return;
        const auto alpha = static_cast<quint32>(static_cast<std::uint8_t>(coverage));
        pixel = alpha == 255 ? Colour : Ink[alpha] + scaled(pixel, 255 - alpha);
    }

    void span(quint32 *to, int length, int coverage) const
    {
        if (coverage == 0 || length == 0)
            return;
        const auto alpha = static_cast<quint32>(static_cast<std::uint8_t>(coverage));
        if (alpha == 255) {
            std::fill_n(to, length, Colour);
            return;
        }
        for (int i = 0; i < length; ++i)
            to[i] = Ink[alpha] + scaled(to[i], 255 - alpha);
    }

    void axisAligned(QPointF a, QPointF b, double width) const;
    bool slanted(QPointF a, QPointF b, double width) const;
    void between(Fixed row, int count, Side left, Side right) const;

    uchar *Bits;
    qsizetype Stride;
    int Right;
    int Bottom;
    quint32 Colour;
    // The colour at every coverage.
    std::array<quint32, 256> Ink;
};

bool Painter::line(QPointF a, QPointF b, double width) const
{
    if (a == b || !(width > 0.0))
        return true;
    // A horizontal line is drawn as the vertical one with its length and width exchanged.
    if (sameOnGrid(a.y(), b.y())) {
        const double x = (a.x() + b.x()) * 0.5;
        const double halfLength = std::abs(b.x() - a.x()) * 0.5;
        const double halfWidth = width * halfLength;
        const double y = a.y();
        a = QPointF(x, y - halfWidth);
        b = QPointF(x, y + halfWidth);
        width = 1 / width;
    }
    if (!sameOnGrid(a.x(), b.x()))
        return slanted(a, b, width);
    axisAligned(a, b, width);
    return true;
}

void Painter::axisAligned(QPointF a, QPointF b, double width) const
{
    if (a.y() > b.y())
        std::swap(a, b);
    const double halfWidth = 0.5 * width * (b.y() - a.y());
    const double left = std::clamp(a.x() - halfWidth, 0., Right + 1.);
    const double right = std::clamp(a.x() + halfWidth, 0., Right + 1.);
    const double top = std::clamp(a.y(), 0., Bottom + 1.);
    const double bottom = std::clamp(b.y(), 0., Bottom + 1.);
    if (sameOnGrid(left, right) || sameOnGrid(top, bottom))
        return;

    const int firstColumn = static_cast<int>(left);
    const int lastColumn = static_cast<int>(right);
    const Fixed leftPart = whole(firstColumn + 1) - fixed(left);
    const Fixed rightPart = fixed(right) - whole(lastColumn);
    struct Run
    {
        int X;
        int Length;
        Fixed Coverage;
    };
    const auto coverage = [](Fixed part) { return part * 255; };
    Run runs[3];
    int count = 0;
    if (firstColumn == lastColumn) {
        runs[count++] = {firstColumn, 1,
                         coverage(leftPart == One ? rightPart : leftPart + rightPart)};
    } else {
        runs[count++] = {firstColumn, leftPart == One ? lastColumn - firstColumn : 1,
                         coverage(leftPart)};
        if (leftPart != One && lastColumn - firstColumn > 1)
            runs[count++] = {firstColumn + 1, lastColumn - firstColumn - 1, coverage(One)};
        if (rightPart != 0)
            runs[count++] = {lastColumn, 1, coverage(rightPart)};
    }

    const Fixed topFixed = fixed(top);
    const Fixed bottomFixed = fixed(bottom);
    for (Fixed row = whole(static_cast<int>(top)); row <= whole(static_cast<int>(bottom));
         row = row + One) {
        const Fixed height = std::min(row + One, bottomFixed) - std::max(row, topFixed);
        const int y = wholePart(row);
        if (y > Bottom)
            break;
        quint32 *const pixels = scanLine(y);
        for (int i = 0; i < count; ++i)
            span(pixels + runs[i].X, runs[i].Length, wholePart(product(height, runs[i].Coverage)));
    }
}

// Rows from row on, count of them, each crossed by one edge on either side; the sides move on
// by their slopes from row to row.
void Painter::between(Fixed row, int count, Side left, Side right) const
{
    const Edge &leftEdge = *left.Along;
    const Edge &rightEdge = *right.Along;
    for (; count > 0; --count) {
        const Fixed rowEnd = row + One;
        const int leftMin = std::clamp(wholePart(left.Low), 0, Right);
        const int rightMax = std::clamp(wholePart(right.High), 0, Right);
        const int leftMax = std::min(std::clamp(wholePart(left.High), 0, Right), rightMax);
        const int rightMin = std::max(std::clamp(wholePart(right.Low), 0, Right), leftMin);
        quint32 *const pixels = scanLine(wholePart(row));
        int x = leftMin;
        for (; x <= leftMax; ++x) {
            Fixed out = leftOfEdge(x, row, rowEnd, left.Low, left.High, leftEdge);
            if (x >= rightMin)
                out = out + (One - leftOfEdge(x, row, rowEnd, right.Low, right.High, rightEdge));
            blend(pixels[x], level(One - out));
        }
        if (x < rightMin) {
            span(pixels + x, rightMin - x, level(One));
            x = rightMin;
        }
        for (; x <= rightMax; ++x)
            blend(pixels[x], level(leftOfEdge(x, row, rowEnd, right.Low, right.High, rightEdge)));
        row = rowEnd;
        left.Low = left.Low + leftEdge.SlopeFixed;
        left.High = left.High + leftEdge.SlopeFixed;
        right.Low = right.Low + rightEdge.SlopeFixed;
        right.High = right.High + rightEdge.SlopeFixed;
    }
}

bool Painter::slanted(QPointF a, QPointF b, double width) const
{
    if (a.y() > b.y())
        std::swap(a, b);
    QPointF half = b - a;
    half *= 0.5 * width;
    const QPointF across(half.y(), -half.x());

    // The quadrilateral's corners: the highest, the leftmost, the rightmost and the lowest.
    const bool rightwards = a.x() < b.x();
    const QPointF top = onGrid(rightwards ? a + across : a - across);
    const QPointF left = onGrid(rightwards ? a - across : b - across);
    const QPointF right = onGrid(rightwards ? b + across : a + across);
    const QPointF bottom = onGrid(rightwards ? b - across : b + across);

    // Two corners on one row or column of the grid (the short sides of a steep line can be that
    // flat) make an edge whose slope the toolkit takes at the end of the fixed-point range, where
    // its sums overflow. What it draws then is its own affair.
    const auto flat = [](const QPointF &from, const QPointF &to) {
        return from.x() == to.x() || from.y() == to.y();
    };
    if (flat(top, left) || flat(left, bottom) || flat(top, right) || flat(right, bottom))
        return false;

    const double topBound = std::clamp(top.y(), 0., double(Bottom));
    const double bottomBound = std::clamp(bottom.y(), 0., double(Bottom));
    const Edge upperLeft(top, left);
    const Edge lowerLeft(left, bottom);
    const Edge upperRight(top, right);
    const Edge lowerRight(right, bottom);

    const int firstRow = static_cast<int>(topBound);
    const Fixed firstRowFixed = whole(firstRow);
    const Fixed leftRow = whole(static_cast<int>(left.y()));
    const Fixed rightRow = whole(static_cast<int>(right.y()));
    const Fixed lastRow = whole(static_cast<int>(bottomBound));
    const Fixed topY = fixed(top.y());
    const Fixed leftY = fixed(left.y());
    const Fixed rightY = fixed(right.y());
    const Fixed bottomY = fixed(bottom.y());

    // Where each edge crosses the top of the current row.
    Fixed upperLeftX = fixed(top.x() + (firstRow - top.y()) * upperLeft.Slope);
    Fixed upperRightX = fixed(top.x() + (firstRow - top.y()) * upperRight.Slope);
    Fixed lowerLeftX = 0;
    Fixed lowerRightX = 0;
    if (leftRow < firstRowFixed)
        lowerLeftX = fixed(left.x() + (firstRow - left.y()) * lowerLeft.Slope);
    if (rightRow < firstRowFixed)
        lowerRightX = fixed(right.x() + (firstRow - right.y()) * lowerRight.Slope);

    Fixed rowTop = std::max(firstRowFixed, topY);
    Fixed upperLeftTop = upperLeftX + product(upperLeft.SlopeFixed, rowTop - firstRowFixed);
    Fixed upperRightTop = upperRightX + product(upperRight.SlopeFixed, rowTop - firstRowFixed);

    // Moves every edge's crossing down by that many rows.
    const auto advance = [&](int rows) {
        upperLeftX = upperLeftX + rows * upperLeft.SlopeFixed;
        lowerLeftX = lowerLeftX + rows * lowerLeft.SlopeFixed;
        upperRightX = upperRightX + rows * upperRight.SlopeFixed;
        lowerRightX = lowerRightX + rows * lowerRight.SlopeFixed;
        upperLeftTop = upperLeftX;
        upperRightTop = upperRightX;
    };

    for (Fixed row = firstRowFixed; row <= lastRow; row = row + One) {
        const Fixed rowEnd = row + One;
        // Most rows of a steep line lie between the corners: each side is one edge crossing the
        // whole row. What the general case below works out for them is known beforehand.
        if (row != firstRowFixed && row != leftRow && row != rightRow && row < lastRow) {
            Fixed end = lastRow;
            if (leftRow > row)
                end = std::min(end, leftRow);
            if (rightRow > row)
                end = std::min(end, rightRow);
            const int count = static_cast<int>((end - row) >> 16);
            const bool leftUpper = row < leftRow;
            const bool rightUpper = row < rightRow;
            const Side leftSide = leftUpper
                ? Side {upperLeftX + upperLeft.SlopeFixed, upperLeftX, &upperLeft}
                : Side {lowerLeftX, lowerLeftX + lowerLeft.SlopeFixed, &lowerLeft};
            const Side rightSide = rightUpper
                ? Side {upperRightX, upperRightX + upperRight.SlopeFixed, &upperRight}
                : Side {lowerRightX + lowerRight.SlopeFixed, lowerRightX, &lowerRight};
            between(row, count, leftSide, rightSide);
            advance(count);
            row = end - One;
            rowTop = end;
            continue;
        }

        const Fixed leftBottom = std::min(rowEnd, leftY);
        const Fixed rightBottom = std::min(rowEnd, rightY);
        const Fixed leftTop = std::max(row, leftY);
        const Fixed rightTop = std::max(row, rightY);
        const Fixed rowBottom = std::min(rowEnd, bottomY);
        const int y = wholePart(row);

        Fixed lowerLeftTop = 0;
        Fixed upperLeftBottom = 0;
        if (row == leftRow) {
            lowerLeftX = fixed(left.x() + (y - left.y()) * lowerLeft.Slope);
            lowerLeftTop = lowerLeftX + product(lowerLeft.SlopeFixed, leftTop - row);
            upperLeftBottom = upperLeftX + product(upperLeft.SlopeFixed, leftBottom - row);
        } else {
            lowerLeftTop = lowerLeftX;
            upperLeftBottom = upperLeftX + upperLeft.SlopeFixed;
        }
        Fixed lowerRightTop = 0;
        Fixed upperRightBottom = 0;
        if (row == rightRow) {
            lowerRightX = fixed(right.x() + (y - right.y()) * lowerRight.Slope);
            lowerRightTop = lowerRightX + product(lowerRight.SlopeFixed, rightTop - row);
            upperRightBottom = upperRightX + product(upperRight.SlopeFixed, rightBottom - row);
        } else {
            lowerRightTop = lowerRightX;
            upperRightBottom = upperRightX + upperRight.SlopeFixed;
        }
        const Fixed lowerLeftBottom = row == lastRow
            ? lowerLeftX + product(lowerLeft.SlopeFixed, rowBottom - row)
            : lowerLeftX + lowerLeft.SlopeFixed;
        const Fixed lowerRightBottom = row == lastRow
            ? lowerRightX + product(lowerRight.SlopeFixed, rowBottom - row)
            : lowerRightX + lowerRight.SlopeFixed;

        // The columns the left edges cross in this row, and the right edges'.
        int leftMin = 0;
        int leftMax = 0;
        if (row < leftRow) {
            leftMin = wholePart(upperLeftBottom);
            leftMax = wholePart(upperLeftTop);
        } else if (row == leftRow) {
            leftMin = wholePart(std::max(upperLeftBottom, lowerLeftTop));
            leftMax = wholePart(std::max(upperLeftTop, lowerLeftBottom));
        } else {
            leftMin = wholePart(lowerLeftTop);
            leftMax = wholePart(lowerLeftBottom);
        }
        leftMin = std::clamp(leftMin, 0, Right);
        leftMax = std::clamp(leftMax, 0, Right);
        int rightMin = 0;
        int rightMax = 0;
        if (row < rightRow) {
            rightMin = wholePart(upperRightTop);
            rightMax = wholePart(upperRightBottom);
        } else if (row == rightRow) {
            rightMin = wholePart(std::min(upperRightTop, lowerRightBottom));
            rightMax = wholePart(std::min(upperRightBottom, lowerRightTop));
        } else {
            rightMin = wholePart(lowerRightBottom);
            rightMax = wholePart(lowerRightTop);
        }
        rightMin = std::clamp(rightMin, 0, Right);
        rightMax = std::clamp(rightMax, 0, Right);
        leftMax = std::min(leftMax, rightMax);
        rightMin = std::max(rightMin, leftMin);

        const auto leftOut = [&](int x) {
            Fixed out = 0;
            if (row <= leftRow)
                out = out
                    + leftOfEdge(x, rowTop, leftBottom, upperLeftBottom, upperLeftTop, upperLeft);
            if (row >= leftRow)
                out = out
                    + leftOfEdge(x, leftTop, rowBottom, lowerLeftTop, lowerLeftBottom, lowerLeft);
            return out;
        };
        const auto rightOut = [&](int x) {
            Fixed out = 0;
            if (row <= rightRow)
                out = out + (rightBottom - rowTop)
                    - leftOfEdge(x, rowTop, rightBottom, upperRightTop, upperRightBottom,
                                 upperRight);
            if (row >= rightRow)
                out = out + (rowBottom - rightTop)
                    - leftOfEdge(x, rightTop, rowBottom, lowerRightBottom, lowerRightTop,
                                 lowerRight);
            return out;
        };

        const Fixed height = rowBottom - rowTop;
        quint32 *const pixels = scanLine(y);
        int x = leftMin;
        for (; x <= leftMax; ++x) {
            Fixed out = leftOut(x);
            if (x >= rightMin)
                out = out + rightOut(x);
            blend(pixels[x], level(height - out));
        }
        if (x < rightMin) {
            span(pixels + x, rightMin - x, level(height));
            x = rightMin;
        }
        for (; x <= rightMax; ++x)
            blend(pixels[x], level(height - rightOut(x)));

        advance(1);
        rowTop = rowEnd;
    }
    return true;
}

} // namespace

bool TraceStroker::stroke(QImage &target, const QPen &pen, const QTransform &transform,
                          const QLine *lines, int count)
{
    const QImage::Format format = target.format();
    if (target.isNull()
        || (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied))
        return false;
    if (pen.style() != Qt::SolidLine || pen.capStyle() != Qt::FlatCap || pen.isCosmetic()
        || pen.brush().style() != Qt::SolidPattern || pen.color().alpha() != 255
        || !(pen.widthF() > 0))
        return false;
    // The toolkit strokes other transforms, and pens a device pixel wide or less, another way.
    if (transform.type() != QTransform::TxScale || transform.m11() != transform.m22()
        || !(transform.m11() > 0))
        return false;
    const double width = pen.widthF() * transform.m11();
    if (!(width > 1))
        return false;
    // Lines that reach the picture's edges, where the toolkit clips, are left to the toolkit.
    const double margin = width + 2;
    const QRectF inside(margin, margin, target.width() - 1 - 2 * margin,
                        target.height() - 1 - 2 * margin);
    QVarLengthArray<QLineF, 128> mapped;
    for (int i = 0; i < count; ++i) {
        mapped.append(transform.map(QLineF(lines[i])));
        if (!inside.contains(mapped.back().p1()) || !inside.contains(mapped.back().p2()))
            return false;
    }

    const Painter painter(target, pen.color().rgba());
    // Lines the toolkit must draw itself go in their turn, since later lines blend over earlier.
    QImage surface;
    std::optional<QPainter> toolkit;
    for (int i = 0; i < count; ++i) {
        if (QLineF(lines[i]).p1() == QLineF(lines[i]).p2())
            continue;
        const QLineF &line = mapped[i];
        if (painter.line(line.p1(), line.p2(), width / line.length()))
            continue;
        if (!toolkit) {
            surface = QImage(target.bits(), target.width(), target.height(), target.bytesPerLine(),
                             format);
            toolkit.emplace(&surface);
            toolkit->setRenderHint(QPainter::Antialiasing);
            toolkit->setTransform(transform);
            toolkit->setPen(pen);
        }
        toolkit->drawLine(lines[i]);
    }
    return true;
}
