#include "measure/Methods.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace corvane {

namespace {

// Whether the rectangle lies wholly on the plane, so its rows are read as they are.
bool onPlane(const IntensityPlane& plane, int32_t left, int32_t top, int32_t right,
             int32_t bottom) {
    return left >= 0 && top >= 0 && left <= right && top <= bottom && right <= plane.width() &&
           bottom <= plane.height();
}

// The intensities of `plane` over the rectangle, row by row (0 outside the frame).
void readPatch(const IntensityPlane& plane, int32_t left, int32_t top, int32_t right,
               int32_t bottom, std::vector<uint16_t>& out) {
    out.clear();
    if (onPlane(plane, left, top, right, bottom)) {
        const std::size_t w = static_cast<std::size_t>(right - left);
        out.resize(w * static_cast<std::size_t>(bottom - top));
        for (int32_t y = top; y < bottom; ++y)
            std::copy_n(plane.row(y, left, right) + left, w,
                        out.data() + static_cast<std::size_t>(y - top) * w);
        return;
    }
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x)
            out.push_back(static_cast<uint16_t>(plane.at(x, y)));
}

bool samePatch(const IntensityPlane& plane, const SystemBoxPatch& patch) {
    if (onPlane(plane, patch.left, patch.top, patch.right, patch.bottom)) {
        const std::size_t w = static_cast<std::size_t>(patch.right - patch.left);
        if (patch.intensities.size() != w * static_cast<std::size_t>(patch.bottom - patch.top))
            return false;
        for (int32_t y = patch.top; y < patch.bottom; ++y)
            if (std::memcmp(plane.row(y, patch.left, patch.right) + patch.left,
                            patch.intensities.data() + static_cast<std::size_t>(y - patch.top) * w,
                            w * sizeof(uint16_t)) != 0)
                return false;
        return true;
    }
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
    if (sourceRepeat || repeatsPicture) {
        FrameRow& row = ws.FrameData[static_cast<std::size_t>(frame)];
        row.Valid = false;
        row.Rejection = RowRejection::Repeat;
    }
    const TStarbox& sys = ws.SystemBox;
    last.frame = frame;
    last.left = sys.Left;
    last.top = sys.Top;
    last.right = sys.Right;
    last.bottom = sys.Bottom;
    readPatch(plane, sys.Left, sys.Top, sys.Right, sys.Bottom, last.intensities);
}

bool measureframe(WorkingState& ws, const IntensityPlane& plane, Method method, int32_t frame,
                  int64_t timeUs, bool sourceRepeat) {
    if (!methodEntry(method).measure(ws, plane, frame, timeUs))
        return false;
    rejectRepeat(ws, plane, frame, sourceRepeat);
    return true;
}

} // namespace corvane
