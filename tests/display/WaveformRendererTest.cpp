#include "RenderCases.h"
#include "RenderTestSupport.h"
#include "WaveformGeometry.h"

#include <QFontDatabase>
#include <QPainter>
#include <QRegion>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

using namespace RenderCases;
using namespace RenderTest;
using namespace WaveformGeometry;

namespace {

QImage picture(QSize size, const ScopeFrame &frame = {})
{
    return directPicture(size, frame, overlayTexts(frame, false, -1));
}

// The first pixel that differs between two images of one size and lies outside `allowed`.
std::optional<QPoint> changeOutside(const QImage &before, const QImage &after, const QRect &allowed)
{
    // Compared a run of pixels at a time: pixel by pixel, large pictures take seconds under the
    // sanitizers.
    const auto firstDifference = [&](int y, int from, int to) -> std::optional<QPoint> {
        if (from >= to)
            return std::nullopt;
        const auto *a = reinterpret_cast<const QRgb *>(before.constScanLine(y)) + from;
        const auto *b = reinterpret_cast<const QRgb *>(after.constScanLine(y)) + from;
        const auto count = static_cast<std::size_t>(to - from);
        if (std::memcmp(a, b, count * sizeof(QRgb)) == 0)
            return std::nullopt;
        return QPoint(from + static_cast<int>(std::mismatch(a, a + count, b).first - a), y);
    };
    const QRect inside = allowed & after.rect();
    for (int y = 0; y < after.height(); ++y) {
        std::optional<QPoint> found;
        if (!inside.isEmpty() && y >= inside.top() && y <= inside.bottom()) {
            found = firstDifference(y, 0, inside.left());
            if (!found)
                found = firstDifference(y, inside.right() + 1, after.width());
        } else {
            found = firstDifference(y, 0, after.width());
        }
        if (found)
            return found;
    }
    return std::nullopt;
}

// The first pixel that differs between two images of one size and lies outside the region.
std::optional<QPoint> changeOutside(const QImage &before, const QImage &after,
                                    const QRegion &allowed)
{
    QImage outside = after.copy();
    QPainter painter(&outside);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect &rect : allowed)
        painter.drawImage(rect.topLeft(), before, rect);
    painter.end();
    return changeOutside(before, outside, QRect());
}

// A square wave of the given period in samples, shifted by `phase` samples.
ScopeFrame squareFrame(int period, int phase)
{
    ScopeFrame frame;
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
        frame.Bytes[ScopeFrame::FirstSample + i] =
            (static_cast<int>(i) + phase) % period < period / 2 ? 10 : 50;
    return frame;
}

// One period of a sine across the graticule, shifted by `phase` samples.
ScopeFrame sineFrame(int phase)
{
    ScopeFrame frame;
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
        frame.Bytes[ScopeFrame::FirstSample + i] = static_cast<std::uint8_t>(std::lround(
            31.5
            + 28
                * std::sin(2 * M_PI * (static_cast<double>(i) + phase) / ScopeFrame::SampleCount)));
    return frame;
}

qint64 areaOf(const QRegion &region)
{
    qint64 area = 0;
    for (const QRect &rect : region)
        area += qint64(rect.width()) * rect.height();
    return area;
}

TEST(WaveformRenderer, PictureAt640x480)
{
    const QImage image = picture({640, 480});
    EXPECT_EQ(inkCount(image, QRect(0, 450, 640, 30)) + inkCount(image, QRect(450, 0, 9, 450)), 0);
    // One logical unit is one pixel: lines are one crisp pixel wide.
    EXPECT_EQ(image.pixel(200, 8), Border);
    EXPECT_EQ(image.pixel(200, 9), Background);
    EXPECT_EQ(image.pixel(448, 200), Border);
    EXPECT_EQ(image.pixel(449, 200), Background);
    // The empty frame's trace lies on the bottom border and ends at x = 444.
    EXPECT_EQ(image.pixel(traceX(56) + 1, 448), Trace);
    EXPECT_EQ(image.pixel(446, 448), Border);
    // Grid lines every 55 units, dashed four on, four off from their start at 8.
    for (int at = 63; at < 448; at += 55) {
        for (int along : {10, 18}) {
            EXPECT_EQ(image.pixel(at, along), Border) << at << "," << along;
            EXPECT_EQ(image.pixel(along, at), Border) << along << "," << at;
            EXPECT_EQ(image.pixel(at, along + 4), Background) << at << "," << along + 4;
        }
    }
}

// The mean distance, in device pixels, between the starts of consecutive dashes along one grid
// line: where the ink across the line's three columns (or rows) first reaches half a dash's.
// Stretches where the line crosses another are left out.
double dashPeriod(const QImage &image, int logical, qreal scale, bool vertical)
{
    const int across = static_cast<int>(std::floor(logical * scale + 0.5));
    const int from = static_cast<int>(GraticuleMin * scale) + 3;
    const int to = static_cast<int>(GraticuleMax * scale) - 3;
    std::vector<int> ink;
    std::vector<bool> crossing;
    for (int along = from; along <= to; ++along) {
        const qreal at = (along + 0.5) / scale - GraticuleMin;
        crossing.push_back(std::abs(at - Division * std::round(at / Division)) * scale < 2.5);
        int sum = 0;
        for (int offset = -1; offset <= 1; ++offset) {
            const QRgb pixel = vertical ? image.pixel(across + offset, along)
                                        : image.pixel(along, across + offset);
            sum += qBlue(pixel) - qBlue(Background);
        }
        ink.push_back(sum);
    }
    int peak = 0;
    for (std::size_t i = 0; i < ink.size(); ++i)
        if (!crossing[i])
            peak = std::max(peak, ink[i]);
    int sum = 0;
    int periods = 0;
    std::optional<std::size_t> previous;
    bool clean = true;
    for (std::size_t i = 1; i < ink.size(); ++i) {
        clean = clean && !crossing[i];
        if (ink[i] * 2 < peak || ink[i - 1] * 2 >= peak)
            continue;
        if (previous && clean) {
            sum += static_cast<int>(i - *previous);
            ++periods;
        }
        previous = i;
        clean = !crossing[i];
    }
    return periods < 10 ? 0 : double(sum) / periods;
}

TEST(WaveformRenderer, GridDashesRepeatEveryEightUnitsAtEveryScale)
{
    for (const QSize size :
         {QSize(320, 240), QSize(500, 400), QSize(640, 480), QSize(1000, 750), QSize(1280, 960)}) {
        const QImage image = picture(size);
        const qreal scale = fitArea(size.width(), size.height()).Width / qreal(LogicalWidth);
        for (const int at : {GraticuleMin + Division, GraticuleMin + 4 * Division}) {
            EXPECT_NEAR(dashPeriod(image, at, scale, true), 8 * scale, 0.5)
                << size.width() << "x" << size.height() << " x = " << at;
            EXPECT_NEAR(dashPeriod(image, at, scale, false), 8 * scale, 0.5)
                << size.width() << "x" << size.height() << " y = " << at;
        }
    }
}

TEST(WaveformRenderer, TraceFollowsTheLowSixBitsOfEachSample)
{
    ScopeFrame frame;
    ScopeFrame highBits;
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i) {
        frame.Bytes[ScopeFrame::FirstSample + i] = static_cast<std::uint8_t>((i * 7 + 3) % 64);
        highBits.Bytes[ScopeFrame::FirstSample + i] =
            frame.Bytes[ScopeFrame::FirstSample + i] | 0xC0;
    }
    const QImage image = picture({640, 480}, frame);
    // Joints, where two segments each cover half the pixel; the ends lie on the border.
    for (int i = 1; i < SampleCount - 1; ++i) {
        const QRgb pixel = image.pixel(traceX(i), traceY(frame.Bytes[4 + std::size_t(i)]));
        EXPECT_GT(qGreen(pixel), qBlue(pixel) + 0x40) << "sample " << i;
    }
    EXPECT_EQ(picture({640, 480}, highBits), image);

    const QImage top = picture({640, 480}, constantFrame(0x3F));
    EXPECT_EQ(top.pixel(traceX(80) + 1, 15), Trace);
    EXPECT_EQ(top.pixel(traceX(80) + 1, 14), Background);
    EXPECT_EQ(top.pixel(446, 15), Background);
}

TEST(WaveformRenderer, FourByThreeAreaAndBackgroundStrip)
{
    const QImage wide = picture({1000, 600});
    EXPECT_EQ(inkCount(wide, QRect(801, 260, 199, 340)), 0);
    EXPECT_EQ(wide.pixel(560, 300), Border); // x = 448 at 1.25
    EXPECT_EQ(inkCount(picture({600, 800}), QRect(0, 430, 600, 370)), 0);
    EXPECT_EQ(inkCount(picture({500, 400}), QRect(0, 375, 500, 25)), 0);
    const QImage odd = picture({641, 481});
    EXPECT_EQ(inkCount(odd, QRect(0, 480, 641, 1)), 0);
    EXPECT_EQ(odd.pixel(200, 8), Border); // sy is exactly 1

    WaveformRenderer renderer;
    const DrawingSet set;
    for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 1), QSize(3, 3), QSize(4, 3)}) {
        QImage image(size, QImage::Format_RGB32);
        renderer.render(image, set.tools(), {}, overlayTexts({}, false, -1));
        EXPECT_EQ(image, picture(size)) << size.width() << "x" << size.height();
    }
}

TEST(WaveformRenderer, TextSizeAndPlaceScaleWithThePicture)
{
    // Cap height plus descenders of "Trigger Type: FREE RUN": 17 to 23 pixels for 16 pt at
    // 96 dpi (21.3 px), 14 to 16 for a font taken as 16 px.
    const QRect line(455, textTop(2), 185, TextLineStep);
    const QRect small = inkBounds(picture({640, 480}), line);
    EXPECT_GE(small.left(), 459);
    EXPECT_LE(small.left(), 463);
    EXPECT_GE(small.top(), textTop(2));
    EXPECT_GE(small.height(), 17);
    EXPECT_LE(small.height(), 23);

    const QRect large = inkBounds(picture({1280, 960}), QRect(line.topLeft() * 2, line.size() * 2));
    EXPECT_NEAR(large.left(), 2 * small.left(), 3);
    EXPECT_NEAR(large.top(), 2 * small.top(), 3);
    EXPECT_NEAR(large.width(), 2 * small.width(), 6);
    EXPECT_NEAR(large.height(), 2 * small.height(), 4);
}

TEST(WaveformRenderer, JapaneseConnectTextIsDrawnWithRealGlyphs)
{
    bool cjkFace = false;
    for (const QString &family : QFontDatabase::families(QFontDatabase::Japanese))
        cjkFace = cjkFace || family.contains(QLatin1String("CJK"));
    if (!cjkFace)
        GTEST_SKIP() << "no CJK font installed (fonts-noto-cjk)";

    OverlayTexts texts = overlayTexts({}, false, -1);
    const QRect line(455, textTop(0), 185, TextLineStep);
    const QImage notConnected = directPicture({640, 480}, {}, texts);
    texts[0] = QStringLiteral(u"Connect: 続接未");
    const QImage reordered = directPicture({640, 480}, {}, texts);
    texts[0] = QStringLiteral("Connect: ");
    const QImage prefix = directPicture({640, 480}, {}, texts);
    // Missing glyphs would all be the same box, so the reordered text would look the same.
    EXPECT_NE(notConnected.copy(line), reordered.copy(line));
    EXPECT_GT(inkBounds(notConnected, line).right(), inkBounds(prefix, line).right() + 40);
}

TEST(WaveformRenderer, CachedRenderAlwaysEqualsTheOnePassPicture)
{
    const std::vector<ScopeFrame> frames = equalityFrames();
    const ScopeFrame &sine = frames[1];
    const ScopeFrame &noise = frames[2];

    WaveformRenderer renderer;
    DrawingSet set;
    int step = 0;
    const auto check = [&](QImage &image, const ScopeFrame &frame) {
        // The connection line changes every third render.
        const OverlayTexts texts = overlayTexts(frame, (step++ / 3) % 2 == 0, 2);
        renderer.render(image, set.tools(), frame, texts);
        QImage expected(image.size(), QImage::Format_RGB32);
        WaveformRenderer::renderDirect(expected, set.tools(), frame, texts);
        ASSERT_EQ(image, expected) << image.width() << "x" << image.height() << " step " << step;
    };
    for (const Size size : EqualitySizes) {
        QImage image(size.Width, size.Height, QImage::Format_RGB32);
        for (int round = 0; round < 2; ++round)
            for (const ScopeFrame &frame : frames)
                check(image, frame);
    }
    for (const Size size : LargeSizes) {
        QImage image(size.Width, size.Height, QImage::Format_RGB32);
        for (const ScopeFrame &frame : {frames[1], frames[2]})
            check(image, frame);
    }

    // Tiny pictures, where texts, graticule and trace share pixels.
    for (int width = 7; width <= 20; ++width)
        for (int height = 5; height <= 15; height += 5) {
            QImage image(width, height, QImage::Format_RGB32);
            for (const ScopeFrame &frame : frames)
                check(image, frame);
        }

    // Pixels changed behind the renderer's back, a shared copy, another bitmap, other objects.
    QImage image(640, 480, QImage::Format_RGB32);
    check(image, sine);
    image.fill(Qt::red);
    check(image, frames[0]);
    QImage copy = image;
    copy.setPixel(100, 100, 0xFFFF0000);
    check(image, noise);
    QImage other(640, 480, QImage::Format_RGB32);
    check(other, sine);
    set.BackgroundBrush = QBrush(Qt::black);
    set.GridPen.setColor(Qt::gray);
    set.TextFont.setPointSizeF(20);
    check(other, sine);
}

// A view draws into two bitmaps in turn. Each must come out as the one-pass picture whatever
// the other took in between, and each must be brought up to date rather than redrawn.
TEST(WaveformRenderer, TwoBitmapsDrawnInTurnEachKeepTheirOwnState)
{
    std::mt19937 generator(11);
    ScopeFrame noise;
    for (auto &byte : noise.Bytes)
        byte = static_cast<std::uint8_t>(generator());
    const ScopeFrame frames[] = {zigzagFrame(30, 31), zigzagFrame(33, 34), noise,
                                 zigzagFrame(31, 32), constantFrame(0x3F), zigzagFrame(30, 32)};

    WaveformRenderer renderer;
    const DrawingSet set;
    const QSize size(1916, 1006);
    QImage bitmaps[2] = {QImage(size, QImage::Format_RGB32), QImage(size, QImage::Format_RGB32)};
    // The connection line alternates with the bitmaps, and every third step on its own: each
    // bitmap sees its texts both stay and change.
    for (int step = 0; step < 12; ++step) {
        QImage &image = bitmaps[step % 2];
        const ScopeFrame &frame = frames[static_cast<std::size_t>(step) % std::size(frames)];
        const OverlayTexts texts = overlayTexts(frame, (step + step / 3) % 2 == 0, 2);
        const QImage before = image.copy();
        const QRect changed = renderer.render(image, set.tools(), frame, texts);
        QImage expected(size, QImage::Format_RGB32);
        WaveformRenderer::renderDirect(expected, set.tools(), frame, texts);
        ASSERT_EQ(image, expected) << "step " << step;
        if (step < 2)
            continue;
        const std::optional<QPoint> outside = changeOutside(before, image, changed);
        EXPECT_FALSE(outside) << "step " << step;
        // Brought up to date: neither the texts' far columns nor the graticule's far corner.
        EXPECT_NE(changed, image.rect()) << "step " << step;
    }

    // A third bitmap pushes the oldest out; coming back, that one is drawn afresh and right.
    QImage third(size, QImage::Format_RGB32);
    const OverlayTexts texts = overlayTexts(noise, true, 2);
    renderer.render(third, set.tools(), noise, texts);
    renderer.render(bitmaps[1], set.tools(), noise, texts);
    EXPECT_EQ(renderer.render(bitmaps[0], set.tools(), noise, texts), bitmaps[0].rect());
    EXPECT_EQ(bitmaps[0], third);
    EXPECT_EQ(bitmaps[1], third);
}

TEST(WaveformRenderer, ReportedChangeHoldsEveryChangedPixel)
{
    std::mt19937 generator(5);
    ScopeFrame noise;
    for (auto &byte : noise.Bytes)
        byte = static_cast<std::uint8_t>(generator());
    const ScopeFrame frames[] = {zigzagFrame(30, 31), zigzagFrame(33, 34),
                                 zigzagFrame(31, 32), noise,
                                 constantFrame(0x3F), {},
                                 zigzagFrame(0, 63)};

    WaveformRenderer renderer;
    const DrawingSet set;
    for (const QSize size :
         {QSize(640, 480), QSize(1000, 600), QSize(641, 481), QSize(1920, 1080)}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::red);
        int step = 0;
        for (const ScopeFrame &frame : frames) {
            const QImage before = image.copy();
            const OverlayTexts texts = overlayTexts(frame, step != 3, 2);
            QRegion region;
            const QRect changed = renderer.render(image, set.tools(), frame, texts, region);
            const std::optional<QPoint> outside = changeOutside(before, image, changed);
            EXPECT_FALSE(outside) << size.width() << "x" << size.height() << " step " << step
                                  << " at " << outside.value_or(QPoint()).x() << ","
                                  << outside.value_or(QPoint()).y();
            const std::optional<QPoint> outsideRegion = changeOutside(before, image, region);
            EXPECT_FALSE(outsideRegion)
                << size.width() << "x" << size.height() << " step " << step << " at "
                << outsideRegion.value_or(QPoint()).x() << ","
                << outsideRegion.value_or(QPoint()).y() << " outside the region";
            EXPECT_TRUE(changed.contains(region.boundingRect()));
            if (step == 0) {
                EXPECT_EQ(changed, image.rect()) << size.width() << "x" << size.height();
            }
            ++step;
        }
    }

    // A trace that moves within a narrow band repaints about that band, not the picture.
    QImage image(1920, 1080, QImage::Format_RGB32);
    const OverlayTexts texts = overlayTexts({}, true, 2);
    renderer.render(image, set.tools(), zigzagFrame(30, 31), texts);
    const QRect changed = renderer.render(image, set.tools(), zigzagFrame(33, 34), texts);
    const qreal scale = 1080.0 / LogicalHeight;
    EXPECT_LE(changed.top(), traceY(34) * scale);
    EXPECT_GE(changed.bottom(), traceY(30) * scale + 1);
    EXPECT_LT(changed.height(), 120);
    EXPECT_LT(changed.right(), TextLeft * scale); // the texts stay

    // A square wave that drifts repaints its edges and level runs, not the band between them;
    // its region holds every changed pixel, and so does a drifting wave of many edges. A
    // drifting sine's region is the bounds of runs of its segments.
    for (const int period : {64, 8, 0}) {
        const auto wave = [period](int phase) {
            return period > 0 ? squareFrame(period, phase) : sineFrame(phase * 5);
        };
        renderer.render(image, set.tools(), wave(0), texts);
        for (int phase = 1; phase <= 3; ++phase) {
            const QImage before = image.copy();
            QRegion region;
            const QRect bounds = renderer.render(image, set.tools(), wave(phase), texts, region);
            const std::optional<QPoint> outside = changeOutside(before, image, region);
            EXPECT_FALSE(outside) << "period " << period << " phase " << phase << " at "
                                  << outside.value_or(QPoint()).x() << ","
                                  << outside.value_or(QPoint()).y();
            EXPECT_LE(region.rectCount(), 96);
            if (period == 64) {
                EXPECT_LT(areaOf(region) * 4, qint64(bounds.width()) * bounds.height())
                    << "phase " << phase;
            }
            if (period == 0) {
                EXPECT_LT(areaOf(region) * 5, qint64(bounds.width()) * bounds.height() * 4)
                    << "phase " << phase;
            }
        }
    }

    // A changed line repaints that line, not the column.
    renderer.render(image, set.tools(), constantFrame(0x3F), texts);
    const QRect line =
        renderer.render(image, set.tools(), constantFrame(0x3F), overlayTexts({}, false, -1));
    EXPECT_GT(line.right(), (TextLeft + 100) * scale);
    EXPECT_LT(line.bottom(), textTop(1) * scale + 4);
}

} // namespace
