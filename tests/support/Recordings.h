#pragma once
// Small simulated recordings for the SER and FITS reader tests: a drifting
// pair on a frame whose rows and columns are not alike (so a flip or a
// transposition shows), in 8 or 16 bits.
#include "sim/DriftSim.h"
#include "sim/RecordingWriter.h"

namespace corvane::test {

inline sim::DriftParams smallRecording(int bits, int frames = 6) {
    sim::DriftParams p;
    p.width = 40;
    p.height = 30;
    p.frames = frames;
    p.separationArcsec = 6;
    p.scalePxPerArcsec = 1;
    p.declinationDeg = 20;
    p.fps = 30;
    p.start = sim::Point{12, 9};
    p.seed = 11;
    p.bits = bits;
    if (bits == 16) {
        // Faint stars over a bright sky, as a 16-bit camera sees them.
        p.sky = 1000;
        p.noiseSigma = 30;
        p.primaryBrightness = 4000;
        p.secondaryBrightness = 2500;
    }
    return p;
}

} // namespace corvane::test
