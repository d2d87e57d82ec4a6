#pragma once

#include "ScopeFrame.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

// The rules that cut the instrument's byte stream into blocks and merge each block into the latest
// frame. They do no I/O: the receive thread feeds them from its port, tests and the fuzzer from
// memory, so both drive exactly the same code.
//
// Bytes are dropped in two places on purpose. While hunting, everything before a marker belongs to
// a frame whose start was missed (the port opened or acquisition resumed mid-frame); storing it
// would put samples into the header. A block that grows past 138 bytes lost its next marker on the
// line; its 139th byte is dropped so that the block cannot overrun the buffer, and the bytes after
// it form the next block, which realigns at the following marker.

enum class ReadStatus { Byte, TimedOut, Failed };

struct ByteRead
{
    ReadStatus Status = ReadStatus::Failed;
    std::uint8_t Value = 0;
};

// One byte at a time, no read-ahead: a time-out or a failure ends whatever is being read.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual ByteRead readByte() = 0;
};

// The longest block that is collected; one byte more than a whole frame's data.
constexpr std::size_t BlockCapacity = 138;
using BlockBuffer = std::array<std::uint8_t, BlockCapacity>;

// Bits 2 to 6 all set: 0x7C to 0x7F on a 7-bit line. Bits 0, 1 and 7 do not matter.
constexpr bool isMarker(std::uint8_t byte)
{
    return (byte & 0x7C) == 0x7C;
}

// One hunting read: true only when a byte arrived and it is a marker. Any other byte is dropped.
bool readMarker(ByteSource &source);

// Reads the data bytes of one block into the buffer and answers their count n (0 to 138). The block
// ends on a failed or timed-out read, on a marker (consumed: it opens the next block), when
// keepReceiving is found cleared before a read, or with the byte that arrives when n is already 138
// (consumed and dropped, marker or not). Buffer bytes from n on keep what earlier blocks left
// there.
std::size_t readBlock(ByteSource &source, BlockBuffer &buffer,
                      const std::atomic<bool> &keepReceiving);

// Merges a block of n bytes into the frame by its length: 137 or 138 replace bytes 0-136 (a whole
// frame), 133 to 136 replace bytes 4-136 with the samples part, 4 to 132 replace the header (bytes
// 0-3). A block of fewer than 4 bytes carries no complete header and changes nothing. Byte 137 is
// never written.
void mergeBlock(const BlockBuffer &buffer, std::size_t n, ScopeFrame &frame);
