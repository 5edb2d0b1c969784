#pragma once
// How a star looked for in a square of the frame came out (see StarStatus):
// the part both methods share.
#include "measure/FrameTable.h"
#include "video/FrameImage.h"

#include <cstdint>

namespace corvane {

// Whether the square [left, left + size) x [top, top + size) lies wholly
// outside the frame.
bool outsideFrame(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size);

// Whether a pixel of the square (its part inside the frame) reaches the
// frame's white level.
bool reachesWhite(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size);

// The brightest sample of the square (its part inside the frame); 0 when it
// lies wholly outside.
uint16_t brightestIn(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size);

// A star looked for in the square: `lit` tells whether light above the sky
// was found there. Unlit: off the frame when the square lies wholly outside
// it, else too faint. Lit: saturated when a pixel reaches the white level,
// else found.
StarStatus starStatus(const IntensityPlane& plane, int32_t left, int32_t top, int32_t size,
                      bool lit);

} // namespace corvane
