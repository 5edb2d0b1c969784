// Whether the standard errors the program reports can be believed on
// recordings through a real atmosphere: over many seeds, the share of runs
// whose separation and position angle lie within two of their reported
// standard errors of the truth, for every method, as corvane-measure
// measures a file. A small table runs with the tests; the whole table is an
// opt-in run:
//   test_e2e --gtest_also_run_disabled_tests --gtest_filter='Coverage.DISABLED_*'
// (CORVANE_COVERAGE_SEEDS sets the seeds per condition, 20 by default;
// CORVANE_COVERAGE_FROM the first condition to run).
#include "support/TempDir.h"

#include "session/ArtificialStars.h"
#include "session/MeasureVideo.h"
#include "sim/RecordingWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace corvane;

namespace {

struct Condition {
    double dOverR0;
    double declinationDeg;  // 0 drifts fast, 75 slowly
    double deltaMag;        // 0: an equal pair
    bool ser16;             // a 16-bit SER, else an 8-bit AVI
    double widths = 0;      // separation in star widths (FWHM); 0: 10"
    bool saturated = false; // the primary's core clipped at white
    // Methods that read this pair wrong, and must say so in every run.
    std::vector<Method> mustWarn = {};
    // Methods that must read this pair right in every run, warning or not.
    std::vector<Method> mustHold = {};
    // Methods whose delta-magnitude every run gives within three of its
    // standard errors of the truth.
    std::vector<Method> magnitudeHolds = {};
    double peak = 0;             // the primary's peak above the sky, 8-bit steps; 0: 110
    double pxPerLambdaOverD = 0; // the sampling; 0: 1.5 pixels per arc-second (0.85)
    double skyGradient = 0;      // steps the sky rises across the frame and down it
};

std::string nameOf(const Condition& c) {
    char text[96];
    std::snprintf(text, sizeof text, "D/r0 %g, dec %2g, dm %g, %s%s%s", c.dOverR0, c.declinationDeg,
                  c.deltaMag, c.ser16 ? "16-bit SER" : "8-bit AVI ",
                  c.widths > 0 ? (", " + std::to_string(c.widths).substr(0, 3) + " widths").c_str()
                               : "",
                  c.saturated ? ", saturated" : "");
    std::string name = text;
    if (c.peak > 0)
        name += ", peak " + std::to_string(static_cast<int>(c.peak));
    if (c.pxPerLambdaOverD > 0)
        name += ", " + std::to_string(c.pxPerLambdaOverD).substr(0, 3) + " px/(l/D)";
    if (c.skyGradient > 0)
        name += ", sky sloping " + std::to_string(static_cast<int>(c.skyGradient));
    return name;
}

// A 20 cm telescope at 1.5 pixels per arc-second (0.85 pixel per
// lambda/D), a 10" pair, 25 frames a second of 20 ms, photon noise on a
// grey sky. 16-bit samples hold 256 times the counts at 1/256 the gain.
sim::DriftParams recordingOf(const Condition& c, uint64_t seed, int frames) {
    sim::DriftParams p;
    p.width = 320;
    p.height = 240;
    p.frames = frames;
    p.seed = seed;
    p.separationArcsec = 10;
    p.positionAngleDeg = std::fmod(137.0 * static_cast<double>(seed), 360.0);
    p.declinationDeg = c.declinationDeg;
    p.scalePxPerArcsec = 1.5;
    p.seeing.enabled = true;
    p.seeing.dOverR0 = c.dOverR0;
    // A finer sampling drifts across more pixels: the frame holds the run.
    if (c.pxPerLambdaOverD > 0) {
        p.scalePxPerArcsec = c.pxPerLambdaOverD / sim::lambdaOverDArcsec(p.seeing);
        p.width = 640;
        p.height = 480;
    }
    const double unit = c.ser16 ? 256.0 : 1.0;
    p.bits = c.ser16 ? 16 : 8;
    p.primaryBrightness = (c.saturated ? 600 : c.peak > 0 ? c.peak : 110) * unit;
    p.secondaryBrightness = p.primaryBrightness * std::pow(10.0, -0.4 * c.deltaMag);
    p.sky = 20 * unit;
    p.seeing.gainEPerCount = 2.0 / unit;
    p.seeing.readNoiseE = 3;
    p.seeing.skyGradient = c.skyGradient * unit;
    if (c.widths > 0)
        p.separationArcsec = c.widths * sim::starFwhmPx(p) / p.scalePxPerArcsec;
    return p;
}

// Each condition its own seeds, so that no two conditions share their
// atmosphere and the table's runs are independent.
uint64_t seedOf(const Condition& c, int s) {
    const uint64_t key = static_cast<uint64_t>(c.dOverR0 * 8) * 1000003u +
                         static_cast<uint64_t>(c.declinationDeg) * 1009u +
                         static_cast<uint64_t>(c.deltaMag * 4) * 101u + (c.ser16 ? 7u : 0u) +
                         static_cast<uint64_t>(c.widths * 10) * 13u + (c.saturated ? 3u : 0u) +
                         static_cast<uint64_t>(c.peak) * 7919u +
                         static_cast<uint64_t>(c.pxPerLambdaOverD * 10) * 104729u +
                         static_cast<uint64_t>(c.skyGradient) * 31337u;
    return 4001 + static_cast<uint64_t>(s) + 1000u * key;
}

double angleDiff(double a, double b) {
    double d = std::fmod(a - b, 360.0);
    if (d > 180)
        d -= 360;
    if (d < -180)
        d += 360;
    return d;
}

struct Tally {
    int runs = 0, results = 0, sepCovered = 0, paCovered = 0;
    double sepError = 0, paError = 0;   // sums, for the bias
    double sepPull2 = 0, paPull2 = 0;   // sums of (error / reported error)^2
    double sepStderr = 0, paStderr = 0; // sums of the reported errors
    // Results within 1 % and 0.7 degrees; results with a warning; results
    // outside those bounds and three reported errors without one.
    int within = 0, warned = 0, confidentlyWrong = 0;
    int warnedClose = 0; // results warned that the images overlap
    // Results off the truth by more than three of their own standard
    // errors, or with errors three times those the runs' frames give where
    // the stars are found (80 frames: 3.5 % and 1.7 degrees; beyond 10 %
    // and 5 degrees): a fit that took other light for a star gives either.
    int wrong = 0;
    // The delta-magnitude, where the method gives one: runs with it, within
    // two of its standard errors, the sum of its errors and of its reported errors.
    int magnitudes = 0, magCovered = 0, magWrong = 0;
    double magError = 0, magStderr = 0;
    double worstSep = 0; // the largest separation error, a share of the truth
    // The artificial-star test: runs it read, the sum of the separation
    // bias it recovered, runs whose correction it offered; and the offered
    // values where it offered them, else the measured ones: their errors'
    // sums, runs within two of their standard errors and within the bounds.
    int tested = 0, offered = 0, fixedSepCovered = 0, fixedPaCovered = 0, fixedWithin = 0;
    double recoveredSep = 0, fixedSepError = 0, fixedPaError = 0;
    // The position angle's two parts: the drift direction's and the mean
    // screen angle's errors, their squares over their reported errors', and
    // the sum of their products, whose share shows whether they go together.
    double driftPull2 = 0, screenPull2 = 0, driftSquares = 0, screenSquares = 0, driftScreen = 0;
};

const std::vector<Method> kMethods = {Method::PeakSearch, Method::WeightedAverage, Method::PsfFit};
const std::vector<Method> kAllMethods = {Method::PeakSearch, Method::WeightedAverage,
                                         Method::PsfFit, Method::TemplateFit};

const char* methodName(Method m) {
    switch (m) {
    case Method::PeakSearch:
        return "Peak Search";
    case Method::WeightedAverage:
        return "Weighted Average";
    case Method::PsfFit:
        return "PSF Fit";
    case Method::TemplateFit:
        return "Template Fit";
    case Method::Speckle: // measures the whole run, not frame by frame
        break;
    }
    return "?";
}

// Every frame a run rejected has a reason it counts: none is left invalid
// with neither a lost star nor a reason of its own, and the counts add up
// to the rejected frames.
void expectEveryRejectionCounted(const MeasureOutcome& out) {
    int unexplained = 0;
    for (std::size_t i = 0; i < out.table.size(); ++i) {
        const FrameRow& r = out.table[i];
        unexplained += isMeasuredRow(out.table, i) && !r.Valid &&
                       r.Rejection == RowRejection::None && !isLost(r.PrimaryStatus) &&
                       !isLost(r.SecondaryStatus);
    }
    EXPECT_EQ(unexplained, 0) << methodName(out.method);
    const RejectionCounts& c = out.rejections;
    EXPECT_EQ(c.tooFaint + c.merged + c.offFrame + c.offset + c.repeat + c.notConverged +
                  c.offTrack + c.saturated + c.refused + out.clippedFrames,
              out.framesMeasured - out.validFrames)
        << methodName(out.method);
}

// Measures every condition with every method over `seeds` seeds; prints the
// table and returns the tallies, condition by condition, method by method.
std::vector<std::vector<Tally>> coverage(const std::vector<Condition>& conditions, int seeds,
                                         int frames, const std::vector<Method>& methods = kMethods,
                                         int firstSeed = 0) {
    std::vector<std::vector<Tally>> table;
    test::TempDir dir("corvane-coverage");
    std::printf("%-38s %-16s %7s %8s %7s %10s %9s %9s %9s %8s %8s\n", "condition", "method",
                "results", "sep<2se", "pa<2se", "sep bias\"", "sep se\"", "pa bias", "pa se",
                "sep pull", "pa pull");
    std::printf("%-38s %-16s %7s %8s %7s\n", "", "", "", "within", "warned");
    for (const Condition& c : conditions) {
        std::vector<Tally> row(methods.size());
        for (int s = firstSeed; s < firstSeed + seeds; ++s) {
            const sim::DriftParams p = recordingOf(c, seedOf(c, s), frames);
            sim::RecordingOptions o;
            o.container = c.ser16 ? sim::Container::Ser : sim::Container::Avi;
            const std::string path = dir.file(c.ser16 ? "pair.ser" : "pair.avi");
            const sim::Truth truth = sim::writeRecording(path, p, o);
            // Boxes that hold a star's seeing disc without reaching its neighbour.
            // A pair closer than that keeps the window's boxes.
            const int box =
                truth.separationPx < 9
                    ? 12
                    : std::min(
                          static_cast<int>(truth.separationPx) - 1,
                          std::max(12, 2 * static_cast<int>(std::ceil(1.25 * sim::starFwhmPx(p)))));
            for (std::size_t m = 0; m < row.size(); ++m) {
                MeasureRequest r;
                r.video = path;
                r.primary = {static_cast<int32_t>(std::lround(truth.frames[0].primary.x)),
                             static_cast<int32_t>(std::lround(truth.frames[0].primary.y))};
                r.secondary = {static_cast<int32_t>(std::lround(truth.frames[0].secondary.x)),
                               static_cast<int32_t>(std::lround(truth.frames[0].secondary.y))};
                r.boxSize = box;
                r.method = methods[m];
                r.decDegrees = std::to_string(static_cast<int>(c.declinationDeg));
                Tally& t = row[m];
                ++t.runs;
                MeasureOutcome out;
                try {
                    out = measureVideo(r);
                } catch (const std::exception& e) {
                    if (std::getenv("CORVANE_HONEST_WHY"))
                        std::printf("  seed %d: %s\n", s, e.what());
                    continue;
                }
                if (std::getenv("CORVANE_HONEST_WHY")) {
                    const bool reduced = out.reduction.has_value() &&
                                         out.reduction->reached == ReductionStage::Separation;
                    std::printf("  seed %d: %d of %d frames, sep %+.2f%% %s\n", s, out.validFrames,
                                out.framesMeasured,
                                reduced ? 100 * (out.reduction->separation.separation /
                                                     truth.separationArcsec -
                                                 1)
                                        : 0.0,
                                out.noResult.c_str());
                    for (const std::string& w : out.warnings)
                        std::printf("    %.90s\n", w.c_str());
                }
                expectEveryRejectionCounted(out);
                if (!out.reduction || out.reduction->reached != ReductionStage::Separation)
                    continue;
                const ReductionStatistics& st = out.reduction->statistics;
                const double sepErr = out.reduction->separation.separation - truth.separationArcsec;
                const double paErr =
                    angleDiff(out.reduction->regression.positionAngle, truth.positionAngleDeg);
                ++t.results;
                t.sepCovered += std::fabs(sepErr) <= 2 * st.separationStderr;
                t.paCovered += std::fabs(paErr) <= 2 * st.positionAngleStderr;
                t.sepError += sepErr;
                t.paError += paErr;
                const bool inBounds =
                    std::fabs(sepErr) <= 0.01 * truth.separationArcsec && std::fabs(paErr) <= 0.7;
                t.within += inBounds;
                t.worstSep = std::max(t.worstSep, std::fabs(sepErr) / truth.separationArcsec);
                t.warned += !out.warnings.empty();
                t.warnedClose +=
                    std::any_of(out.warnings.begin(), out.warnings.end(), [](const std::string& w) {
                        return w.find("times the width of a star's image") != std::string::npos;
                    });
                t.confidentlyWrong +=
                    out.warnings.empty() &&
                    (std::fabs(sepErr) >
                         std::max(0.01 * truth.separationArcsec, 3 * st.separationStderr) ||
                     std::fabs(paErr) > std::max(0.7, 3 * st.positionAngleStderr));
                t.wrong += std::fabs(sepErr) > 3 * st.separationStderr ||
                           std::fabs(paErr) > 3 * st.positionAngleStderr ||
                           st.separationStderr > 0.1 * truth.separationArcsec ||
                           st.positionAngleStderr > 5.0;
                if (out.artificialStars) {
                    const ArtificialStarResult& a = *out.artificialStars;
                    const bool sepOff = separationBiased(a, *out.reduction);
                    const bool paOff = positionAngleBiased(a, *out.reduction);
                    const double sepFixed = sepErr - (sepOff ? a.sepBias : 0);
                    const double paFixed = paErr - (paOff ? a.paBias : 0);
                    ++t.tested;
                    t.offered += sepOff || paOff;
                    t.recoveredSep += a.sepBias;
                    t.fixedSepError += sepFixed;
                    t.fixedPaError += paFixed;
                    t.fixedSepCovered +=
                        std::fabs(sepFixed) <=
                        2 * (sepOff ? std::hypot(st.separationStderr, a.sepBiasStderr)
                                    : st.separationStderr);
                    t.fixedPaCovered +=
                        std::fabs(paFixed) <=
                        2 * (paOff ? std::hypot(st.positionAngleStderr, a.paBiasStderr)
                                   : st.positionAngleStderr);
                    t.fixedWithin += std::fabs(sepFixed) <= 0.01 * truth.separationArcsec &&
                                     std::fabs(paFixed) <= 0.7;
                }
                if (std::isfinite(st.deltaMag)) {
                    const double magErr = st.deltaMag - c.deltaMag;
                    ++t.magnitudes;
                    t.magCovered += std::fabs(magErr) <= 2 * st.deltaMagStderr;
                    t.magWrong += !(std::fabs(magErr) <= 3 * st.deltaMagStderr);
                    t.magError += magErr;
                    t.magStderr += st.deltaMagStderr;
                }
                const double driftErr =
                    angleDiff(out.reduction->regression.driftAngle, truth.driftAngleDeg);
                const double screenErr =
                    angleDiff(out.reduction->averages.meanAngle, truth.screenAngleDeg);
                t.driftSquares += driftErr * driftErr;
                t.screenSquares += screenErr * screenErr;
                t.driftScreen += driftErr * screenErr;
                if (st.driftAngleStderr > 0)
                    t.driftPull2 +=
                        driftErr * driftErr / (st.driftAngleStderr * st.driftAngleStderr);
                if (st.screenAngle.stderrOfMean > 0)
                    t.screenPull2 += screenErr * screenErr /
                                     (st.screenAngle.stderrOfMean * st.screenAngle.stderrOfMean);
                t.sepStderr += st.separationStderr;
                t.paStderr += st.positionAngleStderr;
                if (st.separationStderr > 0)
                    t.sepPull2 += sepErr * sepErr / (st.separationStderr * st.separationStderr);
                if (st.positionAngleStderr > 0)
                    t.paPull2 += paErr * paErr / (st.positionAngleStderr * st.positionAngleStderr);
            }
        }
        for (std::size_t m = 0; m < row.size(); ++m) {
            const Tally& t = row[m];
            const double n = std::max(1, t.results);
            std::printf("%-38s %-16s %3d/%-3d %7.0f%% %6.0f%% %+10.4f %9.4f %+9.3f %9.3f %8.2f "
                        "%8.2f\n",
                        nameOf(c).c_str(), methodName(methods[m]), t.results, t.runs,
                        100.0 * t.sepCovered / n, 100.0 * t.paCovered / n, t.sepError / n,
                        t.sepStderr / n, t.paError / n, t.paStderr / n, std::sqrt(t.sepPull2 / n),
                        std::sqrt(t.paPull2 / n));
            std::printf(
                "%-38s %-16s %7s %7d %7d  confidently wrong %d, wrong %d, worst sep %.1f%%\n", "",
                "", "", t.within, t.warned, t.confidentlyWrong, t.wrong, 100 * t.worstSep);
            if (t.tested > 0)
                std::printf("%-38s %-16s %7s  artificial stars: sep bias %+.4f\", offered %d/%d; "
                            "as offered: sep bias %+.4f\", pa bias %+.3f, within 2 se %d/%d "
                            "and %d/%d, within %d\n",
                            "", "", "", t.recoveredSep / t.tested, t.offered, t.tested,
                            t.fixedSepError / t.tested, t.fixedPaError / t.tested,
                            t.fixedSepCovered, t.tested, t.fixedPaCovered, t.tested, t.fixedWithin);
            if (t.results > 0)
                std::printf("%-38s %-16s %7s  drift rms %.3f pull %.2f, screen angle rms %.3f "
                            "pull %.2f, their correlation %+.2f\n",
                            "", "", "", std::sqrt(t.driftSquares / n), std::sqrt(t.driftPull2 / n),
                            std::sqrt(t.screenSquares / n), std::sqrt(t.screenPull2 / n),
                            t.driftScreen / std::sqrt(t.driftSquares * t.screenSquares + 1e-300));
            if (t.magnitudes > 0)
                std::printf("%-38s %-16s %7s  delta-mag bias %+.3f, se %.3f, within 2 se %d/%d\n",
                            "", "", "", t.magError / t.magnitudes, t.magStderr / t.magnitudes,
                            t.magCovered, t.magnitudes);
        }
        std::fflush(stdout);
        table.push_back(row);
    }
    return table;
}

} // namespace

// A few conditions and seeds: every run gives a result and the reported
// errors are not absurd. Right errors would hold each quantity within two
// of them in 95 % of the runs; the bound is 60 % less three binomial
// standard deviations of the runs (12 runs: 3), which errors five times too
// small fail.
TEST(Coverage, ReportedErrorsCoverTheTruthThroughTheAtmosphere) {
    const std::vector<Condition> conditions = {{4, 30, 0, false}, {4, 60, 2, true}};
    const auto table = coverage(conditions, 6, 100);
    for (std::size_t m = 0; m < kMethods.size(); ++m) {
        int results = 0, sep = 0, pa = 0;
        for (const auto& row : table) {
            results += row[m].results;
            sep += row[m].sepCovered;
            pa += row[m].paCovered;
        }
        SCOPED_TRACE(methodName(kMethods[m]));
        if (kMethods[m] != Method::PeakSearch) { // its 16-bit threshold is a share of white
            EXPECT_EQ(results, 12);
        }
        const double bound = results * 0.6 - 3 * std::sqrt(results * 0.6 * 0.4);
        EXPECT_GE(sep, bound);
        EXPECT_GE(pa, bound);
    }
}

TEST(Coverage, DISABLED_TableOfConditions) {
    const char* env = std::getenv("CORVANE_COVERAGE_SEEDS");
    const int seeds = env ? std::max(1, std::atoi(env)) : 20;
    std::vector<Condition> grid;
    for (bool ser16 : {false, true}) {
        for (double dOverR0 : {2.0, 4.0, 8.0}) {
            for (double dec : {0.0, 45.0, 75.0}) {
                for (double dm : {0.0, 2.0})
                    grid.push_back({dOverR0, dec, dm, ser16});
            }
        }
    }
    // Every seventh in turn, so that a run cut short has still visited each
    // value of each dimension.
    // CORVANE_COVERAGE_FROM skips the first conditions of that order, to
    // share the table between processes.
    const char* from = std::getenv("CORVANE_COVERAGE_FROM");
    std::vector<Condition> conditions;
    for (std::size_t k = from ? static_cast<std::size_t>(std::max(0, std::atoi(from))) : 0;
         k < grid.size(); ++k)
        conditions.push_back(grid[k * 7 % grid.size()]);
    coverage(conditions, seeds, 120);
}

// No confident wrong number: over faint companions, overlapping images and
// a saturated primary, every method's result lies within 1 % and 0.7
// degrees, carries a warning, or is not given; a result outside those bounds
// and outside three of its own standard errors without a warning is a
// number the user would believe. The whole table is an opt-in run
// (CORVANE_HONEST_SEEDS seeds per row, 10 by default):
//   test_e2e --gtest_also_run_disabled_tests --gtest_filter='Coverage.DISABLED_Honest*'
namespace {

std::vector<Condition> honestRows() {
    const std::vector<Method> fits = {Method::PsfFit, Method::TemplateFit};
    const std::vector<Method> templateFit = {Method::TemplateFit};
    // A faint companion's fit once slid onto the primary's halo and stayed
    // there, frame after frame: PSF Fit read such pairs half their separation.
    // Their delta-magnitudes hold the truth within three of their errors; a
    // 3-magnitude companion's frames where the fit lost it in the noise are
    // rejected; PSF Fit counts the light of the frames where its fit lost
    // the companion (without them it read 0.06 bright) and reads it 0.04 bright.
    // An equal pair reads 0.007 faint (the secondary's circle, placed by the
    // track, misses a little of the light the primary's keeps), beyond three
    // of its errors of 0.005 in one run of ten. On a sky rising 10 steps
    // across the frame, the rest read off one star's far side lay under the
    // other tilted by the slope: the fits read a 2-magnitude companion
    // several tenths off.
    return {{4, 30, 0, false, 4, false, {}, {Method::PsfFit}},
            {4, 30, 2, false, 4, false, {}, {Method::PsfFit}, fits},
            {4, 30, 2, false, 4, false, {}, {}, fits, 0, 0, 10},
            {4, 30, 3, false, 4, false, {Method::WeightedAverage}, {Method::PsfFit}, templateFit},
            // Template Fit's copy of the primary, holding the secondary's
            // light, read such a pair 10 % long; PSF Fit's Gaussian 1 % short.
            {4, 30, 0, false, 1.3, false, fits, fits},
            {4, 30, 1, false, 1.3, false, fits},
            {4, 30, 2, false, 4, true, {}, {Method::TemplateFit}}};
}

// Images under two pixels wide, four widths apart: the star boxes settle on
// the pair's blend, and a fit held near its start must start on the track.
const Condition kSharpImages = {2, 30, 0, false, 4, false, {}, {Method::PsfFit}};

void expectNoConfidentWrongNumber(const std::vector<std::vector<Tally>>& table,
                                  const std::vector<Condition>& rows,
                                  const std::vector<Method>& methods = kAllMethods) {
    for (std::size_t c = 0; c < table.size(); ++c)
        for (std::size_t m = 0; m < methods.size(); ++m) {
            const Tally& t = table[c][m];
            SCOPED_TRACE(nameOf(rows[c]) + ", " + methodName(methods[m]));
            EXPECT_EQ(t.confidentlyWrong, 0);
            const auto& warns = rows[c].mustWarn;
            if (std::find(warns.begin(), warns.end(), methods[m]) != warns.end()) {
                EXPECT_EQ(t.warned, t.results);
            }
            const auto& holds = rows[c].mustHold;
            if (std::find(holds.begin(), holds.end(), methods[m]) != holds.end()) {
                EXPECT_EQ(t.results, t.runs);
                EXPECT_EQ(t.wrong, 0);
            }
            const auto& mags = rows[c].magnitudeHolds;
            if (std::find(mags.begin(), mags.end(), methods[m]) != mags.end()) {
                EXPECT_EQ(t.magnitudes, t.results);
                EXPECT_EQ(t.magWrong, 0);
            }
        }
}

} // namespace

TEST(Coverage, NoConfidentWrongNumber) {
    const std::vector<Condition> rows = honestRows();
    expectNoConfidentWrongNumber(coverage(rows, 2, 80, kAllMethods), rows);
}

// The rows a fit must read right, on runs as long as the real-seeing
// recordings: a fit that slides off its star does so somewhere in a run,
// and in a short one only now and then.
TEST(Coverage, FitsHoldTheirStarsThroughWholeRuns) {
    std::vector<Condition> rows;
    std::vector<Method> held;
    std::vector<Condition> candidates = honestRows();
    candidates.push_back(kSharpImages);
    for (const Condition& c : candidates) {
        if (!c.mustHold.empty())
            rows.push_back(c);
        for (const Method m : c.mustHold)
            if (std::find(held.begin(), held.end(), m) == held.end())
                held.push_back(m);
    }
    const auto table = coverage(rows, 3, 200, held);
    for (std::size_t c = 0; c < table.size(); ++c)
        for (const Method m : rows[c].mustHold) {
            const std::size_t i =
                static_cast<std::size_t>(std::find(held.begin(), held.end(), m) - held.begin());
            SCOPED_TRACE(nameOf(rows[c]) + ", " + methodName(m));
            EXPECT_EQ(table[c][i].results, table[c][i].runs);
            EXPECT_EQ(table[c][i].wrong, 0);
        }
}

// Runs whose selection misread the pair in its one fit, where the method
// warns all the same, from the run's frames.
struct MisreadSelection {
    const char* name;
    Condition condition;
    Method method;
    int firstSeed, seeds;
    bool overlapping = false; // warned that the images overlap
    bool holds = false;       // and reads the pair within three of its errors
};

TEST(Coverage, WarnedWhateverTheSelectionRead) {
    const MisreadSelection cases[] = {
        // The selection could not read the companion's light (seeds 1 and 4).
        {"3-magnitude companion", {4, 30, 3, false, 4}, Method::WeightedAverage, 1, 4},
        // The selection took a grain of a speckled image for the star and
        // found the images too narrow to overlap; they read 1.6 % and 0.8 %
        // short.
        {"faint pair 1.5 widths apart",
         {4, 30, 1, false, 1.5, false, {}, {}, {}, 30},
         Method::PsfFit,
         15,
         2,
         true},
        // The same grain taken for the star left Template Fit fitting its
        // copy of the primary, which held the secondary's light, through the
        // whole run: 12.6 % long.
        {"equal pair 1.3 widths apart",
         {4, 30, 0, false, 1.3},
         Method::TemplateFit,
         18,
         1,
         true,
         true}};
    for (const MisreadSelection& c : cases) {
        SCOPED_TRACE(c.name);
        const Tally t =
            coverage({c.condition}, c.seeds, 200, {c.method}, c.firstSeed).front().front();
        EXPECT_EQ(t.results, c.seeds);
        EXPECT_EQ(t.warned, t.results);
        if (c.overlapping) {
            EXPECT_EQ(t.warnedClose, t.results);
        }
        if (c.holds) {
            EXPECT_EQ(t.wrong, 0);
        }
    }
}

// CORVANE_HONEST_METHOD="PSF Fit" runs one method alone; CORVANE_HONEST_CLOSE
// the rows whose images overlap alone; CORVANE_HONEST_ROWS="peak 30" the
// rows so named; CORVANE_HONEST_FRAMES the frames of each run (200),
// CORVANE_HONEST_FROM the first seed (0);
// CORVANE_HONEST_WHY prints each run's frames, separation error and warnings.
TEST(Coverage, DISABLED_HonestTable) {
    const char* env = std::getenv("CORVANE_HONEST_SEEDS");
    const char* only = std::getenv("CORVANE_HONEST_METHOD");
    std::vector<Method> methods;
    for (const Method m : kAllMethods)
        if (!only || std::string(only) == methodName(m))
            methods.push_back(m);
    // Besides the tests' rows: the closest overlap, a fainter companion half
    // a width further out, the same pair with a primary of 30 steps, images
    // under two pixels wide, and close pairs sampled at 2.3 pixels per
    // lambda/D, where each frame's image shows its speckles.
    std::vector<Condition> rows = honestRows();
    rows.insert(rows.end(), {{4, 30, 0, false, 1.2},
                             {4, 30, 1, false, 1.5},
                             {4, 30, 1, false, 1.5, false, {}, {}, {}, 30},
                             kSharpImages,
                             {4, 30, 0, false, 1.3, false, {}, {}, {}, 0, 2.3},
                             {4, 30, 1, false, 1.5, false, {}, {}, {}, 0, 2.3}});
    if (std::getenv("CORVANE_HONEST_CLOSE"))
        rows.erase(
            std::remove_if(rows.begin(), rows.end(),
                           [](const Condition& c) { return !(c.widths > 0 && c.widths < 2); }),
            rows.end());
    // CORVANE_HONEST_ROWS keeps the rows whose name holds its text.
    if (const char* text = std::getenv("CORVANE_HONEST_ROWS"))
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                  [text](const Condition& c) {
                                      return nameOf(c).find(text) == std::string::npos;
                                  }),
                   rows.end());
    const char* frames = std::getenv("CORVANE_HONEST_FRAMES");
    const char* from = std::getenv("CORVANE_HONEST_FROM");
    expectNoConfidentWrongNumber(coverage(rows, env ? std::max(1, std::atoi(env)) : 10,
                                          frames ? std::max(20, std::atoi(frames)) : 200, methods,
                                          from ? std::max(0, std::atoi(from)) : 0),
                                 rows, methods);
}
