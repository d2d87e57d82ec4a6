#include "Framing.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

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

TEST(Framing, BlockEndsOnAnyMarkerTimeOutFailureOrClearedFlag)
{
    MemorySource source;
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        source.add(dataBytes(10, marker - 0x70));
        source.add({marker});
    }
    BlockBuffer buffer {};
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        EXPECT_EQ(readBlock(source, buffer, Keep), 10u);
        EXPECT_EQ(buffer[0], marker - 0x70);
    }

    source.add(dataBytes(7, 50));
    source.addTimeOut();
    source.add(dataBytes(3, 90));
    source.addFailure();
    EXPECT_EQ(readBlock(source, buffer, Keep), 7u);
    EXPECT_EQ(readBlock(source, buffer, Keep), 3u);
    EXPECT_EQ(buffer[3], 53) << "bytes past n keep what the earlier block left";
    EXPECT_EQ(readBlock(source, buffer, Keep), 0u); // idle line

    const std::atomic<bool> stop {false};
    source.add(dataBytes(4));
    const std::size_t readsBefore = source.readCount();
    EXPECT_EQ(readBlock(source, buffer, stop), 0u);
    EXPECT_EQ(source.readCount(), readsBefore);
}

TEST(Framing, OverLongBlockDropsItsHundredAndThirtyNinthByteEvenAMarker)
{
    // 150 data bytes: 138 collected, the 139th dropped, the next block starts at the 140th.
    const auto line = dataBytes(150);
    MemorySource source(line);
    source.add({0x7C});
    BlockBuffer buffer {};
    EXPECT_EQ(readBlock(source, buffer, Keep), 138u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), line.begin()));
    EXPECT_EQ(readBlock(source, buffer, Keep), 11u);
    EXPECT_EQ(buffer[0], line[139]);

    MemorySource markerDropped(dataBytes(138));
    markerDropped.add({0x7F});
    markerDropped.add(dataBytes(2, 90));
    markerDropped.add({0x7C});
    EXPECT_EQ(readBlock(markerDropped, buffer, Keep), 138u);
    EXPECT_EQ(readBlock(markerDropped, buffer, Keep), 2u);
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
