#include "Framing.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

namespace {

const std::atomic<bool> Keep {true};

TEST(Framing, MarkersAreTheBytesWithBitsTwoToSixSet)
{
    int markers = 0;
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<std::uint8_t>(value);
        if (isMarker(byte))
            ++markers;
        EXPECT_EQ(isMarker(byte), (value & 0x7C) == 0x7C) << value;
    }
    EXPECT_EQ(markers, 8); // 0x7C-0x7F and, with bit 7, 0xFC-0xFF
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F})
        EXPECT_TRUE(isMarker(marker));
    for (std::uint8_t data : {0x7B, 0x3C, 0x00, 0x3F, 0x78})
        EXPECT_FALSE(isMarker(data));
}

TEST(Framing, HuntingReadsOneByteAndKeepsNothing)
{
    MemorySource source({0x10, 0x7B, 0x3C, 0x7E, 0x05});
    int reads = 0;
    while (!readMarker(source))
        ASSERT_LT(++reads, 10);
    EXPECT_EQ(reads, 3); // three data bytes skipped, one at a time
    EXPECT_EQ(source.readCount(), 4u);
    EXPECT_EQ(source.remaining(), 1u);

    MemorySource failing;
    failing.addFailure();
    failing.addTimeOut();
    EXPECT_FALSE(readMarker(failing));
    EXPECT_FALSE(readMarker(failing));
    EXPECT_EQ(failing.readCount(), 2u);
}

TEST(Framing, BlockEndsOnEachMarkerWhichOpensTheNext)
{
    for (std::uint8_t marker : {0x7C, 0x7D, 0x7E, 0x7F}) {
        MemorySource source(dataBytes(10));
        source.add({marker});
        source.add(dataBytes(5, 40));
        source.add({0x7C});
        BlockBuffer buffer {};
        EXPECT_EQ(readBlock(source, buffer, Keep), 10u);
        EXPECT_EQ(buffer[9], 10);
        EXPECT_EQ(readBlock(source, buffer, Keep), 5u);
        EXPECT_EQ(buffer[0], 40);
        EXPECT_EQ(buffer[5], 6) << "bytes past n keep the earlier block's values";
        EXPECT_EQ(source.remaining(), 0u);
    }
}

TEST(Framing, TimeOutOrFailureEndsTheBlockWithWhatCame)
{
    MemorySource source(dataBytes(7));
    source.addTimeOut();
    source.addFailure();
    source.add(dataBytes(3));
    BlockBuffer buffer {};
    EXPECT_EQ(readBlock(source, buffer, Keep), 7u);
    EXPECT_EQ(readBlock(source, buffer, Keep), 0u);
    EXPECT_EQ(readBlock(source, buffer, Keep), 3u); // then the idle line times out
}

TEST(Framing, ClearedFlagEndsTheBlockBeforeTheNextRead)
{
    const std::atomic<bool> stop {false};
    MemorySource source(dataBytes(4));
    BlockBuffer buffer {};
    EXPECT_EQ(readBlock(source, buffer, stop), 0u);
    EXPECT_EQ(source.readCount(), 0u);
}

TEST(Framing, OverLongBlockDropsItsHundredAndThirtyNinthByte)
{
    // 150 data bytes after a marker: 138 collected, the 139th dropped, and the next block starts
    // at the 140th without a marker of its own.
    const auto line = dataBytes(150);
    MemorySource source(line);
    source.add({0x7C});
    BlockBuffer buffer {};
    EXPECT_EQ(readBlock(source, buffer, Keep), 138u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), line.begin()));
    EXPECT_EQ(source.readCount(), 139u);
    EXPECT_EQ(readBlock(source, buffer, Keep), 11u);
    EXPECT_EQ(buffer[0], line[139]);

    // A marker in the dropped place is consumed like any other byte.
    MemorySource markerDropped(dataBytes(138));
    markerDropped.add({0x7F});
    markerDropped.add(dataBytes(2, 90));
    markerDropped.add({0x7C});
    EXPECT_EQ(readBlock(markerDropped, buffer, Keep), 138u);
    EXPECT_EQ(readBlock(markerDropped, buffer, Keep), 2u);
    EXPECT_EQ(buffer[0], 90);
}

struct MergeCase
{
    std::size_t N;
    std::size_t FromByte; // first frame byte replaced
    std::size_t Count; // how many replaced, from buffer byte 0
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

INSTANTIATE_TEST_SUITE_P(ByLength, MergeTable,
                         ::testing::Values(MergeCase {0, 0, 0}, MergeCase {1, 0, 0},
                                           MergeCase {3, 0, 0}, MergeCase {4, 0, 4},
                                           MergeCase {5, 0, 4}, MergeCase {70, 0, 4},
                                           MergeCase {132, 0, 4}, MergeCase {133, 4, 133},
                                           MergeCase {136, 4, 133}, MergeCase {137, 0, 137},
                                           MergeCase {138, 0, 137}));

TEST(Framing, HeaderAndSamplesAsSeparateBlocksMakeOneFrame)
{
    const auto whole = dataBytes(137, 3);
    MemorySource source({0x7C});
    source.add({whole.begin(), whole.begin() + 4});
    source.add({0x7D});
    source.add({whole.begin() + 4, whole.end()});
    source.add({0x7E});

    ScopeFrame frame;
    BlockBuffer buffer {};
    ASSERT_TRUE(readMarker(source));
    for (std::size_t expectedLength : {4u, 133u}) {
        const std::size_t n = readBlock(source, buffer, Keep);
        EXPECT_EQ(n, expectedLength);
        mergeBlock(buffer, n, frame);
    }
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), frame.Bytes.begin()));
    EXPECT_EQ(frame.Bytes[137], 0);

    // The line then falls silent: the empty block leaves the header alone, although the buffer
    // now starts with samples.
    const ScopeFrame before = frame;
    mergeBlock(buffer, readBlock(source, buffer, Keep), frame);
    EXPECT_EQ(frame, before);
}

} // namespace
