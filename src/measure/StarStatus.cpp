#include "measure/StarStatus.h"

#include <algorithm>

namespace corvane {

bool outsideFrame(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size) {
    return size <= 0 || int64_t{left} + size <= 0 || int64_t{top} + size <= 0 ||
           left >= plane.width() || top >= plane.height();
}

uint16_t brightestIn(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size) {
    if (outsideFrame(plane, left, top, size))
        return 0;
    const int32_t x0 = std::max(left, 0);
    const int32_t y0 = std::max(top, 0);
    const int32_t x1 = static_cast<int32_t>(std::min<int64_t>(int64_t{left} + size, plane.width()));
    const int32_t y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{top} + size, plane.height()));
    uint16_t brightest = 0;
    for (int32_t y = y0; y < y1; ++y) {
        const uint16_t* row = plane.row(y, x0, x1);
        for (int32_t x = x0; x < x1; ++x)
            brightest = std::max(brightest, row[x]);
    }
    return brightest;
}

bool reachesWhite(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size) {
    return !outsideFrame(plane, left, top, size) &&
           brightestIn(plane, left, top, size) >= plane.whiteLevel();
}

StarStatus starStatus(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size,
                      bool lit) {
    // Whatever was found there rests on pixels the file does not hold.
    if (plane.missingIn(left, top, size))
        return StarStatus::MissingPixels;
    if (!lit)
        return outsideFrame(plane, left, top, size) ? StarStatus::OffFrame : StarStatus::TooFaint;
    return reachesWhite(plane, left, top, size) ? StarStatus::Saturated : StarStatus::Found;
}

} // namespace corvane
