#pragma once
// A clean drift recording shared by the session, window and tool tests: good
// seeing, a dark sky, little noise and jitter, a 12" pair at 60 degrees.
#include "sim/DriftSim.h"

#include <cstdint>

namespace corvane::test {

inline sim::DriftParams cleanDrift(uint64_t seed = 11) {
    sim::DriftParams p;
    p.frames = 120;
    // About 2 pixels of drift a frame.
    p.fps = 10.0;
    p.separationArcsec = 12.0;
    p.positionAngleDeg = 60.0;
    p.declinationDeg = 30.0;
    p.scalePxPerArcsec = 1.5;
    p.rotationDeg = 0.0;
    p.seeingFwhmPx = 3.0;
    p.primaryBrightness = 230.0;
    p.secondaryBrightness = 150.0;
    p.jitterPx = 0.2;
    p.sky = 0.0;
    p.noiseSigma = 1.0;
    p.seed = seed;
    return p;
}

} // namespace corvane::test
