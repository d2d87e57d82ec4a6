#pragma once

#include "ScopeFrame.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>

// The frames the benchmarks draw, two of each kind so that each frame differs from the last.
namespace BenchFrames {

inline std::array<ScopeFrame, 2> framesWith(int (*sampleAt)(std::size_t index,
                                                            std::mt19937 &generator))
{
    std::mt19937 generator(7);
    std::array<ScopeFrame, 2> frames;
    for (ScopeFrame &frame : frames) {
        frame.Bytes[0] = 0x18;
        frame.Bytes[1] = 0x05;
        for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
            frame.Bytes[ScopeFrame::FirstSample + i] =
                static_cast<std::uint8_t>(sampleAt(i, generator) & 0x3F);
    }
    return frames;
}

// What the instrument usually shows: two periods of a sine at two thirds of full scale, with
// a little noise.
inline std::array<ScopeFrame, 2> signalFrames()
{
    return framesWith([](std::size_t index, std::mt19937 &generator) {
        std::uniform_int_distribution<int> noise(-1, 1);
        const double phase = 2 * 3.14159265358979 * 2 * static_cast<double>(index) / 128;
        return static_cast<int>(std::lround(32 + 20 * std::sin(phase))) + noise(generator);
    });
}

// The worst case for the trace: full-swing noise, every segment spans the screen's height.
inline std::array<ScopeFrame, 2> noiseFrames()
{
    return framesWith([](std::size_t, std::mt19937 &generator) {
        return std::uniform_int_distribution<int>(0, 63)(generator);
    });
}

} // namespace BenchFrames
