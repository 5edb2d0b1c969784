// The drift-video simulator that every later test relies on: its geometry
// against the sky's (drift rate, north and east on the screen, mirroring),
// where the light of its stars lands, its noise, and its determinism.
#include "VideoFiles.h"
#include "common/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace corvane {
namespace {

using sim::Codec;
using sim::DriftParams;
using sim::Orientation;

constexpr double kPi = 3.14159265358979323846;

double angleDiff(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180)
        d -= 360;
    if (d < -180)
        d += 360;
    return d;
}

TEST(Simulator, ScreenDirectionsFollowTheSky) {
    struct Row {
        const char* name;
        double rotation, pa;
        Orientation orientation;
        double drift, secondary; // expected screen angles, y up
    } rows[] = {
        {"north up: a pair at PA 0 points up", 0, 0, Orientation::Correct, 0, 90},
        {"east lies opposite the drift", 0, 90, Orientation::Correct, 0, 180},
        {"PA 270 is west, along the drift", 0, 270, Orientation::Correct, 0, 0},
        {"the camera turned by 30 degrees turns both", 30, 60, Orientation::Correct, 30, 180},
        {"mirrored: the drift runs left", 0, 0, Orientation::Mirrored, 180, 90},
        {"mirrored: east lies right", 0, 90, Orientation::Mirrored, 180, 0},
        {"mirrored and turned", 30, 60, Orientation::Mirrored, 150, 0},
    };
    for (const Row& r : rows) {
        DriftParams p;
        p.rotationDeg = r.rotation;
        p.positionAngleDeg = r.pa;
        p.orientation = r.orientation;
        p.frames = 2;
        const sim::Truth t = sim::computeTruth(p);
        EXPECT_NEAR(angleDiff(t.driftAngleDeg, r.drift), 0, 1e-9) << r.name;
        EXPECT_NEAR(angleDiff(t.screenAngleDeg, r.secondary), 0, 1e-9) << r.name;
        // The stated angle is where the secondary really is (screen y down).
        const sim::FrameTruth& f = t.frames[0];
        const double seen =
            std::atan2(-(f.secondary.y - f.primary.y), f.secondary.x - f.primary.x) * 180 / kPi;
        EXPECT_NEAR(angleDiff(seen, r.secondary), 0, 1e-9) << r.name;
    }
}

TEST(Simulator, StarsDriftAtTheSiderealRateTimesCosDeclination) {
    DriftParams p;
    p.declinationDeg = 60; // cos = 0.5
    p.scalePxPerArcsec = 2;
    p.rotationDeg = -20;
    p.jitterPx = 0;
    p.fps = 29.97;
    p.frames = 200;
    const sim::Truth t = sim::computeTruth(p);
    const double seconds = 199 * 1001.0 / 30000.0;
    const sim::Point a = t.frames.front().primary, b = t.frames.back().primary;
    EXPECT_NEAR(std::hypot(b.x - a.x, b.y - a.y), 15.04107 * seconds, 1e-9);
    EXPECT_NEAR(std::atan2(-(b.y - a.y), b.x - a.x) * 180 / kPi, -20, 1e-9);
    EXPECT_NEAR(t.driftSpeedPxPerS, 15.04107, 1e-9);
    EXPECT_DOUBLE_EQ(t.frames[100].timeS, 100 * 1001.0 / 30000.0);
    const sim::FrameTruth& f = t.frames[50];
    EXPECT_NEAR(std::hypot(f.secondary.x - f.primary.x, f.secondary.y - f.primary.y),
                p.separationArcsec * 2, 1e-9);
}

TEST(Simulator, TheDefaultStartCentresTheTrackAndTheDemoPairStaysInTheFrame) {
    DriftParams p; // the demo video of the run script
    p.frames = 300;
    p.separationArcsec = 12;
    p.positionAngleDeg = 60;
    p.declinationDeg = 30;
    p.scalePxPerArcsec = 1.5;
    const sim::Truth t = sim::computeTruth(p);
    EXPECT_TRUE(t.staysInFrame);
    const sim::FrameTruth& a = t.frames.front();
    const sim::FrameTruth& b = t.frames.back();
    // The middle of the pair halfway through sits at the frame's centre
    // (up to the jitter).
    const double cx = (a.primary.x + b.primary.x + a.secondary.x + b.secondary.x) / 4;
    const double cy = (a.primary.y + b.primary.y + a.secondary.y + b.secondary.y) / 4;
    EXPECT_NEAR(cx, 319.5, 4 * p.jitterPx);
    EXPECT_NEAR(cy, 239.5, 4 * p.jitterPx);
    // Too long a video leaves the frame, and says so.
    p.frames = 3000;
    EXPECT_FALSE(sim::computeTruth(p).staysInFrame);
}

TEST(Simulator, TheStarsLightIsCentredOnTheTruePositions) {
    DriftParams p;
    p.width = 64;
    p.height = 64;
    p.frames = 1;
    p.sky = 0;
    p.noiseSigma = 0;
    p.jitterPx = 0;
    p.secondaryBrightness = 0;
    p.start = sim::Point{30.3, 25.8};
    const std::vector<uint8_t> v = sim::renderGreyLevels(p, 0);
    double sum = 0, sx = 0, sy = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double w = v[static_cast<std::size_t>(y * 64 + x)];
            sum += w;
            sx += w * x;
            sy += w * y;
        }
    // Rounding to whole grey levels shifts the centroid by far less than
    // 0.02 pixel for a star this bright.
    EXPECT_NEAR(sx / sum, 30.3, 0.02);
    EXPECT_NEAR(sy / sum, 25.8, 0.02);
    // The peak is the brightness asked for (less what the pixel spreads).
    EXPECT_NEAR(*std::max_element(v.begin(), v.end()), p.primaryBrightness,
                0.15 * p.primaryBrightness);
}

TEST(Simulator, NoiseHasTheRequestedSpread) {
    DriftParams p;
    p.width = 160;
    p.height = 120;
    p.sky = 100;
    p.noiseSigma = 5;
    p.primaryBrightness = p.secondaryBrightness = 0;
    const std::vector<uint8_t> v = sim::renderGreyLevels(p, 3);
    double sum = 0, sq = 0;
    for (uint8_t x : v) {
        sum += x;
        sq += double(x) * x;
    }
    const double n = static_cast<double>(v.size());
    const double mean = sum / n;
    const double sd = std::sqrt(sq / n - mean * mean);
    // Standard errors: 5 / sqrt(n) = 0.036 for the mean, 5 / sqrt(2n) = 0.026
    // for the spread; rounding to whole levels adds 1/12 to the variance.
    EXPECT_NEAR(mean, 100, 0.2);
    EXPECT_NEAR(sd, std::sqrt(25 + 1.0 / 12), 0.15);
}

TEST(Simulator, AFrameDependsOnlyOnTheSeedAndItsNumber) {
    DriftParams p;
    p.width = 96;
    p.height = 64;
    const std::vector<sim::Pixel> seven = sim::renderFrame(p, 7);
    sim::renderFrame(p, 3);
    EXPECT_EQ(sim::renderFrame(p, 7), seven);
    EXPECT_NE(sim::renderFrame(p, 8), seven);
    EXPECT_EQ(sim::frameTruth(p, 7).primary.x, sim::frameTruth(p, 7).primary.x);
    p.seed = 2;
    EXPECT_NE(sim::renderFrame(p, 7), seven);
}

TEST(Simulator, FrameNumbersReadBackFromThePicture) {
    DriftParams p = test::codedVideo(Codec::Grey);
    for (int64_t n : {0, 1, 2, 255, 4096, 65535}) {
        const std::vector<sim::Pixel> f = sim::renderFrame(p, n);
        EXPECT_EQ(sim::readFrameCode(f.data(), p.width, p.height, p.width), n);
    }
    const std::vector<sim::Pixel> grey(160 * 120, 0x808080u);
    EXPECT_EQ(sim::readFrameCode(grey.data(), 160, 120, 160), -1);
}

TEST(Simulator, FrameRatesAreStoredAsTheAviRationals) {
    struct Row {
        double fps;
        int num, den;
    } rows[] = {{25, 25, 1},           {29.97, 30000, 1001}, {59.94, 60000, 1001},
                {23.976, 24000, 1001}, {12.5, 25, 2},        {30, 30, 1}};
    for (const Row& r : rows) {
        const sim::Rational q = sim::frameRateOf(r.fps);
        EXPECT_EQ(q.num, r.num) << r.fps;
        EXPECT_EQ(q.den, r.den) << r.fps;
    }
}

TEST(Simulator, BadParametersAreRefusedByName) {
    struct Row {
        const char* name;
        void (*edit)(DriftParams&);
    } rows[] = {
        {"width", [](DriftParams& p) { p.width = 0; }},
        {"height", [](DriftParams& p) { p.height = 9000; }},
        {"frames", [](DriftParams& p) { p.frames = -1; }},
        {"fps", [](DriftParams& p) { p.fps = 0; }},
        {"scale", [](DriftParams& p) { p.scalePxPerArcsec = -1; }},
        {"declination", [](DriftParams& p) { p.declinationDeg = 95; }},
        {"seeing", [](DriftParams& p) { p.seeingFwhmPx = 0; }},
        {"noise", [](DriftParams& p) { p.noiseSigma = NAN; }},
        {"frame code",
         [](DriftParams& p) {
             p.frameCode = true;
             p.width = 100;
         }},
        {"width and height must be even",
         [](DriftParams& p) {
             p.codec = Codec::Mjpeg;
             p.width = 161;
         }},
    };
    for (const Row& r : rows) {
        DriftParams p;
        r.edit(p);
        try {
            sim::computeTruth(p);
            ADD_FAILURE() << r.name << " accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.name), std::string::npos) << e.what();
        }
    }
}

TEST(Simulator, WritingToAnImpossiblePathFailsWithAMessage) {
    DriftParams p;
    p.frames = 1;
    EXPECT_THROW(sim::writeDriftVideo("/nonexistent-folder/x.avi", p), Error);
}

} // namespace
} // namespace corvane

namespace corvane {
namespace {

// With dropped frames and wandering frame times the stars are where the
// drift has taken them at each frame's real time, the gaps add up to the
// dropped frames the truth reports, and no time wanders past its neighbours.
TEST(Simulator, DroppedAndJitteredFramesAreTakenAtTheirRealTimes) {
    for (uint64_t seed : {3u, 4u, 5u}) {
        SCOPED_TRACE(seed);
        sim::DriftParams p;
        p.frames = 400;
        p.fps = 50;
        p.jitterPx = 0;
        // 1 ms of a 20 ms period: a gap rounds to whole periods far beyond
        // seven standard deviations of the difference of two jitters.
        p.timeJitterMs = 1;
        p.dropFraction = 0.1;
        p.seed = seed;
        const sim::Truth t = sim::computeTruth(p);
        const double period = 0.02;
        int64_t gaps = 0;
        for (std::size_t n = 1; n < t.frames.size(); ++n) {
            const double step = t.frames[n].timeS - t.frames[n - 1].timeS;
            ASSERT_GT(step, 0.2 * period) << n;
            gaps += std::lround(step / period) - 1;
            const double along = std::hypot(t.frames[n].primary.x - t.frames[0].primary.x,
                                            t.frames[n].primary.y - t.frames[0].primary.y);
            ASSERT_NEAR(along, t.driftSpeedPxPerS * t.frames[n].timeS, 1e-9) << n;
        }
        EXPECT_EQ(gaps, t.droppedFrames);
        // About one frame time in ten dropped: 400 kept of about 444, within
        // four binomial standard deviations (sqrt(444 x 0.1 x 0.9) = 6.3).
        EXPECT_NEAR(static_cast<double>(t.droppedFrames), 44.4, 25);
        EXPECT_DOUBLE_EQ(sim::frameTimeS(p, 399), t.frames[399].timeS);
    }
}

TEST(Simulator, AnAviRefusesWhatOnlySerAndFitsCanHold) {
    test::TempDir dir("corvane-sim-avi");
    sim::DriftParams p;
    p.frames = 2;
    for (auto edit :
         {+[](sim::DriftParams& q) { q.bits = 16; }, +[](sim::DriftParams& q) { q.bayer = true; },
          +[](sim::DriftParams& q) { q.timeJitterMs = 1; },
          +[](sim::DriftParams& q) { q.dropFraction = 0.1; }}) {
        sim::DriftParams q = p;
        edit(q);
        EXPECT_THROW(sim::writeDriftVideo(dir.file("x.avi"), q), Error);
    }
}

} // namespace
} // namespace corvane
