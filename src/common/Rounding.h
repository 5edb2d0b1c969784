#pragma once
// Rounding rules used wherever a number becomes an integer or is shown.
#include <cmath>
#include <cstdint>

namespace corvane {

// Nearest integer, exact halves to the even one (6.5 -> 6, 7.5 -> 8).
// std::nearbyint follows the current rounding mode, which the program never
// changes from round-to-nearest-even.
inline long double round_half_even(long double v) {
    return std::nearbyint(v);
}

// round_half_even to a 32-bit integer. The caller keeps v within range.
inline int32_t roundToInt(long double v) {
    return static_cast<int32_t>(std::nearbyint(v));
}

// A value shown with `decimals` decimals: divide by f = 10^-decimals (a 64-bit
// float), round half to even, multiply back. Written afterwards with
// formatGeneral, so trailing zeros disappear (2.0000 shows as "2").
inline double displayRound(long double value, int decimals) {
    const double f = std::pow(10.0, -decimals);
    return static_cast<double>(round_half_even(value / f) * f);
}

// The number a value shown with `decimals` decimals reads back as: the
// nearest double to the rounded decimal, a zero without sign. The same as
// reading the text of displayRound back, without the text.
inline double shownValue(long double value, int decimals) {
    const double f = std::pow(10.0, -decimals);
    return static_cast<double>(round_half_even(value / f)) / std::pow(10.0, decimals) + 0.0;
}

// Microseconds as whole milliseconds, halves to the even one: the times the
// files and read-outs give in milliseconds. Exact for any 64-bit count.
inline int64_t millisecondsOf(int64_t micros) {
    return static_cast<int64_t>(std::nearbyint(static_cast<long double>(micros) / 1000.0L));
}

} // namespace corvane
