#include "WaveformRenderer.h"

#include "ScopeFrame.h"
#include "TraceRasteriser.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <tuple>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A value rounded to single precision. GCC 12 at -O2, vectorising the two conversions of a scale
// side by side, drops the rounding altogether; where it did, the one-pass picture was drawn at a
// scale a hair off the cached one's, and large texts came out a few levels apart. A store the
// compiler must make keeps the rounding wherever the code is inlined.
qreal singlePrecision(double value)
{
    const volatile float rounded = static_cast<float>(value);
    return rounded;
}

Scale scaleFor(const Area &area)
{
    // Computed in double, applied in single precision, as the picture's numbers are defined.
    return {singlePrecision(area.Width / static_cast<double>(LogicalWidth)),
            singlePrecision(area.Height / static_cast<double>(LogicalHeight))};
}

// Qt puts pixel centres at half coordinates; the half-pixel shift lands a logical point on the
// centre of pixel (x * sx, y * sy), so unit-wide lines at integer coordinates stay one pixel crisp.
QTransform deviceTransform(const Scale &scale)
{
    return QTransform().translate(0.5, 0.5).scale(scale.X, scale.Y);
}

void applyTransform(QPainter &painter, const Scale &scale)
{
    painter.setTransform(deviceTransform(scale));
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

using TraceLines = std::array<QLine, SampleCount - 1>;

TraceLines traceLines(const ScopeFrame &frame)
{
    TraceLines lines;
    int previousY = traceY(frame.Bytes[ScopeFrame::FirstSample]);
    for (int i = 1; i < SampleCount; ++i) {
        const int y = traceY(frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)]);
        lines[static_cast<std::size_t>(i - 1)] = QLine(traceX(i - 1), previousY, traceX(i), y);
        previousY = y;
    }
    return lines;
}

// The trace is drawn by the project's own rasteriser wherever it can promise the pixels: a solid,
// opaque, flat-ended pen, into pixels that take an opaque colour as they are.
bool rasterisable(const QImage &target, const QPen &pen)
{
    const QBrush &brush = pen.brush();
    return (target.format() == QImage::Format_RGB32
            || target.format() == QImage::Format_ARGB32_Premultiplied)
        && pen.style() == Qt::SolidLine && pen.capStyle() == Qt::FlatCap && !pen.isCosmetic()
        && brush.style() == Qt::SolidPattern && brush.isOpaque() && brush.transform().isIdentity();
}

// One line at a time, as the picture is defined: where segments meet, the later one blends over
// the earlier.
void drawTrace(QImage &target, const WaveformRenderer::Tools &tools, const ScopeFrame &frame,
               const Scale &scale)
{
    const TraceLines lines = traceLines(frame);
    if (rasterisable(target, tools.Trace)) {
        std::array<TraceRasteriser::Segment, std::tuple_size_v<TraceLines>> segments;
        std::transform(lines.begin(), lines.end(), segments.begin(), [](const QLine &line) {
            return TraceRasteriser::Segment {double(line.x1()), double(line.y1()),
                                             double(line.x2()), double(line.y2())};
        });
        const QTransform device = deviceTransform(scale);
        TraceRasteriser rasteriser(device.m11(), device.m22(), device.dx(), device.dy(),
                                   tools.Trace.widthF(), tools.Trace.color().rgb());
        rasteriser.draw({reinterpret_cast<std::uint32_t *>(target.bits()),
                         target.bytesPerLine() / 4, target.width(), target.height()},
                        segments.data(), segments.size());
        return;
    }
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing);
    applyTransform(painter, scale);
    painter.setPen(tools.Trace);
    for (const QLine &line : lines)
        painter.drawLine(line);
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
// segment, and only about the pixels the trace covers are restored. Our rasteriser inks nothing
// beyond the pen's half-width (a hairline's half pixel at least); the toolkit's caps and fringes
// may reach a unit further.
std::vector<QRect> traceBounds(const ScopeFrame &frame, const QPen &pen, const Scale &scale,
                               const QRect &limit, bool ownRasteriser)
{
    const qreal reach = ownRasteriser ? std::max({pen.widthF(), 1 / scale.X, 1 / scale.Y}) / 2
                                      : pen.widthF() / 2 + 1;
    // Pixels floor(left) to ceil(right) - 1 hold ink: ours get one to spare on either side for
    // rounding, the toolkit's two more. A noisy trace is restored a dozen columns wide per row, so
    // every column counts.
    const int before = ownRasteriser ? 1 : 2;
    const int after = ownRasteriser ? 0 : 2;
    const auto low = [before](qreal logical, qreal factor) {
        return static_cast<int>(std::floor(logical * factor + 0.5)) - before;
    };
    const auto high = [after](qreal logical, qreal factor) {
        return static_cast<int>(std::ceil(logical * factor + 0.5)) + after;
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

// Sets `count` pixels to one value. A restore fills some hundred thousand short rows a frame, a
// dozen pixels each, where a call to the library's fill or copy costs more than the stores.
inline void fillShort(quint32 *to, std::size_t count, quint32 pixel)
{
#if defined(__SSE2__)
    if (count >= 4) {
        const __m128i four = _mm_set1_epi32(static_cast<int>(pixel));
        std::size_t i = 0;
        for (; i + 4 <= count; i += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), four);
        if (i < count)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + count - 4), four);
        return;
    }
#endif
    std::fill_n(to, count, pixel);
}

// A trace's rectangles as a region of at most a few: as they are when they are few, else the
// bounds of each run of neighbours. Each rectangle of a repaint costs a copy call per row.
QRegion fewRectangles(const std::vector<QRect> &rects)
{
    constexpr std::size_t Few = 16;
    QRegion region;
    if (rects.size() <= Few) {
        for (const QRect &rect : rects)
            region += rect;
        return region;
    }
    for (std::size_t group = 0; group < Few; ++group) {
        QRect bounds;
        for (std::size_t k = rects.size() * group / Few; k < rects.size() * (group + 1) / Few; ++k)
            bounds |= rects[k];
        region += bounds;
    }
    return region;
}

// The region, or its bounds when the region saves little of them or has grown into many pieces.
QRegion worthwhile(const QRegion &region, const QRect &bounds)
{
    constexpr int MostPieces = 96;
    if (region.rectCount() > MostPieces)
        return bounds;
    qint64 area = 0;
    for (const QRect &rect : region)
        area += qint64(rect.width()) * rect.height();
    return area * 5 >= qint64(bounds.width()) * bounds.height() * 4 ? QRegion(bounds) : region;
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
    return QBrush(QColor::fromRgba(WaveformGeometry::BackgroundColour));
}

QPen WaveformRenderer::tracePen()
{
    QPen pen(QColor::fromRgba(WaveformGeometry::TraceColour), 1.0, Qt::SolidLine, Qt::FlatCap);
    pen.setCosmetic(false);
    return pen;
}

QPen WaveformRenderer::borderPen()
{
    QPen pen(QColor::fromRgba(WaveformGeometry::GraticuleColour), 1.0, Qt::SolidLine, Qt::FlatCap);
    pen.setCosmetic(false);
    return pen;
}

QPen WaveformRenderer::gridPen()
{
    QPen pen = borderPen();
    // In pen widths: a dash of four, a gap of four. Flat caps keep the dash at its length.
    pen.setDashPattern({WaveformGeometry::GridDash, WaveformGeometry::GridGap});
    return pen;
}

QBrush WaveformRenderer::textBrush()
{
    return QBrush(QColor::fromRgba(WaveformGeometry::TextColour));
}

QFont WaveformRenderer::textFont()
{
    // The system's font matching answers "Times New Roman" with a metric-compatible face when
    // the original is absent; only when none of them is installed does the sans-serif take over.
    static const char *const Faces[] = {"Times New Roman", "Liberation Serif", "Tinos"};
    const bool resolves = std::any_of(std::begin(Faces), std::end(Faces), [](const char *face) {
        return QFontDatabase::hasFamily(QString::fromLatin1(face));
    });
    QFont font(resolves ? QString::fromUtf16(TextFace) : QStringLiteral("sans-serif"));
    font.setStyleHint(resolves ? QFont::Serif : QFont::SansSerif);
    font.setPointSizeF(WaveformGeometry::TextPoints);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

void WaveformRenderer::renderDirect(QImage &target, const Tools &tools, const ScopeFrame &frame,
                                    const OverlayTexts &texts)
{
    if (target.isNull())
        return;
    QImage surface = surfaceOn(target.bits(), target);
    const Area area = fitArea(target.width(), target.height());
    {
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(surface.rect(), tools.Background);
        if (area.Width == 0 || area.Height == 0)
            return;
        applyTransform(painter, scaleFor(area));
        drawGraticule(painter, tools);
    }
    drawTrace(surface, tools, frame, scaleFor(area));
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing);
    applyTransform(painter, scaleFor(area));
    drawTexts(painter, tools, texts);
}

void WaveformRenderer::clear()
{
    Drawn.reset();
    Layer = QImage();
    LayerColumns.clear();
    LayerRows.clear();
    LayerColumnPixels.clear();
    LayerBlank.clear();
    for (auto &images : Lines)
        images.clear();
    Targets = {};
}

WaveformRenderer::TargetState &WaveformRenderer::stateFor(qint64 key)
{
    auto found = std::find_if(Targets.begin(), Targets.end(),
                              [&](const TargetState &state) { return state.Key == key; });
    if (key == 0 || found == Targets.end()) {
        found = Targets.end() - 1;
        *found = {};
    }
    std::rotate(Targets.begin(), found, found + 1);
    return Targets.front();
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

// Drawn on the background in a band a third of a line wider on every side than the line needs,
// at the target's own pixel grid; ink reaching that band's edge may reach further, so it spills.
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
    constexpr int Margin = TextLineStep / 3;
    const QRect band(
        QPoint(std::max(0, TextColumn - columnPast(Margin, scale.X)), row(textTop(line) - Margin)),
        QPoint(size.width() - 1, row(textTop(line + 1) + Margin) - 1));

    LineImage image {text, {}, {}, false};
    QImage pixels = band.isEmpty() ? QImage() : QImage(band.size(), Drawn->Format);
    // Out of memory: without its pixels the line cannot be composed apart.
    image.Spills = !band.isEmpty() && pixels.isNull();
    if (!pixels.isNull()) {
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
    if (Layer.isNull())
        return;

    // The graticule's vertical lines are a few columns of the layer, its horizontal lines a few
    // rows; elsewhere it is the background. The columns come from the geometry, generously; a row
    // with anything but background outside them (a horizontal line) is marked to be copied whole.
    // Each row is judged as it is copied, while it is still in the cache.
    const quint32 background = tools.Background.color().rgba();
    const qreal scaleX = scaleFor(fitArea(target.width(), target.height())).X;
    const qreal halfPen = std::max({tools.Border.widthF(), tools.Grid.widthF(), qreal(1)}) / 2;
    LayerColumns.clear();
    for (int at = GraticuleMin; at <= GraticuleMax; at += Division) {
        const int first =
            std::max(0, static_cast<int>(std::floor((at - halfPen) * scaleX + 0.5)) - 2);
        const int last = std::min(Layer.width() - 1, columnPast(at + halfPen, scaleX));
        if (first > last)
            continue;
        if (!LayerColumns.empty() && LayerColumns.back().second >= first - 1)
            LayerColumns.back().second = std::max(LayerColumns.back().second, last);
        else
            LayerColumns.emplace_back(first, last);
    }
    LayerBlank.assign(std::size_t(Layer.width()), background);
    const auto blankBetween = [&](const quint32 *row, int from, int to) {
        return from >= to
            || std::memcmp(row + from, LayerBlank.data(), std::size_t(to - from) * sizeof(quint32))
            == 0;
    };
    const auto inkOutsideColumns = [&](const quint32 *row) {
        int from = 0;
        for (const auto &[first, last] : LayerColumns) {
            if (!blankBetween(row, from, first))
                return true;
            from = last + 1;
        }
        return !blankBetween(row, from, Layer.width());
    };
    LayerRows.assign(std::size_t(Layer.height()), 0);
    uchar *const layerBits = Layer.bits();
    for (int y = 0; y < target.height(); ++y) {
        const auto *row = reinterpret_cast<const quint32 *>(target.constScanLine(y));
        std::memcpy(layerBits + y * Layer.bytesPerLine(), row,
                    static_cast<std::size_t>(Layer.bytesPerLine()));
        LayerRows[std::size_t(y)] = inkOutsideColumns(row);
    }
    LayerColumnPixels.clear();
    for (const auto &[first, last] : LayerColumns)
        for (int y = 0; y < Layer.height(); ++y) {
            const auto *row = reinterpret_cast<const quint32 *>(Layer.constScanLine(y));
            LayerColumnPixels.insert(LayerColumnPixels.end(), row + first, row + last + 1);
        }
}

QRect WaveformRenderer::restoreTrace(QImage &target, const std::vector<QRect> &traceArea) const
{
    QRect bounds;
    uchar *const bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    const uchar *const layerBits = Layer.constBits();
    const qsizetype layerStride = Layer.bytesPerLine();
    // The graticule's columns inside the rectangle at hand, mostly none or one: where they start
    // in the packed copy, how many pixels apart its rows are, and how many to copy.
    struct Piece
    {
        int Left = 0;
        std::size_t Count = 0;
        const quint32 *From = nullptr;
        std::size_t Stride = 0;
    };
    std::array<Piece, GraticuleSide / Division + 1> pieces;
    for (const QRect &limit : traceArea) {
        bounds |= limit;
        const QRect rect = limit.intersected(Layer.rect()).intersected(target.rect());
        if (rect.isEmpty())
            continue;
        const auto width = static_cast<std::size_t>(rect.width());
        std::size_t count = 0;
        const quint32 *run = LayerColumnPixels.data();
        for (const auto &[first, last] : LayerColumns) {
            const auto runWidth = static_cast<std::size_t>(last - first + 1);
            const int left = std::max(first, rect.left());
            const int right = std::min(last, rect.right());
            if (left <= right)
                pieces[count++] = {left, static_cast<std::size_t>(right - left + 1),
                                   run + (left - first), runWidth};
            run += runWidth * static_cast<std::size_t>(Layer.height());
        }
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            auto *to = reinterpret_cast<quint32 *>(bits + y * stride);
            if (LayerRows[std::size_t(y)]) {
                const auto *from = reinterpret_cast<const quint32 *>(layerBits + y * layerStride);
                std::memcpy(to + rect.left(), from + rect.left(), width * sizeof(quint32));
                continue;
            }
            fillShort(to + rect.left(), width, LayerBlank.front());
            for (std::size_t piece = 0; piece < count; ++piece) {
                const Piece &p = pieces[piece];
                std::copy_n(p.From + static_cast<std::size_t>(y) * p.Stride, p.Count, to + p.Left);
            }
        }
    }
    return bounds;
}

QRect WaveformRenderer::render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                               const OverlayTexts &texts)
{
    QRegion unused;
    return render(target, tools, frame, texts, unused);
}

QRect WaveformRenderer::render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                               const OverlayTexts &texts, QRegion &changedRegion)
{
    changedRegion = QRegion();
    if (target.isNull())
        return {};
    const Area area = fitArea(target.width(), target.height());
    TargetState &state = stateFor(target.cacheKey());
    if (target.depth() != 32 || area.Width == 0 || area.Height == 0
        || tools.Background.style() != Qt::SolidPattern) {
        renderDirect(target, tools, frame, texts);
        state.Key = 0;
        changedRegion = target.rect();
        return target.rect();
    }

    bool intact = state.Key != 0;
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
        state.Key = 0;
        changedRegion = target.rect();
        return target.rect();
    }

    QRect changed;
    const quint32 background = tools.Background.color().rgba();
    if (!intact) {
        if (Layer.isNull()) {
            buildLayer(target, tools);
            if (Layer.isNull()) {
                renderDirect(target, tools, frame, texts);
                state.Key = 0;
                changedRegion = target.rect();
                return target.rect();
            }
        } else {
            copyPixels(target, Layer, {}, Layer.rect());
            fillPixels(
                target, background,
                QRect(QPoint(TextColumn, 0), QPoint(target.width() - 1, target.height() - 1)));
        }
        for (const LineImage &line : lines)
            copyPixels(target, line.Pixels, line.Ink.topLeft(), line.Ink);
        changed = target.rect();
    } else {
        changed = restoreTrace(target, state.TraceArea);
        changedRegion = fewRectangles(state.TraceArea);
        for (std::size_t line = 0; line < lines.size(); ++line)
            if (state.Shown[line].Text != lines[line].Text) {
                fillPixels(target, background, state.Shown[line].Ink);
                changed |= state.Shown[line].Ink | lines[line].Ink;
                changedRegion += state.Shown[line].Ink | lines[line].Ink;
            }
        for (std::size_t line = 0; line < lines.size(); ++line)
            if (state.Shown[line].Text != lines[line].Text)
                copyPixels(target, lines[line].Pixels, lines[line].Ink.topLeft(), lines[line].Ink);
    }
    state.Shown = lines;

    const Scale scale = scaleFor(area);
    QImage surface = surfaceOn(target.bits(), target);
    drawTrace(surface, tools, frame, scale);
    state.TraceArea =
        traceBounds(frame, tools.Trace, scale, Layer.rect(), rasterisable(surface, tools.Trace));
    for (const QRect &rect : state.TraceArea)
        changed |= rect;
    if (intact)
        changedRegion = worthwhile(changedRegion + fewRectangles(state.TraceArea), changed);
    else
        changedRegion = changed;
    state.Key = target.cacheKey();
    return changed;
}
