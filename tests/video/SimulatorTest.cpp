// The drift-video simulator that every later test relies on: its geometry
// against the sky's (drift rate, north and east on the screen, mirroring),
// where the light of its stars lands, its noise, and its determinism.
#include "VideoFiles.h"
#include "common/Error.h"
#include "sim/Seeing.h"

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
    DriftParams seeing;
    seeing.seeing.enabled = true;
    seeing.seeing.gainEPerCount = 2;
    seeing.seeing.spoiledShare = 0.5;
    for (DriftParams p : {DriftParams(), seeing}) {
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
        {"D/r0",
         [](DriftParams& p) {
             p.seeing.enabled = true;
             p.seeing.dOverR0 = 0;
         }},
        {"exposure (at most the frame period)",
         [](DriftParams& p) {
             p.seeing.enabled = true;
             p.seeing.exposureMs = 50; // 25 frames per second
         }},
        {"pixels per lambda/D",
         [](DriftParams& p) {
             p.seeing.enabled = true;
             p.scalePxPerArcsec = 1000;
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

namespace corvane {
namespace {

// Stars through the atmosphere, pointed as the speckle camera points them:
// tracked, one instant per frame, sampled finely enough for lambda/D.
sim::DriftParams seeingPair(double dOverR0, double pxPerLambdaOverD) {
    sim::DriftParams p;
    p.seeing.enabled = true;
    p.seeing.dOverR0 = dOverR0;
    p.seeing.exposureMs = 0;
    p.scalePxPerArcsec = pxPerLambdaOverD / sim::lambdaOverDArcsec(p.seeing);
    p.tracking = true;
    p.width = p.height = 128;
    p.sky = 0;
    p.noiseSigma = 0;
    return p;
}

// What the camera adds to the light, on a 16-bit frame.
TEST(SimulatorSeeing, TheCameraRecordsLikeACamera) {
    struct Row {
        const char* name;
        void (*edit)(sim::DriftParams&);
        void (*check)(const std::vector<uint16_t>& frame0, const std::vector<uint16_t>& frame3);
    } rows[] = {
        {"photon and read noise on the sky, over the bias",
         [](sim::DriftParams& p) {
             p.primaryBrightness = p.secondaryBrightness = 0;
             p.sky = 1000;
             p.seeing.gainEPerCount = 2;
             p.seeing.readNoiseE = 10;
             p.seeing.bias = 100;
         },
         [](const std::vector<uint16_t>& f, const std::vector<uint16_t>&) {
             double sum = 0, sq = 0;
             for (uint16_t v : f) {
                 sum += v;
                 sq += double(v) * v;
             }
             const double n = static_cast<double>(f.size());
             const double sd = std::sqrt(sq / n - sum / n * sum / n);
             // 2000 electrons and 10 of read noise: (2000 + 100) / 2^2 counts^2,
             // 22.9 counts; four standard errors of the mean and the spread.
             EXPECT_NEAR(sum / n, 1100, 0.8);
             EXPECT_NEAR(sd, std::sqrt(525.0), 0.6);
         }},
        {"a primary brighter than white saturates",
         [](sim::DriftParams& p) { p.primaryBrightness = 300000; },
         [](const std::vector<uint16_t>& f, const std::vector<uint16_t>&) {
             EXPECT_GE(std::count(f.begin(), f.end(), 65535), 2);
         }},
        {"hot pixels stay where they are",
         [](sim::DriftParams& p) {
             p.primaryBrightness = p.secondaryBrightness = 0;
             p.seeing.hotPixels = 6;
         },
         [](const std::vector<uint16_t>& f0, const std::vector<uint16_t>& f3) {
             EXPECT_EQ(f0, f3);
             EXPECT_GE(std::count_if(f0.begin(), f0.end(), [](uint16_t v) { return v > 10000; }),
                       5);
         }},
    };
    for (const Row& r : rows) {
        sim::DriftParams p = seeingPair(4, 1);
        p.bits = 16;
        r.edit(p);
        r.check(sim::renderSamples(p, 0), sim::renderSamples(p, 3));
    }
}

// One instant through D/r0 = 10 breaks a star into speckles: many local
// maxima where a Gaussian star has one.
TEST(SimulatorSeeing, AnInstantIsSpeckled) {
    struct Row {
        const char* name;
        bool seeing;
        int minMaxima, maxMaxima;
    } rows[] = {{"a Gaussian star", false, 1, 1}, {"an instant's speckles", true, 10, 1000}};
    for (const Row& r : rows) {
        sim::DriftParams p = seeingPair(10, 2.5);
        p.seeing.enabled = r.seeing;
        p.seeingFwhmPx = 20;
        p.jitterPx = 0;
        p.secondaryBrightness = 0;
        p.primaryBrightness = 200;
        const std::vector<uint8_t> f = sim::renderGreyLevels(p, 0);
        // Maxima above a tenth of the peak, higher than their 8 neighbours.
        const int top = *std::max_element(f.begin(), f.end());
        int maxima = 0;
        for (int y = 1; y + 1 < p.height; ++y)
            for (int x = 1; x + 1 < p.width; ++x) {
                const int v = f[static_cast<std::size_t>(y * p.width + x)];
                bool highest = 10 * v > top;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if ((dx || dy) &&
                            f[static_cast<std::size_t>((y + dy) * p.width + x + dx)] >= v)
                            highest = false;
                maxima += highest;
            }
        EXPECT_GE(maxima, r.minMaxima) << r.name;
        EXPECT_LE(maxima, r.maxMaxima) << r.name;
    }
}

// Averaged over many independent atmospheres the image of a star is the
// seeing disc, about 0.98 lambda/r0 wide at half its height (without an
// outer scale, which narrows it).
TEST(SimulatorSeeing, TheLongExposureIsTheSeeingDisc) {
    const int side = 128, seeds = 80, frames = 6;
    sim::DriftParams p = seeingPair(10, 1); // lambda/D is one pixel
    p.secondaryBrightness = 0;
    p.seeing.outerScaleM = 0;
    p.seeing.groundWindMps = p.seeing.highWindMps = 30; // a new speckle pattern every frame
    p.frames = frames; // the screens are made as long as the recording's wind needs
    std::vector<double> sum(side * side, 0.0);
    for (int s = 0; s < seeds; ++s) {
        p.seed = 100 + static_cast<uint64_t>(s);
        sim::SeeingSim atmosphere(p);
        for (int n = 0; n < frames; ++n) {
            const sim::SeeingFrame f = atmosphere.render(n);
            for (std::size_t i = 0; i < sum.size(); ++i)
                sum[i] += f.light[i];
        }
    }
    // Half-maximum radius of the azimuthal mean, in half-pixel rings around
    // the light's centroid.
    double total = 0, cx = 0, cy = 0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const double v = sum[static_cast<std::size_t>(y * side + x)];
            total += v;
            cx += v * x;
            cy += v * y;
        }
    cx /= total;
    cy /= total;
    std::vector<double> ring(side, 0.0), count(side, 0.0);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const auto k = static_cast<std::size_t>(2 * std::hypot(x - cx, y - cy));
            if (k < ring.size()) {
                ring[k] += sum[static_cast<std::size_t>(y * side + x)];
                ++count[k];
            }
        }
    const double peak = (ring[0] + ring[1]) / (count[0] + count[1]);
    double fwhm = 0;
    for (std::size_t k = 2; k < ring.size() && fwhm == 0; ++k) {
        const double a = ring[k - 1] / count[k - 1], b = ring[k] / count[k];
        if (b < peak / 2)
            fwhm = (static_cast<double>(k) - 0.5 + (a - peak / 2) / (a - b)) * 0.5 * 2;
    }
    // Most of the width's spread between atmospheres is the slow image
    // motion, one draw per seed: 7 % for 15 seeds, so 3.5 % for 80; three
    // of those is the tolerance.
    EXPECT_NEAR(fwhm, 0.98 * 10, 0.1 * 9.8);
}

// Both stars look through the same ground layer; a high layer is crossed
// by their beams a separation x height apart, so its share of the image
// motion is not common to them.
TEST(SimulatorSeeing, TheHighLayerUnsharesTheImageMotion) {
    struct Row {
        const char* name;
        double highShare;
        double minCorrelation, maxCorrelation;
    } rows[] = {
        {"ground layer only: the images move together", 0.0, 0.999, 1.0},
        {"all turbulence 8 km up, beams 0.78 m apart", 1.0, -1.0, 0.7},
    };
    for (const Row& r : rows) {
        sim::DriftParams p = seeingPair(4, 1);
        p.width = p.height = 200;
        p.separationArcsec = 20;
        p.seeing.highLayerShare = r.highShare;
        p.frames = 25;
        double aa = 0, bb = 0, ab = 0;
        for (uint64_t seed = 7; seed < 27; ++seed) {
            p.seed = seed;
            const sim::Truth seen = sim::computeTruth(p);
            const sim::Truth nominal = sim::nominalTruth(p);
            for (std::size_t n = 0; n < seen.frames.size(); ++n) {
                const double a = seen.frames[n].primary.x - nominal.frames[n].primary.x;
                const double b = seen.frames[n].secondary.x - nominal.frames[n].secondary.x;
                aa += a * a;
                bb += b * b;
                ab += a * b;
            }
        }
        const double correlation = ab / std::sqrt(aa * bb);
        EXPECT_GE(correlation, r.minCorrelation) << r.name;
        EXPECT_LE(correlation, r.maxCorrelation) << r.name;
    }
}

} // namespace
} // namespace corvane
