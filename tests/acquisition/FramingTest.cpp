#include "Framing.h"
#include "MemorySource.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

const std::atomic<bool> Keep {true};

TEST(Framing, HuntSkipsOneByteAtATimeUntilAMarker)
{
    for (int value = 0; value < 256; ++value)
        EXPECT_EQ(isMarker(static_cast<std::uint8_t>(value)), (value & 0x7C) == 0x7C) << value;

    MemorySource source({0x10, 0x7B, 0x3C, 0x7E, 0x05});
    int skipped = 0;
    while (!readMarker(source))
        ASSERT_LT(++skipped, 10);
    EXPECT_EQ(skipped, 3);
    EXPECT_EQ(source.remaining(), 1u) << "the byte after the marker is left for the block";

    MemorySource failing;
    failing.addFailure();
    EXPECT_FALSE(readMarker(failing));
    EXPECT_FALSE(readMarker(failing)); // then a time-out
    EXPECT_EQ(failing.readCount(), 2u);
}

TEST(Framing, TheLineEndsABlockWithAMarkerOrATimeOutAFailureOrAStopCutsIt)
{
    MemorySource source;
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        source.add(dataBytes(10, marker - 0x70));
        source.add({marker});
    }
    BlockBuffer buffer {};
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        const Block block = readBlock(source, buffer, Keep);
        EXPECT_EQ(block.Size, 10u);
        EXPECT_FALSE(block.Cut);
        EXPECT_EQ(buffer[0], marker - 0x70);
    }

    source.add(dataBytes(7, 50));
    source.addTimeOut();
    source.add(dataBytes(3, 90));
    source.addFailure();
    source.add(dataBytes(5, 20));
    source.addInterruption();
    Block block = readBlock(source, buffer, Keep);
    EXPECT_EQ(block.Size, 7u);
    EXPECT_FALSE(block.Cut) << "a silent line ends a block";
    block = readBlock(source, buffer, Keep);
    EXPECT_EQ(block.Size, 3u);
    EXPECT_TRUE(block.Cut) << "a failing device cuts it";
    EXPECT_EQ(buffer[3], 53) << "bytes past n keep what the earlier block left";
    block = readBlock(source, buffer, Keep);
    EXPECT_EQ(block.Size, 5u);
    EXPECT_TRUE(block.Cut) << "so does a read the receiver interrupts";
    block = readBlock(source, buffer, Keep); // idle line
    EXPECT_EQ(block.Size, 0u);
    EXPECT_FALSE(block.Cut);

    const std::atomic<bool> stop {false};
    source.add(dataBytes(4));
    const std::size_t readsBefore = source.readCount();
    EXPECT_TRUE(readBlock(source, buffer, stop).Cut);
    EXPECT_EQ(source.readCount(), readsBefore);
}

TEST(Framing, OverLongBlockDropsItsHundredAndThirtyNinthByteEvenAMarker)
{
    // 150 data bytes: 138 collected, the 139th dropped, the next block starts at the 140th.
    const auto line = dataBytes(150);
    MemorySource source(line);
    source.add({0x7C});
    BlockBuffer buffer {};
    EXPECT_EQ(readBlock(source, buffer, Keep).Size, 138u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), line.begin()));
    EXPECT_EQ(readBlock(source, buffer, Keep).Size, 11u);
    EXPECT_EQ(buffer[0], line[139]);

    MemorySource markerDropped(dataBytes(138));
    markerDropped.add({0x7F});
    markerDropped.add(dataBytes(2, 90));
    markerDropped.add({0x7C});
    const Block full = readBlock(markerDropped, buffer, Keep);
    EXPECT_EQ(full.Size, 138u);
    EXPECT_FALSE(full.Cut);
    EXPECT_EQ(readBlock(markerDropped, buffer, Keep).Size, 2u);
}

// The receive loop over a recorded line, on a port that is always there and acquisition that
// always runs. The end of the line is a close: it clears the flag and cuts the read under way.
class RecordedLine final : public ByteSource
{
public:
    explicit RecordedLine(MemorySource &source)
        : Source(source)
    { }

    ByteRead readByte() override
    {
        if (Source.remaining() == 0) {
            KeepReceiving.store(false);
            return {ReadStatus::Interrupted, 0};
        }
        const ByteRead read = Source.readByte();
        DeviceFailed = DeviceFailed || read.Status == ReadStatus::Failed;
        return read;
    }

    const std::atomic<bool> &keepReceiving() const { return KeepReceiving; }
    void waitForRun() { }
    bool isRunning() const { return true; }
    template<class Read>
    PortAccess withPort(Read &&read, PortUse)
    {
        read(static_cast<ByteSource &>(*this));
        return std::exchange(DeviceFailed, false) ? PortAccess::Lost : PortAccess::Read;
    }
    void merge(const BlockBuffer &buffer, std::size_t n) { mergeBlock(buffer, n, Latest); }
    void announce(std::size_t n) { Announced.push_back(n); }
    void reportLost() { ++Losses; }
    void pauseWithoutPort() { }

    ScopeFrame Latest;
    std::vector<std::size_t> Announced;
    int Losses = 0;

private:
    MemorySource &Source;
    std::atomic<bool> KeepReceiving {true};
    bool DeviceFailed = false;
};

// However many of a frame's bytes have arrived when the receiver hands the port over, is closed,
// or the device fails, the cut block is neither stored nor announced, and the rest of that frame
// is hunted past rather than taken as a block of its own.
TEST(Framing, ABlockCutAfterAnyCountOfBytesIsDropped)
{
    const Bytes whole = dataBytes(137, 5);
    const Bytes cutFrame = dataBytes(137, 40);
    const Bytes after = dataBytes(137, 90);
    enum class Cut { HandOver, Close, DeviceFailure };
    for (Cut cut : {Cut::HandOver, Cut::Close, Cut::DeviceFailure}) {
        for (std::size_t k = 0; k <= 137; ++k) {
            SCOPED_TRACE(::testing::Message() << "cut " << int(cut) << " after " << k << " bytes");
            MemorySource source({0x7C});
            source.add(whole);
            source.add({0x7D});
            source.add(Bytes(cutFrame.begin(), cutFrame.begin() + static_cast<long>(k)));
            if (cut == Cut::HandOver)
                source.addInterruption();
            else if (cut == Cut::DeviceFailure)
                source.addFailure();
            if (cut != Cut::Close) {
                source.add(Bytes(cutFrame.begin() + static_cast<long>(k), cutFrame.end()));
                source.add({0x7E});
                source.add(after);
                source.add({0x7C});
            }
            RecordedLine line(source);
            receiveLoop(line);

            const Bytes &last = cut == Cut::Close ? whole : after;
            EXPECT_TRUE(std::equal(last.begin(), last.end(), line.Latest.Bytes.begin()));
            const std::vector<std::size_t> stored = cut == Cut::Close
                ? std::vector<std::size_t> {137}
                : std::vector<std::size_t> {137, 137};
            EXPECT_EQ(line.Announced, stored);
            EXPECT_EQ(line.Losses, cut == Cut::DeviceFailure ? 1 : 0);
        }
    }
}

struct MergeCase
{
    std::size_t N;
    std::size_t FromByte; // first frame byte replaced, from buffer byte 0
    std::size_t Count;
};

class MergeTable : public ::testing::TestWithParam<MergeCase>
{
};

TEST_P(MergeTable, ReplacesExactlyItsRangeAndNeverByte137)
{
    const MergeCase c = GetParam();
    BlockBuffer buffer {};
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i % 100);
    ScopeFrame frame;
    frame.Bytes.fill(0xEE);
    frame.Bytes[137] = 0;

    mergeBlock(buffer, c.N, frame);
    for (std::size_t i = 0; i < ScopeFrame::Size; ++i) {
        const bool replaced = i >= c.FromByte && i < c.FromByte + c.Count;
        const std::uint8_t expected = replaced ? buffer[i - c.FromByte] : (i == 137 ? 0 : 0xEE);
        ASSERT_EQ(frame.Bytes[i], expected) << "n = " << c.N << ", byte " << i;
    }
}

// Fewer than 4 bytes write the header bytes they brought, nothing left in the buffer after them.
INSTANTIATE_TEST_SUITE_P(ByLength, MergeTable,
                         ::testing::Values(MergeCase {0, 0, 0}, MergeCase {1, 0, 1},
                                           MergeCase {2, 0, 2}, MergeCase {3, 0, 3},
                                           MergeCase {4, 0, 4}, MergeCase {132, 0, 4},
                                           MergeCase {133, 4, 133}, MergeCase {136, 4, 133},
                                           MergeCase {137, 0, 137}, MergeCase {138, 0, 137}));

} // namespace
