#pragma once
// Bringing the working state back to a known point for the open video.
#include "measure/WorkingState.h"

#include <cstdint>
#include <functional>

namespace corvane {

class Player;

// Frame time format; the table emptied, then VideoLength + 1 zero rows; the
// method's state and the kept system-box patch dropped.
// With no video open VideoLength throws "No MCI device open" after the table
// was emptied.
void cleardata(WorkingState& ws, Player& player);

// The video part of the reset: frame time format, cleardata, SeekTo(1),
// SeekToStart, SeekTo(startFrame). The star boxes, the expected offset and
// YScale stay as they are.
void resetvideo(WorkingState& ws, Player& player, int32_t startFrame);
// The same, with the start frame read only once the table has been cleared:
// the window reads it from its start-frame field, which is empty (and would
// not convert) until a video has been opened, when cleardata fails first.
void resetvideo(WorkingState& ws, Player& player, const std::function<int32_t()>& startFrame);

} // namespace corvane
