#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A rectangle of device pixels: columns Left to Right - 1, rows Top to Bottom - 1.
struct PixelRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    bool empty() const { return Right <= Left || Bottom <= Top; }
    int width() const { return Right - Left; }
    int height() const { return Bottom - Top; }
    std::int64_t area() const { return empty() ? 0 : std::int64_t(width()) * height(); }
    PixelRect intersected(const PixelRect &other) const;
    // The bounds of both; an empty rectangle adds nothing.
    PixelRect united(const PixelRect &other) const;
    bool intersects(const PixelRect &other) const { return !intersected(other).empty(); }
    PixelRect translated(int dx, int dy) const
    {
        return {Left + dx, Top + dy, Right + dx, Bottom + dy};
    }
    friend bool operator==(const PixelRect &, const PixelRect &) = default;
};

// The device pixels a render changed, as a few rectangles that may overlap, and their bounds.
// Every rectangle a repaint copies costs a call per row, and a region of many pieces costs more
// to build and to clip by than it saves, so a region is kept only where it is worth it.
class ChangedRegion
{
public:
    // A trace's strips are kept as they are up to this many, else merged into this many runs.
    static constexpr std::size_t FewRuns = 16;
    // A region of more pieces, or one covering this share of its bounds or more, is replaced by
    // its bounds.
    static constexpr std::size_t MostPieces = 96;
    static constexpr int WorthNumerator = 4;
    static constexpr int WorthDenominator = 5;

    // The rule itself, for any region: pieces, the pixels they cover, the pixels of their bounds.
    static bool worthKeeping(std::size_t pieces, std::int64_t covered, std::int64_t boundsArea);

    void add(const PixelRect &rect);
    // Rectangles along a trace: as they are while few, else the bounds of FewRuns runs of
    // neighbours.
    void addRuns(const std::vector<PixelRect> &rects);
    void clear();
    // Becomes its bounds where the region is not worth keeping.
    void settle();

    const std::vector<PixelRect> &rects() const { return Rects; }
    const PixelRect &bounds() const { return Bounds; }
    bool empty() const { return Rects.empty(); }
    // The pixels covered at least once.
    std::int64_t coveredArea() const;

private:
    std::vector<PixelRect> Rects;
    PixelRect Bounds;
};
