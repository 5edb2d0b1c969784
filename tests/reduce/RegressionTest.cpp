#include "Tables.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "reduce/Reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::driftTable;

namespace {

Drift towards(double directionDeg) {
    Drift d;
    d.startX = 320;
    d.startY = 240;
    d.directionDeg = directionDeg;
    d.pixelsPerRow = 4;
    return d;
}

// The least-squares slope's angle of u = -y on x with the sense from the first
// and last x: the plain drift angle, used to show the principal axis agrees
// with it where the slope is well conditioned.
double plainDriftAngle(const PairPositions& t) {
    long double n = 0, sx = 0, su = 0, sxx = 0, sxu = 0;
    const PairPosition* first = nullptr;
    const PairPosition* last = nullptr;
    for (const PairPosition& r : t)
        if (r.Valid) {
            const long double x = r.PrimaryX, u = -r.PrimaryY;
            n += 1;
            sx += x;
            su += u;
            sxx += x * x;
            sxu += x * u;
            if (!first)
                first = &r;
            last = &r;
        }
    const long double slope = (sxu - sx * su / n) / (sxx - sx * sx / n);
    double angle = static_cast<double>(std::atan(slope) * 180.0L / M_PI);
    if (last->PrimaryX < first->PrimaryX)
        angle += 180;
    return angle;
}

} // namespace

struct PositionAngleCase {
    const char* name;
    float meanScreenAngle;
    double driftDeg;
    Orientation orientation;
    const char* positionAngle;
};

class PositionAngle : public ::testing::TestWithParam<PositionAngleCase> {};

TEST_P(PositionAngle, CountsFromNorthTowardsEast) {
    const PositionAngleCase& c = GetParam();
    const RegressionResult r =
        regression(driftTable(towards(c.driftDeg)), c.meanScreenAngle, c.orientation);
    EXPECT_EQ(formatRounded(r.positionAngle, 2), c.positionAngle);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionAngle,
    ::testing::ValuesIn(std::vector<PositionAngleCase>{
        {"worked_correct", -30.0f, 0, Orientation::CorrectOrInverted, "240"},
        {"worked_mirrored", -30.0f, 0, Orientation::UprightReverted, "300"},
        {"worked_mirrored_drift_170", 10.0f, 170, Orientation::UprightReverted, "70"},
        {"secondary_north_of_west_drift", 90.0f, 0, Orientation::CorrectOrInverted, "0"},
        {"secondary_east", 180.0f, 0, Orientation::CorrectOrInverted, "90"},
        {"drift_to_smaller_x_turns_by_180", 90.0f, 180, Orientation::CorrectOrInverted, "180"},
        {"drift_straight_up", 0.0f, 90, Orientation::CorrectOrInverted, "180"},
        {"drift_straight_down", 0.0f, 270, Orientation::CorrectOrInverted, "0"},
        // 45.504 shows as 45.5: the position angle is 315.4945, where the
        // unrounded angle would give 315.4985 and show 315.5.
        {"screen_angle_enters_as_shown", 45.504f, 0.0055, Orientation::CorrectOrInverted, "315.49"},
        // 90 - 90 - 0.003 = -0.003 -> 359.997, which shows as 0, not 360.
        {"just_below_360_shows_as_0", 90.0f, 0.003, Orientation::CorrectOrInverted, "0"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

struct DriftCase {
    const char* name;
    double directionDeg;
    const char* driftText; // Edit13
};

class DriftDirection : public ::testing::TestWithParam<DriftCase> {};

TEST_P(DriftDirection, FollowsThePrimaryInAnyDirection) {
    const DriftCase& c = GetParam();
    const RegressionResult r =
        regression(driftTable(towards(c.directionDeg)), 0.0f, Orientation::CorrectOrInverted);
    EXPECT_EQ(formatRounded(r.driftAngle, 2), c.driftText);
    EXPECT_EQ(formatRounded(r.secondaryDriftAngle, 2), c.driftText);
}

INSTANTIATE_TEST_SUITE_P(Cases, DriftDirection,
                         ::testing::ValuesIn(std::vector<DriftCase>{
                             {"right", 0, "0"},
                             {"right_rising", 12.5, "12.5"},
                             {"right_falling", -30, "-30"},
                             {"left", 180, "180"},
                             {"left_rising", 150, "150"},
                             {"left_falling", 200, "200"},
                             // x never changes: the plain slope divides by 0.
                             {"straight_up", 90, "90"},
                             {"straight_down", 270, "270"},
                             {"nearly_up_leaning_right", 89.9, "89.9"},
                             {"nearly_up_leaning_left", 90.1, "90.1"},
                             {"nearly_down", 269.8, "269.8"},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Regression, NoisyNearVerticalDriftKeepsItsSense) {
    // A camera turned by 90 degrees: the track runs up the screen with x
    // jitter of a tenth of a pixel. The slope of y on x is noise there and the
    // first and last x may be in either order.
    std::mt19937 rng(11);
    std::normal_distribution<double> jitter(0.0, 0.1);
    for (int trial = 0; trial < 20; ++trial) {
        PairPositions t = driftTable(towards(90.0));
        for (PairPosition& r : t) {
            const float j = static_cast<float>(jitter(rng));
            r.PrimaryX += j;
            r.SecondaryX += j;
        }
        const RegressionResult r = regression(t, 0.0f, Orientation::CorrectOrInverted);
        EXPECT_NEAR(r.driftAngle, 90.0, 0.2) << "trial " << trial;
        EXPECT_NEAR(textToFloat(formatRounded(r.positionAngle, 2), '.'), 180.0, 0.2)
            << "trial " << trial;
    }
}

TEST(Regression, NearHorizontalNoisyDriftEqualsThePlainSlope) {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 0.08);
    for (double direction : {-8.0, -2.0, 0.5, 3.0, 7.0, 176.0, 183.0}) {
        PairPositions t = driftTable(towards(direction));
        for (PairPosition& r : t) {
            r.PrimaryX += static_cast<float>(noise(rng));
            r.PrimaryY += static_cast<float>(noise(rng));
        }
        const RegressionResult r = regression(t, 0.0f, Orientation::CorrectOrInverted);
        EXPECT_EQ(formatRounded(r.driftAngle, 2), formatRounded(plainDriftAngle(t), 2, '.'))
            << "direction " << direction;
    }
}

TEST(Regression, ThePrimaryDecidesTheSenseForTheSecondary) {
    // The secondary's own track is measured backwards in the last row; the
    // primary's travel still points both angles the same way.
    PairPositions t = driftTable(towards(0));
    t.back().SecondaryX = t.front().SecondaryX - 1;
    const RegressionResult r = regression(t, 0.0f, Orientation::CorrectOrInverted);
    EXPECT_EQ(formatRounded(r.driftAngle, 2), "0");
    EXPECT_NEAR(r.secondaryDriftAngle, 0.0, 5.0);
}

TEST(Regression, SkipsInvalidRows) {
    PairPositions t = driftTable(towards(30));
    PairPosition wild;
    wild.PrimaryX = 5;
    wild.PrimaryY = 470;
    t.insert(t.begin(), wild);
    t.push_back(wild);
    t.insert(t.begin() + 10, wild);
    EXPECT_EQ(formatRounded(regression(t, 0.0f, Orientation::CorrectOrInverted).driftAngle, 2),
              "30");
}

struct DegenerateCase {
    const char* name;
    void (*spoil)(PairPositions&);
    const char* mentions;
};

class DegenerateDrift : public ::testing::TestWithParam<DegenerateCase> {};

TEST_P(DegenerateDrift, IsRefusedWithAMessage) {
    const DegenerateCase& c = GetParam();
    PairPositions t = driftTable(towards(0));
    c.spoil(t);
    try {
        regression(t, 0.0f, Orientation::CorrectOrInverted);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
    EXPECT_THROW(checkReducible(t), Error);
}

INSTANTIATE_TEST_SUITE_P(Cases, DegenerateDrift,
                         ::testing::ValuesIn(std::vector<DegenerateCase>{
                             {"primary_never_moves",
                              [](PairPositions& t) {
                                  for (PairPosition& r : t) {
                                      r.PrimaryX = 100;
                                      r.PrimaryY = 100;
                                  }
                              },
                              "primary star is at the same place"},
                             {"rows_activated_but_never_measured",
                              [](PairPositions& t) {
                                  for (PairPosition& r : t)
                                      r = PairPosition{0, 0, 0, 0, 0, 0, 0, r.FrameNo, true};
                              },
                              "primary star is at the same place"},
                             {"secondary_never_moves",
                              [](PairPositions& t) {
                                  for (PairPosition& r : t) {
                                      r.SecondaryX = 50;
                                      r.SecondaryY = 60;
                                  }
                              },
                              "secondary star is at the same place"},
                             {"primary_ends_where_it_started",
                              [](PairPositions& t) {
                                  t.back().PrimaryX = t.front().PrimaryX;
                                  t.back().PrimaryY = t.front().PrimaryY;
                              },
                              "ends where it started"},
                             {"primary_only_wobbles_in_the_seeing",
                              [](PairPositions& t) {
                                  // A tracked star: 1.5 px of seeing wobble about one point.
                                  for (std::size_t i = 0; i < t.size(); ++i) {
                                      t[i].PrimaryX = 100.0f + 1.5f * std::cos(2.4f * i);
                                      t[i].PrimaryY = 100.0f + 1.5f * std::sin(1.7f * i);
                                      t[i].SecondaryX = t[i].PrimaryX + 20.0f;
                                      t[i].SecondaryY = t[i].PrimaryY;
                                  }
                              },
                              "no straight drift"},
                         }),
                         [](const auto& info) { return std::string(info.param.name); });
