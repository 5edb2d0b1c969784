#include "Tables.h"

#include "common/Error.h"
#include "reduce/Reduction.h"

#include "common/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::driftTable;

namespace {

// 32 valid rows, 5 px and 500 ms apart: every pixel-scale pair is 20 rows,
// 100 px and 10000 ms apart.
PairPositions hundredPixelsInTenSeconds(float sepPixels, int64_t startUs = 0) {
    PairPositions t = driftTable(Drift{});
    for (PairPosition& r : t) {
        r.SepPixels = sepPixels;
        r.TimeUs += startUs;
    }
    return t;
}

std::string errorOf(const PairPositions& t, long double declinationDeg) {
    try {
        separation(t, declinationDeg);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

} // namespace

struct WorkedCase {
    const char* name;
    long double declinationDeg;
    float sepPixels;
    const char* scaleText;
    const char* separationText;
    int64_t startUs = 0; // time of the first row
};

class WorkedSeparation : public ::testing::TestWithParam<WorkedCase> {};

TEST_P(WorkedSeparation, ScalesTheDriftAgainstTheSiderealRate) {
    const WorkedCase& c = GetParam();
    const SeparationResult r =
        separation(hundredPixelsInTenSeconds(c.sepPixels, c.startUs), c.declinationDeg);
    EXPECT_EQ(formatRounded(r.pixelScale, 4), c.scaleText);
    EXPECT_EQ(formatRounded(r.separation, 2), c.separationText);
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkedSeparation,
                         ::testing::ValuesIn(std::vector<WorkedCase>{
                             {"equator", 0, 20, "0.6648", "30.08"},
                             {"sixty_north", 60, 20, "1.3297", "15.04"},
                             // The separation divides by the unrounded scale 0.664846..., not by
                             // the 0.6648 shown (which would give 300.84).
                             {"unrounded_scale_is_used", 0, 200, "0.6648", "300.82"},
                             {"south_same_as_north", -60, 20, "1.3297", "15.04"},
                             {"times_past_two_to_the_31_ms", 0, 20, "0.6648", "30.08",
                              int64_t{3} << 41},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Separation, OnlyTheMagnitudeOfTheDeclinationMatters) {
    const PairPositions t = hundredPixelsInTenSeconds(20);
    const SeparationResult south = separation(t, -5.5L);
    const SeparationResult north = separation(t, 5.5L);
    EXPECT_EQ(south.pixelScale, north.pixelScale);
    EXPECT_NEAR(north.pixelScale, 10.0 / (15.04107 * std::cos(5.5 * M_PI / 180)), 1e-6);
}

TEST(Separation, AScaleOfAboutTwoShowsWithoutTrailingZeros) {
    // 2.000049 px/arcsec rounds to 2.0000 and shows as "2".
    PairPositions t = driftTable(Drift{});
    const double pxPerSecond = 2.000049 * 15.04107;
    for (PairPosition& r : t)
        r.PrimaryX = static_cast<float>(100 + pxPerSecond * r.TimeUs / 1e6);
    EXPECT_EQ(formatRounded(separation(t, 0.0L).pixelScale, 4), "2");
}

struct PairCase {
    int32_t valid;
    int32_t lastEarly;
    int32_t firstLate;
};

class DriftPairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(DriftPairs, AreTheSameDistanceApartInTheValidList) {
    const PairCase& c = GetParam();
    const auto pairs = driftPairs(c.valid);
    for (int32_t k = 0; k < DriftPairCount; ++k) {
        EXPECT_EQ(pairs[k].early, k);
        EXPECT_EQ(pairs[k].late, c.firstLate + k);
    }
    EXPECT_EQ(pairs.back().early, c.lastEarly);
    EXPECT_EQ(pairs.back().late, c.valid - 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, DriftPairs,
                         ::testing::Values(PairCase{16, 11, 4}, PairCase{24, 11, 12},
                                           PairCase{100, 11, 88}),
                         [](const auto& info) { return std::to_string(info.param.valid); });

TEST(Separation, PairsAreFormedInTheListOfValidRowsNotByFrame) {
    // 16 valid rows at x = i^2, one second apart, with an invalid row after
    // each: pair k joins valid rows k and k + 4, so the displacements are
    // (k + 4)^2 - k^2 = 8k + 16, 60 px on average over 4 s: 15 px/s.
    PairPositions t;
    for (int32_t i = 0; i < 16; ++i) {
        PairPosition r;
        r.PrimaryX = static_cast<float>(i * i);
        r.PrimaryY = 100;
        r.SecondaryX = r.PrimaryX + 10;
        r.SecondaryY = 100;
        r.SepPixels = 10;
        r.TimeUs = 1000000 * i;
        r.FrameNo = static_cast<int32_t>(t.size());
        r.Valid = true;
        t.push_back(r);
        PairPosition skipped = r;
        skipped.PrimaryX = 999;
        skipped.TimeUs = 0;
        skipped.Valid = false;
        t.push_back(skipped);
    }
    const SeparationResult s = separation(t, 0.0L);
    EXPECT_NEAR(s.pixelScale, 15.0 / 15.04107, 1e-6);
}

TEST(Separation, ThePoleAndBeyondAreRefused) {
    const PairPositions t = hundredPixelsInTenSeconds(20);
    EXPECT_NE(errorOf(t, 90.0L), "");
    EXPECT_NE(errorOf(t, -90.0L), "");
    EXPECT_NE(errorOf(t, 95.0L), "");
    // A second of arc from the pole this drift would mean 137,000 pixels per
    // arc-second: no camera's scale. A degree from it, 38 is one.
    EXPECT_NE(errorOf(t, 89.0L + 59.0L / 60 + 59.0L / 3600), "");
    EXPECT_EQ(errorOf(t, 89.0L), "");
}

TEST(Separation, APairWithoutElapsedTimeIsRefused) {
    // A row ticked "Active" without being measured holds time 0.
    PairPositions t = hundredPixelsInTenSeconds(20);
    t[25].TimeUs = t[5].TimeUs;
    const std::string message = errorOf(t, 0.0L);
    EXPECT_NE(message.find("Frames 5 and 25"), std::string::npos) << message;
    t[25].TimeUs = t[5].TimeUs - 40000;
    EXPECT_NE(errorOf(t, 0.0L), "");
}

TEST(Separation, NoDriftBetweenThePairsIsRefused) {
    // The primary moves in the middle of the run only: every pair has the
    // same position at both ends, so the scale would be 0.
    PairPositions t = hundredPixelsInTenSeconds(20);
    for (std::size_t i = 0; i < t.size(); ++i) {
        const bool middle = i >= 12 && i < 20;
        t[i].PrimaryX = middle ? 100.0f + i : 100.0f;
        t[i].PrimaryY = 100.0f;
    }
    const std::string message = errorOf(t, 0.0L);
    EXPECT_NE(message.find("pixel scale would be 0"), std::string::npos) << message;
}
