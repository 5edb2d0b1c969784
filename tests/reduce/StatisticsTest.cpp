#include "Tables.h"

#include "reduce/Reduction.h"
#include "reduce/Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::noisyDriftTable;

namespace {

// The textbook formulas, written out on the rows' own values.
double mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v)
        s += x;
    return s / static_cast<double>(v.size());
}

double sd(const std::vector<double>& v) {
    const double m = mean(v);
    double s = 0;
    for (double x : v)
        s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size() - 1));
}

double sem(const std::vector<double>& v) {
    return sd(v) / std::sqrt(static_cast<double>(v.size()));
}

// The separation in pixels, the screen angle turned towards `nearDeg` (the
// pair's direction up to 180 degrees), the pair-by-pair scales.
struct Independent {
    std::vector<double> sep, angle, pairScale;
    double driftStderrDeg = 0;
};

Independent independent(const PairPositions& t, double nearDeg, double decDeg) {
    Independent out;
    for (const PairPosition& r : t) {
        out.sep.push_back(r.SepPixels);
        double a = r.ScreenAngle;
        while (a - nearDeg > 90)
            a -= 180;
        while (a - nearDeg <= -90)
            a += 180;
        out.angle.push_back(a);
    }
    const std::size_t m = t.size();
    for (std::size_t k = 0; k < 12; ++k) {
        const PairPosition& a = t[k];
        const PairPosition& b = t[m - 12 + k];
        const double d =
            std::hypot(double(b.PrimaryX) - a.PrimaryX, double(b.PrimaryY) - a.PrimaryY);
        out.pairScale.push_back(d / (b.TimeMs - a.TimeMs) * 1000.0 /
                                (std::cos(decDeg * M_PI / 180.0) * 15.04107));
    }
    // The drift runs along screen x: the slope error of y on x by least
    // squares, residuals over n - 2.
    std::vector<double> x, y;
    for (const PairPosition& r : t) {
        x.push_back(r.PrimaryX);
        y.push_back(r.PrimaryY);
    }
    const double mx = mean(x), my = mean(y);
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < m; ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    const double slope = sxy / sxx;
    double ssr = 0;
    for (std::size_t i = 0; i < m; ++i) {
        const double e = (y[i] - my) - slope * (x[i] - mx);
        ssr += e * e;
    }
    out.driftStderrDeg = std::sqrt(ssr / double(m - 2) / sxx) * 180.0 / M_PI;
    return out;
}

struct PropagationCase {
    const char* name;
    double offsetX, offsetY; // secondary - primary, screen pixels
    double nearDeg;          // the pair's screen direction up to 180
    const char* dec;
    double decDeg;
    double sigma; // centring error, pixels
};

class Propagation : public ::testing::TestWithParam<PropagationCase> {};

} // namespace

TEST_P(Propagation, StandardErrorsMatchAnIndependentComputation) {
    const PropagationCase& c = GetParam();
    Drift d;
    d.rows = 60;
    d.offsetX = c.offsetX;
    d.offsetY = c.offsetY;
    const PairPositions t = noisyDriftTable(d, c.sigma, 11);
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, c.dec, "00", "00", '.');
    ASSERT_EQ(r.error, "");
    const ReductionStatistics& s = r.statistics;
    const Independent e = independent(t, c.nearDeg, c.decDeg);

    const double rel = 1e-6;
    EXPECT_EQ(s.framesAccepted, 60);
    EXPECT_NEAR(s.separationPx.sd, sd(e.sep), rel * sd(e.sep));
    EXPECT_NEAR(s.separationPx.stderrOfMean, sem(e.sep), rel * sem(e.sep));
    EXPECT_NEAR(s.screenAngle.sd, sd(e.angle), rel * sd(e.angle));
    EXPECT_NEAR(s.screenAngle.stderrOfMean, sem(e.angle), rel * sem(e.angle));
    const double scaleSe = sem(e.pairScale);
    EXPECT_NEAR(s.pixelScaleStderr, scaleSe, rel * scaleSe);
    EXPECT_NEAR(s.pixelScaleRelativeStderr, scaleSe / r.separation.pixelScale, rel * scaleSe);
    // The reduction's principal axis and this least-squares line differ only
    // in the square of the tiny slope.
    EXPECT_NEAR(s.driftAngleStderr, e.driftStderrDeg, 0.01 * e.driftStderrDeg);

    const double scale = r.separation.pixelScale;
    const double fromScale = r.separation.separation * scaleSe / scale;
    EXPECT_NEAR(s.separationStderrFromScale, fromScale, rel * fromScale);
    const double sepSe = std::hypot(sem(e.sep) / scale, fromScale);
    EXPECT_NEAR(s.separationStderr, sepSe, rel * sepSe);
    // The position angle is made from the screen angle shown to 0.01 degree.
    const double paSe =
        std::sqrt(std::pow(sem(e.angle), 2) + std::pow(e.driftStderrDeg, 2) + 0.01 * 0.01 / 12);
    EXPECT_NEAR(s.positionAngleStderr, paSe, 0.01 * paSe);
    EXPECT_DOUBLE_EQ(s.positionAngleStderrFromDrift, s.driftAngleStderr);
}

INSTANTIATE_TEST_SUITE_P(
    HandMadeTables, Propagation,
    ::testing::Values(PropagationCase{"pair_to_the_right_dec0", 20, 0, 0, "+00", 0, 0.1},
                      PropagationCase{"pair_below_left_dec60", -12, 16, 127, "+60", 60, 0.2},
                      // Angles on both sides of the wrap at +-90.
                      PropagationCase{"pair_vertical_across_the_wrap", 0, -20, 90, "-30", 30, 0.3}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

struct DriftShape {
    const char* name;
    double bendPx; // the track's sideways bow at its middle, pixels
    double jumpPx; // a lasting sideways jump halfway, pixels
    bool strays;
};

class DriftDiagnostics : public ::testing::TestWithParam<DriftShape> {};

} // namespace

TEST_P(DriftDiagnostics, ResidualsOutgrowTheFrameScatterOnlyForATrackThatStrays) {
    const DriftShape& c = GetParam();
    Drift d;
    d.rows = 80;
    PairPositions t = noisyDriftTable(d, 0.1, 3);
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double u = 2.0 * static_cast<double>(i) / static_cast<double>(t.size() - 1) - 1.0;
        const double shift = c.bendPx * (1.0 - u * u) + (u > 0 ? c.jumpPx : 0.0);
        t[i].PrimaryY = static_cast<float>(t[i].PrimaryY + shift);
        t[i].SecondaryY = static_cast<float>(t[i].SecondaryY + shift);
    }
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, "+00", "00", "00", '.');
    ASSERT_EQ(r.error, "");
    const ReductionStatistics& s = r.statistics;
    ASSERT_TRUE(s.driftMeasured);
    const double ratio = s.driftResidualPx / s.driftFrameScatterPx;
    if (c.strays)
        EXPECT_GT(ratio, kMaxDriftResidualRatio);
    else
        EXPECT_LT(ratio, 1.5);
}

INSTANTIATE_TEST_SUITE_P(Tracks, DriftDiagnostics,
                         ::testing::Values(DriftShape{"straight_and_steady", 0, 0, false},
                                           DriftShape{"bowed_by_three_pixels", 3.0, 0, true},
                                           DriftShape{"jumps_three_pixels_halfway", 0, 3.0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

struct WarningCase {
    const char* name;
    int32_t accepted, measured;
    bool driftMeasured;
    double residual, frameScatter; // pixels
    double scaleRelative;
    std::vector<std::string> expected;
};

class Warnings : public ::testing::TestWithParam<WarningCase> {};

} // namespace

TEST_P(Warnings, EachDoubtHasItsText) {
    const WarningCase& c = GetParam();
    ReductionStatistics s;
    s.framesAccepted = c.accepted;
    s.driftMeasured = c.driftMeasured;
    s.driftResidualPx = c.residual;
    s.driftFrameScatterPx = c.frameScatter;
    s.pixelScaleRelativeStderr = c.scaleRelative;
    EXPECT_EQ(reductionWarnings(s, c.measured, '.'), c.expected);
}

const char* const kFewFrames = "Only 59 of 3000 measured frames were accepted, fewer than a "
                               "quarter: the result rests on a few frames that may not be "
                               "typical of the video.";
const char* const kStrays = "The primary star's track strays from a steady straight drift by "
                            "3.5 times its scatter from frame to frame: the pixel scale and the "
                            "drift direction may be wrong.";
const char* const kScale = "The pixel scale's standard error is 1.2 %, more than 1 %: the "
                           "separation is no more certain than that.";

INSTANTIATE_TEST_SUITE_P(
    Triggers, Warnings,
    ::testing::Values(
        WarningCase{"sound_result", 200, 250, true, 0.1, 0.1, 0.002, {}},
        WarningCase{"exactly_a_quarter_accepted", 25, 100, true, 0.1, 0.1, 0.002, {}},
        WarningCase{"fewer_than_a_quarter_accepted", 59, 3000, true, 0.1, 0.1, 0.002, {kFewFrames}},
        WarningCase{"residuals_just_within_the_limit", 200, 200, true, 0.29, 0.1, 0.002, {}},
        WarningCase{"residuals_past_the_limit", 200, 200, true, 0.35, 0.1, 0.002, {kStrays}},
        WarningCase{"calibrated_result_has_no_drift_to_judge", 200, 200, false, 0, 0, 0.002, {}},
        WarningCase{"scale_error_exactly_one_percent", 200, 200, true, 0.1, 0.1, 0.01, {}},
        WarningCase{"scale_error_over_one_percent", 200, 200, true, 0.1, 0.1, 0.012, {kScale}},
        WarningCase{"every_doubt_at_once",
                    59,
                    3000,
                    true,
                    0.35,
                    0.1,
                    0.012,
                    {kFewFrames, kStrays, kScale}}),
    [](const auto& info) { return std::string(info.param.name); });
