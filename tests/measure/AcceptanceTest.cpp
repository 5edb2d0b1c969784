// Which rows the acceptance tests keep: the offset limits of each method at
// their exact edges, for expected offsets of either sign and of zero, and
// pairs lying along a pixel row or column.
#include "measure/FrameTable.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

struct LimitCase {
    const char* name;
    Method method;
    int32_t expected; // expected offset on the tested axis, pixels
    float observed;   // secondary minus primary on that axis
    bool valid;
};

// Row 1 of a table whose row 0 has another system centre, so only the offset
// test can reject.
bool accepted(const LimitCase& c, bool onY) {
    FrameTable table(2);
    table[0].SystemX = 1;
    FrameRow& row = table[1];
    row.SystemX = 2;
    row.Valid = true;
    // The primary at the origin, so the observed offset is exact; nothing
    // expected or seen on the other axis, so the expected separation is the
    // tested component's magnitude.
    (onY ? row.SecondaryY : row.SecondaryX) = c.observed;
    applyAcceptance(table, 1, onY ? 0 : c.expected, onY ? c.expected : 0, c.method);
    return table[1].Valid;
}

class OffsetLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(OffsetLimit, RejectsOnlyBeyondTheMethodsLimit) {
    const LimitCase& c = GetParam();
    EXPECT_EQ(accepted(c, false), c.valid) << "x axis";
    EXPECT_EQ(accepted(c, true), c.valid) << "y axis";
}

constexpr Method WA = Method::WeightedAverage;
constexpr Method PS = Method::PeakSearch;

INSTANTIATE_TEST_SUITE_P(
    Edges, OffsetLimit,
    ::testing::Values(
        // Peak search: exactly half of the expected offset keeps the row.
        LimitCase{"peaks_half_of_10_kept", PS, 10, 15.0f, true},
        LimitCase{"peaks_half_of_10_short_kept", PS, 10, 5.0f, true},
        LimitCase{"peaks_just_over_half_rejected", PS, 10, 15.01f, false},
        LimitCase{"peaks_half_of_minus_10_kept", PS, -10, -15.0f, true},
        LimitCase{"peaks_half_of_minus_10_short_kept", PS, -10, -5.0f, true},
        LimitCase{"peaks_over_half_of_minus_10_rejected", PS, -10, -16.0f, false},
        LimitCase{"peaks_wrong_side_of_minus_10_rejected", PS, -10, 10.0f, false},
        // Weighted average: 3/5 as a 32-bit float lies just above 0.6.
        LimitCase{"centroid_three_fifths_of_10_rejected", WA, 10, 16.0f, false},
        LimitCase{"centroid_059_of_10_kept", WA, 10, 15.9f, true},
        LimitCase{"centroid_three_fifths_of_minus_10_rejected", WA, -10, -4.0f, false},
        LimitCase{"centroid_059_of_minus_10_kept", WA, -10, -4.1f, true},
        // No expected offset: the deviation in pixels, whichever way.
        LimitCase{"peaks_zero_expected_half_pixel_kept", PS, 0, 0.5f, true},
        LimitCase{"peaks_zero_expected_minus_half_pixel_kept", PS, 0, -0.5f, true},
        LimitCase{"peaks_zero_expected_minus_pixel_rejected", PS, 0, -1.0f, false},
        LimitCase{"centroid_zero_expected_059_kept", WA, 0, 0.59f, true},
        LimitCase{"centroid_zero_expected_minus_06_rejected", WA, 0, -0.6f, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Row 1 with the given offset against the given expected offset.
bool offsetAccepted(float dx, float dy, int32_t expectedDX, int32_t expectedDY, Method method) {
    FrameTable table(2);
    table[0].SystemX = 1;
    table[1].SystemX = 2;
    table[1].SecondaryX = dx;
    table[1].SecondaryY = dy;
    table[1].Valid = true;
    applyAcceptance(table, 1, expectedDX, expectedDY, method);
    return table[1].Valid;
}

TEST(OffsetDeviation, IsAFractionOfTheExpectedSeparationOnBothAxes) {
    for (Method m : {Method::PeakSearch, Method::WeightedAverage}) {
        // A pair along a pixel row whose boxes were centred a row apart at
        // the click: a frame showing it on one row fits the expected pair.
        EXPECT_TRUE(offsetAccepted(-20.0f, 0.0f, -20, 1, m));
        EXPECT_TRUE(offsetAccepted(-20.0f, 0.3f, -20, -1, m));
        EXPECT_TRUE(offsetAccepted(0.2f, 18.0f, 1, 18, m)) << "a pair along a column";
        // A blob two thirds of the separation away across the pair is not the
        // secondary.
        EXPECT_FALSE(offsetAccepted(-20.0f, 14.0f, -20, 1, m));
        EXPECT_FALSE(offsetAccepted(20.0f, 0.0f, -20, 1, m)) << "the stars swapped";
    }
    // Expected (6, 8), separation 10: 5 pixels off in y is exactly half of it.
    EXPECT_TRUE(offsetAccepted(6.0f, 13.0f, 6, 8, Method::PeakSearch));
    EXPECT_FALSE(offsetAccepted(6.0f, 13.01f, 6, 8, Method::PeakSearch));
    EXPECT_FALSE(offsetAccepted(0.9f, 8.0f, 6, 8, Method::PeakSearch));
}

// A pair that drifts by less than a pixel a frame leaves the system box
// where it was: that alone says nothing about the picture (RepeatedFramesTest
// has the frames that really repeat).
TEST(Acceptance, SystemBoxCentreEqualToTheRowBeforeRejectsNothing) {
    FrameTable table(3);
    for (FrameRow& r : table) {
        r.SecondaryX = 10; // matches an expected offset of 10, 0
        r.SystemX = 50;
        r.SystemY = 20;
        r.Valid = true;
    }
    table[0] = FrameRow{}; // never measured: its centre is 0, 0
    table[1].SystemX = table[1].SystemY = 0;
    for (int32_t n = 1; n < 3; ++n) {
        applyAcceptance(table, n, 10, 0, Method::PeakSearch);
        EXPECT_TRUE(table[static_cast<std::size_t>(n)].Valid) << n;
    }
}

TEST(Acceptance, NeverSetsARowValid) {
    FrameTable table(2);
    table[1].SystemX = 5;
    table[1].SecondaryX = 10;
    applyAcceptance(table, 1, 10, 0, Method::PeakSearch);
    EXPECT_FALSE(table[1].Valid);
}

// Both rows would fail the offset test: a frame number outside the table
// must not reach either of them.
TEST(Acceptance, RowOutsideTheTableIsIgnored) {
    FrameTable table(2);
    for (FrameRow& r : table) {
        r.SecondaryX = 40; // three expected separations off
        r.SystemX = 50;
        r.SystemY = 20;
        r.Valid = true;
    }
    applyAcceptance(table, 2, 10, 0, Method::PeakSearch);
    applyAcceptance(table, -1, 10, 0, Method::PeakSearch);
    EXPECT_TRUE(table[0].Valid);
    EXPECT_TRUE(table[1].Valid);
}

// The run's track: a secondary off it by `strayBy` pixels on y, among rows
// whose offset scatters by up to `jitter` (robust sd 0.74 jitter).
struct TrackCase {
    const char* name;
    int32_t rows;
    float jitter, strayBy;
    bool rejected;
};

class OffTrack : public ::testing::TestWithParam<TrackCase> {};

TEST_P(OffTrack, RejectsOnlyFarBeyondTheRobustScatter) {
    const TrackCase& c = GetParam();
    FrameTable table(static_cast<std::size_t>(c.rows));
    for (int32_t i = 0; i < c.rows; ++i) {
        FrameRow& r = table[static_cast<std::size_t>(i)];
        r.PrimaryX = static_cast<float>(i); // the pair drifts
        r.SecondaryX = r.PrimaryX + 20 + c.jitter * static_cast<float>(i % 5 - 2) / 2;
        r.SecondaryY = c.jitter * static_cast<float>((i * 3) % 5 - 2) / 2;
        r.Valid = true;
    }
    table[7].SecondaryY += c.strayBy;
    EXPECT_EQ(rejectOffTrack(table), c.rejected ? 1 : 0);
    EXPECT_EQ(table[7].Valid, !c.rejected);
    EXPECT_EQ(table[7].Rejection == RowRejection::OffTrack, c.rejected);
    acceptOffTrackAgain(table);
    EXPECT_EQ(CountValidRows(table), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Strays, OffTrack,
    ::testing::Values(TrackCase{"far_stray_rejected", 40, 0.2f, 2.0f, true},
                      TrackCase{"stray_just_within_kept", 40, 0.2f, 0.5f, false},
                      TrackCase{"stray_just_beyond_rejected", 40, 0.2f, 0.9f, true},
                      TrackCase{"whole_pixels_judge_nothing", 40, 0, 3, false},
                      TrackCase{"too_few_rows_judge_nothing", 15, 0.2f, 2, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
