#include "reduce/Calibration.h"

#include "common/Angles.h"
#include "common/Error.h"
#include "reduce/ReductionSteps.h"
#include "reduce/Refusal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

namespace {

// The upper quantile of the chi-square distribution with `dof` degrees of
// freedom at the given tail probability, by the Wilson-Hilferty cube-root
// normal approximation (within 1 % of the exact value from 1 degree of
// freedom up at the 1 % tail).
double chiSquareLimit(int32_t dof) {
    // Standard normal quantile of 1 - kCalibrationFalseAlarm (0.99).
    constexpr double kNormalQuantile = 2.3263478740408408;
    static_assert(kCalibrationFalseAlarm == 0.01, "kNormalQuantile belongs to the 1 % tail");
    const double k = dof;
    const double c = 1.0 - 2.0 / (9.0 * k) + kNormalQuantile * std::sqrt(2.0 / (9.0 * k));
    return k * c * c * c;
}

void requireError(const Calibration& c, double stderrValue, const char* what) {
    if (!(stderrValue > 0.0))
        throw Error("The calibration from " + c.source + " has no standard error of its " + what +
                    ", so it cannot be weighed against the others.");
}

} // namespace

Calibration calibrationFrom(const ReductionResult& result, double dec,
                            const std::string& observedUtc, const std::string& source) {
    if (result.reached != ReductionStage::Separation || !result.statistics.driftMeasured)
        throw Error("There is no drift measurement to make a calibration from: reduce a drift "
                    "video first.");
    if (!(std::fabs(dec) <= 90.0))
        throw RefusalError({RefusalReason::DeclinationBeyondRange, dec});
    Calibration c;
    c.pixelsPerArcsec = result.separation.pixelScale;
    c.pixelsPerArcsecStderr = result.statistics.pixelScaleStderr;
    c.driftAngle = result.regression.driftAngle;
    c.driftAngleStderr = result.statistics.driftAngleStderr;
    c.dec = dec;
    c.observedUtc = observedUtc;
    c.source = source;
    c.framesAccepted = result.statistics.framesAccepted;
    return c;
}

Calibration calibrationFromDrift(const PairPositions& table, double dec,
                                 const std::string& observedUtc, const std::string& source) {
    if (!(std::fabs(dec) < 90.0))
        throw RefusalError({RefusalReason::DeclinationAtPole, dec});
    const std::vector<const PairPosition*> rows = detail::checkedValidRows(table);
    detail::checkPrimaryDrift(rows);
    const long double magnitude = std::fabs(static_cast<long double>(dec));
    Calibration c;
    c.pixelsPerArcsec = detail::primaryPixelScale(rows, magnitude);
    c.pixelsPerArcsecStderr = detail::pixelScaleStderr(rows, magnitude);
    c.driftAngle = detail::primaryDriftAngle(rows);
    c.driftAngleStderr = detail::driftAngleStderr(rows);
    c.dec = dec;
    c.observedUtc = observedUtc;
    c.source = source;
    c.framesAccepted = static_cast<int32_t>(rows.size());
    return c;
}

ReductionResult reduceWithCalibration(const PairPositions& table, const Calibration& calibration,
                                      Orientation orientation) {
    ReductionResult out;
    out.calibrated = true;
    try {
        if (!(calibration.pixelsPerArcsec > 0.0) || !std::isfinite(calibration.pixelsPerArcsec) ||
            !std::isfinite(calibration.driftAngle))
            throw Error("The calibration from " + calibration.source +
                        " holds no usable pixel scale and drift direction.");
        const std::vector<const PairPosition*> rows = detail::checkedValidRows(table);
        out.averages = averages(table);
        out.reached = ReductionStage::Averages;

        RegressionResult& g = out.regression;
        g.driftAngle = static_cast<float>(wrapDriftDegrees(calibration.driftAngle));
        g.positionAngle = detail::positionAngleFrom(
            out.averages.meanAngle, wrapDriftDegrees(calibration.driftAngle), orientation);
        out.reached = ReductionStage::Regression;

        SeparationResult& s = out.separation;
        s.pixelScale = static_cast<float>(calibration.pixelsPerArcsec);
        s.separation = detail::meanSeparationArcsec(rows, s.pixelScale);
        out.statistics = calibratedStatistics(table, out, calibration.pixelsPerArcsecStderr,
                                              calibration.driftAngleStderr);
        detail::requireFiniteResult(out);
        out.reached = ReductionStage::Separation;
    } catch (const Error& e) {
        out.error = e.what();
    }
    return out;
}

CombinedCalibration combineCalibrations(const std::vector<Calibration>& calibrations) {
    if (calibrations.empty())
        throw Error("No calibration was given.");
    CombinedCalibration out;
    out.calibration = calibrations.front();
    if (calibrations.size() == 1)
        return out;
    for (const Calibration& c : calibrations) {
        requireError(c, c.pixelsPerArcsecStderr, "pixel scale");
        requireError(c, c.driftAngleStderr, "drift direction");
    }

    // Weighted mean of the scales.
    double ws = 0, wsx = 0;
    // The directions are unwrapped around their weighted mean direction
    // first, so that 359 and 1 average to 0, not 180.
    double wa = 0, wac = 0, was = 0;
    for (const Calibration& c : calibrations) {
        const double w = 1.0 / (c.pixelsPerArcsecStderr * c.pixelsPerArcsecStderr);
        ws += w;
        wsx += w * c.pixelsPerArcsec;
        const double v = 1.0 / (c.driftAngleStderr * c.driftAngleStderr);
        const double a = c.driftAngle * static_cast<double>(detail::kRadPerDeg);
        wa += v;
        wac += v * std::cos(a);
        was += v * std::sin(a);
    }
    const double scale = wsx / ws;
    const double reference = std::atan2(was, wac) * static_cast<double>(detail::kDegPerRad);
    std::vector<double> unwrapped;
    double wau = 0;
    for (const Calibration& c : calibrations) {
        const double u = reference + wrapDegrees180(c.driftAngle - reference);
        unwrapped.push_back(u);
        wau += u / (c.driftAngleStderr * c.driftAngleStderr);
    }
    const double angle = wau / wa;

    // The error-weighted spread about the means: a chi-square with one degree
    // of freedom per calibration beyond the first, for each of the two.
    double chi = 0;
    for (std::size_t i = 0; i < calibrations.size(); ++i) {
        const Calibration& c = calibrations[i];
        const double ds = (c.pixelsPerArcsec - scale) / c.pixelsPerArcsecStderr;
        const double da = (unwrapped[i] - angle) / c.driftAngleStderr;
        chi += ds * ds + da * da;
    }

    Calibration& m = out.calibration;
    m.pixelsPerArcsec = scale;
    m.pixelsPerArcsecStderr = 1.0 / std::sqrt(ws);
    m.driftAngle = wrapDriftDegrees(angle);
    m.driftAngleStderr = 1.0 / std::sqrt(wa);
    int64_t frames = 0;
    m.source.clear();
    for (const Calibration& c : calibrations) {
        frames += c.framesAccepted;
        m.source += (m.source.empty() ? "" : ", ") + c.source;
    }
    m.framesAccepted = static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX));
    out.agreement.chiSquare = chi;
    out.agreement.degreesOfFreedom = 2 * static_cast<int32_t>(calibrations.size() - 1);
    out.agreement.limit = chiSquareLimit(out.agreement.degreesOfFreedom);
    out.agreement.disagree = chi > out.agreement.limit;
    return out;
}

} // namespace corvane
