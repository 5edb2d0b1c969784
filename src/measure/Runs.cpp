#include "measure/Runs.h"

#include "measure/Methods.h"
#include "measure/SkyEstimate.h"
#include "video/Player.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace corvane {

namespace {

// Rows beyond the sky ring's reach: the kernel of the peak search and a
// pixel of rounding.
constexpr int32_t kBandSlack = 4;

} // namespace

PixelRect measuringBand(const TStarbox& systemBox) {
    const int64_t reach = systemBox.Size / 2 + kSkyRingGap + kSkyRingWidth + kBandSlack;
    const auto edge = [](int64_t v) {
        return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min(),
                                                    std::numeric_limits<int>::max()));
    };
    PixelRect band;
    band.left = edge(systemBox.Left - reach);
    band.top = edge(systemBox.Top - reach);
    band.right = edge(int64_t{systemBox.Left} + systemBox.Size + reach);
    band.bottom = edge(int64_t{systemBox.Top} + systemBox.Size + reach);
    return band;
}

RunResult runFrames(WorkingState& ws, Player& player, Method method, const RunHooks& hooks) {
    RunResult result;
    player.SetTimeFormat(TimeFormat::Frames);
    MeasuringUndo undo;
    for (;;) {
        const int32_t stop = hooks.stopFrame();
        const int32_t before = player.CurrentPosition();
        if (before >= stop)
            break;
        if (hooks.cancelRequested && hooks.cancelRequested()) {
            result.cancelled = true;
            break;
        }
        player.StepForwardInBand(measuringBand(ws.SystemBox));
        const int32_t now = player.CurrentPosition();
        // A step that stays put (or wraps back to the start) would never reach
        // the stop frame.
        if (now <= before) {
            result.stoppedMoving = true;
            break;
        }
        const bool inBand = player.Intensities().partial();
        if (inBand) {
            undo.keep(ws, now); // to measure again on the whole frame
            ++result.framesInBand;
        }
        measureframe(ws, player, method);
        if (inBand && player.Intensities().strayRead()) {
            undo.restore(ws);
            player.ShowWholeFrame();
            measureframe(ws, player, method);
            ++result.framesReadAgainWhole;
        }
        ++result.framesMeasured;
        if (hooks.afterFrame)
            hooks.afterFrame(now);
    }
    return result;
}

bool reductionDue(const FrameTable& table) {
    return CountValidRows(table) >= MinValidRows;
}

} // namespace corvane
