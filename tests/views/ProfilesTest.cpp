// Row and column intensity profiles of the system box.
#include "views/Profiles.h"

#include "ViewTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane {
namespace {

using testing::boxAt;

TEST(Profiles, OneBarPerRowAndColumnWithXFromZero) {
    IntensityPlane plane = testing::blankPlane();
    const Profiles p = computeProfiles(plane, boxAt(100, 50, 40));
    ASSERT_EQ(p.rows.size(), 40u);
    ASSERT_EQ(p.columns.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(p.rows[i].x, i);
        EXPECT_EQ(p.columns[i].x, i);
    }
}

TEST(Profiles, HeightDecidesBothCountsWhenTheBoxIsNotSquare) {
    IntensityPlane plane = testing::blankPlane();
    TStarbox box = boxAt(10, 10, 6);
    box.Right = box.Left + 9;
    const Profiles p = computeProfiles(plane, box);
    EXPECT_EQ(p.rows.size(), 6u);
    EXPECT_EQ(p.columns.size(), 6u);
}

TEST(Profiles, BoxNeverPlacedGivesNoBars) {
    IntensityPlane plane = testing::blankPlane();
    const Profiles p = computeProfiles(plane, TStarbox{});
    EXPECT_TRUE(p.rows.empty());
    EXPECT_TRUE(p.columns.empty());
}

// One row of the box, as intensities; the other rows stay black.
struct LineCase {
    const char* name;
    std::vector<int> intensities;
    double bar;
};

const LineCase kLines[] = {
    {"single lit pixel of 200 shows 100", {200, 0, 0, 0, 0, 0}, 100},
    {"all black shows 0", {0, 0, 0, 0, 0, 0}, 0},
    {"dim row shows its plain sum", {2, 2, 1, 2, 2, 2}, 11},
    {"2 is not lit, 3 is: (3 + 2) / 2 = 2.5 shows 2", {3, 2, 0, 0, 0, 0}, 2},
    {"mean 3.5 shows 4", {7, 0, 0, 0, 0, 0}, 4},
    {"dim pixels add to the sum of the lit ones", {100, 50, 1, 1, 0, 0}, 51},
    {"every pixel lit: (6 * 254) / 7", {254, 254, 254, 254, 254, 254}, 218},
};

TEST(Profiles, RowBarIsSumOverOnePlusLitPixelsRoundedHalfToEven) {
    for (const LineCase& c : kLines) {
        IntensityPlane plane = testing::blankPlane();
        const int n = static_cast<int>(c.intensities.size());
        const TStarbox box = boxAt(30, 20, n);
        const int row = 4;
        for (int i = 0; i < n; ++i)
            plane.set(box.Left + i, box.Top + row, c.intensities[i]);
        const Profiles p = computeProfiles(plane, box);
        EXPECT_EQ(p.rows[row].y, c.bar) << c.name;
        EXPECT_EQ(p.rows[row + 1].y, 0) << c.name;
    }
}

TEST(Profiles, ColumnBarsAddDownTheColumns) {
    for (const LineCase& c : kLines) {
        IntensityPlane plane = testing::blankPlane();
        const int n = static_cast<int>(c.intensities.size());
        const TStarbox box = boxAt(30, 20, n);
        const int column = 2;
        for (int i = 0; i < n; ++i)
            plane.set(box.Left + column, box.Top + i, c.intensities[i]);
        const Profiles p = computeProfiles(plane, box);
        EXPECT_EQ(p.columns[column].y, c.bar) << c.name;
        EXPECT_EQ(p.columns[column - 1].y, 0) << c.name;
    }
}

TEST(Profiles, OnlyPixelsInsideTheBoxCount) {
    IntensityPlane plane = testing::blankPlane();
    const TStarbox box = boxAt(30, 20, 8);
    // A star at local (column 6, row 1) and bright light all around the box.
    plane.set(box.Left + 6, box.Top + 1, 200);
    for (int i = -1; i <= 8; ++i) {
        plane.set(box.Left - 1, box.Top + i, IntensityPlane::kWhiteLevel8);
        plane.set(box.Left + 8, box.Top + i, IntensityPlane::kWhiteLevel8);
        plane.set(box.Left + i, box.Top - 1, IntensityPlane::kWhiteLevel8);
        plane.set(box.Left + i, box.Top + 8, IntensityPlane::kWhiteLevel8);
    }
    const Profiles p = computeProfiles(plane, box);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(p.rows[i].y, i == 1 ? 100 : 0) << "row " << i;
        EXPECT_EQ(p.columns[i].y, i == 6 ? 100 : 0) << "column " << i;
    }
}

TEST(Profiles, PartOfTheBoxBeyondTheFrameCountsAsBlack) {
    IntensityPlane plane = testing::blankPlane();
    const TStarbox box = boxAt(PanelSurface::kWidth - 4, PanelSurface::kHeight - 4, 10);
    plane.set(PanelSurface::kWidth - 1, PanelSurface::kHeight - 1, 40);
    const Profiles p = computeProfiles(plane, box);
    ASSERT_EQ(p.rows.size(), 10u);
    EXPECT_EQ(p.rows[3].y, 20);
    EXPECT_EQ(p.columns[3].y, 20);
    EXPECT_EQ(p.rows[9].y, 0);
}

} // namespace
} // namespace corvane
