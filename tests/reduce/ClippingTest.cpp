#include "Tables.h"

#include "common/Error.h"
#include "reduce/Clipping.h"
#include "reduce/Refusal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::driftTable;

namespace {

// A drift whose secondary scatters in a fixed pattern within +-0.05 pixels
// on each axis: evenly spread values, none of them far out (a Gaussian
// table of this size would hold a genuine 3-sigma row now and then).
PairPositions patternedTable(const Drift& d) {
    PairPositions t = driftTable(d);
    for (std::size_t i = 0; i < t.size(); ++i) {
        t[i].SecondaryX += 0.01f * static_cast<float>(static_cast<int>(i * 7 % 11) - 5);
        t[i].SecondaryY += 0.01f * static_cast<float>(static_cast<int>(i * 5 % 13) - 6);
        computeSeparationAndAngle(t[i]);
    }
    return t;
}

// Moves the secondary of row i by (dx, dy) pixels.
void moveSecondary(PairPositions& t, std::size_t i, float dx, float dy) {
    t[i].SecondaryX += dx;
    t[i].SecondaryY += dy;
    computeSeparationAndAngle(t[i]);
}

struct ClipCase {
    const char* name;
    double offsetX, offsetY; // the pair on the screen
    std::function<void(PairPositions&)> spoil;
    std::vector<int32_t> removedFrames;
};

class Clipping : public ::testing::TestWithParam<ClipCase> {};

} // namespace

TEST_P(Clipping, RemovesExactlyTheOutliers) {
    const ClipCase& c = GetParam();
    Drift d;
    d.rows = 60;
    d.offsetX = c.offsetX;
    d.offsetY = c.offsetY;
    PairPositions t = patternedTable(d);
    c.spoil(t);
    const ClipResult r = clipOutliers(t, 3.0);
    EXPECT_EQ(r.removedFrames, c.removedFrames);
    EXPECT_EQ(r.removed, static_cast<int32_t>(c.removedFrames.size()));
    EXPECT_EQ(CountValidRows(r.table), CountValidRows(t) - r.removed);
    for (std::size_t i = 0; i < t.size(); ++i) {
        // Only validity changes, and only from valid to not.
        EXPECT_EQ(r.table[i].SepPixels, t[i].SepPixels);
        EXPECT_TRUE(t[i].Valid || !r.table[i].Valid);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Clipping,
    ::testing::Values(
        ClipCase{"clean_table_keeps_every_row", 20, 0, [](PairPositions&) {}, {}},
        ClipCase{
            "wild_separation", 20, 0, [](PairPositions& t) { moveSecondary(t, 7, 3, 0); }, {7}},
        ClipCase{"wild_angle", 20, 0, [](PairPositions& t) { moveSecondary(t, 30, 0, 3); }, {30}},
        // A vertical pair gives angles near +90 and -90: not outliers.
        ClipCase{
            "vertical_pair_across_the_wrap_is_one_cluster", 0.01, -20, [](PairPositions&) {}, {}},
        ClipCase{"wild_angle_of_a_vertical_pair",
                 0.01,
                 -20,
                 [](PairPositions& t) { moveSecondary(t, 12, 4, 0); },
                 {12}},
        // The big outlier hides the smaller one until it has gone.
        ClipCase{"second_pass_finds_the_hidden_outlier",
                 20,
                 0,
                 [](PairPositions& t) {
                     moveSecondary(t, 5, 30, 0);
                     moveSecondary(t, 40, 0.6f, 0);
                 },
                 {5, 40}},
        ClipCase{"rows_not_valid_are_left_alone",
                 20,
                 0,
                 [](PairPositions& t) {
                     moveSecondary(t, 9, 5, 0);
                     t[9].Valid = false;
                 },
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClippingFloor, StopsRatherThanLeaveFewerRowsThanTheReductionNeeds) {
    // rows, then rows clipped: one wild row among MinValidRows stays.
    for (const auto& [rows, removed] :
         {std::pair{MinValidRows, 0}, std::pair{MinValidRows + 1, 1}}) {
        Drift d;
        d.rows = rows;
        PairPositions t = patternedTable(d);
        moveSecondary(t, 3, 5, 0);
        const ClipResult r = clipOutliers(t, 3.0);
        EXPECT_EQ(r.removed, removed) << rows << " rows";
        EXPECT_GE(CountValidRows(r.table), MinValidRows);
    }
}

TEST(ClippingLimit, IsRefusedUnlessAtLeastOneSigma) {
    const PairPositions t = patternedTable(Drift{});
    for (const double sigma : {0.0, 0.5, -3.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
        try {
            clipOutliers(t, sigma);
            ADD_FAILURE() << "accepted " << sigma;
        } catch (const RefusalError& e) {
            EXPECT_EQ(e.refusal.reason, RefusalReason::ClipLimitTooSmall) << sigma;
        }
    }
}
