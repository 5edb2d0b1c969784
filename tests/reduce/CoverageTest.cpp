// The reported standard errors against the truth: over many seeded runs of
// one simulated drift, the true separation and position angle must lie
// within two reported standard errors about as often as a normal error
// allows (95 %; the scale's error is estimated from 12 pixel-scale pairs, so
// somewhat less). Too rarely means the errors are too small, a result shown
// as surer than it is; too often means they are too large.
//
// The frames are the simulator's own truth (the drift at the sidereal rate,
// image motion that moves both stars alike) plus an independent centring
// error for each star, as a measuring method leaves it; measuring rendered
// videos instead costs far more per run for the same check of the reduction.
#include "Tables.h"
#include "support/CleanDrift.h"

#include "reduce/Reduction.h"
#include "sim/DriftSim.h"
#include "sim/Random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

using namespace corvane;

namespace {

constexpr int kRuns = 200;
// Share of runs with the truth within two standard errors.
constexpr double kMinCoverage = 0.90;
constexpr double kMaxCoverage = 0.98;

constexpr double kCentringErrorPx = 0.05; // per star and axis
constexpr uint64_t kCentringSalt = 0xC0E7u;

// The clean drift of the measuring tests, longer, faster and turned on the screen.
sim::DriftParams geometry(uint64_t seed) {
    sim::DriftParams p = test::cleanDrift(seed);
    p.frames = 200;
    p.fps = 25;
    p.rotationDeg = 20;
    p.jitterPx = 0.1;
    return p;
}

PairPositions measuredTable(const sim::DriftParams& p, const sim::Truth& truth) {
    PairPositions t;
    for (int n = 0; n < p.frames; ++n) {
        const sim::FrameTruth& f = truth.frames[static_cast<std::size_t>(n)];
        sim::Random centring(p.seed, kCentringSalt, static_cast<uint64_t>(n));
        PairPosition r;
        r.PrimaryX = static_cast<float>(f.primary.x + kCentringErrorPx * centring.gaussian());
        r.PrimaryY = static_cast<float>(f.primary.y + kCentringErrorPx * centring.gaussian());
        r.SecondaryX = static_cast<float>(f.secondary.x + kCentringErrorPx * centring.gaussian());
        r.SecondaryY = static_cast<float>(f.secondary.y + kCentringErrorPx * centring.gaussian());
        computeSeparationAndAngle(r);
        r.TimeMs = static_cast<int32_t>(std::lround(f.timeS * 1000.0));
        r.FrameNo = n;
        r.Valid = true;
        t.push_back(r);
    }
    return t;
}

double angleDifference(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180)
        d -= 360;
    if (d < -180)
        d += 360;
    return d;
}

} // namespace

TEST(Coverage, TruthLiesWithinTwoStandardErrorsAsOftenAsChanceAllows) {
    int sepCovered = 0, paCovered = 0;
    for (int run = 0; run < kRuns; ++run) {
        const sim::DriftParams p = geometry(5000 + static_cast<uint64_t>(run));
        const sim::Truth truth = sim::computeTruth(p);
        const ReductionResult r =
            reduce(measuredTable(p, truth), Orientation::CorrectOrInverted, "+30", "00", "00", '.');
        ASSERT_EQ(r.error, "") << "run " << run;
        const ReductionStatistics& s = r.statistics;
        if (std::fabs(r.separation.separation - truth.separationArcsec) <= 2 * s.separationStderr)
            ++sepCovered;
        if (std::fabs(angleDifference(r.regression.positionAngle, truth.positionAngleDeg)) <=
            2 * s.positionAngleStderr)
            ++paCovered;
    }
    const double sepShare = static_cast<double>(sepCovered) / kRuns;
    const double paShare = static_cast<double>(paCovered) / kRuns;
    std::printf("coverage over %d runs: separation %.3f, position angle %.3f\n", kRuns, sepShare,
                paShare);
    EXPECT_GE(sepShare, kMinCoverage);
    EXPECT_LE(sepShare, kMaxCoverage);
    EXPECT_GE(paShare, kMinCoverage);
    EXPECT_LE(paShare, kMaxCoverage);
}
