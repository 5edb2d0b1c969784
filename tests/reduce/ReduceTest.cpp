#include "Tables.h"

#include "reduce/Reduction.h"

#include "common/NumberText.h"

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
    const ReductionResult r = reduce(upAbove(), Orientation::CorrectOrInverted, 0.0L);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.reached, ReductionStage::Separation);
    EXPECT_EQ(formatRounded(r.averages.meanSep, 2), "20");
    EXPECT_EQ(formatRounded(r.averages.meanAngle, 2), "90");
    EXPECT_EQ(formatRounded(r.regression.driftAngle, 2), "0");
    EXPECT_EQ(formatRounded(r.regression.secondaryDriftAngle, 2), "0");
    // Drift points west; straight up on the screen is north.
    EXPECT_EQ(formatRounded(r.regression.positionAngle, 2), "0");
    EXPECT_EQ(formatRounded(r.separation.pixelScale, 4), "0.6648");
    EXPECT_EQ(formatRounded(r.separation.separation, 2), "30.08");
}

TEST(Reduce, BadDeclinationStopsAfterTheRegression) {
    for (const long double dec : {std::nanl(""), 90.0L, -90.0L}) {
        const ReductionResult r = reduce(upAbove(), Orientation::CorrectOrInverted, dec);
        EXPECT_EQ(r.reached, ReductionStage::Regression);
        EXPECT_NE(r.error.find("not between -90 and +90 degrees"), std::string::npos) << r.error;
        EXPECT_EQ(formatRounded(r.averages.meanAngle, 2), "90");
        EXPECT_EQ(formatRounded(r.regression.positionAngle, 2), "0");
    }
}

TEST(Reduce, DegenerateTableReachesNothing) {
    PairPositions t = upAbove();
    for (PairPosition& r : t)
        r.TimeUs = 0;
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, 0.0L);
    EXPECT_EQ(r.reached, ReductionStage::None);
    EXPECT_NE(r.error, "");
}

TEST(Reduce, FewerThanSixteenValidRowsReachNothing) {
    PairPositions t = upAbove();
    for (std::size_t i = 15; i < t.size(); ++i)
        t[i].Valid = false;
    const ReductionResult r = reduce(t, Orientation::CorrectOrInverted, 0.0L);
    EXPECT_EQ(r.reached, ReductionStage::None);
    EXPECT_NE(r.error.find("Only 15 frames are valid"), std::string::npos) << r.error;
}
