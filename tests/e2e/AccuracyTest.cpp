// End-to-end accuracy: a simulated drift video of a pair with known
// separation and position angle is opened in the player, the pair selected by
// the measuring session's calls that the panel clicks make, measured over its
// frames by the run, and reduced; the results are compared with the truth the
// simulator reports.
#include "support/HeadlessMeasure.h"
#include "support/TempDir.h"

#include "reduce/Reduction.h"
#include "sim/DriftSim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace corvane;

namespace {

// Default box size of the window.
constexpr int32_t kBoxSize = 12;

// Clean recordings with good seeing. The sky is black because the weighted
// average has no background subtraction: a lit sky pulls each centre towards
// the middle of its box by design, which is a property of that method, not
// noise. Image motion (0.05 px) and pixel noise (1.5 grey levels) are small
// but present.
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

// A result may miss the truth by this many of the standard errors the
// simulated noise leaves after `frames` accepted frames: a fault-free run
// falls outside four standard errors but once in about 16,000.
constexpr double kStandardErrors = 4.0;

struct Bounds {
    double separation; // relative
    double angleDeg;
};

// A centroid over a B x B box of pixels whose noise is sigma (with the 8-bit
// rounding's 1/12) moves by sigma sqrt(B^2 (B^2 - 1) / 12) / F per axis, F being
// the star's light, 2 pi s^2 times its peak for a Gaussian of width s; the
// image motion moves the primary's track but not the pair. The pixel scale
// comes from twelve pairs of frames n - 12 apart, the drift direction from a
// line through n frames spaced by the drift per frame v. On a black sky the
// weighted average keeps, by design, the clipped noise as a pedestal W per
// pixel, which pulls each star towards its box's middle, at most half a pixel
// away on each axis, by W B^2 / (F + W B^2).
Bounds boundsFor(const sim::DriftParams& p, const sim::Truth& truth, Method method, int n) {
    const double b2 = double(kBoxSize) * kBoxSize;
    const double s = p.seeingFwhmPx / (2 * std::sqrt(2 * std::log(2.0)));
    const double noise = std::sqrt(p.noiseSigma * p.noiseSigma + 1.0 / 12);
    const auto centroid = [&](double peak) {
        return noise * std::sqrt(b2 * (b2 - 1) / 12) / (2 * M_PI * s * s * peak);
    };
    const double pri = centroid(p.primaryBrightness), sec = centroid(p.secondaryBrightness);
    const double pair = std::hypot(pri, sec), track = std::hypot(pri, p.jitterPx);
    const double rho = truth.separationArcsec * truth.pixelScalePxPerArcsec;
    const double v = sim::kSiderealRateArcsecPerS * std::cos(p.declinationDeg * M_PI / 180) *
                     truth.pixelScalePxPerArcsec / p.fps;
    const double scaleShare = std::sqrt(2.0) * track / ((n - 12) * v) / std::sqrt(12.0);
    const double lineSpread = v * std::sqrt(n * (double(n) * n - 1) / 12);
    Bounds out;
    out.separation = kStandardErrors * std::hypot(pair / rho / std::sqrt(n), scaleShare);
    out.angleDeg = kStandardErrors * 180 / M_PI *
                   std::hypot(pair / rho / std::sqrt(n), track / lineSpread,
                              0.01 / std::sqrt(12.0) * M_PI / 180);
    if (method == Method::WeightedAverage && p.sky == 0) {
        double pedestal = 0; // mean of max(0, round(noise)) per pixel
        for (int k = 1; k < 10 * p.noiseSigma + 2; ++k)
            pedestal += k * 0.5 *
                        (std::erfc((k - 0.5) / (p.noiseSigma * M_SQRT2)) -
                         std::erfc((k + 0.5) / (p.noiseSigma * M_SQRT2)));
        const auto pull = [&](double peak) {
            return pedestal * b2 / (2 * M_PI * s * s * peak + pedestal * b2);
        };
        const double most = (pull(p.primaryBrightness) + pull(p.secondaryBrightness)) / M_SQRT2;
        out.separation += most / rho;
        out.angleDeg += most / rho * 180 / M_PI;
    }
    return out;
}

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
    return std::fmod(a - b + 540.0, 360.0) - 180.0;
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
    const Orientation orientation = c.orientation == sim::Orientation::Mirrored
                                        ? Orientation::UprightReverted
                                        : Orientation::CorrectOrInverted;
    for (uint64_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        p.seed = 1000 * seed + static_cast<uint64_t>(c.positionAngleDeg * 10 + c.rotationDeg);
        const TempFile video(std::string("corvane-e2e-") + c.name);
        const sim::Truth truth = sim::writeDriftVideo(video.path(), p);
        ASSERT_TRUE(truth.staysInFrame);
        const Measured m = measure(video.path(), truth, method, orientation, c.declinationDeg);
        ASSERT_EQ(m.reduction.error, "") << "valid rows " << m.validRows;
        ASSERT_EQ(m.reduction.reached, ReductionStage::Separation);
        const double sepError = m.reduction.separation.separation / truth.separationArcsec - 1;
        const double paError =
            angleDifference(m.reduction.regression.positionAngle, truth.positionAngleDeg);
        const Bounds bound = boundsFor(p, truth, method, m.validRows);
        EXPECT_LT(std::fabs(sepError), bound.separation);
        EXPECT_LT(std::fabs(paError), bound.angleDeg);
    }
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
        const Bounds bound = boundsFor(p, truth, method, m.validRows);
        EXPECT_LT(std::fabs(m.reduction.separation.separation / truth.separationArcsec - 1),
                  bound.separation);
        EXPECT_LT(std::fabs(angleDifference(m.reduction.regression.positionAngle,
                                            truth.positionAngleDeg)),
                  bound.angleDeg);
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
    const Bounds bound = boundsFor(p, truth, Method::PeakSearch, m.validRows);
    EXPECT_LT(std::fabs(m.reduction.separation.separation / 20 - 1), bound.separation);
    EXPECT_LT(std::fabs(angleDifference(m.reduction.regression.positionAngle, 60)), bound.angleDeg);
}
