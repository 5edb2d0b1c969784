// The steps after a run, shared by the window and corvane-measure.
#include "session/MeasuringSession.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/Methods.h"
#include "measure/PsfFit.h"
#include "measure/SkyEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace corvane {

namespace {

// Frames fitted for the run's flux ratio, and the fewest fits it is read from.
constexpr std::size_t kRatioFrames = 15;
constexpr std::size_t kRatioMinFits = 5;

// The secondary's light over the primary's, the median of PSF fits of up
// to kRatioFrames accepted frames spread over the run, from where the run
// put the stars; 0 with fewer than kRatioMinFits fits. The selection's one
// fit reads a faint companion's light high now and then (the primary's
// halo counted in): a 3-magnitude companion read 2.25 magnitudes or less in
// one of eight runs, and Weighted Average's warning went missing.
double sampledFluxRatio(Player& player, const WorkingState& ws) {
    std::vector<std::size_t> accepted;
    for (std::size_t i = 0; i < ws.FrameData.size(); ++i)
        if (ws.FrameData[i].Valid)
            accepted.push_back(i);
    if (accepted.size() < kRatioMinFits)
        return 0;
    const std::size_t frames = std::min(kRatioFrames, accepted.size());
    const float yScale = ws.YScale > 0 ? ws.YScale : 1.0f;
    const int32_t half = ws.SystemBox.Size / 2;
    const int32_t before = player.CurrentPosition();
    PsfFit fitter;
    std::vector<double> ratios;
    for (std::size_t k = 0; k < frames; ++k) {
        const FrameRow& row = ws.FrameData[accepted[k * accepted.size() / frames]];
        player.ReadWholeFrame(row.FrameNo);
        PsfFitStart start;
        start.x = {static_cast<double>(row.PrimaryX), static_cast<double>(row.SecondaryX)};
        start.y = {row.PrimaryY / static_cast<double>(yScale),
                   row.SecondaryY / static_cast<double>(yScale)};
        const PsfFitResult fit =
            fitter.fit(viewOf(player.Intensities()), row.SystemX - half, row.SystemY - half,
                       row.SystemX + half, row.SystemY + half, start);
        if (fit.ok() && std::isfinite(fit.fluxRatio))
            ratios.push_back(fit.fluxRatio);
    }
    player.SeekTo(before);
    if (ratios.size() < kRatioMinFits)
        return 0;
    std::nth_element(ratios.begin(),
                     ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
    return ratios[ratios.size() / 2];
}

} // namespace

RunFinish MeasuringSession::finishRun(const ReductionSettings& settings) {
    RunFinish out;
    artificialStars_.reset();
    if (!calibration_)
        checkDeclination(settings.decDegrees, settings.decMinutes, settings.decSeconds,
                         settings.decimalSeparator);
    // A clipping belongs to the result it was made for: the frames it
    // rejected count again until this one has clipped anew.
    for (int32_t n : clippedFrames_)
        state_.FrameData[static_cast<std::size_t>(n)].Valid = true;
    clippedFrames_.clear();
    // The same for the track: judged anew on this table. Methods with an
    // offset test reject a secondary far from the selection's offset on
    // each frame; the fits have none, and the track stands in for it.
    acceptOffTrackAgain(state_.FrameData);
    if (!std::isfinite(methodEntry(settings.method).acceptanceLimit))
        out.offTrack = rejectOffTrack(state_.FrameData);
    // Only Weighted Average's warning of a faint companion reads it.
    runFluxRatio_ = settings.method == Method::WeightedAverage && player_.Source()
                        ? sampledFluxRatio(player_, state_)
                        : 0;
    if (!reductionDue()) {
        out.noResult = noResultText(settings.method);
        out.warnings = warnings(ReductionResult{}, settings.method, settings.decimalSeparator);
        return out;
    }
    if (settings.clipSigma)
        out.clipped = rejectOutliers(*settings.clipSigma);
    out.reduction = reduce(settings.orientation, settings.decDegrees, settings.decMinutes,
                           settings.decSeconds, settings.decimalSeparator);
    if (!out.reduction->error.empty())
        return out;
    out.warnings = warnings(*out.reduction, settings.method, settings.decimalSeparator);
    if (std::optional<std::string> w = calibratedDriftWarning(settings))
        out.warnings.push_back(*w);
    if (settings.artificialStars) {
        // Frames that cannot be read again leave the result without the
        // test rather than without its numbers.
        try {
            if (player_.Source())
                out.artificialStars = artificialStarTest(player_, state_.FrameData, state_,
                                                         settings.method, *out.reduction);
        } catch (const std::exception&) {
            out.artificialStars.reset();
        }
        artificialStars_ = out.artificialStars;
        if (out.artificialStars)
            for (std::string& w :
                 artificialStarWarnings(*out.artificialStars, *out.reduction, settings.method,
                                        settings.decimalSeparator, imagesCloseForFits(state_)))
                out.warnings.push_back(std::move(w));
    }
    return out;
}

std::optional<std::string>
MeasuringSession::calibratedDriftWarning(const ReductionSettings& settings) const {
    if (!calibration_)
        return std::nullopt;
    const FrameRow* first = nullptr;
    const FrameRow* last = nullptr;
    for (const FrameRow& r : state_.FrameData)
        if (r.Valid) {
            if (!first)
                first = &r;
            last = &r;
        }
    if (!first)
        return std::nullopt;
    const double moved =
        std::hypot(last->PrimaryX - first->PrimaryX, last->PrimaryY - first->PrimaryY);
    if (moved <= kCalibratedDriftLimitPx)
        return std::nullopt;
    const char sep = settings.decimalSeparator;
    std::string text = "The stars moved " + formatRounded(moved, 1, sep) +
                       " pixels during the run, though the calibration in use (" +
                       formatRounded(calibration_->pixelsPerArcsec, 4, sep) + " px/arcsec, from " +
                       calibration_->source + ") is meant for a tracked video. ";
    std::string ownScale;
    if (settings.declinationGiven) {
        try {
            checkDeclination(settings.decDegrees, settings.decMinutes, settings.decSeconds, sep);
            const ReductionResult own =
                corvane::reduce(pairPositions(state_.FrameData), settings.orientation,
                                declinationMagnitude(settings.decDegrees, settings.decMinutes,
                                                     settings.decSeconds, sep));
            if (own.error.empty())
                ownScale = reductionTexts(own, sep).pixelScale;
        } catch (const RequestError&) {
        } catch (const Error&) {
        }
    }
    if (!ownScale.empty())
        text += "Its own drift gives " + ownScale +
                " px/arcsec at the declination typed: if that is this camera's scale, stop "
                "using the calibration.";
    else
        text += "Type the declination to compare the scale of its own drift, or stop using "
                "the calibration.";
    return text;
}

} // namespace corvane
