#include "measure/Methods.h"

#include <cstddef>

namespace corvane {

namespace {

// The intensities of `plane` over the rectangle, row by row (0 outside the frame).
void readPatch(const IntensityPlane& plane, int32_t left, int32_t top, int32_t right,
               int32_t bottom, std::vector<uint16_t>& out) {
    out.clear();
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x)
            out.push_back(static_cast<uint16_t>(plane.at(x, y)));
}

bool samePatch(const IntensityPlane& plane, const SystemBoxPatch& patch) {
    std::size_t i = 0;
    for (int32_t y = patch.top; y < patch.bottom; ++y)
        for (int32_t x = patch.left; x < patch.right; ++x, ++i)
            if (i >= patch.intensities.size() ||
                static_cast<int32_t>(patch.intensities[i]) != plane.at(x, y))
                return false;
    return i == patch.intensities.size();
}

} // namespace

void rejectRepeat(WorkingState& ws, const IntensityPlane& plane, int32_t frame, bool sourceRepeat) {
    if (frame < 0 || static_cast<std::size_t>(frame) >= ws.FrameData.size())
        return;
    SystemBoxPatch& last = ws.LastPatch;
    const bool repeatsPicture = frame > 0 && last.frame == frame - 1 && samePatch(plane, last);
    if (sourceRepeat || repeatsPicture)
        ws.FrameData[static_cast<std::size_t>(frame)].Valid = false;
    const TStarbox& sys = ws.SystemBox;
    last.frame = frame;
    last.left = sys.Left;
    last.top = sys.Top;
    last.right = sys.Right;
    last.bottom = sys.Bottom;
    readPatch(plane, sys.Left, sys.Top, sys.Right, sys.Bottom, last.intensities);
}

bool measureframe(WorkingState& ws, const IntensityPlane& plane, Method method, int32_t frame,
                  int32_t timeMs, bool sourceRepeat) {
    if (!methodEntry(method).measure(ws, plane, frame, timeMs))
        return false;
    rejectRepeat(ws, plane, frame, sourceRepeat);
    return true;
}

} // namespace corvane
