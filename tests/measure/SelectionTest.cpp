// Choosing the pair: where the boxes and the system box go, the offsets and
// the expected offset, and the outlines a display draws from them.
#include "measure/Selection.h"
#include "SceneSupport.h"
#include "views/Overlays.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using test::Scene;

TEST(Sysbox, WorkedExamplePlacesASeventySixPixelBoxOn113_53) {
    WorkingState ws;
    ws.PrimaryBox.place(100, 50, 12);   // 94..106 x 44..56
    ws.SecondaryBox.place(126, 56, 12); // 120..132 x 50..62
    const SystemBoxGeometry g = sysboxgeometry(ws.PrimaryBox, ws.SecondaryBox);
    EXPECT_EQ(g.Extent, 38);
    EXPECT_EQ(g.CentreX, 113);
    EXPECT_EQ(g.CentreY, 53);

    // On a dark frame the system box stays where it was placed.
    const IntensityPlane plane = test::blankFrame();
    int redraws = 0;
    sysbox(ws, plane, [&] { ++redraws; });
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(ws.SystemBox.Size, 76);
    EXPECT_EQ(ws.SystemBox.Left, 75);
    EXPECT_EQ(ws.SystemBox.Top, 15);
    EXPECT_EQ(ws.SystemBox.Right, 151);
    EXPECT_EQ(ws.SystemBox.Bottom, 91);
}

struct GeometryCase {
    const char* name;
    int32_t px, py, sx, sy, size;
    int32_t extent, cx, cy;
};

class SysboxGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(SysboxGeometry, LongerSideAndRoundedCentre) {
    const GeometryCase& c = GetParam();
    TStarbox p, s;
    p.place(c.px, c.py, c.size);
    s.place(c.sx, c.sy, c.size);
    const SystemBoxGeometry g = sysboxgeometry(p, s);
    EXPECT_EQ(g.Extent, c.extent);
    EXPECT_EQ(g.CentreX, c.cx);
    EXPECT_EQ(g.CentreY, c.cy);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SysboxGeometry,
    ::testing::Values(
        // One above the other: the vertical extent decides.
        GeometryCase{"one_above_the_other", 200, 100, 200, 140, 12, 52, 200, 120},
        // Odd spans put the centre on a half pixel: ties go to the even integer.
        GeometryCase{"centre_206_5_goes_down_to_206", 200, 100, 213, 100, 12, 25, 206, 100},
        GeometryCase{"centre_205_5_goes_up_to_206", 200, 100, 211, 100, 12, 23, 206, 100},
        GeometryCase{"secondary_up_and_left", 300, 300, 280, 290, 8, 28, 290, 295}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Selection, PairOnOneRowGivesExpectedOffsetAndFixedOffsets) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 200, 120, 1.6}}, {});
    const WorkingState& ws = s.ws;
    EXPECT_EQ(ws.PrimaryBox.CentreX, 300);
    EXPECT_EQ(ws.SecondaryBox.CentreX, 326);
    EXPECT_EQ(ws.ExpectedDX, 26);
    EXPECT_EQ(ws.ExpectedDY, 0);
    EXPECT_EQ(ws.PrimaryBox.OffsetX, ws.PrimaryBox.CentreX - ws.SystemBox.CentreX);
    EXPECT_EQ(ws.PrimaryBox.OffsetY, ws.PrimaryBox.CentreY - ws.SystemBox.CentreY);
    EXPECT_EQ(ws.SecondaryBox.OffsetX, ws.SecondaryBox.CentreX - ws.SystemBox.CentreX);
    EXPECT_EQ(ws.SecondaryBox.OffsetY, ws.SecondaryBox.CentreY - ws.SystemBox.CentreY);
    // The system box settled on the weighted light of the pair, nearer the brighter star.
    EXPECT_LT(ws.SystemBox.CentreX, 313);
    EXPECT_GT(ws.SystemBox.CentreX, 300);
}

TEST(Selection, ClickBesideTheStarSettlesOnIt) {
    // A click a few pixels off lands on the star after the 8 passes.
    Scene s;
    s.stars = {{300.4, 200.3, 180, 1.6}};
    s.draw();
    selectprimary(s.ws, s.plane, 304, 197, 12);
    EXPECT_EQ(s.ws.PrimaryBox.CentreX, 300);
    EXPECT_EQ(s.ws.PrimaryBox.CentreY, 200);
    EXPECT_NEAR(s.ws.PrimaryBox.FineX, 300.4, 0.01);
    EXPECT_NEAR(s.ws.PrimaryBox.FineY, 200.3, 0.01);
}

TEST(Selection, BoxesAreOutlinedRedYellowBlueOnThePanel) {
    Scene s;
    s.stars = {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}};
    s.draw();
    selectprimary(s.ws, s.plane, 300, 200, 12);
    selectsecondary(s.ws, s.plane, 326, 210, 12, [] {});
    const TStarbox& p = s.ws.PrimaryBox;
    const TStarbox& q = s.ws.SecondaryBox;
    const TStarbox& b = s.ws.SystemBox;
    PanelSurface panel;
    drawselection(s.ws, panel);
    EXPECT_EQ(panel.pixel(p.Left - 1, p.Top - 1), kRed);
    EXPECT_EQ(panel.pixel(p.Right, p.Bottom), kRed);
    EXPECT_EQ(panel.pixel(q.Left - 1, q.Top - 1), kYellow);
    EXPECT_EQ(panel.pixel(b.Left - 1, b.Top - 1), kBlue);
    EXPECT_EQ(panel.pixel(b.Right, b.Bottom), kBlue);
}

TEST(Selection, CloseSecondarySettlesOnItsStarNotOnThePrimarysOutline) {
    // Ten pixels apart with 12-pixel boxes: the primary's red outline runs
    // through the secondary box. It is drawn for the user only, so the
    // secondary settles on its star's light alone.
    Scene s;
    s.stars = {{300, 200, 180, 1.6}, {310.3, 201.4, 120, 1.6}};
    s.draw();
    selectprimary(s.ws, s.plane, 300, 200, 12);
    const TStarbox& p = s.ws.PrimaryBox;
    ASSERT_GT(p.Right + 1, 310 - 6) << "the outline must reach into the secondary box";
    selectsecondary(s.ws, s.plane, 310, 201, 12, [] {});
    const TStarbox& q = s.ws.SecondaryBox;
    const test::CentroidExpectation e =
        test::expectedCentroid(s.stars, s.sky, q.Left, q.Top, q.Size);
    EXPECT_NEAR(q.FineX, e.x, 4 * e.sdX + 0.001);
    EXPECT_NEAR(q.FineY, e.y, 4 * e.sdY + 0.001);
    EXPECT_EQ(s.ws.ExpectedDX, 10);
    EXPECT_EQ(s.ws.ExpectedDY, 1);
}

TEST(Selection, SizeComesFromTheCallerWhicheverWayTheClickCame) {
    // The window passes the box-size field; the same point and size give the
    // same box, and odd sizes are made even by place.
    for (int size : {4, 12, 13, 40}) {
        Scene a, b;
        a.stars = b.stars = {{300, 200, 180, 1.6}};
        a.draw();
        b.draw();
        selectprimary(a.ws, a.plane, 302, 201, size);
        selectprimary(b.ws, b.plane, 302, 201, size);
        EXPECT_EQ(a.ws.PrimaryBox.Size, size % 2 ? size - 1 : size);
        EXPECT_EQ(a.ws.PrimaryBox.CentreX, b.ws.PrimaryBox.CentreX);
        EXPECT_EQ(a.ws.PrimaryBox.FineX, b.ws.PrimaryBox.FineX);
    }
}

TEST(Selection, DarkClickKeepsTheEarlierCentreForTheExpectedOffset) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    ASSERT_EQ(s.ws.SecondaryBox.CentreX, 326);
    // A new secondary click far from any light: the box stays where place put
    // it and its centre keeps the earlier star's.
    s.draw();
    selectsecondary(s.ws, s.plane, 500, 400, 12, [&s] { s.draw(); });
    EXPECT_EQ(s.ws.SecondaryBox.Left, 494);
    EXPECT_EQ(s.ws.SecondaryBox.Top, 394);
    EXPECT_EQ(s.ws.SecondaryBox.CentreX, 326);
    EXPECT_EQ(s.ws.SecondaryBox.CentreY, 210);
    EXPECT_EQ(s.ws.ExpectedDX, 26);
    EXPECT_EQ(s.ws.ExpectedDY, 10);
}

} // namespace
} // namespace corvane
