#pragma once
// Optional outlier rejection before the reduction: iterated sigma clipping of
// the valid rows on the separation in pixels and on the screen angle.
#include "reduce/Positions.h"

#include <cstdint>
#include <vector>

namespace corvane {

// Smallest clipping limit accepted, in standard deviations: below it the
// clipping would discard a large share of perfectly good frames.
inline constexpr double kMinClipSigma = 1.0;
// Passes at most; each pass only removes rows, so this only bounds the time.
inline constexpr int32_t kMaxClipPasses = 20;

struct ClipResult {
    PairPositions table;                // the rows given, the clipped ones no longer valid
    int32_t removed = 0;                // rows clipped
    std::vector<int32_t> removedFrames; // their frame numbers, in index order
};

// Each pass takes the mean and the standard deviation of the valid rows'
// separation and screen angle (the angles on the side of the wrap nearest
// their common axis, as the reduction's mean takes them) and clears Valid on
// every row more than `sigma` standard deviations from either mean; passes
// repeat until one removes nothing. A pass that would leave fewer than
// MinValidRows rows is not applied. Throws RefusalError (ClipLimitTooSmall)
// for a limit that is not a number of at least kMinClipSigma.
ClipResult clipOutliers(const PairPositions& table, double sigma);

} // namespace corvane
