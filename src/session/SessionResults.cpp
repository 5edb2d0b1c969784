// What the session says about a finished run: why there is no result, the
// warnings a result deserves, its standard errors as texts, and the row of
// results.csv.
#include "session/MeasuringSession.h"

#include "common/NumberText.h"
#include "measure/Methods.h"
#include "measure/Selection.h"
#include "measure/SkyEstimate.h"
#include "reduce/Clipping.h"
#include "results/ResultsCsv.h"
#include "results/ResultsFile.h"
#include "session/ArtificialStars.h"
#include "session/ReductionMessages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <optional>

namespace corvane {

namespace {

// The mean light per sky pixel left after the whole level is taken off: the
// part of a normal sky above it. A sky clipped at the camera's black level
// reads as a level with noise 0; what is left of it is then the level's
// fraction above the whole step, whatever the clipped noise held.
double skyLeft(const SkyEstimate& sky) {
    const double mu = sky.level - sky.wholeLevel();
    if (sky.noise <= 0)
        return std::max(0.0, mu);
    const double z = mu / sky.noise;
    const double density = std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI);
    const double below = 0.5 * std::erfc(-z / std::sqrt(2.0));
    return sky.noise * density + mu * below;
}

// The doubt a fitting method's result deserves from the pair's images as
// the selection fitted them, or as the run's frames did: too close, or too
// narrow in pixels, for the fit's model to follow them. None when the
// method is sure of them. The selection's one fit of a faint speckled pair
// can take a grain of an image for the star: it found 1.5-width pairs with
// a primary of 30 steps 3.5 widths apart or more in 4 runs of 30, which
// then read up to 1.6 % short without a word.
std::optional<std::string> fitModelWarning(const WorkingState& ws, Method method, char sep) {
    if (method != Method::TemplateFit && method != Method::PsfFit)
        return std::nullopt;
    double apartPx = ws.SelectionSeparationPx, widthPx = ws.SelectionFwhmPx;
    const bool selectionClose = selectionCloseForFits(ws);
    bool close = selectionClose;
    if (!close) {
        const FittedImages run = fittedImages(ws.FrameData);
        close = ws.RunImagesClose || run.close();
        if (run.fwhmPx > 0) {
            apartPx = run.separationPx;
            widthPx = run.fwhmPx;
        }
    }
    // Template Fit fits the pair with PSF Fit's profiles where the selection
    // or the run's first frames found the images close; where only the whole
    // run's frames did, it fitted its copy of the primary, which at such
    // closeness holds part of the secondary's light and reads long.
    const bool ownCopy = method == Method::TemplateFit && !imagesCloseForFits(ws);
    const std::string better = ownCopy ? "PSF Fit" : betterMethodFor(method, true);
    if (close)
        return "The stars lie only " + formatRounded(apartPx, 1, sep) + " pixels apart, " +
               formatRounded(apartPx / widthPx, 1, sep) +
               " times the width of a star's image in a frame: " +
               (ownCopy ? "Template Fit's copy of the primary held part of the secondary's "
                          "light, and the separation may read several per cent long and the "
                          "delta-magnitude a tenth of a magnitude off or more."
                : method == Method::TemplateFit
                    ? "Template Fit's copy of the primary would keep part of the secondary's "
                      "light, so both stars were fitted with one profile, as PSF Fit fits "
                      "them; the profile follows such close images' wings only roughly, the "
                      "separation may read a per cent off, and the light of each star's "
                      "circle holds the other's: the delta-magnitude may read a tenth of a "
                      "magnitude off." +
                          std::string(selectionClose
                                          ? ""
                                          : " The first frames, fitted with the copy before "
                                            "they showed the images this close, are left out.")
                    : "PSF Fit's profile follows such close images' wings only roughly, the "
                      "separation may read a per cent off, and the light of each star's circle "
                      "holds the other's: the delta-magnitude may read a tenth of a magnitude "
                      "off.") +
               " Use " + better + " instead.";
    if (method == Method::TemplateFit && ws.SelectionFwhmPx > 0 &&
        ws.SelectionFwhmPx < kTemplateFitMinFwhmPx)
        return "The stars' images are only " + formatRounded(ws.SelectionFwhmPx, 1, sep) +
               " pixels wide: Template Fit shifts the primary's image by fractions of a pixel "
               "that it does not resolve, and the separation may read long. Use " +
               better + " instead.";
    return std::nullopt;
}

// The fits have no offset test: the secondary a fit finds in most frames
// should still lie where the user clicked it. When the median offset strays
// from the clicks' by more than half the separation (and more than a click
// may miss by), the fit took other light, the primary's core or halo, for
// the secondary.
constexpr double kClickMissPx = 3;

std::optional<std::string> lostSecondaryWarning(const WorkingState& ws, Method method, char sep) {
    if (std::isfinite(methodEntry(method).acceptanceLimit) || ws.OneStar)
        return std::nullopt;
    std::vector<double> dx, dy;
    for (const FrameRow& r : ws.FrameData)
        if (r.Valid) {
            dx.push_back(static_cast<double>(r.SecondaryX) - r.PrimaryX);
            dy.push_back(static_cast<double>(r.SecondaryY) - r.PrimaryY);
        }
    if (dx.empty())
        return std::nullopt;
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double mx = median(dx), my = median(dy);
    const double cx = ws.SecondaryClickDX - ws.PrimaryClickDX;
    const double cy = (ws.SecondaryClickDY - ws.PrimaryClickDY) * static_cast<double>(ws.YScale);
    const double clicked = std::hypot(cx, cy);
    if (std::hypot(mx - cx, my - cy) <= std::max(0.5 * clicked, kClickMissPx))
        return std::nullopt;
    const char* better = betterMethodFor(method, false);
    return "In most frames the fit put the secondary " + formatRounded(std::hypot(mx, my), 1, sep) +
           " pixels from the primary, where it was clicked " + formatRounded(clicked, 1, sep) +
           " pixels away: the fit took other light for the secondary, and the separation is "
           "wrong. " +
           (better ? std::string("Use ") + better + "."
                   : "Select the pair again on a steady frame.");
}

// A companion this much fainter than the primary lies in the primary's halo,
// which pulls Weighted Average's centroid of it towards the primary. One
// frame's fit reads such a companion's light high (the halo's counts in), a
// 3-magnitude companion once as 2.5 magnitudes in eight runs: the ratio is
// the run's (fits of frames spread over it) where it could be read.
constexpr double kFaintCompanionRatio = 0.125; // 2.25 magnitudes

std::optional<std::string> faintCompanionWarning(const WorkingState& ws, double runFluxRatio,
                                                 Method method, char sep) {
    const double ratio = runFluxRatio > 0 ? runFluxRatio : ws.SelectionFluxRatio;
    if (method != Method::WeightedAverage || !(ratio > 0) || ratio >= kFaintCompanionRatio)
        return std::nullopt;
    return "The secondary is about " + formatRounded(-2.5 * std::log10(ratio), 1, sep) +
           " magnitudes fainter than the primary: the primary's light pulls Weighted Average's "
           "centroid of it, and the separation and the position angle may be biased. Use "
           "Template Fit.";
}

// Through the air a frame's separation scatters by a few per cent of it,
// and a close pair's angle by a few degrees. A scatter of a quarter of the
// separation, along it or across it, is no seeing: in many frames the
// method followed other light than the secondary.
constexpr double kDoubtfulScatterShare = 0.25;

std::optional<std::string> scatterWarning(const ReductionResult& r, Method method,
                                          const WorkingState& ws, char sep) {
    if (r.reached < ReductionStage::Separation || ws.OneStar)
        return std::nullopt;
    const ReductionStatistics& s = r.statistics;
    const double sepPx = static_cast<double>(r.separation.separation) * r.separation.pixelScale;
    const double across = sepPx * s.screenAngle.sd * M_PI / 180.0;
    if (!(sepPx > 0) || std::max(s.separationPx.sd, across) < kDoubtfulScatterShare * sepPx)
        return std::nullopt;
    const char* cause =
        method == Method::PsfFit
            ? "PSF Fit took the primary, or its halo, for the secondary in many frames"
        : method == Method::TemplateFit
            ? "Template Fit matched the primary's copy to other light in many frames"
            : "the secondary's centre was taken from other light (the primary's halo, the "
              "sky's noise) in many frames";
    const char* better = betterMethodFor(method, imagesCloseForFits(ws));
    return "From frame to frame the separation scatters by " +
           formatRounded(s.separationPx.sd, 1, sep) + " pixels and the screen angle by " +
           formatRounded(s.screenAngle.sd, 1, sep) + " degrees, on a separation of " +
           formatRounded(sepPx, 1, sep) + " pixels: " + cause +
           ", and the separation and the position angle are doubtful. " +
           (better ? std::string("Use ") + better + "."
                   : "Select the pair again on a steady frame.");
}

// The fits give each frame the secondary's light over the primary's. A
// "secondary" clearly the brighter in many frames is the primary: the fit
// swapped the stars there (or the clicks did, in every frame), and the
// frames mix the pair's two ends.
constexpr double kSwappedRatio = 1.5;
constexpr double kSwappedShare = 0.1;

std::optional<std::string> swappedStarsWarning(const WorkingState& ws, Method method) {
    int32_t rated = 0, brighter = 0;
    for (const FrameRow& row : ws.FrameData)
        if (row.Valid && std::isfinite(row.FluxRatio)) {
            ++rated;
            brighter += row.FluxRatio > kSwappedRatio;
        }
    if (brighter == 0 || brighter < kSwappedShare * rated)
        return std::nullopt;
    // In most frames it is the clicks that named the fainter star the primary.
    if (2 * brighter > rated)
        return "In " + std::to_string(brighter) + " of " + std::to_string(rated) +
               " frames the fit found the secondary brighter than the primary: click the "
               "brighter star as the primary, so that the position angle points from it to "
               "its companion.";
    const char* better = betterMethodFor(method, imagesCloseForFits(ws));
    return "In " + std::to_string(brighter) + " of " + std::to_string(rated) +
           " frames the fit found the secondary brighter than the primary: it swapped the stars "
           "there, and the separation and the position angle mix the pair's two ends. " +
           (better ? std::string("Use ") + better + "."
                   : "Select the pair again on a steady frame.");
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

namespace {

// Why a measured frame was rejected: the row's own reason, or what the
// stars' statuses tell.
enum class Rejection {
    SecondaryFaint,
    PrimaryFaint,
    Merged,
    OffFrame,
    Offset,
    Repeat,
    NotConverged,
    OffTrack,
    Saturated,
    Refused,
    Count
};

// A star lost counts before the row's own reason: the end position shows
// the last frame again, a repeat, whatever became of its stars.
Rejection rejectionOf(const FrameRow& r) {
    if (r.PrimaryStatus == StarStatus::TooFaint)
        return Rejection::PrimaryFaint;
    if (r.SecondaryStatus == StarStatus::TooFaint)
        return Rejection::SecondaryFaint;
    if (r.PrimaryStatus == StarStatus::Merged || r.SecondaryStatus == StarStatus::Merged)
        return Rejection::Merged;
    if (r.PrimaryStatus == StarStatus::OffFrame || r.SecondaryStatus == StarStatus::OffFrame)
        return Rejection::OffFrame;
    switch (r.Rejection) {
    case RowRejection::Repeat:
        return Rejection::Repeat;
    case RowRejection::NotConverged:
        return Rejection::NotConverged;
    case RowRejection::OffTrack:
        return Rejection::OffTrack;
    case RowRejection::Saturated:
        return Rejection::Saturated;
    case RowRejection::Refused:
        return Rejection::Refused;
    case RowRejection::Offset:
    case RowRejection::None:
        break;
    }
    return Rejection::Offset;
}

// The other methods, as the window names them: "Weighted Average or PSF Fit".
std::string otherMethods(Method method) {
    std::string out;
    std::size_t named = 0;
    const std::size_t others = methodCount() - 1;
    for (std::size_t i = 0; i < methodCount(); ++i) {
        const MethodEntry& e = methodEntries()[i];
        if (e.method == method)
            continue;
        if (named > 0)
            out += named + 1 == others ? " or " : ", ";
        out += e.caption;
        ++named;
    }
    return out;
}

// Whether the frame's own measurement rejects the row, rather than the
// user's "Active" box.
bool rejectedByMeasurement(const FrameRow& r, const WorkingState& ws, Method method) {
    FrameTable alone{r};
    alone[0].Valid = true;
    applyAcceptance(alone, 0, ws.ExpectedDX, ws.ExpectedDY, methodEntry(method).acceptanceLimit);
    return !alone[0].Valid;
}

using Counts = std::array<int32_t, static_cast<std::size_t>(Rejection::Count)>;

// The rejected frames by reason; those the user unticked are none of them.
Counts countRejections(const WorkingState& ws, Method method) {
    Counts counts{};
    const FrameTable& table = ws.FrameData;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const FrameRow& r = table[i];
        if (isMeasuredRow(table, i) && !r.Valid &&
            (r.Rejection != RowRejection::None || rejectedByMeasurement(r, ws, method)))
            ++counts[static_cast<std::size_t>(rejectionOf(r))];
    }
    return counts;
}

// What a reason means, as the no-result text names it: "the secondary was
// too faint".
const char* reasonText(Rejection reason) {
    switch (reason) {
    case Rejection::SecondaryFaint:
        return "the secondary was too faint";
    case Rejection::PrimaryFaint:
        return "the primary was too faint";
    case Rejection::Merged:
        return "the two stars' images merged";
    case Rejection::OffFrame:
        return "a star was off the frame";
    case Rejection::NotConverged:
        return "the fit did not converge";
    case Rejection::OffTrack:
        return "the secondary lay far off its track";
    case Rejection::Saturated:
        return "a star's image reached the white level and the fit refused the frame";
    case Rejection::Refused:
        return "the fit refused its answer (a star left its box or its light was not clearly "
               "above the sky)";
    case Rejection::Repeat:
    case Rejection::Offset:
    case Rejection::Count:
        break;
    }
    return "the secondary was not where the selection puts it";
}

// What to try against a reason.
std::string adviceFor(Rejection reason, Method method) {
    const std::string fainter = "try " + otherMethods(method) + ", or a larger box";
    switch (reason) {
    case Rejection::SecondaryFaint:
    case Rejection::PrimaryFaint:
        return fainter;
    case Rejection::Merged:
        return methodEntry(method).mergedAdvice;
    case Rejection::OffFrame:
        return "measure only the frames where both stars are in it";
    case Rejection::NotConverged:
    case Rejection::Refused:
        return "try " + otherMethods(method);
    case Rejection::Saturated:
        return "record with a shorter exposure or a lower gain, or try " + otherMethods(method);
    case Rejection::OffTrack:
        return "select the pair again on a steady frame, or try " + otherMethods(method);
    default:
        return "select the pair again on a steady frame, or try a larger box";
    }
}

// Every reason among the rejected frames with its count, the commonest
// first with what to try: "the secondary was too faint in 284 of 300
// frames: try ...; also: the fit did not converge in 16".
std::string rejectionReasons(const WorkingState& ws, int32_t measured, Method method) {
    Counts counts = countRejections(ws, method);
    // A repeat holds no measurement to go wrong, and the last frame always
    // repeats: it names no fault of the measuring.
    counts[static_cast<std::size_t>(Rejection::Repeat)] = 0;
    std::vector<Rejection> order;
    for (std::size_t i = 0; i < counts.size(); ++i)
        if (counts[i] > 0)
            order.push_back(static_cast<Rejection>(i));
    if (order.empty())
        return std::string();
    std::stable_sort(order.begin(), order.end(), [&counts](Rejection a, Rejection b) {
        return counts[static_cast<std::size_t>(a)] > counts[static_cast<std::size_t>(b)];
    });
    const auto count = [&counts](Rejection r) {
        return std::to_string(counts[static_cast<std::size_t>(r)]);
    };
    std::string text = std::string(reasonText(order[0])) + " in " + count(order[0]) + " of " +
                       std::to_string(measured) + " frames: " + adviceFor(order[0], method);
    for (std::size_t i = 1; i < order.size(); ++i)
        text += std::string(i == 1 ? "; also: " : "; ") + reasonText(order[i]) + " in " +
                count(order[i]);
    return text;
}

} // namespace

RejectionCounts MeasuringSession::rejectionCounts(Method method) const {
    const Counts c = countRejections(state_, method);
    const auto at = [&c](Rejection r) { return c[static_cast<std::size_t>(r)]; };
    RejectionCounts out;
    out.tooFaint = at(Rejection::PrimaryFaint) + at(Rejection::SecondaryFaint);
    out.merged = at(Rejection::Merged);
    out.offFrame = at(Rejection::OffFrame);
    out.offset = at(Rejection::Offset);
    out.repeat = at(Rejection::Repeat);
    out.notConverged = at(Rejection::NotConverged);
    out.offTrack = at(Rejection::OffTrack);
    out.saturated = at(Rejection::Saturated);
    out.refused = at(Rejection::Refused);
    return out;
}

std::string MeasuringSession::noResultText(Method method) const {
    const int32_t accepted = acceptedFrames();
    if (accepted >= MinValidRows)
        return std::string();
    const int32_t measured = measuredFrames();
    if (measured == 0)
        return "No frame was measured";
    std::string text = "Only " + std::to_string(accepted) + " of " + std::to_string(measured) +
                       " frames were accepted; at least " + std::to_string(MinValidRows) +
                       " are needed";
    const std::string why = rejectionReasons(state_, measured, method);
    if (!why.empty())
        text += ": " + why;
    return text;
}

int32_t MeasuringSession::rejectOutliers(double sigma) {
    const ClipResult clipped =
        withRefusalText([&] { return clipOutliers(pairPositions(state_.FrameData), sigma); });
    for (std::size_t i = 0; i < state_.FrameData.size(); ++i) {
        FrameRow& row = state_.FrameData[i];
        if (row.Valid && !clipped.table[i].Valid)
            clippedFrames_.push_back(static_cast<int32_t>(i));
        row.Valid = clipped.table[i].Valid;
    }
    return clipped.removed;
}

std::vector<std::string> MeasuringSession::warnings(const ReductionResult& r, Method method,
                                                    char sep) const {
    // What the reader worked around in the file comes first: the numbers
    // rest on it (a start time taken from elsewhere, rows read one way up).
    std::vector<std::string> out;
    if (const FrameSource* source = player_.Source())
        out = source->warnings();
    if (r.reached >= ReductionStage::Separation)
        for (std::string& w : reductionWarnings(r.statistics, measuredFrames(), sep))
            out.push_back(std::move(w));
    // Frames the fit could not answer for or placed off the track: the
    // result rests on the others, and many such frames make it doubtful.
    const RejectionCounts rejected = rejectionCounts(method);
    const int32_t unsound =
        rejected.notConverged + rejected.offTrack + rejected.saturated + rejected.refused;
    const int32_t measured = measuredFrames();
    if (unsound > 0 && unsound >= kUnsoundFitShare * measured) {
        std::string text = std::to_string(unsound) + " of " + std::to_string(measured) +
                           " frames were rejected: the fit did not converge in " +
                           std::to_string(rejected.notConverged) +
                           ", the secondary lay off its track in " +
                           std::to_string(rejected.offTrack);
        if (rejected.saturated > 0)
            text +=
                ", a star's image reached the white level in " + std::to_string(rejected.saturated);
        if (rejected.refused > 0)
            text += ", the fit refused its answer in " + std::to_string(rejected.refused);
        out.push_back(text + ". Try " + otherMethods(method) + ".");
    }
    // A pair whose images overlap, measured by a method that cannot part them.
    if (const char* overlap = overlapWarning(state_, method))
        out.push_back(overlap);
    if (std::optional<std::string> w = fitModelWarning(state_, method, sep))
        out.push_back(std::move(*w));
    if (std::optional<std::string> w = lostSecondaryWarning(state_, method, sep))
        out.push_back(std::move(*w));
    if (std::optional<std::string> w = faintCompanionWarning(state_, runFluxRatio_, method, sep))
        out.push_back(std::move(*w));
    if (std::optional<std::string> w = scatterWarning(r, method, state_, sep))
        out.push_back(std::move(*w));
    if (std::optional<std::string> w = swappedStarsWarning(state_, method))
        out.push_back(std::move(*w));
    // The sky around the system box on the frame on screen, the last one measured.
    const TStarbox& sys = state_.SystemBox;
    if (sys.Right > sys.Left && sys.Bottom > sys.Top) {
        const IntensityPlane& plane = player_.Intensities();
        const SkyEstimate sky =
            estimateSky(viewOf(plane), sys.Left, sys.Top, sys.Right, sys.Bottom);
        // The tolerance is in steps of an 8-bit frame; deeper data bear the
        // same share of their white level, as the methods' thresholds do.
        const std::optional<double>& tolerance = methodEntry(method).skyTolerance;
        const double white = plane.whiteLevel();
        if (tolerance && sky.status == SkyStatus::Measured &&
            skyLeft(sky) > *tolerance * white / IntensityPlane::kWhiteLevel8)
            out.push_back("The sky around the stars is " + formatRounded(sky.level, 1, sep) +
                          " intensity steps bright with a noise of " +
                          formatRounded(sky.noise, 1, sep) + ": " + methodEntry(method).caption +
                          " counts the noise above the sky as starlight, so the separation and "
                          "the position angle may be biased.");
    }
    return out;
}

std::string resultsCsvRow(const std::string& recordDate, const PairTexts& pair,
                          const MeasuredTexts& measured, const FrameTable& table,
                          const ReductionResult& r, Method method, int32_t clipped,
                          const std::string& videoPath, const Calibration* calibration,
                          const ArtificialStarResult* artificialStars, bool biasCorrected) {
    ResultsCsvFields f;
    f.line = resultsFields(recordDate, pair, measured, CountValidRows(table));
    // Numbers a program reads: always with a point.
    constexpr char kPoint = '.';
    if (r.reached >= ReductionStage::Separation) {
        const ReductionStatistics& s = r.statistics;
        const ErrorTexts e = errorTexts(r, kPoint);
        f.separationStderr = e.separation;
        f.positionAngleStderr = e.positionAngle;
        f.pixelScale = formatRounded(r.separation.pixelScale, 4, kPoint);
        f.pixelScaleStderr = errorText(s.pixelScaleStderr, 4, kPoint);
        f.driftAngleStderr = errorText(s.driftAngleStderr, 2, kPoint);
        f.sepPxSd = errorText(s.separationPx.sd, 2, kPoint);
        f.screenAngleSd = errorText(s.screenAngle.sd, 2, kPoint);
        f.framesEffective = effectiveFramesText(s, kPoint);
        if (artificialStars) {
            const ArtificialStarResult& a = *artificialStars;
            f.artificialSepBias = formatRounded(a.sepBias, 3, kPoint);
            f.artificialSepBiasStderr = errorText(a.sepBiasStderr, 3, kPoint);
            f.artificialPaBias = formatRounded(a.paBias, 2, kPoint);
            f.artificialPaBiasStderr = errorText(a.paBiasStderr, 2, kPoint);
            f.artificialCopies = std::to_string(a.copies);
        }
        f.biasCorrected = biasCorrected ? "yes" : "no";
        if (std::isfinite(s.deltaMag)) {
            f.deltaMag = formatRounded(s.deltaMag, 2, kPoint);
            f.deltaMagStderr = errorText(s.deltaMagStderr, 2, kPoint);
        }
    }
    f.framesMeasured = CountMeasuredRows(table);
    f.framesAccepted = CountValidRows(table);
    f.framesClipped = clipped;
    f.method = methodEntry(method).caption;
    f.video = fileNameOf(videoPath);
    const FrameRow* first = nullptr;
    const FrameRow* last = nullptr;
    for (const FrameRow& row : table)
        if (row.Valid) {
            if (!first)
                first = &row;
            last = &row;
        }
    if (first) {
        f.timeFrom = formatRounded(first->TimeUs / 1e6L, 3, kPoint);
        f.timeTo = formatRounded(last->TimeUs / 1e6L, 3, kPoint);
    }
    f.calibration = calibration ? calibrationText(*calibration) : "drift";
    f.julianDate = measured.julianDate;
    // The names corvane-measure's --orientation takes.
    f.orientation = r.orientation == Orientation::UprightReverted ? "mirrored" : "correct";
    bool anyMeasured = false;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!isMeasuredRow(table, i))
            continue;
        if (!anyMeasured)
            f.frameFrom = static_cast<int32_t>(i);
        f.frameTo = static_cast<int32_t>(i);
        anyMeasured = true;
    }
    return buildResultsCsvRow(f);
}

namespace {

std::string joinedNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

} // namespace

std::vector<std::string> saveNotices(const PairTexts& pair, const std::string& videoPath) {
    const ResultsFields typed = resultsFields(std::string(), pair, MeasuredTexts(), 0);
    std::vector<std::string> notices;
    const std::vector<std::string> breaks = typedFieldsWithBreaks(typed);
    if (!breaks.empty())
        notices.push_back("Tabs and line breaks in the " + joinedNames(breaks) +
                          " become spaces in results.txt.");
    const std::vector<std::string> notText = fieldsNotUtf8(typed, fileNameOf(videoPath));
    if (!notText.empty())
        notices.push_back("Bytes that are not UTF-8 text in the " + joinedNames(notText) +
                          " become U+FFFD in results.csv.");
    return notices;
}

std::vector<std::string> placeholderNotices(const PairTexts& pair, bool declinationGiven) {
    std::vector<std::string> notices;
    const bool blank = pair.designation.find_first_not_of(" \t\n\r\v\f") == std::string::npos;
    if (pair.designation == "(Star Designation)" || blank)
        notices.push_back("the Designation reads \"" + pair.designation + "\"");
    if (pair.raHours == "HH" || pair.raMinutes == "MM" || pair.raSeconds == "SS")
        notices.push_back("the RA reads \"" + pair.raHours + " " + pair.raMinutes + " " +
                          pair.raSeconds + "\"");
    if (!declinationGiven)
        notices.push_back("the Dec was not typed for this video");
    return notices;
}

std::string calibrationText(const Calibration& c) {
    constexpr char kPoint = '.';
    return "calibration from " + c.source + " (" + c.observedUtc + ", dec " +
           formatRounded(c.dec, 2, kPoint) + ", " + std::to_string(c.framesAccepted) +
           " frames): " + formatRounded(c.pixelsPerArcsec, 4, kPoint) + " ± " +
           errorText(c.pixelsPerArcsecStderr, 4, kPoint) + " px/arcsec, drift " +
           formatRounded(c.driftAngle, 2, kPoint) + " ± " +
           errorText(c.driftAngleStderr, 2, kPoint) + " deg";
}

std::string MeasuringSession::resultsCsvRow(const std::string& recordDate, const PairTexts& pair,
                                            const MeasuredTexts& measured, const ReductionResult& r,
                                            Method method, int32_t clipped) const {
    return corvane::resultsCsvRow(recordDate, pair, measured, state_.FrameData, r, method, clipped,
                                  player_.FileName(), calibration_ ? &*calibration_ : nullptr,
                                  artificialStars_ ? &*artificialStars_ : nullptr);
}

void MeasuringSession::saveResults(const std::string& path, const std::string& line,
                                   const std::string& csvRow) {
    saveResultsRecord(path, line, csvRow);
}

std::string julianDateText(const EpochResult& epoch) {
    return formatRounded(epoch.julianDate, 5, '.');
}

std::string errorText(double error, int decimals, char sep) {
    if (!std::isfinite(error) || error < 0)
        return std::string();
    int d = decimals;
    while (d < 6 && std::nearbyint(error * std::pow(10.0, d)) == 0.0 && error > 0)
        ++d;
    return formatRounded(error, d, sep);
}

std::string effectiveFramesText(const ReductionStatistics& s, char sep) {
    return formatRounded(s.framesEffective, 0, sep);
}

std::string deltaMagText(const ReductionStatistics& s, char sep) {
    if (!std::isfinite(s.deltaMag))
        return std::string();
    return formatRounded(s.deltaMag, 2, sep) + " ± " + errorText(s.deltaMagStderr, 2, sep);
}

ErrorTexts errorTexts(const ReductionResult& r, char sep) {
    ErrorTexts e;
    if (r.reached < ReductionStage::Separation)
        return e;
    // The separation and the position angle are shown with 2 decimals.
    e.separation = errorText(r.statistics.separationStderr, 2, sep);
    e.positionAngle = errorText(r.statistics.positionAngleStderr, 2, sep);
    return e;
}

} // namespace corvane
