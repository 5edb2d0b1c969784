// The steps after a run, shared by the window and corvane-measure.
#include "session/MeasuringSession.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/Methods.h"

#include <cmath>

namespace corvane {

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
