// A speckle video measured as the tool and the window measure it: exposures
// clipped at white are left out of the sum and the user is told.
#include "support/TempDir.h"

#include "session/MeasureVideo.h"
#include "sim/RecordingWriter.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

struct SaturationCase {
    const char* name;
    double primaryBrightness; // 16-bit counts at the seeing image's peak
    bool warned;              // some exposures were left out
    bool measured;            // enough were left to measure the pair
};

class SpeckleSaturation : public ::testing::TestWithParam<SaturationCase> {};

TEST_P(SpeckleSaturation, ClippedExposuresAreLeftOutAndSaid) {
    const SaturationCase& c = GetParam();
    test::TempDir dir;
    sim::DriftParams p;
    p.width = p.height = 128;
    p.frames = 60;
    p.bits = 16;
    p.tracking = true;
    p.seeing.enabled = true;
    p.seeing.dOverR0 = 6;
    p.seeing.exposureMs = 0;
    p.scalePxPerArcsec = 2.5 / sim::lambdaOverDArcsec(p.seeing);
    p.separationArcsec = 4 * sim::lambdaOverDArcsec(p.seeing);
    p.primaryBrightness = c.primaryBrightness;
    p.secondaryBrightness = c.primaryBrightness / 2;
    p.sky = 100;
    p.noiseSigma = 5;
    sim::RecordingOptions o;
    o.container = sim::Container::Ser;
    MeasureRequest request;
    request.video = dir.file("pair.ser");
    sim::writeRecording(request.video, p, o);
    request.method = Method::Speckle;
    request.findPair = true;
    request.speckleBox = 64;
    Calibration camera;
    camera.pixelsPerArcsec = p.scalePxPerArcsec;
    request.calibration = camera;
    request.declinationGiven = false;
    const MeasureOutcome out = measureVideo(request);
    ASSERT_TRUE(out.speckle);
    bool warned = false;
    for (const std::string& w : out.warnings)
        warned = warned || w.find("white level") != std::string::npos;
    EXPECT_EQ(warned, c.warned);
    EXPECT_EQ(out.speckle->measurement.status == SpeckleStatus::Measured, c.measured)
        << out.noResult;
}

INSTANTIATE_TEST_SUITE_P(
    Exposures, SpeckleSaturation,
    ::testing::Values(SaturationCase{"within_the_range_all_summed", 4000, false, true},
                      SaturationCase{"clipped_at_white_none_summed", 400000, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
