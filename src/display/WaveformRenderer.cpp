#include "WaveformRenderer.h"

#include "ScopeFrame.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace WaveformGeometry;

namespace {

// 96 dots per inch: the resolution at which the font's points become pixels before the scale.
constexpr int DotsPerMeterAt96Dpi = 3780;

// A painter-ready view of the target's pixels at 96 dpi and a device pixel ratio of 1, so that
// neither the bitmap's own resolution nor its high-DPI ratio rescales what is drawn.
QImage surfaceOn(uchar *bits, const QImage &target)
{
    QImage surface(bits, target.width(), target.height(), target.bytesPerLine(), target.format());
    surface.setDotsPerMeterX(DotsPerMeterAt96Dpi);
    surface.setDotsPerMeterY(DotsPerMeterAt96Dpi);
    return surface;
}

struct Scale
{
    qreal X = 0;
    qreal Y = 0;
};

Scale scaleFor(const Area &area)
{
    // Computed in double, applied in single precision, as the picture's numbers are defined.
    return {static_cast<float>(area.Width / static_cast<double>(LogicalWidth)),
            static_cast<float>(area.Height / static_cast<double>(LogicalHeight))};
}

// Qt puts pixel centres at half coordinates; the half-pixel shift lands a logical point on the
// centre of pixel (x * sx, y * sy), so unit-wide lines at integer coordinates stay one pixel crisp.
void applyTransform(QPainter &painter, const Scale &scale)
{
    painter.translate(0.5, 0.5);
    painter.scale(scale.X, scale.Y);
}

// A dash pattern is measured in device pixels for a pen one device pixel wide or thinner, so
// the grid's dashes are drawn each as its own solid line: their length stays in world units.
void drawDashed(QPainter &painter, const QPen &pen, const QLineF &line)
{
    const QList<qreal> pattern = pen.style() == Qt::SolidLine ? QList<qreal>() : pen.dashPattern();
    const qreal unit = pen.widthF() > 0 ? pen.widthF() : 1.0;
    qreal period = 0;
    for (const qreal length : pattern)
        period += length;
    if (pattern.size() < 2 || !(period > 0)) {
        painter.drawLine(line);
        return;
    }
    const qreal length = line.length();
    qreal at = 0;
    for (qsizetype k = 0; at < length; ++k) {
        const qreal dash = pattern[k % pattern.size()] * unit;
        if (k % 2 == 0 && dash > 0)
            painter.drawLine(QLineF(line.pointAt(at / length),
                                    line.pointAt(std::min(at + dash, length) / length)));
        at += dash;
    }
}

void drawGraticule(QPainter &painter, const WaveformRenderer::Tools &tools)
{
    painter.setPen(tools.Border);
    painter.drawLine(QLine(GraticuleMin, GraticuleMin, GraticuleMax, GraticuleMin));
    painter.drawLine(QLine(GraticuleMax, GraticuleMin, GraticuleMax, GraticuleMax));
    painter.drawLine(QLine(GraticuleMax, GraticuleMax, GraticuleMin, GraticuleMax));
    painter.drawLine(QLine(GraticuleMin, GraticuleMax, GraticuleMin, GraticuleMin));

    QPen solid = tools.Grid;
    if (solid.style() != Qt::NoPen)
        solid.setStyle(Qt::SolidLine);
    painter.setPen(solid);
    for (int k = Division; k < GraticuleSide; k += Division) {
        const int at = GraticuleMin + k;
        drawDashed(painter, tools.Grid, QLineF(at, GraticuleMin, at, GraticuleMax));
        drawDashed(painter, tools.Grid, QLineF(GraticuleMin, at, GraticuleMax, at));
    }
}

void drawTrace(QPainter &painter, const WaveformRenderer::Tools &tools, const ScopeFrame &frame)
{
    painter.setPen(tools.Trace);
    int previousY = traceY(frame.Bytes[ScopeFrame::FirstSample]);
    for (int i = 1; i < SampleCount; ++i) {
        const int y = traceY(frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)]);
        painter.drawLine(QLine(traceX(i - 1), previousY, traceX(i), y));
        previousY = y;
    }
}

// Under a uniform scale the toolkit draws a pen wider than a device pixel as a rectangle as wide
// as the scaled pen around the mapped segment, its corners on a 1/64 pixel grid unless it lies
// along an axis, each pixel blended by the share of it the rectangle covers. This draws the trace
// the same way straight into the 32-bit picture, without the toolkit's per-span dispatch, and
// records the rows of pixels it touched. Thinner pens and uneven scales the toolkit draws by
// other means, so those stay with it.
class TraceRaster
{
public:
    static bool handles(const QImage &target, const QPen &pen, const Scale &scale)
    {
        const QBrush brush = pen.brush();
        return (target.format() == QImage::Format_RGB32
                || target.format() == QImage::Format_ARGB32_Premultiplied)
            && pen.style() == Qt::SolidLine && pen.capStyle() == Qt::FlatCap && !pen.isCosmetic()
            && brush.style() == Qt::SolidPattern && brush.color().alpha() == 255
            && scale.X == scale.Y && pen.widthF() * scale.X > 1;
    }

    TraceRaster(QImage &target, const QPen &pen, const Scale &scale, int clipRight,
                std::vector<QRect> *rows)
        : Target(target)
        , Bits(target.bits())
        , Stride(target.bytesPerLine())
        , Colour(pen.brush().color().rgba())
        , ScaleX(scale.X)
        , ScaleY(scale.Y)
        , Width(pen.widthF() * scale.X)
        , ClipRight(std::min(clipRight, target.width()))
        , Rows(rows)
    { }

    void segment(int x0, int y0, int x1, int y1)
    {
        if (x0 == x1 && y0 == y1)
            return;
        const auto map = [this](qreal x, qreal y) {
            return QPointF(x * ScaleX + 0.5, y * ScaleY + 0.5);
        };
        const QPointF a = map(x0, y0);
        const QPointF b = map(x1, y1);
        if (a.y() == b.y()) {
            const qreal half = Width / 2;
            fillRect(std::min(a.x(), b.x()), a.y() - half, std::max(a.x(), b.x()), a.y() + half);
            return;
        }
        if (a.x() == b.x()) {
            const qreal half = Width / 2;
            fillRect(a.x() - half, std::min(a.y(), b.y()), a.x() + half, std::max(a.y(), b.y()));
            return;
        }
        const qreal length = std::hypot(b.x() - a.x(), b.y() - a.y());
        const QPointF delta = (b - a) * (0.5 * (Width / length));
        const QPointF perp(delta.y(), -delta.x());
        const auto snap = [](QPointF p) {
            return QPointF(std::floor(p.x() * 64) / 64, std::floor(p.y() * 64) / 64);
        };
        fillQuad({snap(a + perp), snap(b + perp), snap(b - perp), snap(a - perp)});
    }

private:
    struct Edge
    {
        qreal X0 = 0;
        qreal Y0 = 0;
        qreal Slope = 0;
        qreal at(qreal y) const { return X0 + Slope * (y - Y0); }
    };

    // The share of pixel column `column` left of a boundary running from u0 at a band's top to
    // u1 at its bottom, averaged over the band.
    static qreal leftShare(qreal u0, qreal u1, int column)
    {
        u0 -= column;
        u1 -= column;
        if (u0 <= 0 && u1 <= 0)
            return 0;
        if (u0 >= 1 && u1 >= 1)
            return 1;
        if (u0 >= 0 && u0 <= 1 && u1 >= 0 && u1 <= 1)
            return (u0 + u1) / 2;
        const auto integral = [](qreal u) { return u <= 0 ? 0.0 : u >= 1 ? u - 0.5 : u * u / 2; };
        return (integral(u1) - integral(u0)) / (u1 - u0);
    }

    void fillRect(qreal left, qreal top, qreal right, qreal bottom)
    {
        const int firstRow = std::max(0, static_cast<int>(std::floor(top)));
        const int lastRow = std::min(Target.height() - 1, static_cast<int>(std::ceil(bottom)) - 1);
        const int first = std::max(0, static_cast<int>(std::floor(left)));
        const int last = std::min(ClipRight - 1, static_cast<int>(std::ceil(right)) - 1);
        if (first > last)
            return;
        Coverage.assign(static_cast<std::size_t>(last - first + 1), 0);
        for (int y = firstRow; y <= lastRow; ++y) {
            const qreal height = std::min<qreal>(y + 1, bottom) - std::max<qreal>(y, top);
            for (int x = first; x <= last; ++x)
                Coverage[std::size_t(x - first)] =
                    height * (std::min<qreal>(x + 1, right) - std::max<qreal>(x, left));
            blendRow(y, first, last);
        }
    }

    // A convex quadrilateral, band by band between its corners' heights: in each band its left
    // and right boundaries are straight, and a pixel's share is what lies between them.
    void fillQuad(const std::array<QPointF, 4> &corners)
    {
        std::array<qreal, 4> heights {};
        for (std::size_t i = 0; i < 4; ++i)
            heights[i] = corners[i].y();
        std::sort(heights.begin(), heights.end());
        if (heights[3] <= heights[0])
            return;

        std::array<Edge, 4> edges {};
        std::array<std::pair<qreal, qreal>, 4> spans {};
        for (std::size_t i = 0; i < 4; ++i) {
            const QPointF p = corners[i];
            const QPointF q = corners[(i + 1) % 4];
            spans[i] = std::minmax(p.y(), q.y());
            edges[i] = {p.x(), p.y(), p.y() == q.y() ? 0.0 : (q.x() - p.x()) / (q.y() - p.y())};
        }
        struct Band
        {
            qreal Top;
            qreal Bottom;
            Edge Left;
            Edge Right;
        };
        std::array<Band, 3> bands {};
        std::size_t bandCount = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            const qreal top = heights[k];
            const qreal bottom = heights[k + 1];
            if (bottom <= top)
                continue;
            const qreal middle = (top + bottom) / 2;
            std::array<Edge, 2> sides {};
            std::size_t found = 0;
            for (std::size_t i = 0; i < 4 && found < 2; ++i)
                if (spans[i].first <= top && spans[i].second >= bottom
                    && spans[i].second > spans[i].first)
                    sides[found++] = edges[i];
            if (found < 2)
                continue;
            if (sides[0].at(middle) > sides[1].at(middle))
                std::swap(sides[0], sides[1]);
            bands[bandCount++] = {top, bottom, sides[0], sides[1]};
        }

        const int firstRow = std::max(0, static_cast<int>(std::floor(heights[0])));
        const int lastRow =
            std::min(Target.height() - 1, static_cast<int>(std::ceil(heights[3])) - 1);
        for (int y = firstRow; y <= lastRow; ++y) {
            int first = std::numeric_limits<int>::max();
            int last = std::numeric_limits<int>::min();
            std::array<std::array<qreal, 5>, 3> pieces {};
            std::size_t pieceCount = 0;
            for (std::size_t k = 0; k < bandCount; ++k) {
                const qreal top = std::max<qreal>(y, bands[k].Top);
                const qreal bottom = std::min<qreal>(y + 1, bands[k].Bottom);
                if (bottom <= top)
                    continue;
                const qreal l0 = bands[k].Left.at(top);
                const qreal l1 = bands[k].Left.at(bottom);
                const qreal r0 = bands[k].Right.at(top);
                const qreal r1 = bands[k].Right.at(bottom);
                first = std::min(first, static_cast<int>(std::floor(std::min(l0, l1))));
                last = std::max(last, static_cast<int>(std::ceil(std::max(r0, r1))) - 1);
                pieces[pieceCount++] = {bottom - top, l0, l1, r0, r1};
            }
            first = std::max(first, 0);
            last = std::min(last, ClipRight - 1);
            if (pieceCount == 0 || first > last)
                continue;
            Coverage.assign(static_cast<std::size_t>(last - first + 1), 0);
            for (std::size_t k = 0; k < pieceCount; ++k) {
                const auto &[height, l0, l1, r0, r1] = pieces[k];
                for (int x = first; x <= last; ++x)
                    Coverage[std::size_t(x - first)] +=
                        height * (leftShare(r0, r1, x) - leftShare(l0, l1, x));
            }
            blendRow(y, first, last);
        }
    }

    // The toolkit's blend of an opaque colour by a coverage: c * a + d * (1 - a) per channel, each
    // product divided by 255 with rounding.
    static quint32 multiply(quint32 pixel, quint32 alpha)
    {
        quint32 low = (pixel & 0x00FF00FF) * alpha;
        low = ((low + ((low >> 8) & 0x00FF00FF) + 0x00800080) >> 8) & 0x00FF00FF;
        quint32 high = ((pixel >> 8) & 0x00FF00FF) * alpha;
        high = (high + ((high >> 8) & 0x00FF00FF) + 0x00800080) & 0xFF00FF00;
        return low | high;
    }

    void blendRow(int y, int first, int last)
    {
        auto *row = reinterpret_cast<quint32 *>(Bits + y * Stride);
        int touchedFirst = last + 1;
        int touchedLast = first - 1;
        for (int x = first; x <= last; ++x) {
            // A hair over the exact share, so that a whole pixel computed as 0.99999... is whole.
            const int level =
                std::clamp(static_cast<int>(Coverage[std::size_t(x - first)] * 255 + 1e-6), 0, 255);
            if (level == 0)
                continue;
            touchedFirst = std::min(touchedFirst, x);
            touchedLast = x;
            row[x] = level == 255
                ? Colour
                : multiply(Colour, quint32(level)) + multiply(row[x], quint32(255 - level));
        }
        if (Rows && touchedFirst <= touchedLast)
            Rows->emplace_back(QPoint(touchedFirst, y), QPoint(touchedLast, y));
    }

    QImage &Target;
    uchar *Bits;
    qsizetype Stride;
    quint32 Colour;
    qreal ScaleX;
    qreal ScaleY;
    qreal Width;
    int ClipRight;
    std::vector<QRect> *Rows;
    std::vector<qreal> Coverage;
};

void rasterTrace(TraceRaster &raster, const ScopeFrame &frame)
{
    int previousY = traceY(frame.Bytes[ScopeFrame::FirstSample]);
    for (int i = 1; i < SampleCount; ++i) {
        const int y = traceY(frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)]);
        raster.segment(traceX(i - 1), previousY, traceX(i), y);
        previousY = y;
    }
}

// Each line's top is where the primary face's ascent begins, so a line whose CJK glyphs come from
// a fallback face with a taller ascent keeps its place and the column keeps its spacing. A text
// drawn from a point is neither wrapped nor clipped.
void drawTextLine(QPainter &painter, const WaveformRenderer::Tools &tools, int line,
                  const QString &text)
{
    painter.setFont(tools.Font);
    painter.setPen(QPen(tools.Text, 0));
    const qreal ascent = QFontMetricsF(tools.Font, painter.device()).ascent();
    painter.drawText(QPointF(TextLeft, textTop(line) + ascent), text);
}

void drawTexts(QPainter &painter, const WaveformRenderer::Tools &tools, const OverlayTexts &texts)
{
    for (int line = 0; line < TextLineCount; ++line)
        drawTextLine(painter, tools, line, texts[static_cast<std::size_t>(line)]);
}

// Every device pixel the trace can touch, as rectangles: each segment's logical bounds widened
// by the pen and by the anti-aliasing fringe, neighbours merged while one rectangle for both is no
// larger than the two. A flat trace thus becomes a few long strips, a noisy one stays segment by
// segment, and only about the pixels the trace covers are restored.
std::vector<QRect> traceBounds(const ScopeFrame &frame, const QPen &pen, const Scale &scale,
                               const QRect &limit)
{
    const qreal reach = pen.widthF() / 2 + 1;
    const auto low = [](qreal logical, qreal factor) {
        return static_cast<int>(std::floor(logical * factor + 0.5)) - 2;
    };
    const auto high = [](qreal logical, qreal factor) {
        return static_cast<int>(std::ceil(logical * factor + 0.5)) + 2;
    };
    const auto area = [](const QRect &rect) { return qint64(rect.width()) * rect.height(); };
    std::vector<QRect> rects;
    QRect strip;
    int previousY = traceY(frame.Bytes[ScopeFrame::FirstSample]);
    for (int i = 1; i < SampleCount; ++i) {
        const int y = traceY(frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)]);
        const QRect segment(QPoint(low(traceX(i - 1) - reach, scale.X),
                                   low(std::min(y, previousY) - reach, scale.Y)),
                            QPoint(high(traceX(i) + reach, scale.X),
                                   high(std::max(y, previousY) + reach, scale.Y)));
        previousY = y;
        const QRect merged = strip | segment;
        if (strip.isNull() || area(merged) <= area(strip) + area(segment))
            strip = merged;
        else {
            rects.push_back(strip.intersected(limit));
            strip = segment;
        }
    }
    rects.push_back(strip.intersected(limit));
    return rects;
}

// Copies `rect` of `from`, whose pixel (0, 0) lies at `origin` of the target, into the target.
void copyPixels(QImage &to, const QImage &from, QPoint origin, const QRect &rect)
{
    const QRect area = rect.intersected(to.rect()).intersected(from.rect().translated(origin));
    if (area.isEmpty())
        return;
    const std::size_t length = static_cast<std::size_t>(area.width()) * sizeof(quint32);
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(reinterpret_cast<quint32 *>(to.scanLine(y)) + area.left(),
                    reinterpret_cast<const quint32 *>(from.constScanLine(y - origin.y()))
                        + (area.left() - origin.x()),
                    length);
}

void fillPixels(QImage &to, quint32 pixel, const QRect &rect)
{
    const QRect area = rect.intersected(to.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::fill_n(reinterpret_cast<quint32 *>(to.scanLine(y)) + area.left(), area.width(), pixel);
}

// The bounds of the pixels that are not `background`.
QRect inkBounds(const QImage &image, quint32 background)
{
    int top = image.height();
    int bottom = -1;
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const quint32 *>(image.constScanLine(y));
        int x = 0;
        while (x < image.width() && row[x] == background)
            ++x;
        if (x == image.width())
            continue;
        int last = image.width() - 1;
        while (row[last] == background)
            --last;
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, x);
        right = std::max(right, last);
    }
    return bottom < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// The device column a logical x maps into, rounded outwards by the anti-aliasing fringe.
int columnPast(qreal logical, qreal factor)
{
    return static_cast<int>(std::ceil(logical * factor + 0.5)) + 2;
}

} // namespace

QBrush WaveformRenderer::backgroundBrush()
{
    return QBrush(QColor(0, 0, 64));
}

QPen WaveformRenderer::tracePen()
{
    QPen pen(QColor(100, 255, 100), 1.0, Qt::SolidLine, Qt::FlatCap);
    pen.setCosmetic(false);
    return pen;
}

QPen WaveformRenderer::borderPen()
{
    QPen pen(QColor(0, 80, 180), 1.0, Qt::SolidLine, Qt::FlatCap);
    pen.setCosmetic(false);
    return pen;
}

QPen WaveformRenderer::gridPen()
{
    QPen pen = borderPen();
    // In pen widths: a dash of four, a gap of four. Flat caps keep the dash at its length.
    pen.setDashPattern({4.0, 4.0});
    return pen;
}

QBrush WaveformRenderer::textBrush()
{
    return QBrush(QColor(255, 255, 200));
}

QFont WaveformRenderer::textFont()
{
    // The system's font matching answers "Times New Roman" with a metric-compatible face when
    // the original is absent; only when none of them is installed does the sans-serif take over.
    static const char *const Faces[] = {"Times New Roman", "Liberation Serif", "Tinos"};
    const bool resolves = std::any_of(std::begin(Faces), std::end(Faces), [](const char *face) {
        return QFontDatabase::hasFamily(QString::fromLatin1(face));
    });
    QFont font(resolves ? QStringLiteral("Times New Roman") : QStringLiteral("sans-serif"));
    font.setStyleHint(resolves ? QFont::Serif : QFont::SansSerif);
    font.setPointSizeF(16.0);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

void WaveformRenderer::renderDirect(QImage &target, const Tools &tools, const ScopeFrame &frame,
                                    const OverlayTexts &texts, TraceDrawing drawing)
{
    if (target.isNull())
        return;
    QImage surface = surfaceOn(target.bits(), target);
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(surface.rect(), tools.Background);
    const Area area = fitArea(target.width(), target.height());
    if (area.Width == 0 || area.Height == 0)
        return;
    const Scale scale = scaleFor(area);
    applyTransform(painter, scale);
    drawGraticule(painter, tools);
    if (drawing == TraceDrawing::Own && TraceRaster::handles(target, tools.Trace, scale)) {
        TraceRaster raster(target, tools.Trace, scale, target.width(), nullptr);
        rasterTrace(raster, frame);
    } else
        drawTrace(painter, tools, frame);
    drawTexts(painter, tools, texts);
}

void WaveformRenderer::clear()
{
    Drawn.reset();
    Layer = QImage();
    for (auto &images : Lines)
        images.clear();
    TargetKey = 0;
    Shown = {};
    TraceArea.clear();
}

bool WaveformRenderer::Look::matches(const QImage &target, const Tools &tools) const
{
    return Size == target.size() && Format == target.format() && Background == tools.Background
        && Trace == tools.Trace && Border == tools.Border && Grid == tools.Grid
        && Text == tools.Text && Font == tools.Font;
}

void WaveformRenderer::adoptLook(const QImage &target, const Tools &tools)
{
    clear();
    Drawn = Look {target.size(), target.format(), tools.Background, tools.Trace,
                  tools.Border,  tools.Grid,      tools.Text,       tools.Font};
    const Scale scale = scaleFor(fitArea(target.width(), target.height()));
    const qreal widest =
        std::max({tools.Trace.widthF(), tools.Border.widthF(), tools.Grid.widthF(), 1.0});
    TextColumn = columnPast(GraticuleMax + widest / 2 + 1, scale.X) + 1;
}

// Drawn on the background in a band a line's height wider on every side than the line needs, at
// the target's own pixel grid; ink reaching that band's edge may reach further, so it spills.
const WaveformRenderer::LineImage &WaveformRenderer::lineImage(int line, const QString &text,
                                                               const Tools &tools)
{
    auto &images = Lines[static_cast<std::size_t>(line)];
    const auto cached = std::find_if(images.begin(), images.end(),
                                     [&](const LineImage &image) { return image.Text == text; });
    if (cached != images.end()) {
        std::rotate(images.begin(), cached, cached + 1);
        return images.front();
    }

    const QSize size = Drawn->Size;
    const Scale scale = scaleFor(fitArea(size.width(), size.height()));
    const auto row = [&](qreal logical) {
        return std::clamp(static_cast<int>(std::floor(logical * scale.Y + 0.5)), 0, size.height());
    };
    const int margin = columnPast(TextLineStep, scale.X);
    const QRect band(QPoint(std::max(0, TextColumn - margin), row(textTop(line - 1))),
                     QPoint(size.width() - 1, row(textTop(line + 2)) - 1));

    LineImage image {text, {}, {}, false};
    if (!band.isEmpty()) {
        QImage pixels(band.size(), Drawn->Format);
        QImage surface = surfaceOn(pixels.bits(), pixels);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(surface.rect(), tools.Background);
        painter.translate(0.5 - band.left(), 0.5 - band.top());
        painter.scale(scale.X, scale.Y);
        drawTextLine(painter, tools, line, text);
        painter.end();
        const auto background = *reinterpret_cast<const quint32 *>(pixels.constBits());
        const QRect ink = inkBounds(pixels, background);
        if (!ink.isEmpty()) {
            image.Ink = ink.translated(band.topLeft());
            image.Pixels = pixels.copy(ink);
            image.Spills = image.Ink.left() < TextColumn || (ink.top() == 0 && band.top() > 0)
                || (ink.bottom() == band.height() - 1 && band.bottom() < size.height() - 1);
        }
    }
    constexpr std::size_t Kept = 3;
    images.insert(images.begin(), std::move(image));
    if (images.size() > Kept)
        images.pop_back();
    return images.front();
}

// Made in the target itself, then its trace columns are kept: one full-size bitmap, not two.
void WaveformRenderer::buildLayer(QImage &target, const Tools &tools)
{
    {
        QImage surface = surfaceOn(target.bits(), target);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(surface.rect(), tools.Background);
        applyTransform(painter, scaleFor(fitArea(target.width(), target.height())));
        drawGraticule(painter, tools);
    }
    Layer = QImage(std::min(TextColumn, target.width()), target.height(), target.format());
    for (int y = 0; y < target.height(); ++y)
        std::memcpy(Layer.scanLine(y), target.constScanLine(y),
                    static_cast<std::size_t>(Layer.bytesPerLine()));
}

QRect WaveformRenderer::restoreTrace(QImage &target) const
{
    QRect bounds;
    for (const QRect &rect : TraceArea) {
        copyPixels(target, Layer, {}, rect);
        bounds |= rect;
    }
    return bounds;
}

QRect WaveformRenderer::render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                               const OverlayTexts &texts)
{
    if (target.isNull())
        return {};
    const Area area = fitArea(target.width(), target.height());
    if (target.depth() != 32 || area.Width == 0 || area.Height == 0
        || tools.Background.style() != Qt::SolidPattern) {
        renderDirect(target, tools, frame, texts);
        TargetKey = 0;
        return target.rect();
    }

    bool intact = TargetKey != 0 && target.cacheKey() == TargetKey;
    if (!Drawn || !Drawn->matches(target, tools)) {
        adoptLook(target, tools);
        intact = false;
    }

    std::array<LineImage, TextLineCount> lines;
    bool apart = TextColumn < target.width();
    for (int line = 0; line < TextLineCount && apart; ++line) {
        lines[std::size_t(line)] = lineImage(line, texts[std::size_t(line)], tools);
        apart = !lines[std::size_t(line)].Spills;
        for (int other = 0; other < line && apart; ++other)
            apart = !lines[std::size_t(line)].Ink.intersects(lines[std::size_t(other)].Ink);
    }
    if (!apart) {
        renderDirect(target, tools, frame, texts);
        TargetKey = 0;
        return target.rect();
    }

    QRect changed;
    const quint32 background = tools.Background.color().rgba();
    if (!intact) {
        if (Layer.isNull())
            buildLayer(target, tools);
        else {
            copyPixels(target, Layer, {}, Layer.rect());
            fillPixels(
                target, background,
                QRect(QPoint(TextColumn, 0), QPoint(target.width() - 1, target.height() - 1)));
        }
        for (const LineImage &line : lines)
            copyPixels(target, line.Pixels, line.Ink.topLeft(), line.Ink);
        changed = target.rect();
    } else {
        changed = restoreTrace(target);
        for (std::size_t line = 0; line < lines.size(); ++line)
            if (Shown[line].Text != lines[line].Text) {
                fillPixels(target, background, Shown[line].Ink);
                changed |= Shown[line].Ink | lines[line].Ink;
            }
        for (std::size_t line = 0; line < lines.size(); ++line)
            if (Shown[line].Text != lines[line].Text)
                copyPixels(target, lines[line].Pixels, lines[line].Ink.topLeft(), lines[line].Ink);
    }
    Shown = lines;

    const Scale scale = scaleFor(area);
    if (TraceRaster::handles(target, tools.Trace, scale)) {
        TraceArea.clear();
        TraceRaster raster(target, tools.Trace, scale, Layer.width(), &TraceArea);
        rasterTrace(raster, frame);
    } else {
        QImage surface = surfaceOn(target.bits(), target);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        applyTransform(painter, scale);
        drawTrace(painter, tools, frame);
        painter.end();
        TraceArea = traceBounds(frame, tools.Trace, scale, Layer.rect());
    }
    for (const QRect &rect : TraceArea)
        changed |= rect;
    TargetKey = target.cacheKey();
    return changed;
}
