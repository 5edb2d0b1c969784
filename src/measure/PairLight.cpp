#include "measure/PairLight.h"

#include "measure/FarColumns.h"
#include "measure/Methods.h"
#include "measure/SkyEstimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvane {

namespace {

constexpr double kLightRadiusWidths = 2.0;

// The plane with the sky's slope taken off, about the primary: the light
// above a sloping sky as if it were flat.
struct LevelledPlane {
    const PlaneView& plane;
    SkySlope slope;
    double ox = 0, oy = 0;

    bool contains(int32_t x, int32_t y) const { return plane.contains(x, y); }
    uint16_t raw(int32_t x, int32_t y) const { return plane.at(x, y); }
    // The sample read at (x, y), levelled.
    double levelled(uint16_t sample, int32_t x, int32_t y) const {
        return sample - (slope.x * (x - ox) + slope.y * (y - oy));
    }
};

// One star's light within a circle, less the other star's profile there.
struct CircleLight {
    double light = 0, variance = 0;
    bool known = false;
};

// The mean of the pixels in rings one pixel wide round the other star at
// (bx, by), on its half away from the star measured at (ax, ay): sky and
// that star's halo together, as they lie under the measured star's circle
// (ring radii d - radius .. d + radius). Each ring's mean is linear between
// the rings' middles. The pixels' scatter about their ring's mean is a
// background pixel's noise.
class FarSide {
public:
    FarSide(const LevelledPlane& levelled, double ax, double ay, double bx, double by,
            double radius) {
        const PlaneView& plane = levelled.plane;
        const double ux = ax - bx, uy = ay - by;
        const double d = std::hypot(ux, uy);
        first_ = std::max(0, static_cast<int>(std::floor(d - radius)) - 1);
        const int last = static_cast<int>(std::ceil(d + radius)) + 1;
        sum_.assign(static_cast<std::size_t>(last - first_ + 1), 0.0);
        count_.assign(sum_.size(), 0);
        std::vector<double> squares(sum_.size(), 0.0);
        const double inner = first_, outer = last + 1;
        const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(by - outer)));
        const int32_t y1 = std::min(plane.height - 1, static_cast<int32_t>(std::ceil(by + outer)));
        for (int32_t y = y0; y <= y1; ++y) {
            const double ey = y - by;
            const double reach = std::sqrt(std::max(outer * outer - ey * ey, 0.0));
            const double hole = ey * ey < inner * inner ? std::sqrt(inner * inner - ey * ey) : 0.0;
            // The row's pixels within the outer circle and outside the inner:
            // two runs where the row crosses the hole.
            const int32_t runs[2][2] = {{static_cast<int32_t>(std::floor(bx - reach)),
                                         static_cast<int32_t>(std::ceil(bx - hole))},
                                        {static_cast<int32_t>(std::floor(bx + hole)),
                                         static_cast<int32_t>(std::ceil(bx + reach))}};
            for (int r = 0; r < 2; ++r) {
                const ColumnRun far =
                    farColumns(std::max(runs[r][0], r == 1 ? runs[0][1] + 1 : 0),
                               std::min(runs[r][1], plane.width - 1), bx, ey, ux, uy);
                const uint16_t* row = plane.heldRow(y, far.first, far.last);
                for (int32_t x = far.first; x <= far.last; ++x) {
                    if (!onFarSide(x, bx, ey, ux, uy))
                        continue;
                    const double ex = x - bx;
                    // Not hypot, whose care for overflow costs twice as much.
                    const double rho = std::sqrt(ex * ex + ey * ey);
                    const int b = static_cast<int>(rho) - first_;
                    if (b < 0 || b >= static_cast<int>(sum_.size()))
                        continue;
                    const uint16_t sample = row != nullptr ? row[x] : plane.at(x, y);
                    if (plane.saturated(sample))
                        continue;
                    const double v = levelled.levelled(sample, x, y);
                    const std::size_t k = static_cast<std::size_t>(b);
                    sum_[k] += v;
                    squares[k] += v * v;
                    ++count_[k];
                }
            }
        }
        double scatter = 0;
        int32_t pixels = 0, rings = 0;
        for (std::size_t k = 0; k < sum_.size(); ++k) {
            if (count_[k] == 0)
                continue;
            scatter += squares[k] - sum_[k] * sum_[k] / count_[k];
            pixels += count_[k];
            ++rings;
            sum_[k] /= count_[k];
        }
        noise_ = pixels > rings ? scatter / (pixels - rings) : 0.0;
        weights_.assign(sum_.size(), 0.0);
        bx_ = bx;
        by_ = by;
    }

    // The level at plane pixel (x, y); false where a ring it rests on is empty.
    bool at(int32_t x, int32_t y, double& level) {
        const double ex = x - bx_, ey = y - by_;
        const double t = std::sqrt(ex * ex + ey * ey) - 0.5 - first_;
        const int b = std::max(0, static_cast<int>(std::floor(t)));
        const double f = std::clamp(t - b, 0.0, 1.0);
        const std::size_t k = static_cast<std::size_t>(b);
        if (k + 1 >= sum_.size() || count_[k] == 0 || count_[k + 1] == 0)
            return false;
        level = (1 - f) * sum_[k] + f * sum_[k + 1];
        weights_[k] += 1 - f;
        weights_[k + 1] += f;
        return true;
    }
    double pixelNoise() const { return noise_; }
    // The variance the ring means' own noise gave the levels taken so far,
    // summed: the pixels of one circle share their rings' errors.
    double levelVariance() const {
        double v = 0;
        for (std::size_t k = 0; k < sum_.size(); ++k)
            if (count_[k] > 0)
                v += weights_[k] * weights_[k] * noise_ / count_[k];
        return v;
    }

private:
    int first_ = 0;
    std::vector<double> sum_;
    std::vector<int32_t> count_;
    std::vector<double> weights_;
    double noise_ = 0, bx_ = 0, by_ = 0;
};

CircleLight circleLight(const LevelledPlane& plane, double ax, double ay, double bx, double by,
                        double radius, double perLight) {
    CircleLight out;
    FarSide rest(plane, ax, ay, bx, by, radius);
    const int32_t x0 = static_cast<int32_t>(std::floor(ax - radius));
    const int32_t x1 = static_cast<int32_t>(std::ceil(ax + radius));
    const int32_t y0 = static_cast<int32_t>(std::floor(ay - radius));
    const int32_t y1 = static_cast<int32_t>(std::ceil(ay + radius));
    for (int32_t y = y0; y <= y1; ++y) {
        const uint16_t* row = plane.plane.heldRow(y, x0, x1);
        for (int32_t x = x0; x <= x1; ++x) {
            if ((x - ax) * (x - ax) + (y - ay) * (y - ay) >= radius * radius)
                continue;
            if (row == nullptr && !plane.contains(x, y))
                return out;
            const uint16_t sample = row != nullptr ? row[x] : plane.raw(x, y);
            double level = 0;
            if (plane.plane.saturated(sample) || !rest.at(x, y, level))
                return out;
            const double above = plane.levelled(sample, x, y) - level;
            out.light += above;
            out.variance += rest.pixelNoise() + perLight * std::max(above, 0.0);
        }
    }
    out.variance += rest.levelVariance();
    out.known = true;
    return out;
}

} // namespace

PairLight pairLight(const PlaneView& view, double px, double py, double sx, double sy,
                    double radius, double perLight, const SkySlope& slope) {
    PairLight out;
    if (!(radius > 0) || !std::isfinite(px + py + sx + sy))
        return out;
    const LevelledPlane plane{view, slope, px, py};
    const CircleLight p = circleLight(plane, px, py, sx, sy, radius, perLight);
    const CircleLight s = circleLight(plane, sx, sy, px, py, radius, perLight);
    if (!p.known || !s.known || !(p.light > 0))
        return out;
    out.primary = p.light;
    out.secondary = s.light;
    out.ratio = s.light / p.light;
    out.ratioError = std::sqrt(s.variance + out.ratio * out.ratio * p.variance) / p.light;
    return out;
}

double lightRadius(const WorkingState& ws, double fwhm) {
    return kLightRadiusWidths * (ws.SelectionFwhmPx > 0 ? ws.SelectionFwhmPx : fwhm);
}

void storeLightRatio(FrameRow& row, const IntensityPlane& plane, double px, double py, double dx,
                     double dy, double radius, double perLight, const SkySlope& slope) {
    const PairLight light =
        pairLight(viewOf(plane), px, py, px + dx, py + dy, radius, perLight, slope);
    row.FluxRatio = static_cast<float>(light.ratio);
    row.FluxRatioError = static_cast<float>(light.ratioError);
}

void RecentOffsets::add(double dx, double dy) {
    dx_[next_] = dx;
    dy_[next_] = dy;
    next_ = (next_ + 1) % kFrames;
    count_ = std::min(count_ + 1, kFrames);
}

double RecentOffsets::median(const std::array<double, kFrames>& v) const {
    std::array<double, kFrames> w = v;
    const auto mid = w.begin() + static_cast<std::ptrdiff_t>(count_ / 2);
    std::nth_element(w.begin(), mid, w.begin() + static_cast<std::ptrdiff_t>(count_));
    return *mid;
}

} // namespace corvane
