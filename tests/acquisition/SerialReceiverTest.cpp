#include "SerialReceiver.h"
#include "CpuShare.h"
#include "Event.h"
#include "MemorySource.h"
#include "PseudoTerminal.h"
#include "ScopedEnv.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int PortIndex = 2; // COM3, pointed at the test's pseudo-terminal
constexpr auto Bound = 5000ms;
const Bytes Marker {0x7C};

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Share of one core that the whole process used over the given wall time.
double cpuShareOver(std::chrono::milliseconds wall)
{
    const CpuShare meter;
    std::this_thread::sleep_for(wall);
    return meter.share();
}

bool holds(const ScopeFrame &frame, std::size_t from, const Bytes &bytes, std::size_t count)
{
    return std::equal(bytes.begin(), bytes.begin() + static_cast<long>(count),
                      frame.Bytes.begin() + static_cast<long>(from));
}

class Receiving : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Pty.watchSlave();
        Receiver.start();
        ASSERT_TRUE(Receiver.openPort(PortIndex));
        Frames = Receiver.frameEvent();
        Receiver.run();
    }

    ScopeFrame latest() const
    {
        ScopeFrame frame;
        frame.fillFrom(Receiver);
        return frame;
    }
    bool blockAnnounced() { return Frames->waitFor(Bound); }
    // The latest frame after an announcement, then the announcement of the block under way. On a
    // quiet line that block ends empty after the one-second time-out, changing nothing, and the
    // thread starts the next, so the test's next bytes land in a fresh block with nothing pending.
    ScopeFrame settled()
    {
        const ScopeFrame frame = latest();
        EXPECT_TRUE(blockAnnounced());
        return frame;
    }
    // Whether the latest frame comes to hold the bytes; reading them off the line and storing
    // them are two steps, so a test that only knows the bytes were read has to wait.
    bool comesToHold(std::size_t from, const Bytes &bytes, std::size_t count) const
    {
        const auto until = Clock::now() + Bound;
        while (!holds(latest(), from, bytes, count)) {
            if (Clock::now() > until)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    PseudoTerminal Pty;
    ScopedEnv Com3 {"VANDREL_COM3", Pty.slavePath()};
    SerialReceiver Receiver;
    std::shared_ptr<Event> Frames;
};

TEST(SerialReceiver, LifecycleAndAFailedStart)
{
    SerialReceiver receiver;
    EXPECT_EQ(receiver.currentPort(), -1);
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_FALSE(receiver.frameEvent());
    receiver.run(); // no event yet: nothing to signal
    EXPECT_FALSE(receiver.isRunning());
    receiver.close();
    receiver.close();

    SerialReceiver::failNextStartForTesting();
    try {
        receiver.start();
        ADD_FAILURE() << "start() did not throw";
    } catch (const ReceiverError &error) {
        EXPECT_STREQ(error.what(), "Cannot start a thread for receive.");
    }
    receiver.start();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_TRUE(receiver.frameEvent());
    receiver.run();
    EXPECT_TRUE(receiver.isRunning());
    EXPECT_TRUE(receiver.isRunning()) << "asking must not consume the run state";
    receiver.pause();
    EXPECT_FALSE(receiver.isRunning());
    receiver.run();
    receiver.close();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_FALSE(receiver.frameEvent());
}

TEST(SerialReceiver, OpenFailuresAreRecordedAndReleaseTheOldPort)
{
    PseudoTerminal pty;
    const ScopedEnv com3("VANDREL_COM3", pty.slavePath());
    const ScopedEnv com4("VANDREL_COM4", "/dev/vandrel-no-such-device");
    SerialReceiver receiver;
    SerialReceiver other;

    EXPECT_FALSE(receiver.openPort(3));
    EXPECT_EQ(receiver.currentPort(), -1);
    PortFailure failure = receiver.lastFailure();
    EXPECT_EQ(failure.Index, 3);
    EXPECT_EQ(failure.DevicePath, "/dev/vandrel-no-such-device");
    EXPECT_EQ(failure.ErrorNumber, ENOENT);
    EXPECT_FALSE(failure.Reason.empty());
    EXPECT_FALSE(failure.Lost);

    ASSERT_TRUE(receiver.openPort(PortIndex));
    EXPECT_EQ(receiver.currentPort(), PortIndex);
    EXPECT_EQ(receiver.lastFailure().ErrorNumber, 0);
    EXPECT_FALSE(other.openPort(PortIndex)) << "the port is exclusive";
    EXPECT_EQ(other.lastFailure().ErrorNumber, EBUSY);

    EXPECT_FALSE(receiver.openPort(3));
    EXPECT_EQ(receiver.currentPort(), -1) << "the port open before the call is gone";
    EXPECT_TRUE(other.openPort(PortIndex));
    other.close();

    ASSERT_TRUE(receiver.openPort(PortIndex));
    receiver.start();
    EXPECT_TRUE(other.openPort(PortIndex)) << "start() must leave no port open";

    const ScopedEnv com5("VANDREL_COM5", "/dev/null");
    EXPECT_FALSE(receiver.openPort(4));
    EXPECT_EQ(receiver.lastFailure().ErrorNumber, ENOTTY);
    for (int outOfRange : {-1, 20}) {
        EXPECT_FALSE(receiver.openPort(outOfRange));
        EXPECT_EQ(receiver.lastFailure().Index, outOfRange);
        EXPECT_EQ(receiver.lastFailure().ErrorNumber, ENODEV);
    }
}

TEST_F(Receiving, StoresFrameByFrameAfterSkippingToTheFirstMarker)
{
    // The tail end of a frame whose start was missed, then a marker.
    ASSERT_TRUE(Pty.write(dataBytes(50, 70) + Marker));
    ASSERT_TRUE(Pty.waitUntilConsumed(Bound));
    EXPECT_FALSE(Frames->waitFor(0ms)) << "nothing is announced before a block ends";
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        const auto data = dataBytes(137, static_cast<std::uint8_t>(marker - 0x70));
        ASSERT_TRUE(Pty.write(data + Bytes {marker}));
        ASSERT_TRUE(blockAnnounced());
        const ScopeFrame frame = settled();
        EXPECT_TRUE(holds(frame, 0, data, 137)) << int(marker);
        EXPECT_EQ(frame.Bytes[137], 0);
        EXPECT_FALSE(Frames->waitFor(0ms)) << "one announcement per block";
    }
    EXPECT_TRUE(Pty.readAvailable(200ms).empty()) << "nothing may be written to the port";
}

TEST_F(Receiving, MergesBlocksByTheirLength)
{
    const auto whole = dataBytes(137, 5);
    ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker));
    ASSERT_TRUE(blockAnnounced());
    ASSERT_TRUE(holds(settled(), 0, whole, 137));

    // A samples part keeps the header; a marker where a frame's data should go on cuts it there.
    const auto samples = dataBytes(134, 33);
    ASSERT_TRUE(Pty.write(samples + Bytes {0x7E}));
    ASSERT_TRUE(blockAnnounced());
    ScopeFrame frame = settled();
    EXPECT_TRUE(holds(frame, 0, whole, 4));
    EXPECT_TRUE(holds(frame, 4, samples, 133));

    // A header block replaces bytes 0-3 only; 0x7B and 0x3C are data.
    const Bytes header = Bytes {0x7B, 0x3C} + dataBytes(68, 20);
    ASSERT_TRUE(Pty.write(header + Marker));
    ASSERT_TRUE(blockAnnounced());
    frame = settled();
    EXPECT_TRUE(holds(frame, 0, header, 4));
    EXPECT_TRUE(holds(frame, 4, samples, 133));

    // Past 138 bytes the 139th is dropped and the rest runs on as a block of its own.
    const auto line = dataBytes(139 + 137, 1);
    ASSERT_TRUE(Pty.write(line + Marker));
    ASSERT_TRUE(Pty.waitUntilConsumed(Bound));
    EXPECT_TRUE(comesToHold(0, Bytes(line.begin() + 139, line.end()), 137));
    EXPECT_EQ(latest().Bytes[137], 0);
}

TEST_F(Receiving, SilenceEndsTheBlockAfterASecond)
{
    const auto whole = dataBytes(137, 9);
    ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker));
    ASSERT_TRUE(blockAnnounced());
    ASSERT_TRUE(blockAnnounced()) << "nothing after the marker: an empty block";
    EXPECT_TRUE(holds(latest(), 0, whole, 137));
    ASSERT_TRUE(blockAnnounced());

    const auto part = dataBytes(134, 30); // cut short by a silent line: taken as samples
    ASSERT_TRUE(Pty.write(part));
    ASSERT_TRUE(blockAnnounced());
    const ScopeFrame frame = latest();
    EXPECT_TRUE(holds(frame, 0, whole, 4));
    EXPECT_TRUE(holds(frame, 4, part, 133));
}

TEST_F(Receiving, CopiesAWholeFrameWithoutWaitingForTheLine)
{
    // Inside a block on a silent line the thread sits in a one-second read, holding the port.
    const auto whole = dataBytes(137, 12);
    ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker + dataBytes(3, 90)));
    ASSERT_TRUE(blockAnnounced());
    ASSERT_TRUE(Pty.waitUntilConsumed(Bound));
    const auto before = Clock::now();
    const ScopeFrame frame = latest();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    std::cout << "copy while a block waits for the line: " << took.count() << " ms\n";
    EXPECT_LT(took, 500ms);
    EXPECT_TRUE(holds(frame, 0, whole, 137)) << "the last stored frame, not the one under way";

    // Copies made while frames stream in are each one whole frame, never parts of two. The first
    // marker ends the three bytes' block, which rewrites the first three header bytes only.
    constexpr int FrameCount = 120; // values 0 to 119, none a marker
    std::thread line([this] {
        for (int i = 0; i < FrameCount; ++i)
            Pty.write(lineFrame(Bytes(137, static_cast<std::uint8_t>(i))));
        Pty.write(Marker);
    });
    const Bytes last(137, FrameCount - 1);
    int copies = 0;
    const auto until = Clock::now() + Bound;
    for (ScopeFrame copy = latest(); !holds(copy, 0, last, 137) && Clock::now() < until;
         copy = latest(), ++copies) {
        const bool one = holds(copy, 0, whole, 137)
            || (holds(copy, 0, dataBytes(3, 90), 3)
                && holds(copy, 3, Bytes(whole.begin() + 3, whole.end()), 134))
            || std::all_of(copy.Bytes.begin(), copy.Bytes.begin() + 137,
                           [&](std::uint8_t b) { return b == copy.Bytes[0]; });
        if (!one) {
            ADD_FAILURE() << "a copy mixed two frames";
            break;
        }
    }
    line.join();
    EXPECT_TRUE(comesToHold(0, last, 137));
    std::cout << copies << " copies while streaming\n";
}

// openPort() is called from the window's thread, which must never wait out a one-second read. Each
// state is timed a few times in a row: a wait for the read under way would add up to seconds.
TEST_F(Receiving, OpenPortHandsOverThePortAtOnceInEveryState)
{
    constexpr int Rounds = 5;
    const auto timedOpen = [this] {
        const auto before = Clock::now();
        EXPECT_TRUE(Receiver.openPort(PortIndex));
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    };
    const auto report = [](const char *state, std::chrono::milliseconds total) {
        std::cout << "openPort() " << state << ": " << total.count() << " ms for " << Rounds
                  << " calls\n";
        EXPECT_LT(total, 2000ms) << state;
    };

    // Hunting on a quiet line: once it has skipped a byte the thread sits in a one-second read
    // for a marker.
    std::chrono::milliseconds total {0};
    for (int i = 0; i < Rounds; ++i) {
        ASSERT_TRUE(Pty.write(Bytes {0x10}));
        ASSERT_TRUE(Pty.waitUntilConsumed(Bound));
        total += timedOpen();
    }
    report("while hunting", total);

    // Inside a block on a line that fell silent. The block under way is cut short and dropped.
    total = 0ms;
    for (int i = 0; i < Rounds; ++i) {
        const auto whole = dataBytes(137, static_cast<std::uint8_t>(21 + i));
        ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker + dataBytes(3, 70)));
        ASSERT_TRUE(blockAnnounced());
        ASSERT_TRUE(Pty.waitUntilConsumed(Bound));
        total += timedOpen();
        EXPECT_TRUE(holds(latest(), 0, whole, 137));
    }
    report("inside a block on a silent line", total);

    // The new port's first bytes are the rest of some frame: skipped until a marker, not stored.
    ASSERT_TRUE(Pty.write(dataBytes(137, 40)));
    ASSERT_TRUE(Pty.waitUntilConsumed(Bound));
    EXPECT_FALSE(Frames->waitFor(300ms));
    const auto next = dataBytes(137, 50);
    ASSERT_TRUE(Pty.write(lineFrame(next) + Marker));
    ASSERT_TRUE(blockAnnounced());
    EXPECT_TRUE(holds(latest(), 0, next, 137));

    // Streaming: frames arrive back to back, and keep being stored after each change.
    std::atomic<bool> streaming {true};
    std::thread line([&] {
        for (std::uint8_t value = 0; streaming.load(); value = (value + 1) % 0x70)
            Pty.write(lineFrame(Bytes(137, value)));
    });
    total = 0ms;
    for (int i = 0; i < Rounds; ++i) {
        ASSERT_TRUE(blockAnnounced());
        ASSERT_TRUE(blockAnnounced()) << "a block on the reopened port";
        total += timedOpen();
    }
    streaming = false;
    line.join();
    report("while streaming", total);
}

// A block that the receiver itself cuts short is no frame of the instrument's: whatever count of
// bytes the cut comes after, the latest frame stays the last one the line ended. The cuts are
// what the window does: Settings (a reopen), Space twice quickly (a stop, a reopen and a run
// before the block under way has ended), and closing.
TEST_F(Receiving, ABlockCutByAReopenOrACloseIsNeverStored)
{
    const auto whole = dataBytes(137, 11);
    const auto cutFrame = dataBytes(137, 60);
    enum class Cut { Reopen, StopReopenRun, Close };
    for (Cut cut : {Cut::Reopen, Cut::StopReopenRun, Cut::Close}) {
        for (std::size_t k = 0; k <= 137; ++k) {
            SCOPED_TRACE(::testing::Message() << "cut " << int(cut) << " after " << k << " bytes");
            ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker
                                  + Bytes(cutFrame.begin(), cutFrame.begin() + long(k))));
            ASSERT_TRUE(blockAnnounced());
            ASSERT_TRUE(Pty.waitUntilConsumed(Bound)); // k bytes into the block
            switch (cut) {
            case Cut::Reopen:
                ASSERT_TRUE(Receiver.openPort(PortIndex));
                break;
            case Cut::StopReopenRun:
                Receiver.pause();
                ASSERT_TRUE(Receiver.openPort(PortIndex));
                Receiver.run();
                break;
            case Cut::Close:
                Receiver.close();
                break;
            }
            ASSERT_TRUE(holds(latest(), 0, whole, 137));
            EXPECT_EQ(latest().Bytes[137], 0);
            if (cut == Cut::Close) {
                EXPECT_FALSE(Frames->waitFor(0ms)) << "a cut block is not announced";
                Receiver.start();
                Frames = Receiver.frameEvent();
                ASSERT_TRUE(Receiver.openPort(PortIndex));
                Receiver.run();
            }
        }
    }
}

// The same for a device that fails in the middle of a frame, as an unplugged adapter does: the
// loss is reported, the fragment is not stored.
TEST(SerialReceiver, AFrameCutByAFailingDeviceIsNeverStored)
{
    SerialReceiver receiver;
    receiver.start();
    const std::shared_ptr<Event> frames = receiver.frameEvent();
    const auto whole = dataBytes(137, 7);
    const auto cutFrame = dataBytes(137, 80);
    for (std::size_t k = 0; k <= 137; ++k) {
        SCOPED_TRACE(::testing::Message() << "failed after " << k << " bytes");
        PseudoTerminal pty;
        pty.watchSlave();
        const ScopedEnv com3("VANDREL_COM3", pty.slavePath());
        ASSERT_TRUE(receiver.openPort(PortIndex));
        receiver.run();
        ASSERT_TRUE(pty.write(lineFrame(whole) + Marker
                              + Bytes(cutFrame.begin(), cutFrame.begin() + long(k))));
        ASSERT_TRUE(frames->waitFor(Bound));
        ASSERT_TRUE(pty.waitUntilConsumed(Bound));
        pty.closeMaster();
        ASSERT_TRUE(frames->waitFor(Bound)) << "the loss is announced";
        ASSERT_EQ(receiver.currentPort(), -1);
        ScopeFrame frame;
        frame.fillFrom(receiver);
        ASSERT_TRUE(holds(frame, 0, whole, 137));
    }
}

// At the line's own pace (a byte every half millisecond, as 19200 baud delivers them) a reopen
// lands anywhere in a frame. Every frame here is a ramp, so a block stored shifted, or a header
// written over another frame's samples, shows as a break in the ramp.
TEST_F(Receiving, ReopeningWhileFramesArriveAtTheLinesPaceKeepsWholeFrames)
{
    const auto isRamp = [](const ScopeFrame &frame) {
        for (std::size_t j = 1; j < 137; ++j)
            if (frame.Bytes[j] != (frame.Bytes[0] + j) % 0x70)
                return false;
        return true;
    };
    std::atomic<bool> streaming {true};
    std::thread line([&] {
        for (std::uint8_t first = 0; streaming.load(); first = (first + 5) % 0x70) {
            Bytes frame(137);
            for (std::size_t j = 0; j < frame.size(); ++j)
                frame[j] = static_cast<std::uint8_t>((first + j) % 0x70);
            for (std::uint8_t byte : lineFrame(frame)) {
                if (!streaming.load() || !Pty.write(Bytes {byte}))
                    return;
                std::this_thread::sleep_for(std::chrono::microseconds(470));
            }
        }
    });
    constexpr int Switches = 40;
    int broken = 0;
    for (int i = 0; i < Switches; ++i) {
        ASSERT_TRUE(blockAnnounced());
        // Spread the reopens over a frame's 65 ms.
        std::this_thread::sleep_for(std::chrono::microseconds(1700 * (i % 37)));
        if (i % 2 == 0) {
            ASSERT_TRUE(Receiver.openPort(PortIndex));
        } else {
            Receiver.pause();
            ASSERT_TRUE(Receiver.openPort(PortIndex));
            Receiver.run();
        }
        broken += isRamp(latest()) ? 0 : 1;
    }
    streaming = false;
    line.join();
    EXPECT_EQ(broken, 0) << "of " << Switches << " reopens";
}

TEST_F(Receiving, PauseCompletesTheBlockThenHuntsAfterRun)
{
    ASSERT_TRUE(Pty.write(lineFrame(dataBytes(137, 2)) + Marker));
    ASSERT_TRUE(blockAnnounced());

    const auto inFlight = dataBytes(137, 40);
    ASSERT_TRUE(Pty.write(Bytes(inFlight.begin(), inFlight.begin() + 60)));
    ASSERT_TRUE(Pty.waitUntilConsumed(Bound)); // the receiver is inside the block now
    Receiver.pause();
    ASSERT_TRUE(Pty.write(Bytes(inFlight.begin() + 60, inFlight.end()) + Marker));
    ASSERT_TRUE(blockAnnounced()) << "the block under way is completed and stored";
    EXPECT_TRUE(holds(latest(), 0, inFlight, 137));

    // While stopped nothing is read; after run the bytes before the next marker are skipped.
    ASSERT_TRUE(Pty.write(dataBytes(137, 77)));
    EXPECT_FALSE(Frames->waitFor(300ms));
    const auto next = dataBytes(137, 99);
    Receiver.run();
    ASSERT_TRUE(Pty.write(lineFrame(next) + Marker));
    ASSERT_TRUE(blockAnnounced());
    EXPECT_TRUE(holds(latest(), 0, next, 137));
}

TEST_F(Receiving, VanishedDeviceIsReleasedAndReportedOnceWithoutSpinning)
{
    std::atomic<int> calls {0};
    std::atomic<bool> runningWhenReported {true};
    PortFailure reported;
    Event lost(Event::Reset::Manual);
    Receiver.setPortLostHandler([&](const PortFailure &failure) {
        reported = failure;
        runningWhenReported = Receiver.isRunning();
        ++calls;
        lost.set();
    });
    Receiver.start(); // which takes the handler
    ASSERT_TRUE(Receiver.openPort(PortIndex));
    Frames = Receiver.frameEvent();
    Receiver.run();
    ASSERT_TRUE(Pty.write(lineFrame(dataBytes(137)) + Marker));
    ASSERT_TRUE(blockAnnounced());

    Pty.closeMaster();
    ASSERT_TRUE(lost.waitFor(Bound));
    EXPECT_TRUE(blockAnnounced()) << "the picture must learn of the change";
    EXPECT_EQ(Receiver.currentPort(), -1);
    EXPECT_FALSE(Receiver.isRunning()) << "acquisition ends with its port";
    EXPECT_FALSE(runningWhenReported.load());
    EXPECT_EQ(reported.Index, PortIndex);
    EXPECT_EQ(reported.DevicePath, Pty.slavePath());
    EXPECT_TRUE(reported.Lost);
    EXPECT_NE(reported.ErrorNumber, 0);
    EXPECT_TRUE(Receiver.lastFailure().Lost);

    EXPECT_LT(cpuShareOver(1000ms), 0.2);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(Frames->waitFor(0ms));

    // The device is back: one open and run, as one Connect does, and frames flow again.
    PseudoTerminal back;
    const ScopedEnv again("VANDREL_COM3", back.slavePath());
    ASSERT_TRUE(Receiver.openPort(PortIndex));
    Receiver.run();
    const auto data = dataBytes(137, 60);
    ASSERT_TRUE(back.write(Marker + data + Marker));
    ASSERT_TRUE(blockAnnounced());
    EXPECT_TRUE(holds(latest(), 0, data, 137));
    Receiver.close(); // before the handler's captures go
}

TEST(SerialReceiver, HuntingWithoutAPortDoesNotSpin)
{
    SerialReceiver receiver;
    receiver.start();
    receiver.run();
    const double share = cpuShareOver(1000ms);
    std::cout << "CPU while hunting with no port: " << share * 100.0 << " % of a core\n";
    EXPECT_LT(share, 0.2);
    EXPECT_FALSE(receiver.frameEvent()->waitFor(0ms));
}

TEST_F(Receiving, StopIsPromptInEveryState)
{
    const auto timedClose = [this] {
        const auto before = Clock::now();
        Receiver.close();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    };
    // Inside a block on a silent line: the thread waits in a one-second read.
    ASSERT_TRUE(Pty.write(lineFrame(dataBytes(137)) + Marker));
    ASSERT_TRUE(blockAnnounced());
    const auto inRead = timedClose();
    std::cout << "close() inside a read: " << inRead.count() << " ms\n";
    EXPECT_LT(inRead, 2500ms);
    EXPECT_EQ(Receiver.currentPort(), PortIndex) << "still the port last opened";
    EXPECT_FALSE(Receiver.isRunning());

    Receiver.start(); // waiting for run
    EXPECT_LT(timedClose(), 2500ms);
    Receiver.start(); // hunting without a port
    Receiver.run();
    EXPECT_LT(timedClose(), 2500ms);
}

TEST(SerialReceiver, ThreadStuckPastTheStopWaitIsAbandonedWithoutHarm)
{
    // A port-lost handler that blocks keeps the thread from ending. close() gives up after its
    // wait, and neither the receiver nor a new start depends on that thread any more.
    auto entered = std::make_shared<Event>(Event::Reset::Manual);
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    auto finished = std::make_shared<Event>(Event::Reset::Manual);
    PseudoTerminal pty;
    const ScopedEnv com3("VANDREL_COM3", pty.slavePath());
    {
        SerialReceiver receiver;
        receiver.setPortLostHandler([entered, release, finished](const PortFailure &) {
            entered->set();
            release->wait();
            finished->set();
        });
        receiver.start();
        ASSERT_TRUE(receiver.openPort(PortIndex));
        receiver.run();
        pty.closeMaster();
        ASSERT_TRUE(entered->waitFor(Bound));

        const auto before = Clock::now();
        receiver.close();
        EXPECT_LT(Clock::now() - before, 4500ms);
        EXPECT_FALSE(receiver.isRunning());
        EXPECT_EQ(receiver.currentPort(), -1);

        receiver.start();
        receiver.run();
        EXPECT_TRUE(receiver.isRunning());
        ScopeFrame frame;
        frame.fillFrom(receiver); // must not wait for anything the stuck thread holds
        const auto closing = Clock::now();
        receiver.close();
        EXPECT_LT(Clock::now() - closing, 2500ms);
    } // the receiver is gone while the abandoned thread still runs
    release->set();
    EXPECT_TRUE(finished->waitFor(Bound));
}

} // namespace
