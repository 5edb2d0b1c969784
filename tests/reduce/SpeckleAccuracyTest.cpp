// Speckle measurements of pairs the seeing simulator renders through
// Kolmogorov turbulence (short exposures without blur, a single turbulent
// layer so that both stars share it, 2.5 pixels per lambda/D), divided by a
// single star recorded the same way, and put on the sky with the camera's
// scale and orientation. CI runs a few rows; CORVANE_SPECKLE_TABLE=1 runs
// the whole grid and prints how often each requirement was met.
#include "measure/SpeckleBox.h"
#include "measure/SpeckleMeasurement.h"
#include "reduce/SpeckleReduction.h"
#include "sim/DriftSim.h"
#include "sim/Seeing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace corvane {
namespace {

constexpr int32_t kFrame = 128;
constexpr int32_t kBox = 128;
constexpr double kPxPerLambdaOverD = 2.5;
constexpr double kRotationDeg = 25.0;

struct Case {
    double sepLambdaOverD = 0; // 0: a single star
    double deltaMag = 0;
    double dOverR0 = 10;
    double pa = 0;
    uint64_t seed = 1;
    int32_t frames = 400;
};

sim::DriftParams params(const Case& c, bool reference) {
    sim::DriftParams p;
    p.width = p.height = kFrame;
    p.frames = c.frames;
    p.bits = 16;
    p.tracking = true;
    p.seeing.enabled = true;
    p.seeing.dOverR0 = c.dOverR0;
    p.seeing.exposureMs = 0;
    p.seeing.highLayerShare = 0;
    p.scalePxPerArcsec = kPxPerLambdaOverD / sim::lambdaOverDArcsec(p.seeing);
    p.rotationDeg = kRotationDeg;
    const bool single = reference || c.sepLambdaOverD == 0;
    p.separationArcsec = single ? 1.0 : c.sepLambdaOverD * sim::lambdaOverDArcsec(p.seeing);
    p.positionAngleDeg = c.pa;
    p.primaryBrightness = 4000;
    p.secondaryBrightness = single ? 0 : 4000 * std::pow(10.0, -0.4 * c.deltaMag);
    p.sky = 100;
    p.noiseSigma = 5;
    p.seed = c.seed * 2 + (reference ? 1 : 0);
    return p;
}

std::unique_ptr<SpeckleSpectra> record(const sim::DriftParams& p) {
    auto spectra = std::make_unique<SpeckleSpectra>(kBox, speckleBlockFrames(p.frames));
    sim::SeeingSim sim(p);
    const std::vector<float> window = apodisingWindow(kBox);
    IntensityPlane plane;
    BoxCentre centre{kFrame / 2.0, kFrame / 2.0};
    for (int32_t n = 0; n < p.frames; ++n) {
        const std::vector<uint16_t> samples = sim.record(sim.render(n), n);
        plane.reset(kFrame, kFrame, 16, 65535);
        for (int32_t y = 0; y < kFrame; ++y)
            std::copy_n(samples.data() + static_cast<std::size_t>(y) * kFrame, kFrame,
                        plane.row(y));
        centre = speckleBox(plane, centre, kBox, window, spectra->box());
        spectra->add();
    }
    return spectra;
}

struct SimRun {
    SpeckleMeasurement m;
    SpeckleOnSky sky;
    sim::Truth truth;
};

SimRun measure(const Case& c) {
    const sim::DriftParams pair = params(c, false);
    const auto spectra = record(pair);
    const auto reference = record(params(c, true));
    SimRun r;
    r.m = measureSpeckle(*spectra, reference.get());
    Calibration camera;
    camera.pixelsPerArcsec = pair.scalePxPerArcsec;
    camera.driftAngle = kRotationDeg;
    r.sky = speckleOnSky(r.m, camera, Orientation::CorrectOrInverted);
    r.truth = sim::computeTruth(pair);
    return r;
}

double paError(const SimRun& r, double modulo) {
    return std::remainder(r.sky.positionAngle - r.truth.positionAngleDeg, modulo);
}

struct Row {
    std::string name;
    Case c;
};

class SpeckleAccuracy : public ::testing::TestWithParam<Row> {};

TEST_P(SpeckleAccuracy, SeparationAngleAndQuadrantOfTheSimulatedPair) {
    const Case& c = GetParam().c;
    const SimRun r = measure(c);
    if (c.sepLambdaOverD == 0) {
        EXPECT_EQ(r.m.status, SpeckleStatus::NoPair) << "peak " << r.m.peak.height;
        ASSERT_FALSE(r.sky.limit.empty());
        return;
    }
    ASSERT_EQ(r.m.status, SpeckleStatus::Measured);
    EXPECT_NEAR(r.sky.separation / r.truth.separationArcsec, 1.0, 0.02);
    EXPECT_NEAR(paError(r, 180.0), 0.0, 1.0);
    EXPECT_NEAR(r.m.deltaMag, c.deltaMag, 3 * r.m.deltaMagStderr + 0.1);
    if (c.deltaMag >= 0.5) {
        EXPECT_FALSE(r.sky.ambiguous);
        EXPECT_NEAR(paError(r, 360.0), 0.0, 1.0);
    } else if (c.deltaMag == 0) {
        EXPECT_TRUE(r.sky.ambiguous);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeing, SpeckleAccuracy,
                         ::testing::Values(Row{"close_faint_pair_poor_seeing",
                                               {1.5, 1.0, 12, 70, 1}},
                                           Row{"equal_pair_is_ambiguous", {3.0, 0.0, 8, 200, 2}},
                                           Row{"single_star_gives_no_pair", {0, 0, 10, 0, 3}}),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

// The whole grid, on request: prints the share of runs within 2 % and 1
// degree, the two-standard-error coverage, the quadrant's success and the
// single stars' false detections.
TEST(SpeckleAccuracyTable, WholeGridOnRequest) {
    if (!std::getenv("CORVANE_SPECKLE_TABLE"))
        GTEST_SKIP() << "set CORVANE_SPECKLE_TABLE=1 to run the whole grid";
    int runs = 0, sepOk = 0, paOk = 0, sepCovered = 0, paCovered = 0;
    int quadrantRuns = 0, quadrantRight = 0, equalRuns = 0, equalAmbiguous = 0, missed = 0;
    int singles = 0, falsePairs = 0;
    uint64_t seed = 100;
    for (double dOverR0 : {5.0, 10.0, 15.0})
        for (int s = 0; s < 3; ++s) {
            const SimRun single = measure({0, 0, dOverR0, 0, ++seed});
            ++singles;
            falsePairs += single.m.status == SpeckleStatus::Measured;
            for (double sep : {1.5, 2.5, 4.0, 6.0})
                for (double dm : {0.0, 0.5, 1.0, 2.0}) {
                    const double pa = std::fmod(37.0 * static_cast<double>(seed), 360.0);
                    const SimRun r = measure({sep, dm, dOverR0, pa, ++seed});
                    if (r.m.status != SpeckleStatus::Measured) {
                        ++missed;
                        std::printf("missed: sep %.1f dm %.1f D/r0 %.0f\n", sep, dm, dOverR0);
                        continue;
                    }
                    ++runs;
                    const double sepErr = r.sky.separation - r.truth.separationArcsec;
                    const double paErr = paError(r, 180.0);
                    sepOk += std::fabs(sepErr) <= 0.02 * r.truth.separationArcsec;
                    paOk += std::fabs(paErr) <= 1.0;
                    sepCovered += std::fabs(sepErr) <= 2 * r.sky.separationStderr;
                    paCovered += std::fabs(paErr) <= 2 * r.sky.positionAngleStderr;
                    if (dm >= 0.5) {
                        ++quadrantRuns;
                        quadrantRight += !r.sky.ambiguous && std::fabs(paError(r, 360.0)) <= 90;
                    }
                    if (dm == 0) {
                        ++equalRuns;
                        equalAmbiguous += r.sky.ambiguous;
                    }
                    std::printf("sep %.1f dm %.1f D/r0 %2.0f: sep %+.2f%% (%.2f se) pa %+.2f "
                                "(%.2f se) dm %.2f+-%.2f %s\n",
                                sep, dm, dOverR0, 100 * sepErr / r.truth.separationArcsec,
                                sepErr / r.sky.separationStderr, paErr,
                                paErr / r.sky.positionAngleStderr, r.m.deltaMag, r.m.deltaMagStderr,
                                r.sky.ambiguous ? "ambiguous" : "decided");
                }
        }
    std::printf("runs %d missed %d: sep within 2%% %d, pa within 1 deg %d, 2-se coverage sep "
                "%.3f pa %.3f; quadrant right %d of %d; equal pairs ambiguous %d of %d; single "
                "stars with a pair %d of %d\n",
                runs, missed, sepOk, paOk, double(sepCovered) / runs, double(paCovered) / runs,
                quadrantRight, quadrantRuns, equalAmbiguous, equalRuns, falsePairs, singles);
    EXPECT_EQ(falsePairs, 0);
}

} // namespace
} // namespace corvane
