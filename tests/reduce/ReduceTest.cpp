#include "Tables.h"

#include "reduce/Reduction.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane;
using corvane::test::Drift;
using corvane::test::driftTable;

namespace {

// A drift to the right at 100 px per 10 s, secondary 20 px straight above.
PairPositions upAbove() {
    Drift d;
    d.offsetX = 0;
    d.offsetY = -20;
    return driftTable(d);
}

} // namespace

TEST(Reduce, FillsEveryBoxInOrder) {
    const ReductionResult r =
        reduce(upAbove(), Orientation::CorrectOrInverted, "+00", "00", "00", '.');
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.reached, ReductionStage::Separation);
    EXPECT_EQ(r.averages.sepText, "20");
    EXPECT_EQ(r.averages.angleText, "90");
    EXPECT_EQ(r.regression.primarySlopeText, "0");
    EXPECT_EQ(r.regression.secondarySlopeText, "0");
    // Drift points west; straight up on the screen is north.
    EXPECT_EQ(r.regression.positionAngleText, "0");
    EXPECT_EQ(r.separation.pixelScaleText, "0.6648");
    EXPECT_EQ(r.separation.separationText, "30.08");
}

TEST(Reduce, BadDeclinationStopsAfterTheRegression) {
    const ReductionResult r =
        reduce(upAbove(), Orientation::CorrectOrInverted, "+00", "x", "00", '.');
    EXPECT_EQ(r.reached, ReductionStage::Regression);
    EXPECT_EQ(r.error, "'x' is not a valid floating point value");
    EXPECT_EQ(r.averages.angleText, "90");
    EXPECT_EQ(r.regression.positionAngleText, "0");
    EXPECT_EQ(r.separation.pixelScaleText, "");
}

TEST(Reduce, DegenerateTableReachesNothing) {
    PairPositions t = upAbove();
    for (PairPosition& r : t)
        r.TimeMs = 0;
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, "+00", "00", "00", '.');
    EXPECT_EQ(r.reached, ReductionStage::None);
    EXPECT_NE(r.error, "");
    EXPECT_EQ(r.averages.sepText, "");
}

TEST(Reduce, FewerThanSixteenValidRowsReachNothing) {
    PairPositions t = upAbove();
    for (std::size_t i = 15; i < t.size(); ++i)
        t[i].Valid = false;
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, "+00", "00", "00", '.');
    EXPECT_EQ(r.reached, ReductionStage::None);
    EXPECT_NE(r.error.find("Only 15 frames are valid"), std::string::npos) << r.error;
}
