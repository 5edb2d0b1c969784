#pragma once
// The reduction of the measured positions to the final measurement of the pair: mean
// separation and screen angle, the drift direction of both stars, the pixel
// scale from the drift speed, the separation in arc-seconds and the position
// angle.
//
// Numbers in, numbers out: positions, times, the declination in degrees and
// the orientation; the texts of the boxes and files are written by whoever
// shows them. Every function throws corvane::Error before returning anything
// when it cannot give a sound number, so a caller that writes its texts only
// after a call returns never shows half a result, a NaN or an infinity.
//
// `reduce` runs the three steps in order (averages, regression, separation)
// and tells how far it got.
#include "reduce/Positions.h"
#include "reduce/Refusal.h"
#include "reduce/Statistics.h"

#include <array>
#include <cstdint>
#include <string>

namespace corvane {

// Arc-seconds per second of time by which a star on the celestial equator drifts.
inline constexpr long double SiderealRate = 15.04107L;
// Pairs of early and late valid frames averaged for the pixel scale.
inline constexpr int32_t DriftPairCount = 12;
// The pixel scales a camera behind a telescope can have, pixels per
// arc-second. A scale outside them is no measurement: a drift too slow to
// time near the pole, wrong frame times, or a slip of the pen.
inline constexpr double kMinPixelsPerArcsec = 0.001;
inline constexpr double kMaxPixelsPerArcsec = 1000.0;

// "Orientation" radio group: item 0 "Correct or Inverted (rotated 180)",
// item 1 "Upright reverted (flipped R/L)".
enum class Orientation { CorrectOrInverted = 0, UprightReverted = 1 };

struct AveragesResult {
    float meanSep = 0;   // pixels
    float meanAngle = 0; // degrees, -90 < angle <= 270, towards the secondary
};

// Mean separation in pixels and mean screen angle of the secondary seen from
// the primary, over the valid rows.
//
// The per-row angles are orientations of the line through both stars
// (-90..+90), so a pair near vertical gives angles on both sides of the wrap
// (+89 and -89). The common axis is found as axial data (mean of the doubled
// angles, halved); each angle is then taken on the side of the wrap nearest
// that axis and averaged arithmetically, so where no angle crosses the wrap
// the mean is exactly the plain arithmetic mean. The side on which the
// secondary lies comes from the mean projection of every valid row's
// (dx, -dy) on the axis, so one odd frame cannot turn the answer by 180.
AveragesResult averages(const PairPositions& table);

struct RegressionResult {
    float driftAngle = 0;          // primary's direction of travel, degrees, -90 < a <= 270
    float secondaryDriftAngle = 0; // the same for the secondary's track
    float positionAngle = 0;       // degrees, 0 <= PA < 360 and not 360 at two decimals
};

// Direction of the drift and the position angle. The drift direction of each
// star is the principal axis of its track (orthogonal regression, which stays
// well conditioned for a drift in any direction on the screen), pointed the
// way the primary travelled between the first and the last valid rows.
// `meanScreenAngle` is the mean screen angle of `averages`; the position angle
// is taken from it rounded to two decimals, the screen angle as it is shown.
RegressionResult regression(const PairPositions& table, float meanScreenAngle,
                            Orientation orientation);

struct SeparationResult {
    float pixelScale = 0; // pixels per arc-second, unrounded
    float separation = 0; // arc-seconds
};

// Pixel scale from the primary's drift speed against the sidereal rate at the
// declination (degrees; only its size matters), and the separation in
// arc-seconds. Throws for a declination that is not a number below 90 degrees
// in size, where no drift would be left to measure.
SeparationResult separation(const PairPositions& table, long double declinationDeg);

// The pixel-scale pairs as indexes into the list of valid rows: pair k joins
// valid row k with valid row (validCount - DriftPairCount + k).
struct DriftPair {
    int32_t early;
    int32_t late;
};
std::array<DriftPair, DriftPairCount> driftPairs(int32_t validCount);

// Throws, with a message that says what is wrong and what to do, when the
// valid rows cannot give a sound reduction whatever the boxes hold: fewer than
// MinValidRows valid rows, a value that is not finite, a star that does not
// move, a drift whose sense cannot be told, a pixel-scale pair without
// elapsed time, no drift between the pixel-scale pairs.
void checkReducible(const PairPositions& table);

enum class ReductionStage { None = 0, Averages = 1, Regression = 2, Separation = 3 };

struct ReductionResult {
    ReductionStage reached = ReductionStage::None; // the last step whose numbers are valid
    AveragesResult averages;
    RegressionResult regression;
    SeparationResult separation;
    ReductionStatistics statistics; // filled when the separation is reached
    std::string error;              // empty when every step was done
    // For a refusal that quotes a number, its reason and number: the session
    // writes its message into `error` (refusalText).
    Refusal refusal;
    Orientation orientation = Orientation::CorrectOrInverted; // the one the angles were read with
    // Scale and drift direction came from a calibration: the secondary's drift
    // was not measured.
    bool calibrated = false;
};

// The statistics of a reduction from the drift: the frames' scatter, the
// pixel scale's and the drift direction's standard errors, the propagated
// errors and the drift diagnostics. `result` holds the separation step of
// the same table; `declinationDeg` is the magnitude it used.
ReductionStatistics driftStatistics(const PairPositions& table, const ReductionResult& result,
                                    long double declinationDeg);

// The same when the scale and the drift direction were given with these
// standard errors (a calibration) rather than measured.
ReductionStatistics calibratedStatistics(const PairPositions& table, const ReductionResult& result,
                                         double pixelScaleStderr, double driftAngleStderr);

// `checkReducible`, then `averages`, `regression` (fed with the mean screen
// angle of `averages`) and `separation`, and with the separation the
// statistics. A table that cannot be reduced stops before anything is
// reached, so no box changes; a declination that is no number below 90
// degrees (NaN for one that could not be read) stops after the regression, so
// Edit11..Edit15 take their new texts and Edit19/Edit16 keep theirs. Never
// throws corvane::Error: the message is in `error`.
ReductionResult reduce(const PairPositions& table, Orientation orientation,
                       long double declinationDeg);

} // namespace corvane
