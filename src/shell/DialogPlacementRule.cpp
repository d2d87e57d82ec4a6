#include "DialogPlacementRule.h"

namespace DialogPlacementRule {

Point position(int dialogWidth, int dialogHeight, const std::optional<Rect> &owner,
               const Rect &workArea)
{
    const Rect centre = owner.value_or(workArea);
    const int xMiddle = (centre.Left + centre.Left + centre.Width) / 2;
    const int yMiddle = (centre.Top + centre.Top + centre.Height) / 2;
    int x = xMiddle - dialogWidth / 2;
    int y = yMiddle - dialogHeight / 2;

    const int areaRight = workArea.Left + workArea.Width;
    const int areaBottom = workArea.Top + workArea.Height;
    if (x + dialogWidth > areaRight)
        x = areaRight - dialogWidth;
    if (x < workArea.Left)
        x = workArea.Left;
    if (y + dialogHeight > areaBottom)
        y = areaBottom - dialogHeight;
    if (y < workArea.Top)
        y = workArea.Top;
    return {x, y};
}

} // namespace DialogPlacementRule
