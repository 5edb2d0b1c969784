#pragma once
// The window's measuring path without a window: open the recording in a
// player, reset, click the primary, reset, click the secondary, GO! to the
// end, then reduce. The clicks land on the simulator's star positions in
// frame 0.
#include "measure/Reset.h"
#include "measure/Runs.h"
#include "measure/Selection.h"
#include "measure/WorkingState.h"
#include "reduce/Reduction.h"
#include "sim/DriftSim.h"
#include "video/PanelSurface.h"
#include "video/Player.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace corvane::test {

struct HeadlessMeasurement {
    ReductionResult reduction;
    int32_t validRows = 0;
};

inline std::string declinationText(double dec) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d", dec < 0 ? '-' : '+',
                  static_cast<int>(std::lround(std::fabs(dec))));
    return buf;
}

// `prepare` sees the opened player first (to give a frame rate, say).
inline HeadlessMeasurement measureHeadless(const std::string& path, const sim::Truth& truth,
                                           Method method, double declinationDeg,
                                           const std::function<void(Player&)>& prepare = {},
                                           int32_t boxSize = 12) {
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(path);
    if (prepare)
        prepare(player);
    player.SetStepSize(1);
    WorkingState ws;
    resetvideo(ws, player, 0);
    const sim::Point p = truth.frames[0].primary;
    const sim::Point s = truth.frames[0].secondary;
    selectprimary(ws, player.Intensities(), panel, static_cast<int32_t>(std::lround(p.x)),
                  static_cast<int32_t>(std::lround(p.y)), boxSize);
    resetvideo(ws, player, 0);
    selectsecondary(ws, panel, player, static_cast<int32_t>(std::lround(s.x)),
                    static_cast<int32_t>(std::lround(s.y)), boxSize);
    player.RedrawFrame();
    RunHooks hooks;
    const int32_t stop = player.VideoLength();
    hooks.stopFrame = [stop] { return stop; };
    runFrames(ws, player, method, hooks);
    HeadlessMeasurement m;
    m.validRows = CountValidRows(ws.FrameData);
    m.reduction = reduce(ws.FrameData, Orientation::CorrectOrInverted,
                         declinationText(declinationDeg), "00", "00", '.');
    return m;
}

} // namespace corvane::test
