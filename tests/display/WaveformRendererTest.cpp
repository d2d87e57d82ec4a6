#include "RenderTestSupport.h"
#include "WaveformGeometry.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace RenderTest;
using namespace WaveformGeometry;

namespace {

OverlayTexts stoppedTexts(const ScopeFrame &frame = {})
{
    return overlayTexts(frame, false, -1);
}

QImage picture(QSize size, const ScopeFrame &frame = {})
{
    return directPicture(size, frame, stoppedTexts(frame));
}

bool allBackground(const QImage &image, const QRect &area)
{
    return inkCount(image, area) == 0;
}

TEST(WaveformRenderer, GraticuleAndBackgroundAt640x480)
{
    const QImage image = picture({640, 480});
    ASSERT_EQ(image.size(), QSize(640, 480));

    EXPECT_EQ(image.pixel(0, 0), Background);
    EXPECT_EQ(image.pixel(600, 400), Background);
    EXPECT_EQ(image.pixel(639, 479), Background);
    EXPECT_TRUE(allBackground(image, QRect(0, 460, 640, 20)));

    // One logical unit is one pixel: the border is one crisp pixel wide.
    EXPECT_EQ(image.pixel(200, 8), Border);
    EXPECT_EQ(image.pixel(200, 7), Background);
    EXPECT_EQ(image.pixel(200, 9), Background);
    EXPECT_EQ(image.pixel(8, 200), Border);
    EXPECT_EQ(image.pixel(448, 200), Border);
    EXPECT_EQ(image.pixel(449, 200), Background);
    // The flat trace of an empty frame covers the bottom border up to x = 444.
    EXPECT_EQ(image.pixel(traceX(56) + 1, 448), Trace);
    EXPECT_EQ(image.pixel(446, 448), Border);

    // Grid lines every 55 units, dashed four on, four off from their start at 8.
    for (int at = 63; at < 448; at += 55) {
        for (int along : {9, 10, 11, 17, 18, 19, 201}) {
            EXPECT_EQ(image.pixel(at, along), Border) << "vertical " << at << " at " << along;
            EXPECT_EQ(image.pixel(along, at), Border) << "horizontal " << at << " at " << along;
        }
        for (int gap : {13, 14, 21, 22}) {
            EXPECT_EQ(image.pixel(at, gap), Background) << "vertical " << at << " at " << gap;
            EXPECT_EQ(image.pixel(gap, at), Background) << "horizontal " << at << " at " << gap;
        }
        EXPECT_EQ(image.pixel(at + 1, 10), Background);
    }
    EXPECT_TRUE(allBackground(image, QRect(450, 0, 9, 480)));
}

TEST(WaveformRenderer, TraceFollowsTheLowSixBitsOfEachSample)
{
    const auto sampleAt = [](int i) { return static_cast<std::uint8_t>((i * 7 + 3) % 64); };
    const ScopeFrame frame = frameWithSamples(sampleAt);
    const QImage image = picture({640, 480}, frame);
    // Where two segments meet, each covers half the pixel; the ends lie on the border.
    for (int i = 1; i < SampleCount - 1; ++i) {
        const QRgb pixel = image.pixel(traceX(i), traceY(sampleAt(i)));
        EXPECT_GT(qGreen(pixel), 0xA0) << "sample " << i;
        EXPECT_GT(qGreen(pixel), qBlue(pixel) + 0x40) << "sample " << i;
    }
    // The two high bits change nothing.
    const ScopeFrame highBits = frameWithSamples(
        [](int i) { return static_cast<std::uint8_t>((((i * 7 + 3) % 64) | 0xC0)); });
    EXPECT_EQ(picture({640, 480}, highBits), image);

    const QImage middle =
        picture({640, 480}, frameWithSamples([](int) { return std::uint8_t {0x20}; }));
    const int between = traceX(27) + 1;
    EXPECT_EQ(middle.pixel(between, 228), Trace);
    EXPECT_EQ(middle.pixel(between, 227), Background);
    EXPECT_EQ(middle.pixel(between, 229), Background);

    const QImage top =
        picture({640, 480}, frameWithSamples([](int) { return std::uint8_t {0x3F}; }));
    EXPECT_EQ(top.pixel(traceX(80) + 1, 15), Trace);
    EXPECT_EQ(top.pixel(443, 15), Trace);
    EXPECT_EQ(top.pixel(446, 15), Background);
    EXPECT_EQ(top.pixel(300, 8), Border);
    EXPECT_TRUE(allBackground(top, QRect(9, 9, 53, 4)));
}

TEST(WaveformRenderer, FourByThreeAreaAndBackgroundStrip)
{
    const QImage wide = picture({1000, 600});
    EXPECT_TRUE(allBackground(wide, QRect(801, 260, 199, 340)));
    EXPECT_EQ(wide.pixel(560, 300), Border); // x = 448 at 1.25
    EXPECT_EQ(wide.pixel(10, 300), Border); // x = 8
    EXPECT_GE(inkBounds(wide, QRect(565, 0, 435, 600)).left(), 573);

    const QImage tall = picture({600, 800});
    EXPECT_TRUE(allBackground(tall, QRect(0, 430, 600, 370)));
    EXPECT_NE(tall.pixel(200, 420), Background); // y = 448 at 0.9375

    const QImage squat = picture({500, 400});
    EXPECT_TRUE(allBackground(squat, QRect(0, 375, 500, 25)));
    EXPECT_NE(squat.pixel(200, 350), Background); // y = 448 at 0.78125

    const QImage odd = picture({641, 481});
    EXPECT_TRUE(allBackground(odd, QRect(0, 480, 641, 1)));
    EXPECT_EQ(odd.pixel(200, 8), Border); // sy is exactly 1
}

TEST(WaveformRenderer, EmptyAndTinyBitmapsAreSafe)
{
    const DrawingSet setup;
    WaveformRenderer renderer;
    for (QImage image : {QImage(), QImage(0, 0, QImage::Format_RGB32)}) {
        renderer.render(image, setup.tools(), {}, stoppedTexts());
        WaveformRenderer::renderDirect(image, setup.tools(), {}, stoppedTexts());
        EXPECT_TRUE(image.isNull());
    }
    // No 4:3 area fits: only the background.
    for (const QSize size : {QSize(1, 1), QSize(2, 1), QSize(1, 2)}) {
        QImage image(size, QImage::Format_RGB32);
        renderer.render(image, setup.tools(), {}, stoppedTexts());
        EXPECT_TRUE(allBackground(image, image.rect())) << size.width() << "x" << size.height();
    }
    for (const QSize size : {QSize(3, 3), QSize(4, 3), QSize(7, 5)}) {
        QImage image(size, QImage::Format_RGB32);
        renderer.render(image, setup.tools(), {}, stoppedTexts());
        EXPECT_EQ(image, directPicture(size, {}, stoppedTexts()));
    }
}

TEST(WaveformRenderer, TextSizeAndPlaceScaleWithThePicture)
{
    // "Trigger Type: FREE RUN" spans cap height and descenders; at 16 pt and 96 dpi, 21.3 px,
    // that is 17 to 23 pixels, where a font taken as 16 px would give 14 to 16.
    const QRect line(455, textTop(2), 185, TextLineStep);
    const QRect small = inkBounds(picture({640, 480}), line);
    ASSERT_FALSE(small.isEmpty());
    EXPECT_GE(small.left(), 459);
    EXPECT_LE(small.left(), 463);
    EXPECT_GE(small.top(), textTop(2));
    EXPECT_GE(small.height(), 17);
    EXPECT_LE(small.height(), 23);

    const QRect doubled(2 * line.left(), 2 * line.top(), 2 * line.width(), 2 * line.height());
    const QRect large = inkBounds(picture({1280, 960}), doubled);
    EXPECT_NEAR(large.left(), 2 * small.left(), 3);
    EXPECT_NEAR(large.top(), 2 * small.top(), 3);
    EXPECT_NEAR(large.width(), 2 * small.width(), 6);
    EXPECT_NEAR(large.height(), 2 * small.height(), 4);

    // Every line has ink in its own band and nothing runs below the last one.
    const QImage image = picture({640, 480});
    for (int i = 0; i < TextLineCount; ++i)
        EXPECT_GT(inkCount(image, QRect(459, textTop(i), 181, TextLineStep)), 30) << "line " << i;
    EXPECT_TRUE(allBackground(image, QRect(450, textTop(TextLineCount) + 6, 190, 200)));
}

TEST(WaveformRenderer, FontIsTimesOrItsMetricCompatibleFace)
{
    QStringList serifs;
    for (const char *face : {"Times New Roman", "Liberation Serif", "Tinos"})
        if (QFontDatabase::hasFamily(QString::fromLatin1(face)))
            serifs << QString::fromLatin1(face);
    const QFontInfo info(WaveformRenderer::textFont());
    if (serifs.isEmpty())
        GTEST_SKIP() << "no Times New Roman or metric-compatible face installed";
    EXPECT_TRUE(serifs.contains(info.family())) << info.family().toStdString();
    EXPECT_FALSE(info.bold());
    EXPECT_FALSE(info.italic());
}

TEST(WaveformRenderer, JapaneseConnectTextIsDrawnWithRealGlyphs)
{
    bool cjkFace = false;
    for (const QString &family : QFontDatabase::families(QFontDatabase::Japanese))
        cjkFace = cjkFace || family.contains(QLatin1String("CJK"));
    if (!cjkFace)
        GTEST_SKIP() << "no CJK font installed (fonts-noto-cjk)";

    OverlayTexts texts = stoppedTexts();
    const QRect line(455, textTop(0), 185, TextLineStep);
    const QImage notConnected = directPicture({640, 480}, {}, texts);
    texts[0] = QStringLiteral(u"Connect: 続接未");
    const QImage reordered = directPicture({640, 480}, {}, texts);
    texts[0] = QStringLiteral("Connect: ");
    const QImage prefix = directPicture({640, 480}, {}, texts);

    // Missing glyphs would all be the same box: the reordered text would look identical.
    EXPECT_NE(notConnected.copy(line), reordered.copy(line));
    EXPECT_GT(inkBounds(notConnected, line).right(), inkBounds(prefix, line).right() + 40);
}

std::vector<ScopeFrame> sampleFrames()
{
    std::vector<ScopeFrame> frames;
    frames.push_back({});
    frames.push_back(frameWithSamples([](int i) {
        return static_cast<std::uint8_t>(std::lround(32 + 25 * std::sin(i / 10.0)));
    }));
    std::mt19937 generator(3);
    ScopeFrame noise;
    for (std::size_t i = 0; i < ScopeFrame::Size; ++i)
        noise.Bytes[i] = static_cast<std::uint8_t>(generator() % 256);
    frames.push_back(noise);
    frames.push_back(frameWithSamples([](int) { return std::uint8_t {0x3F}; }));
    return frames;
}

TEST(WaveformRenderer, CachedRenderAlwaysEqualsTheOnePassPicture)
{
    WaveformRenderer renderer;
    const std::vector<ScopeFrame> frames = sampleFrames();
    for (const QSize size : {QSize(640, 480), QSize(1000, 600), QSize(641, 481)}) {
        QImage image(size, QImage::Format_RGB32);
        int step = 0;
        for (int round = 0; round < 2; ++round) {
            for (const ScopeFrame &frame : frames) {
                // The connection line changes every third render.
                const OverlayTexts texts = overlayTexts(frame, (step++ / 3) % 2 == 0, 2);
                const DrawingSet setup;
                renderer.render(image, setup.tools(), frame, texts);
                ASSERT_EQ(image, directPicture(size, frame, texts))
                    << size.width() << "x" << size.height() << " step " << step;
            }
        }
    }
}

TEST(WaveformRenderer, PixelsChangedBehindTheRendersBackAreRedrawn)
{
    WaveformRenderer renderer;
    const DrawingSet setup;
    const std::vector<ScopeFrame> frames = sampleFrames();
    const OverlayTexts texts = overlayTexts(frames[1], true, 0);
    QImage image(640, 480, QImage::Format_RGB32);
    renderer.render(image, setup.tools(), frames[1], texts);

    // Scribbles outside any trace, in the text column and in the graticule.
    image.fill(Qt::red);
    renderer.render(image, setup.tools(), frames[0], texts);
    EXPECT_EQ(image, directPicture(image.size(), frames[0], texts));

    // A copy that is later changed must not disturb the original.
    QImage copy = image;
    copy.setPixel(100, 100, 0xFFFF0000);
    renderer.render(image, setup.tools(), frames[2], texts);
    EXPECT_EQ(image, directPicture(image.size(), frames[2], texts));

    // The same renderer on another bitmap of the same size.
    QImage other(640, 480, QImage::Format_RGB32);
    other.fill(Qt::yellow);
    renderer.render(other, setup.tools(), frames[3], texts);
    EXPECT_EQ(other, directPicture(other.size(), frames[3], texts));
}

TEST(WaveformRenderer, ChangedDrawingObjectsRebuildThePicture)
{
    WaveformRenderer renderer;
    DrawingSet setup;
    const OverlayTexts texts = stoppedTexts();
    QImage image(640, 480, QImage::Format_RGB32);
    renderer.render(image, setup.tools(), {}, texts);

    setup.BackgroundBrush = QBrush(Qt::black);
    setup.GridPen.setColor(Qt::gray);
    setup.TextFont.setPointSizeF(20);
    renderer.render(image, setup.tools(), {}, texts);
    QImage expected(640, 480, QImage::Format_RGB32);
    WaveformRenderer::renderDirect(expected, setup.tools(), {}, texts);
    EXPECT_EQ(image, expected);
    EXPECT_EQ(image.pixel(600, 400), qRgb(0, 0, 0));
}

TEST(WaveformRenderer, DevicePixelRatioDoesNotRescaleThePicture)
{
    const DrawingSet setup;
    WaveformRenderer renderer;
    QImage image(1280, 960, QImage::Format_RGB32);
    image.setDevicePixelRatio(2);
    renderer.render(image, setup.tools(), {}, stoppedTexts());
    image.setDevicePixelRatio(1);
    EXPECT_EQ(image, picture({1280, 960}));
    EXPECT_EQ(image.pixel(400, 16), Border); // y = 8 at scale 2
}

} // namespace
