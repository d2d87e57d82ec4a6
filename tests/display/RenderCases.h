#pragma once

#include "ScopeFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// Frames and picture sizes that both front-ends' renderer tests draw, so that the two platforms
// are held to the same cases.
namespace RenderCases {

struct Size
{
    int Width = 0;
    int Height = 0;
};

// Equal and unequal scales, a maximised 1080p window's view among them.
inline const std::vector<Size> EqualitySizes = {{640, 480}, {1000, 600},  {641, 481}, {1920, 1080},
                                                {961, 601}, {1916, 1006}, {160, 120}, {250, 190}};
// Near 4K, where the texts are large enough to be drawn from their outlines and the least
// difference in scale shows; with equal and with unequal scales.
inline const std::vector<Size> LargeSizes = {{3836, 2049}, {3836, 2050}, {2556, 1330}};

inline ScopeFrame constantFrame(std::uint8_t sample)
{
    ScopeFrame frame;
    std::fill_n(frame.Bytes.begin() + ScopeFrame::FirstSample, ScopeFrame::SampleCount, sample);
    return frame;
}

// A trace zigzagging between two sample values.
inline ScopeFrame zigzagFrame(std::uint8_t low, std::uint8_t high)
{
    ScopeFrame frame;
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
        frame.Bytes[ScopeFrame::FirstSample + i] = i % 2 ? high : low;
    return frame;
}

// Every byte random, header included.
inline ScopeFrame noiseFrame(std::mt19937 &generator)
{
    ScopeFrame frame;
    for (auto &byte : frame.Bytes)
        byte = static_cast<std::uint8_t>(generator());
    return frame;
}

// A slow sine across the graticule.
inline ScopeFrame sineFrame()
{
    ScopeFrame frame;
    for (std::size_t i = 0; i < ScopeFrame::SampleCount; ++i)
        frame.Bytes[ScopeFrame::FirstSample + i] =
            static_cast<std::uint8_t>(std::lround(32 + 25 * std::sin(double(i) / 10.0)));
    return frame;
}

// What the equality tests draw in turn: empty, sine, two noises, the top sample.
inline std::vector<ScopeFrame> equalityFrames()
{
    std::mt19937 generator(3);
    const ScopeFrame noise = noiseFrame(generator);
    const ScopeFrame otherNoise = noiseFrame(generator);
    return {{}, sineFrame(), noise, otherNoise, constantFrame(0x3F)};
}

} // namespace RenderCases
