#include "SerialReceiver.h"
#include "Event.h"
#include "LinkedPorts.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <iostream>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr auto Bound = 10000ms;

Bytes dataBytes(std::size_t count, std::uint8_t first)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>((first + i) % 0x7C);
    return bytes;
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool holds(const ScopeFrame &frame, const Bytes &data)
{
    return std::equal(data.begin(), data.begin() + 137, frame.Bytes.begin());
}

std::chrono::milliseconds timed(const std::function<void()> &step)
{
    const auto before = Clock::now();
    step();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
}

// A started receiver reading COM1, acquisition running; the test writes the line into COM2.
class WindowsReceiving : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(link.isOpen());
        receiver.start();
        ASSERT_TRUE(receiver.openPort(ReaderIndex));
        frames = receiver.frameEvent();
        receiver.run();
    }

    LinkedPorts link;
    SerialReceiver receiver;
    std::shared_ptr<Event> frames;
};

TEST_F(WindowsReceiving, StoresTheFramesReadFromTheComPort)
{
    EXPECT_EQ(receiver.currentPort(), ReaderIndex);

    // Bytes before the first marker are skipped; every marker value opens a block.
    ASSERT_TRUE(link.write(dataBytes(40, 60)));
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        const Bytes data = dataBytes(137, static_cast<std::uint8_t>(marker - 0x70));
        ASSERT_TRUE(link.write(Bytes {marker} + data + Bytes {0x7C}));
        const auto until = Clock::now() + Bound;
        ScopeFrame frame;
        while (frame.fillFrom(receiver), !holds(frame, data) && Clock::now() < until)
            frames->waitFor(200ms);
        EXPECT_TRUE(holds(frame, data)) << int(marker);
        EXPECT_EQ(frame.Bytes[137], 0);
    }
    EXPECT_TRUE(link.readAvailable(200ms).empty()) << "nothing may be written to the port";
}

TEST(WindowsSerialReceiver, PortsAreExclusiveAndAFailedOpenReleasesTheOldOne)
{
    SerialReceiver receiver;
    SerialReceiver other;
    ASSERT_TRUE(receiver.openPort(ReaderIndex));
    if (!underWine()) {
        EXPECT_FALSE(other.openPort(ReaderIndex));
        EXPECT_EQ(other.lastFailure().ErrorNumber, EBUSY);
        EXPECT_EQ(other.currentPort(), -1);
    }

    EXPECT_FALSE(receiver.openPort(MissingIndex));
    EXPECT_EQ(receiver.currentPort(), -1);
    const PortFailure failure = receiver.lastFailure();
    EXPECT_EQ(failure.Index, MissingIndex);
    EXPECT_EQ(failure.DevicePath, "\\\\.\\COM20");
    EXPECT_EQ(failure.ErrorNumber, missingPortError());
    EXPECT_TRUE(other.openPort(ReaderIndex)) << "the failed open released COM1";
    other.close();

    ASSERT_TRUE(receiver.openPort(ReaderIndex));
    receiver.start();
    EXPECT_TRUE(other.openPort(ReaderIndex)) << "start() must leave no port open";
}

// Reopening the port cuts the block under way short; whatever count of bytes it held, it is
// dropped and the latest frame stays the last one the line ended. Where the read cannot be
// cancelled (Wine) the cut comes with the read's time-out, which must not pass for the line's.
TEST_F(WindowsReceiving, ABlockCutByAReopenIsNeverStored)
{
    const Bytes whole = dataBytes(137, 9);
    const Bytes cutFrame = dataBytes(137, 70);
    for (std::size_t k : {0, 3, 4, 70, 133, 134, 136, 137}) {
        SCOPED_TRACE(::testing::Message() << "cut after " << k << " bytes");
        ASSERT_TRUE(link.write(Bytes {0x7C} + whole + Bytes {0x7C}
                               + Bytes(cutFrame.begin(), cutFrame.begin() + long(k))));
        ASSERT_TRUE(frames->waitFor(Bound));
        ASSERT_TRUE(receiver.openPort(ReaderIndex));
        ScopeFrame frame;
        frame.fillFrom(receiver);
        EXPECT_TRUE(holds(frame, whole));
    }
}

TEST_F(WindowsReceiving, CloseIsPromptInEveryState)
{
    // Inside a block on a silent line: the thread waits in a one-second read.
    ASSERT_TRUE(link.write(Bytes {0x7C} + dataBytes(137, 3) + Bytes {0x7C}));
    ASSERT_TRUE(frames->waitFor(Bound));
    const auto inRead = timed([&] { receiver.close(); });
    std::cout << "close() inside a read: " << inRead.count() << " ms\n";
    EXPECT_LT(inRead, 2500ms);

    receiver.start(); // waiting for run
    EXPECT_LT(timed([&] { receiver.close(); }), 2500ms);
    receiver.start(); // hunting without a port
    receiver.run();
    EXPECT_LT(timed([&] { receiver.close(); }), 2500ms);

    // A hunting read under way on an open port.
    receiver.start();
    ASSERT_TRUE(receiver.openPort(ReaderIndex));
    receiver.run();
    std::this_thread::sleep_for(100ms);
    const auto hunting = timed([&] { receiver.close(); });
    std::cout << "close() while hunting: " << hunting.count() << " ms\n";
    EXPECT_LT(hunting, 2500ms);
}

} // namespace
