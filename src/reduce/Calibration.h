#pragma once
// A calibration: what a drift video's reduction tells about the camera
// rather than the pair (the pixel scale and the screen direction of the
// drift, with their standard errors), kept in a small JSON file so that later
// videos, taken with the telescope tracking, can be reduced with it.
#include "reduce/Positions.h"
#include "reduce/Reduction.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

struct Calibration {
    double pixelsPerArcsec = 0;
    double pixelsPerArcsecStderr = 0;
    // Screen direction of the drift (west) as the reduction gives it: degrees
    // counter-clockwise from the screen's +x with y up, -90 < a <= 270.
    double driftAngle = 0;
    double driftAngleStderr = 0; // degrees
    double dec = 0;              // declination of the drift video, degrees
    std::string observedUtc;     // when the drift video was taken
    std::string source;          // the drift video's name
    int32_t framesAccepted = 0;
};

// The calibration of a drift reduction that reached the separation. `dec` is
// the declination it was reduced at. Throws corvane::Error for a reduction
// that did not finish or did not measure its drift, RefusalError for a
// declination beyond +-90.
Calibration calibrationFrom(const ReductionResult& result, double dec,
                            const std::string& observedUtc, const std::string& source);

// The calibration of a drift from the primary's track alone, so that one
// drifting star is enough (a pair's table gives the numbers its reduction
// gives): the drift direction, the pixel scale from the drift speed at the
// declination `dec` (degrees, signed as typed; only its size counts), and
// their standard errors. Throws corvane::Error (RefusalError for the
// declination or the scale) with the reduction's reason for a table that
// cannot give them: too few valid rows, a value that is not a number, a star
// that does not drift.
Calibration calibrationFromDrift(const PairPositions& table, double dec,
                                 const std::string& observedUtc, const std::string& source);

// The reduction of a table with the pixel scale and the drift direction taken
// from a calibration instead of the drift, so the stars need not move: the
// averages as `reduce` has them, the position angle from the calibration's
// drift direction (Edit13 shows it; the secondary's drift, Edit14, stays
// empty: `calibrated` is set), the separation over the calibration's scale, and the statistics
// with the calibration's errors in them. Refuses, as `reduce` does, fewer
// than MinValidRows valid rows or a value that is not finite. Never throws
// corvane::Error: the message is in `error`.
ReductionResult reduceWithCalibration(const PairPositions& table, const Calibration& calibration,
                                      Orientation orientation);

// Several calibrations of one camera combined by inverse-variance weighting,
// the drift directions as angles (an angle near 0 and one near 360 are
// neighbours), with a check that they agree within their errors.
struct CalibrationAgreement {
    double chiSquare = 0;         // sum of squared, error-weighted departures from the mean
    int32_t degreesOfFreedom = 0; // 2 (scale and direction) for each calibration beyond one
    double limit = 0;             // chiSquare above this: they disagree
    bool disagree = false;
};

// Chance of a disagreement warning for calibrations that differ only by
// their stated errors. One in a hundred: a night's honest calibrations
// should hardly ever be flagged, while one that is off by several errors
// (a wrong declination, a moved camera) is.
inline constexpr double kCalibrationFalseAlarm = 0.01;

struct CombinedCalibration {
    // The weighted scale and direction with their errors; the declination and
    // time of the first calibration given; the sources joined with ", "; the
    // accepted frames added up.
    Calibration calibration;
    CalibrationAgreement agreement;
};

// Throws corvane::Error for no calibration, or for a zero standard error
// among several (it cannot be weighed against the others).
CombinedCalibration combineCalibrations(const std::vector<Calibration>& calibrations);

} // namespace corvane
