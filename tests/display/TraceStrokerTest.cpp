#include "TraceStroker.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

QImage noiseImage(QSize size, QImage::Format format, std::mt19937 &generator)
{
    QImage image(size, format);
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = 0xFF000000U | (generator() & 0xFFFFFFU);
    }
    return image;
}

QImage drawnByToolkit(QImage image, const QPen &pen, const QTransform &transform,
                      const std::vector<QLine> &lines)
{
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setTransform(transform);
    painter.setPen(pen);
    for (const QLine &line : lines)
        painter.drawLine(line);
    return image;
}

// A connected run of lines of every kind: level, upright, one unit across, steep, shallow,
// leftwards and rightwards, some of zero length.
std::vector<QLine> polyline(int count, int width, int height, std::mt19937 &generator)
{
    std::vector<QLine> lines;
    QPoint from(int(generator() % width), int(generator() % height));
    for (int i = 0; i < count; ++i) {
        QPoint to(int(generator() % width), int(generator() % height));
        switch (generator() % 6) {
        case 0:
            to.setY(from.y());
            break;
        case 1:
            to.setX(from.x());
            break;
        case 2:
            to.setX(std::min(width - 1, from.x() + 1));
            break;
        case 3:
            to.setX(std::max(0, from.x() - 3));
            break;
        default:
            break;
        }
        lines.emplace_back(from, to);
        from = to;
    }
    return lines;
}

} // namespace

TEST(TraceStroker, DrawsTheToolkitsPixelsForEveryKindOfLine)
{
    std::mt19937 generator(11);
    int drawn = 0;
    int trials = 0;
    for (; trials < 1200; ++trials) {
        const QSize size(24 + int(generator() % 260), 24 + int(generator() % 260));
        const qreal scale = float(1.0 + (generator() % 4000) / 1000.0);
        const QPen pen(QColor::fromRgb(generator() & 0xFFFFFFU), 0.5 + (generator() % 40) / 10.0,
                       Qt::SolidLine, Qt::FlatCap);
        const QTransform transform = QTransform().translate(0.5, 0.5).scale(scale, scale);
        const int width = int(size.width() / scale) - 1;
        const int height = int(size.height() / scale) - 1;
        if (width < 2 || height < 2)
            continue;
        const auto lines = polyline(1 + int(generator() % 16), width, height, generator);
        const auto format = trials % 2 ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
        QImage image = noiseImage(size, format, generator);
        const QImage expected = drawnByToolkit(image, pen, transform, lines);
        if (!TraceStroker::stroke(image, pen, transform, lines.data(), int(lines.size())))
            continue;
        ++drawn;
        ASSERT_EQ(image, expected)
            << "trial " << trials << " scale " << scale << " width " << pen.widthF();
    }
    // Most trials have no line at the picture's edge and a pen wider than a pixel.
    EXPECT_GT(drawn, trials / 4);
}

TEST(TraceStroker, DrawsTheToolkitsPixelsForFullHeightLinesAt4K)
{
    std::mt19937 generator(12);
    const qreal scale = 4.5F;
    const QTransform transform = QTransform().translate(0.5, 0.5).scale(scale, scale);
    const QPen pen(QColor(0x64, 0xFF, 0x64), 1.0, Qt::SolidLine, Qt::FlatCap);
    QImage image = noiseImage({2100, 2100}, QImage::Format_RGB32, generator);
    std::vector<QLine> lines;
    for (int x = 8; x < 440; x += 7)
        lines.emplace_back(x, (x / 7) % 2 ? 8 : 448, x + 3 + x % 2, (x / 7) % 2 ? 448 : 8);
    const QImage expected = drawnByToolkit(image, pen, transform, lines);
    ASSERT_TRUE(TraceStroker::stroke(image, pen, transform, lines.data(), int(lines.size())));
    EXPECT_EQ(image, expected);
}

// A steep line's short sides can land flat on the 1/64 grid; the toolkit's sums overflow there and
// what it draws then (here a stray row of pixels) is still the picture.
TEST(TraceStroker, DrawsTheToolkitsPixelsWhereItsArithmeticOverflows)
{
    std::mt19937 generator(14);
    const qreal scale = float(1.371);
    const QTransform transform = QTransform().translate(0.5, 0.5).scale(scale, scale);
    const QPen pen(QColor(0x64, 0xFF, 0x64), 0.8, Qt::SolidLine, Qt::FlatCap);
    QImage image = noiseImage({303, 179}, QImage::Format_RGB32, generator);
    const std::vector<QLine> lines {QLine(60, 30, 82, 10), QLine(82, 10, 83, 104),
                                    QLine(83, 104, 150, 90)};
    const QImage expected = drawnByToolkit(image, pen, transform, lines);
    ASSERT_TRUE(TraceStroker::stroke(image, pen, transform, lines.data(), int(lines.size())));
    EXPECT_EQ(image, expected);
}

TEST(TraceStroker, LeavesToTheToolkitWhatItDrawsAnotherWay)
{
    std::mt19937 generator(13);
    const QImage blank = noiseImage({200, 200}, QImage::Format_RGB32, generator);
    const QTransform even = QTransform().translate(0.5, 0.5).scale(2, 2);
    const QPen standard(QColor(0x64, 0xFF, 0x64), 1.0, Qt::SolidLine, Qt::FlatCap);
    const std::vector<QLine> inside {QLine(10, 10, 60, 80)};
    const auto refuses = [&](QImage image, const QPen &pen, const QTransform &transform,
                             const std::vector<QLine> &lines) {
        const QImage before = image.copy();
        const bool drew =
            TraceStroker::stroke(image, pen, transform, lines.data(), int(lines.size()));
        return !drew && image == before;
    };

    QImage image = blank.copy();
    EXPECT_TRUE(TraceStroker::stroke(image, standard, even, inside.data(), 1));
    EXPECT_NE(image, blank);

    QPen pen = standard;
    pen.setCosmetic(true);
    EXPECT_TRUE(refuses(blank, pen, even, inside));
    pen = standard;
    pen.setCapStyle(Qt::SquareCap);
    EXPECT_TRUE(refuses(blank, pen, even, inside));
    pen = standard;
    pen.setColor(QColor(0x64, 0xFF, 0x64, 0x80));
    EXPECT_TRUE(refuses(blank, pen, even, inside));
    pen = standard;
    pen.setDashPattern({4, 4});
    EXPECT_TRUE(refuses(blank, pen, even, inside));
    pen = standard;
    pen.setWidthF(0.5);
    EXPECT_TRUE(refuses(blank, pen, even, inside));
    EXPECT_TRUE(refuses(blank, standard, QTransform().translate(0.5, 0.5), inside));
    EXPECT_TRUE(refuses(blank, standard, QTransform().translate(0.5, 0.5).scale(2, 2.001), inside));
    EXPECT_TRUE(refuses(blank, standard, QTransform().translate(0.5, 0.5).rotate(10), inside));
    EXPECT_TRUE(refuses(blank.convertToFormat(QImage::Format_ARGB32), standard, even, inside));
    // Any line reaching an edge leaves the whole set to the toolkit, before anything is drawn.
    EXPECT_TRUE(refuses(blank, standard, even, {QLine(10, 10, 60, 80), QLine(60, 80, 99, 80)}));
    EXPECT_TRUE(refuses(blank, standard, even, {QLine(10, 10, 60, 80), QLine(60, 80, 60, 0)}));
}
