// End to end from the recordings today's cameras write: a drifting pair in a
// SER or FITS file is measured along the window's path and reduced, and the
// separation, the position angle and the pixel scale match the truth. The
// drift is timed by each frame's own time: a SER whose camera lost a tenth of
// its frames would give a scale off by a tenth if timed by frame number.
#include "common/NumberText.h"
#include "common/Rounding.h"
#include "sim/RecordingWriter.h"
#include "support/HeadlessMeasure.h"
#include "support/TempDir.h"
#include "video/UtcTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace corvane;

namespace {

// Tolerances as in the accuracy tests: clean frames (0.05 px image motion,
// small pixel noise) averaged over some 200 frames leave the separation and
// the scale within about 0.1 % and the angle within about 0.1 degree.
constexpr double kRelativeTolerance = 0.005;
constexpr double kAngleTolerance = 0.3;

struct FormatCase {
    const char* name;
    sim::Container container;
    int bits;
    bool bayer;
    double timeJitterMs;
    double dropFraction;
    bool giveRate; // the file has no frame times: the user gives the rate
    Method method;
    // 16 bits: the secondary's peak in sky noise levels (0: the usual pair).
    double secondarySigmas = 0;
    // FITS stored as floats with the white sample at this value (0: integers),
    // and a hot pixel of this value in every frame (0: none).
    double floatWhite = 0, hotPixel = 0;
};

sim::DriftParams driftFor(const FormatCase& c, uint64_t seed) {
    sim::DriftParams p;
    p.width = 320;
    p.height = 240;
    p.fps = 25;
    p.frames = 200;
    p.separationArcsec = 28;
    p.positionAngleDeg = 60;
    p.declinationDeg = 20;
    p.scalePxPerArcsec = 1.0;
    p.seeingFwhmPx = 2.5;
    p.jitterPx = 0.05;
    p.sky = 0;
    p.noiseSigma = 1.5;
    p.primaryBrightness = 200;
    p.secondaryBrightness = 120;
    p.seed = seed;
    p.bits = c.bits;
    p.bayer = c.bayer;
    p.timeJitterMs = c.timeJitterMs;
    p.dropFraction = c.dropFraction;
    if (c.bits == 16) {
        // Faint stars over the sky of a 16-bit camera.
        p.sky = 1000;
        p.noiseSigma = 30;
        p.primaryBrightness = 4000;
        p.secondaryBrightness = 2500;
        if (c.secondarySigmas > 0)
            p.secondaryBrightness = c.secondarySigmas * p.noiseSigma;
    }
    return p;
}

class RecordingFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RecordingFormats, SeparationAngleAndScaleMatchTheTruth) {
    const FormatCase& c = GetParam();
    for (uint64_t seed : {21u, 22u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const test::TempDir dir;
        const sim::DriftParams p = driftFor(c, seed);
        sim::RecordingOptions o;
        o.container = c.container;
        o.startUtc = "2026-05-17T23:10:05.250000";
        o.fitsFloatWhite = c.floatWhite;
        o.fitsHotPixel = c.hotPixel;
        // A sequence is opened as its folder.
        const bool sequence = c.container == sim::Container::FitsSequence;
        if (sequence)
            std::filesystem::create_directory(dir.file("seq"));
        const std::string path = dir.file(c.container == sim::Container::Ser ? "pair.ser"
                                          : sequence                         ? "seq/pair.fits"
                                                                             : "pair.fits");
        const sim::Truth truth = sim::writeRecording(path, p, o);
        ASSERT_TRUE(truth.staysInFrame);
        RecordingStart start;
        const test::HeadlessMeasurement m =
            test::measureHeadless(sequence ? dir.file("seq") : path, truth, c.method,
                                  p.declinationDeg, [&](Player& player) {
                                      if (c.giveRate)
                                          player.Source()->setFrameRate(p.fps);
                                      start = player.Source()->recordingStart();
                                  });
        // The epoch is the recording's own start, not the file's date.
        EXPECT_TRUE(start.fromFile);
        EXPECT_EQ(start.unixMicros,
                  (*parseIsoTime(o.startUtc) - ticksFromCivil(1970, 1, 1, 0, 0, 0)) / 10);

        const std::string error = m.reduction.error;
        const double sep = error.empty() ? shownValue(m.reduction.separation.separation, 2) : 0;
        const double pa = error.empty() ? shownValue(m.reduction.regression.positionAngle, 2) : 0;
        const double scale = error.empty() ? shownValue(m.reduction.separation.pixelScale, 4) : 0;
        const double sepError = (sep - truth.separationArcsec) / truth.separationArcsec;
        const double scaleError =
            (scale - truth.pixelScalePxPerArcsec) / truth.pixelScalePxPerArcsec;
        double paError = std::fmod(pa - truth.positionAngleDeg + 540.0, 360.0) - 180.0;
        char line[256];
        std::snprintf(line, sizeof line,
                      "rows %d  sep %.3f (%+.3f %%)  PA %.2f (%+.2f)  scale %.4f (%+.3f %%) %s",
                      m.validRows, sep, 100 * sepError, pa, paError, scale, 100 * scaleError,
                      error.c_str());
        std::printf("E2E %-22s seed %d  %s\n", c.name, static_cast<int>(seed), line);
        ASSERT_EQ(error, "") << "valid rows " << m.validRows;
        EXPECT_LT(std::fabs(sepError), kRelativeTolerance);
        EXPECT_LT(std::fabs(scaleError), kRelativeTolerance);
        EXPECT_LT(std::fabs(paError), kAngleTolerance);
        // A sound result carries no doubt, whatever the depth of its data.
        EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, RecordingFormats,
    ::testing::Values(
        // name, container, bits, Bayer, time jitter ms, share lost, give rate, method
        FormatCase{"ser_lost_frames_jitter", sim::Container::Ser, 8, false, 2, 0.1, false,
                   Method::WeightedAverage},
        FormatCase{"ser_bayer_rggb", sim::Container::Ser, 8, true, 0, 0, false,
                   Method::WeightedAverage},
        FormatCase{"fits_sequence", sim::Container::FitsSequence, 8, false, 1, 0, false,
                   Method::WeightedAverage},
        FormatCase{"fits_cube_rate_given", sim::Container::FitsCube, 8, false, 0, 0, true,
                   Method::WeightedAverage},
        // A few thousand counts over a sky of 1,000: the sky is taken off and
        // every threshold is the same share of the 16-bit white as in 8 bits.
        FormatCase{"ser_16bit_faint_weighted", sim::Container::Ser, 16, false, 0, 0, false,
                   Method::WeightedAverage},
        FormatCase{"ser_16bit_faint_peaks", sim::Container::Ser, 16, false, 0, 0, false,
                   Method::PeakSearch},
        // A secondary some 37 noise levels above the sky: the peak search tells
        // light from sky by the noise, not by the white level 65,535.
        FormatCase{"ser_16bit_secondary_37_noise_levels_peaks", sim::Container::Ser, 16, false, 0,
                   0, false, Method::PeakSearch, 37},
        // Floats in their own units measure as the integers they were.
        FormatCase{"fits_float_0_to_255_peaks", sim::Container::FitsCube, 8, false, 0, 0, true,
                   Method::PeakSearch, 0, 255},
        FormatCase{"fits_float_0_to_1_hot_pixel_peaks", sim::Container::FitsCube, 8, false, 0, 0,
                   true, Method::PeakSearch, 0, 1, 1.5}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
