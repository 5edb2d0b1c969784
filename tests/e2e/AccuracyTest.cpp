// End-to-end accuracy: a simulated drift video of a pair with known
// separation and position angle is opened in the player, the pair selected by
// the measuring session's calls that the panel clicks make, measured over its
// frames by the run, and reduced; the results are compared with the truth the
// simulator reports.
#include "support/HeadlessMeasure.h"
#include "support/TempDir.h"

#include "common/NumberText.h"
#include "reduce/Reduction.h"
#include "sim/DriftSim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace corvane;

namespace {

// Default box size of the window.
constexpr int32_t kBoxSize = 12;

// Clean recordings with good seeing. The sky is black because the weighted
// average has no background subtraction: a lit sky pulls each centre towards
// the middle of its box by design, which is a property of that method, not
// noise. Image motion (0.05 px) and pixel noise (1.5 grey levels) are small
// but present; averaged over 100 or more accepted frames they leave the
// separation within about 0.1 % and the angle within about 0.1 degree, so the
// tolerances below catch a fault in any layer of the chain.
sim::DriftParams cleanDrift() {
    sim::DriftParams p;
    p.width = 320;
    p.height = 240;
    p.fps = 25.0;
    p.codec = sim::Codec::Grey;
    p.primaryBrightness = 200.0;
    p.secondaryBrightness = 120.0;
    p.seeingFwhmPx = 2.5;
    p.jitterPx = 0.05;
    p.sky = 0.0;
    p.noiseSigma = 1.5;
    return p;
}

// Required agreement with the truth.
constexpr double kSeparationTolerance = 0.005;  // relative
constexpr double kPositionAngleTolerance = 0.3; // degrees

struct AccuracyCase {
    const char* name;
    double separationArcsec;
    double positionAngleDeg;
    double declinationDeg;
    double scalePxPerArcsec;
    double rotationDeg; // drift direction on the screen
    sim::Orientation orientation;
    int frames;
};

double angleDifference(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180)
        d -= 360;
    if (d < -180)
        d += 360;
    return d;
}

// A video file in a temporary folder of its own.
class TempFile {
public:
    explicit TempFile(const std::string& stem) : path_(dir_.file(stem + ".avi")) {}
    const std::string& path() const { return path_; }

private:
    test::TempDir dir_;
    std::string path_;
};

using Measured = test::HeadlessMeasurement;

// The window's path through the measuring session, with the window's box size.
Measured measure(const std::string& path, const sim::Truth& truth, Method method,
                 Orientation orientation, double declinationDeg) {
    return test::measureHeadless(path, truth, method, declinationDeg, {}, kBoxSize, orientation);
}

const char* methodName(Method m) {
    return m == Method::WeightedAverage ? "weighted" : "peaks";
}

} // namespace

class Accuracy : public ::testing::TestWithParam<std::tuple<AccuracyCase, Method>> {};

TEST_P(Accuracy, SeparationAndPositionAngleMatchTheTruth) {
    const AccuracyCase& c = std::get<0>(GetParam());
    const Method method = std::get<1>(GetParam());
    sim::DriftParams p = cleanDrift();
    p.frames = c.frames;
    p.separationArcsec = c.separationArcsec;
    p.positionAngleDeg = c.positionAngleDeg;
    p.declinationDeg = c.declinationDeg;
    p.scalePxPerArcsec = c.scalePxPerArcsec;
    p.rotationDeg = c.rotationDeg;
    p.orientation = c.orientation;
    p.seed = 1000 + static_cast<uint64_t>(c.positionAngleDeg * 10 + c.rotationDeg);

    const TempFile video(std::string("corvane-e2e-") + c.name);
    const sim::Truth truth = sim::writeDriftVideo(video.path(), p);
    ASSERT_TRUE(truth.staysInFrame);

    const Orientation orientation = c.orientation == sim::Orientation::Mirrored
                                        ? Orientation::UprightReverted
                                        : Orientation::CorrectOrInverted;
    const Measured m = measure(video.path(), truth, method, orientation, c.declinationDeg);
    ASSERT_EQ(m.reduction.error, "") << "valid rows " << m.validRows;
    ASSERT_EQ(m.reduction.reached, ReductionStage::Separation);

    const double separation = textToFloat(m.reduction.separation.separationText, '.');
    const double pa = textToFloat(m.reduction.regression.positionAngleText, '.');
    const double sepError = (separation - truth.separationArcsec) / truth.separationArcsec;
    const double paError = angleDifference(pa, truth.positionAngleDeg);
    std::printf("E2E %-28s %-8s rows %3d  sep %7.3f (true %7.3f, %+6.3f %%)  PA %7.2f (true "
                "%7.2f, %+5.2f)  scale %s (true %.4f)\n",
                c.name, methodName(method), m.validRows, separation, truth.separationArcsec,
                100 * sepError, pa, truth.positionAngleDeg, paError,
                m.reduction.separation.pixelScaleText.c_str(), truth.pixelScalePxPerArcsec);
    EXPECT_LT(std::fabs(sepError), kSeparationTolerance);
    EXPECT_LT(std::fabs(paError), kPositionAngleTolerance);
}

namespace {

constexpr sim::Orientation Correct = sim::Orientation::Correct;
constexpr sim::Orientation Mirrored = sim::Orientation::Mirrored;

const AccuracyCase kCases[] = {
    // Pixel separations of 26 to 30 px keep each 12-pixel star box well clear
    // of the other star's light.
    // name, sep", PA, dec, px/", drift direction, orientation, frames
    {"ne_quadrant_dec0", 28, 45, 0, 1.0, 0, Correct, 200},
    {"se_quadrant_dec45", 24, 135, 45, 1.2, 0, Correct, 200},
    {"sw_quadrant_decm30", 27, 225, -30, 1.0, 0, Correct, 200},
    {"nw_quadrant_dec75", 14, 315, 75, 2.0, 0, Correct, 250},
    {"drift_left_dec0", 28, 30, 0, 1.0, 180, Correct, 200},
    {"drift_rising_dec45", 23, 200, 45, 1.2, 35, Correct, 200},
    {"drift_falling_decm30", 29, 100, -30, 1.0, -50, Correct, 200},
    {"drift_slanted_dec75", 14, 20, 75, 2.0, 130, Correct, 250},
    {"drift_up_dec0", 28, 60, 0, 1.0, 90, Correct, 150},
    {"drift_down_dec45", 24, 250, 45, 1.2, 270, Correct, 150},
    {"drift_near_up_dec0", 28, 330, 0, 1.0, 89.7, Correct, 150},
    {"drift_near_down_decm30", 27, 160, -30, 1.0, 269.6, Correct, 150},
    {"drift_steep_dec0", 28, 290, 0, 1.0, 80, Correct, 150},
    {"mirrored_ne_dec0", 28, 45, 0, 1.0, 0, Mirrored, 200},
    {"mirrored_sw_dec45", 24, 210, 45, 1.2, 20, Mirrored, 200},
    {"mirrored_near_up_dec75", 14, 300, 75, 2.0, 90.4, Mirrored, 250},
    {"mirrored_se_decm30", 28, 120, -30, 1.0, 160, Mirrored, 200},
    {"mirrored_nw_dec0", 26, 340, 0, 1.0, -20, Mirrored, 200},
    // Pair close to vertical on the screen: per-frame angles wrap at +-90.
    {"pair_vertical_on_screen", 28, 0, 0, 1.0, 0, Correct, 200},
    {"pair_vertical_below", 24, 180, 45, 1.2, 0, Correct, 200},
    {"pair_vertical_slanted_drift", 28, 10, 0, 1.0, 12, Correct, 200},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Drifts, Accuracy,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(Method::WeightedAverage,
                                                              Method::PeakSearch)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    methodName(std::get<1>(info.param));
                         });

// A pair anywhere in a 1280 x 960 frame, as today's cameras record it: the
// whole frame is measured, not only the part the panel shows at first.
struct PlaceCase {
    const char* name;
    double x, y; // primary in frame 0
};

class LargeFrameAccuracy : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(LargeFrameAccuracy, BothMethodsMatchTheTruth) {
    const PlaceCase& c = GetParam();
    sim::DriftParams p = cleanDrift();
    p.width = 1280;
    p.height = 960;
    p.frames = 150;
    p.separationArcsec = 28;
    p.positionAngleDeg = 45;
    p.declinationDeg = 0;
    p.start = sim::Point{c.x, c.y};
    p.seed = 2000 + static_cast<uint64_t>(c.x);
    const TempFile video(std::string("corvane-e2e-large-") + c.name);
    const sim::Truth truth = sim::writeDriftVideo(video.path(), p);
    ASSERT_TRUE(truth.staysInFrame);

    for (Method method : {Method::WeightedAverage, Method::PeakSearch}) {
        SCOPED_TRACE(methodName(method));
        const Measured m =
            measure(video.path(), truth, method, Orientation::CorrectOrInverted, p.declinationDeg);
        ASSERT_EQ(m.reduction.error, "") << "valid rows " << m.validRows;
        const double separation = textToFloat(m.reduction.separation.separationText, '.');
        const double pa = textToFloat(m.reduction.regression.positionAngleText, '.');
        EXPECT_LT(std::fabs(separation - truth.separationArcsec) / truth.separationArcsec,
                  kSeparationTolerance);
        EXPECT_LT(std::fabs(angleDifference(pa, truth.positionAngleDeg)), kPositionAngleTolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Places, LargeFrameAccuracy,
                         ::testing::Values(PlaceCase{"far_corner", 1100, 850},
                                           PlaceCase{"top_right", 1150, 120}),
                         [](const auto& info) { return std::string(info.param.name); });

// A pair lying along a pixel row on a lit, noisy sky: the star boxes placed
// by the clicks come out a row apart, so the expected offset is (-20, 1)
// while every frame shows the pair on one row. Each frame must still count.
TEST(AccuracyAlongARow, BoxesCentredARowApartStillAcceptTheFrames) {
    sim::DriftParams p = cleanDrift();
    p.frames = 200;
    p.separationArcsec = 20;
    p.positionAngleDeg = 60;
    p.declinationDeg = 0;
    p.scalePxPerArcsec = 1.0;
    p.rotationDeg = 30; // puts the pair along the screen's x axis
    p.seeingFwhmPx = 3.5;
    p.sky = 20;
    p.noiseSigma = 3;
    p.seed = 7;
    const TempFile video("corvane-e2e-along-a-row");
    const sim::Truth truth = sim::writeDriftVideo(video.path(), p);
    ASSERT_TRUE(truth.staysInFrame);

    const Measured m =
        measure(video.path(), truth, Method::PeakSearch, Orientation::CorrectOrInverted, 0);
    ASSERT_EQ(m.expectedDX, -20);
    ASSERT_NE(m.expectedDY, 0) << "the clicks no longer put the boxes a row apart";
    EXPECT_GT(m.validRows, 100);
    ASSERT_EQ(m.reduction.error, "");
    const double separation = textToFloat(m.reduction.separation.separationText, '.');
    const double pa = textToFloat(m.reduction.regression.positionAngleText, '.');
    EXPECT_LT(std::fabs(separation - 20) / 20, kSeparationTolerance);
    EXPECT_LT(std::fabs(angleDifference(pa, 60)), kPositionAngleTolerance);
}
