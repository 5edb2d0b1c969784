#include "Tables.h"

#include "reduce/Reduction.h"
#include "reduce/Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::driftTable;
using corvane::test::noisyDriftTable;

namespace {

// A steady drift of 32 frames, 5 pixels along screen x every 500 ms (10
// pixels per second) at declination 0, where the sky turns 15.04107
// arc-seconds per second: the pixel scale is 10 / 15.04107 = 0.6648463 and
// the secondary, 20 pixels to the right, is 30.08214 arc-seconds away. Each
// row below moves the stars of that drift by a pattern whose scatter is
// worked by hand; a pattern that alternates has no correlation from frame to
// frame, so the frames count in full. The position angle's error also holds
// the shown screen angle's rounding to 0.01 degree, 0.01 / sqrt(12).
struct TextbookCase {
    const char* name;
    void (*move)(PairPosition& row, int i);
    double sepSd, sepSem;     // pixels
    double angleSd, angleSem; // degrees
    double scaleSem;          // pixels per arc-second
    double driftSem;          // degrees
    double separationSem;     // arc-seconds
    double positionAngleSem;  // degrees
    // The magnitude difference and its error; NaN where no frame has a ratio.
    double deltaMag = std::nan(""), deltaMagSem = std::nan("");
};

int alternate(int i) {
    return i % 2 == 0 ? 1 : -1;
}

const TextbookCase kTextbook[] = {
    // Separations 21, 19, 21, ...: every deviation 1, so sd = sqrt(32 / 31)
    // and the mean's error 1 / sqrt(31); over the scale, 0.2701456 arcsec.
    {"separation_alternates_one_pixel_either_side",
     [](PairPosition& r, int i) { r.SecondaryX += static_cast<float>(alternate(i)); }, 1.016001016,
     0.179605302, 0, 0, 0, 0, 0.270145592, 0.002886751},
    // The secondary 2 pixels above and below: angles of +-atan(0.1) =
    // 5.7105931 degrees, sd 5.7105931 sqrt(32 / 31), error 5.7105931 / sqrt(31).
    {"screen_angle_alternates_either_side_of_zero",
     [](PairPosition& r, int i) { r.SecondaryY += static_cast<float>(2 * alternate(i)); }, 0, 0,
     5.801968430, 1.025652805, 0, 0, 0, 1.025656868},
    // Both stars half a pixel off the track by +, -, -, +, ...: the fitted
    // slope stays 0 and its standard error is sqrt(SSR / (n - 2) / Sxx) with
    // SSR = 32 x 0.25 and Sxx = 25 x 32 (32^2 - 1) / 12 = 68200: 0.1132961 degrees.
    {"drift_track_half_a_pixel_off_its_line",
     [](PairPosition& r, int i) {
         const float off = (i % 4 == 0 || i % 4 == 3) ? 0.5f : -0.5f;
         r.PrimaryY += off;
         r.SecondaryY += off;
     },
     0, 0, 0, 0, 0, 0.113296061, 0, 0.113332832},
    // The last 12 frames half a pixel ahead and behind in turn: the twelve
    // pairs 10 s apart drift 10 +- 0.05 pixels per second, scales
    // (10 +- 0.05) / 15.04107 whose mean's error is 0.05 / 15.04107 / sqrt(11);
    // relative 0.005 / sqrt(11) of the 30.08214 arc-seconds.
    {"late_frames_alternate_along_the_drift",
     [](PairPosition& r, int i) {
         const float off = i >= 20 ? 0.5f * static_cast<float>(alternate(i)) : 0.0f;
         r.PrimaryX += off;
         r.SecondaryX += off;
     },
     0, 0, 0, 0, 0.001002294, 0, 0.045350532, 0.002886751},
    // Every other frame's light ratio clipped away; the 16 left alternate
    // 0.11, 0.09: mean 0.1 (2.5 magnitudes), error 0.01 / sqrt(15) times
    // 2.5 / ln 10 / 0.1 magnitudes.
    {"light_ratios_of_every_other_frame",
     [](PairPosition& r, int i) {
         if (i % 2 == 0)
             r.FluxRatio = i % 4 == 0 ? 0.11f : 0.09f;
     },
     0, 0, 0, 0, 0, 0, 0, 0.002886751, 2.5, 0.028033588},
};

class Textbook : public ::testing::TestWithParam<TextbookCase> {};

} // namespace

TEST_P(Textbook, StandardErrorsAreTheWorkedValues) {
    const TextbookCase& c = GetParam();
    PairPositions t = driftTable(Drift{});
    for (int i = 0; i < static_cast<int>(t.size()); ++i) {
        c.move(t[static_cast<std::size_t>(i)], i);
        computeSeparationAndAngle(t[static_cast<std::size_t>(i)]);
    }
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, 0.0L);
    ASSERT_EQ(r.error, "");
    EXPECT_NEAR(r.separation.pixelScale, 0.6648463, 1e-6);
    const ReductionStatistics& s = r.statistics;
    EXPECT_EQ(s.framesAccepted, 32);
    EXPECT_DOUBLE_EQ(s.framesEffective, 32);
    // Positions are stored in single precision: agreement to a few parts in 10^6.
    const auto near = [](double got, double want) { EXPECT_NEAR(got, want, 2e-6 * want + 1e-7); };
    near(s.separationPx.sd, c.sepSd);
    near(s.separationPx.stderrOfMean, c.sepSem);
    near(s.screenAngle.sd, c.angleSd);
    near(s.screenAngle.stderrOfMean, c.angleSem);
    near(s.pixelScaleStderr, c.scaleSem);
    near(s.driftAngleStderr, c.driftSem);
    near(s.separationStderr, c.separationSem);
    near(s.positionAngleStderr, c.positionAngleSem);
    if (std::isnan(c.deltaMag)) {
        EXPECT_TRUE(std::isnan(s.deltaMag));
    } else {
        near(s.deltaMag, c.deltaMag);
        near(s.deltaMagStderr, c.deltaMagSem);
    }
}

INSTANTIATE_TEST_SUITE_P(WorkedByHand, Textbook, ::testing::ValuesIn(kTextbook),
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
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, 0.0L);
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

// 32 accepted frames with a light ratio of 0.1 and 8 rejected ones of 0.01:
// the rejected frames' ratios count only where the secondary's own fit lost
// it, as it does where a faint companion is fainter than usual.
TEST(MagnitudeOfRejectedFrames, CountsOnlyFramesWhoseSecondaryWasLost) {
    const struct {
        const char* name;
        bool ratioOnly;
        double deltaMag;
    } cases[] = {{"secondary_lost_in_the_rejected_frames", true, 2.7154654},
                 {"rejected_for_other_reasons", false, 2.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PairPositions t = driftTable(Drift{});
        for (PairPosition& r : t)
            r.FluxRatio = 0.1f;
        PairPosition lost = t.back();
        lost.Valid = false;
        lost.RatioOnly = c.ratioOnly;
        lost.FluxRatio = 0.01f;
        t.insert(t.end(), 8, lost);
        const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, 0.0L);
        ASSERT_EQ(r.error, "");
        EXPECT_NEAR(r.statistics.deltaMag, c.deltaMag, 1e-6);
    }
}
