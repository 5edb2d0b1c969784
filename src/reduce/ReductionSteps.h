#pragma once
// The pieces of the reduction that its statistics, the outlier clipping and
// the calibrated reduction share with it, so that each of them applies
// exactly the rule the reduction itself uses (the axis and side of the screen
// angles, the pixel-scale pairs, the position angle from the shown angle).
// Internal to the reduce layer.
#include "reduce/Positions.h"
#include "reduce/Reduction.h"

#include <array>
#include <vector>

namespace corvane::detail {

inline constexpr long double kPi = 3.141592653589793238462643383279502884L;
inline constexpr long double kDegPerRad = 180.0L / kPi;
inline constexpr long double kRadPerDeg = kPi / 180.0L;

// A row's time in milliseconds: its microseconds over 1000, exact for times
// kept to the millisecond, so the sums and differences the reduction takes
// of them are those of whole milliseconds.
inline long double timeMs(const PairPosition& row) {
    return static_cast<long double>(row.TimeUs) / 1000.0L;
}
// Time from `early` to `late`, milliseconds.
inline long double elapsedMs(const PairPosition& early, const PairPosition& late) {
    return static_cast<long double>(late.TimeUs - early.TimeUs) / 1000.0L;
}

// The valid rows in index order.
std::vector<const PairPosition*> validRows(const PairPositions& table);

// The valid rows, refused (corvane::Error) when fewer than MinValidRows or
// when a value is not finite.
std::vector<const PairPosition*> checkedValidRows(const PairPositions& table);

// Brings an orientation into (-90, +90].
long double axial(long double degrees);

// The common axis of the rows' screen angles: mean of the doubled angles,
// halved, degrees.
long double screenAngleAxis(const std::vector<const PairPosition*>& rows);

// Spread of the primary's track about its centre along its principal axis
// and across it (sums of squares, pixels squared).
struct TrackSpread {
    long double along = 0;
    long double across = 0;
};
TrackSpread primarySpread(const std::vector<const PairPosition*>& rows);

// Sidereal drift in arc-seconds per second at the declination (degrees).
long double driftRate(long double declinationDeg);

// The pixel scale of each pixel-scale pair: the primary's speed between the
// two rows over the drift rate, pixels per arc-second.
std::array<long double, DriftPairCount> pairScales(const std::vector<const PairPosition*>& rows,
                                                   long double rate);

// Position angle, 0 <= PA < 360, from the mean screen angle as shown (rounded
// to two decimals) and the drift direction.
float positionAngleFrom(long double meanScreenAngle, long double driftAngle,
                        Orientation orientation);

// Refuses (corvane::Error) a declination that is not a number below 90
// degrees in size.
void requireDriftingDeclination(long double declinationDeg);

// The refusals of a track that is no drift, for the primary alone: a star
// that does not move, wanders, ends where it started or gives a pixel-scale
// pair without time or drift between.
void checkPrimaryDrift(const std::vector<const PairPosition*>& rows);

// The primary's drift direction (the principal axis of its track, pointed
// the way it travelled), degrees, -90 < a <= 270.
float primaryDriftAngle(const std::vector<const PairPosition*>& rows);

// The pixel scale from the primary's speed at the declination (degrees):
// the mean of the pixel-scale pairs' scales, summed in 32 bits.
float primaryPixelScale(const std::vector<const PairPosition*>& rows, long double declinationDeg);

// The standard errors of that scale and direction (see Statistics.cpp).
double pixelScaleStderr(const std::vector<const PairPosition*>& rows, long double declinationDeg);
double driftAngleStderr(const std::vector<const PairPosition*>& rows);

// The weights of the rows' values of one series (separations, or screen
// angles taken near their axis) from each frame's own error (`error`, a
// member of PairPosition); empty when a row has none, and the plain mean
// holds. Each weight is the inverse of the frame's variance plus the
// scatter the errors leave unexplained (what moves both stars' images apart
// from frame to frame, which no single fit sees), with no error counted
// below half the median one: a frame cannot outweigh four typical ones.
std::vector<long double> frameWeights(const std::vector<const PairPosition*>& rows,
                                      const std::vector<long double>& values,
                                      float PairPosition::*error);
// The weighted mean of the values.
long double weightedMean(const std::vector<long double>& values,
                         const std::vector<long double>& weights);
// The separations and the screen angles (near their axis) of the rows.
std::vector<long double> separations(const std::vector<const PairPosition*>& rows);
std::vector<long double> screenAngles(const std::vector<const PairPosition*>& rows);
// Mean of SepPixels / scale over the rows, arc-seconds, summed as the
// reduction sums it (weighted as `frameWeights` says, where it does).
float meanSeparationArcsec(const std::vector<const PairPosition*>& rows, float pixelScale);

// Refuses (corvane::Error) a finished reduction whose pixel scale,
// separation, position angle or standard errors are not finite or are
// negative: no result rather than one that says nothing.
void requireFiniteResult(const ReductionResult& result);

} // namespace corvane::detail
