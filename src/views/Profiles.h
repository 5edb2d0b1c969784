#pragma once
// Intensity profiles of the system box for the graphs window: the mean light
// of the lit pixels along every row and every column of the box.
#include "measure/Starbox.h"
#include "video/FrameImage.h"

#include <vector>

namespace corvane {

// An intensity above this counts a pixel as lit (8-bit steps; a deeper frame
// takes the same share of its white level).
inline constexpr int LitThreshold = 2;

struct ProfilePoint {
    double x;
    double y;
};

struct Profiles {
    std::vector<ProfilePoint> rows;    // x = row 0..n-1, for the "Ypositions" chart
    std::vector<ProfilePoint> columns; // x = column 0..n-1, for the "X positions" chart
};

// n = Bottom - Top of the box; the grid is n x n frame pixels from (Left,
// Top), the same n across and down. Each point's y is sum / (1 + lit pixels) rounded half
// to even, with the sum and the count held as 32-bit floats. A box that was
// never placed (n <= 0) gives no points.
Profiles computeProfiles(const IntensityPlane& plane, const TStarbox& box);

} // namespace corvane
