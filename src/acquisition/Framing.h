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

// Failed: the device failed. Interrupted: the host cut the read short (a port hand-over or a
// close), which is no event on the line.
enum class ReadStatus { Byte, TimedOut, Interrupted, Failed };

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

// One block's data bytes as read into the buffer.
struct Block
{
    std::size_t Size = 0; // n, 0 to 138
    // Ended by a failed or interrupted read or a cleared keepReceiving rather than by the line.
    // The instrument never framed such a block, and its length says nothing of what it holds: a
    // whole frame cut four bytes early would pass for a samples part and be stored shifted.
    bool Cut = false;
};

// Reads the data bytes of one block into the buffer. The line ends a block with a marker
// (consumed: it opens the next block), with a read that times out, or with the byte that arrives
// when n is already 138 (consumed and dropped, marker or not). A failed or interrupted read, or
// keepReceiving found cleared before a read, cuts it. Buffer bytes from n on keep what earlier
// blocks left there.
Block readBlock(ByteSource &source, BlockBuffer &buffer, const std::atomic<bool> &keepReceiving);

// Merges a block of n bytes into the frame by its length: 137 or 138 replace bytes 0-136 (a whole
// frame), 133 to 136 replace bytes 4-136 with the samples part, 4 to 132 replace the header (bytes
// 0-3). A block of fewer than 4 bytes replaces header bytes 0 to n-1 only. Byte 137 is never
// written.
void mergeBlock(const BlockBuffer &buffer, std::size_t n, ScopeFrame &frame);

// What became of the port while a host ran a read on it under its lock.
enum class PortAccess {
    Read, // the read ran on the open port
    NoPort, // no port was open: nothing was read
    Replaced, // another port was opened since the hunt found its marker: nothing was read
    Lost, // the device failed during the read; the host has released the port and recorded why
};

// What a read under the port's lock is for: a block belongs to the port whose marker opened it.
enum class PortUse { Hunt, Block };

// The receive loop: waits for acquisition to run, hunts for a marker, then reads, stores and
// announces block after block while acquisition runs. The receive thread runs it on its port, the
// fuzzer on a line in memory. A Host provides:
//   const std::atomic<bool> &keepReceiving();  cleared to end the loop
//   void waitForRun();                         blocks until acquisition runs (or the loop ends)
//   bool isRunning();                          the same without waiting
//   PortAccess withPort(Read &&read, PortUse); calls read(ByteSource &) on the open port under
//                                              the port's lock, if there is a port and, for a
//                                              block, it is the port of the last hunt
//   void merge(const BlockBuffer &, std::size_t n);  stores a block into the latest frame; called
//                                              inside read, so under the port's lock
//   void announce(std::size_t n);              a block of n bytes was stored
//   void reportLost();                         once per lost device, after the port's lock is
//                                              released
//   void pauseWithoutPort();                   waits between hunting reads while no port is open
template<class Host>
void receiveLoop(Host &host)
{
    const std::atomic<bool> &keepReceiving = host.keepReceiving();
    BlockBuffer blockBuffer {};

    while (keepReceiving.load()) {
        host.waitForRun();
        if (!keepReceiving.load())
            break;

        bool found = false;
        const PortAccess hunt =
            host.withPort([&](ByteSource &source) { found = readMarker(source); }, PortUse::Hunt);
        if (hunt == PortAccess::Lost) {
            host.reportLost();
            continue;
        }
        if (hunt == PortAccess::NoPort)
            host.pauseWithoutPort();
        if (!found)
            continue;

        // The lock is released between blocks, so openPort() may take the port away or put
        // another in its place; there is no block to announce then. A new port's first bytes
        // are from the middle of some frame, so it is hunted on first. A cut block is dropped,
        // neither stored nor announced: the latest frame keeps the last block the line ended.
        // The bytes after a cut belong to the same frame, so the thread hunts again.
        while (keepReceiving.load() && host.isRunning()) {
            Block block;
            const PortAccess access = host.withPort(
                [&](ByteSource &source) {
                    block = readBlock(source, blockBuffer, keepReceiving);
                    if (!block.Cut)
                        host.merge(blockBuffer, block.Size);
                },
                PortUse::Block);
            if (access == PortAccess::NoPort || access == PortAccess::Replaced)
                break;
            if (access == PortAccess::Lost) {
                host.reportLost();
                break;
            }
            if (block.Cut)
                break;
            host.announce(block.Size);
        }
    }
}
