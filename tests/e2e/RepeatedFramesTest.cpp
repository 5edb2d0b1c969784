// Frames that repeat the one before are rejected, frames that moved by less
// than a pixel are kept: a clean drift at any rate keeps almost all of its
// frames, and a dropped frame (marked by the file) or a frame stored twice
// (not marked) is rejected however slowly the pair drifts.
#include "measure/Methods.h"
#include "support/CleanDrift.h"
#include "support/HeadlessMeasure.h"
#include "support/TempDir.h"

#include "sim/AviWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

namespace corvane {
namespace {

struct RepeatCase {
    const char* name;
    double pxPerFrame;
    std::set<int> droppedFrames; // zero-length chunks in the file
    std::set<int> storedTwice;   // frame n holds frame n - 1's picture again
};

class RepeatedFrames : public ::testing::TestWithParam<std::tuple<RepeatCase, Method>> {};

constexpr int kFrames = 60;

TEST_P(RepeatedFrames, KeepsMovedFramesAndRejectsRepeats) {
    const RepeatCase& c = std::get<0>(GetParam());
    const Method method = std::get<1>(GetParam());
    // The clean drift on a narrow strip, at the frame rate the case asks for.
    sim::DriftParams p = test::cleanDrift(1);
    p.width = 260;
    p.height = 80;
    p.frames = kFrames;
    const double speed =
        sim::kSiderealRateArcsecPerS * std::cos(p.declinationDeg * M_PI / 180) * p.scalePxPerArcsec;
    p.fps = speed / c.pxPerFrame;
    const sim::Truth truth = sim::computeTruth(p);
    ASSERT_TRUE(truth.staysInFrame);

    test::TempDir dir;
    const std::string path = dir.file("drift.avi");
    sim::VideoFormat f;
    f.width = p.width;
    f.height = p.height;
    f.frameRate = truth.frameRate;
    sim::AviWriter w(path, f);
    for (int n = 0; n < kFrames; ++n)
        if (!c.droppedFrames.count(n))
            w.writeFrame(sim::renderFrame(p, c.storedTwice.count(n) ? n - 1 : n), n);
    w.finish();

    const test::HeadlessMeasurement m = test::measureHeadless(path, truth, method, 30.0);
    // Frames 1 .. kFrames are measured; the end position shows the last frame again.
    std::set<int> repeats = c.droppedFrames;
    repeats.insert(c.storedTwice.begin(), c.storedTwice.end());
    repeats.insert(kFrames);
    for (int n : repeats)
        EXPECT_FALSE(m.table[static_cast<std::size_t>(n)].Valid) << "frame " << n << " repeats";
    const int good = kFrames - static_cast<int>(repeats.size());
    EXPECT_GE(m.validRows, std::ceil(0.95 * good)) << m.validRows << " of " << good << " kept";
}

const RepeatCase kCases[] = {
    {"Slowest_0_05PxPerFrame", 0.05, {}, {}},
    {"Slow_0_2PxPerFrame", 0.2, {}, {}},
    {"OnePxPerFrame", 1.0, {}, {}},
    {"Fast_3PxPerFrame", 3.0, {}, {}},
    {"DroppedFramesMarkedByTheFile", 0.5, {10, 11, 30}, {}},
    {"FramesStoredTwiceUnmarked", 0.05, {}, {20, 41}},
};

INSTANTIATE_TEST_SUITE_P(
    Drifts, RepeatedFrames,
    ::testing::Combine(::testing::ValuesIn(kCases),
                       ::testing::Values(Method::PeakSearch, Method::WeightedAverage)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == Method::PeakSearch ? "_PeakSearch" : "_WeightedAverage");
    });

} // namespace
} // namespace corvane
