#pragma once
// Finding the pair without clicks: the two brightest stars that stand apart
// on a frame, the brighter as the primary, found with the peak search's blob
// finder over the whole frame.
#include "video/FrameImage.h"

#include <cstdint>

namespace corvane {

struct FoundPair {
    // Each star's centre to the nearest frame pixel: where a user would click.
    int32_t primaryX = 0, primaryY = 0;
    int32_t secondaryX = 0, secondaryY = 0;
};

// A third star at least this fraction of the secondary's peak makes the pair
// unclear: which two are meant cannot be told from brightness.
inline constexpr double kClearPairRatio = 0.5;
// Stars closer than this (pixels between the brightest pixels) are one star
// to the finder, not a pair.
inline constexpr int32_t kMinPairSeparationPx = 4;

// The pair on `plane`. Throws corvane::Error with a message that says why
// when the frame holds no clear pair: no star above the sky, one star only,
// a third star nearly as bright as the secondary, two stars too close to
// tell apart, or a frame too widely lit to tell stars from sky.
FoundPair findPair(const IntensityPlane& plane);

} // namespace corvane
