#pragma once

#include <optional>

// Where a dialog goes when it opens, for every front-end: its centre on the centre of the
// owner's window rectangle (or of the work area when there is no usable owner), then moved into
// the work area: right edge first, then left, so a dialog wider than the area lines up with its
// left edge; the same for bottom, then top. Centres and half sizes use integer division.
namespace DialogPlacementRule {

// Right and bottom edges are exclusive: Left + Width is the first column outside.
struct Rect
{
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

struct Point
{
    int X = 0;
    int Y = 0;
    friend constexpr bool operator==(const Point &, const Point &) = default;
};

Point position(int dialogWidth, int dialogHeight, const std::optional<Rect> &owner,
               const Rect &workArea);

} // namespace DialogPlacementRule
