#include "Framing.h"

#include <algorithm>

namespace {

constexpr std::size_t HeaderSize = 4;
constexpr std::size_t SamplesPartSize = 133; // 128 samples and the 5-byte tail
constexpr std::size_t FrameDataSize = 137;

} // namespace

bool readMarker(ByteSource &source)
{
    const ByteRead read = source.readByte();
    return read.Status == ReadStatus::Byte && isMarker(read.Value);
}

Block readBlock(ByteSource &source, BlockBuffer &buffer, const std::atomic<bool> &keepReceiving)
{
    Block block;
    while (keepReceiving.load()) {
        const ByteRead read = source.readByte();
        if (read.Status == ReadStatus::TimedOut)
            return block;
        if (read.Status != ReadStatus::Byte)
            break;
        if (isMarker(read.Value) || block.Size == BlockCapacity)
            return block;
        buffer[block.Size++] = read.Value;
    }
    block.Cut = true;
    return block;
}

void mergeBlock(const BlockBuffer &buffer, std::size_t n, ScopeFrame &frame)
{
    const auto from = buffer.begin();
    if (n >= FrameDataSize)
        std::copy_n(from, FrameDataSize, frame.Bytes.begin());
    else if (n >= SamplesPartSize)
        std::copy_n(from, SamplesPartSize, frame.Bytes.begin() + HeaderSize);
    else // only the bytes a short block brought: those after them are older, maybe samples
        std::copy_n(from, std::min(n, HeaderSize), frame.Bytes.begin());
}
