// The PSF fit on pairs the drift simulator renders: centres within the noise's
// reach at close and wide separations on a lit sky, standard errors that
// cover the truth as often as they should, and a status that says when the
// box does not hold a measurable pair.
#include "measure/PsfFit.h"
#include "SimPlane.h"
#include "measure/PairLight.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
namespace {

using test::RenderedPair;
using test::SimPair;

constexpr double kPi = 3.141592653589793;
constexpr int32_t kPlaneSide = 64;

// The smallest spread any unbiased estimate of one star's centre can have
// (the Cramer-Rao bound) for a Gaussian star of total light F = 2 pi s^2 peak
// on pixels with noise sigma_n: sqrt(8 pi) s^2 sigma_n / F. Integration over
// the pixel widens the image, s^2 -> s^2 + 1/12, and the rounding to whole
// steps adds 1/12 to the noise variance.
//
// A star whose core the 8-bit levels clip at 255 is fitted from the pixels
// round the core only: with t0 = r0^2 / s^2 for the clipped radius r0 (where
// sky + peak exp(-r0^2 / 2 s^2) = 255), the centre keeps the share
// (1 + t0) exp(-t0) of its information and the width exp(-t0) (t0^2 - 2 t0 + 2) / 2.
constexpr double kClipLevel = 255;
double clippedT0(const SimPair& p, double peak) {
    return peak + p.sky > kClipLevel ? 2 * std::log(peak / (kClipLevel - p.sky)) : 0.0;
}
double centreBound(const SimPair& p, double peak) {
    const double s = p.fwhmPx / kFwhmPerSigma;
    const double noise = std::sqrt(p.noise * p.noise + 1.0 / 12.0);
    const double t0 = clippedT0(p, peak);
    const double kept = (1 + t0) * std::exp(-t0);
    return std::sqrt(8 * kPi) * (s * s + 1.0 / 12.0) * noise / (2 * kPi * s * s * peak) /
           std::sqrt(kept);
}
// For the width the bound is half the centre's unclipped one,
// sqrt(2 pi) s^2 sigma_n / F, and both stars inform it.
double widthBound(const SimPair& p) {
    double information = 0;
    for (const double peak : {p.primaryPeak, p.secondaryPeak}) {
        const double t0 = clippedT0(p, peak);
        const double kept = std::exp(-t0) * (t0 * t0 - 2 * t0 + 2) / 2;
        const double unclipped = 0.5 * centreBound(p, peak) * std::sqrt((1 + t0) * std::exp(-t0));
        information += kept / (unclipped * unclipped);
    }
    return 1.0 / std::sqrt(information);
}
// A wider star and a lower sky explain the pixels partly alike, which costs
// the width information the bound above leaves out (about 10 % here); a
// factor 1.5 covers it.
constexpr double kWidthSkyAllowance = 1.5;
// Overlap of the two images costs information; at 1.5 FWHM, the closest pair
// here, the pair's information matrix raises the bound by only about 3 %
// (both stars are bright), so 10 % covers every row.
constexpr double kOverlapAllowance = 1.1;
// Five bounds: no honest fit strays that far in the 300-odd centres checked.
constexpr double kBounds = 5.0;

struct Fitted {
    RenderedPair pair;
    PsfFitResult fit;
};

// The pair rendered with the primary near the plane's middle, fitted in a box
// of `side` around its midpoint, starting from centres off the truth by up
// to 0.7 pixels (where the previous frame's fit leaves them at a fast drift).
Fitted renderAndFitWith(PsfFit& fitter, const SimPair& p, int32_t side, uint64_t seed) {
    Fitted f;
    f.pair = test::renderSimPair(p, kPlaneSide, kPlaneSide / 2.0, kPlaneSide / 2.0, seed);
    const sim::Point a = f.pair.truth.primary, b = f.pair.truth.secondary;
    const int32_t left = static_cast<int32_t>(std::lround(0.5 * (a.x + b.x))) - side / 2;
    const int32_t top = static_cast<int32_t>(std::lround(0.5 * (a.y + b.y))) - side / 2;
    PsfFitStart start;
    start.x = {a.x + 0.7, b.x - 0.5};
    start.y = {a.y - 0.5, b.y + 0.6};
    f.fit = fitter.fit(f.pair.plane.view(), left, top, left + side, top + side, start);
    return f;
}
Fitted renderAndFit(const SimPair& p, int32_t side, uint64_t seed) {
    PsfFit fitter;
    return renderAndFitWith(fitter, p, side, seed);
}

struct AccuracyCase {
    const char* name;
    SimPair pair;
    int32_t side; // fitted box
};

void PrintTo(const AccuracyCase& c, std::ostream* os) {
    *os << c.name;
}

class PsfFitAccuracyTest : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(PsfFitAccuracyTest, CentresWithinTheNoiseBound) {
    const AccuracyCase& c = GetParam();
    const double tolPrimary = kBounds * kOverlapAllowance * centreBound(c.pair, c.pair.primaryPeak);
    const double tolSecondary =
        kBounds * kOverlapAllowance * centreBound(c.pair, c.pair.secondaryPeak);
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        const Fitted f = renderAndFit(c.pair, c.side, seed);
        ASSERT_EQ(f.fit.status, PsfFitStatus::Converged)
            << "seed " << seed << ": " << psfFitStatusText(f.fit.status);
        const sim::FrameTruth& t = f.pair.truth;
        EXPECT_NEAR(f.fit.stars[0].x, t.primary.x, tolPrimary) << "seed " << seed;
        EXPECT_NEAR(f.fit.stars[0].y, t.primary.y, tolPrimary) << "seed " << seed;
        EXPECT_NEAR(f.fit.stars[1].x, t.secondary.x, tolSecondary) << "seed " << seed;
        EXPECT_NEAR(f.fit.stars[1].y, t.secondary.y, tolSecondary) << "seed " << seed;
        EXPECT_NEAR(f.fit.sigma, c.pair.fwhmPx / kFwhmPerSigma,
                    kBounds * kWidthSkyAllowance * widthBound(c.pair))
            << "seed " << seed;
    }
}

// Separations from 1.5 to 3 star widths (FWHM), where a weighted centre
// cannot split the pair, and from 10 to 30 pixels; lit skies of 20 to 40.
INSTANTIATE_TEST_SUITE_P(
    Pairs, PsfFitAccuracyTest,
    ::testing::Values(AccuracyCase{"close_1_5_widths", {4.5, 45, 3, 200, 120, 30, 3}, 20},
                      AccuracyCase{"close_2_widths", {6, 120, 3, 200, 120, 20, 3}, 20},
                      AccuracyCase{"close_3_widths", {9, 300, 3, 200, 120, 40, 3}, 24},
                      AccuracyCase{"close_equal_stars", {5, 200, 3, 150, 150, 30, 3}, 20},
                      AccuracyCase{"close_in_poor_seeing", {7.5, 30, 5, 200, 120, 30, 3}, 28},
                      AccuracyCase{"wide_10_px", {10, 60, 3, 200, 120, 20, 3}, 24},
                      AccuracyCase{"wide_30_px", {30, 210, 3, 200, 120, 40, 3}, 40},
                      AccuracyCase{"black_sky_without_noise", {6, 45, 3, 200, 120, 0, 0}, 20},
                      // The primary's core is clipped at 255 over a radius of 1.3 sigma.
                      AccuracyCase{"saturated_primary", {6, 45, 3, 500, 200, 30, 3}, 20}),
    [](const auto& info) { return std::string(info.param.name); });

// Over many seeds the truth lies within two reported standard errors of a
// centre about as often as for a Gaussian error (95.4 %). 150 pairs give 600
// centre coordinates; with the two stars' errors partly correlated, the share
// scatters by about 1 %, so 90 to 98 % catches errors reported too small or
// too large by a fifth.
TEST(PsfFitErrors, TwoStandardErrorsCoverTheTruth) {
    const SimPair close{4.5, 45, 3, 200, 120, 30, 3};
    int covered = 0, total = 0;
    for (uint64_t seed = 1; seed <= 150; ++seed) {
        const Fitted f = renderAndFit(close, 20, 1000 + seed);
        ASSERT_TRUE(f.fit.ok()) << "seed " << seed;
        const sim::FrameTruth& t = f.pair.truth;
        const PsfStar& a = f.fit.stars[0];
        const PsfStar& b = f.fit.stars[1];
        for (const auto& [value, truth, error] :
             {std::tuple{a.x, t.primary.x, a.xError}, std::tuple{a.y, t.primary.y, a.yError},
              std::tuple{b.x, t.secondary.x, b.xError}, std::tuple{b.y, t.secondary.y, b.yError}}) {
            covered += std::fabs(value - truth) <= 2 * error ? 1 : 0;
            ++total;
        }
    }
    const double share = static_cast<double>(covered) / total;
    EXPECT_GE(share, 0.90);
    EXPECT_LE(share, 0.98);
}

// The light ratio of circles two widths wide, over 200 frames of a pair 14
// pixels apart (the circles meet between the stars; Gaussian stars, sigma
// 1.5, on a sky of 30 with noise 3): the truth, 0.2, within two reported
// errors in 95 % of them. The share scatters by 1.5 %; errors a third too
// small (87 %) or half as large again (99.7 %) fall outside 90-99 %. A
// circle off the plane holds light nobody knows: no ratio.
TEST(PairLightErrors, TwoStandardErrorsCoverTheTruth) {
    const auto star = [](int32_t x, int32_t y, double cx, double cy, double peak) {
        return peak * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * 1.5 * 1.5));
    };
    const double radius = 2 * 1.5 * kFwhmPerSigma;
    constexpr int kFrames = 200;
    int covered = 0;
    for (uint64_t seed = 1; seed <= kFrames; ++seed) {
        const test::TestPlane plane = test::makePlane(
            64, 48,
            [&](int32_t x, int32_t y) {
                return 30 + star(x, y, 24.3, 22.6, 200) + star(x, y, 38.1, 25.4, 40);
            },
            3, seed);
        const PairLight light = pairLight(plane.view(), 24.3, 22.6, 38.1, 25.4, radius, 0);
        covered += std::fabs(light.ratio - 0.2) <= 2 * light.ratioError;
        if (seed == 1) {
            EXPECT_TRUE(std::isnan(pairLight(plane.view(), 24.3, 22.6, 60, 25, radius, 0).ratio));
        }
    }
    EXPECT_GE(covered, 0.90 * kFrames);
    EXPECT_LE(covered, 0.99 * kFrames);
    // A pair along a row and the same pair turned to lie along a column hold
    // the same light: each far side is taken whole whichever way it faces.
    const auto drawn = [&](bool turned) {
        return test::makePlane(64, 64, [&](int32_t x, int32_t y) {
            if (turned)
                std::swap(x, y);
            return 30 + star(x, y, 24.3, 22.6, 200) + star(x, y, 38.1, 22.6, 40);
        });
    };
    const double along = pairLight(drawn(false).view(), 24.3, 22.6, 38.1, 22.6, radius, 0).ratio;
    EXPECT_NEAR(pairLight(drawn(true).view(), 22.6, 24.3, 22.6, 38.1, radius, 0).ratio, along,
                1e-9 * along);
}

// Round Gaussian stars (sampled at pixel centres) on a sky of 30, noise 3.
struct DrawnStar {
    double x, y, peak;
};
test::TestPlane drawStars(const std::vector<DrawnStar>& stars, double noise, uint64_t seed) {
    return test::makePlane(
        48, 48,
        [&stars](int32_t x, int32_t y) {
            double v = 30;
            for (const DrawnStar& s : stars) {
                const double dx = x - s.x, dy = y - s.y;
                v += s.peak * std::exp(-(dx * dx + dy * dy) / (2 * 1.27 * 1.27));
            }
            return v;
        },
        noise, seed);
}

struct StatusCase {
    const char* name;
    std::vector<DrawnStar> stars;
    double noise;
    int32_t left, top, side; // fitted box
    std::array<double, 2> startX, startY;
    PsfFitStatus expected;
    bool onlyNotConverged; // a lone star: any status but Converged will do
    double secondaryReach = 0;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class PsfFitStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(PsfFitStatusTest, SaysWhyThereIsNoPair) {
    const StatusCase& c = GetParam();
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        const test::TestPlane plane = drawStars(c.stars, c.noise, seed);
        PsfFitStart start;
        start.x = c.startX;
        start.y = c.startY;
        start.secondaryReach = c.secondaryReach;
        const PsfFitResult r =
            PsfFit().fit(plane.view(), c.left, c.top, c.left + c.side, c.top + c.side, start);
        if (c.onlyNotConverged) {
            EXPECT_NE(r.status, PsfFitStatus::Converged) << "seed " << seed;
        } else {
            EXPECT_EQ(r.status, c.expected)
                << "seed " << seed << ": " << psfFitStatusText(r.status);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, PsfFitStatusTest,
    ::testing::Values(StatusCase{"pair_in_the_box",
                                 {{20.3, 20.6, 200}, {14.8, 22.1, 150}},
                                 3,
                                 10,
                                 10,
                                 20,
                                 {20, 15},
                                 {20, 22},
                                 PsfFitStatus::Converged,
                                 false},
                      // The secondary's centre lies 0.7 pixels beyond the box's left edge.
                      StatusCase{"secondary_beyond_the_box_edge",
                                 {{20.3, 20.6, 200}, {10.8, 20.6, 150}},
                                 3,
                                 12,
                                 10,
                                 20,
                                 {20.3, 10.8},
                                 {20.6, 20.6},
                                 PsfFitStatus::CentreOutsideBox,
                                 false},
                      // Both starting centres on one star of a noiseless, symmetric image:
                      // the two images stay one.
                      StatusCase{"both_starts_on_one_star",
                                 {{20, 20, 200}},
                                 0,
                                 10,
                                 10,
                                 20,
                                 {20.5, 20.5},
                                 {19.6, 19.6},
                                 PsfFitStatus::TooClose,
                                 false},
                      StatusCase{"lone_star_and_empty_sky",
                                 {{20.3, 20.6, 200}},
                                 3,
                                 10,
                                 10,
                                 20,
                                 {20.3, 26},
                                 {20.6, 16},
                                 PsfFitStatus::NoLight,
                                 true},
                      // Only the pixels near the stars are fitted, however large the box.
                      StatusCase{"box_far_larger_than_the_frame",
                                 {{20.3, 20.6, 200}, {14.8, 22.1, 150}},
                                 3,
                                 -1000000000,
                                 -1000000000,
                                 2000000000,
                                 {20, 15},
                                 {20, 22},
                                 PsfFitStatus::Converged,
                                 false},
                      // The secondary starts 2.7 pixels from its star, held within 1.
                      StatusCase{"secondary_held_short_of_its_star",
                                 {{20.3, 20.6, 200}, {14.8, 22.1, 150}},
                                 3,
                                 10,
                                 10,
                                 20,
                                 {20, 17.5},
                                 {20, 22},
                                 PsfFitStatus::SecondaryAtReach,
                                 false,
                                 1.0},
                      StatusCase{"secondary_within_its_reach",
                                 {{20.3, 20.6, 200}, {14.8, 22.1, 150}},
                                 3,
                                 10,
                                 10,
                                 20,
                                 {20, 15.5},
                                 {20, 22},
                                 PsfFitStatus::Converged,
                                 false,
                                 2.0},
                      StatusCase{"start_not_a_number",
                                 {{20.3, 20.6, 200}, {14.8, 22.1, 150}},
                                 3,
                                 10,
                                 10,
                                 20,
                                 {20, std::nan("")},
                                 {20, 22},
                                 PsfFitStatus::BadStart,
                                 false},
                      StatusCase{"box_off_the_frame",
                                 {{20.3, 20.6, 200}},
                                 3,
                                 -200,
                                 -200,
                                 20,
                                 {-190, -185},
                                 {-190, -185},
                                 PsfFitStatus::TooFewPixels,
                                 false}),
    [](const auto& info) { return std::string(info.param.name); });

// Stars drawn with a profile (beta 0: a Gaussian of sigma 1.5, else a
// Moffat of that FWHM) on a sky of 30 with noise 3: the run picks the
// profile the stars have, and a faint companion in a Moffat halo stays
// within five of its own errors, where a Gaussian leaves the halo to pull it.
// Their light in circles two widths wide gives the drawn peaks' ratio within
// three of its errors: under the faint companion's circle the primary's halo
// holds half as much light as the companion.
struct ProfileCase {
    const char* name;
    double beta, secondaryPeak;
    PsfProfile expected;
};

class PsfFitProfileTest : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(PsfFitProfileTest, FitsTheStarsOwnProfile) {
    const ProfileCase& c = GetParam();
    const double alpha = 1.5 * kFwhmPerSigma / (2 * std::sqrt(std::pow(2.0, 1 / c.beta) - 1));
    const auto star = [&](double dx, double dy, double peak) {
        const double r2 = dx * dx + dy * dy;
        return peak * (c.beta > 0 ? std::pow(1 + r2 / (alpha * alpha), -c.beta)
                                  : std::exp(-r2 / (2 * 1.5 * 1.5)));
    };
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        const test::TestPlane plane = test::makePlane(
            48, 48,
            [&](int32_t x, int32_t y) {
                return 30 + star(x - 20.3, y - 20.6, 220) +
                       star(x - 29.1, y - 23.4, c.secondaryPeak);
            },
            3, seed);
        PsfFitStart start;
        start.x = {20.8, 28.6};
        start.y = {20.1, 23.9};
        const PsfFitResult r = PsfFit().fit(plane.view(), 6, 6, 42, 42, start);
        ASSERT_TRUE(r.ok()) << "seed " << seed << ": " << psfFitStatusText(r.status);
        EXPECT_EQ(r.profile, c.expected) << "seed " << seed;
        EXPECT_NEAR(r.stars[1].x, 29.1, 5 * r.stars[1].xError) << "seed " << seed;
        EXPECT_NEAR(r.stars[1].y, 23.4, 5 * r.stars[1].yError) << "seed " << seed;
        const PairLight light =
            pairLight(plane.view(), 20.3, 20.6, 29.1, 23.4, 2 * 1.5 * kFwhmPerSigma, 0);
        EXPECT_NEAR(light.ratio, c.secondaryPeak / 220, 3 * light.ratioError) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, PsfFitProfileTest,
    ::testing::Values(ProfileCase{"gaussian_stars", 0, 120, PsfProfile::Gaussian},
                      ProfileCase{"moffat_stars", 2.5, 120, PsfProfile::Moffat},
                      ProfileCase{"faint_companion_in_a_moffat_halo", 2.5, 12, PsfProfile::Moffat}),
    [](const auto& info) { return std::string(info.param.name); });

// A run keeps a copy of its fitter to measure a frame again; the copy must
// fit on from what the run's frames taught (profile, widths, photon noise).
TEST(PsfFitCopy, FitsOnAsTheOriginal) {
    const SimPair p{6, 45, 3, 200, 120, 30, 3};
    PsfFit original;
    for (uint64_t seed = 1; seed <= 7; ++seed)
        renderAndFitWith(original, p, 20, seed);
    PsfFit copy = original;
    PsfFit assigned;
    assigned = original;
    const PsfFitResult a = renderAndFitWith(original, p, 20, 8).fit;
    for (PsfFit* other : {&copy, &assigned}) {
        const PsfFitResult b = renderAndFitWith(*other, p, 20, 8).fit;
        EXPECT_EQ(b.profile, a.profile);
        EXPECT_EQ(b.stars[1].x, a.stars[1].x);
        EXPECT_EQ(b.offsetXError, a.offsetXError);
        EXPECT_EQ(b.noise.perLight, a.noise.perLight);
    }
}

} // namespace
} // namespace corvane
