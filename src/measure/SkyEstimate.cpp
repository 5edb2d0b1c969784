#include "measure/SkyEstimate.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace corvane {

// Why a ring, and why these numbers:
// - The box is placed to hold the stars with room to spare, so just outside it
//   there is sky; a ring all round is symmetric about the box, so a sky that
//   brightens linearly across the field (moonlight, a gradient towards the
//   horizon) has the value at the box's centre as its median.
// - One free pixel next to the box keeps out the wing of a star that sits at
//   the box's edge; four pixels of width give about 300 pixels around a
//   12-pixel box (the median then scatters by about 0.07 of the pixel noise)
//   and keep the ring close enough that the sky there is the sky in the box.
// - The median, not the mean: a field star or a hot pixel in the ring pulls a
//   mean by its whole light, a median only by the share of pixels it covers.
//   Clipping at three robust sigmas (from the interquartile range), repeated,
//   then drops the star's bright pixels altogether, so only its faint wings
//   remain to shift the level.
// - Pixels of the ring that lie off the plane are left out rather than read as
//   black: at the frame's edge the level comes from the part of the ring that
//   is on the frame. Only when too little of it is left is there no estimate.
// - A sky whose noise the camera cuts off at its black level (more than half
//   the pixels on the floor, as in some processed 16-bit recordings) reads as
//   the floor, with no noise: the light the noise leaves above the floor is
//   not sky this estimate can see.

namespace {

constexpr double kClipSigmas = 3.0;
constexpr int kMaxClipRounds = 5;
// Interquartile range to standard deviation, for Gaussian noise.
constexpr double kIqrPerSigma = 1.3489795003921634;

// Samples sorted ascending; clipping narrows them to a run of this order.
struct SortedSamples {
    const uint16_t* begin = nullptr;
    std::size_t size = 0;
    const uint16_t* end() const { return begin + size; }
};

// The q-quantile of whole-numbered samples (sorted ascending), interpolated
// within the step that holds rank q * N as if that step's samples spread
// evenly over it. Plain quantiles of integers snap to whole steps: the median
// could only say "20" where the sky is 20.3, and the spread of a 3-step noise
// would come out 15 % off. Interpolated, they follow the sky to a fraction of
// a step; for samples that are all equal they give exactly their value (0 on
// a black sky).
double interpolatedQuantile(SortedSamples sorted, double q) {
    const double n = static_cast<double>(sorted.size);
    const double rank = q * n;
    const std::size_t index = std::min(static_cast<std::size_t>(rank), sorted.size - 1);
    const uint16_t m = sorted.begin[index];
    const auto range = std::equal_range(sorted.begin, sorted.end(), m);
    const double below = static_cast<double>(range.first - sorted.begin);
    const double at = static_cast<double>(range.second - range.first);
    return (m - 0.5) + (rank - below) / at;
}

struct LevelAndNoise {
    double level = 0, noise = 0;
};

// The median and, for the noise, the interquartile range: both ignore what
// happens in the outer quarters, where a star's light lands.
LevelAndNoise levelAndNoise(SortedSamples values) {
    LevelAndNoise out;
    out.level = interpolatedQuantile(values, 0.5);
    // When the middle half of the samples all share one step, the scatter is
    // below what whole steps can show (a black or noiseless sky): 0, rather
    // than the spread of the step itself.
    const std::size_t n = values.size;
    if (values.begin[n / 4] == values.begin[std::min(3 * n / 4, n - 1)])
        return out;
    out.noise =
        (interpolatedQuantile(values, 0.75) - interpolatedQuantile(values, 0.25)) / kIqrPerSigma;
    return out;
}

// Sorts the ring's samples. A sky spans few intensity steps, so counting
// them is cheaper than comparing; a ring that spans many steps is sorted.
void sortSamples(std::vector<uint16_t>& values) {
    if (values.empty())
        return;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const uint16_t low = *lo;
    const std::size_t span = static_cast<std::size_t>(*hi - low) + 1;
    if (span > 4 * values.size()) {
        std::sort(values.begin(), values.end());
        return;
    }
    std::vector<uint32_t> counts(span, 0);
    for (uint16_t v : values)
        ++counts[v - low];
    auto out = values.begin();
    for (std::size_t i = 0; i < span; ++i)
        out = std::fill_n(out, counts[i], static_cast<uint16_t>(low + i));
}

// The samples within `limit` of `level`. Whether |v - level| <= limit holds
// for a run of the sorted samples, since v - level grows with v; the run is
// found by halving rather than by testing every sample.
SortedSamples within(SortedSamples values, double level, double limit) {
    const uint16_t* first = std::partition_point(values.begin, values.end(),
                                                 [&](uint16_t v) { return v - level < -limit; });
    const uint16_t* last =
        std::partition_point(first, values.end(), [&](uint16_t v) { return v - level <= limit; });
    return {first, static_cast<std::size_t>(last - first)};
}

// Samples [x0, x1) of row y, appended to `out`; a read outside the part
// the view holds is marked.
void appendRow(const PlaneView& plane, int64_t y, int64_t x0, int64_t x1,
               std::vector<uint16_t>& out) {
    if (x0 >= x1)
        return;
    if ((y < plane.heldTop || y >= plane.heldBottom || x0 < plane.heldLeft ||
         x1 > plane.heldRight) &&
        plane.strayRead)
        *plane.strayRead = true;
    const uint16_t* row = plane.samples + static_cast<std::ptrdiff_t>(y) * plane.stride;
    out.insert(out.end(), row + x0, row + x1);
}

// Edges in 64 bits: a box near the ends of the 32-bit range must not wrap.
std::vector<uint16_t> ringSamples(const PlaneView& plane, int64_t left, int64_t top, int64_t right,
                                  int64_t bottom) {
    const int64_t innerLeft = left - kSkyRingGap, innerRight = right + kSkyRingGap;
    const int64_t innerTop = top - kSkyRingGap, innerBottom = bottom + kSkyRingGap;
    const int64_t x0 = std::max<int64_t>(innerLeft - kSkyRingWidth, 0);
    const int64_t x1 = std::min<int64_t>(innerRight + kSkyRingWidth, plane.width);
    const int64_t y0 = std::max<int64_t>(innerTop - kSkyRingWidth, 0);
    const int64_t y1 = std::min<int64_t>(innerBottom + kSkyRingWidth, plane.height);
    std::vector<uint16_t> out;
    if (plane.samples == nullptr || x0 >= x1 || y0 >= y1)
        return out;
    out.reserve(static_cast<std::size_t>((x1 - x0) * (y1 - y0)));
    for (int64_t y = y0; y < y1; ++y) {
        if (y >= innerTop && y < innerBottom) {
            // Beside the box: the strips left and right of it and its gap.
            appendRow(plane, y, x0, std::min(innerLeft, x1), out);
            appendRow(plane, y, std::max(innerRight, x0), x1, out);
        } else {
            appendRow(plane, y, x0, x1, out);
        }
    }
    return out;
}

} // namespace

uint16_t SkyEstimate::wholeLevel() const {
    return static_cast<uint16_t>(std::clamp(std::nearbyint(level), 0.0, 65535.0));
}

SkyEstimate estimateSky(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                        int32_t bottom) {
    SkyEstimate sky;
    std::vector<uint16_t> samples = ringSamples(plane, left, top, right, bottom);
    if (samples.size() < static_cast<std::size_t>(kMinSkyPixels))
        return sky;

    // Clipping keeps the order, so one sort serves every round, and what a
    // round keeps is a run of the sorted samples.
    sortSamples(samples);
    SortedSamples values{samples.data(), samples.size()};
    LevelAndNoise est = levelAndNoise(values);
    for (int round = 0; round < kMaxClipRounds; ++round) {
        // Half a step more than three sigmas: samples are whole numbers, so a
        // sky without scatter keeps every sample of its own step.
        const double limit = kClipSigmas * est.noise + 0.5;
        const SortedSamples kept = within(values, est.level, limit);
        if (kept.size == values.size || kept.size < static_cast<std::size_t>(kMinSkyPixels))
            break;
        values = kept;
        est = levelAndNoise(values);
    }
    sky.status = SkyStatus::Measured;
    sky.level = est.level;
    sky.noise = est.noise;
    sky.pixels = static_cast<int32_t>(values.size);
    return sky;
}

SkySlope skySlopeAround(const PlaneView& plane, double cx, double cy, double clear) {
    // Pixels of the square round the point, counted from it, outside the
    // stars' circle and not clipped.
    const double reach = std::max(static_cast<double>(kSlopeReachPx), 2 * clear);
    const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(cx - reach)));
    const int32_t x1 = std::min(plane.width - 1, static_cast<int32_t>(std::ceil(cx + reach)));
    const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(cy - reach)));
    const int32_t y1 = std::min(plane.height - 1, static_cast<int32_t>(std::ceil(cy + reach)));
    struct Sample {
        double x, y, v;
    };
    std::vector<Sample> samples;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            const double dx = x - cx, dy = y - cy;
            const uint16_t v = plane.at(x, y);
            if (dx * dx + dy * dy > clear * clear && !plane.saturated(v))
                samples.push_back({dx, dy, static_cast<double>(v)});
        }
    constexpr std::size_t kMinSamples = 64;
    SkySlope slope;
    Eigen::Vector3d plane3 = Eigen::Vector3d::Zero();
    Eigen::Matrix3d inverse = Eigen::Matrix3d::Zero();
    double variance = 0;
    double limit = std::numeric_limits<double>::infinity();
    for (int round = 0; round < kMaxClipRounds; ++round) {
        Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
        Eigen::Vector3d rhs = Eigen::Vector3d::Zero();
        std::size_t used = 0;
        for (const Sample& s : samples) {
            const Eigen::Vector3d row(1.0, s.x, s.y);
            if (!(std::fabs(s.v - row.dot(plane3)) <= limit))
                continue;
            normal += row * row.transpose();
            rhs += row * s.v;
            ++used;
        }
        if (used < kMinSamples || std::fabs(normal.determinant()) <= 0)
            return slope;
        inverse = normal.inverse();
        plane3 = inverse * rhs;
        // The residuals' robust spread sets the next round's clip and the
        // slope's errors.
        std::vector<double> off;
        off.reserve(samples.size());
        double sum2 = 0;
        for (const Sample& s : samples) {
            const double r = s.v - Eigen::Vector3d(1.0, s.x, s.y).dot(plane3);
            off.push_back(std::fabs(r));
            if (std::fabs(r) <= limit)
                sum2 += r * r;
        }
        variance = sum2 / static_cast<double>(used - 3);
        auto mid = off.begin() + static_cast<std::ptrdiff_t>(off.size() / 2);
        std::nth_element(off.begin(), mid, off.end());
        const double next = kClipSigmas * 1.4826 * *mid;
        if (!(next > 0) || next == limit)
            break;
        limit = next;
    }
    // Significant as a pair: the slope's chi-square on its two errors.
    const Eigen::Vector2d g(plane3[1], plane3[2]);
    const Eigen::Matrix2d cov = inverse.bottomRightCorner<2, 2>() * variance;
    const bool flat = g.isZero(0) || (cov.determinant() > 0 &&
                                      g.dot(cov.inverse() * g) <= kClipSigmas * kClipSigmas);
    if (!flat) {
        slope.x = g[0];
        slope.y = g[1];
    }
    return slope;
}

PlaneView viewOf(const IntensityPlane& plane) {
    PlaneView view;
    if (plane.empty())
        return view;
    view.samples = plane.samples();
    view.heldLeft = plane.heldLeft();
    view.heldTop = plane.heldTop();
    view.heldRight = plane.heldRight();
    view.heldBottom = plane.heldBottom();
    view.strayRead = plane.strayReadFlag();
    view.width = plane.width();
    view.height = plane.height();
    view.stride = plane.width();
    view.saturation = static_cast<uint16_t>(std::clamp(plane.whiteLevel(), 0, 65535));
    return view;
}

uint16_t skyAround(const IntensityPlane& plane, const TStarbox& box) {
    return skyAround(plane, box, 0.0);
}

SkyAround skyAndNoiseAround(const IntensityPlane& plane, const TStarbox& box, double noiseSigmas) {
    SkyEstimate sky = estimateSky(viewOf(plane), box.Left, box.Top, box.Right, box.Bottom);
    if (sky.status != SkyStatus::Measured)
        return {};
    // A black sky (a level that rounds to 0) takes nothing off, noise or not:
    // a dark-sky recording is measured exactly as it always was.
    if (sky.wholeLevel() != 0)
        sky.level += noiseSigmas * sky.noise;
    return {sky.wholeLevel(), sky.noise};
}

uint16_t skyAround(const IntensityPlane& plane, const TStarbox& box, double noiseSigmas) {
    return skyAndNoiseAround(plane, box, noiseSigmas).level;
}

} // namespace corvane
