// The artificial-star test finds a bias that is there: a method made to read
// every secondary a known amount long or turned reports that amount, and an
// honest one reports none, each within the test's own standard error.
#include "support/CleanDrift.h"
#include "support/TempDir.h"

#include "measure/ArtificialStar.h"
#include "measure/Methods.h"
#include "session/ArtificialStars.h"
#include "session/MeasuringSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace corvane {
namespace {

// The bias the wrapped method reads into every pair: the secondary this
// many pixels further out and this many degrees further counter-clockwise.
double gLongerPx = 0, gTurnedDeg = 0;

bool biasedCentroid(WorkingState& ws, const IntensityPlane& plane, int32_t frame, int64_t timeUs) {
    if (!findcentroid(ws, plane, frame, timeUs))
        return false;
    FrameRow& row = ws.FrameData[static_cast<std::size_t>(frame)];
    const double dx = row.SecondaryX - row.PrimaryX, dy = row.SecondaryY - row.PrimaryY;
    const double r = std::hypot(dx, dy) + gLongerPx;
    const double a = std::atan2(-dy, dx) + gTurnedDeg * M_PI / 180;
    row.SecondaryX = static_cast<float>(row.PrimaryX + r * std::cos(a));
    row.SecondaryY = static_cast<float>(row.PrimaryY - r * std::sin(a));
    computeSeparationAndAngle(row);
    return true;
}

struct BiasRow {
    const char* name;
    double longerPx, turnedDeg;
};

class ArtificialStarBias : public testing::TestWithParam<BiasRow> {};

TEST_P(ArtificialStarBias, IsRecoveredWithinItsError) {
    const BiasRow b = GetParam();
    gLongerPx = b.longerPx;
    gTurnedDeg = b.turnedDeg;
    for (uint64_t seed : {3u, 4u}) {
        SCOPED_TRACE(seed);
        test::TempDir dir;
        sim::DriftParams p = test::cleanDrift(seed);
        p.width = 320;
        p.height = 240;
        const std::string video = dir.file("pair.avi");
        const sim::FrameTruth t = sim::writeDriftVideo(video, p).frames[0];
        MeasuringSession session;
        session.open(video);
        session.reset(0);
        session.selectPrimary(std::lround(t.primary.x), std::lround(t.primary.y), 12);
        session.selectSecondary(std::lround(t.secondary.x), std::lround(t.secondary.y), 12,
                                [] { return 0; });
        RunHooks hooks;
        hooks.stopFrame = [&] { return p.frames; };
        session.run(Method::WeightedAverage, hooks);
        const ReductionResult r =
            session.reduce(Orientation::CorrectOrInverted, "+30", "00", "00", '.');
        ArtificialStarOptions o;
        o.measure = biasedCentroid;
        const std::optional<ArtificialStarResult> a = artificialStarTest(
            session.player(), session.table(), session.state(), Method::WeightedAverage, r, o);
        ASSERT_TRUE(a);
        const double sepSe = a->sepBiasStderr * r.separation.pixelScale;
        // Three standard errors: a sound test strays further once in 370.
        EXPECT_NEAR(a->sepBiasPx, b.longerPx, 3 * sepSe);
        EXPECT_NEAR(a->screenAngleBias, b.turnedDeg, 3 * a->paBiasStderr);
        // Precise enough to tell each bias put in from none.
        EXPECT_LT(sepSe, 0.1);
        EXPECT_LT(a->paBiasStderr, 0.3);
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, ArtificialStarBias,
                         testing::Values(BiasRow{"none", 0, 0},
                                         BiasRow{"half_a_pixel_long", 0.5, 0},
                                         BiasRow{"a_degree_turned", 0, 1.0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the secondary is taken out before its copies are planted: each
// pixel of the square nearer the secondary than the primary takes the value
// its mirror through the primary had before any was written; every other
// pixel keeps its own.
struct EraseRow {
    const char* name;
    double px, py, sx, sy;
    int32_t half;
};

class SecondaryErased : public testing::TestWithParam<EraseRow> {};

TEST_P(SecondaryErased, ByTheMirroredPixelsAsTheyWere) {
    const EraseRow e = GetParam();
    IntensityPlane frame;
    frame.reset(40, 40, 16, 65535);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            frame.set(x, y, 1000 + 37 * x + 101 * y); // every pixel its own value
    IntensityPlane erased = frame;
    eraseSecondary(erased, e.px, e.py, e.sx, e.sy, e.half);
    const int32_t cx = std::lround(e.sx), cy = std::lround(e.sy);
    int32_t taken = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const int32_t mx = std::lround(2 * e.px - x), my = std::lround(2 * e.py - y);
            const bool replaced = std::abs(x - cx) <= e.half && std::abs(y - cy) <= e.half &&
                                  std::hypot(x - e.sx, y - e.sy) < std::hypot(x - e.px, y - e.py) &&
                                  mx >= 0 && my >= 0 && mx < 40 && my < 40;
            taken += replaced;
            EXPECT_EQ(erased.at(x, y), replaced ? frame.at(mx, my) : frame.at(x, y))
                << "pixel " << x << "," << y;
        }
    EXPECT_GT(taken, 0);
}

INSTANTIATE_TEST_SUITE_P(Pairs, SecondaryErased,
                         testing::Values(EraseRow{"a_few_pixels_apart", 20, 20, 24, 21, 3},
                                         // The square reaches past the primary: mirrors land in it.
                                         EraseRow{"closer_than_the_square", 20.3, 20.2, 21.1, 20.6,
                                                  3},
                                         EraseRow{"mirrors_off_the_frame", 1.4, 20, 4.6, 20, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
