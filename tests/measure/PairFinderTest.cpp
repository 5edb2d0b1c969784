#include "StarField.h"

#include "common/Error.h"
#include "measure/PairFinder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane;
using corvane::test::Sky;
using corvane::test::Star;

namespace {

// A pair at (200, 150) and (221, 141) on a sky of 20 with noise 3.
const Star kPrimary{200.3, 150.6, 200, 1.4};
const Star kSecondary{221.1, 140.8, 110, 1.4};
const Sky kSky{20, 3, 7};

// Fainter field stars scattered over the frame, some near the pair.
std::vector<Star> crowd() {
    return {{60, 60, 40, 1.4},   {400, 300, 45, 1.6}, {600, 50, 35, 1.2}, {230, 170, 30, 1.4},
            {180, 120, 38, 1.5}, {500, 420, 50, 1.3}, {90, 400, 42, 1.4}, {320, 240, 33, 1.2},
            {560, 200, 47, 1.5}, {30, 250, 36, 1.3},  {450, 90, 41, 1.4}, {150, 330, 39, 1.6}};
}

struct PairCase {
    const char* name;
    std::vector<Star> stars;
    const char* refusal; // empty: the pair (kPrimary, kSecondary) is found
};

std::vector<Star> with(std::vector<Star> a, const std::vector<Star>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PairFinding : public ::testing::TestWithParam<PairCase> {};

} // namespace

TEST_P(PairFinding, FindsTheBrightestPairOrSaysWhyNot) {
    IntensityPlane plane;
    test::renderStars(plane, GetParam().stars, kSky);
    const std::string refusal = GetParam().refusal;
    if (refusal.empty()) {
        const FoundPair p = findPair(plane);
        EXPECT_EQ(p.primaryX, 200);
        EXPECT_EQ(p.primaryY, 151);
        EXPECT_EQ(p.secondaryX, 221);
        EXPECT_EQ(p.secondaryY, 141);
        return;
    }
    try {
        findPair(plane);
        ADD_FAILURE() << "found a pair where there is none";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(refusal), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, PairFinding,
    ::testing::Values(
        PairCase{"clean", {kPrimary, kSecondary}, ""},
        PairCase{"crowded", with({kSecondary, kPrimary}, crowd()), ""},
        PairCase{"saturated_primary", {{200.3, 150.6, 600, 1.4}, kSecondary}, ""},
        PairCase{"both_clipped_the_one_with_more_light_leads",
                 {{221.1, 140.8, 300, 1.4}, {200.3, 150.6, 600, 1.4}},
                 ""},
        PairCase{"empty_sky", {}, "No star stands out"},
        PairCase{
            "one_star", {kPrimary}, "Only one star stands out on the start frame (at 200,151)"},
        PairCase{"three_alike",
                 {kPrimary, kSecondary, {400, 300, 100, 1.4}},
                 "no clear pair: the stars at 221,141 and 400,300"},
        PairCase{"blended", {kPrimary, {202.4, 151.6, 150, 1.4}}, "Only one star stands out"},
        // A companion under the noise beside the primary, and one pixel of
        // noise far off: the pixel is no secondary.
        PairCase{"faint_companion_and_a_lone_noise_pixel",
                 {kPrimary, {214, 143, 8, 1.4}, {500, 60, 20, 0.3}},
                 "(at 200,151; the lone bright pixel at 500,60 is the sky's noise)"},
        PairCase{"secondary_sharp_as_one_pixel", {kPrimary, {221, 141, 110, 0.3}}, ""}),
    [](const auto& info) { return std::string(info.param.name); });
