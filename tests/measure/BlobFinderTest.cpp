// The blob finder: sorting, growing blobs, refining the two brightest centres;
// and the smoothing that feeds it.
#include "StarField.h"
#include "measure/BinaryBlob.h"
#include "measure/Methods.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvane {
namespace {

using test::greyColour;

TEST(SortByValue, DescendingAndStableAmongEqualValues) {
    TBinaryBlob b;
    b.AddPoint(1, 1, 10);
    b.AddPoint(2, 1, 200);
    b.AddPoint(3, 1, 10);
    b.AddPoint(1, 2, 255);
    b.AddPoint(2, 2, 200);
    b.AddPoint(3, 2, 0);
    b.SortByValue();
    const int expectX[] = {1, 2, 2, 1, 3, 3};
    const int expectY[] = {2, 1, 2, 1, 1, 2};
    ASSERT_EQ(b.Points.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(b.Points[i].X, expectX[i]) << i;
        EXPECT_EQ(b.Points[i].Y, expectY[i]) << i;
        EXPECT_EQ(b.Points[i].Label, 0);
    }
}

TEST(SortByValue, TakesMoreThanAThousandPointsOfOneValue) {
    TBinaryBlob b;
    for (int i = 0; i < 2500; ++i)
        b.AddPoint(i, 0, 50);
    b.AddPoint(9999, 0, 60);
    b.SortByValue();
    ASSERT_EQ(b.Points.size(), 2501u);
    EXPECT_EQ(b.Points[0].X, 9999);
    for (int i = 0; i < 2500; ++i)
        ASSERT_EQ(b.Points[static_cast<std::size_t>(i) + 1].X, i);
}

// Blob 1 seeded at (0, 0) with peak 100, then the listed point; whether that
// point joins blob 1, and the radius afterwards.
struct GrowCase {
    const char* name;
    int32_t x, y, value;
    bool joins;
    int32_t radius;
};

class GrowTest : public ::testing::TestWithParam<GrowCase> {};

TEST_P(GrowTest, DistanceAndBrightnessDecideMembership) {
    const GrowCase& c = GetParam();
    TBinaryBlob b;
    b.AddPoint(0, 0, 100);
    b.AddPoint(c.x, c.y, c.value);
    b.SortByValue();
    b.LabelBlobs();
    EXPECT_EQ(b.Blobs[1].SeedX, 0);
    EXPECT_EQ(b.Blobs[1].Peak, 100);
    const BlobPoint& p = b.Points[1];
    EXPECT_EQ(p.Label == 1, c.joins) << "label " << int(p.Label);
    EXPECT_EQ(b.Blobs[1].Radius, c.radius);
    if (!c.joins) {
        EXPECT_EQ(p.Label, 2) << "it seeds the next blob instead";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Points, GrowTest,
    ::testing::Values(GrowCase{"equal_value_exactly_at_radius_joins", 2, 0, 100, true, 2},
                      GrowCase{"equal_value_beyond_radius_stays_out", 2, 1, 100, false, 2},
                      GrowCase{"dimmer_exactly_at_radius_plus_one_joins_and_widens", 3, 0, 50, true,
                               3},
                      GrowCase{"dimmer_beyond_radius_plus_one_stays_out", 3, 1, 50, false, 2},
                      GrowCase{"dimmer_at_2_83_widens_to_3", 2, 2, 50, true, 3},
                      GrowCase{"dimmer_at_2_24_keeps_radius_2", 2, 1, 50, true, 2},
                      GrowCase{"dimmer_exactly_a_tenth_of_the_peak_stays_out", 1, 0, 10, false, 2},
                      GrowCase{"dimmer_just_above_a_tenth_joins", 1, 0, 11, true, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LabelBlobs, EqualBrightnessSeedsTheUpperThenTheLeftPointFirst) {
    // Added in the order of the smoothed grid scan: row by row, left to right.
    TBinaryBlob b;
    b.AddPoint(40, 5, 90);
    b.AddPoint(10, 9, 90);
    b.AddPoint(5, 9, 80);
    b.AddPoint(30, 9, 90);
    b.SortByValue();
    b.LabelBlobs();
    EXPECT_EQ(b.Blobs[1].SeedX, 40);
    EXPECT_EQ(b.Blobs[1].SeedY, 5);
    EXPECT_EQ(b.Blobs[2].SeedX, 10);
    EXPECT_EQ(b.Blobs[2].SeedY, 9);
    EXPECT_EQ(b.Blobs[3].SeedX, 30);
    // (5, 9) lies 5 pixels from blob 2's seed: too far, so it seeds blob 4.
    EXPECT_EQ(b.Blobs[4].SeedX, 5);
    EXPECT_EQ(b.Blobs[4].Peak, 80);
}

TEST(LabelBlobs, FalloffRadiusIsTheFirstMemberBelowPointSixOneOfThePeak) {
    TBinaryBlob b;
    b.AddPoint(0, 0, 100);
    b.AddPoint(1, 0, 61); // 0.61 of the peak exactly: not below
    b.AddPoint(0, 2, 60); // below: the falloff radius is its distance
    b.AddPoint(1, 1, 59);
    b.SortByValue();
    b.LabelBlobs();
    EXPECT_EQ(b.Blobs[1].FalloffRadius, 2.0f);
    for (const BlobPoint& p : b.Points)
        EXPECT_EQ(p.Label, 1);
}

TEST(LabelBlobs, BlobsWithoutASeedKeepZerosAndRadiusTwo) {
    TBinaryBlob b;
    b.AddPoint(7, 8, 50);
    b.SortByValue();
    b.LabelBlobs();
    for (int i = 2; i <= TBinaryBlob::kBlobCount; ++i) {
        const BlobInfo& blob = b.Blobs[static_cast<std::size_t>(i)];
        EXPECT_EQ(blob.Radius, 2);
        EXPECT_EQ(blob.Peak, 0);
        EXPECT_EQ(blob.SeedX, 0);
        EXPECT_EQ(blob.FalloffRadius, 0.0f);
    }
    b.RefineCentres();
    EXPECT_EQ(b.SecondCentre(), std::make_pair(0.0f, 0.0f));
}

// Blob `label` as LabelBlobs would leave it: seed, falloff radius and peak.
void seedBlob(TBinaryBlob& b, int label, int32_t x, int32_t y, float falloff, int32_t peak) {
    BlobInfo& blob = b.Blobs[static_cast<std::size_t>(label)];
    blob.SeedX = x;
    blob.SeedY = y;
    blob.FalloffRadius = falloff;
    blob.Peak = peak;
}

TEST(RefineCentres, EdgePixelCountsByItsShareInsideTheCircle) {
    // Falloff radius 1.5: the circle is a pixel wider, 2.5, and the point 3
    // from the seed lies half a pixel outside it and adds nothing.
    TBinaryBlob outside;
    outside.AddPoint(10, 10, 100);
    outside.AddPoint(13, 10, 20);
    seedBlob(outside, 1, 10, 10, 1.5f, 100);
    outside.RefineCentres();
    EXPECT_EQ(outside.FirstCentre(), std::make_pair(10.0f, 10.0f));
    EXPECT_EQ(outside.Points[1].Label, 0);

    // Falloff radius 1.75, circle 2.75: the point counts by
    // s = 2.75 + 0.5 - (13 - c) = c - 9.75 of its value, and the centre
    // settles where c = (1000 + 260 s) / (100 + 20 s), that is
    // c^2 - 17.75 c + 76.75 = 0: c = 10.2947.
    TBinaryBlob partly = outside;
    partly.Blobs[1].FalloffRadius = 1.75f;
    partly.RefineCentres();
    EXPECT_NEAR(partly.FirstCentre().first, (17.75 + std::sqrt(17.75 * 17.75 - 4 * 76.75)) / 2,
                1e-3);
    EXPECT_EQ(partly.FirstCentre().second, 10.0f);
    EXPECT_EQ(partly.Points[1].Label, 1);
}

TEST(RefineCentres, SecondBlobTakesItsShareFirstWhereTheCirclesOverlap) {
    TBinaryBlob b;
    b.AddPoint(10, 10, 100);
    b.AddPoint(12, 10, 40); // half inside blob 1's circle, wholly inside blob 2's
    b.AddPoint(13, 10, 80);
    seedBlob(b, 1, 10, 10, 2.0f, 100);
    seedBlob(b, 2, 13, 10, 1.5f, 80);
    // The seeds are 3 apart, so neither circle is widened past 1.5 from its
    // seed's side: blob 1 keeps 2, blob 2 keeps 1.5. Wider, blob 2's circle
    // would reach the seed of blob 1 and drag its centre towards it.
    b.RefineCentres();
    EXPECT_EQ(b.FirstCentre(), std::make_pair(10.0f, 10.0f));
    EXPECT_FLOAT_EQ(b.SecondCentre().first, (12.0f * 40 + 13.0f * 80) / 120);
    EXPECT_EQ(b.Points[1].Label, 2);
}

// A pair sampled at every sub-pixel offset along a pixel row and column: the
// refined centres must follow the true centres, not stick to the brightest
// pixels. A pair drifting along a row keeps its offset for the whole run, so
// any pull towards the pixel centre goes straight into the separation.
TEST(RefineCentres, FollowTheTrueCentresBetweenPixels) {
    for (double sigma : {1.2, 1.6, 2.2}) {
        for (int step = 0; step <= 10; ++step) {
            const double f = step / 10.0 - 0.5;
            for (const auto& [tx, ty] :
                 {std::make_pair(50.0 + f, 40.0), {50.0, 40.0 + f}, {50.0 + f, 40.0 + f / 2}}) {
                // The secondary 16 px to the right and 3 down, with the same offset.
                const double sx = tx + 16, sy = ty + 3;
                TBinaryBlob b;
                for (int y = 30; y <= 55; ++y)
                    for (int x = 40; x <= 75; ++x) {
                        const auto star = [&](double cx, double cy, double peak) {
                            const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                            return peak * std::exp(-r2 / (2 * sigma * sigma));
                        };
                        const int v =
                            static_cast<int>(std::lround(star(tx, ty, 200) + star(sx, sy, 120)));
                        if (v > 3)
                            b.AddPoint(x, y, v);
                    }
                b.SortByValue();
                b.LabelBlobs();
                b.RefineCentres();
                const double err1 =
                    std::hypot(b.FirstCentre().first - tx, b.FirstCentre().second - ty);
                const double err2 =
                    std::hypot(b.SecondCentre().first - sx, b.SecondCentre().second - sy);
                EXPECT_LT(err1, 0.04) << "sigma " << sigma << " primary " << tx << ", " << ty;
                EXPECT_LT(err2, 0.04) << "sigma " << sigma << " secondary " << sx << ", " << sy;
            }
        }
    }
}

TEST(RefineCentres, BlobWithoutFalloffRadiusKeepsItsSeed) {
    TBinaryBlob b;
    b.AddPoint(10, 10, 100);
    b.AddPoint(11, 10, 90);
    seedBlob(b, 1, 10, 10, 0.0f, 100);
    b.RefineCentres();
    EXPECT_EQ(b.FirstCentre(), std::make_pair(10.0f, 10.0f));
}

struct KernelCase {
    int32_t boxSize, side;
};

TEST(Convolve, KernelSideFollowsThePrimaryBox) {
    const KernelCase cases[] = {{12, 3}, {16, 5}, {23, 5}, {24, 7}, {7, 3}, {0, 3}, {40, 11}};
    for (const KernelCase& c : cases)
        EXPECT_EQ(kernelSize(c.boxSize), c.side) << "box " << c.boxSize;
}

// A 3 x 3 kernel (primary box 12) over a system box of 20 at (100, 100).
WorkingState smoothingState() {
    WorkingState ws;
    ws.PrimaryBox.place(0, 0, 12);
    ws.SystemBox.place(110, 110, 20);
    return ws;
}

TEST(Convolve, FaintPixelGivesZeroWhateverItsNeighbours) {
    for (int own : {6, 7}) {
        IntensityPlane plane = test::blankFrame();
        for (int y = 104; y <= 106; ++y)
            for (int x = 104; x <= 106; ++x)
                plane.set(x, y, 200);
        plane.set(105, 105, own);
        WorkingState ws = smoothingState();
        convolve(ws, plane);
        const int32_t expect =
            own == 6 ? 0 : static_cast<int32_t>(std::nearbyint((own + 8 * 200) / 9.0));
        EXPECT_EQ(ws.SmoothedGrid.at(5, 5), expect) << "own intensity " << own;
        EXPECT_EQ(ws.SmoothedGrid.at(4, 5),
                  static_cast<int32_t>(std::nearbyint((5 * 200 + own) / 9.0)));
    }
}

TEST(Convolve, EdgeCellsStayZeroAndAreClearedOnEveryCall) {
    IntensityPlane plane;
    test::fillFrame(plane, 90);
    WorkingState ws = smoothingState();
    convolve(ws, plane);
    ASSERT_EQ(ws.SmoothedGrid.size(), 20);
    EXPECT_EQ(ws.SmoothedGrid.at(2, 2), 90);
    EXPECT_EQ(ws.SmoothedGrid.at(18, 18), 90);
    for (int k = 0; k < 20; ++k) {
        for (int edge : {0, 1, 19}) {
            EXPECT_EQ(ws.SmoothedGrid.at(edge, k), 0);
            EXPECT_EQ(ws.SmoothedGrid.at(k, edge), 0);
        }
    }
    // The next frame is dark: nothing of the bright one is left.
    plane.fill(0);
    convolve(ws, plane);
    for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 20; ++y)
            ASSERT_EQ(ws.SmoothedGrid.at(x, y), 0);
}

TEST(Convolve, ReadsPixelsBeyondTheBoxAndOffTheFrame) {
    // A system box in the top-left corner: the kernel reaches past the frame's
    // edge, where everything is dark.
    IntensityPlane plane;
    test::fillFrame(plane, 90);
    WorkingState ws;
    ws.PrimaryBox.place(0, 0, 24); // 7 x 7 kernel, reaches 3 pixels out
    ws.SystemBox.place(0, 0, 10);  // offsets 2.. at frame pixels -3..
    convolve(ws, plane);
    // Cell (2, 2) is pixel (-3, -3): its own intensity is 0, so 0.
    EXPECT_EQ(ws.SmoothedGrid.at(2, 2), 0);
    // Cell (5, 5) is pixel (0, 0): 4 x 4 of its 7 x 7 neighbours are in the frame.
    EXPECT_EQ(ws.SmoothedGrid.at(5, 5), static_cast<int32_t>(std::nearbyint(16 * 90 / 49.0)));
    // Cell (8, 8) is pixel (3, 3): its whole kernel is in the frame.
    EXPECT_EQ(ws.SmoothedGrid.at(8, 8), 90);
}

// On a sloping frame a kernel's mean is the slope's value at its centre,
// whether the cells are summed in whole numbers or, on deep bright frames
// with wide kernels, in 32-bit floats.
struct RampCase {
    const char* name;
    int bits;
    int32_t white, primaryBox, base, dx, dy;
};

TEST(Convolve, KernelMeanOfARampIsItsCentre) {
    const RampCase cases[] = {{"8-bit, 3 x 3", 8, 254, 12, 20, 2, 3},
                              {"8-bit, 11 x 11", 8, 254, 40, 10, 1, 2},
                              {"16-bit, 3 x 3", 16, 65535, 12, 10000, 200, 300},
                              {"16-bit bright, 5 x 5", 16, 65535, 16, 10000, 211, 307}};
    for (const RampCase& c : cases) {
        IntensityPlane plane;
        plane.reset(80, 80, c.bits, c.white);
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x)
                plane.set(x, y, c.base + c.dx * x + c.dy * y);
        WorkingState ws;
        ws.PrimaryBox.place(0, 0, c.primaryBox);
        ws.SystemBox.place(40, 40, 30); // cells 2 .. 28 are pixels 27 .. 53
        convolve(ws, plane);
        for (int cell : {3, 15, 28})
            EXPECT_EQ(ws.SmoothedGrid.at(cell, cell - 1),
                      c.base + c.dx * (25 + cell) + c.dy * (24 + cell))
                << c.name << ", cell " << cell;
    }
}

} // namespace
} // namespace corvane
