#include "WaveformRenderer.h"

#include "ScopeFrame.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

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

void drawGraticule(QPainter &painter, const WaveformRenderer::Tools &tools)
{
    painter.setPen(tools.Border);
    painter.drawLine(QLine(GraticuleMin, GraticuleMin, GraticuleMax, GraticuleMin));
    painter.drawLine(QLine(GraticuleMax, GraticuleMin, GraticuleMax, GraticuleMax));
    painter.drawLine(QLine(GraticuleMax, GraticuleMax, GraticuleMin, GraticuleMax));
    painter.drawLine(QLine(GraticuleMin, GraticuleMax, GraticuleMin, GraticuleMin));

    painter.setPen(tools.Grid);
    for (int k = Division; k < GraticuleSide; k += Division) {
        const int at = GraticuleMin + k;
        painter.drawLine(QLine(at, GraticuleMin, at, GraticuleMax));
        painter.drawLine(QLine(GraticuleMin, at, GraticuleMax, at));
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

// Each line's top is where the primary face's ascent begins, so a line whose CJK glyphs come from
// a fallback face with a taller ascent keeps its place and the column keeps its spacing. A text
// drawn from a point is neither wrapped nor clipped.
void drawTexts(QPainter &painter, const WaveformRenderer::Tools &tools, const OverlayTexts &texts)
{
    painter.setFont(tools.Font);
    painter.setPen(QPen(tools.Text, 0));
    const qreal ascent = QFontMetricsF(tools.Font, painter.device()).ascent();
    for (int line = 0; line < TextLineCount; ++line)
        painter.drawText(QPointF(TextLeft, textTop(line) + ascent),
                         texts[static_cast<std::size_t>(line)]);
}

// Strips of this many segments get bounds of their own, so where the trace keeps to a narrow band
// only that band is restored, even when it spans the height elsewhere.
constexpr int StripSegments = 8;

// Every device pixel the trace can touch: each strip's logical bounds widened by the pen and by
// the anti-aliasing fringe. A strip's last sample is the next one's first, so every segment lies
// wholly inside one strip.
QRegion traceBounds(const ScopeFrame &frame, const QPen &pen, const Scale &scale,
                    const QRect &limit)
{
    const qreal reach = pen.widthF() / 2 + 1;
    const auto low = [](qreal logical, qreal factor) {
        return static_cast<int>(std::floor(logical * factor + 0.5)) - 2;
    };
    const auto high = [](qreal logical, qreal factor) {
        return static_cast<int>(std::ceil(logical * factor + 0.5)) + 2;
    };
    QRegion area;
    for (int first = 0; first < SampleCount - 1; first += StripSegments) {
        const int last = std::min(first + StripSegments, SampleCount - 1);
        int top = GraticuleMax;
        int bottom = 0;
        for (int i = first; i <= last; ++i) {
            const int y =
                traceY(frame.Bytes[ScopeFrame::FirstSample + static_cast<std::size_t>(i)]);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
        const QRect bounds(
            QPoint(low(traceX(first) - reach, scale.X), low(top - reach, scale.Y)),
            QPoint(high(traceX(last) + reach, scale.X), high(bottom + reach, scale.Y)));
        area |= bounds.intersected(limit);
    }
    return area;
}

void copyPixels(uchar *to, const QImage &from, qsizetype stride, const QRect &rect)
{
    if (rect.isEmpty())
        return;
    const qsizetype bytesPerPixel = from.depth() / 8;
    const qsizetype offset = rect.left() * bytesPerPixel;
    const std::size_t length = static_cast<std::size_t>(rect.width() * bytesPerPixel);
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        std::memcpy(to + y * stride + offset, from.constScanLine(y) + offset, length);
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
                                    const OverlayTexts &texts)
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
    applyTransform(painter, scaleFor(area));
    drawGraticule(painter, tools);
    drawTrace(painter, tools, frame);
    drawTexts(painter, tools, texts);
}

void WaveformRenderer::clear()
{
    Key.reset();
    Layer = QImage();
    TargetKey = 0;
    TraceArea = QRegion();
}

bool WaveformRenderer::LayerKey::matches(const QImage &target, const Tools &tools,
                                         const OverlayTexts &texts) const
{
    return Size == target.size() && Format == target.format() && Texts == texts
        && Background == tools.Background && Border == tools.Border && Grid == tools.Grid
        && Text == tools.Text && Font == tools.Font;
}

void WaveformRenderer::rebuildLayer(const QImage &target, const Tools &tools,
                                    const OverlayTexts &texts)
{
    if (Layer.size() != target.size() || Layer.format() != target.format())
        Layer = QImage(target.size(), target.format());
    QImage surface = surfaceOn(Layer.bits(), Layer);
    QPainter painter(&surface);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(surface.rect(), tools.Background);
    applyTransform(painter, scaleFor(fitArea(target.width(), target.height())));
    drawGraticule(painter, tools);
    // The texts lie right of everything the trace can reach, so drawing them before the trace
    // gives the same pixels as drawing them after it.
    drawTexts(painter, tools, texts);
    Key = LayerKey {target.size(), target.format(), texts,      tools.Background,
                    tools.Border,  tools.Grid,      tools.Text, tools.Font};
}

QRect WaveformRenderer::render(QImage &target, const Tools &tools, const ScopeFrame &frame,
                               const OverlayTexts &texts)
{
    if (target.isNull())
        return {};
    const Area area = fitArea(target.width(), target.height());
    if (target.depth() != 32 || area.Width == 0 || area.Height == 0) {
        renderDirect(target, tools, frame, texts);
        TargetKey = 0;
        return target.rect();
    }

    bool intact = TargetKey != 0 && target.cacheKey() == TargetKey;
    if (!Key || !Key->matches(target, tools, texts)) {
        rebuildLayer(target, tools, texts);
        intact = false;
    }

    uchar *bits = target.bits();
    const qsizetype stride = target.bytesPerLine();
    if (intact) {
        for (const QRect &rect : TraceArea)
            copyPixels(bits, Layer, stride, rect);
    } else if (stride == Layer.bytesPerLine())
        std::memcpy(bits, Layer.constBits(), static_cast<std::size_t>(Layer.sizeInBytes()));
    else
        copyPixels(bits, Layer, stride, target.rect());

    const Scale scale = scaleFor(area);
    {
        QImage surface = surfaceOn(bits, target);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        applyTransform(painter, scale);
        drawTrace(painter, tools, frame);
    }
    const QRegion previous = TraceArea;
    TraceArea = traceBounds(frame, tools.Trace, scale, target.rect());
    TargetKey = target.cacheKey();
    return intact ? previous.united(TraceArea).boundingRect() : target.rect();
}
