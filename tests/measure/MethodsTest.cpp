// Both measuring methods on rendered frames: where they put the stars, the
// rows they write, and the frames they reject.
#include "measure/Methods.h"
#include "SceneSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace corvane {
namespace {

using test::Scene;
using test::Sky;
using test::Star;

// Half a unit in the third decimal: the fine centre is stored rounded to 3 decimals.
constexpr double kRound3 = 0.0005;

struct PhaseCase {
    const char* name;
    double fx, fy; // sub-pixel phase of the primary
    double driftX, driftY;
};

class WeightedAverageOnRenderedPair : public ::testing::TestWithParam<PhaseCase> {};

TEST_P(WeightedAverageOnRenderedPair, FindsEachStarsWeightedCentreWithinTheNoise) {
    const PhaseCase& c = GetParam();
    Scene s;
    const Sky sky{0, 1.0, 11};
    test::selectPair(
        s, {{300 + c.fx, 200 + c.fy, 180, 1.6}, {326.35 + c.fx, 210.8 - c.fy, 120, 1.6}}, sky);
    test::drift(s, c.driftX, c.driftY, 12);
    ASSERT_TRUE(findcentroid(s.ws, s.plane, 7, 280));
    const FrameRow& row = s.ws.FrameData[7];
    EXPECT_TRUE(row.Valid);

    const TStarbox* boxes[2] = {&s.ws.PrimaryBox, &s.ws.SecondaryBox};
    const float xs[2] = {row.PrimaryX, row.SecondaryX};
    const float ys[2] = {row.PrimaryY, row.SecondaryY};
    for (int i = 0; i < 2; ++i) {
        const TStarbox& b = *boxes[i];
        const auto e = test::expectedCentroid(s.stars, s.sky, b.Left, b.Top, b.Size);
        EXPECT_NEAR(xs[i], e.x, 4 * e.sdX + kRound3) << "star " << i;
        EXPECT_NEAR(ys[i], e.y, 4 * e.sdY + kRound3) << "star " << i;
        // The faint background of a dark sky pulls only slightly towards the box middle.
        EXPECT_NEAR(e.x, s.stars[static_cast<std::size_t>(i)].x, 0.1);
        EXPECT_NEAR(e.y, s.stars[static_cast<std::size_t>(i)].y, 0.1);
    }
    const double dx = row.SecondaryX - row.PrimaryX, dy = row.SecondaryY - row.PrimaryY;
    EXPECT_FLOAT_EQ(row.SepPixels, static_cast<float>(std::hypot(dx, dy)));
    EXPECT_NEAR(row.ScreenAngle, std::atan(-dy / dx) * 180 / M_PI, 1e-4);
    EXPECT_EQ(row.FrameNo, 7);
    EXPECT_EQ(row.TimeUs, 280);
    EXPECT_EQ(row.SystemX, s.ws.FrameData[7].SystemX);
}

INSTANTIATE_TEST_SUITE_P(Phases, WeightedAverageOnRenderedPair,
                         ::testing::Values(PhaseCase{"on_pixel_centres", 0, 0, 0, 0},
                                           PhaseCase{"quarter_and_two_fifths", 0.25, 0.4, 3, -2},
                                           PhaseCase{"half_pixel", 0.5, 0.5, -4, 1},
                                           PhaseCase{"drift_of_five", 0.7, 0.15, 5, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WeightedAverage, SystemBoxRowHoldsTheCentreAfterItsOwnMeasure) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    test::drift(s, 4, 0, 1);
    const int32_t offsetX = s.ws.PrimaryBox.OffsetX;
    ASSERT_TRUE(findcentroid(s.ws, s.plane, 3, 0));
    // Afterwards the system box hangs on the measured primary.
    EXPECT_EQ(s.ws.SystemBox.CentreX, s.ws.PrimaryBox.CentreX - offsetX);
    EXPECT_NEAR(s.ws.FrameData[3].SystemX, s.ws.SystemBox.CentreX, 1);
}

TEST(WeightedAverage, YScaleMultipliesTheStoredY) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    s.ws.YScale = 2.0f;
    ASSERT_TRUE(findcentroid(s.ws, s.plane, 3, 0));
    EXPECT_EQ(s.ws.FrameData[3].PrimaryY, s.ws.PrimaryBox.FineY * 2.0f);
    EXPECT_EQ(s.ws.FrameData[3].SecondaryY, s.ws.SecondaryBox.FineY * 2.0f);
    EXPECT_EQ(s.ws.FrameData[3].PrimaryX, s.ws.PrimaryBox.FineX);
}

TEST(WeightedAverage, SamePictureAsThePreviousFrameRejects) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    const WorkingState before = s.ws;
    ASSERT_TRUE(measureframe(s.ws, s.plane, Method::WeightedAverage, 5, 0));
    // The same picture again as frame 6, measured from the same boxes.
    s.ws.PrimaryBox = before.PrimaryBox;
    s.ws.SecondaryBox = before.SecondaryBox;
    s.ws.SystemBox = before.SystemBox;
    ASSERT_TRUE(measureframe(s.ws, s.plane, Method::WeightedAverage, 6, 40));
    EXPECT_TRUE(s.ws.FrameData[5].Valid);
    EXPECT_FALSE(s.ws.FrameData[6].Valid);
}

TEST(PeakSearch, StarsOnPixelCentresAreFoundExactly) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    test::drift(s, 3, -1, 1);
    ASSERT_TRUE(findpeaks(s.ws, s.plane, 4, 160));
    const FrameRow& row = s.ws.FrameData[4];
    EXPECT_TRUE(row.Valid);
    EXPECT_NEAR(row.PrimaryX, 303, 1e-4);
    EXPECT_NEAR(row.PrimaryY, 199, 1e-4);
    EXPECT_NEAR(row.SecondaryX, 329, 1e-4);
    EXPECT_NEAR(row.SecondaryY, 209, 1e-4);
    EXPECT_EQ(row.FrameNo, 4);
    EXPECT_EQ(row.TimeUs, 160);
}

// Off a pixel centre the refined centre does not land on the star (it stays
// within half a pixel of it), but two stars of one shape at the same sub-pixel
// phase are displaced alike, so their offset is exact.
TEST(PeakSearch, SamePhaseStarsGiveTheirExactOffset) {
    Scene s;
    test::selectPair(s, {{300.3, 200.2, 180, 1.6}, {324.3, 210.2, 180, 1.6}}, {});
    ASSERT_TRUE(findpeaks(s.ws, s.plane, 4, 0));
    const FrameRow& row = s.ws.FrameData[4];
    EXPECT_NEAR(row.SecondaryX - row.PrimaryX, 24.0, 1e-4);
    EXPECT_NEAR(row.SecondaryY - row.PrimaryY, 10.0, 1e-4);
    EXPECT_NEAR(row.ScreenAngle, std::atan(-10.0 / 24.0) * 180 / M_PI, 1e-3);
    EXPECT_LT(std::fabs(row.PrimaryX - 300.3), 0.5);
    EXPECT_LT(std::fabs(row.PrimaryY - 200.2), 0.5);
    EXPECT_LT(std::fabs(row.SecondaryX - 324.3), 0.5);
    EXPECT_LT(std::fabs(row.SecondaryY - 210.2), 0.5);
}

TEST(PeakSearch, NoisyFramesAverageToTheStarPosition) {
    // Stars on pixel centres: by symmetry the noise moves the centre either way,
    // so the mean over many frames sits on the star, within its standard error.
    Scene s;
    const Sky sky{0, 1.5, 100};
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, sky);
    const int frames = 40;
    double sum[4] = {}, sumSq[4] = {};
    for (int f = 1; f <= frames; ++f) {
        s.sky.seed = 1000 + static_cast<uint32_t>(f);
        s.draw();
        ASSERT_TRUE(findpeaks(s.ws, s.plane, f, 0));
        const FrameRow& row = s.ws.FrameData[static_cast<std::size_t>(f)];
        const double err[4] = {row.PrimaryX - 300.0, row.PrimaryY - 200.0, row.SecondaryX - 326.0,
                               row.SecondaryY - 210.0};
        for (int k = 0; k < 4; ++k) {
            sum[k] += err[k];
            sumSq[k] += err[k] * err[k];
            EXPECT_LT(std::fabs(err[k]), 0.5) << "frame " << f << " coordinate " << k;
        }
    }
    for (int k = 0; k < 4; ++k) {
        const double mean = sum[k] / frames;
        const double sd = std::sqrt(std::max(0.0, sumSq[k] / frames - mean * mean));
        EXPECT_LE(std::fabs(mean), 4 * sd / std::sqrt(frames) + 1e-4) << "coordinate " << k;
    }
}

TEST(PeakSearch, BrighterSecondaryIsStoredAsThePrimary) {
    Scene s;
    test::selectPair(s, {{300, 200, 100, 1.6}, {326, 210, 200, 1.6}}, {});
    ASSERT_TRUE(findpeaks(s.ws, s.plane, 2, 0));
    const FrameRow& peaks = s.ws.FrameData[2];
    EXPECT_NEAR(peaks.PrimaryX, 326, 1e-4);
    EXPECT_NEAR(peaks.SecondaryX, 300, 1e-4);
    // The expected offset points the other way, so the frame is rejected.
    EXPECT_FALSE(peaks.Valid);

    ASSERT_TRUE(findcentroid(s.ws, s.plane, 3, 0));
    EXPECT_NEAR(s.ws.FrameData[3].PrimaryX, 300, 0.01);
}

TEST(PeakSearch, SingleStarSeedsTheSecondBlobFromWhatIsLeft) {
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    s.stars.pop_back();
    s.draw();
    ASSERT_TRUE(findpeaks(s.ws, s.plane, 2, 0));
    const FrameRow& row = s.ws.FrameData[2];
    EXPECT_NEAR(row.PrimaryX, 300, 1e-4);
    EXPECT_NEAR(row.PrimaryY, 200, 1e-4);
    // Blob 2 grows from the outskirts of the one star (or from nothing, at 0, 0),
    // never at the pair's expected offset, so the frame is rejected.
    const bool atOrigin = row.SecondaryX == 0 && row.SecondaryY == 0;
    EXPECT_TRUE(atOrigin || std::hypot(row.SecondaryX - 300.0, row.SecondaryY - 200.0) < 10);
    EXPECT_FALSE(row.Valid);
}

struct DarkCase {
    const char* name;
    Method method;
    int sky; // uniform intensity of the frame
};

class DarkFrame : public ::testing::TestWithParam<DarkCase> {};

TEST_P(DarkFrame, StillWritesACompleteRejectedRow) {
    const DarkCase& c = GetParam();
    Scene s;
    test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {});
    const int32_t systemX = s.ws.SystemBox.CentreX, systemY = s.ws.SystemBox.CentreY;
    const float fineX = s.ws.PrimaryBox.FineX;
    test::fillFrame(s.plane, c.sky);
    s.ws.FrameData[8].PrimaryX = 999; // stale values must all be replaced
    s.ws.FrameData[8].Valid = true;
    ASSERT_TRUE(measureframe(s.ws, s.plane, c.method, 8, int64_t{1} << 42));
    const FrameRow& row = s.ws.FrameData[8];
    EXPECT_FALSE(row.Valid);
    EXPECT_EQ(row.FrameNo, 8);
    EXPECT_EQ(row.TimeUs, int64_t{1} << 42); // past 32 bits of ms
    if (c.sky == 0) {
        EXPECT_EQ(row.SystemX, systemX);
        EXPECT_EQ(row.SystemY, systemY);
    }
    if (c.method == Method::WeightedAverage) {
        // The boxes keep their last fine centres.
        EXPECT_EQ(row.PrimaryX, fineX);
    } else {
        // No smoothed pixel above 3: both centres at (0, 0), a "vertical" pair.
        EXPECT_EQ(row.PrimaryX, 0.0f);
        EXPECT_EQ(row.PrimaryY, 0.0f);
        EXPECT_EQ(row.SecondaryX, 0.0f);
        EXPECT_EQ(row.SecondaryY, 0.0f);
        EXPECT_EQ(row.SepPixels, 0.0f);
        EXPECT_EQ(row.ScreenAngle, -90.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DarkFrame,
    ::testing::Values(DarkCase{"weighted_average_black", Method::WeightedAverage, 0},
                      DarkCase{"peak_search_black", Method::PeakSearch, 0},
                      DarkCase{"peak_search_sky_too_faint_to_smooth", Method::PeakSearch, 6}),
    [](const auto& info) { return std::string(info.param.name); });

struct PedestalCase {
    const char* name;
    Method method;
    int level; // even, so that rounding the rendered light is not changed by it
};

class UniformSky : public ::testing::TestWithParam<PedestalCase> {};

// A sky that lifts every pixel by the same whole number is taken off before
// any rule sees the light: the selection, the boxes and every row come out
// exactly as on a black sky. Weighing the raw intensities, the pedestal
// pulled every centre towards the middle of its box.
TEST_P(UniformSky, IsInvisibleToSelectionAndMeasuring) {
    const PedestalCase& c = GetParam();
    const std::vector<Star> stars = {{300.3, 200.6, 180, 1.6}, {318.8, 209.3, 120, 1.6}};
    Scene dark, lit;
    test::selectPair(dark, stars, {0, 0, 1});
    test::selectPair(lit, stars, {static_cast<double>(c.level), 0, 1});
    for (const auto& [a, b] : {std::pair{&dark.ws.PrimaryBox, &lit.ws.PrimaryBox},
                               {&dark.ws.SecondaryBox, &lit.ws.SecondaryBox},
                               {&dark.ws.SystemBox, &lit.ws.SystemBox}}) {
        EXPECT_EQ(a->CentreX, b->CentreX);
        EXPECT_EQ(a->CentreY, b->CentreY);
        EXPECT_EQ(a->FineX, b->FineX);
        EXPECT_EQ(a->FineY, b->FineY);
        EXPECT_EQ(a->OffsetX, b->OffsetX);
        EXPECT_EQ(a->OffsetY, b->OffsetY);
    }
    for (int f = 1; f <= 6; ++f) {
        test::drift(dark, 1.3, 0.4, 0);
        test::drift(lit, 1.3, 0.4, 0);
        ASSERT_TRUE(measureframe(dark.ws, dark.plane, c.method, f, 40 * f));
        ASSERT_TRUE(measureframe(lit.ws, lit.plane, c.method, f, 40 * f));
        const FrameRow& a = dark.ws.FrameData[static_cast<std::size_t>(f)];
        const FrameRow& b = lit.ws.FrameData[static_cast<std::size_t>(f)];
        EXPECT_EQ(a.PrimaryX, b.PrimaryX) << "frame " << f;
        EXPECT_EQ(a.PrimaryY, b.PrimaryY) << "frame " << f;
        EXPECT_EQ(a.SecondaryX, b.SecondaryX) << "frame " << f;
        EXPECT_EQ(a.SecondaryY, b.SecondaryY) << "frame " << f;
        EXPECT_EQ(a.SystemX, b.SystemX) << "frame " << f;
        EXPECT_EQ(a.SystemY, b.SystemY) << "frame " << f;
        EXPECT_EQ(a.Valid, b.Valid) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, UniformSky,
    ::testing::Values(PedestalCase{"weighted_average_sky_20", Method::WeightedAverage, 20},
                      PedestalCase{"weighted_average_sky_60", Method::WeightedAverage, 60},
                      PedestalCase{"peak_search_sky_20", Method::PeakSearch, 20},
                      PedestalCase{"peak_search_sky_60", Method::PeakSearch, 60},
                      // Two fits on one thread, frame about frame: neither sees the other's.
                      PedestalCase{"psf_fit_two_runs_interleaved", Method::PsfFit, 0},
                      PedestalCase{"template_fit_two_runs_interleaved", Method::TemplateFit, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PeakSearch, SmoothedThreeIsNoPointAndFourIs) {
    // One pixel of 7 in a 3 x 3 patch whose sum is 27 (smoothed 3) or 36 (4).
    for (int patchSum : {27, 36}) {
        Scene s;
        s.ws.FrameData.assign(4, FrameRow{});
        s.ws.PrimaryBox.place(0, 0, 12);
        s.ws.SystemBox.place(300, 200, 20);
        // The centre pixel alone is bright enough to be smoothed; its 8
        // neighbours (6 or less each) are not.
        const int rest = patchSum - 7;
        int left = rest;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                if (dx == 0 && dy == 0)
                    continue;
                const int v = std::min(left, rest / 8 + 1);
                left -= v;
                s.plane.set(305 + dx, 203 + dy, v);
            }
        ASSERT_EQ(left, 0);
        s.plane.set(305, 203, 7);
        ASSERT_TRUE(findpeaks(s.ws, s.plane, 1, 0));
        const FrameRow& row = s.ws.FrameData[1];
        if (patchSum == 27) {
            EXPECT_EQ(row.PrimaryX, 0.0f) << "smoothed 3 became a point";
        } else {
            EXPECT_EQ(row.PrimaryX, 305.0f);
            EXPECT_EQ(row.PrimaryY, 203.0f);
        }
    }
}

TEST(PeakSearch, SystemBoxSmallerThanFourGivesNoPoints) {
    Scene s;
    s.ws.FrameData.assign(4, FrameRow{});
    s.ws.PrimaryBox.place(0, 0, 12);
    s.ws.SystemBox.place(300, 200, 2);
    test::fillFrame(s.plane, 100);
    ASSERT_TRUE(findpeaks(s.ws, s.plane, 1, 0));
    EXPECT_EQ(s.ws.FrameData[1].PrimaryX, 0.0f);
    EXPECT_EQ(s.ws.FrameData[1].SecondaryX, 0.0f);
}

TEST(PeakSearch, EqualStarsOnOneRowTheLeftOneIsThePrimary) {
    Scene s;
    test::selectPair(s, {{326, 200, 150, 1.6}, {300, 200, 150, 1.6}}, {});
    ASSERT_TRUE(findpeaks(s.ws, s.plane, 1, 0));
    EXPECT_NEAR(s.ws.FrameData[1].PrimaryX, 300, 1e-4);
    EXPECT_NEAR(s.ws.FrameData[1].SecondaryX, 326, 1e-4);
}

TEST(BothMethods, VerticalPairGivesMinusNinety) {
    for (Method m : {Method::WeightedAverage, Method::PeakSearch}) {
        for (double below : {26.0, -26.0}) {
            Scene s;
            test::selectPair(s, {{300, 200, 180, 1.6}, {300, 200 + below, 120, 1.6}}, {});
            ASSERT_TRUE(measureframe(s.ws, s.plane, m, 1, 0));
            const FrameRow& row = s.ws.FrameData[1];
            EXPECT_EQ(row.SecondaryX - row.PrimaryX, 0.0f);
            EXPECT_EQ(row.ScreenAngle, -90.0f) << "method " << int(m) << " dy " << below;
            EXPECT_NEAR(row.SepPixels, 26.0, 1e-3);
            EXPECT_TRUE(row.Valid);
        }
    }
}

TEST(BothMethods, FrameOutsideTheTableWritesNothing) {
    for (Method m : {Method::WeightedAverage, Method::PeakSearch}) {
        Scene s;
        test::selectPair(s, {{300, 200, 180, 1.6}, {326, 210, 120, 1.6}}, {}, 12, 5);
        EXPECT_FALSE(measureframe(s.ws, s.plane, m, 5, 0));
        EXPECT_FALSE(measureframe(s.ws, s.plane, m, -1, 0));
        for (const FrameRow& row : s.ws.FrameData)
            EXPECT_FALSE(row.Valid);
    }
}

// What each star of a row is marked with, and that only a found or
// saturated star leaves the row valid.
struct StatusCase {
    const char* name;
    Method method;
    std::vector<Star> selected; // the clicks land on these
    std::vector<Star> measured; // the frame then measured
    int systemShiftX;           // the system box moved by this much before measuring
    StarStatus primary, secondary;
    bool valid;
    int missingX = -1, missingY = -1; // a pixel the file holds no number for
    test::Sky sky = {};               // the sky both frames are drawn on
};

class StarStatusOfRow : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StarStatusOfRow, NamesWhatBecameOfEachStar) {
    const StatusCase& c = GetParam();
    Scene s;
    test::selectPair(s, c.selected, c.sky);
    s.stars = c.measured;
    s.draw();
    s.plane.markMissing(c.missingX, c.missingY);
    s.ws.SystemBox.centreat(s.ws.SystemBox.CentreX + c.systemShiftX, s.ws.SystemBox.CentreY);
    ASSERT_TRUE(measureframe(s.ws, s.plane, c.method, 5, 200));
    const FrameRow& row = s.ws.FrameData[5];
    EXPECT_EQ(starStatusName(row.PrimaryStatus), std::string(starStatusName(c.primary)));
    EXPECT_EQ(starStatusName(row.SecondaryStatus), std::string(starStatusName(c.secondary)));
    EXPECT_EQ(row.Valid, c.valid);
    // A fit's accepted row carries its own precision and the light ratio
    // (the stars share one width, so the peaks' ratio), none where the
    // primary's light is clipped; other methods nothing.
    const bool fits = c.method == Method::PsfFit || c.method == Method::TemplateFit;
    const bool clipped = c.measured.size() < 2 || c.measured[0].peak > 255;
    if (row.Valid && fits) {
        EXPECT_GT(row.OffsetXError, 0.0f);
        EXPECT_LT(row.OffsetYError, 0.5f);
        if (clipped) {
            EXPECT_TRUE(std::isnan(row.FluxRatio));
        } else {
            EXPECT_NEAR(row.FluxRatio, c.measured[1].peak / c.measured[0].peak, 0.03);
            EXPECT_LT(row.FluxRatioError, 0.05f);
        }
    } else if (!fits) {
        EXPECT_TRUE(std::isnan(row.OffsetXError) && std::isnan(row.FluxRatio));
    }
}

const Star kPrimary{300, 200, 180, 1.6};
const Star kSecondary{326, 210, 120, 1.6};
const Star kBurntPrimary{300, 200, 600, 1.6}; // its centre clipped at white

INSTANTIATE_TEST_SUITE_P(Scenes, StarStatusOfRow,
                         ::testing::Values(StatusCase{"weighted_both_found",
                                                      Method::WeightedAverage,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"peak_both_found",
                                                      Method::PeakSearch,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"weighted_secondary_gone",
                                                      Method::WeightedAverage,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::TooFaint,
                                                      false},
                                           // On a sky with noise a box always holds some
                                           // light above the sky; noise is not a star.
                                           StatusCase{"weighted_pair_gone_from_a_noisy_sky",
                                                      Method::WeightedAverage,
                                                      {kPrimary, kSecondary},
                                                      {},
                                                      0,
                                                      StarStatus::TooFaint,
                                                      StarStatus::TooFaint,
                                                      false,
                                                      -1,
                                                      -1,
                                                      {20, 3, 8}},
                                           StatusCase{"weighted_saturated_primary_still_counts",
                                                      Method::WeightedAverage,
                                                      {kBurntPrimary, kSecondary},
                                                      {kBurntPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Saturated,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"peak_saturated_primary_still_counts",
                                                      Method::PeakSearch,
                                                      {kBurntPrimary, kSecondary},
                                                      {kBurntPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Saturated,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"weighted_pair_beyond_the_right_edge",
                                                      Method::WeightedAverage,
                                                      {kPrimary, kSecondary},
                                                      {},
                                                      600,
                                                      StarStatus::OffFrame,
                                                      StarStatus::OffFrame,
                                                      false},
                                           StatusCase{"peak_pair_beyond_the_right_edge",
                                                      Method::PeakSearch,
                                                      {kPrimary, kSecondary},
                                                      {},
                                                      600,
                                                      StarStatus::OffFrame,
                                                      StarStatus::OffFrame,
                                                      false},
                                           StatusCase{"peak_dark_frame",
                                                      Method::PeakSearch,
                                                      {kPrimary, kSecondary},
                                                      {},
                                                      0,
                                                      StarStatus::TooFaint,
                                                      StarStatus::TooFaint,
                                                      false},
                                           // Both clicks on one star: both boxes settle on the same
                                           // light, and a separation of 0 is not a measurement.
                                           StatusCase{"weighted_both_boxes_on_one_star",
                                                      Method::WeightedAverage,
                                                      {kPrimary, kPrimary},
                                                      {kPrimary},
                                                      0,
                                                      StarStatus::Merged,
                                                      StarStatus::Merged,
                                                      false},
                                           // The fit: both found, a star without light of
                                           // its own, a clipped core, and nothing on the frame.
                                           StatusCase{"psf_both_found",
                                                      Method::PsfFit,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"psf_secondary_gone",
                                                      Method::PsfFit,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::TooFaint,
                                                      false},
                                           StatusCase{"psf_saturated_primary_still_counts",
                                                      Method::PsfFit,
                                                      {kBurntPrimary, kSecondary},
                                                      {kBurntPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Saturated,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"psf_pair_beyond_the_right_edge",
                                                      Method::PsfFit,
                                                      {kPrimary, kSecondary},
                                                      {},
                                                      600,
                                                      StarStatus::OffFrame,
                                                      StarStatus::OffFrame,
                                                      false},
                                           StatusCase{"template_both_found",
                                                      Method::TemplateFit,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"template_secondary_gone",
                                                      Method::TemplateFit,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::TooFaint,
                                                      false},
                                           StatusCase{"template_saturated_primary_still_counts",
                                                      Method::TemplateFit,
                                                      {kBurntPrimary, kSecondary},
                                                      {kBurntPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Saturated,
                                                      StarStatus::Found,
                                                      true},
                                           StatusCase{"template_pair_beyond_the_right_edge",
                                                      Method::TemplateFit,
                                                      {kPrimary, kSecondary},
                                                      {},
                                                      600,
                                                      StarStatus::OffFrame,
                                                      StarStatus::OffFrame,
                                                      false},
                                           // A NaN in the file beside the secondary's centre.
                                           StatusCase{"weighted_missing_pixel_by_the_secondary",
                                                      Method::WeightedAverage,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary, kSecondary},
                                                      0,
                                                      StarStatus::Found,
                                                      StarStatus::MissingPixels,
                                                      false,
                                                      327,
                                                      211},
                                           StatusCase{"peak_missing_pixel_by_the_primary",
                                                      Method::PeakSearch,
                                                      {kPrimary, kSecondary},
                                                      {kPrimary, kSecondary},
                                                      0,
                                                      StarStatus::MissingPixels,
                                                      StarStatus::Found,
                                                      false,
                                                      299,
                                                      199}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
