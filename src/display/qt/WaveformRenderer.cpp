#include "WaveformRenderer.h"

#include "ScopeFrame.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

using namespace WaveformGeometry;

namespace {

// 96 dots per inch: the resolution at which the font's points become pixels before the scale.
constexpr int DotsPerMeterAt96Dpi = 3780;

// Qt puts pixel centres at half coordinates, as the geometry does.
QTransform deviceTransform(const PictureGeometry &geometry, int left = 0, int top = 0)
{
    return QTransform().translate(0.5 - left, 0.5 - top).scale(geometry.ScaleX, geometry.ScaleY);
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

// The trace is drawn by the project's own rasteriser wherever it can promise the pixels: a solid,
// opaque, flat-ended pen, into pixels that take an opaque colour as they are.
bool rasterisable(QImage::Format format, const QPen &pen)
{
    const QBrush &brush = pen.brush();
    return (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied)
        && pen.style() == Qt::SolidLine && pen.capStyle() == Qt::FlatCap && !pen.isCosmetic()
        && brush.style() == Qt::SolidPattern && brush.isOpaque() && brush.transform().isIdentity();
}

PictureLook lookOf(QImage::Format format, const WaveformRenderer::Tools &tools)
{
    PictureLook look;
    look.Background = tools.Background.color().rgba();
    look.PlainBackground =
        tools.Background.style() == Qt::SolidPattern && tools.Background.isOpaque();
    look.TracePen = tools.Trace.widthF();
    look.TraceColour = tools.Trace.color().rgb();
    look.OwnTrace = rasterisable(format, tools.Trace);
    look.GraticulePen = std::max(tools.Border.widthF(), tools.Grid.widthF());
    return look;
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

class QtPainter final : public PicturePainter
{
public:
    QtPainter(const WaveformRenderer::Tools &tools, QImage::Format format)
        : Tools(tools)
        , Format(format)
    { }

    void drawLayer(const PixelRows &target, const PictureGeometry &geometry) override
    {
        QImage surface = surfaceOn(target);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(surface.rect(), Tools.Background);
        if (geometry.empty())
            return;
        painter.setTransform(deviceTransform(geometry));
        drawGraticule(painter, Tools);
    }

    void drawText(const PixelRows &pixels, int left, int top, const PictureGeometry &geometry,
                  int line, const std::u16string &text) override
    {
        QImage surface = surfaceOn(pixels);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(deviceTransform(geometry, left, top));
        drawTextLine(painter, Tools, line, QString::fromStdU16String(text));
    }

    void drawTrace(const PixelRows &target, const TraceShape::Segments &segments,
                   const PictureGeometry &geometry) override
    {
        QImage surface = surfaceOn(target);
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(deviceTransform(geometry));
        painter.setPen(Tools.Trace);
        for (const TraceRasteriser::Segment &segment : segments)
            painter.drawLine(QLineF(segment.X1, segment.Y1, segment.X2, segment.Y2));
    }

private:
    // A painter-ready view of the pixels at 96 dpi and a device pixel ratio of 1, so that neither
    // the bitmap's own resolution nor its high-DPI ratio rescales what is drawn.
    QImage surfaceOn(const PixelRows &pixels) const
    {
        QImage surface(reinterpret_cast<uchar *>(pixels.Bits), pixels.Width, pixels.Height,
                       pixels.Stride * qsizetype(sizeof(quint32)), Format);
        surface.setDotsPerMeterX(DotsPerMeterAt96Dpi);
        surface.setDotsPerMeterY(DotsPerMeterAt96Dpi);
        return surface;
    }

    const WaveformRenderer::Tools &Tools;
    const QImage::Format Format;
};

PixelRows rowsOf(QImage &image)
{
    return {reinterpret_cast<std::uint32_t *>(image.bits()), image.bytesPerLine() / 4,
            image.width(), image.height()};
}

OverlayLines linesOf(const OverlayTexts &texts)
{
    OverlayLines lines;
    for (std::size_t line = 0; line < lines.size(); ++line)
        lines[line] = texts[line].toStdU16String();
    return lines;
}

QRect qRect(const PixelRect &rect)
{
    return rect.empty() ? QRect() : QRect(rect.Left, rect.Top, rect.width(), rect.height());
}

bool composable(const QImage &target)
{
    return target.format() == QImage::Format_RGB32
        || target.format() == QImage::Format_ARGB32_Premultiplied;
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
    // Other formats are drawn as 32-bit pixels and converted: nothing draws into them often.
    if (!composable(target)) {
        QImage pixels(target.size(), QImage::Format_ARGB32_Premultiplied);
        renderDirect(pixels, tools, frame, texts);
        target = pixels.convertToFormat(target.format());
        return;
    }
    const PictureLook look = lookOf(target.format(), tools);
    QtPainter painter(tools, target.format());
    PictureComposer::renderDirect(
        rowsOf(target), painter, look,
        PictureGeometry::of(target.width(), target.height(), look.widestPen()), frame,
        linesOf(texts));
}

void WaveformRenderer::clear()
{
    Drawn.reset();
    Composer.clear();
}

bool WaveformRenderer::Look::matches(const QImage &target, const Tools &tools) const
{
    return Size == target.size() && Format == target.format() && Background == tools.Background
        && Trace == tools.Trace && Border == tools.Border && Grid == tools.Grid
        && Text == tools.Text && Font == tools.Font;
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
    if (!composable(target)) {
        renderDirect(target, tools, frame, texts);
        Drawn.reset();
        changedRegion = target.rect();
        return target.rect();
    }
    if (!Drawn || !Drawn->matches(target, tools)) {
        Drawn = Look {target.size(), target.format(), tools.Background, tools.Trace,
                      tools.Border,  tools.Grid,      tools.Text,       tools.Font};
        Composer.adopt(lookOf(target.format(), tools), target.width(), target.height());
    }
    // The image's key moves on with every access to its pixels for writing.
    const qint64 key = target.cacheKey();
    const PixelRows rows = rowsOf(target);
    QtPainter painter(tools, target.format());
    ChangedRegion changed;
    if (texts != LastTexts) {
        LastTexts = texts;
        LastLines = linesOf(texts);
    }
    const PixelRect bounds = Composer.render(rows, key, painter, frame, LastLines, changed);
    Composer.relabel(key, target.cacheKey());
    for (const PixelRect &rect : changed.rects())
        changedRegion += qRect(rect);
    return qRect(bounds);
}
