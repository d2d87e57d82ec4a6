#include "PictureCheck.h"
#include "PseudoTerminal.h"
#include "VirtualDisplay.h"

#include "ScopeFrame.h"
#include "WaveformRenderer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <functional>

using namespace Qt::Literals::StringLiterals;
using namespace PictureCheck;

namespace {

// Bounds for a loaded two-core machine; each wait ends as soon as its condition holds.
constexpr int StartBoundMs = 20000;
constexpr int PictureBoundMs = 20000;
constexpr int ExitBoundMs = 10000;

// Coupling DC and voltage code 1 (10 V), time base code 3 (1000 ns), trigger +INTERN, level 0.3.
constexpr std::uint8_t Header[4] = {0x24, 0x03, 0x20, 0x08};

// A ramp over the left half, a square wave of period 16 samples over the right; no value sits on
// the graticule's edges and no edge of the square runs along a grid line, so that the trace hides
// little of the graticule.
Samples testSamples()
{
    Samples samples {};
    for (int i = 0; i < 64; ++i)
        samples[i] = static_cast<std::uint8_t>(2 + (i * 59) / 63);
    for (int i = 64; i < 128; ++i)
        samples[i] = ((i - 60) / 8) % 2 == 0 ? 50 : 12;
    return samples;
}

std::vector<std::uint8_t> lineData(const Samples &samples)
{
    std::vector<std::uint8_t> data(ScopeFrame::Size - 1, 0);
    std::copy(std::begin(Header), std::end(Header), data.begin());
    std::copy(samples.begin(), samples.end(), data.begin() + 4);
    return data;
}

ScopeFrame scopeFrame(const std::vector<std::uint8_t> &data)
{
    ScopeFrame frame;
    std::copy(data.begin(), data.end(), frame.Bytes.begin());
    return frame;
}

const OverlayTexts NotConnectedTexts = {u"Connect: 未接続"_s,        u"Coupling: GND"_s,
                                        u"Trigger Type: FREE RUN"_s, u"Trigger Level: -0.5"_s,
                                        u"Time Base: 50nsec"_s,      u"Voltage: 1V"_s,
                                        u"V-Div: 0.125V"_s,          u"H-Div: 800.000nsec"_s};
const OverlayTexts ConnectedTexts = {u"Connect: COM1"_s,         u"Coupling: DC"_s,
                                     u"Trigger Type: +INTERN"_s, u"Trigger Level: 0.3"_s,
                                     u"Time Base: 1000nsec"_s,   u"Voltage: 10V"_s,
                                     u"V-Div: 1.250V"_s,         u"H-Div: 16000.000nsec"_s};

// The texts as the display library draws them at the view's size: the program must show these
// glyphs, which fixes the strings (the texts above) and their place and scale.
QImage expectedTexts(const QSize &view, const ScopeFrame &frame, const OverlayTexts &texts)
{
    QImage image(view, QImage::Format_RGB32);
    WaveformRenderer::renderDirect(image, WaveformRenderer::StandardTools().tools(), frame, texts);
    return image;
}

// Everything wrong with the captured window against what it should show; empty when right.
QStringList faultsOf(const QImage &shot, const Samples &samples, const ScopeFrame &frame,
                     const OverlayTexts &texts, Placement *placed = nullptr)
{
    if (shot.isNull())
        return {u"no capture of the window"_s};
    const auto view = locateView(shot);
    if (!view)
        return {u"no view of the background colour in the window"_s};
    const Placement placement = placementFor(*view);
    if (placed)
        *placed = placement;
    QStringList faults = checkGraticule(shot, placement, samples)
        + checkTrace(shot, placement, samples) + checkBackground(shot, placement, samples);
    const QImage expected = expectedTexts(view->size(), frame, texts);
    for (int line = 0; line < 8; ++line) {
        const QRect band = textLineBand(placement, line);
        const int differing =
            differingPixels(shot, band, expected, band.translated(-view->topLeft()));
        const int ink = textPixels(shot, band);
        if (ink < 20 || differing > ink / 40)
            faults << u"text line %1 (\"%2\"): %3 of its %4 text pixels differ"_s.arg(line + 1)
                          .arg(texts[static_cast<std::size_t>(line)])
                          .arg(differing)
                          .arg(ink);
    }
    return faults;
}

// Captures the window until the picture is right or the bound runs out; before each capture
// the feed (if any) keeps the line going. Answers the last capture and its faults.
struct Verdict
{
    QImage Shot;
    QStringList Faults;
    Placement Placed;
};
Verdict awaitPicture(const VirtualDisplay &display, const QString &window,
                     const std::function<void()> &feed, const Samples &samples,
                     const ScopeFrame &frame, const OverlayTexts &texts,
                     const std::function<bool(const Placement &)> &placedAsWanted = {})
{
    Verdict verdict;
    const QDeadlineTimer deadline(PictureBoundMs);
    do {
        if (feed)
            feed();
        verdict.Shot = display.capture(window);
        verdict.Faults = faultsOf(verdict.Shot, samples, frame, texts, &verdict.Placed);
        if (verdict.Faults.isEmpty() && placedAsWanted && !placedAsWanted(verdict.Placed))
            verdict.Faults << u"the view has not taken its new size yet"_s;
    } while (!verdict.Faults.isEmpty() && !deadline.hasExpired());
    return verdict;
}

// A failed picture is kept beside the test for a look.
QString keep(const QImage &shot, const QString &name)
{
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    shot.save(path);
    return path;
}

} // namespace

// The real program on its own X server, its COM1 a pseudo-terminal fed by the test: the window
// shows the empty picture, Space connects, the frames from the line reach the window with the
// graticule, the trace and the texts where the geometry puts them, at two window sizes, and the
// File menu's Exit ends the program with 1.
TEST(ViewerEndToEndTest, FramesFromTheLineReachTheWindowAndExitEndsWithOne)
{
    if (const QString missing = VirtualDisplay::missingTools(); !missing.isEmpty())
        GTEST_SKIP() << "needs " << missing.toStdString() << ", not installed";

    VirtualDisplay display;
    ASSERT_TRUE(display.start(1280, 1024, StartBoundMs)) << "Xvfb did not start";

    PseudoTerminal com1;
    QProcessEnvironment environment = display.environment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    environment.insert(u"VANDREL_COM1"_s, QString::fromStdString(com1.slavePath()));
    // A thread-sanitizer build of the program leaves Qt's uninstrumented thread pool out.
    environment.insert(u"TSAN_OPTIONS"_s,
                       environment.value(u"TSAN_OPTIONS"_s)
                           + u" ignore_noninstrumented_modules=1"_s);
    QProcess viewer;
    viewer.setProcessEnvironment(environment);
    viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    endWithParent(viewer);
    viewer.start(QStringLiteral(VANDREL_VIEWER_PATH), {});
    ASSERT_TRUE(viewer.waitForStarted(StartBoundMs));
    viewer.closeWriteChannel();
    const auto stopViewer = qScopeGuard([&] {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(ExitBoundMs);
        }
    });

    const auto window = display.findWindow(u"^VandrelViewer$"_s, StartBoundMs);
    ASSERT_TRUE(window) << "no window named VandrelViewer appeared";

    // Before the first frame: an all-zero frame, acquisition stopped.
    const Samples flat {};
    const Verdict before =
        awaitPicture(display, *window, {}, flat, ScopeFrame(), NotConnectedTexts);
    ASSERT_TRUE(before.Faults.isEmpty())
        << "before connecting: " << before.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(before.Shot, u"endtoend-before.png"_s).toStdString() << ")";

    // Frames at about the line's pace, each completed by the marker that starts the next.
    const Samples samples = testSamples();
    const std::vector<std::uint8_t> data = lineData(samples);
    const ScopeFrame frame = scopeFrame(data);
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::uint8_t> one = lineFrame(data);
        burst.insert(burst.end(), one.begin(), one.end());
    }
    burst.push_back(0x7C);
    const auto feed = [&] { ASSERT_TRUE(com1.write(burst)); };

    // Space connects; the first text line shows it once a frame has come. A key typed while the
    // server is still handing the focus over can be lost, so a press that shows no effect for a
    // long while is repeated.
    const auto connectLineChanged = [&] {
        feed();
        const QImage shot = display.capture(*window);
        const auto view = locateView(shot);
        return view
            && differingPixels(before.Shot, textLineBand(before.Placed, 0), shot,
                               textLineBand(placementFor(*view), 0))
            > 50;
    };
    bool connectedShown = false;
    for (int press = 0; press < 3 && !connectedShown; ++press) {
        ASSERT_TRUE(display.focusAndPress(*window, u"space"_s));
        const QDeadlineTimer deadline(PictureBoundMs / 3);
        do
            connectedShown = connectLineChanged();
        while (!connectedShown && !deadline.hasExpired());
    }
    ASSERT_TRUE(connectedShown)
        << "Space did not connect the program (capture "
        << keep(display.capture(*window), u"endtoend-space.png"_s).toStdString() << ")";

    const Verdict connected = awaitPicture(display, *window, feed, samples, frame, ConnectedTexts);
    ASSERT_TRUE(connected.Faults.isEmpty())
        << "connected: " << connected.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(connected.Shot, u"endtoend-connected.png"_s).toStdString() << ")";
    // The wide window leaves a strip on the right; the first line is the one that changed.
    EXPECT_LT(connected.Placed.AreaWidth, connected.Placed.View.width());
    EXPECT_GT(differingPixels(before.Shot, textLineBand(before.Placed, 0), connected.Shot,
                              textLineBand(connected.Placed, 0)),
              50);

    // Narrow and tall: the strip moves to the bottom and everything scales with the new width.
    ASSERT_TRUE(display.resizeWindow(*window, 700, 900));
    const Verdict tall =
        awaitPicture(display, *window, feed, samples, frame, ConnectedTexts,
                     [](const Placement &placed) { return placed.View.width() == 700; });
    ASSERT_TRUE(tall.Faults.isEmpty())
        << "resized: " << tall.Faults.join(u"; "_s).toStdString() << " (capture "
        << keep(tall.Shot, u"endtoend-resized.png"_s).toStdString() << ")";
    EXPECT_LT(tall.Placed.AreaHeight, tall.Placed.View.height());

    // File menu, then Exit, once the menu is on screen.
    ASSERT_TRUE(display.focusAndPress(*window, u"alt+f"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return display.visibleWindowsOf(viewer.processId()) >= 2; },
                                ExitBoundMs))
        << "the File menu did not open";
    ASSERT_TRUE(display.press(u"x"_s));
    ASSERT_TRUE(viewer.waitForFinished(ExitBoundMs)) << "the program did not end";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
}
