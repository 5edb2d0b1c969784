#pragma once
// A speckle measurement on the sky: its separation vector in pixels turned
// into arc-seconds and a position angle with a calibration's pixel scale and
// drift direction, and its detection limit into arc-seconds.
#include "measure/SpeckleMeasurement.h"
#include "reduce/Calibration.h"
#include "reduce/Reduction.h"

#include <vector>

namespace corvane {

struct SpeckleLimitPoint {
    double separation = 0; // arc-seconds
    double deltaMag = 0;   // the faintest companion seen there, magnitudes
};

struct SpeckleOnSky {
    double separation = 0; // arc-seconds
    double separationStderr = 0;
    // Degrees from north through east: 0 .. 360 when the quadrant is decided,
    // else 0 .. 180 (the other star's side is as likely).
    double positionAngle = 0;
    double positionAngleStderr = 0;
    bool ambiguous = true;
    std::vector<SpeckleLimitPoint> limit;
};

// The errors add the calibration's own in quadrature.
SpeckleOnSky speckleOnSky(const SpeckleMeasurement& m, const Calibration& calibration,
                          Orientation orientation);

// The position angle of a screen angle (degrees counter-clockwise from +x
// with y up) on a camera whose drift (west) points at `driftAngle`: north
// lies 90 degrees counter-clockwise from the drift on a correct image, the
// other way on a mirrored one. 0 .. 360.
double positionAngleOfScreenAngle(double screenAngle, double driftAngle, Orientation orientation);

} // namespace corvane
