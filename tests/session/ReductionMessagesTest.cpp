#include "session/ReductionMessages.h"

#include "reduce/Clipping.h"
#include "reduce/Reduction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane;

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

TEST(CombinedCalibration, DisagreementWarningGivesTheTest) {
    CalibrationAgreement a;
    a.chiSquare = 50;
    a.degreesOfFreedom = 2;
    a.limit = 9.2213;
    EXPECT_EQ(calibrationDisagreementWarning(a, ','),
              "The calibrations disagree by more than their errors allow (chi-square 50 for 2 "
              "degrees of freedom, more than 9,2): check that they come from the same camera, "
              "focus and rotation.");
}

struct RefusalCase {
    const char* name;
    Refusal refusal;
    const char* text;
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, QuoteTheirNumber) {
    EXPECT_EQ(refusalText(GetParam().refusal), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, Refusals,
    ::testing::Values(
        RefusalCase{"declination_of_a_calibration",
                    {RefusalReason::DeclinationBeyondRange, -91.5},
                    "The declination -91.5 is not between -90 and +90 degrees."},
        RefusalCase{"scale_of_a_drift_near_the_pole",
                    {RefusalReason::DriftTooSlow, static_cast<double>(1234.5f)},
                    "At this declination the stars drift too slowly to give a pixel scale "
                    "(1234.5 pixels per arc-second). Near the pole, measure with a calibration."},
        RefusalCase{"scale_below_any_camera",
                    {RefusalReason::ScaleBelowLowest, static_cast<double>(0.0005f)},
                    "The drift gives a pixel scale of 0.000500000023748726 pixels per "
                    "arc-second, below 0.001. Check the frame times and the declination."},
        RefusalCase{"outlier_limit",
                    {RefusalReason::ClipLimitTooSmall, 0.5},
                    "The outlier limit 0.5 is not a number of standard deviations of at least "
                    "1."}),
    [](const auto& info) { return std::string(info.param.name); });
