#include "LineClip.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace LineClip {

// The logical interval [from, to] whose device coordinate v * scale + offset lies in [low, high];
// a bound past the doubles is infinite, as it should be. False when no logical value maps there.
bool logicalReach(double scale, double offset, double low, double high, double &from, double &to)
{
    if (scale == 0) {
        from = -std::numeric_limits<double>::infinity();
        to = std::numeric_limits<double>::infinity();
        return offset >= low && offset <= high;
    }
    from = (low - offset) / scale;
    to = (high - offset) / scale;
    if (scale < 0)
        std::swap(from, to);
    return true;
}

// Clips the logical line from (u1, v1) to (u2, v2), which runs at least as far along u as along
// v, to u in [uFrom, uTo] and v in [vFrom, vTo]: false when nothing is left, else its ends in
// order. Measured along u with a slope of at most 1, the clipped ends keep the line's place as
// exactly as the ends give it, however far they lie; halves stand in for a difference that
// overflows.
bool clipAlongMajorAxis(double u1, double v1, double u2, double v2, double uFrom, double uTo,
                        double vFrom, double vTo, double (&ends)[4])
{
    const double du = u2 - u1;
    const double dv = v2 - v1;
    const double slope = std::isfinite(du) && std::isfinite(dv)
        ? dv / du
        : (v2 * 0.5 - v1 * 0.5) / (u2 * 0.5 - u1 * 0.5);
    double ua = std::max(std::min(u1, u2), uFrom);
    double ub = std::min(std::max(u1, u2), uTo);
    if (slope == 0) {
        if (!(v1 >= vFrom && v1 <= vTo))
            return false;
    } else {
        // From the nearer end: the farther one may lie so far that the point is lost in the
        // rounding of its coordinates.
        const auto uAt = [&](double v) {
            return std::abs(v - v1) <= std::abs(v - v2) ? u1 + (v - v1) / slope
                                                        : u2 + (v - v2) / slope;
        };
        const double atFrom = uAt(vFrom);
        const double atTo = uAt(vTo);
        ua = std::max(ua, std::min(atFrom, atTo));
        ub = std::min(ub, std::max(atFrom, atTo));
    }
    if (!(ua < ub))
        return false;
    const auto vAt = [&](double u) {
        const bool first = std::abs(u * 0.5 - u1 * 0.5) <= std::abs(u * 0.5 - u2 * 0.5);
        const double base = first ? u1 : u2;
        const double run = u - base;
        return (first ? v1 : v2)
            + (std::isfinite(run) ? run * slope : 2 * ((u * 0.5 - base * 0.5) * slope));
    };
    if (u1 > u2)
        std::swap(ua, ub);
    ends[0] = ua;
    ends[1] = vAt(ua);
    ends[2] = ub;
    ends[3] = vAt(ub);
    return true;
}

} // namespace LineClip
