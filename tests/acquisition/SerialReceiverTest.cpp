#include "SerialReceiver.h"
#include "Event.h"
#include "MemorySource.h"
#include "PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <iostream>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int PortIndex = 2; // COM3, pointed at the test's pseudo-terminal
constexpr auto Bound = 5000ms;

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a, const std::vector<std::uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::uint8_t> Marker {0x7C};

double processCpuSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU share of one core that the process used over the given wall time.
double cpuShareOver(std::chrono::milliseconds wall)
{
    const double cpuBefore = processCpuSeconds();
    const auto before = Clock::now();
    std::this_thread::sleep_for(wall);
    const double elapsed = std::chrono::duration<double>(Clock::now() - before).count();
    return (processCpuSeconds() - cpuBefore) / elapsed;
}

bool sameRange(const ScopeFrame &frame, std::size_t from, const std::vector<std::uint8_t> &bytes,
               std::size_t count)
{
    return std::equal(bytes.begin(), bytes.begin() + static_cast<long>(count),
                      frame.Bytes.begin() + static_cast<long>(from));
}

class Receiving : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("VANDREL_COM3", Pty.slavePath().c_str(), 1);
        Pty.watchSlave();
        Receiver.start();
        ASSERT_TRUE(Receiver.openPort(PortIndex));
        Frames = Receiver.frameEvent();
        ASSERT_TRUE(Frames);
    }
    void TearDown() override { ::unsetenv("VANDREL_COM3"); }

    ScopeFrame latest() const
    {
        ScopeFrame frame;
        frame.fillFrom(Receiver);
        return frame;
    }
    // True when a block was announced within the bound.
    bool blockAnnounced() { return Frames->waitFor(Bound); }
    // The latest frame once the block under way has ended, with that block's announcement taken.
    // On a quiet line that block ends empty after the one-second time-out; the receive thread then
    // starts the next one, so the test's next bytes land in a fresh block with none pending.
    ScopeFrame settled()
    {
        const ScopeFrame frame = latest(); // waits for the end of the block under way
        EXPECT_TRUE(blockAnnounced());
        return frame;
    }
    bool consumed() { return Pty.waitUntilConsumed(Bound); }

    PseudoTerminal Pty;
    SerialReceiver Receiver;
    std::shared_ptr<Event> Frames;
};

TEST(SerialReceiver, LifecycleBeforeAndAfterStart)
{
    SerialReceiver receiver;
    EXPECT_EQ(receiver.currentPort(), -1);
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_FALSE(receiver.frameEvent());
    receiver.run(); // no event yet: nothing to signal, nothing to crash
    EXPECT_FALSE(receiver.isRunning());
    receiver.close();
    receiver.close();

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
    receiver.close();
}

TEST(SerialReceiver, StartFailureIsThrownWithItsTextAndTheNextStartWorks)
{
    SerialReceiver receiver;
    SerialReceiver::failNextStartForTesting();
    try {
        receiver.start();
        FAIL() << "start() did not throw";
    } catch (const ReceiverError &error) {
        EXPECT_STREQ(error.what(), "Cannot start a thread for receive.");
    }
    EXPECT_FALSE(receiver.isRunning());
    receiver.start();
    receiver.run();
    EXPECT_TRUE(receiver.isRunning());
}

TEST(SerialReceiver, OpenFailuresAreRecordedAndReleaseTheOldPort)
{
    PseudoTerminal pty;
    ::setenv("VANDREL_COM3", pty.slavePath().c_str(), 1);
    ::setenv("VANDREL_COM4", "/dev/vandrel-no-such-device", 1);
    SerialReceiver receiver;
    receiver.start();

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

    EXPECT_FALSE(receiver.openPort(3));
    EXPECT_EQ(receiver.currentPort(), -1) << "the port open before the call is gone";
    SerialReceiver other;
    EXPECT_TRUE(other.openPort(PortIndex)) << "the failed open released the previous device";
    other.close();

    for (int outOfRange : {-1, 20, 1000}) {
        EXPECT_FALSE(receiver.openPort(outOfRange));
        failure = receiver.lastFailure();
        EXPECT_EQ(failure.Index, outOfRange);
        EXPECT_EQ(failure.ErrorNumber, ENODEV);
    }
    ::unsetenv("VANDREL_COM3");
    ::unsetenv("VANDREL_COM4");
}

TEST(SerialReceiver, PortIsExclusiveAndStartReleasesIt)
{
    PseudoTerminal pty;
    ::setenv("VANDREL_COM3", pty.slavePath().c_str(), 1);
    SerialReceiver first;
    SerialReceiver second;
    ASSERT_TRUE(first.openPort(PortIndex));
    EXPECT_FALSE(second.openPort(PortIndex));
    EXPECT_EQ(second.lastFailure().ErrorNumber, EBUSY);

    first.start();
    EXPECT_EQ(first.currentPort(), -1);
    EXPECT_TRUE(second.openPort(PortIndex)) << "start() must leave no port open";
    ::unsetenv("VANDREL_COM3");
}

TEST_F(Receiving, StoresFrameByFrameAndSkipsBytesBeforeTheFirstMarker)
{
    Receiver.run();
    // The tail end of a frame whose start was missed, then a marker.
    ASSERT_TRUE(Pty.write(dataBytes(50, 70) + Marker));
    ASSERT_TRUE(consumed());
    EXPECT_FALSE(Frames->waitFor(0ms)) << "nothing is announced before a block ends";
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        const auto data = dataBytes(137, static_cast<std::uint8_t>(marker - 0x70));
        ASSERT_TRUE(Pty.write(data + std::vector<std::uint8_t> {marker}));
        ASSERT_TRUE(blockAnnounced());
        const ScopeFrame frame = settled();
        EXPECT_TRUE(sameRange(frame, 0, data, 137)) << int(marker);
        EXPECT_EQ(frame.Bytes[137], 0);
        EXPECT_FALSE(Frames->waitFor(0ms)) << "one announcement per block";
    }
    EXPECT_TRUE(Pty.readAvailable(200ms).empty()) << "nothing may be written to the port";
}

TEST_F(Receiving, MergesBlocksByLength)
{
    Receiver.run();
    const auto whole = dataBytes(137, 5);
    ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker));
    ASSERT_TRUE(blockAnnounced());
    ASSERT_TRUE(sameRange(settled(), 0, whole, 137));

    // A samples part of 133 to 136 bytes replaces bytes 4-136 and keeps the header; a marker in
    // the middle of what would be a frame cuts it there.
    for (std::size_t n : {133u, 136u}) {
        const auto samples = dataBytes(n, static_cast<std::uint8_t>(n % 50));
        ASSERT_TRUE(Pty.write(samples + std::vector<std::uint8_t> {0x7E} + dataBytes(1)));
        ASSERT_TRUE(blockAnnounced());
        const ScopeFrame frame = settled();
        EXPECT_TRUE(sameRange(frame, 0, whole, 4)) << n;
        EXPECT_TRUE(sameRange(frame, 4, samples, 133)) << n;
    }
    // A header block of 4 to 132 bytes replaces bytes 0-3 only; 0x7B and 0x3C are data.
    const ScopeFrame beforeHeader = latest();
    for (std::size_t n : {4u, 132u}) {
        auto header = dataBytes(n, static_cast<std::uint8_t>(60 + n % 7));
        header[0] = 0x7B;
        header[1] = 0x3C;
        ASSERT_TRUE(Pty.write(header + Marker));
        ASSERT_TRUE(blockAnnounced());
        const ScopeFrame frame = settled();
        EXPECT_TRUE(sameRange(frame, 0, header, 4)) << n;
        EXPECT_TRUE(
            std::equal(frame.Bytes.begin() + 4, frame.Bytes.end(), beforeHeader.Bytes.begin() + 4))
            << n;
    }
}

TEST_F(Receiving, OverLongBlockRunsOnIntoTheNextWithoutAMarker)
{
    Receiver.run();
    const auto line = dataBytes(139 + 137, 1);
    ASSERT_TRUE(Pty.write(Marker + line + Marker));
    ASSERT_TRUE(consumed());
    // The second block, from the 140th byte on, is a whole frame and replaced the first.
    const std::vector<std::uint8_t> second(line.begin() + 139, line.end());
    const ScopeFrame frame = latest();
    EXPECT_TRUE(sameRange(frame, 0, second, 137));
    EXPECT_EQ(frame.Bytes[137], 0);
}

TEST_F(Receiving, SilenceAfterAMarkerAnnouncesAnEmptyBlockAndKeepsTheFrame)
{
    Receiver.run();
    const auto whole = dataBytes(137, 9);
    ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker));
    ASSERT_TRUE(blockAnnounced());
    // No byte follows the marker: after the one-second time-out an empty block is announced.
    ASSERT_TRUE(blockAnnounced());
    const ScopeFrame frame = latest();
    EXPECT_TRUE(sameRange(frame, 0, whole, 137));
    EXPECT_EQ(frame.Bytes[137], 0);
}

TEST_F(Receiving, SilenceInsideABlockEndsItWithWhatCame)
{
    Receiver.run();
    const auto whole = dataBytes(137, 9);
    ASSERT_TRUE(Pty.write(lineFrame(whole) + Marker));
    ASSERT_TRUE(blockAnnounced());
    const auto part = dataBytes(134, 30); // cut short by a silent line: taken as samples
    ASSERT_TRUE(Pty.write(part));
    ASSERT_TRUE(blockAnnounced());
    const ScopeFrame frame = latest();
    EXPECT_TRUE(sameRange(frame, 0, whole, 4));
    EXPECT_TRUE(sameRange(frame, 4, part, 133));
}

TEST_F(Receiving, PauseCompletesTheBlockThenHuntsAfterRun)
{
    Receiver.run();
    ASSERT_TRUE(Pty.write(lineFrame(dataBytes(137, 2)) + Marker));
    ASSERT_TRUE(blockAnnounced());

    const auto inFlight = dataBytes(137, 40);
    ASSERT_TRUE(Pty.write(std::vector<std::uint8_t>(inFlight.begin(), inFlight.begin() + 60)));
    ASSERT_TRUE(consumed()); // the receiver is inside the block now
    Receiver.pause();
    EXPECT_FALSE(Receiver.isRunning());
    ASSERT_TRUE(
        Pty.write(std::vector<std::uint8_t>(inFlight.begin() + 60, inFlight.end()) + Marker));
    ASSERT_TRUE(blockAnnounced()) << "the block under way is completed and stored";
    EXPECT_TRUE(sameRange(latest(), 0, inFlight, 137));

    // While stopped nothing is read; after run the bytes before the next marker are skipped.
    const auto skipped = dataBytes(137, 77);
    ASSERT_TRUE(Pty.write(skipped));
    EXPECT_FALSE(Frames->waitFor(300ms));
    const auto next = dataBytes(137, 99);
    Receiver.run();
    ASSERT_TRUE(Pty.write(lineFrame(next) + Marker));
    ASSERT_TRUE(blockAnnounced());
    EXPECT_TRUE(sameRange(latest(), 0, next, 137));
}

TEST_F(Receiving, VanishedDeviceIsReleasedAndReportedOnce)
{
    std::atomic<int> lostCalls {0};
    PortFailure reported;
    Event lost(Event::Reset::Manual);
    Receiver.setPortLostHandler([&](const PortFailure &failure) {
        reported = failure;
        ++lostCalls;
        lost.set();
    });
    Receiver.start(); // the handler is taken at start
    ASSERT_TRUE(Receiver.openPort(PortIndex));
    Frames = Receiver.frameEvent();
    Receiver.run();
    ASSERT_TRUE(Pty.write(lineFrame(dataBytes(137)) + Marker));
    ASSERT_TRUE(blockAnnounced());

    Pty.closeMaster();
    ASSERT_TRUE(lost.waitFor(Bound));
    EXPECT_TRUE(blockAnnounced()) << "the picture must learn of the change";
    EXPECT_EQ(Receiver.currentPort(), -1);
    EXPECT_TRUE(Receiver.isRunning());
    EXPECT_EQ(reported.Index, PortIndex);
    EXPECT_EQ(reported.DevicePath, Pty.slavePath());
    EXPECT_TRUE(reported.Lost);
    EXPECT_NE(reported.ErrorNumber, 0);
    const PortFailure recorded = Receiver.lastFailure();
    EXPECT_TRUE(recorded.Lost);
    EXPECT_EQ(recorded.DevicePath, Pty.slavePath());

    const double share = cpuShareOver(1000ms);
    EXPECT_LT(share, 0.2) << "the receiver must not spin once the device is gone";
    EXPECT_EQ(lostCalls.load(), 1);
    EXPECT_FALSE(Frames->waitFor(0ms));
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
    const auto timedClose = [](SerialReceiver &receiver) {
        const auto before = Clock::now();
        receiver.close();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
    };
    // Inside a block on a silent line: the thread waits in a one-second read.
    Receiver.run();
    ASSERT_TRUE(Pty.write(lineFrame(dataBytes(137)) + Marker));
    ASSERT_TRUE(blockAnnounced());
    const auto inRead = timedClose(Receiver);
    std::cout << "close() inside a read: " << inRead.count() << " ms\n";
    EXPECT_LT(inRead, 2500ms);
    EXPECT_EQ(Receiver.currentPort(), -1);

    Receiver.start(); // stopped, waiting for run
    EXPECT_LT(timedClose(Receiver), 2500ms);

    Receiver.start(); // hunting without a port
    Receiver.run();
    EXPECT_LT(timedClose(Receiver), 2500ms);
}

TEST(SerialReceiver, ThreadStuckPastTheStopWaitIsAbandonedWithoutHarm)
{
    // A port-lost handler that blocks (say, on a user interface that is itself waiting in
    // close()) keeps the thread from ending. close() gives up after its wait, and neither the
    // receiver nor a new start depends on that thread any more.
    auto entered = std::make_shared<Event>(Event::Reset::Manual);
    auto release = std::make_shared<Event>(Event::Reset::Manual);
    auto finished = std::make_shared<Event>(Event::Reset::Manual);
    PseudoTerminal pty;
    ::setenv("VANDREL_COM3", pty.slavePath().c_str(), 1);
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
        const auto took = Clock::now() - before;
        std::cout << "close() with a stuck thread: "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
        EXPECT_LT(took, 4500ms);
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
    ::unsetenv("VANDREL_COM3");
}

} // namespace
