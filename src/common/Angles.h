#pragma once
// Angles in degrees brought into one turn. Every wrap in the program goes
// through these, so a direction that lands exactly on a range's open end,
// a negative zero or a value several turns out is treated the same way in
// the reduction, the calibration, the speckle measurement and the reports.
//
// std::fmod is exact, so a value already inside the range comes back
// unchanged, bit for bit, and so does the sign of a zero. A NaN or an
// infinity gives NaN.
#include <cmath>

namespace corvane {

// Into [0, 360): a direction counted from north or from the screen's +x.
// A value a hair below 0 whose turn rounds to 360 is 0.
template <typename T> T wrapDegrees360(T degrees) {
    T d = std::fmod(degrees, T(360));
    if (d < T(0))
        d += T(360);
    return d >= T(360) ? T(0) : d;
}

// Into (-180, 180]: a difference of two directions.
template <typename T> T wrapDegrees180(T degrees) {
    T d = std::fmod(degrees, T(360));
    if (d > T(180))
        d -= T(360);
    else if (d <= T(-180))
        d += T(360);
    return d;
}

// Into (-90, 270]: the range the reduction gives a drift direction in.
template <typename T> T wrapDriftDegrees(T degrees) {
    T d = std::fmod(degrees, T(360));
    if (d <= T(-90))
        d += T(360);
    if (d > T(270))
        d -= T(360);
    return d;
}

// Into (-90, 90]: an orientation, where a line and its reverse are one.
template <typename T> T wrapAxialDegrees(T degrees) {
    T d = std::fmod(degrees, T(180));
    if (d > T(90))
        d -= T(180);
    else if (d <= T(-90))
        d += T(180);
    return d;
}

// Into [0, 180): a line whose sense is unknown, by the smaller of its two
// directions.
template <typename T> T wrapLineDegrees(T degrees) {
    T d = std::fmod(degrees, T(180));
    if (d < T(0))
        d += T(180);
    return d >= T(180) ? T(0) : d;
}

// `degrees` moved by whole half turns to within (-90, 90] of `axis`: of the
// two directions along one line, the one nearer the axis. Only the half
// turns are added (the fold of the difference takes them off exactly), so
// an angle already near the axis comes back bit for bit.
template <typename T> T nearAxisDegrees(T degrees, T axis) {
    const T d = degrees - axis;
    return degrees - (d - wrapAxialDegrees(d));
}

} // namespace corvane
