#pragma once
// The level of the sky around a box, and how much it scatters from pixel to
// pixel: what the measuring methods subtract before they weigh intensities,
// and what tells whether a sky is bright enough to matter.
#include "measure/PlaneView.h"
#include "measure/Starbox.h"
#include "video/FrameImage.h"

#include <cstdint>

namespace corvane {

// The ring is a square frame around the box: it leaves kSkyRingGap pixels
// free next to the box, then takes kSkyRingWidth pixels on every side.
inline constexpr int32_t kSkyRingGap = 1;
inline constexpr int32_t kSkyRingWidth = 4;
// Fewer ring pixels on the plane than this and no level is estimated.
inline constexpr int32_t kMinSkyPixels = 32;

enum class SkyStatus {
    Measured,    // level and noise come from the ring
    TooFewPixels // the ring lies (almost) wholly off the plane: level and noise are 0
};

struct SkyEstimate {
    SkyStatus status = SkyStatus::TooFewPixels;
    double level = 0;   // intensity of the sky, fractions of a step included
    double noise = 0;   // robust standard deviation of one sky pixel, intensity steps
    int32_t pixels = 0; // ring pixels the level rests on (after clipping)

    // The whole number of intensity steps the methods subtract: the level
    // rounded half to even. 0 on a black sky, so nothing changes there.
    uint16_t wholeLevel() const;
};

// Sky around the box whose pixels are [left, right) x [top, bottom).
SkyEstimate estimateSky(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                        int32_t bottom);

// How the sky rises across the frame round a point, steps per pixel along x
// and along y: moonlight, twilight or a bright star outside the field lay a
// slope under the stars that a level taken beside a star does not follow.
struct SkySlope {
    double x = 0, y = 0;
};

// The slope of a plane fitted to the sky within kSlopeReachPx of (cx, cy),
// leaving out the pixels within `clear` of it (the stars) and, round by
// round, those more than three noises off the plane (field stars, hot
// pixels). A slope within three of its own standard errors is no slope: 0,
// so that a flat sky reads exactly as before.
inline constexpr int32_t kSlopeReachPx = 128;
SkySlope skySlopeAround(const PlaneView& plane, double cx, double cy, double clear);

// A frame's intensities as a view; samples at its white level count as clipped.
PlaneView viewOf(const IntensityPlane& plane);

// The sky level, in whole intensity steps, that the measuring methods and the
// selection take off every pixel of `box` before they weigh its light: the
// ring estimate around the box, rounded half to even; 0 when the ring is
// (almost) all off the frame.
//
// Why the ring's clipped median and not the box's own darkest pixels or a
// fitted plane: the box is chosen to hold the stars, so its pixels are mostly
// star wherever the pair fills it, and a low percentile of them sinks with
// the noise (on a noise of 3 the 10th percentile lies 4 steps under the sky).
// The ring sits on sky next to the box, a neighbour or a hot pixel in it moves
// the median by a fraction of a step, and it costs one counting sort of about
// 4 x (side + 10) pixels per frame. Whole steps, because the methods weigh
// whole intensities: a black sky (most of the ring at 0) gives exactly 0, so
// the numbers of a dark-sky recording do not change.
uint16_t skyAround(const IntensityPlane& plane, const TStarbox& box);

// That level with the sky's pixel noise around the box (0 when the ring is
// off the frame): what a method needs to tell a star from the sky's noise.
// The level is raised by `noiseSigmas` noises as skyAround below raises it.
struct SkyAround {
    uint16_t level = 0;
    double noise = 0;
};
SkyAround skyAndNoiseAround(const IntensityPlane& plane, const TStarbox& box,
                            double noiseSigmas = 0.0);

// The same level raised by `noiseSigmas` times the sky's pixel noise before
// rounding: what a weighted centre subtracts so that the noise left above
// the sky, which counts as light while what lies below counts as none, does
// not form a pedestal over the box (see findcentroid). A black sky (a level
// that rounds to 0) is left alone: 0, whatever its noise.
uint16_t skyAround(const IntensityPlane& plane, const TStarbox& box, double noiseSigmas);

// The plane with the sky taken off: every sample minus `level`, and what lies
// at or below the level counts as no light (0). With level 0 it reads exactly
// as the plane does.
struct SkySubtractedView {
    PlaneView plane;
    uint16_t level = 0;

    uint16_t at(int32_t x, int32_t y) const {
        const uint16_t v = plane.at(x, y);
        return v > level ? static_cast<uint16_t>(v - level) : uint16_t{0};
    }
};

} // namespace corvane
