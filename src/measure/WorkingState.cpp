#include "measure/WorkingState.h"

namespace corvane {

// Every cell goes back to 0, so cells that convolve does not compute never
// hold values of an earlier frame. The storage is kept, so a frame after the
// first costs no allocation.
void SmoothedGridT::setSize(int32_t s) {
    size_ = s > 0 ? s : 0;
    cells_.assign(static_cast<std::size_t>(size_) * static_cast<std::size_t>(size_), 0);
}

void MeasuringUndo::keep(const WorkingState& ws, int32_t frame) {
    primary_ = ws.PrimaryBox;
    secondary_ = ws.SecondaryBox;
    system_ = ws.SystemBox;
    skyLevel_ = ws.SkyLevel;
    skyNoise_ = ws.SkyNoise;
    patch_ = ws.LastPatch; // the storage is kept from frame to frame
    method_ = ws.MethodRun;
    const bool inTable = frame >= 0 && static_cast<std::size_t>(frame) < ws.FrameData.size();
    frame_ = inTable ? frame : -1;
    if (inTable)
        row_ = ws.FrameData[static_cast<std::size_t>(frame)];
}

void MeasuringUndo::restore(WorkingState& ws) const {
    ws.PrimaryBox = primary_;
    ws.SecondaryBox = secondary_;
    ws.SystemBox = system_;
    ws.SkyLevel = skyLevel_;
    ws.SkyNoise = skyNoise_;
    ws.LastPatch = patch_;
    ws.MethodRun = method_;
    if (frame_ >= 0 && static_cast<std::size_t>(frame_) < ws.FrameData.size())
        ws.FrameData[static_cast<std::size_t>(frame_)] = row_;
}

} // namespace corvane
