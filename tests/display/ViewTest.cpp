#include "CVandrelViewerView.h"
#include "Event.h"
#include "PortNames.h"
#include "PseudoTerminal.h"
#include "RenderTestSupport.h"
#include "ScopedEnv.h"
#include "SerialReceiver.h"
#include "WaveformGeometry.h"

#include <QPaintEvent>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

using namespace RenderTest;
using namespace std::chrono_literals;

namespace {

template<typename Predicate>
bool waitUntil(Predicate predicate)
{
    return QTest::qWaitFor(predicate, 10000); // generous for a loaded machine
}

QImage devicePixels(QImage image)
{
    image.setDevicePixelRatio(1);
    return image.convertToFormat(QImage::Format_RGB32);
}

// The view's picture is made in device pixels, whatever the screen's pixel ratio.
QSize pictureSize(const QWidget &view)
{
    return deviceSize(view.size(), view.devicePixelRatioF());
}

QImage emptyPicture(const QWidget &view)
{
    return directPicture(pictureSize(view), {}, overlayTexts({}, false, -1));
}

class ViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Receiver.start();
        FrameEvent = Receiver.frameEvent();
    }
    void create(CVandrelViewerView &view)
    {
        view.resize(640, 480);
        view.show();
        view.SetReceiver(&Receiver);
        view.OnCreate();
    }

    SerialReceiver Receiver;
    std::shared_ptr<Event> FrameEvent;
};

TEST_F(ViewTest, PictureFollowsCreationAndEveryResize)
{
    CVandrelViewerView view;
    view.resize(640, 480);
    view.show();
    EXPECT_TRUE(view.backBufferImage().isNull()); // a resize before creation does nothing
    const QImage blank = devicePixels(view.grab().toImage());
    EXPECT_EQ(inkCount(blank, blank.rect()), 0);

    view.SetReceiver(&Receiver);
    view.OnCreate();
    EXPECT_EQ(devicePixels(view.backBufferImage()), emptyPicture(view));
    for (const QSize size : {QSize(1000, 600), QSize(600, 800), QSize(641, 481)}) {
        view.resize(size);
        EXPECT_EQ(devicePixels(view.backBufferImage()), emptyPicture(view));
        EXPECT_EQ(devicePixels(view.grab().toImage()), emptyPicture(view)); // paint only copies
    }
    view.resize(0, 0);
    EXPECT_TRUE(view.backBufferImage().isNull());
    view.resize(500, 400);
    EXPECT_EQ(devicePixels(view.backBufferImage()), emptyPicture(view));
    EXPECT_EQ(view.renderPassCount(), 0u); // all of it on the window's thread
}

// A view whose size change stops where its new BackBuffer is in place and not yet drawn.
class SizeGapView : public CVandrelViewerView
{
public:
    using CVandrelViewerView::renderPassSteps;
    std::function<void()> InGap;

protected:
    void backBufferReplaced() override
    {
        if (InGap)
            InGap();
    }
};

// A picture the RenderThread finished before a size change was drawn into the old bitmap. Its
// hand-over, arriving once the window's thread has put the new, undrawn bitmap in place, must not
// show that bitmap: a picture is shown only once drawn. The pass's steps are taken on a thread of
// their own, as the RenderThread takes them, which waits for a frame that never comes.
TEST_F(ViewTest, AHandOverDuringASizeChangeShowsNoUndrawnPicture)
{
    SizeGapView view;
    create(view);
    const QImage before = devicePixels(view.backBufferImage());
    RenderLoop::Client &pass = view.renderPassSteps();
    std::thread([&] {
        pass.copyFrame();
        pass.render();
    }).join();

    QImage shownInGap;
    view.InGap = [&] {
        std::thread([&] { pass.requestRepaint(); }).join();
        shownInGap = devicePixels(view.backBufferImage());
    };
    view.resize(800, 600);
    view.InGap = nullptr;
    EXPECT_TRUE(shownInGap == before) << "shown in the gap: " << shownInGap.width() << "x"
                                      << shownInGap.height() << " device pixels";
    EXPECT_EQ(devicePixels(view.backBufferImage()), emptyPicture(view));
    EXPECT_EQ(devicePixels(view.grab().toImage()), emptyPicture(view));
}

// The thread's life itself is the render loop's, tested on its own.
TEST_F(ViewTest, DestroyEndsPromptlyFreesThePictureAndNothingRestarts)
{
    CVandrelViewerView view;
    create(view);
    const auto started = std::chrono::steady_clock::now();
    view.OnDestroy();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s); // the stop bound is 3 s
    EXPECT_TRUE(view.backBufferImage().isNull());
    const std::uint64_t passes = view.renderPassCount();
    EXPECT_LE(passes, 1u);

    view.OnDestroy();
    view.resize(800, 600);
    FrameEvent->set();
    QTest::qWait(100);
    EXPECT_EQ(view.renderPassCount(), passes);
    EXPECT_TRUE(view.backBufferImage().isNull());
}

TEST_F(ViewTest, PausedReceiverGivesNoPassAndRunningDrawsTheLine)
{
    PseudoTerminal line;
    const int index = PortCount - 1;
    const ScopedEnv device(portOverrideVariable(index), line.slavePath());
    ASSERT_TRUE(Receiver.openPort(index));
    CVandrelViewerView view;
    create(view);

    std::vector<std::uint8_t> data(137, 0);
    data[0] = 0x04 | 0x20; // 10 V, DC
    data[1] = 0x03; // 1000 ns
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
        data[ScopeFrame::FirstSample + i] = static_cast<std::uint8_t>((i * 3) % 64);
    ASSERT_TRUE(line.write(lineFrame(data)));
    ASSERT_TRUE(line.write(std::vector<std::uint8_t> {0x7C}));
    QTest::qWait(500);
    EXPECT_EQ(view.renderPassCount(), 0u);

    Receiver.run();
    ScopeFrame expected;
    std::copy(data.begin(), data.end(), expected.Bytes.begin());
    const QImage picture =
        directPicture(pictureSize(view), expected, overlayTexts(expected, true, index));
    EXPECT_TRUE(waitUntil([&] { return devicePixels(view.backBufferImage()) == picture; }));
    EXPECT_TRUE(waitUntil([&] { return view.renderPassCount() >= 1; }));
    // The window shows it once the repaint the thread asked for has run.
    EXPECT_TRUE(waitUntil([&] { return devicePixels(view.grab().toImage()) == picture; }));
}

// Renders back to back, each with new overlay texts in a large picture: a paint reaches the last
// finished picture within a few milliseconds and never waits for the render in progress.
TEST_F(ViewTest, PaintsGetThePictureAtOnceWhileRendersRunBackToBack)
{
    PseudoTerminal line;
    const int index = PortCount - 1;
    const ScopedEnv device(portOverrideVariable(index), line.slavePath());
    ASSERT_TRUE(Receiver.openPort(index));
    Receiver.run();
    CVandrelViewerView view;
    view.resize(2400, 1800);
    view.show();
    view.SetReceiver(&Receiver);
    view.OnCreate();

    std::atomic<bool> feeding {true};
    std::thread feeder([&] {
        std::vector<std::uint8_t> data(137, 0);
        for (unsigned k = 0; feeding.load(); ++k) {
            data[0] = static_cast<std::uint8_t>(0x20 | (k % 7));
            data[1] = static_cast<std::uint8_t>((k / 7) % 16);
            data[2] = static_cast<std::uint8_t>((k * 5) % 64);
            for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
                data[ScopeFrame::FirstSample + i] = static_cast<std::uint8_t>((i + k) % 64);
            if (!line.write(lineFrame(data)))
                break;
        }
    });
    const std::uint64_t first = view.renderPassCount();
    const bool rendered = waitUntil([&] {
        view.repaint();
        return view.renderPassCount() >= first + 30;
    });
    feeding = false;
    feeder.join();
    ASSERT_TRUE(rendered);
    std::cout << "longest paint wait: " << view.longestPaintWait().count() / 1000 << " us\n";
    EXPECT_LT(view.longestPaintWait(), 15ms);
}

// Records the region of every paint the view receives, and counts the repaint requests the
// RenderThread posts to it, its only events of a type past QEvent::User: whether a paint
// followed the last.
class PaintRecorder : public QObject
{
public:
    std::vector<QRegion> Regions;
    int Requests = 0;
    bool PaintedSinceRequest = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() >= QEvent::User) {
            ++Requests;
            PaintedSinceRequest = false;
        } else if (event->type() == QEvent::Paint) {
            Regions.push_back(static_cast<QPaintEvent *>(event)->region());
            PaintedSinceRequest = true;
        }
        return false;
    }
};

// What the window really shows: the offscreen platform grabs its backing store, which a paint
// only partly overwrites, unlike grab(), which paints the whole widget afresh.
QImage shownPixels(CVandrelViewerView &view)
{
    return devicePixels(view.screen()->grabWindow(view.winId()).toImage());
}

TEST_F(ViewTest, TraceMovingInABandRepaintsThatBandAndLeavesNothingStale)
{
    PseudoTerminal line;
    const int index = PortCount - 1;
    const ScopedEnv device(portOverrideVariable(index), line.slavePath());
    ASSERT_TRUE(Receiver.openPort(index));
    Receiver.run();
    CVandrelViewerView view;
    create(view);
    PaintRecorder recorder;
    view.installEventFilter(&recorder);
    const auto shown = [&] { return shownPixels(view); };
    ASSERT_TRUE(line.write(std::vector<std::uint8_t> {0x7C}));
    // Whether a paint's region, in logical pixels, takes in every one the device pixel p touches.
    const qreal ratio = view.devicePixelRatioF();
    const auto covers = [ratio](const QRegion &painted, const QPoint &p) {
        const QRect touched =
            QRectF(p.x() / ratio, p.y() / ratio, 1 / ratio, 1 / ratio).toAlignedRect();
        for (int y = touched.top(); y <= touched.bottom(); ++y)
            for (int x = touched.left(); x <= touched.right(); ++x)
                if (!painted.contains(QPoint(x, y)))
                    return false;
        return true;
    };

    // Zigzags between two levels; each frame is complete when its closing marker arrives.
    // Returns the paints made for it and the pixels it changed in the picture.
    QImage previous;
    const auto send = [&](int low, int high) {
        std::vector<std::uint8_t> data(ScopeFrame::Size - 1, 0);
        data[0] = 0x04 | 0x20;
        data[1] = 0x03;
        for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
            data[ScopeFrame::FirstSample + i] = static_cast<std::uint8_t>(i % 2 ? high : low);
        ScopeFrame frame;
        std::copy(data.begin(), data.end(), frame.Bytes.begin());
        data.push_back(0x7C);
        const QImage picture =
            directPicture(pictureSize(view), frame, overlayTexts(frame, true, index));

        recorder.Regions.clear();
        EXPECT_TRUE(line.write(data));
        EXPECT_TRUE(waitUntil([&] { return devicePixels(view.backBufferImage()) == picture; }));
        EXPECT_TRUE(waitUntil([&] { return shown() == picture; })) << low << "," << high;
        // A list, not a region: growing a QRegion pixel by pixel is quadratic.
        std::vector<QPoint> changed;
        for (int y = 0; y < picture.height() && !previous.isNull(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (picture.pixel(x, y) != previous.pixel(x, y))
                    changed.emplace_back(x, y);
        previous = picture;
        return std::pair(recorder.Regions, changed);
    };

    send(30, 31); // with the first frame the texts change: a whole repaint
    for (const auto &[low, high] : {std::pair(33, 34), std::pair(28, 30), std::pair(29, 35)}) {
        // One paint covers every changed pixel and stays near both traces: not the graticule's
        // far rows, not the texts. On a loaded machine the platform may ask for a whole repaint
        // of its own, which can swallow ours, so a step gets a few tries.
        bool banded = false;
        for (int attempt = 0; attempt < 3 && !banded; ++attempt) {
            send(30, 31);
            const auto [paints, changed] = send(low, high);
            EXPECT_FALSE(changed.empty());
            banded = std::any_of(paints.begin(), paints.end(), [&](const QRegion &painted) {
                return std::all_of(changed.begin(), changed.end(),
                                   [&](const QPoint &p) { return covers(painted, p); })
                    && painted.boundingRect().height() < 100
                    && painted.boundingRect().right() < WaveformGeometry::TextLeft;
            });
        }
        EXPECT_TRUE(banded) << low << "," << high;
    }
    // Traces far apart, each shown exactly.
    for (int k = 0; k < 6; ++k)
        send(10 + 7 * k, 50 - 5 * k);
}

// The window shows one picture while the next is drawn into the other, so each of the two sees
// only every second picture. A text that alternates picture by picture never changes within
// either, and still every picture must be shown with its own.
TEST_F(ViewTest, TextsChangingWithEveryPictureAreShownWithEveryPicture)
{
    PseudoTerminal line;
    const int index = PortCount - 1;
    const ScopedEnv device(portOverrideVariable(index), line.slavePath());
    ASSERT_TRUE(Receiver.openPort(index));
    CVandrelViewerView view;
    create(view);
    const auto shown = [&] { return shownPixels(view); };
    // Acquisition started and paused in turn, each time drawn at once on the window's thread,
    // as the frame does: the connection line says so. The line stays silent throughout.
    for (int k = 0; k < 8; ++k) {
        const bool running = k % 2 == 0;
        if (running)
            Receiver.run();
        else
            Receiver.pause();
        view.OnAcquisitionChanged();
        const QImage picture =
            directPicture(pictureSize(view), {}, overlayTexts({}, running, index));
        ASSERT_EQ(devicePixels(view.backBufferImage()), picture) << "picture " << k;
        ASSERT_TRUE(waitUntil([&] { return shown() == picture; })) << "picture " << k;
    }

    // Level traces high and low in turn, a frame at a time from the line: the picture shown
    // lies outside what the two before and after it share, and none of it may stay. Checked at
    // the first paint after the pass's repaint request, before a silent line's time-out brings
    // another pass that would draw the frame again and hide a repaint that fell short.
    PaintRecorder watch;
    view.installEventFilter(&watch);
    Receiver.run();
    ASSERT_TRUE(line.write(std::vector<std::uint8_t> {0x7C}));
    for (int k = 0; k < 8; ++k) {
        std::vector<std::uint8_t> data(ScopeFrame::Size - 1, 0);
        std::fill_n(data.begin() + ScopeFrame::FirstSample, ScopeFrame::SampleCount,
                    static_cast<std::uint8_t>(k % 2 ? 50 - k : 6 + k));
        ScopeFrame frame;
        std::copy(data.begin(), data.end(), frame.Bytes.begin());
        data.push_back(0x7C);
        const QImage picture =
            directPicture(pictureSize(view), frame, overlayTexts(frame, true, index));
        const std::uint64_t passes = view.renderPassCount();
        watch.Requests = 0;
        ASSERT_TRUE(line.write(data));
        ASSERT_TRUE(waitUntil([&] {
            return view.renderPassCount() > passes
                && devicePixels(view.backBufferImage()) == picture && watch.Requests > 0
                && watch.PaintedSinceRequest;
        })) << "frame "
            << k;
        ASSERT_EQ(shown(), picture) << "frame " << k;
    }
}

} // namespace
