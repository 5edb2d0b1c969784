#include "session/ReductionMessages.h"

#include "common/NumberText.h"
#include "reduce/Clipping.h"
#include "reduce/Reduction.h"

#include <string>
#include <vector>

namespace corvane {

namespace {

std::string percent(double fraction, char sep) {
    return formatRounded(100.0L * fraction, 1, sep) + " %";
}

} // namespace

std::string refusalText(const Refusal& r) {
    const std::string value = formatGeneral(r.value);
    switch (r.reason) {
    case RefusalReason::DeclinationBeyondRange:
        return "The declination " + value + " is not between -90 and +90 degrees.";
    case RefusalReason::DeclinationAtPole:
        return "The declination " + value +
               " is not between -90 and +90 degrees; at the pole the stars do not drift.";
    case RefusalReason::DriftTooSlow:
        return "At this declination the stars drift too slowly to give a pixel scale (" + value +
               " pixels per arc-second). Near the pole, measure with a calibration.";
    case RefusalReason::ScaleBelowLowest:
        return "The drift gives a pixel scale of " + value + " pixels per arc-second, below " +
               formatGeneral(kMinPixelsPerArcsec) + ". Check the frame times and the declination.";
    case RefusalReason::ClipLimitTooSmall:
        return "The outlier limit " + value +
               " is not a number of standard deviations of at least " +
               formatGeneral(kMinClipSigma) + ".";
    case RefusalReason::None:
        break;
    }
    return "";
}

void writeRefusalText(ReductionResult& result) {
    if (result.refusal.reason != RefusalReason::None)
        result.error = refusalText(result.refusal);
}

std::string doubtText(const ReductionDoubt& d, char sep) {
    switch (d.kind) {
    case DoubtKind::FewFramesAccepted:
        return "Only " + std::to_string(d.accepted) + " of " + std::to_string(d.measured) +
               " measured frames were accepted, fewer than a quarter: the result rests on a few "
               "frames that may not be typical of the video.";
    case DoubtKind::TrackStrays:
        return "The primary star's track strays from a steady straight drift by " +
               (d.value > 0.0 ? formatRounded(d.value, 1, sep) + " times" : "far more than") +
               " its scatter from frame to frame: the pixel scale and the drift direction may "
               "be wrong.";
    case DoubtKind::ScaleUncertain:
        return "The pixel scale's standard error is " + percent(d.value, sep) + ", more than " +
               percent(kMaxScaleRelativeStderr, sep) +
               ": the separation is no more certain than that.";
    }
    return "";
}

std::vector<std::string> reductionWarnings(const ReductionStatistics& stats, int32_t framesMeasured,
                                           char sep) {
    std::vector<std::string> out;
    for (const ReductionDoubt& d : reductionDoubts(stats, framesMeasured))
        out.push_back(doubtText(d, sep));
    return out;
}

std::string calibrationDisagreementWarning(const CalibrationAgreement& a, char sep) {
    return "The calibrations disagree by more than their errors allow (chi-square " +
           formatRounded(a.chiSquare, 1, sep) + " for " + std::to_string(a.degreesOfFreedom) +
           " degrees of freedom, more than " + formatRounded(a.limit, 1, sep) +
           "): check that they come from the same camera, focus and rotation.";
}

} // namespace corvane
