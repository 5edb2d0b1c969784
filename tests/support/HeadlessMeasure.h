#pragma once
// The measuring session as the window drives it, without a window: open the
// recording, reset, click the primary, click the secondary, GO! to the end,
// then reduce. The clicks land on the simulator's star positions in frame 0.
#include "reduce/Reduction.h"
#include "session/MeasuringSession.h"
#include "sim/DriftSim.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace corvane::test {

struct HeadlessMeasurement {
    ReductionResult reduction;
    int32_t validRows = 0;
    int32_t expectedDX = 0, expectedDY = 0; // from the clicks
    std::vector<std::string> warnings;      // as both front ends show them
    FrameTable table;
};

inline std::string declinationText(double dec) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d", dec < 0 ? '-' : '+',
                  static_cast<int>(std::lround(std::fabs(dec))));
    return buf;
}

// `prepare` sees the opened player first (to give a frame rate, say).
inline HeadlessMeasurement
measureHeadless(const std::string& path, const sim::Truth& truth, Method method,
                double declinationDeg, const std::function<void(Player&)>& prepare = {},
                int32_t boxSize = 12, Orientation orientation = Orientation::CorrectOrInverted) {
    MeasuringSession session;
    session.open(path);
    if (prepare)
        prepare(session.player());
    session.reset(0);
    const sim::Point p = truth.frames[0].primary;
    const sim::Point s = truth.frames[0].secondary;
    session.selectPrimary(static_cast<int32_t>(std::lround(p.x)),
                          static_cast<int32_t>(std::lround(p.y)), boxSize);
    session.selectSecondary(static_cast<int32_t>(std::lround(s.x)),
                            static_cast<int32_t>(std::lround(s.y)), boxSize, [] { return 0; });
    RunHooks hooks;
    const int32_t stop = session.player().VideoLength();
    hooks.stopFrame = [stop] { return stop; };
    session.run(method, hooks);
    HeadlessMeasurement m;
    m.validRows = session.acceptedFrames();
    m.expectedDX = session.state().ExpectedDX;
    m.expectedDY = session.state().ExpectedDY;

    m.table = session.table();
    m.reduction = session.reduce(orientation, declinationText(declinationDeg), "00", "00", '.');
    m.warnings = session.warnings(m.reduction, method, '.');
    return m;
}

} // namespace corvane::test
