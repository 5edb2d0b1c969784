#pragma once
// The columns of one row that lie on a star's far side from another: where
// (x - cx) * ux + ey * uy <= 0, (ux, uy) pointing at the other star. The
// halo and sky rings take only those pixels; a loop that tested every pixel
// of the row spent half its time on the near ones.
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvane {

// Whether column x of the row `ey` below the centre lies on the far side: the
// same sum, in the same order, as the per-pixel test it stands for.
inline bool onFarSide(int32_t x, double cx, double ey, double ux, double uy) {
    const double ex = x - cx;
    return !(ex * ux + ey * uy > 0);
}

struct ColumnRun {
    int32_t first = 0, last = -1; // inclusive; empty when last < first
};

// The far-side columns within [first, last]. The sum grows (or falls) with
// x, so they are one run: its end is put where the line crosses the row and
// then moved pixel by pixel until the test itself agrees on both sides.
inline ColumnRun farColumns(int32_t first, int32_t last, double cx, double ey, double ux,
                            double uy) {
    ColumnRun run{first, last};
    if (first > last)
        return run;
    if (ux == 0) { // the whole row lies on one side
        if (!onFarSide(first, cx, ey, ux, uy))
            run.last = first - 1;
        return run;
    }
    const double edge = cx - ey * uy / ux;
    if (std::isnan(edge))
        return run;
    const auto far = [&](int32_t x) { return onFarSide(x, cx, ey, ux, uy); };
    if (ux > 0) { // the far side is to the left
        double guess = std::floor(edge);
        guess = std::clamp(guess, static_cast<double>(first) - 1, static_cast<double>(last));
        int32_t x = static_cast<int32_t>(guess);
        while (x >= first && !far(x))
            --x;
        while (x < last && far(x + 1))
            ++x;
        run.last = x;
    } else { // to the right
        double guess = std::ceil(edge);
        guess = std::clamp(guess, static_cast<double>(first), static_cast<double>(last) + 1);
        int32_t x = static_cast<int32_t>(guess);
        while (x <= last && !far(x))
            ++x;
        while (x > first && far(x - 1))
            --x;
        run.first = x;
    }
    return run;
}

} // namespace corvane
