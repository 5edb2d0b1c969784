#include "Tables.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "reduce/Reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::driftTable;

namespace {

// A valid row whose secondary sits at (dx, dy) screen pixels from the primary.
PairPosition pairRow(float dx, float dy, int32_t frame) {
    PairPosition r;
    r.PrimaryX = 300.0f + frame;
    r.PrimaryY = 200.0f;
    r.SecondaryX = r.PrimaryX + dx;
    r.SecondaryY = r.PrimaryY + dy;
    computeSeparationAndAngle(r);
    r.FrameNo = frame;
    r.TimeUs = 40000 * frame;
    r.Valid = true;
    return r;
}

PairPositions pairTable(const std::vector<std::pair<float, float>>& offsets, int32_t copies) {
    PairPositions t;
    for (int32_t c = 0; c < copies; ++c)
        for (const auto& o : offsets)
            t.push_back(pairRow(o.first, o.second, static_cast<int32_t>(t.size())));
    return t;
}

// The plain arithmetic mean, before the axial mean replaced it: 32-bit sums of the per-row
// angles, 180 added when the first valid row has the secondary on the left.
float plainMeanAngle(const PairPositions& t) {
    float sum = 0;
    int n = 0;
    const PairPosition* first = nullptr;
    for (const PairPosition& r : t)
        if (r.Valid) {
            sum = static_cast<float>(static_cast<long double>(sum) + r.ScreenAngle);
            ++n;
            if (!first)
                first = &r;
        }
    float mean = static_cast<float>(sum / static_cast<long double>(n));
    if (first->SecondaryX - first->PrimaryX < 0)
        mean = static_cast<float>(mean + 180.0L);
    return mean;
}

} // namespace

TEST(Averages, MeanSeparationIsShownWithTwoDecimals) {
    PairPositions t = driftTable(Drift{});
    for (PairPosition& r : t)
        r.SepPixels = 12.3456f;
    const AveragesResult a = averages(t);
    EXPECT_EQ(formatRounded(a.meanSep, 2), "12.35");
    EXPECT_EQ(formatRounded(averages(t).meanSep, 2, ','), "12,35");
}

TEST(Averages, TwelveAndAHalfPixelsShowWithoutTrailingZero) {
    PairPositions t = driftTable(Drift{});
    for (PairPosition& r : t)
        r.SepPixels = 12.5f;
    EXPECT_EQ(formatRounded(averages(t).meanSep, 2), "12.5");
}

struct AngleCase {
    const char* name;
    std::vector<std::pair<float, float>> offsets; // (dx, dy) screen pixels
    const char* angleText;
};

class MeanScreenAngle : public ::testing::TestWithParam<AngleCase> {};

TEST_P(MeanScreenAngle, PointsFromThePrimaryToTheSecondary) {
    const AngleCase& c = GetParam();
    const PairPositions t = pairTable(c.offsets, 16);
    EXPECT_EQ(formatRounded(averages(t).meanAngle, 2), c.angleText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeanScreenAngle,
    ::testing::ValuesIn(std::vector<AngleCase>{
        {"right", {{20, 0}}, "0"},
        {"upper_right_30", {{17.320508f, -10}}, "30"},
        {"lower_right", {{10, 10}}, "-45"},
        {"upper_left_adds_180", {{-10, -10}}, "135"},
        {"lower_left_adds_180", {{-17.320508f, 10}}, "210"},
        {"left", {{-20, 0}}, "180"},
        // The per-row angles sit on both sides of the wrap (+89.14, -89.14):
        // their plain mean is 0; as orientations they average to straight up.
        {"straight_above_with_jitter", {{0.3f, -20}, {-0.3f, -20}}, "90"},
        {"straight_below_with_jitter", {{0.3f, 20}, {-0.3f, 20}}, "270"},
        // dx exactly 0 gives -90 per row, whichever side the secondary is on.
        {"exactly_above", {{0, -20}}, "90"},
        {"exactly_below", {{0, 20}}, "270"},
        // 88, 91, 89 and 93 degrees as the rows hold them: 88, -89, 89, -87.
        {"uneven_across_the_wrap",
         {{0.6980f, -19.9878f}, {-0.3490f, -19.9970f}, {0.3490f, -19.9970f}, {-1.0467f, -19.9726f}},
         "90.25"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Averages, OneFrameOnTheOtherSideDoesNotTurnTheAngle) {
    // The first valid frame has the secondary just left of the primary, every
    // later one has it right: the mean projection decides, not the first row.
    PairPositions t = pairTable({{20, -5}}, 20);
    t[0] = pairRow(-0.01f, -20.0f, 0);
    const AveragesResult a = averages(t);
    const double shown = textToFloat(formatRounded(a.meanAngle, 2), '.');
    EXPECT_GT(shown, -90.0);
    EXPECT_LT(shown, 90.0);
}

TEST(Averages, SecondaryLeftInEveryFrameAdds180) {
    const PairPositions t = pairTable({{-20, -5}}, 20);
    EXPECT_NEAR(averages(t).meanAngle, 180.0 - std::atan(5.0 / 20.0) * 180 / M_PI, 1e-4);
}

struct PlainCase {
    const char* name;
    double axisDeg;   // true orientation of the pair, towards the secondary
    double spreadDeg; // per-row scatter, kept away from the wrap
};

class AwayFromTheWrap : public ::testing::TestWithParam<PlainCase> {};

// Away from the wrap the mean equals the plain arithmetic mean exactly, and the
// side equals the first row's side whenever all rows agree.
TEST_P(AwayFromTheWrap, EqualsThePlainArithmeticMean) {
    const PlainCase& c = GetParam();
    std::mt19937 rng(7);
    std::normal_distribution<double> scatter(0.0, c.spreadDeg);
    PairPositions t;
    for (int i = 0; i < 150; ++i) {
        const double a = (c.axisDeg + scatter(rng)) * M_PI / 180.0;
        t.push_back(pairRow(static_cast<float>(25 * std::cos(a)),
                            static_cast<float>(-25 * std::sin(a)), i));
    }
    t[5].Valid = false;
    const AveragesResult a = averages(t);
    EXPECT_EQ(formatRounded(a.meanAngle, 2), formatRounded(plainMeanAngle(t), 2, '.'));
    EXPECT_FLOAT_EQ(a.meanAngle, plainMeanAngle(t));
}

INSTANTIATE_TEST_SUITE_P(Cases, AwayFromTheWrap,
                         ::testing::ValuesIn(std::vector<PlainCase>{
                             {"horizontal", 0, 2},
                             {"rising_37", 37, 3},
                             {"falling_60", -60, 3},
                             {"steep_80", 80, 1.5},
                             {"left_150", 150, 3},
                             {"left_below_250", 250, 2},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Averages, InvalidRowsAreSkippedWhateverTheyHold) {
    PairPositions t = pairTable({{20, 0}}, 20);
    PairPosition junk;
    junk.SepPixels = std::numeric_limits<float>::quiet_NaN();
    junk.ScreenAngle = 77;
    junk.SecondaryX = -500;
    t.insert(t.begin(), junk);
    t.insert(t.begin() + 7, junk);
    const AveragesResult a = averages(t);
    EXPECT_EQ(formatRounded(a.meanSep, 2), "20");
    EXPECT_EQ(formatRounded(a.meanAngle, 2), "0");
}

// Frames that carry their own errors weigh by them: one far off and twenty
// times as uncertain as the rest hardly moves the means (counted alike it
// would move them by 0.5 pixel and 0.5 degree).
TEST(Averages, AFrameWithALargeErrorWeighsLess) {
    PairPositions t = pairTable({{19, 0}, {21, 0}}, 10);
    t.push_back(pairRow(30, 6, 20));
    for (PairPosition& r : t) {
        r.SepPixelsError = &r == &t.back() ? 20.0f : 1.0f;
        r.ScreenAngleError = &r == &t.back() ? 60.0f : 3.0f;
    }
    const AveragesResult a = averages(t);
    EXPECT_NEAR(a.meanSep, 20, 0.05);
    EXPECT_NEAR(std::remainder(a.meanAngle, 360.0f), 0, 0.05);
}

TEST(Averages, RefusesAValidRowThatIsNotANumber) {
    PairPositions t = pairTable({{20, 0}}, 20);
    t[4].SepPixels = std::numeric_limits<float>::infinity();
    try {
        averages(t);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Frame 4"), std::string::npos) << e.what();
    }
}

TEST(Averages, RefusesFewerThanSixteenValidRows) {
    PairPositions t = pairTable({{20, 0}}, 15);
    EXPECT_THROW(averages(t), Error);
    t.push_back(pairRow(20, 0, 15));
    EXPECT_NO_THROW(averages(t));
}
