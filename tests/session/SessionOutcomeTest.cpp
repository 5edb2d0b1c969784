// What the session says about a run besides the numbers: why there is no
// result, which doubts a result deserves, and the row it saves to results.csv.
#include "support/CleanDrift.h"
#include "support/TempDir.h"

#include "session/MeasuringSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace corvane {
namespace {

struct Outcome {
    std::vector<std::string> warnings;
    std::string noResult;
    std::string csvRow;
    int32_t clipped = 0;
    int32_t offTrack = 0;
    int32_t notConverged = 0;
};

// A clean 12" pair (320 x 240, 120 frames) on a sky of `sky` grey levels
// with a noise of `noise`,
// measured with `method`; `keep` accepted frames at most are left accepted
// (the rest rejected by hand), and one frame's separation is made an outlier
// when `outlier` is set, before the run is finished with clipping at 3 sigma;
// the first `unconverged` measured frames are left as a fit leaves a frame it
// could not answer for, the `refused` after them as one whose answer failed
// its checks; every secondary is moved by `scatter` times the separation
// (a normal deviate along each axis), and every `brighterEvery`-th frame's
// secondary is twice the primary's light, as a fit that lost the secondary
// leaves them, and every `clippedEvery`-th frame's primary reaches white.
Outcome measure(double separation, double sky, double noise, Method method, int32_t keep,
                bool outlier, int32_t unconverged, int32_t refused, double scatter,
                int32_t brighterEvery, int32_t clippedEvery) {
    test::TempDir dir;
    sim::DriftParams p = test::cleanDrift();
    p.width = 320;
    p.height = 240;
    p.separationArcsec = separation;
    p.sky = sky;
    p.noiseSigma = noise;
    const std::string video = dir.file("pair.avi");
    const sim::Truth truth = sim::writeDriftVideo(video, p);
    MeasuringSession session;
    session.open(video);
    session.reset(0);
    const sim::FrameTruth& t = truth.frames[0];
    session.selectPrimary(std::lround(t.primary.x), std::lround(t.primary.y), 12);
    session.selectSecondary(std::lround(t.secondary.x), std::lround(t.secondary.y), 12,
                            [] { return 0; });
    RunHooks hooks;
    hooks.stopFrame = [&] { return p.frames; };
    session.run(method, hooks);
    int32_t accepted = 0;
    for (int32_t n = 0; n <= p.frames; ++n)
        if (session.row(n)->Valid && ++accepted > keep)
            session.setAccepted(n, false);
    for (int32_t n = 1; n <= unconverged; ++n) {
        FrameRow& row = session.state().FrameData[static_cast<std::size_t>(n)];
        row.Valid = false;
        row.Rejection = RowRejection::NotConverged;
        row.PrimaryStatus = row.SecondaryStatus = StarStatus::NotMeasured;
    }
    std::mt19937 gen(5);
    std::normal_distribution<double> moved(0.0, scatter * separation * p.scalePxPerArcsec);
    for (int32_t n = 1; n <= p.frames; ++n) {
        FrameRow& row = session.state().FrameData[static_cast<std::size_t>(n)];
        if (scatter > 0) {
            row.SecondaryX += static_cast<float>(moved(gen));
            row.SecondaryY += static_cast<float>(moved(gen));
            computeSeparationAndAngle(row);
        }
        if (brighterEvery > 0 && n % brighterEvery == 0)
            row.FluxRatio = 2;
        if (clippedEvery > 0 && n % clippedEvery == 0)
            row.PrimaryStatus = StarStatus::Saturated;
    }
    for (int32_t n = unconverged + 1; n <= unconverged + refused; ++n) {
        FrameRow& row = session.state().FrameData[static_cast<std::size_t>(n)];
        row.Valid = false;
        row.Rejection = RowRejection::Refused;
    }
    ReductionSettings settings;
    settings.decDegrees = "+30";
    settings.decSeconds = "";
    settings.method = method;
    if (outlier) {
        FrameRow& row = session.state().FrameData[40];
        row.SecondaryX += 5;
        computeSeparationAndAngle(row);
        settings.clipSigma = 3.0;
    }
    // Without a result the doubts about the measurement are still told.
    RunFinish finish = session.finishRun(settings);
    Outcome out;
    out.clipped = finish.clipped;
    out.offTrack = session.rejectionCounts(method).offTrack;
    out.notConverged = session.rejectionCounts(method).notConverged;
    out.noResult = finish.noResult;
    out.warnings = finish.warnings;
    if (!out.noResult.empty())
        return out;
    const ReductionResult& r = *finish.reduction;
    EXPECT_TRUE(r.error.empty()) << r.error;
    out.csvRow = session.resultsCsvRow("1/2/26", PairTexts{}, measuredTexts(EpochResult{}, r, '.'),
                                       r, method, out.clipped);
    return out;
}

struct OutcomeCase {
    const char* name;
    double separation, sky, noise; // arc-seconds at 1.5 pixels each; grey levels
    Method method;
    int32_t keep;
    bool outlier;
    std::string noResult;
    std::vector<std::string> warningStarts; // the start of each warning, in order
    std::string csvCounts;                  // the row's counts, method and video
    int32_t offTrack = 0;                   // frames rejected as off the track
    int32_t notConverged = 0;               // frames the fit could not answer for
    int32_t refused = 0;                    // frames whose fit failed its checks
    double scatter = 0;                     // of each secondary, a share of the separation
    int32_t brighterEvery = 0;              // frames whose secondary reads the brighter
    int32_t clippedEvery = 0;               // frames whose primary reaches white
};

class SessionOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(SessionOutcome, SaysWhyOrWhatIsDoubtful) {
    const OutcomeCase& c = GetParam();
    const Outcome r =
        measure(c.separation, c.sky, c.noise, c.method, c.keep, c.outlier, c.notConverged,
                c.refused, c.scatter, c.brighterEvery, c.clippedEvery);
    EXPECT_EQ(r.noResult, c.noResult);
    EXPECT_EQ(r.offTrack, c.offTrack);
    EXPECT_EQ(r.notConverged, c.notConverged);
    ASSERT_EQ(r.warnings.size(), c.warningStarts.size());
    for (std::size_t i = 0; i < r.warnings.size(); ++i)
        EXPECT_EQ(r.warnings[i].rfind(c.warningStarts[i], 0), 0u) << r.warnings[i];
    if (!c.csvCounts.empty()) {
        EXPECT_NE(r.csvRow.find(c.csvCounts), std::string::npos) << r.csvRow;
        // Where the scale came from, the epoch's Julian date (none given
        // here), the orientation, the frames measured, then the frames the
        // errors count.
        EXPECT_NE(r.csvRow.find(",drift,,,"), std::string::npos) << r.csvRow;
        EXPECT_NE(r.csvRow.find(",0,correct,1,120,"), std::string::npos) << r.csvRow;
    }
}

const std::string kSky = "The sky around the stars is ";

INSTANTIATE_TEST_SUITE_P(
    Runs, SessionOutcome,
    // clang-format off
    ::testing::Values(
        //          name                                 sep sky noise method                   keep  outlier no result
        OutcomeCase{"dark_sky_sound_result",              12, 0,  3, Method::WeightedAverage, 1000, false, "",
                    {}, ",120,119,0,Weighted Average,pair.avi,"},
        OutcomeCase{"noisy_sky_biases_weighted_average",  12, 20, 8, Method::WeightedAverage, 1000, false, "",
                    {kSky}, ""},
        OutcomeCase{"same_sky_leaves_peak_search_alone",  12, 20, 8, Method::PeakSearch,      1000, false, "",
                    {}, ""},
        OutcomeCase{"overlapping_images_want_psf_fit",    5,  0,  3, Method::WeightedAverage, 1000, false,
                    "Only 0 of 120 frames were accepted; at least 16 are needed: the two stars' "
                    "images merged in 120 of 120 frames: try PSF Fit",
                    {"the stars' images overlap; use PSF Fit"}, ""},
        OutcomeCase{"fewer_than_a_quarter_accepted",      12, 0,  3, Method::PeakSearch,      20,   false, "",
                    {"Only 20 of 120 measured frames were accepted"}, ",120,20,0,Peak Search,"},
        OutcomeCase{"outlier_clipped_and_counted",        12, 0,  3, Method::PeakSearch,      1000, true,  "",
                    {}, ",120,118,1,Peak Search,"},
        OutcomeCase{"fit_off_its_track_rejected_not_clipped", 12, 0, 3, Method::PsfFit,     1000, true,  "",
                    {}, ",120,118,0,PSF Fit,", 1},
        OutcomeCase{"fits_without_an_answer_counted_and_warned", 12, 0, 3, Method::PsfFit, 1000, false, "",
                    {"12 of 120 frames were rejected: the fit did not converge in 12, the secondary "
                     "lay off its track in 0. Try "}, ",120,107,0,PSF Fit,", 0, 12},
        OutcomeCase{"no_result_names_every_reason",        12, 0,  3, Method::PsfFit,          1000, false,
                    "Only 9 of 120 frames were accepted; at least 16 are needed: the fit refused its "
                    "answer (a star left its box or its light was not clearly above the sky) in 80 "
                    "of 120 frames: try Weighted Average, Peak Search or Template Fit; also: the fit "
                    "did not converge in 30",
                    {"110 of 120 frames were rejected: the fit did not converge in 30, the secondary "
                     "lay off its track in 0, the fit refused its answer in 80. Try "}, "", 0, 30, 80},
        OutcomeCase{"fit_scattered_off_the_secondary_warned", 12, 0, 3, Method::PsfFit,       1000, false, "",
                    {"From frame to frame the separation scatters by "}, "", 0, 0, 0, 0.3},
        OutcomeCase{"fit_that_swapped_the_stars_warned",  12, 0,  3, Method::PsfFit,          1000, false, "",
                    {"In 29 of 119 frames the fit found the secondary brighter than the primary: it "
                     "swapped the stars there"}, "", 0, 0, 0, 0, 4},
        OutcomeCase{"clipped_primaries_leave_it_alone",  12, 0,  3, Method::PsfFit,          1000, false, "",
                    {}, "", 0, 0, 0, 0, 0, 3},
        OutcomeCase{"too_few_accepted_says_how_many",     12, 0,  3, Method::PeakSearch,      11,   false,
                    "Only 11 of 120 frames were accepted; at least 16 are needed", {}, ""}),
    // clang-format on
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
