#include "CVandrelViewerView.h"
#include "Event.h"
#include "PortNames.h"
#include "PseudoTerminal.h"
#include "RenderTestSupport.h"
#include "SerialReceiver.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace RenderTest;
using namespace std::chrono_literals;

namespace {

constexpr int WaitBound = 10000; // ms; generous for a loaded machine

template<typename Predicate>
bool waitUntil(Predicate predicate)
{
    return QTest::qWaitFor(predicate, WaitBound);
}

QImage devicePixels(QImage image)
{
    image.setDevicePixelRatio(1);
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage stoppedPicture(QSize size, const ScopeFrame &frame = {})
{
    return directPicture(size, frame, overlayTexts(frame, false, -1));
}

class ViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Receiver.start();
        FrameEvent = Receiver.frameEvent();
        ASSERT_TRUE(FrameEvent);
    }

    void create(CVandrelViewerView &view, QSize size = {640, 480})
    {
        view.resize(size);
        view.show();
        view.SetReceiver(&Receiver);
        view.OnCreate();
    }

    SerialReceiver Receiver;
    std::shared_ptr<Event> FrameEvent;
};

TEST_F(ViewTest, CreatedAfterTheFirstResizeShowsThePictureAtOnce)
{
    CVandrelViewerView view;
    view.resize(640, 480);
    view.show();
    EXPECT_TRUE(view.backBufferImage().isNull()); // a resize before creation does nothing
    view.SetReceiver(&Receiver);
    view.OnCreate();

    const QImage expected = stoppedPicture({640, 480});
    EXPECT_EQ(devicePixels(view.backBufferImage()), expected);
    // A paint copies the finished picture, nothing else.
    EXPECT_EQ(devicePixels(view.grab().toImage()), expected);
    EXPECT_EQ(view.renderPassCount(), 0u);
}

TEST_F(ViewTest, CreatedWithoutAreaGetsItsPictureFromEachResize)
{
    CVandrelViewerView view;
    view.resize(0, 0);
    view.SetReceiver(&Receiver);
    view.OnCreate();
    EXPECT_TRUE(view.backBufferImage().isNull());

    for (const QSize size : {QSize(1000, 600), QSize(600, 800), QSize(641, 481)}) {
        view.resize(size);
        view.show();
        ASSERT_TRUE(waitUntil([&] { return view.backBufferImage().size() == size; }));
        EXPECT_EQ(devicePixels(view.backBufferImage()), stoppedPicture(size));
        EXPECT_EQ(devicePixels(view.grab().toImage()), stoppedPicture(size));
    }
    EXPECT_EQ(view.renderPassCount(), 0u); // resizes render on the window's thread
}

TEST_F(ViewTest, EachFrameSignalBringsOnePass)
{
    CVandrelViewerView view;
    create(view);
    FrameEvent->set();
    ASSERT_TRUE(waitUntil([&] { return view.renderPassCount() == 1; }));
    EXPECT_EQ(devicePixels(view.backBufferImage()), stoppedPicture({640, 480}));
    FrameEvent->set();
    ASSERT_TRUE(waitUntil([&] { return view.renderPassCount() == 2; }));
}

TEST_F(ViewTest, BurstDuringAPassGivesExactlyOneMorePass)
{
    auto entered = std::make_shared<Event>(Event::Reset::Auto);
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    auto first = std::make_shared<std::atomic<bool>>(true);
    CVandrelViewerView view;
    view.setPassHook([=] {
        if (first->exchange(false)) {
            entered->set();
            release->waitFor(10s);
        }
    });
    create(view);

    FrameEvent->set();
    ASSERT_TRUE(entered->waitFor(10s));
    for (int i = 0; i < 5; ++i)
        FrameEvent->set();
    release->set();
    ASSERT_TRUE(waitUntil([&] { return view.renderPassCount() == 2; }));
    QTest::qWait(300);
    EXPECT_EQ(view.renderPassCount(), 2u);
}

TEST_F(ViewTest, DestroyWhileWaitingMakesOneLastPassAndEndsPromptly)
{
    CVandrelViewerView view;
    create(view);
    FrameEvent->set();
    ASSERT_TRUE(waitUntil([&] { return view.renderPassCount() == 1; }));

    const auto started = std::chrono::steady_clock::now();
    view.OnDestroy();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s); // the stop bound is 3 s
    EXPECT_EQ(view.renderPassCount(), 2u);
    EXPECT_TRUE(view.backBufferImage().isNull()); // drawing objects freed after the thread

    view.OnDestroy(); // idempotent
    view.resize(800, 600);
    FrameEvent->set();
    QTest::qWait(100);
    EXPECT_EQ(view.renderPassCount(), 2u);
    EXPECT_TRUE(view.backBufferImage().isNull());
}

TEST_F(ViewTest, DestroyDuringAPassEndsAfterThatPass)
{
    auto entered = std::make_shared<Event>(Event::Reset::Auto);
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    CVandrelViewerView view;
    view.setPassHook([=] {
        entered->set();
        release->waitFor(10s);
    });
    create(view);
    FrameEvent->set();
    ASSERT_TRUE(entered->waitFor(10s));

    // Let the pass go on only once the stop has signalled the frame event, handing that signal
    // back, so the thread sees a pending signal and a cleared run flag.
    std::thread releaser([this, release] {
        FrameEvent->waitFor(10s);
        FrameEvent->set();
        release->set();
    });
    view.OnDestroy();
    releaser.join();
    EXPECT_EQ(view.renderPassCount(), 1u);
}

TEST_F(ViewTest, ThreadThatOverrunsTheStopIsDisownedAndNeverTouchesTheView)
{
    auto entered = std::make_shared<Event>(Event::Reset::Auto);
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    auto alive = std::make_shared<int>(0);
    const std::weak_ptr<int> threadState = alive;
    auto view = std::make_unique<CVandrelViewerView>();
    view->setPassHook([entered, release, alive = std::move(alive)] {
        entered->set();
        release->waitFor(20s);
    });
    create(*view);
    FrameEvent->set();
    ASSERT_TRUE(entered->waitFor(10s));

    const auto started = std::chrono::steady_clock::now();
    view->OnDestroy();
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 2900ms);
    EXPECT_LT(waited, 8s);
    EXPECT_TRUE(view->backBufferImage().isNull());

    // The view goes first; the thread, released afterwards, must not reach it (ASan/TSan).
    view.reset();
    release->set();
    ASSERT_TRUE(waitUntil([&] { return threadState.expired(); }));
}

TEST_F(ViewTest, PausedReceiverGivesNoPassAndRunningDrawsTheLine)
{
    PseudoTerminal line;
    const int index = PortCount - 1;
    ASSERT_EQ(::setenv(portOverrideVariable(index).c_str(), line.slavePath().c_str(), 1), 0);
    ASSERT_TRUE(Receiver.openPort(index));

    CVandrelViewerView view;
    create(view);

    std::vector<std::uint8_t> data(137, 0);
    data[0] = 0x04 | 0x20; // 10 V, DC
    data[1] = 0x03; // 1000 ns
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
        data[ScopeFrame::FirstSample + i] = static_cast<std::uint8_t>((i * 3) % 64);
    ASSERT_TRUE(line.write(lineFrame(data)));
    ASSERT_TRUE(line.write(lineFrame(data)));
    ASSERT_TRUE(line.write(std::vector<std::uint8_t> {0x7C}));

    QTest::qWait(500);
    EXPECT_EQ(view.renderPassCount(), 0u);
    EXPECT_EQ(devicePixels(view.backBufferImage()), stoppedPicture({640, 480}));

    Receiver.run();
    ScopeFrame expected;
    std::copy(data.begin(), data.end(), expected.Bytes.begin());
    const QImage picture = directPicture({640, 480}, expected, overlayTexts(expected, true, index));
    EXPECT_TRUE(waitUntil([&] { return devicePixels(view.backBufferImage()) == picture; }));
    EXPECT_TRUE(waitUntil([&] { return view.renderPassCount() >= 1; }));
    // The window shows it once the queued repaint has run.
    EXPECT_TRUE(waitUntil([&] { return devicePixels(view.grab().toImage()) == picture; }));

    Receiver.pause();
    view.OnDestroy();
    ::unsetenv(portOverrideVariable(index).c_str());
}

} // namespace
