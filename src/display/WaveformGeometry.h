#pragma once

#include <cstdint>

// The layout of the picture in its 640 by 480 logical space and the 4:3 fit of that space into a
// bitmap. Every division truncates, so the picture lands on the same pixels whatever computes it.
namespace WaveformGeometry {

constexpr int LogicalWidth = 640;
constexpr int LogicalHeight = 480;

constexpr int GraticuleMin = 8;
constexpr int GraticuleMax = 448;
constexpr int GraticuleSide = GraticuleMax - GraticuleMin;
constexpr int Division = 55;

constexpr int TextLeft = 460;
constexpr int TextFirstTop = 8;
constexpr int TextLineStep = 24;
constexpr int TextLineCount = 8;

constexpr int SampleCount = 128;

constexpr int traceX(int index)
{
    return GraticuleMin + (GraticuleSide * index) / SampleCount;
}

// Only the low six bits of a sample byte carry the value.
constexpr int traceY(std::uint8_t sample)
{
    return GraticuleMax - (GraticuleSide * (sample & 0x3F)) / 64;
}

constexpr int textTop(int line)
{
    return TextFirstTop + TextLineStep * line;
}

// The picture's colours as 0xAARRGGBB, its pens' dash pattern in pen widths and the overlay's
// face and size in points.
constexpr std::uint32_t BackgroundColour = 0xFF000040;
constexpr std::uint32_t TraceColour = 0xFF64FF64;
constexpr std::uint32_t GraticuleColour = 0xFF0050B4;
constexpr std::uint32_t TextColour = 0xFFFFFFC8;
constexpr float GridDash = 4.0F;
constexpr float GridGap = 4.0F;
constexpr float TextPoints = 16.0F;
constexpr char16_t TextFace[] = u"Times New Roman";

struct Area
{
    int Width = 0;
    int Height = 0;
    friend constexpr bool operator==(const Area &, const Area &) = default;
};

// The largest 4:3 area anchored at the top-left corner of a width x height bitmap.
constexpr Area fitArea(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    const long long w = width;
    const long long h = height;
    if (3 * w > 4 * h)
        return {static_cast<int>((4 * h) / 3), height};
    return {width, static_cast<int>((3 * w) / 4)};
}

} // namespace WaveformGeometry
