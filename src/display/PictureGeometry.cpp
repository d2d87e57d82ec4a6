#include "PictureGeometry.h"

#include <algorithm>

PictureGeometry PictureGeometry::of(int width, int height, double widestPen)
{
    using namespace WaveformGeometry;
    PictureGeometry geometry;
    geometry.Width = std::max(width, 0);
    geometry.Height = std::max(height, 0);
    geometry.Fit = fitArea(width, height);
    // Stores the compiler must make: GCC 12, vectorising two such conversions side by side, was
    // seen to drop the rounding.
    const volatile float scaleX = static_cast<float>(geometry.Fit.Width / double(LogicalWidth));
    const volatile float scaleY = static_cast<float>(geometry.Fit.Height / double(LogicalHeight));
    geometry.ScaleX = scaleX;
    geometry.ScaleY = scaleY;
    geometry.TextColumn = geometry.columnPast(GraticuleMax + std::max(widestPen, 1.0) / 2 + 1) + 1;
    return geometry;
}
