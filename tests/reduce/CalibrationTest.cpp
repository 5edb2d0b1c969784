#include "Tables.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "reduce/Calibration.h"
#include "reduce/Reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::noisyDriftTable;

namespace {

Calibration calibration(double scale, double scaleSe, double drift, double driftSe,
                        const char* source = "drift.avi", int32_t frames = 100) {
    Calibration c;
    c.pixelsPerArcsec = scale;
    c.pixelsPerArcsecStderr = scaleSe;
    c.driftAngle = drift;
    c.driftAngleStderr = driftSe;
    c.dec = 30;
    c.observedUtc = "2026-12-08T21:00:00Z";
    c.source = source;
    c.framesAccepted = frames;
    return c;
}

struct CombineCase {
    const char* name;
    std::vector<Calibration> inputs;
    double scale, scaleSe, drift, driftSe; // worked by hand
    bool disagree;
};

class Combination : public ::testing::TestWithParam<CombineCase> {};

} // namespace

TEST_P(Combination, WeighsByInverseVarianceAndTellsADisagreement) {
    const CombineCase& c = GetParam();
    const CombinedCalibration r = combineCalibrations(c.inputs);
    EXPECT_NEAR(r.calibration.pixelsPerArcsec, c.scale, 1e-12);
    EXPECT_NEAR(r.calibration.pixelsPerArcsecStderr, c.scaleSe, 1e-12);
    EXPECT_NEAR(r.calibration.driftAngle, c.drift, 1e-9);
    EXPECT_NEAR(r.calibration.driftAngleStderr, c.driftSe, 1e-12);
    EXPECT_EQ(r.agreement.disagree, c.disagree) << "chi-square " << r.agreement.chiSquare;
    EXPECT_EQ(r.agreement.degreesOfFreedom, 2 * static_cast<int32_t>(c.inputs.size() - 1));
}

INSTANTIATE_TEST_SUITE_P(
    Worked, Combination,
    ::testing::Values(
        CombineCase{"one_calibration_as_it_is",
                    {calibration(1.5, 0.01, 20, 0.1)},
                    1.5,
                    0.01,
                    20,
                    0.1,
                    false},
        // Each one error from the mean: chi-square 4 on 2 degrees of freedom.
        CombineCase{"equal_errors_average",
                    {calibration(1.50, 0.01, 20.0, 0.1), calibration(1.52, 0.01, 20.2, 0.1)},
                    1.51,
                    0.01 / std::sqrt(2.0),
                    20.1,
                    0.1 / std::sqrt(2.0),
                    false},
        // Weights 10000 and 2500: (1.5 * 4 + 1.53) / 5.
        CombineCase{"smaller_error_weighs_more",
                    {calibration(1.50, 0.01, 10, 0.1), calibration(1.53, 0.02, 10, 0.2)},
                    1.506,
                    1.0 / std::sqrt(12500.0),
                    10,
                    1.0 / std::sqrt(125.0),
                    false},
        CombineCase{"directions_either_side_of_zero",
                    {calibration(1.5, 0.01, 359.9, 0.1), calibration(1.5, 0.01, 0.1, 0.1)},
                    1.5,
                    0.01 / std::sqrt(2.0),
                    0,
                    0.1 / std::sqrt(2.0),
                    false},
        CombineCase{"directions_either_side_of_270",
                    {calibration(1.5, 0.01, 269.9, 0.1), calibration(1.5, 0.01, -89.7, 0.1)},
                    1.5,
                    0.01 / std::sqrt(2.0),
                    270.1 - 360,
                    0.1 / std::sqrt(2.0),
                    false},
        // A calibration file written by hand may give a direction a turn out.
        CombineCase{"directions_written_a_turn_out",
                    {calibration(1.5, 0.01, 359.9, 0.1), calibration(1.5, 0.01, 360.1, 0.1)},
                    1.5,
                    0.01 / std::sqrt(2.0),
                    0,
                    0.1 / std::sqrt(2.0),
                    false},
        // Five errors apart: chi-square 50.
        CombineCase{"scales_five_errors_apart",
                    {calibration(1.5, 0.01, 20, 0.1), calibration(1.6, 0.01, 20, 0.1)},
                    1.55,
                    0.01 / std::sqrt(2.0),
                    20,
                    0.1 / std::sqrt(2.0),
                    true},
        CombineCase{"directions_five_errors_apart",
                    {calibration(1.5, 0.01, 20, 0.1), calibration(1.5, 0.01, 21, 0.1)},
                    1.5,
                    0.01 / std::sqrt(2.0),
                    20.5,
                    0.1 / std::sqrt(2.0),
                    true},
        // Chi-square 9.5 on 4 degrees of freedom, below the 1 % limit 13.28...
        CombineCase{"three_within_their_errors",
                    {calibration(1.50, 0.01, 20, 0.1), calibration(1.52, 0.01, 20, 0.1),
                     calibration(1.54, 0.01, 20.15, 0.1)},
                    1.52,
                    0.01 / std::sqrt(3.0),
                    20.05,
                    0.1 / std::sqrt(3.0),
                    false},
        // ... and 14.5 above it.
        CombineCase{"three_just_beyond_their_errors",
                    {calibration(1.50, 0.01, 20, 0.1), calibration(1.52, 0.01, 20.1, 0.1),
                     calibration(1.54, 0.01, 20.35, 0.1)},
                    1.52,
                    0.01 / std::sqrt(3.0),
                    20.15,
                    0.1 / std::sqrt(3.0),
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CombinedCalibration, KeepsTheFirstsRecordAndJoinsTheSources) {
    const CombinedCalibration r =
        combineCalibrations({calibration(1.5, 0.01, 20, 0.1, "a.avi", 100),
                             calibration(1.5, 0.01, 20, 0.1, "b.avi", 80)});
    EXPECT_EQ(r.calibration.source, "a.avi, b.avi");
    EXPECT_EQ(r.calibration.framesAccepted, 180);
    EXPECT_EQ(r.calibration.dec, 30);
    EXPECT_EQ(r.calibration.observedUtc, "2026-12-08T21:00:00Z");
}

TEST(CombinedCalibration, LimitIsTheChiSquareOnePercentPoint) {
    // Published upper 1 % points of the chi-square distribution.
    const std::pair<int, double> exact[] = {{2, 9.2103}, {4, 13.2767}, {6, 16.8119}, {10, 23.2093}};
    for (const auto& [dof, limit] : exact) {
        std::vector<Calibration> c(static_cast<std::size_t>(dof / 2 + 1),
                                   calibration(1.5, 0.01, 20, 0.1));
        EXPECT_NEAR(combineCalibrations(c).agreement.limit, limit, 0.01 * limit) << dof;
    }
}

TEST(CombinedCalibration, RefusesNothingOrAnErrorOfZero) {
    const std::vector<std::vector<Calibration>> bad = {
        {},
        {calibration(1.5, 0, 20, 0.1, "exact.avi"), calibration(1.5, 0.01, 20, 0.1)},
        {calibration(1.5, 0.01, 20, 0.1), calibration(1.5, 0.01, 20, 0, "exact.avi")}};
    const std::vector<std::string> messages = {
        "No calibration was given.",
        "The calibration from exact.avi has no standard error of its pixel scale, so it cannot "
        "be weighed against the others.",
        "The calibration from exact.avi has no standard error of its drift direction, so it "
        "cannot be weighed against the others."};
    for (std::size_t i = 0; i < bad.size(); ++i) {
        try {
            combineCalibrations(bad[i]);
            ADD_FAILURE() << "combined set " << i;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), messages[i]);
        }
    }
}

namespace {

// A tracked video: the stars stay where they are but for the centring
// error; the secondary 15 px from the primary at screen angle 36.87 degrees.
PairPositions trackedTable() {
    Drift d;
    d.rows = 50;
    d.pixelsPerRow = 0;
    d.offsetX = 12;
    d.offsetY = -9;
    return noisyDriftTable(d, 0.05, 8);
}

double sem(const std::vector<double>& v) {
    double m = 0, s = 0;
    for (double x : v)
        m += x / static_cast<double>(v.size());
    for (double x : v)
        s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size() - 1) / static_cast<double>(v.size()));
}

struct TrackedCase {
    const char* name;
    Orientation orientation;
    double positionAngle; // 36.87 - 90 - 20, turned by the orientation
    double sense;         // +1 when the position angle follows the screen angle, -1 mirrored
};

class CalibratedReduction : public ::testing::TestWithParam<TrackedCase> {};

} // namespace

TEST_P(CalibratedReduction, MeasuresATrackedVideoWithTheCalibrationsErrors) {
    const PairPositions t = trackedTable();
    ASSERT_NE(reduce(t, GetParam().orientation, 30.0L).error, "")
        << "a table without drift must still be refused when the drift is used";

    const Calibration cal = calibration(1.5, 0.003, 20, 0.05);
    const ReductionResult r = reduceWithCalibration(t, cal, GetParam().orientation);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.reached, ReductionStage::Separation);
    std::vector<double> sep, angle;
    double meanSep = 0, meanAngle = 0;
    for (const PairPosition& row : t) {
        sep.push_back(row.SepPixels);
        angle.push_back(row.ScreenAngle);
        meanSep += row.SepPixels / static_cast<double>(t.size());
        meanAngle += row.ScreenAngle / static_cast<double>(t.size());
    }
    EXPECT_NEAR(r.separation.separation, meanSep / 1.5, 1e-5);
    EXPECT_NEAR(r.regression.positionAngle,
                GetParam().positionAngle + GetParam().sense * (meanAngle - 36.8699), 0.006);
    EXPECT_EQ(formatRounded(r.separation.pixelScale, 4), "1.5");
    EXPECT_EQ(formatRounded(r.regression.driftAngle, 2), "20");
    EXPECT_TRUE(r.calibrated);

    const ReductionStatistics& s = r.statistics;
    EXPECT_FALSE(s.driftMeasured);
    const double fromScale = r.separation.separation * 0.003 / 1.5;
    EXPECT_NEAR(s.separationStderrFromScale, fromScale, 1e-9);
    EXPECT_NEAR(s.separationStderr, std::hypot(sem(sep) / 1.5, fromScale), 1e-6);
    EXPECT_NEAR(s.positionAngleStderr,
                std::sqrt(sem(angle) * sem(angle) + 0.05 * 0.05 + 0.01 * 0.01 / 12), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Orientations, CalibratedReduction,
                         ::testing::Values(TrackedCase{"correct", Orientation::CorrectOrInverted,
                                                       36.8699 - 90 - 20 + 360, 1},
                                           TrackedCase{"mirrored", Orientation::UprightReverted,
                                                       180 - (36.8699 - 90 - 20), -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CalibratedReduction, DriftsOwnCalibrationGivesTheDriftsResult) {
    Drift d;
    d.rows = 80;
    d.directionDeg = 200;
    d.offsetX = -14;
    d.offsetY = -6;
    const PairPositions t = noisyDriftTable(d, 0.1, 5);
    const ReductionResult drift = reduce(t, Orientation::UprightReverted, 45.0L);
    ASSERT_EQ(drift.error, "");
    const Calibration cal = calibrationFrom(drift, 45, "2026-12-08T21:00:00Z", "drift.avi");
    EXPECT_EQ(cal.framesAccepted, 80);
    EXPECT_EQ(cal.pixelsPerArcsecStderr, drift.statistics.pixelScaleStderr);
    EXPECT_EQ(cal.driftAngleStderr, drift.statistics.driftAngleStderr);

    const ReductionResult r = reduceWithCalibration(t, cal, Orientation::UprightReverted);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(formatRounded(r.regression.positionAngle, 2),
              formatRounded(drift.regression.positionAngle, 2));
    EXPECT_EQ(formatRounded(r.separation.separation, 2),
              formatRounded(drift.separation.separation, 2));
    EXPECT_EQ(formatRounded(r.separation.pixelScale, 4),
              formatRounded(drift.separation.pixelScale, 4));
    EXPECT_EQ(formatRounded(r.regression.driftAngle, 2),
              formatRounded(drift.regression.driftAngle, 2));
    EXPECT_DOUBLE_EQ(r.statistics.separationStderr, drift.statistics.separationStderr);
    EXPECT_DOUBLE_EQ(r.statistics.positionAngleStderr, drift.statistics.positionAngleStderr);
}

TEST(CalibratedReduction, RefusesTooFewRowsOrAnUnusableCalibration) {
    PairPositions few = trackedTable();
    for (std::size_t i = 15; i < few.size(); ++i)
        few[i].Valid = false;
    const ReductionResult a =
        reduceWithCalibration(few, calibration(1.5, 0.003, 20, 0.05), Orientation{});
    EXPECT_EQ(a.reached, ReductionStage::None);
    EXPECT_NE(a.error.find("Only 15 frames are valid"), std::string::npos) << a.error;

    const ReductionResult b = reduceWithCalibration(
        trackedTable(), calibration(0, 0.003, 20, 0.05, "blank.json"), Orientation{});
    EXPECT_EQ(b.reached, ReductionStage::None);
    EXPECT_EQ(b.error, "The calibration from blank.json holds no usable pixel scale and drift "
                       "direction.");
}

TEST(CalibrationFrom, RefusesAReductionThatDidNotFinish) {
    ReductionResult unfinished;
    unfinished.reached = ReductionStage::Regression;
    EXPECT_THROW(calibrationFrom(unfinished, 30, "", "x.avi"), Error);
}

TEST(CalibrationFromDrift, OneDriftingStarGivesWhatThePairsReductionGives) {
    Drift d;
    d.rows = 80;
    d.directionDeg = 200;
    d.offsetX = -14;
    d.offsetY = -6;
    const PairPositions pair = noisyDriftTable(d, 0.1, 5);
    const ReductionResult drift = reduce(pair, Orientation::CorrectOrInverted, 45.0L);
    ASSERT_EQ(drift.error, "");
    const Calibration fromPair = calibrationFrom(drift, -45, "2026-12-08T21:00:00Z", "drift.avi");

    // The same primary with no second star: its box followed the one star.
    PairPositions single = pair;
    for (PairPosition& r : single) {
        r.SecondaryX = r.PrimaryX;
        r.SecondaryY = r.PrimaryY;
        computeSeparationAndAngle(r);
    }
    const Calibration c = calibrationFromDrift(single, -45, "2026-12-08T21:00:00Z", "drift.avi");
    EXPECT_EQ(c.pixelsPerArcsec, fromPair.pixelsPerArcsec);
    EXPECT_EQ(c.pixelsPerArcsecStderr, fromPair.pixelsPerArcsecStderr);
    EXPECT_EQ(c.driftAngle, fromPair.driftAngle);
    EXPECT_EQ(c.driftAngleStderr, fromPair.driftAngleStderr);
    EXPECT_EQ(c.dec, -45);
    EXPECT_EQ(c.framesAccepted, 80);

    try {
        calibrationFromDrift(trackedTable(), 30, "", "tracked.avi");
        ADD_FAILURE() << "a star that does not drift gives no calibration";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("no straight drift"), std::string::npos) << e.what();
    }
}
