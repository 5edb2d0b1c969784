#include "reduce/SpeckleReduction.h"

#include "common/Angles.h"

#include <cmath>

namespace corvane {

double positionAngleOfScreenAngle(double screenAngle, double driftAngle, Orientation orientation) {
    double pa = screenAngle - 90.0 - driftAngle;
    if (orientation == Orientation::UprightReverted)
        pa = 180.0 - pa;
    return wrapDegrees360(pa);
}

SpeckleOnSky speckleOnSky(const SpeckleMeasurement& m, const Calibration& c,
                          Orientation orientation) {
    SpeckleOnSky s;
    const double scale = c.pixelsPerArcsec;
    if (!(scale > 0))
        return s;
    s.separation = m.separationPx / scale;
    const double relSep = m.separationPx > 0 ? m.separationPxStderr / m.separationPx : 0.0;
    const double relScale = c.pixelsPerArcsecStderr / scale;
    s.separationStderr = s.separation * std::hypot(relSep, relScale);
    s.ambiguous = !m.quadrantDecided;
    s.positionAngle = positionAngleOfScreenAngle(m.screenAngle, c.driftAngle, orientation);
    if (s.ambiguous)
        s.positionAngle = wrapLineDegrees(s.positionAngle);
    s.positionAngleStderr = std::hypot(m.screenAngleStderr, c.driftAngleStderr);
    for (const DetectionPoint& p : m.limit)
        s.limit.push_back({p.radiusPx / scale, p.deltaMag});
    return s;
}

} // namespace corvane
