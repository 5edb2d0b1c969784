#pragma once
// Artificial stars: a copy of the primary's own image put into a frame where
// only sky lies, and the pair of the primary and that copy measured by a
// method as if the user had clicked them. Where the copy was put is known,
// so what the method reads for it shows the method's pull at the pair's
// geometry: the primary's halo under a faint companion, an overlap, the
// seeing's speckles. This file holds the work on one frame's intensities;
// the session samples the frames and sums up.
#include "measure/FrameTable.h"
#include "measure/Methods.h"
#include "video/FrameImage.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// A square of a star's light above the sky, (2 half + 1) pixels on a side,
// row by row, centred on the pixel the star was cut around.
struct StarImage {
    int32_t half = 0;
    std::vector<float> light;
};

// The secondary taken out of the frame: each pixel within `half` of (sx, sy)
// that lies nearer the secondary than the primary (px, py) takes the
// intensity of the pixel mirrored through the primary, which holds the
// primary's halo at the same distance and the sky's noise, and no
// secondary. Pixels whose mirror lies off the frame are left.
void eraseSecondary(IntensityPlane& plane, double px, double py, double sx, double sy,
                    int32_t half);

// The light above `sky` in the square of `half` around pixel (cx, cy);
// pixels off the frame hold none.
StarImage cutStar(const IntensityPlane& plane, int32_t cx, int32_t cy, int32_t half, double sky);

// The image added to the frame centred on pixel (cx, cy), scaled by `ratio`,
// clipped at the plane's white level. Each pixel's addition goes to whole
// steps up or down at random (seeded by `seed`) in proportion to its
// fraction, so a faint copy keeps the light of its wings, which plain
// rounding would drop where it is below half a step.
void addStar(IntensityPlane& plane, const StarImage& star, int32_t cx, int32_t cy, double ratio,
             uint64_t seed);

// The secondary's light at pixel (sx, sy) and the primary's at (px, py),
// summed within `radius` pixels: the secondary's less the same disc
// mirrored through the primary (which holds the primary's halo and the
// sky, without the secondary), the primary's less `sky` on each pixel.
struct PairLight {
    double primary = 0, secondary = 0;
};
PairLight pairLight(const IntensityPlane& plane, int32_t px, int32_t py, int32_t sx, int32_t sy,
                    double radius, double sky);

// The pair of the primary at pixel (px, py) and a star at (sx, sy) measured on
// `plane` by `measure`, as a run's first frame after the user clicked both
// with boxes of `boxSize`: the row it wrote, when that row was accepted.
// `yScale` is the run's (rows hold y times it).
using MeasureFrame = bool (*)(WorkingState& ws, const IntensityPlane& plane, int32_t frame,
                              int64_t timeUs);
std::optional<FrameRow> measureClickedPair(MeasureFrame measure, const IntensityPlane& plane,
                                           int32_t px, int32_t py, int32_t sx, int32_t sy,
                                           int32_t boxSize, float yScale, int64_t timeUs);

} // namespace corvane
