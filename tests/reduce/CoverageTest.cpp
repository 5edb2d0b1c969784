// The reported standard errors against the truth: over many seeded runs of
// one simulated drift, the true separation and position angle must lie
// within two reported standard errors about as often as a normal error
// allows (95 %, give or take the binomial spread of 200 runs, 1.5 %; the
// scale's error is estimated from 12 pixel-scale pairs, and correlated
// frames' errors from their few effective frames, so somewhat less). Too rarely means the errors
// are too small, a result shown as surer than it is; too often means they are too large.
//
// The frames are the simulator's own truth (the drift at the sidereal rate,
// image motion that moves both stars alike) plus a centring error for each
// star, as a measuring method leaves it; measuring rendered videos instead
// costs far more per run for the same check of the reduction. In a real
// video both the image motion and the centring errors last several frames,
// which the errors must allow for.
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
#include <vector>

using namespace corvane;

namespace {

constexpr int kRuns = 200;
// Share of runs with the truth within two standard errors.
constexpr double kMinCoverage = 0.90;
constexpr double kMaxCoverage = 0.98;

constexpr double kCentringErrorPx = 0.05; // per star and axis
constexpr uint64_t kCentringSalt = 0xC0E7u;

struct Frames {
    const char* name;
    // Correlation of the errors from one frame to the next (AR(1)); 0 draws
    // them afresh each frame.
    double centringCorrelation;
    double motionCorrelation; // image motion, shared by both stars
    // Every this many frames one is kNoisyFactor times as uncertain, and each
    // row carries its own error as the fits give it; 0: rows without errors.
    int noisyEvery = 0;
    double motionPx = 0.1; // image motion's sigma per axis
};

constexpr double kNoisyFactor = 6;

// The clean drift of the measuring tests, longer, faster and turned on the
// screen; its own image motion is independent from frame to frame.
sim::DriftParams geometry(uint64_t seed, const Frames& c) {
    sim::DriftParams p = test::cleanDrift(seed);
    p.frames = 200;
    p.fps = 25;
    p.rotationDeg = 20;
    p.jitterPx = c.motionCorrelation > 0 ? 0.0 : c.motionPx;
    return p;
}

// An AR(1) series of unit variance: each value keeps `phi` of the last.
struct Persistent {
    double phi, value = 0;
    bool started = false;
    double next(sim::Random& rng) {
        value = started ? phi * value + std::sqrt(1 - phi * phi) * rng.gaussian() : rng.gaussian();
        started = true;
        return value;
    }
};

PairPositions measuredTable(const sim::DriftParams& p, const sim::Truth& truth, const Frames& c) {
    PairPositions t;
    std::vector<Persistent> centre(4, Persistent{c.centringCorrelation});
    std::vector<Persistent> motion(2, Persistent{c.motionCorrelation});
    const double motionPx = c.motionCorrelation > 0 ? c.motionPx : 0.0;
    for (int n = 0; n < p.frames; ++n) {
        const sim::FrameTruth& f = truth.frames[static_cast<std::size_t>(n)];
        sim::Random centring(p.seed, kCentringSalt, static_cast<uint64_t>(n));
        const double e[4] = {centre[0].next(centring), centre[1].next(centring),
                             centre[2].next(centring), centre[3].next(centring)};
        const double sigma =
            kCentringErrorPx * (c.noisyEvery > 0 && n % c.noisyEvery == 0 ? kNoisyFactor : 1);
        const double mx = motionPx * motion[0].next(centring);
        const double my = motionPx * motion[1].next(centring);
        PairPosition r;
        r.PrimaryX = static_cast<float>(f.primary.x + mx + sigma * e[0]);
        r.PrimaryY = static_cast<float>(f.primary.y + my + sigma * e[1]);
        r.SecondaryX = static_cast<float>(f.secondary.x + mx + sigma * e[2]);
        r.SecondaryY = static_cast<float>(f.secondary.y + my + sigma * e[3]);
        computeSeparationAndAngle(r);
        if (c.noisyEvery > 0) { // the offset's error, along and across it
            r.SepPixelsError = static_cast<float>(std::sqrt(2.0) * sigma);
            r.ScreenAngleError = static_cast<float>(r.SepPixelsError / r.SepPixels * 180 / M_PI);
        }
        r.TimeUs = 1000 * std::lround(f.timeS * 1000.0);
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

class Coverage : public ::testing::TestWithParam<Frames> {};

} // namespace

TEST_P(Coverage, TruthLiesWithinTwoStandardErrorsAsOftenAsChanceAllows) {
    int sepCovered = 0, paCovered = 0;
    for (int run = 0; run < kRuns; ++run) {
        const sim::DriftParams p = geometry(5000 + static_cast<uint64_t>(run), GetParam());
        const sim::Truth truth = sim::computeTruth(p);
        const ReductionResult r =
            reduce(measuredTable(p, truth, GetParam()), Orientation::CorrectOrInverted, 30.0L);
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

INSTANTIATE_TEST_SUITE_P(
    Frames, Coverage,
    ::testing::Values(Frames{"independent_frames", 0, 0},
                      Frames{"centring_errors_lasting_frames", 0.8, 0},
                      Frames{"image_motion_and_centring_errors_lasting_frames", 0.5, 0.7},
                      Frames{"slow_image_motion", 0.5, 0.95},
                      Frames{"frames_weighed_by_their_own_errors", 0, 0, 4},
                      // Through the atmosphere the images move far more
                      // than a method misplaces them, for a few frames.
                      Frames{"image_motion_ten_times_the_centring_errors", 0.5, 0.7, 0, 0.5}),
    [](const auto& info) { return std::string(info.param.name); });
