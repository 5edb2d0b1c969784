#pragma once
// Measured positions built for the reduction tests: a primary that drifts along a
// straight line at a steady rate, a secondary at a fixed screen offset from it.
#include "measure/FrameTable.h"
#include "reduce/Positions.h"
#include "sim/Random.h"

#include <cmath>
#include <cstdint>

namespace corvane {

// The separation and screen angle of a row exactly as a measuring method
// stores them with its positions.
inline void computeSeparationAndAngle(PairPosition& p) {
    FrameRow r;
    r.PrimaryX = p.PrimaryX;
    r.PrimaryY = p.PrimaryY;
    r.SecondaryX = p.SecondaryX;
    r.SecondaryY = p.SecondaryY;
    computeSeparationAndAngle(r);
    p.SepPixels = r.SepPixels;
    p.ScreenAngle = r.ScreenAngle;
}

} // namespace corvane

namespace corvane::test {

struct Drift {
    int32_t rows = 32; // valid rows
    double startX = 100, startY = 200;
    double directionDeg = 0; // counter-clockwise from screen +x, y upwards
    double pixelsPerRow = 5;
    int32_t msPerRow = 500;
    double offsetX = 20, offsetY = 0; // secondary - primary, screen coordinates
};

inline PairPosition rowAt(const Drift& d, int32_t i) {
    const double a = d.directionDeg * M_PI / 180.0;
    PairPosition r;
    r.PrimaryX = static_cast<float>(d.startX + i * d.pixelsPerRow * std::cos(a));
    r.PrimaryY = static_cast<float>(d.startY - i * d.pixelsPerRow * std::sin(a));
    r.SecondaryX = static_cast<float>(r.PrimaryX + d.offsetX);
    r.SecondaryY = static_cast<float>(r.PrimaryY + d.offsetY);
    computeSeparationAndAngle(r);
    r.TimeUs = int64_t{i} * d.msPerRow * 1000;
    r.FrameNo = i;
    r.Valid = true;
    return r;
}

inline PairPositions driftTable(const Drift& d) {
    PairPositions t;
    for (int32_t i = 0; i < d.rows; ++i)
        t.push_back(rowAt(d, i));
    return t;
}

// The same drift with a Gaussian centring error (sigma in pixels, per star and
// axis) added to every position, as a measuring method leaves it.
inline PairPositions noisyDriftTable(const Drift& d, double sigma, uint64_t seed) {
    PairPositions t = driftTable(d);
    for (PairPosition& r : t) {
        sim::Random rng(seed, 0x7AB1E, static_cast<uint64_t>(r.FrameNo));
        r.PrimaryX = static_cast<float>(r.PrimaryX + sigma * rng.gaussian());
        r.PrimaryY = static_cast<float>(r.PrimaryY + sigma * rng.gaussian());
        r.SecondaryX = static_cast<float>(r.SecondaryX + sigma * rng.gaussian());
        r.SecondaryY = static_cast<float>(r.SecondaryY + sigma * rng.gaussian());
        computeSeparationAndAngle(r);
    }
    return t;
}

} // namespace corvane::test
