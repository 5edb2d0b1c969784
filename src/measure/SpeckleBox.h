#pragma once
// The first step of a speckle measurement: each short exposure's star cut out
// in a square box that follows the star's light from frame to frame, with the
// sky taken off and the edges tapered, ready for its power spectrum.
#include "video/FrameImage.h"

#include <cstdint>
#include <vector>

namespace corvane {

struct BoxCentre {
    double x = 0; // frame pixels, x right, y down
    double y = 0;
};

// The box of side `size` whose centre pixel is nearest `centre`: its top-left
// corner. The box may reach past the frame's edges; those pixels read as sky.
struct BoxCorner {
    int32_t left = 0;
    int32_t top = 0;
};
BoxCorner boxCorner(const BoxCentre& centre, int32_t size);

// The sky under the box: the median of the pixels on its border that lie in
// the frame (0 when none do). A box several seeing discs wide has only
// scattered light there.
float borderSky(const IntensityPlane& plane, const BoxCorner& corner, int32_t size);

// Where the light above `sky` in the box lies: its centroid. The box's own
// centre when the box holds no light above the sky.
BoxCentre lightCentre(const IntensityPlane& plane, const BoxCorner& corner, int32_t size,
                      float sky);

// The box's pixels minus `sky`, row by row (size x size); pixels off the
// frame count as sky.
void cutBox(const IntensityPlane& plane, const BoxCorner& corner, int32_t size, float sky,
            float* out);

// A round taper: 1 inside half the box's radius, falling as a squared
// cosine to 0 at the radius. Round, so that it favours no direction on the
// sky; tapered, so that the box's edges add no streaks to the spectrum.
std::vector<float> apodisingWindow(int32_t size);

// One exposure's box: followed onto the star's light (the box placed on the
// centroid of the light found round `guess`, twice), its sky taken off and
// the window applied. `out` holds size x size values; the returned centre is
// where the light was found, the next frame's guess.
BoxCentre speckleBox(const IntensityPlane& plane, const BoxCentre& guess, int32_t size,
                     const std::vector<float>& window, float* out);

} // namespace corvane
