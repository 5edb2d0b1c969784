#pragma once
// What the reduction reads of a measurement: for every frame, both stars'
// measured positions, their separation and screen angle, when the frame was
// taken and whether it is accepted. Plain data, filled by whoever measured
// the frames (the session fills it from the frame table).
#include "common/ValidRows.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {

struct PairPosition {
    float PrimaryX = 0; // frame pixels
    float PrimaryY = 0;
    float SecondaryX = 0;
    float SecondaryY = 0;
    float SepPixels = 0;   // pixels
    float ScreenAngle = 0; // degrees, -90..+90, counter-clockwise from screen +x
    int64_t TimeUs = 0;    // microseconds since the first frame
    int32_t FrameNo = 0;   // for the messages that name a frame
    bool Valid = false;    // accepted: only these rows are reduced
    // The secondary's light over the primary's, where the method gives it
    // (NaN otherwise).
    float FluxRatio = std::numeric_limits<float>::quiet_NaN();
    // Rejected only because the secondary's own fit lost it in this frame
    // (too faint, merged or off the track) while the primary held: its
    // light ratio still counts towards the magnitude difference. The
    // light is read where the track puts the secondary, not where the fit
    // put it, so a frame's ratio does not depend on that fit; leaving such
    // frames out would keep those where a faint companion happened to be
    // bright.
    bool RatioOnly = false;
    // The method's own standard errors of this frame's separation (pixels)
    // and screen angle (degrees); NaN where it gives none. Where every
    // accepted frame has them, the means weigh the frames by them.
    float SepPixelsError = std::numeric_limits<float>::quiet_NaN();
    float ScreenAngleError = std::numeric_limits<float>::quiet_NaN();
};

using PairPositions = std::vector<PairPosition>;

int32_t CountValidRows(const PairPositions& rows);

} // namespace corvane
