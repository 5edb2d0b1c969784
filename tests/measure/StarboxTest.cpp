// The star box: placing, centring, settling on light, its outline and its zoom copy.
#include "measure/Starbox.h"
#include "StarField.h"
#include "video/PixelCanvas.h"
#include "views/Overlays.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using test::blankFrame;
using test::fillFrame;

// A black colour frame of the synthetic size for the zoom copies, with its pixels to set.
struct ColourFrame {
    DisplayImage image;
    std::vector<Colour>& pixels;
    explicit ColourFrame(Colour fill = kBlack)
        : pixels(image.resetColour(test::kFieldWidth, test::kFieldHeight)) {
        std::fill(pixels.begin(), pixels.end(), fill);
    }
    void set(int x, int y, Colour c) {
        pixels[static_cast<std::size_t>(y) * test::kFieldWidth + static_cast<std::size_t>(x)] = c;
    }
};

struct PlaceCase {
    const char* name;
    int32_t size;
    int32_t left, top, right, bottom, resultSize;
};

class PlaceTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceTest, OddRequestsGiveAnEvenBoxAroundThePoint) {
    const PlaceCase& c = GetParam();
    TStarbox box;
    box.CentreX = 7;
    box.FineX = 1.5f;
    box.OffsetX = 3;
    box.place(100, 50, c.size);
    EXPECT_EQ(box.Left, c.left);
    EXPECT_EQ(box.Top, c.top);
    EXPECT_EQ(box.Right, c.right);
    EXPECT_EQ(box.Bottom, c.bottom);
    EXPECT_EQ(box.Size, c.resultSize);
    // place leaves the integer centre, the fine centre and the offsets alone.
    EXPECT_EQ(box.CentreX, 7);
    EXPECT_EQ(box.FineX, 1.5f);
    EXPECT_EQ(box.OffsetX, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PlaceTest,
    ::testing::Values(PlaceCase{"twelve", 12, 94, 44, 106, 56, 12},
                      PlaceCase{"thirteen_rounds_down_to_even", 13, 94, 44, 106, 56, 12},
                      PlaceCase{"eleven_rounds_up_to_even", 11, 94, 44, 106, 56, 12},
                      PlaceCase{"fifteen_gives_sixteen", 15, 92, 42, 108, 58, 16},
                      PlaceCase{"four", 4, 98, 48, 102, 52, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Centreat, MovesTheBoxOntoThePointKeepingItsSize) {
    TStarbox box;
    box.place(0, 0, 14);
    box.Right = 999; // Size is not recomputed from the edges
    box.centreat(200, 300);
    EXPECT_EQ(box.Left, 193);
    EXPECT_EQ(box.Top, 293);
    EXPECT_EQ(box.Right, 207);
    EXPECT_EQ(box.Bottom, 307);
    EXPECT_EQ(box.Size, 14);
    EXPECT_EQ(box.CentreX, 200);
    EXPECT_EQ(box.CentreY, 300);
    EXPECT_EQ(box.getsize(), 14);
}

TEST(Measure, SingleLitPixelPullsTheBoxOntoIt) {
    IntensityPlane plane = blankFrame();
    plane.set(94 + 3, 44 + 8, 100);
    TStarbox box;
    box.place(100, 50, 12);
    ASSERT_EQ(box.Left, 94);
    ASSERT_EQ(box.Top, 44);

    TStarbox onePass = box;
    EXPECT_TRUE(onePass.measure(plane, 1));
    EXPECT_EQ(onePass.CentreX, 97);
    EXPECT_EQ(onePass.CentreY, 52);

    EXPECT_TRUE(box.measure(plane, 8));
    EXPECT_EQ(box.CentreX, 97);
    EXPECT_EQ(box.CentreY, 52);
    EXPECT_EQ(box.FineX, 97.0f);
    EXPECT_EQ(box.FineY, 52.0f);
}

TEST(Measure, AllDarkBoxChangesNothing) {
    IntensityPlane plane = blankFrame();
    TStarbox box;
    box.place(100, 50, 12);
    box.CentreX = 5;
    box.CentreY = 6;
    box.FineX = 1.25f;
    box.FineY = 2.5f;
    const TStarbox before = box;
    EXPECT_FALSE(box.measure(plane, 8));
    EXPECT_EQ(box.Left, before.Left);
    EXPECT_EQ(box.Top, before.Top);
    EXPECT_EQ(box.Right, before.Right);
    EXPECT_EQ(box.Bottom, before.Bottom);
    EXPECT_EQ(box.CentreX, 5);
    EXPECT_EQ(box.CentreY, 6);
    EXPECT_EQ(box.FineX, 1.25f);
    EXPECT_EQ(box.FineY, 2.5f);
}

TEST(Measure, FailedMeasureKeepsTheEarlierFineCentre) {
    IntensityPlane plane = blankFrame();
    plane.set(300, 200, 50);
    TStarbox box;
    box.place(302, 199, 12);
    ASSERT_TRUE(box.measure(plane, 2));
    EXPECT_EQ(box.FineX, 300.0f);
    plane.fill(0);
    EXPECT_FALSE(box.measure(plane, 4));
    EXPECT_EQ(box.FineX, 300.0f);
    EXPECT_EQ(box.FineY, 200.0f);
    EXPECT_EQ(box.CentreX, 300);
}

// A symmetric light distribution has its local centre at Size/2 - 0.5, a tie:
// round half to even keeps the box when Size/2 is even and moves it one pixel
// towards smaller x and y when Size/2 is odd.
struct UniformCase {
    const char* name;
    int32_t size;
    int32_t shiftPerPass;
};

class UniformLightTest : public ::testing::TestWithParam<UniformCase> {};

TEST_P(UniformLightTest, RestsOrCreepsByTheTieRule) {
    const UniformCase& c = GetParam();
    IntensityPlane plane;
    fillFrame(plane, 40);
    TStarbox box;
    box.place(320, 240, c.size);
    box.centreat(320, 240);
    for (int pass = 1; pass <= 3; ++pass) {
        EXPECT_TRUE(box.measure(plane, 1));
        EXPECT_EQ(box.CentreX, 320 - c.shiftPerPass * pass) << "pass " << pass;
        EXPECT_EQ(box.CentreY, 240 - c.shiftPerPass * pass) << "pass " << pass;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, UniformLightTest,
                         ::testing::Values(UniformCase{"size12_rests", 12, 0},
                                           UniformCase{"size16_rests", 16, 0},
                                           UniformCase{"size14_creeps", 14, 1},
                                           UniformCase{"size10_creeps", 10, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Measure, FineCentreIsRoundedToThreeDecimalsAndStoredAsFloat) {
    // Column 123 carries 641 and column 124 carries 539 of a total of 1180:
    // the weighted x is 123 + 539/1180 = 123.456780 (to 6 decimals).
    IntensityPlane plane = blankFrame();
    const int col0[3] = {254, 254, 133};
    const int col1[3] = {254, 254, 31};
    for (int r = 0; r < 3; ++r) {
        plane.set(123, 200 + r, col0[r]);
        plane.set(124, 200 + r, col1[r]);
    }
    TStarbox box;
    box.place(124, 201, 12);
    ASSERT_TRUE(box.measure(plane, 8));
    EXPECT_EQ(box.FineX, 123.457f);
    EXPECT_NE(box.FineX, 123.45678f);
    // y = 200 + 836/1180 = 200.708474...
    EXPECT_EQ(box.FineY, 200.708f);
}

// Over a large bright box the 32-bit sums lose the low bits, so the centre is
// not the exact one: a uniform 160-pixel box of intensity 100 has its exact
// local centre on the tie 79.5 in both axes, but the float sums give
// 79.4866125 in x (down to 79) and 79.5000125 in y (up to 80). The same for a
// box that reaches 40 columns past the left edge (read pixel by pixel):
// 99.48705 instead of 99.5 in x, 79.50071667 in y.
TEST(Measure, LargeBrightBoxFollowsThe32BitSums) {
    IntensityPlane plane;
    fillFrame(plane, 100);
    TStarbox inside;
    inside.place(240, 240, 160);
    ASSERT_TRUE(inside.measure(plane, 1));
    EXPECT_EQ(inside.CentreX, 160 + 79);
    EXPECT_EQ(inside.CentreY, 160 + 80);
    EXPECT_EQ(inside.FineX, 239.487f);
    EXPECT_EQ(inside.FineY, 239.5f);

    TStarbox edge;
    edge.place(40, 240, 160);
    ASSERT_EQ(edge.Left, -40);
    ASSERT_TRUE(edge.measure(plane, 1));
    EXPECT_EQ(edge.CentreX, -40 + 99);
    EXPECT_EQ(edge.CentreY, 160 + 80);
    EXPECT_EQ(edge.FineX, 59.487f);
    EXPECT_EQ(edge.FineY, 239.501f);
}

TEST(Measure, PixelsOffTheFrameCountAsDark) {
    // The same light seen by a box reaching past the left edge of the frame and
    // by one wholly inside: the box moves by the same amount.
    IntensityPlane plane = blankFrame();
    for (int r = 0; r < 12; ++r)
        for (int c = 6; c < 12; ++c) {
            plane.set(-6 + c, 300 + r, 30 + 5 * r + c);
            plane.set(200 + c, 100 + r, 30 + 5 * r + c);
        }
    TStarbox edge, inside;
    edge.place(0, 306, 12);
    inside.place(206, 106, 12);
    ASSERT_EQ(edge.Left, -6);
    ASSERT_TRUE(edge.measure(plane, 1));
    ASSERT_TRUE(inside.measure(plane, 1));
    EXPECT_EQ(edge.CentreX - (-6), inside.CentreX - 200);
    EXPECT_EQ(edge.CentreY - 300, inside.CentreY - 100);
    // Same 3-decimal centre; only the float spacing at the two places differs.
    EXPECT_NEAR(edge.FineX - (-6.0f), inside.FineX - 200.0f, 2e-5);
    EXPECT_NEAR(edge.FineY - 300.0f, inside.FineY - 100.0f, 2e-5);
}

TEST(Measure, BoxPastTheRightEdgeSeesOnlyTheColumnsInTheFrame) {
    IntensityPlane plane;
    fillFrame(plane, 20);
    TStarbox box;
    box.place(640, 100, 12); // columns 634 .. 645, six in the frame
    ASSERT_TRUE(box.measure(plane, 1));
    // Local centre (2.5, 5.5): ties go to the even 2 and 6.
    EXPECT_EQ(box.CentreX, 634 + 2);
    EXPECT_EQ(box.CentreY, 94 + 6);
    EXPECT_EQ(box.FineX, 636.5f);
    EXPECT_EQ(box.FineY, 99.5f);
}

TEST(Outline, LiesOnePixelOutsideWhatTheBoxReads) {
    for (int size : {4, 12, 40}) {
        PanelSurface panel;
        TStarbox box;
        box.place(300, 200, size);
        drawoutline(box, panel, kRed);
        int drawn = 0;
        for (int y = 0; y < PanelSurface::kHeight; ++y)
            for (int x = 0; x < PanelSurface::kWidth; ++x) {
                if (panel.pixel(x, y) != kRed)
                    continue;
                ++drawn;
                const bool inside =
                    x >= box.Left && x < box.Right && y >= box.Top && y < box.Bottom;
                EXPECT_FALSE(inside) << "size " << size << " at " << x << "," << y;
                EXPECT_TRUE(x == box.Left - 1 || x == box.Right || y == box.Top - 1 ||
                            y == box.Bottom);
            }
        EXPECT_EQ(drawn, 4 * (size + 1)) << "size " << size;
        // The outline is shown, never measured: a box lying across it on a
        // dark frame finds no light.
        const IntensityPlane plane = blankFrame();
        TStarbox across = box;
        across.centreat(box.Left - 1, box.Top - 1);
        EXPECT_FALSE(across.measure(plane, 1)) << "size " << size;
    }
}

TEST(Drawzoom, PaintsThreeByThreeBlocksAtTheTopLeft) {
    ColourFrame frame;
    frame.set(48, 58, 0x123456u);
    frame.set(47, 58, 0xFFFFFFu); // outside the box: not copied
    PanelSurface panel;
    panel.showFrame(&frame.image);
    panel.setPixel(51, 61, 0x00ABCDu); // a mark over the frame is copied as shown
    TStarbox box;
    box.place(50, 60, 4); // columns 48..51, rows 58..61
    PixelCanvas zoom;
    drawzoom(box, panel, zoom);
    EXPECT_GE(zoom.width(), 12);
    EXPECT_GE(zoom.height(), 12);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(zoom.pixel(j, i), 0x123456u);
            EXPECT_EQ(zoom.pixel(9 + j, 9 + i), 0x00ABCDu);
            EXPECT_EQ(zoom.pixel(3 + j, i), kBlack);
        }
}

TEST(Drawzoom, SmallerPictureLeavesTheRemainsOfALargerOne) {
    const ColourFrame grey(0x202020u), black;
    PanelSurface panel;
    panel.showFrame(&grey.image);
    PixelCanvas zoom;
    TStarbox big;
    big.place(100, 100, 12);
    drawzoom(big, panel, zoom);
    panel.showFrame(&black.image);
    TStarbox small;
    small.place(100, 100, 4);
    drawzoom(small, panel, zoom);
    EXPECT_EQ(zoom.pixel(0, 0), kBlack);
    EXPECT_EQ(zoom.pixel(30, 30), 0x202020u);
}

TEST(Drawzoom, BoxOffTheFrameCopiesTheInvalidColour) {
    const ColourFrame black;
    PanelSurface panel;
    panel.showFrame(&black.image);
    TStarbox box;
    box.place(0, 0, 4); // columns -2..1
    PixelCanvas zoom;
    drawzoom(box, panel, zoom);
    EXPECT_EQ(zoom.pixel(0, 0), kInvalidColour);
    EXPECT_EQ(zoom.pixel(6, 6), kBlack);
}

} // namespace
} // namespace corvane
