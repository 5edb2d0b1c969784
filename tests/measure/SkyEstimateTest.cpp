// The sky around a box: its level on flat, sloping and star-crossed skies, at
// the frame's edge and off it, exactly 0 on a black sky; and the plane seen
// with that level taken off.
#include "measure/SkyEstimate.h"
#include "SimPlane.h"
#include "measure/Starbox.h"
#include "video/FrameImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <string>

namespace corvane {
namespace {

using test::makePlane;
using test::TestPlane;

constexpr int32_t kSide = 64;
// A 40-pixel box in the middle of the plane: its ring (1 pixel free, then 4)
// holds 50^2 - 42^2 = 736 pixels.
constexpr int32_t kLeft = 12, kTop = 12, kRight = 52, kBottom = 52;
constexpr double kRingPixels = 736;
constexpr double kNoise = 3;
// Sampling spread of a median of N Gaussian samples: 1.2533 sigma / sqrt(N);
// of the sigma from the interquartile range: 1.166 sigma / sqrt(N). Four of them, for the few
// seeds each row runs, keep false alarms below one in ten thousand.
const double kLevelTolerance = 4 * 1.2533 * kNoise / std::sqrt(kRingPixels); // 0.55
const double kNoiseTolerance = 4 * 1.166 * kNoise / std::sqrt(kRingPixels);  // 0.52

struct SkyCase {
    const char* name;
    std::function<double(int32_t, int32_t)> sky;
    double noise;
    int32_t left, top, side; // the box
    SkyStatus status;
    double level, levelTolerance;
    double noiseTolerance; // negative: the noise is not checked
};

// A broad field star (peak 200, 6 pixels FWHM) centred in the ring right of
// the box: its light lifts some 50 ring pixels, and would lift the ring's
// mean by about 10 steps.
double starInRing(int32_t x, int32_t y) {
    const double dx = x - (kRight + 3), dy = y - 30.0;
    return 30 + 200 * std::exp(-(dx * dx + dy * dy) / (2 * 2.5 * 2.5));
}

void PrintTo(const SkyCase& c, std::ostream* os) {
    *os << c.name;
}

class SkyLevelTest : public ::testing::TestWithParam<SkyCase> {};

TEST_P(SkyLevelTest, FollowsTheSkyAroundTheBox) {
    const SkyCase& c = GetParam();
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        const TestPlane plane = makePlane(kSide, kSide, c.sky, c.noise, seed);
        const SkyEstimate s =
            estimateSky(plane.view(), c.left, c.top, c.left + c.side, c.top + c.side);
        ASSERT_EQ(s.status, c.status) << "seed " << seed;
        EXPECT_NEAR(s.level, c.level, c.levelTolerance) << "seed " << seed;
        if (c.noiseTolerance >= 0) {
            const double noise = c.status == SkyStatus::Measured ? c.noise : 0.0;
            EXPECT_NEAR(s.noise, noise, c.noiseTolerance) << "seed " << seed;
        }
    }
}

// A slope of 0.2 steps per pixel across x and 0.1 down y spreads the ring's
// values over about +-6 steps, which widens the median's spread to about
// twice the flat sky's; the noise estimate then holds the slope too.
INSTANTIATE_TEST_SUITE_P(
    Skies, SkyLevelTest,
    ::testing::Values(
        SkyCase{"flat_lit_sky", [](int32_t, int32_t) { return 30.3; }, kNoise, kLeft, kTop, 40,
                SkyStatus::Measured, 30.3, kLevelTolerance, kNoiseTolerance},
        SkyCase{"flat_sky_without_noise", [](int32_t, int32_t) { return 25.0; }, 0, kLeft, kTop, 40,
                SkyStatus::Measured, 25.0, 0.0, 0.0},
        SkyCase{"sloping_sky_gives_the_level_at_the_box",
                [](int32_t x, int32_t y) { return 30 + 0.2 * (x - 31.5) + 0.1 * (y - 31.5); },
                kNoise, kLeft, kTop, 40, SkyStatus::Measured, 30.0, 2 * kLevelTolerance, -1},
        // After clipping only the star's faint wing is left, a dozen pixels a
        // few steps up: it moves the median by about 0.1 of a step.
        SkyCase{"star_in_the_ring_is_clipped", starInRing, kNoise, kLeft, kTop, 40,
                SkyStatus::Measured, 30.0, kLevelTolerance + 0.2, kNoiseTolerance},
        SkyCase{"sixteen_bit_sky", [](int32_t, int32_t) { return 1000.0; }, 30, kLeft, kTop, 40,
                SkyStatus::Measured, 1000.0, 10 * kLevelTolerance, 10 * kNoiseTolerance},
        // The box touches the plane's left and top edges: the ring's part off
        // the plane is left out, not read as black.
        SkyCase{"box_at_the_frame_corner", [](int32_t, int32_t) { return 30.0; }, kNoise, 0, 0, 40,
                SkyStatus::Measured, 30.0, 2 * kLevelTolerance, 2 * kNoiseTolerance},
        SkyCase{"box_off_the_frame", [](int32_t, int32_t) { return 30.0; }, kNoise, -100, -100, 40,
                SkyStatus::TooFewPixels, 0.0, 0.0, 0.0},
        // A box that covers the whole plane leaves no ring, and one reaching
        // far beyond it must not take long or wrap round.
        SkyCase{"box_larger_than_the_frame", [](int32_t, int32_t) { return 30.0; }, kNoise,
                -1000000000, -1000000000, 2000000000, SkyStatus::TooFewPixels, 0.0, 0.0, 0.0},
        SkyCase{"black_sky_is_exactly_zero", [](int32_t, int32_t) { return 0.0; }, 0, kLeft, kTop,
                40, SkyStatus::Measured, 0.0, 0.0, 0.0},
        SkyCase{"black_sky_with_a_star_in_the_ring",
                [](int32_t x, int32_t y) { return starInRing(x, y) - 30; }, 0, kLeft, kTop, 40,
                SkyStatus::Measured, 0.0, 0.0, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

// A sky so dark that its noise is cut at 0 (more than half the pixels read 0)
// must not be subtracted at all, so the methods measure it as before; nor
// may the noise Weighted Average takes off a lit sky be taken off it.
TEST(SkyWholeLevel, DarkNoisySkySubtractsNothing) {
    TStarbox box;
    box.Left = kLeft;
    box.Top = kTop;
    box.Right = kRight;
    box.Bottom = kBottom;
    for (const double noise : {1.0, 8.0}) {
        for (uint64_t seed = 1; seed <= 5; ++seed) {
            const TestPlane plane = makePlane(
                kSide, kSide, [](int32_t, int32_t) { return 0.0; }, noise, seed);
            const SkyEstimate s = estimateSky(plane.view(), kLeft, kTop, kRight, kBottom);
            EXPECT_EQ(s.wholeLevel(), 0) << "seed " << seed << ", level " << s.level;
            IntensityPlane intensities;
            intensities.reset(kSide, kSide);
            for (int32_t y = 0; y < kSide; ++y)
                for (int32_t x = 0; x < kSide; ++x)
                    intensities.set(x, y, plane.samples[static_cast<std::size_t>(y * kSide + x)]);
            EXPECT_EQ(skyAround(intensities, box, 2.0), 0)
                << "noise " << noise << ", seed " << seed;
        }
    }
}

// The sky's slope round a pair in the middle of a plane 160 pixels square,
// the pixels within 20 of it left out: on a noise of 3 the slope's error is
// 3 / sqrt(24300 pixels) / 46 pixels (their spread along x) = 0.0004 steps
// per pixel; four of them, over five seeds.
constexpr int32_t kSlopeSide = 160;
constexpr double kSlopeClear = 20;
const double kSlopeTolerance =
    4 * kNoise / std::sqrt(kSlopeSide * kSlopeSide - 3.1416 * 400) / (kSlopeSide / std::sqrt(12.0));

struct SlopeCase {
    const char* name;
    std::function<double(int32_t, int32_t)> sky;
    double noise;
    double x, y, tolerance; // the slope expected
};

void PrintTo(const SlopeCase& c, std::ostream* os) {
    *os << c.name;
}

double broadStar(int32_t x, int32_t y, double cx, double cy) {
    const double dx = x - cx, dy = y - cy;
    return 200 * std::exp(-(dx * dx + dy * dy) / (2 * 3.0 * 3.0));
}

class SkySlopeTest : public ::testing::TestWithParam<SlopeCase> {};

TEST_P(SkySlopeTest, FollowsTheSkyBeyondTheStars) {
    const SlopeCase& c = GetParam();
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        const TestPlane plane = makePlane(kSlopeSide, kSlopeSide, c.sky, c.noise, seed);
        const SkySlope s = skySlopeAround(plane.view(), 80, 80, kSlopeClear);
        EXPECT_NEAR(s.x, c.x, c.tolerance) << "seed " << seed;
        EXPECT_NEAR(s.y, c.y, c.tolerance) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Skies, SkySlopeTest,
    ::testing::Values(
        SlopeCase{"flat_sky", [](int32_t, int32_t) { return 30.3; }, kNoise, 0, 0, kSlopeTolerance},
        SlopeCase{"sloping_sky",
                  [](int32_t x, int32_t y) { return 30 + 0.05 * (x - 80) - 0.03 * (y - 80); },
                  kNoise, 0.05, -0.03, kSlopeTolerance},
        // Clipped, a field star in a corner leaves its faint wing, a few dozen
        // pixels a step or two up: a slope of 0.0001.
        SlopeCase{"field_star_is_clipped",
                  [](int32_t x, int32_t y) {
                      return 30 + 0.05 * (x - 80) - 0.03 * (y - 80) + broadStar(x, y, 140, 30);
                  },
                  kNoise, 0.05, -0.03, kSlopeTolerance},
        // Quantised to whole steps, a slope of 0.01 without noise is still
        // far beyond its errors.
        SlopeCase{"noiseless_slope", [](int32_t x, int32_t) { return 30 + 0.01 * x; }, 0, 0.01, 0,
                  0.0005},
        SlopeCase{"black_sky_is_exactly_flat", [](int32_t, int32_t) { return 0.0; }, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A slope within its own noise is none: a flat sky's light circles then
// read as they did before the slope was taken off. The chi-square of two
// errors passes 9 on 1.1 % of flat skies: of 40, at least 36 read exactly
// flat (a gate at two errors, 13.5 %, would fail; without one, none would).
TEST(SkySlope, FlatSkyReadsExactlyFlat) {
    int flat = 0;
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        const TestPlane plane = makePlane(
            kSlopeSide, kSlopeSide, [](int32_t, int32_t) { return 20.0; }, kNoise, seed);
        const SkySlope s = skySlopeAround(plane.view(), 80, 80, kSlopeClear);
        flat += s.x == 0 && s.y == 0;
    }
    EXPECT_GE(flat, 36);
}

TEST(SkySubtractedView, TakesTheLevelOffAndCountsWhatLiesBelowAsNoLight) {
    const TestPlane plane = makePlane(8, 8, [](int32_t x, int32_t y) { return 3.0 * (x + y); });
    const PlaneView view = plane.view();
    for (const uint16_t level : {0, 1, 20, 65535}) {
        const SkySubtractedView sub{view, level};
        for (int32_t y = -1; y <= 8; ++y)
            for (int32_t x = -1; x <= 8; ++x) {
                const int v = view.at(x, y);
                const int expected = v > level ? v - level : 0;
                ASSERT_EQ(sub.at(x, y), expected) << "level " << level << " at " << x << "," << y;
            }
    }
}

} // namespace
} // namespace corvane
