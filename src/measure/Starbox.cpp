#include "measure/Starbox.h"

#include "common/Rounding.h"

#include <algorithm>
#include <cstddef>

namespace corvane {

namespace {

struct Sums {
    float sx = 0.0f; // sum of v * c, each addition rounded to 32 bits
    float sy = 0.0f; // sum of v * r
    int32_t w = 0;   // sum of v
};

// The light of a pixel above the sky; a pixel at or below the sky has none.
int32_t aboveSky(int32_t v, int32_t sky) {
    return v > sky ? v - sky : 0;
}

// A row's light and its light times the column, in integers.
struct RowSums {
    int64_t w = 0, x = 0;
};

// Up to this side a row's sums fit 32 bits (65535 times 0 + 1 + ... + 255 is
// below 2^32), which lets the loop run on several pixels at once.
constexpr int32_t kNarrowRowSide = 256;

RowSums rowSums(const uint16_t* row, int32_t size, int32_t sky) {
    if (size <= kNarrowRowSide) {
        uint32_t w = 0, x = 0;
        for (int32_t c = 0; c < size; ++c) {
            const uint32_t v = static_cast<uint32_t>(std::max<int32_t>(row[c] - sky, 0));
            w += v;
            x += v * static_cast<uint32_t>(c);
        }
        return {w, x};
    }
    RowSums s;
    for (int32_t c = 0; c < size; ++c) {
        const int32_t v = aboveSky(row[c], sky);
        s.w += v;
        s.x += static_cast<int64_t>(v) * c;
    }
    return s;
}

// Largest integer up to which every integer is a float: below it, adding
// whole numbers to a float sum rounds nothing.
constexpr int64_t kExactFloatLimit = int64_t{1} << 24;

// Rows outer, columns inner: the float sums depend on this order. Each row's
// contribution is first summed in integers; while the running sums stay within
// kExactFloatLimit, adding it at once gives exactly the float that adding its
// pixels one by one gives (no addition rounds). From the first row that would
// pass the limit on, the pixels are added one by one.
Sums weightedSumsInside(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size,
                        int32_t sky) {
    Sums s;
    bool exact = true;
    for (int32_t r = 0; r < size; ++r) {
        const uint16_t* row = plane.row(top + r, left, left + size) + left;
        if (exact) {
            const RowSums rs = rowSums(row, size, sky);
            const int64_t rowW = rs.w, rowX = rs.x;
            const int64_t newX = static_cast<int64_t>(s.sx) + rowX;
            const int64_t newY = static_cast<int64_t>(s.sy) + rowW * r;
            if (newX <= kExactFloatLimit && newY <= kExactFloatLimit) {
                s.sx = static_cast<float>(newX);
                s.sy = static_cast<float>(newY);
                s.w += static_cast<int32_t>(rowW);
                continue;
            }
            exact = false;
        }
        for (int32_t c = 0; c < size; ++c) {
            const int32_t v = aboveSky(row[c], sky);
            s.sx += static_cast<float>(v * c);
            s.sy += static_cast<float>(v * r);
            s.w += v;
        }
    }
    return s;
}

Sums weightedSumsAnywhere(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size,
                          int32_t sky) {
    Sums s;
    for (int32_t r = 0; r < size; ++r) {
        for (int32_t c = 0; c < size; ++c) {
            const int32_t v = aboveSky(plane.at(left + c, top + r), sky);
            s.sx += static_cast<float>(v * c);
            s.sy += static_cast<float>(v * r);
            s.w += v;
        }
    }
    return s;
}

// v rounded to the nearest multiple of 0.001 (ties to even), kept as a float.
float round3(long double v) {
    return static_cast<float>(static_cast<double>(round_half_even(v / 0.001L)) * 0.001);
}

} // namespace

void TStarbox::updatesize() {
    Size = Right - Left;
}

int32_t TStarbox::getsize() {
    updatesize();
    return Size;
}

void TStarbox::place(int32_t x, int32_t y, int32_t size) {
    const int32_t h = roundToInt(static_cast<long double>(size) / 2);
    Left = x - h;
    Top = y - h;
    Right = x + h;
    Bottom = y + h;
    updatesize();
}

void TStarbox::centreat(int32_t x, int32_t y) {
    const int32_t h = roundToInt(static_cast<long double>(Size) / 2);
    Left = x - h;
    Top = y - h;
    Right = x + h;
    Bottom = y + h;
    CentreX = x;
    CentreY = y;
}

bool TStarbox::measure(const IntensityPlane& plane, int passes, uint16_t sky) {
    if (passes < 1)
        return false; // nothing was looked at, so no light was found
    bool ok = true;
    long double mx = 0, my = 0;
    int32_t lastLeft = Left, lastTop = Top;
    for (int pass = 0; pass < passes; ++pass) {
        const Sums s = plane.holds(Left, Top, Size)
                           ? weightedSumsInside(plane, Left, Top, Size, sky)
                           : weightedSumsAnywhere(plane, Left, Top, Size, sky);
        if (s.w == 0) {
            // No light: the box stays; every later pass on this picture finds none either.
            ok = false;
            continue;
        }
        lastLeft = Left;
        lastTop = Top;
        mx = static_cast<long double>(s.sx) / s.w;
        my = static_cast<long double>(s.sy) / s.w;
        centreat(roundToInt(mx) + lastLeft, roundToInt(my) + lastTop);
    }
    if (ok) {
        FineX = round3(mx + lastLeft);
        FineY = round3(my + lastTop);
    }
    return ok;
}

} // namespace corvane
