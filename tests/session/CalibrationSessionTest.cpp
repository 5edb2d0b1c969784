// Calibrate once, measure many: one drifting star of a drift video calibrates
// the camera, and a tracked video of another pair taken with the same camera
// (same scale, rotation and orientation) is measured with that calibration.
#include "support/CleanDrift.h"
#include "support/TempDir.h"

#include "measure/Methods.h"
#include "session/MeasuringSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace corvane {
namespace {

// The end-to-end accuracy asked of every measurement of a clean video.
constexpr double kSeparationTolerance = 0.005;  // relative
constexpr double kPositionAngleTolerance = 0.3; // degrees
// A reported standard error must cover the error it reports on: beyond four
// of them is a chance of 1 in 16,000 for an honest error bar.
constexpr double kStandardErrors = 4.0;

constexpr double kCameraRotation = 25.0;

double angleDifference(double a, double b) {
    return std::remainder(a - b, 360.0);
}

RunHooks toTheEnd(const MeasuringSession& s) {
    RunHooks h;
    const int32_t stop = s.player().VideoLength();
    h.stopFrame = [stop] { return stop; };
    return h;
}

int32_t pixel(double v) {
    return static_cast<int32_t>(std::lround(v));
}

class CalibrateOnceMeasureMany : public ::testing::TestWithParam<uint64_t> {
protected:
    test::TempDir dir;
};

} // namespace

TEST_P(CalibrateOnceMeasureMany, TrackedPairIsMeasuredWithTheDriftsCalibration) {
    const uint64_t seed = GetParam();
    sim::DriftParams drift = test::cleanDrift(seed);
    drift.rotationDeg = kCameraRotation;
    const std::string driftVideo = dir.file("drift.avi");
    const sim::Truth driftTruth = sim::writeDriftVideo(driftVideo, drift);
    ASSERT_TRUE(driftTruth.staysInFrame);

    // The drift's primary alone calibrates the camera.
    MeasuringSession calibrating;
    calibrating.open(driftVideo);
    calibrating.reset(0);
    const sim::Point star = driftTruth.frames[0].primary;
    calibrating.selectSingleStar(pixel(star.x), pixel(star.y), 12, [] { return 0; });
    calibrating.run(Method::WeightedAverage, toTheEnd(calibrating));
    const Calibration cal = calibrating.driftCalibration("+30", "00", "00", '.',
                                                         "2026-12-08T21:00:00.000Z", "drift.avi");
    EXPECT_NEAR(cal.pixelsPerArcsec, drift.scalePxPerArcsec,
                kStandardErrors * cal.pixelsPerArcsecStderr);
    EXPECT_NEAR(angleDifference(cal.driftAngle, kCameraRotation), 0,
                kStandardErrors * cal.driftAngleStderr);

    // Another pair, the telescope tracking, the same camera.
    sim::DriftParams tracked = test::cleanDrift(seed + 100);
    tracked.tracking = true;
    tracked.rotationDeg = kCameraRotation;
    tracked.separationArcsec = 9.0;
    tracked.positionAngleDeg = 130.0;
    tracked.declinationDeg = 55.0;
    const std::string trackedVideo = dir.file("tracked.avi");
    const sim::Truth truth = sim::writeDriftVideo(trackedVideo, tracked);
    ASSERT_TRUE(truth.staysInFrame);

    MeasuringSession session;
    session.useCalibration(cal);
    session.open(trackedVideo);
    session.reset(0);
    const sim::FrameTruth& f = truth.frames[0];
    session.selectPrimary(pixel(f.primary.x), pixel(f.primary.y), 12);
    session.selectSecondary(pixel(f.secondary.x), pixel(f.secondary.y), 12, [] { return 0; });
    session.run(kDefaultMethod, toTheEnd(session));
    EXPECT_GT(session.acceptedFrames(), tracked.frames * 9 / 10)
        << "a still picture is no repeated frame while a calibration is used";

    const ReductionResult r = session.reduce(Orientation::CorrectOrInverted, "", "", "", '.');
    ASSERT_EQ(r.error, "");
    const ReductionStatistics& st = r.statistics;
    const double sepError = r.separation.separation - truth.separationArcsec;
    const double paError = angleDifference(r.regression.positionAngle, truth.positionAngleDeg);
    EXPECT_LT(std::fabs(sepError) / truth.separationArcsec, kSeparationTolerance);
    EXPECT_LT(std::fabs(paError), kPositionAngleTolerance);
    // The calibration's errors are in the result's.
    EXPECT_GT(st.separationStderrFromScale, 0.0);
    EXPECT_EQ(st.positionAngleStderrFromDrift, cal.driftAngleStderr);
    EXPECT_LT(std::fabs(sepError), kStandardErrors * st.separationStderr);
    EXPECT_LT(std::fabs(paError), kStandardErrors * st.positionAngleStderr);

    session.stopUsingCalibration();
    EXPECT_NE(session.reduce(Orientation::CorrectOrInverted, "+55", "00", "00", '.').error, "")
        << "without the calibration a tracked video has no drift to reduce";
}

INSTANTIATE_TEST_SUITE_P(Seeds, CalibrateOnceMeasureMany, ::testing::Values(3u, 17u, 29u));

} // namespace corvane
