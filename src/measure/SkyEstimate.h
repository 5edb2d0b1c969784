#pragma once
// The level of the sky around a box, and how much it scatters from pixel to
// pixel: what the measuring methods subtract before they weigh intensities,
// and what tells whether a sky is bright enough to matter.
#include "measure/PlaneView.h"

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
