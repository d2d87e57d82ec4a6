#pragma once

#include "WaveformGeometry.h"

#include <cmath>

// Where a picture of one size and look lands on its pixels: the 4:3 area, the two scales and
// the first column the texts may use. Worked out once per look, so that every part of every
// render, cached or in one pass, draws at exactly the same numbers.
struct PictureGeometry
{
    int Width = 0;
    int Height = 0;
    WaveformGeometry::Area Fit;
    // Computed in double, held at single precision, as the picture's numbers are defined.
    double ScaleX = 0;
    double ScaleY = 0;
    // The first column right of everything the graticule and the trace can touch.
    int TextColumn = 0;

    // widestPen: the widest of the look's pens, in logical units.
    static PictureGeometry of(int width, int height, double widestPen);

    bool empty() const { return Fit.Width == 0 || Fit.Height == 0; }
    // Pixel centres lie at half coordinates: the logical point (x, y) lands on the centre of
    // pixel (x * sx, y * sy), so unit-wide lines at integer coordinates stay one pixel crisp.
    double deviceX(double logical) const { return logical * ScaleX + 0.5; }
    double deviceY(double logical) const { return logical * ScaleY + 0.5; }
    // The device column a logical x (or width) reaches, rounded outwards by the anti-aliasing
    // fringe.
    int columnPast(double logical) const { return int(std::ceil(deviceX(logical))) + 2; }
};
