#include "reduce/Statistics.h"

#include "common/NumberText.h"
#include "reduce/Reduction.h"
#include "reduce/ReductionSteps.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace corvane {

namespace {

Scatter scatterOf(const std::vector<long double>& values) {
    const long double n = static_cast<long double>(values.size());
    if (values.size() < 2)
        return {};
    long double mean = 0;
    for (const long double v : values)
        mean += v;
    mean /= n;
    long double squares = 0;
    for (const long double v : values)
        squares += (v - mean) * (v - mean);
    Scatter s;
    s.sd = static_cast<double>(std::sqrt(squares / (n - 1.0L)));
    s.stderrOfMean = static_cast<double>(s.sd / std::sqrt(n));
    return s;
}

// The accepted frames' own scatter: separation and screen angle.
ReductionStatistics frameStatistics(const std::vector<const PairPosition*>& rows) {
    ReductionStatistics s;
    s.framesAccepted = static_cast<int32_t>(rows.size());
    const long double axis = detail::screenAngleAxis(rows);
    std::vector<long double> seps, angles;
    for (const PairPosition* r : rows) {
        seps.push_back(r->SepPixels);
        angles.push_back(detail::nearAxis(r->ScreenAngle, axis));
    }
    s.separationPx = scatterOf(seps);
    s.screenAngle = scatterOf(angles);
    return s;
}

// The position angle is computed from the screen angle as shown, rounded to
// 0.01 degrees: a uniform error of that width, sd 0.01 / sqrt(12).
constexpr double kShownAngleRoundingSd = 0.0028867513459481287;

// The separation is the mean separation in pixels over the scale; the
// position angle the mean screen angle less the drift direction (a mirror
// only changes the sign). The errors of the frames, of the scale and of the
// drift direction are independent, so they add in quadrature.
void propagate(ReductionStatistics& s, double separationArcsec, double pixelScale) {
    s.pixelScaleRelativeStderr = s.pixelScaleStderr / pixelScale;
    const double fromFrames = s.separationPx.stderrOfMean / pixelScale;
    s.separationStderrFromScale = separationArcsec * s.pixelScaleRelativeStderr;
    s.separationStderr = std::hypot(fromFrames, s.separationStderrFromScale);
    s.positionAngleStderrFromDrift = s.driftAngleStderr;
    s.positionAngleStderr = std::sqrt(s.screenAngle.stderrOfMean * s.screenAngle.stderrOfMean +
                                      s.driftAngleStderr * s.driftAngleStderr +
                                      kShownAngleRoundingSd * kShownAngleRoundingSd);
}

// Median of |x| over the standard deviation for a normal variable.
constexpr long double kMedianPerSd = 0.6744897501960817L;

// The primary's positions around x = x0 + vx t, y = y0 + vy t (least squares
// in time), in the rows' order.
std::vector<DriftResidual> residualsOf(const std::vector<const PairPosition*>& rows) {
    const std::size_t n = rows.size();
    std::vector<DriftResidual> out;
    if (n == 0)
        return out;
    long double tm = 0, xm = 0, ym = 0;
    for (const PairPosition* r : rows) {
        tm += r->TimeMs;
        xm += r->PrimaryX;
        ym += r->PrimaryY;
    }
    tm /= static_cast<long double>(n);
    xm /= static_cast<long double>(n);
    ym /= static_cast<long double>(n);
    long double stt = 0, stx = 0, sty = 0;
    for (const PairPosition* r : rows) {
        const long double dt = r->TimeMs - tm;
        stt += dt * dt;
        stx += dt * (r->PrimaryX - xm);
        sty += dt * (r->PrimaryY - ym);
    }
    const long double vx = stt > 0.0L ? stx / stt : 0.0L;
    const long double vy = stt > 0.0L ? sty / stt : 0.0L;
    for (const PairPosition* r : rows) {
        const long double dt = r->TimeMs - tm;
        out.push_back({r->FrameNo, static_cast<double>((r->PrimaryX - xm) - vx * dt),
                       static_cast<double>((r->PrimaryY - ym) - vy * dt)});
    }
    return out;
}

// The rms residual of the primary's track and the frame-to-frame scatter, per axis.
void driftFit(const std::vector<const PairPosition*>& rows, ReductionStatistics& s) {
    const std::size_t n = rows.size();
    const std::vector<DriftResidual> residuals = residualsOf(rows);
    long double squares = 0, prevX = 0, prevY = 0;
    std::vector<long double> steps;
    for (std::size_t i = 0; i < n; ++i) {
        const long double rx = residuals[i].x;
        const long double ry = residuals[i].y;
        squares += rx * rx + ry * ry;
        if (i > 0) {
            steps.push_back(std::fabs(rx - prevX));
            steps.push_back(std::fabs(ry - prevY));
        }
        prevX = rx;
        prevY = ry;
    }
    // Two axes, each fitted line using two degrees of freedom.
    s.driftResidualPx =
        static_cast<double>(std::sqrt(squares / (2.0L * (static_cast<long double>(n) - 2.0L))));
    // The median of the successive differences, so that the few steps at a
    // jump do not raise the scatter they are compared with; a difference of
    // two independent normal residuals has sqrt(2) times their deviation, and
    // its median magnitude is 0.6745 times that.
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    s.driftFrameScatterPx = static_cast<double>(*middle / (kMedianPerSd * std::sqrt(2.0L)));
}

std::string percent(double fraction, char sep) {
    return formatRounded(100.0L * fraction, 1, sep) + " %";
}

} // namespace

// The pixel scale's standard error from the scatter of the pixel-scale pairs'
// own estimates. The scale is their mean, so their scatter over the square
// root of their number is the standard error of exactly that estimator, with
// the position and timing errors of the very frames it uses; the residuals of
// a drift fit would give the error of another estimator (one that weighs
// every frame), which the reduction does not use. With fewer than
// 2 x DriftPairCount accepted frames the pairs share frames, whose errors
// then partly cancel in the mean: the figure errs on the large side.
double detail::pixelScaleStderr(const std::vector<const PairPosition*>& rows,
                                long double declinationDeg) {
    const auto scales = detail::pairScales(rows, detail::driftRate(declinationDeg));
    return scatterOf(std::vector<long double>(scales.begin(), scales.end())).stderrOfMean;
}

// The drift direction's standard error: the scatter across the principal
// axis (n - 2 degrees of freedom, a line having two) over the spread of the
// frames along it, which is the slope error of a straight-line fit.
double detail::driftAngleStderr(const std::vector<const PairPosition*>& rows) {
    const detail::TrackSpread spread = detail::primarySpread(rows);
    const long double n = static_cast<long double>(rows.size());
    if (!(spread.along > 0.0L) || n < 3.0L)
        return 0.0;
    const long double across = std::max(spread.across, 0.0L) / (n - 2.0L);
    return static_cast<double>(std::sqrt(across / spread.along) * detail::kDegPerRad);
}

ReductionStatistics driftStatistics(const PairPositions& table, const ReductionResult& result,
                                    long double declinationDeg) {
    const std::vector<const PairPosition*> rows = detail::checkedValidRows(table);
    ReductionStatistics s = frameStatistics(rows);
    s.driftMeasured = true;
    s.pixelScaleStderr = detail::pixelScaleStderr(rows, declinationDeg);
    s.driftAngleStderr = detail::driftAngleStderr(rows);
    driftFit(rows, s);
    propagate(s, result.separation.separation, result.separation.pixelScale);
    return s;
}

std::vector<DriftResidual> driftResiduals(const PairPositions& table) {
    return residualsOf(detail::validRows(table));
}

ReductionStatistics calibratedStatistics(const PairPositions& table, const ReductionResult& result,
                                         double pixelScaleStderr, double driftAngleStderr) {
    const std::vector<const PairPosition*> rows = detail::checkedValidRows(table);
    ReductionStatistics s = frameStatistics(rows);
    s.pixelScaleStderr = pixelScaleStderr;
    s.driftAngleStderr = driftAngleStderr;
    propagate(s, result.separation.separation, result.separation.pixelScale);
    return s;
}

std::vector<std::string> reductionWarnings(const ReductionStatistics& s, int32_t framesMeasured,
                                           char sep) {
    std::vector<std::string> out;
    if (framesMeasured > 0 &&
        static_cast<double>(s.framesAccepted) < kMinAcceptedFraction * framesMeasured)
        out.push_back("Only " + std::to_string(s.framesAccepted) + " of " +
                      std::to_string(framesMeasured) +
                      " measured frames were accepted, fewer than a quarter: the result rests "
                      "on a few frames that may not be typical of the video.");
    if (s.driftMeasured && s.driftResidualPx > 0.0) {
        const bool strays = s.driftFrameScatterPx > 0.0
                                ? s.driftResidualPx > kMaxDriftResidualRatio * s.driftFrameScatterPx
                                : true;
        if (strays) {
            const std::string times =
                s.driftFrameScatterPx > 0.0
                    ? formatRounded(s.driftResidualPx / s.driftFrameScatterPx, 1, sep) + " times"
                    : "far more than";
            out.push_back("The primary star's track strays from a steady straight drift by " +
                          times +
                          " its scatter from frame to frame: the pixel scale and the drift "
                          "direction may be wrong.");
        }
    }
    if (s.pixelScaleRelativeStderr > kMaxScaleRelativeStderr)
        out.push_back("The pixel scale's standard error is " +
                      percent(s.pixelScaleRelativeStderr, sep) + ", more than " +
                      percent(kMaxScaleRelativeStderr, sep) +
                      ": the separation is no more certain than that.");
    return out;
}

} // namespace corvane
