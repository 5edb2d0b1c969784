#pragma once
// Runs over frames: one loop that steps the player forward and measures each
// frame with the chosen method, used by the window and by headless callers.
#include "measure/FrameTable.h"
#include "measure/WorkingState.h"
#include "video/FrameImage.h"

#include <cstdint>
#include <functional>

namespace corvane {

class Player;

struct RunHooks {
    // The last frame to measure, read again before every frame (the window
    // reads its stop-frame field). Required.
    std::function<int32_t()> stopFrame;
    // Asked before every frame; true ends the run there. Optional. The window
    // lets its events through here, so the display stays live during a run.
    std::function<bool()> cancelRequested;
    // Called after every measured frame with its number. Optional.
    std::function<void(int32_t frame)> afterFrame;
};

struct RunResult {
    int32_t framesMeasured = 0;
    bool cancelled = false;
    // The player did not move forward on a step (it cannot step further).
    bool stoppedMoving = false;
    // Frames read only in the band around the system box, and those of them
    // whose measuring reached outside the band and were measured again whole.
    int32_t framesInBand = 0;
    int32_t framesReadAgainWhole = 0;
};

// The part of a frame read for measuring: the system box with half its size
// and the sky ring's reach on every side, where the pair can move to from one
// frame to the next. A measurement that reaches further is measured again on
// the whole frame, so the band only saves reading.
PixelRect measuringBand(const TStarbox& systemBox);

// Measures the frames after the current one up to and including the stop
// frame: per frame StepForwardInBand (only the measuring band is read where
// the source can, and the panel is left alone: a display shows the frame
// whole with Player::ShowWholeFrame when it draws), measure with `method`,
// afterFrame. The numbers are those of whole frames. Ends when
// the position reaches the stop frame, on a cancel, or when a step does not
// move the player forward. The player is kept in frame time format.
RunResult runFrames(WorkingState& ws, Player& player, Method method, const RunHooks& hooks);

// The reduction follows a run when more than 15 rows of the whole table are valid.
bool reductionDue(const FrameTable& table);

} // namespace corvane
