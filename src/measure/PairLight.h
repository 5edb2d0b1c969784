#pragma once
// Each star's light in one frame, for the pair's magnitude difference: the
// sum of its pixels within a circle round its centre, less what else lies
// there, the sky and the other star's halo, read off the other star's far
// side, where no third light falls. Through the atmosphere a frame's images
// are speckled, and a fitted profile (or the primary's own noisy image as a
// model) captures a share of a star's light that depends on the frame and
// on the star's brightness; a circle's sum captures the same share of both
// stars whatever their shape, and no noise of the frame moves the circle
// when the secondary's is placed by the pair's track.
#include "measure/PlaneView.h"
#include "measure/SkyEstimate.h"

#include <array>
#include <cstddef>
#include <limits>

namespace corvane {

struct PairLight {
    double primary = 0, secondary = 0; // light above the rest within the circles, steps x pixels
    // The secondary's light over the primary's, and its standard error from
    // each pixel's noise; NaN where a circle holds a clipped pixel (its light
    // is only known to be at least white) or leaves the plane.
    double ratio = std::numeric_limits<double>::quiet_NaN();
    double ratioError = std::numeric_limits<double>::quiet_NaN();
};

// The light within `radius` of the primary at (px, py) and of the secondary
// at (sx, sy), plane pixels. `perLight` is the photon noise's variance per
// step of light (1 / gain, 0 where unknown), for the errors. The sky's
// `slope` is taken off every pixel first: the rest read off one star's far
// side lies under the other star tilted by the slope over the distance
// between them, a bias of opposite sign in the two stars' light.
PairLight pairLight(const PlaneView& plane, double px, double py, double sx, double sy,
                    double radius, double perLight, const SkySlope& slope = {});

// The median offset (secondary less primary) of the last frames measured:
// where the pair's track puts the secondary, which one frame's noise does
// not move.
class RecentOffsets {
public:
    static constexpr std::size_t kFrames = 31;

    void add(double dx, double dy);
    bool empty() const { return count_ == 0; }
    double dx() const { return median(dx_); }
    double dy() const { return median(dy_); }

private:
    double median(const std::array<double, kFrames>& v) const;

    std::array<double, kFrames> dx_{}, dy_{};
    std::size_t count_ = 0, next_ = 0;
};

} // namespace corvane
