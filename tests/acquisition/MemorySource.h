#pragma once

#include "Framing.h"

#include <cstddef>
#include <deque>
#include <vector>

// Plays a recorded line to the framing rules: bytes, time-outs and failures in order, then
// time-outs for ever. Counts the reads so tests can see what was consumed.
class MemorySource final : public ByteSource
{
public:
    MemorySource() = default;
    explicit MemorySource(const std::vector<std::uint8_t> &bytes) { add(bytes); }

    void add(const std::vector<std::uint8_t> &bytes)
    {
        for (std::uint8_t byte : bytes)
            Reads.push_back({ReadStatus::Byte, byte});
    }
    void addTimeOut() { Reads.push_back({ReadStatus::TimedOut, 0}); }
    void addFailure() { Reads.push_back({ReadStatus::Failed, 0}); }
    void addInterruption() { Reads.push_back({ReadStatus::Interrupted, 0}); }

    ByteRead readByte() override
    {
        ++ReadCount;
        if (Reads.empty())
            return {ReadStatus::TimedOut, 0};
        const ByteRead read = Reads.front();
        Reads.pop_front();
        return read;
    }

    std::size_t remaining() const { return Reads.size(); }
    std::size_t readCount() const { return ReadCount; }

private:
    std::deque<ByteRead> Reads;
    std::size_t ReadCount = 0;
};

// count data bytes that are never markers, starting from a recognisable value.
using Bytes = std::vector<std::uint8_t>;

inline std::vector<std::uint8_t> dataBytes(std::size_t count, std::uint8_t first = 1)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>((first + i) % 0x7C);
    return bytes;
}
