#include "reduce/Reduction.h"

#include "common/Angles.h"
#include "common/Error.h"
#include "common/Rounding.h"
#include "reduce/ReductionSteps.h"
#include "reduce/Refusal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

using detail::axial;
using detail::checkedValidRows;
using detail::elapsedMs;
using detail::kDegPerRad;
using detail::kRadPerDeg;

namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

void requireEnoughRows(std::size_t count) {
    if (count < static_cast<std::size_t>(MinValidRows))
        throw Error("Only " + std::to_string(count) +
                    (count == 1 ? " frame is valid; at least " : " frames are valid; at least ") +
                    std::to_string(MinValidRows) + " are needed. Measure more frames, or tick " +
                    quoted("Active") + " on more of them.");
}

bool rowIsFinite(const PairPosition& r) {
    return std::isfinite(r.PrimaryX) && std::isfinite(r.PrimaryY) && std::isfinite(r.SecondaryX) &&
           std::isfinite(r.SecondaryY) && std::isfinite(r.SepPixels) &&
           std::isfinite(r.ScreenAngle);
}

void requireFinite(const std::vector<const PairPosition*>& rows) {
    for (const PairPosition* r : rows)
        if (!rowIsFinite(*r))
            throw Error("Frame " + std::to_string(r->FrameNo) +
                        " holds a measurement that is not a number. Untick its " +
                        quoted("Active") + " box or measure it again.");
}

// Second moments of a track about its centre, with u = -y so that the
// screen's y axis points upwards.
struct TrackMoments {
    long double cxx = 0, cuu = 0, cxu = 0;
};

template <typename GetX, typename GetY>
TrackMoments trackMoments(const std::vector<const PairPosition*>& rows, GetX getX, GetY getY) {
    long double mx = 0, mu = 0;
    for (const PairPosition* r : rows) {
        mx += getX(*r);
        mu += -static_cast<long double>(getY(*r));
    }
    const long double n = static_cast<long double>(rows.size());
    mx /= n;
    mu /= n;
    TrackMoments m;
    for (const PairPosition* r : rows) {
        const long double dx = getX(*r) - mx;
        const long double du = -static_cast<long double>(getY(*r)) - mu;
        m.cxx += dx * dx;
        m.cuu += du * du;
        m.cxu += dx * du;
    }
    return m;
}

bool moves(const TrackMoments& m) {
    return m.cxx + m.cuu > 0.0L;
}

// Direction of the principal axis of a track, degrees in (-90, +90]. For
// points on a line u = a x + b this is atan(a), the least-squares slope's
// angle; unlike that slope it stays defined when the line is vertical.
long double principalAxis(const TrackMoments& m) {
    return axial(0.5L * std::atan2(2.0L * m.cxu, m.cxx - m.cuu) * kDegPerRad);
}

// The primary's displacement from the first to the last valid row, u upwards.
struct Displacement {
    long double dx, du;
};

Displacement travel(const std::vector<const PairPosition*>& rows) {
    const PairPosition& first = *rows.front();
    const PairPosition& last = *rows.back();
    return {static_cast<long double>(last.PrimaryX) - first.PrimaryX,
            -(static_cast<long double>(last.PrimaryY) - first.PrimaryY)};
}

long double projection(const Displacement& d, long double axisDegrees) {
    const long double a = axisDegrees * kRadPerDeg;
    return d.dx * std::cos(a) + d.du * std::sin(a);
}

// The axis turned the way the primary travelled.
float drift(long double axisDegrees, const Displacement& d) {
    if (projection(d, axisDegrees) < 0.0L)
        axisDegrees += 180.0L;
    return static_cast<float>(axisDegrees);
}

template <typename GetX, typename GetY>
void requireMovement(const std::vector<const PairPosition*>& rows, GetX getX, GetY getY,
                     const char* star) {
    if (!moves(trackMoments(rows, getX, getY)))
        throw Error(std::string("The ") + star +
                    " star is at the same place in every valid frame, so the drift direction "
                    "cannot be found. Measure frames over which the stars drift, or untick " +
                    quoted("Active") + " on frames that were never measured.");
}

float primaryX(const PairPosition& r) {
    return r.PrimaryX;
}
float primaryY(const PairPosition& r) {
    return r.PrimaryY;
}
float secondaryX(const PairPosition& r) {
    return r.SecondaryX;
}
float secondaryY(const PairPosition& r) {
    return r.SecondaryY;
}

void requireDriftSense(const std::vector<const PairPosition*>& rows) {
    const Displacement d = travel(rows);
    const long double axis = principalAxis(trackMoments(rows, primaryX, primaryY));
    if (projection(d, axis) == 0.0L)
        throw Error("The primary star ends where it started (frames " +
                    std::to_string(rows.front()->FrameNo) + " and " +
                    std::to_string(rows.back()->FrameNo) +
                    "), so the direction of the drift cannot be told. Measure a stretch of "
                    "the video over which the stars drift across the field.");
}

// A drift is a straight track: its spread along the principal axis must
// clearly exceed its spread across it. A star that only wobbles in the seeing
// (telescope tracking, or too short a stretch) has a direction and a speed
// made of noise, and would give a confident but meaningless scale and angle.
constexpr long double kMinDriftElongation = 4.0L; // variance along / variance across

void requireStraightDrift(const std::vector<const PairPosition*>& rows) {
    const detail::TrackSpread spread = detail::primarySpread(rows);
    if (spread.along < kMinDriftElongation * spread.across)
        throw Error("The primary star wanders about as much across its track as along it, so "
                    "there is no straight drift to take the direction and the pixel scale "
                    "from. Check that the telescope's drive was off, and measure a longer "
                    "stretch of the drift.");
}

long double displacementPixels(const PairPosition& a, const PairPosition& b) {
    const long double dx = static_cast<long double>(b.PrimaryX) - a.PrimaryX;
    const long double dy = static_cast<long double>(b.PrimaryY) - a.PrimaryY;
    return std::sqrt(dx * dx + dy * dy);
}

void requirePixelScalePairs(const std::vector<const PairPosition*>& rows) {
    bool anyDrift = false;
    for (const DriftPair& p : driftPairs(static_cast<int32_t>(rows.size()))) {
        const PairPosition& a = *rows[static_cast<std::size_t>(p.early)];
        const PairPosition& b = *rows[static_cast<std::size_t>(p.late)];
        if (!(elapsedMs(a, b) > 0.0L))
            throw Error(
                "Frames " + std::to_string(a.FrameNo) + " and " + std::to_string(b.FrameNo) +
                ", used for the pixel scale, have no time between them. Untick " +
                quoted("Active") + " on frames that were never measured and calculate again.");
        if (displacementPixels(a, b) > 0.0L)
            anyDrift = true;
    }
    if (!anyDrift)
        throw Error("The primary star does not move between the first and the last " +
                    std::to_string(DriftPairCount) +
                    " valid frames, so the pixel scale would be 0. Measure a longer stretch "
                    "of the drift.");
}

} // namespace

namespace detail {

std::vector<const PairPosition*> validRows(const PairPositions& table) {
    std::vector<const PairPosition*> rows;
    for (const PairPosition& r : table)
        if (r.Valid)
            rows.push_back(&r);
    return rows;
}

std::vector<const PairPosition*> checkedValidRows(const PairPositions& table) {
    std::vector<const PairPosition*> rows = validRows(table);
    requireEnoughRows(rows.size());
    requireFinite(rows);
    return rows;
}

long double axial(long double degrees) {
    return wrapAxialDegrees(degrees);
}

long double screenAngleAxis(const std::vector<const PairPosition*>& rows) {
    long double c = 0, s = 0;
    for (const PairPosition* r : rows) {
        const long double twice = 2.0L * r->ScreenAngle * kRadPerDeg;
        c += std::cos(twice);
        s += std::sin(twice);
    }
    return 0.5L * std::atan2(s, c) * kDegPerRad;
}

TrackSpread primarySpread(const std::vector<const PairPosition*>& rows) {
    const TrackMoments m = trackMoments(rows, primaryX, primaryY);
    const long double half = 0.5L * (m.cxx + m.cuu);
    const long double root = std::sqrt(0.25L * (m.cxx - m.cuu) * (m.cxx - m.cuu) + m.cxu * m.cxu);
    return {half + root, half - root};
}

long double driftRate(long double declinationDeg) {
    return std::cos(declinationDeg * kRadPerDeg) * SiderealRate;
}

std::array<long double, DriftPairCount> pairScales(const std::vector<const PairPosition*>& rows,
                                                   long double rate) {
    std::array<long double, DriftPairCount> scales{};
    std::size_t k = 0;
    for (const DriftPair& p : driftPairs(static_cast<int32_t>(rows.size()))) {
        const PairPosition& a = *rows[static_cast<std::size_t>(p.early)];
        const PairPosition& b = *rows[static_cast<std::size_t>(p.late)];
        const long double speed = displacementPixels(a, b) / elapsedMs(a, b) * 1000.0L;
        scales[k++] = speed / rate;
    }
    return scales;
}

float positionAngleFrom(long double meanScreenAngle, long double driftAngle,
                        Orientation orientation) {
    // The drift points west, north lies 90 degrees counter-clockwise from it
    // on a correct image; a mirrored image counts the other way. The screen
    // angle enters as it is shown, to two decimals, so the position angle
    // agrees with the boxes a user reads.
    long double pa = wrapDegrees360<long double>(shownValue(meanScreenAngle, 2));
    pa = pa - 90.0L - driftAngle;
    if (orientation == Orientation::UprightReverted)
        pa = 180.0L - pa;
    pa = wrapDegrees360(pa);
    float shown = static_cast<float>(pa);
    // 359.996 would show as 360, which is the same direction as 0.
    if (displayRound(shown, 2) >= 360.0)
        shown = 0.0f;
    return shown;
}

void requireDriftingDeclination(long double declinationDeg) {
    if (!(std::fabs(declinationDeg) < 90.0L))
        throw Error("The declination is not between -90 and +90 degrees; at the pole the stars "
                    "do not drift. Correct the Dec boxes.");
}

void checkPrimaryDrift(const std::vector<const PairPosition*>& rows) {
    requireMovement(rows, primaryX, primaryY, "primary");
    requireStraightDrift(rows);
    requireDriftSense(rows);
    requirePixelScalePairs(rows);
}

float primaryDriftAngle(const std::vector<const PairPosition*>& rows) {
    return drift(principalAxis(trackMoments(rows, primaryX, primaryY)), travel(rows));
}

float primaryPixelScale(const std::vector<const PairPosition*>& rows, long double declinationDeg) {
    requirePixelScalePairs(rows);
    float scaleSum = 0;
    for (const long double scale : pairScales(rows, driftRate(declinationDeg)))
        scaleSum = static_cast<float>(scaleSum + scale);
    const float scale = static_cast<float>(scaleSum / static_cast<long double>(DriftPairCount));
    if (!(scale > 0.0f) || !std::isfinite(scale))
        throw Error("The pixel scale cannot be found from this drift. Measure a longer "
                    "stretch of the drift.");
    if (scale > kMaxPixelsPerArcsec)
        throw RefusalError({RefusalReason::DriftTooSlow, scale});
    if (scale < kMinPixelsPerArcsec)
        throw RefusalError({RefusalReason::ScaleBelowLowest, scale});
    return scale;
}

std::vector<long double> frameWeights(const std::vector<const PairPosition*>& rows,
                                      const std::vector<long double>& values,
                                      float PairPosition::*error) {
    const std::size_t n = rows.size();
    std::vector<long double> variances;
    for (const PairPosition* r : rows) {
        const long double e = r->*error;
        if (!(std::isfinite(e) && e > 0.0L))
            return {};
        variances.push_back(e * e);
    }
    if (n < 2)
        return {};
    std::vector<long double> sorted = variances;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 2),
                     sorted.end());
    const long double floor = 0.25L * sorted[n / 2];
    long double mean = 0, meanVariance = 0;
    for (std::size_t i = 0; i < n; ++i) {
        variances[i] = std::max(variances[i], floor);
        mean += values[i] / static_cast<long double>(n);
        meanVariance += variances[i] / static_cast<long double>(n);
    }
    long double scatter = 0;
    for (const long double v : values)
        scatter += (v - mean) * (v - mean) / static_cast<long double>(n - 1);
    const long double unexplained = std::max(0.0L, scatter - meanVariance);
    std::vector<long double> weights;
    for (const long double v : variances)
        weights.push_back(1.0L / (v + unexplained));
    return weights;
}

long double weightedMean(const std::vector<long double>& values,
                         const std::vector<long double>& weights) {
    long double sum = 0, total = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        sum += weights[i] * values[i];
        total += weights[i];
    }
    return sum / total;
}

std::vector<long double> separations(const std::vector<const PairPosition*>& rows) {
    std::vector<long double> out;
    for (const PairPosition* r : rows)
        out.push_back(r->SepPixels);
    return out;
}

std::vector<long double> screenAngles(const std::vector<const PairPosition*>& rows) {
    const long double axis = screenAngleAxis(rows);
    std::vector<long double> out;
    for (const PairPosition* r : rows)
        out.push_back(nearAxisDegrees<long double>(r->ScreenAngle, axis));
    return out;
}

float meanSeparationArcsec(const std::vector<const PairPosition*>& rows, float pixelScale) {
    const std::vector<long double> seps = separations(rows);
    const std::vector<long double> weights =
        frameWeights(rows, seps, &PairPosition::SepPixelsError);
    if (!weights.empty())
        return static_cast<float>(weightedMean(seps, weights) / pixelScale);
    float sepSum = 0;
    for (const PairPosition* r : rows)
        sepSum = static_cast<float>(sepSum + static_cast<long double>(r->SepPixels) / pixelScale);
    return static_cast<float>(sepSum / static_cast<long double>(rows.size()));
}

} // namespace detail

std::array<DriftPair, DriftPairCount> driftPairs(int32_t validCount) {
    std::array<DriftPair, DriftPairCount> pairs{};
    for (int32_t k = 0; k < DriftPairCount; ++k)
        pairs[static_cast<std::size_t>(k)] = {k, validCount - DriftPairCount + k};
    return pairs;
}

void checkReducible(const PairPositions& table) {
    const std::vector<const PairPosition*> rows = checkedValidRows(table);
    requireMovement(rows, primaryX, primaryY, "primary");
    requireMovement(rows, secondaryX, secondaryY, "secondary");
    requireStraightDrift(rows);
    requireDriftSense(rows);
    requirePixelScalePairs(rows);
}

AveragesResult averages(const PairPositions& table) {
    const std::vector<const PairPosition*> rows = checkedValidRows(table);
    const long double n = static_cast<long double>(rows.size());

    // The common axis of the orientations: mean of the doubled angles, halved.
    const long double axis = detail::screenAngleAxis(rows);

    // Sums held as 32-bit floats, as the plain mean has them; each angle on the
    // side of the wrap nearest the axis.
    float sepSum = 0, angleSum = 0;
    for (const PairPosition* r : rows) {
        const long double angle = nearAxisDegrees<long double>(r->ScreenAngle, axis);
        sepSum = static_cast<float>(static_cast<long double>(sepSum) + r->SepPixels);
        angleSum = static_cast<float>(static_cast<long double>(angleSum) + angle);
    }
    AveragesResult out;
    out.meanSep = static_cast<float>(sepSum / n);
    float meanAngle = static_cast<float>(axial(angleSum / n));
    // Frames that carry their own errors weigh by them.
    const std::vector<long double> seps = detail::separations(rows);
    const std::vector<long double> angles = detail::screenAngles(rows);
    const std::vector<long double> sepWeights =
        detail::frameWeights(rows, seps, &PairPosition::SepPixelsError);
    const std::vector<long double> angleWeights =
        detail::frameWeights(rows, angles, &PairPosition::ScreenAngleError);
    if (!sepWeights.empty())
        out.meanSep = static_cast<float>(detail::weightedMean(seps, sepWeights));
    if (!angleWeights.empty())
        meanAngle = static_cast<float>(axial(detail::weightedMean(angles, angleWeights)));

    // The side of the secondary: mean projection of (dx, -dy) on the axis.
    const long double a = meanAngle * kRadPerDeg;
    long double along = 0;
    for (const PairPosition* r : rows) {
        const float dx = r->SecondaryX - r->PrimaryX;
        const float dy = r->SecondaryY - r->PrimaryY;
        along += dx * std::cos(a) - dy * std::sin(a);
    }
    if (along / n < 0.0L)
        meanAngle = static_cast<float>(meanAngle + 180.0L);
    out.meanAngle = meanAngle;
    return out;
}

RegressionResult regression(const PairPositions& table, float meanScreenAngle,
                            Orientation orientation) {
    const std::vector<const PairPosition*> rows = checkedValidRows(table);
    requireMovement(rows, primaryX, primaryY, "primary");
    requireMovement(rows, secondaryX, secondaryY, "secondary");
    requireStraightDrift(rows);
    requireDriftSense(rows);

    const Displacement d = travel(rows);
    RegressionResult out;
    out.driftAngle = detail::primaryDriftAngle(rows);
    // The primary's travel decides the sense for both stars.
    out.secondaryDriftAngle = drift(principalAxis(trackMoments(rows, secondaryX, secondaryY)), d);

    out.positionAngle = detail::positionAngleFrom(meanScreenAngle, out.driftAngle, orientation);
    return out;
}

SeparationResult separation(const PairPositions& table, long double declinationDeg) {
    const std::vector<const PairPosition*> rows = checkedValidRows(table);
    detail::requireDriftingDeclination(declinationDeg);
    SeparationResult out;
    out.pixelScale = detail::primaryPixelScale(rows, declinationDeg);
    out.separation = detail::meanSeparationArcsec(rows, out.pixelScale);
    return out;
}

void detail::requireFiniteResult(const ReductionResult& r) {
    const ReductionStatistics& s = r.statistics;
    const std::pair<double, const char*> values[] = {
        {r.separation.pixelScale, "pixel scale"},
        {r.separation.separation, "separation"},
        {r.regression.positionAngle, "position angle"},
        {s.separationStderr, "standard error of the separation"},
        {s.positionAngleStderr, "standard error of the position angle"},
        {s.pixelScaleStderr, "standard error of the pixel scale"},
    };
    for (const auto& [value, name] : values)
        if (!std::isfinite(value) || value < 0)
            throw Error(std::string("The reduction gives a ") + name +
                        " that is not a number, so there is no result. Measure more frames or "
                        "check the frame times.");
}

ReductionResult reduce(const PairPositions& table, Orientation orientation,
                       long double declinationDeg) {
    ReductionResult out;
    try {
        checkReducible(table);
        out.averages = averages(table);
        out.reached = ReductionStage::Averages;
        out.regression = regression(table, out.averages.meanAngle, orientation);
        out.reached = ReductionStage::Regression;
        out.separation = separation(table, declinationDeg);
        out.statistics = driftStatistics(table, out, declinationDeg);
        detail::requireFiniteResult(out);
        out.reached = ReductionStage::Separation;
    } catch (const RefusalError& e) {
        out.error = e.what();
        out.refusal = e.refusal;
    } catch (const Error& e) {
        out.error = e.what();
    }
    return out;
}

} // namespace corvane
