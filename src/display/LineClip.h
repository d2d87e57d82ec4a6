#pragma once

// Cutting a line's far ends off before it is rasterised: in double, before any slope or integer
// is formed, so that coordinates of any size become coordinates of the picture's size.
namespace LineClip {

// v into [low, high]; NaN, which only an overflowing end can give, to low.
inline double clampToReach(double v, double low, double high)
{
    return v > low ? (v < high ? v : high) : low;
}

// The logical interval [from, to] whose device coordinate v * scale + offset lies in [low, high];
// a bound past the doubles is infinite, as it should be. False when no logical value maps there.
bool logicalReach(double scale, double offset, double low, double high, double &from, double &to);

// Clips the logical line from (u1, v1) to (u2, v2), which runs at least as far along u as along
// v, to u in [uFrom, uTo] and v in [vFrom, vTo]: false when nothing is left, else its ends in
// order. Measured along u with a slope of at most 1, the clipped ends keep the line's place as
// exactly as the ends give it, however far they lie; halves stand in for a difference that
// overflows.
bool clipAlongMajorAxis(double u1, double v1, double u2, double v2, double uFrom, double uTo,
                        double vFrom, double vTo, double (&ends)[4]);

} // namespace LineClip
