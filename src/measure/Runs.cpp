#include "measure/Runs.h"

#include "measure/Methods.h"
#include "measure/SkyEstimate.h"
#include "video/Player.h"

#include <cstddef>
#include <utility>

namespace corvane {

namespace {

// Rows beyond the sky ring's reach: the kernel of the peak search and a
// pixel of rounding.
constexpr int32_t kBandSlack = 4;

} // namespace

MeasuringBand measuringBand(const TStarbox& systemBox) {
    const int32_t reach = systemBox.Size / 2 + kSkyRingGap + kSkyRingWidth + kBandSlack;
    MeasuringBand band;
    band.top = systemBox.Top - reach;
    band.rows = systemBox.Size + 2 * reach;
    return band;
}

RunResult runFrames(WorkingState& ws, Player& player, Method method, const RunHooks& hooks) {
    RunResult result;
    player.SetTimeFormat(TimeFormat::Frames);
    FrameTable table; // the frame table while the state is copied without it
    WorkingState saved;
    FrameRow rowBefore;
    for (;;) {
        const int32_t stop = hooks.stopFrame();
        const int32_t before = player.CurrentPosition();
        if (before >= stop)
            break;
        if (hooks.cancelRequested && hooks.cancelRequested()) {
            result.cancelled = true;
            break;
        }
        const MeasuringBand band = measuringBand(ws.SystemBox);
        player.StepForwardInBand(band.top, band.rows);
        const int32_t now = player.CurrentPosition();
        // A step that stays put (or wraps back to the start) would never reach
        // the stop frame.
        if (now <= before) {
            result.stoppedMoving = true;
            break;
        }
        const bool inBand = player.Intensities().heldTop() > 0 ||
                            player.Intensities().heldBottom() < player.Intensities().height();
        if (inBand) {
            // What measuring changes, kept to measure again on the whole frame.
            std::swap(table, ws.FrameData);
            saved = ws;
            std::swap(table, ws.FrameData);
            if (static_cast<std::size_t>(now) < ws.FrameData.size())
                rowBefore = ws.FrameData[static_cast<std::size_t>(now)];
            ++result.framesInBand;
        }
        measureframe(ws, player, method);
        if (inBand && player.Intensities().strayRead()) {
            std::swap(table, ws.FrameData);
            ws = saved;
            std::swap(table, ws.FrameData);
            if (static_cast<std::size_t>(now) < ws.FrameData.size())
                ws.FrameData[static_cast<std::size_t>(now)] = rowBefore;
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
