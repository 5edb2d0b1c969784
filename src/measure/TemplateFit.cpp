#include "measure/TemplateFit.h"

#include "measure/FarColumns.h"
#include "measure/FitSolver.h"
#include "measure/NoiseModel.h"
#include "measure/PsfFit.h"
#include "measure/SkyEstimate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace corvane {

namespace {

// The template is shifted by Lanczos-3 interpolation (sinc windowed by a
// sinc three pixels wide, six taps per axis, the weights normalised to sum
// to one so that a flat sky stays flat). Why not bilinear or bicubic: both
// smooth the image by an amount that depends on the sub-pixel shift (none at
// a whole pixel, most at half a pixel), so the fitted offset would be drawn
// toward whole or half pixels and the separations of a drifting pair would
// carry a ripple at the pixel period; the windowed sinc keeps nearly the
// whole band of a seeing image sampled at two or more pixels per width, and
// its derivative by the shift, which the solver needs, is smooth.
constexpr int kTaps = 6;     // taps floor - 2 .. floor + 3
constexpr int kTapsBack = 2; // taps before the floor
constexpr double kPi = 3.141592653589793;

double sinc(double x) {
    if (std::fabs(x) < 1e-9)
        return 1.0;
    return std::sin(kPi * x) / (kPi * x);
}
double sincDerivative(double x) {
    if (std::fabs(x) < 1e-9)
        return 0.0;
    const double px = kPi * x;
    return (std::cos(px) * px - std::sin(px)) / (kPi * x * x);
}

// The weights of one axis for a sample at `base + phase` (phase in [0, 1)),
// with their derivatives by the phase.
struct AxisKernel {
    int32_t base = 0;
    double w[kTaps], dw[kTaps];
    double sumSquares = 0;        // how much of one pixel's noise the sample keeps
    double derivativeSquares = 0; // the slope's
    double weightSlope = 0;       // half the derivative of sumSquares by the phase

    void set(double position) {
        const double f = std::floor(position);
        base = static_cast<int32_t>(f);
        const double phase = position - f;
        double sum = 0, dsum = 0;
        for (int k = 0; k < kTaps; ++k) {
            const double t = phase - (k - kTapsBack);
            w[k] = sinc(t) * sinc(t / 3.0);
            dw[k] = sincDerivative(t) * sinc(t / 3.0) + sinc(t) * sincDerivative(t / 3.0) / 3.0;
            sum += w[k];
            dsum += dw[k];
        }
        sumSquares = 0;
        derivativeSquares = 0;
        weightSlope = 0;
        for (int k = 0; k < kTaps; ++k) {
            w[k] /= sum;
            dw[k] = (dw[k] - w[k] * dsum) / sum;
            sumSquares += w[k] * w[k];
            derivativeSquares += dw[k] * dw[k];
            weightSlope += w[k] * dw[k];
        }
    }
};

// A padded image of light above the sky: plane pixel (x, y) at index
// (x - originX, y - originY); zero outside.
struct Grid {
    const double* data = nullptr;
    int32_t originX = 0, originY = 0, width = 0, height = 0;

    double at(int32_t x, int32_t y) const {
        const int32_t i = x - originX, j = y - originY;
        if (i < 0 || j < 0 || i >= width || j >= height)
            return 0.0;
        return data[static_cast<std::ptrdiff_t>(j) * width + i];
    }
};

// The grid shifted by (dx, dy) and sampled at plane pixel (x, y), i.e. the
// grid's light at (x - dx, y - dy), with its derivatives by the kernels'
// phases (the shift's derivatives are their negatives).
struct Sample {
    double value, byPhaseX, byPhaseY;
};

// Samples of the shifted grid for every pixel of a rectangle at once, one
// axis after the other: the rows filtered once along x, then each pixel
// along y, which costs a third of filtering each pixel in both.
class ShiftedCopy {
public:
    // The filtered rows and their slopes go into the fitter's storage.
    ShiftedCopy(std::vector<double>& rows, std::vector<double>& slopes) : h_(rows), hd_(slopes) {}

    void set(const Grid& g, const AxisKernel& kx, const AxisKernel& ky, int32_t x0, int32_t y0,
             int32_t x1, int32_t y1) {
        kx_ = &kx;
        ky_ = &ky;
        x0_ = x0;
        width_ = x1 - x0;
        firstRow_ = y0 + ky.base - kTapsBack;
        const int32_t rows = y1 - y0 + kTaps - 1;
        const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(width_);
        h_.resize(n);
        hd_.resize(n);
        // Where a sample's taps all lie on the grid, tap after tap over the
        // row: each sample's sum is taken in the same order as one at a time,
        // and the row's samples go two to an instruction.
        const int32_t lead = x0 + kx.base - kTapsBack - g.originX;
        const int32_t inFirst = std::clamp(-lead, 0, width_);
        const int32_t inEnd = std::clamp(g.width - kTaps - lead + 1, inFirst, width_);
        for (int32_t j = 0; j < rows; ++j) {
            const int32_t gy = firstRow_ + j - g.originY;
            const bool onGrid = gy >= 0 && gy < g.height;
            double* __restrict h = h_.data() + static_cast<std::size_t>(j) * width_;
            double* __restrict hd = hd_.data() + static_cast<std::size_t>(j) * width_;
            if (onGrid) {
                const double* __restrict src =
                    g.data + static_cast<std::ptrdiff_t>(gy) * g.width + lead;
                for (int32_t i = inFirst; i < inEnd; ++i)
                    h[i] = hd[i] = 0;
                for (int k = 0; k < kTaps; ++k) {
                    const double w = kx.w[k], dw = kx.dw[k];
                    for (int32_t i = inFirst; i < inEnd; ++i) {
                        h[i] += w * src[i + k];
                        hd[i] += dw * src[i + k];
                    }
                }
            }
            // The samples whose taps reach off the grid, where it is zero.
            for (int32_t i = 0; i < width_; ++i) {
                if (onGrid && i == inFirst)
                    i = inEnd;
                if (i >= width_)
                    break;
                const int32_t first = x0 + i + kx.base - kTapsBack;
                double sum = 0, slope = 0;
                for (int k = 0; k < kTaps; ++k) {
                    const double v = g.at(first + k, firstRow_ + j);
                    sum += kx.w[k] * v;
                    slope += kx.dw[k] * v;
                }
                h[i] = sum;
                hd[i] = slope;
            }
        }
    }
    Sample at(int32_t x, int32_t y) const {
        const std::size_t first =
            static_cast<std::size_t>(y + ky_->base - kTapsBack - firstRow_) * width_ + (x - x0_);
        Sample s{0, 0, 0};
        for (int l = 0; l < kTaps; ++l) {
            const std::size_t at = first + static_cast<std::size_t>(l) * width_;
            s.value += ky_->w[l] * h_[at];
            s.byPhaseX += ky_->w[l] * hd_[at];
            s.byPhaseY += ky_->dw[l] * h_[at];
        }
        return s;
    }

private:
    const AxisKernel* kx_ = nullptr;
    const AxisKernel* ky_ = nullptr;
    int32_t x0_ = 0, width_ = 0, firstRow_ = 0;
    std::vector<double>& h_;
    std::vector<double>& hd_;
};

enum Param { kRatio, kDx, kDy, kSky, kTiltX, kTiltY, kParams };

constexpr int kMaxIterations = 30;
// Rounds of fitting and taking the secondary's light off the template.
constexpr int kMaxRounds = 4;
// A round that moves the offset by less than this ends the cleaning.
constexpr double kSettledPx = 0.01;
constexpr int32_t kMinPixelsPerParam = 4;
// The largest share of a fitted sample's interpolation weight that may rest
// on clipped template pixels (whose light is only known to be at least white).
constexpr double kClippedShare = 0.1;
// Whole-pixel shifts tried round the expected offset before the fit.
constexpr int32_t kSearchPx = 2;
// The smallest offset the fit reports: below it the shifted copy lies on the
// primary itself.
constexpr double kMinOffsetPx = 1.0;
// Template pixels taken for the primary's centre of light: this many sky
// noises above the sky, so the sky's noise does not draw it to the box's middle.
constexpr double kCentreNoises = 2.0;

// Residuals (model - pixel) / sigma over the pixels round the secondary:
// the local sky as a tilted plane (it also takes up the primary's halo
// there) plus the template shifted by the offset and scaled by the ratio.
// The template is itself a noisy image, and its noise reaches the model
// times the ratio: each pixel's variance is its own, dataVariance, plus
// ratio^2 times the shifted template's, copyVariance. With the ratio inside
// the weights the fit does not draw the ratio toward zero as a plain least
// squares on a noisy model does (the shallower slope fits the template's
// noise better).
class SecondaryModel final : public ceres::CostFunction {
public:
    SecondaryModel(const Grid& grid, const std::vector<int32_t>& columns,
                   const std::vector<int32_t>& rows, const std::vector<double>& values,
                   const std::vector<double>& halo, const std::vector<double>& dataVariance,
                   const std::vector<double>& copyVariance, double centreX, double centreY,
                   std::vector<double>& copyRows, std::vector<double>& copySlopes)
        : grid_(grid), columns_(columns), rows_(rows), values_(values), halo_(halo),
          dataVariance_(dataVariance), copyVariance_(copyVariance), centreX_(centreX),
          centreY_(centreY), copy_(copyRows, copySlopes) {
        set_num_residuals(static_cast<int>(values.size()));
        mutable_parameter_block_sizes()->push_back(kParams);
        if (!columns.empty()) {
            const auto [minX, maxX] = std::minmax_element(columns.begin(), columns.end());
            const auto [minY, maxY] = std::minmax_element(rows.begin(), rows.end());
            x0_ = *minX;
            x1_ = *maxX + 1;
            y0_ = *minY;
            y1_ = *maxY + 1;
        }
    }

    bool Evaluate(double const* const* parameters, double* residuals,
                  double** jacobians) const override {
        const double* p = parameters[0];
        if (!std::isfinite(p[kDx]) || !std::isfinite(p[kDy]) || !std::isfinite(p[kRatio]))
            return false;
        // The solver asks for the cost at a point and then, when it keeps
        // the point, for the slopes there; the ratio and the sky change more
        // often than the offset. The shifted copy is filtered again only when
        // the offset moved.
        // The samples at each fitted pixel are kept with it.
        if (!shifted_ || p[kDx] != shiftedDx_ || p[kDy] != shiftedDy_) {
            kx_.set(-p[kDx]);
            ky_.set(-p[kDy]);
            copy_.set(grid_, kx_, ky_, x0_, y0_, x1_, y1_);
            samples_.resize(values_.size());
            for (std::size_t i = 0; i < values_.size(); ++i)
                samples_[i] = copy_.at(columns_[i], rows_[i]);
            shifted_ = true;
            shiftedDx_ = p[kDx];
            shiftedDy_ = p[kDy];
        }
        const AxisKernel& kx = kx_;
        const AxisKernel& ky = ky_;
        const double r = p[kRatio];
        // How much of the template's pixel noise the interpolation keeps
        // depends on the shift's fraction (all of it at a whole pixel, about
        // half at half a pixel). Left out of the weights, the fit would
        // prefer the shifts that smooth the copy's noise most and lock the
        // offset toward half pixels.
        const double kept = kx.sumSquares * ky.sumSquares;
        const double keptByDx = -2 * kx.weightSlope * ky.sumSquares;
        const double keptByDy = -2 * kx.sumSquares * ky.weightSlope;
        // Each pixel's weight, a square root and a division, for all the
        // pixels at once: packed, two or more to an instruction.
        const Eigen::Index n = static_cast<Eigen::Index>(values_.size());
        const Eigen::Map<const Eigen::ArrayXd> dataVariance(dataVariance_.data(), n);
        const Eigen::Map<const Eigen::ArrayXd> copyVariance(copyVariance_.data(), n);
        variance_ = dataVariance + kept * ((r * r) * copyVariance);
        inverse_ = variance_.sqrt().inverse();
        double* jac = jacobians != nullptr ? jacobians[0] : nullptr;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const Sample& s = samples_[i];
            const double ex = columns_[i] - centreX_, ey = rows_[i] - centreY_;
            const double copy = r * r * copyVariance_[i];
            const double variance = variance_[static_cast<Eigen::Index>(i)];
            const double inv = inverse_[static_cast<Eigen::Index>(i)];
            const double e =
                (p[kSky] + p[kTiltX] * ex + p[kTiltY] * ey + halo_[i] + r * s.value - values_[i]) *
                inv;
            residuals[i] = e;
            if (jac == nullptr)
                continue;
            // d e = d model / sigma - e d variance / (2 variance).
            const double half = 0.5 * e / variance;
            double* row = jac + i * kParams;
            row[kRatio] = s.value * inv - half * 2 * r * kept * copyVariance_[i];
            row[kDx] = -r * s.byPhaseX * inv - half * keptByDx * copy;
            row[kDy] = -r * s.byPhaseY * inv - half * keptByDy * copy;
            row[kSky] = inv;
            row[kTiltX] = ex * inv;
            row[kTiltY] = ey * inv;
        }
        return true;
    }

private:
    const Grid grid_;
    const std::vector<int32_t>& columns_;
    const std::vector<int32_t>& rows_;
    const std::vector<double>& values_;
    const std::vector<double>& halo_;
    const std::vector<double>& dataVariance_;
    const std::vector<double>& copyVariance_;
    double centreX_, centreY_;
    int32_t x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0; // the fitted pixels' rectangle
    // Scratch: the solver evaluates on one thread.
    mutable ShiftedCopy copy_;
    mutable AxisKernel kx_, ky_;
    mutable bool shifted_ = false;
    mutable double shiftedDx_ = 0, shiftedDy_ = 0;
    mutable std::vector<Sample> samples_;
    mutable Eigen::ArrayXd variance_, inverse_;
};

int32_t boxCorner(double centre, int32_t side) {
    return static_cast<int32_t>(std::lround(centre)) - side / 2;
}

} // namespace

const char* templateFitStatusText(TemplateFitStatus status) {
    switch (status) {
    case TemplateFitStatus::Converged:
        return "converged";
    case TemplateFitStatus::NotConverged:
        return "did not converge";
    case TemplateFitStatus::NoLight:
        return "no light of the secondary";
    case TemplateFitStatus::OutsideBox:
        return "secondary outside its box";
    case TemplateFitStatus::TooClose:
        return "secondary on the primary";
    case TemplateFitStatus::TooFewPixels:
        return "too few pixels round the secondary";
    case TemplateFitStatus::BadStart:
        return "starting centres not numbers or box too small";
    }
    return "unknown";
}

double TemplateFitResult::deltaMag() const {
    return ratio > 0 ? -2.5 * std::log10(ratio) : 0.0;
}

double TemplateFitResult::deltaMagError() const {
    return ratio > 0 ? 2.5 / std::log(10.0) * ratioError / ratio
                     : std::numeric_limits<double>::infinity();
}

bool TemplateFit::buildTemplate(const PlaneView& plane) {
    stride_ = side_ + 2 * pad_;
    const std::size_t n = static_cast<std::size_t>(stride_) * static_cast<std::size_t>(stride_);
    raw_.assign(n, 0.0);
    usable_.assign(n, 1);
    clipped_ = false;
    int32_t lit = 0;
    for (int32_t j = 0; j < side_; ++j)
        for (int32_t i = 0; i < side_; ++i) {
            const int32_t x = left_ + i, y = top_ + j;
            const std::size_t k = static_cast<std::size_t>(j + pad_) * stride_ + (i + pad_);
            if (!plane.contains(x, y)) {
                usable_[k] = 0;
                continue;
            }
            const uint16_t v = plane.at(x, y);
            raw_[k] = v - sky_;
            // A clipped pixel says only that the light was at least this
            // much: no fitted pixel may rest on it.
            if (plane.saturated(v)) {
                usable_[k] = 0;
                clipped_ = true;
            } else {
                ++lit;
            }
        }
    template_ = raw_;
    cleanable_ = usable_;
    return lit > 0;
}

// The primary's light beyond its box, and under the secondary: its mean
// over rings round the primary's centre, taken on the half of the sky away
// from the secondary, where no other light falls. Both stars' halos reach
// the other's box; a plane of sky takes only their slope, and what it leaves
// pulls the faint star's offset toward the bright one. The rings reach past
// the secondary's box. The template's margin, which the shifted copy reads
// where it reaches beyond the box, holds the same profile.
void TemplateFit::measureHalo(const PlaneView& plane, double dx, double dy) {
    const double reach = std::min(std::hypot(dx, dy) + side_, 4.0 * side_);
    const std::size_t bins = static_cast<std::size_t>(std::ceil(reach)) + 2;
    haloSum_.assign(bins, 0.0);
    haloCount_.assign(bins, 0);
    const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(primaryX_ - reach)));
    const int32_t x1 =
        std::min(plane.width - 1, static_cast<int32_t>(std::ceil(primaryX_ + reach)));
    const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(primaryY_ - reach)));
    const int32_t y1 =
        std::min(plane.height - 1, static_cast<int32_t>(std::ceil(primaryY_ + reach)));
    // Neighbouring pixels mostly share a ring: its sum is held while they
    // do, added to in the same order as pixel by pixel, rather than read
    // back from memory for each.
    // Along a row the distance falls and then grows: a row starts a pixel
    // short of where the rings reach and ends past the primary at the
    // first pixel beyond them.
    std::size_t ring = bins;
    double sum = 0;
    int32_t count = 0;
    for (int32_t y = y0; y <= y1; ++y) {
        const double ey = y - primaryY_;
        const double across = reach * reach - ey * ey;
        const double halfChord = across > 0 ? std::sqrt(across) : 0.0;
        const int32_t first =
            std::max(x0, static_cast<int32_t>(std::floor(primaryX_ - halfChord)) - 1);
        // Only the far side's columns are visited. Past the rings, on the
        // primary's right, the row ends: where that lies among the near
        // columns skipped on the left, the far ones after it are not read.
        const ColumnRun far = farColumns(first, x1, primaryX_, ey, dx, dy);
        if (far.first > first) {
            const double ex = far.first - 1 - primaryX_;
            if (ex > 0 && std::sqrt(ex * ex + ey * ey) >= reach)
                continue;
        }
        const uint16_t* row = plane.heldRow(y, far.first, far.last);
        for (int32_t x = far.first; x <= far.last; ++x) {
            const double ex = x - primaryX_;
            const double rho = std::sqrt(ex * ex + ey * ey);
            if (rho >= reach && ex > 0)
                break;
            if (!onFarSide(x, primaryX_, ey, dx, dy))
                continue;
            const uint16_t v = row != nullptr ? row[x] : plane.at(x, y);
            if (rho >= reach || plane.saturated(v))
                continue;
            const std::size_t b = static_cast<std::size_t>(rho);
            if (b != ring) {
                if (ring < bins) {
                    haloSum_[ring] = sum;
                    haloCount_[ring] = count;
                }
                ring = b;
                sum = haloSum_[b];
                count = haloCount_[b];
            }
            sum += v - sky_;
            ++count;
        }
    }
    if (ring < bins) {
        haloSum_[ring] = sum;
        haloCount_[ring] = count;
    }
    for (std::size_t b = 0; b < bins; ++b)
        haloSum_[b] = haloCount_[b] > 0 ? haloSum_[b] / haloCount_[b] : 0.0;
    for (int32_t j = 0; j < stride_; ++j)
        for (int32_t i = 0; i < stride_; ++i) {
            if (i >= pad_ && j >= pad_ && i < pad_ + side_ && j < pad_ + side_)
                continue;
            const std::size_t k = static_cast<std::size_t>(j) * stride_ + i;
            raw_[k] = template_[k] = haloAt(left_ - pad_ + i, top_ - pad_ + j);
        }
}

// The primary's centre: the centre of light of its template's pixels
// `floor` above the sky (the sky's noise would draw it to the box's middle).
void TemplateFit::centreOfLight(double floor) {
    double sum = 0, sx = 0, sy = 0;
    for (int32_t j = 0; j < side_; ++j)
        for (int32_t i = 0; i < side_; ++i) {
            const double v = template_[static_cast<std::size_t>(j + pad_) * stride_ + (i + pad_)];
            if (v <= floor)
                continue;
            sum += v;
            sx += v * (left_ + i);
            sy += v * (top_ + j);
        }
    if (sum > 0) {
        primaryX_ = sx / sum;
        primaryY_ = sy / sum;
    }
}

// Whether pixel (x, y) lies nearer the primary than the secondary at
// offset (dx, dy) from it.
bool TemplateFit::nearerPrimary(int32_t x, int32_t y, double dx, double dy) const {
    const double px = x - primaryX_, py = y - primaryY_;
    const double sx = px - dx, sy = py - dy;
    return px * px + py * py < sx * sx + sy * sy;
}

// The primary's image width (FWHM) from its ring profile, which averages a
// speckled image's grains away: the width of the Gaussian whose mean light
// over the two rings the half maximum falls between stands in the same
// ratio. A ring's mean is no sample at its middle: where images are two
// pixels wide, reading it so widened them by a sixth. The peak for the half
// maximum is drawn from the two inner rings as a Gaussian falls. On the
// half of the sky away from the secondary, whose light only widens it. A
// clipped core hides the peak: no width.
double TemplateFit::imageWidth() const {
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (clipped_ || haloSum_.size() < 2 || haloCount_[0] == 0 || !(haloSum_[0] > 0))
        return none;
    const double m0 = haloSum_[0], m1 = haloSum_[1];
    const double half = 0.5 * m0 * (m1 > 0 && m1 < m0 ? std::pow(m0 / m1, 0.25) : 1.0);
    std::size_t b = 1;
    while (b < haloSum_.size() && haloCount_[b] > 0 && haloSum_[b] > half)
        ++b;
    if (b == haloSum_.size() || haloCount_[b] == 0 || !(haloSum_[b] > 0) ||
        !(haloSum_[b - 1] > haloSum_[b]))
        return none;
    // Rings b - 1 and b of a Gaussian exp(-r^2 / 2 s^2), q = exp(-1 / 2 s^2),
    // u = 2b - 1: their means stand in the ratio
    // (u + 2) / u (1 - q^u) / (q^u (1 - q^(u + 2))), which falls from
    // infinity to 1 as q grows from 0 to 1.
    const double ratio = haloSum_[b - 1] / haloSum_[b];
    const double u = 2.0 * static_cast<double>(b) - 1;
    double lo = 0, hi = 1;
    for (int i = 0; i < 40; ++i) {
        const double q = 0.5 * (lo + hi), qu = std::pow(q, u);
        const double model = (u + 2) / u * (1 - qu) / (qu * (1 - qu * q * q));
        (model > ratio ? lo : hi) = q;
    }
    // A pixel sums the light over its square, which adds a twelfth of a
    // pixel squared to the profile's variance along each axis.
    const double q = 0.5 * (lo + hi);
    const double variance = q > 0 && q < 1 ? -0.5 / std::log(q) - 1.0 / 12 : 0.0;
    return variance > 0 ? kFwhmPerSigma * std::sqrt(variance) : none;
}

// The ring profile at a pixel, linear between the rings' middles.
double TemplateFit::haloAt(double x, double y) const {
    const double ex = x - primaryX_, ey = y - primaryY_;
    const double t = std::sqrt(ex * ex + ey * ey) - 0.5;
    if (haloSum_.empty())
        return 0.0;
    if (t <= 0)
        return haloSum_[0];
    const std::size_t b = static_cast<std::size_t>(t);
    if (b + 1 >= haloSum_.size())
        return 0.0;
    const double f = t - static_cast<double>(b);
    return (1 - f) * haloSum_[b] + f * haloSum_[b + 1];
}

// The template less the secondary's light as the last round fitted it: the
// template shifted by the offset and scaled by the ratio, taken off every
// pixel of the raw box. Where that shifted copy rests on clipped pixels its
// light is unknown, and the pixel is not used again.
void TemplateFit::cleanTemplate(double ratio, double dx, double dy) {
    const Grid old{template_.data(), left_ - pad_, top_ - pad_, stride_, stride_};
    AxisKernel kx, ky;
    kx.set(-dx);
    ky.set(-dy);
    scratch_ = raw_;
    ShiftedCopy copy(copyRows_, copySlopes_);
    copy.set(old, kx, ky, left_, top_, left_ + side_, top_ + side_);
    // Mostly every pixel is usable: then every pixel stays cleanable.
    const bool allUsable = std::find(usable_.begin(), usable_.end(), 0) == usable_.end();
    for (int32_t j = 0; j < side_; ++j)
        for (int32_t i = 0; i < side_; ++i) {
            const int32_t x = left_ + i, y = top_ + j;
            const std::size_t k = static_cast<std::size_t>(j + pad_) * stride_ + (i + pad_);
            scratch_[k] -= ratio * copy.at(x, y).value;
            const int32_t x0 = i + pad_ + kx.base - kTapsBack, y0 = j + pad_ + ky.base - kTapsBack;
            bool clear = usable_[k] != 0;
            if (allUsable) {
                cleanable_[k] = clear;
                continue;
            }
            for (int32_t b = std::max(y0, 0); clear && b < std::min(y0 + kTaps, stride_); ++b)
                for (int32_t a = std::max(x0, 0); a < std::min(x0 + kTaps, stride_); ++a)
                    if (!usable_[static_cast<std::size_t>(b) * stride_ + a]) {
                        clear = false;
                        break;
                    }
            cleanable_[k] = clear;
        }
    template_.swap(scratch_);
}

// The pixels of the secondary's box that lie nearer the secondary than the
// primary (the primary's own side is the template's), are on the plane and
// not clipped, and whose shifted template rests on usable pixels, at the
// offset the round starts from (the solver moves it by a fraction of a
// pixel, which may bring a clipped pixel under a tap's outer lobe; a margin
// would leave a compact saturated star's companion without its core).
// Where the template holds clipped pixels, a sample keeps them under its
// outer lobes up to kClippedShare of its weight: one clipped pixel would
// otherwise take the six by six pixels it reaches, the whole core of a
// companion a few pixels wide, and a fit left with the companion's wings
// wandered with that hole (the hole moves with the offset) to ratios several
// times the true one and offsets pixels off, with errors that did not show it.
void TemplateFit::collectPixels(const PlaneView& plane, double dx, double dy) {
    columns_.clear();
    rows_.clear();
    values_.clear();
    halo_.clear();
    const int32_t fl = boxCorner(primaryX_ + dx, side_), ft = boxCorner(primaryY_ + dy, side_);
    AxisKernel kx, ky;
    kx.set(-dx);
    ky.set(-dy);
    // Mostly every pixel is: then only the taps that leave the template count.
    const bool allCleanable =
        std::find(cleanable_.begin(), cleanable_.end(), 0) == cleanable_.end();
    for (int32_t y = ft; y < ft + side_; ++y) {
        const uint16_t* row = plane.heldRow(y, fl, fl + side_ - 1);
        for (int32_t x = fl; x < fl + side_; ++x) {
            if (row == nullptr && !plane.contains(x, y))
                continue;
            const uint16_t v = row != nullptr ? row[x] : plane.at(x, y);
            if (plane.saturated(v))
                continue;
            if (nearerPrimary(x, y, dx, dy))
                continue;
            const int32_t x0 = x - left_ + pad_ + kx.base - kTapsBack;
            const int32_t y0 = y - top_ + pad_ + ky.base - kTapsBack;
            bool touched = false;
            double share = 0;
            const bool inside =
                x0 >= 0 && y0 >= 0 && x0 + kTaps <= stride_ && y0 + kTaps <= stride_;
            for (int l = 0; l < kTaps && !(allCleanable && inside); ++l)
                for (int k = 0; k < kTaps; ++k) {
                    const int32_t a = x0 + k, b = y0 + l;
                    if (a >= 0 && b >= 0 && a < stride_ && b < stride_ &&
                        cleanable_[static_cast<std::size_t>(b) * stride_ + a])
                        continue;
                    touched = true;
                    share += std::fabs(kx.w[k] * ky.w[l]);
                }
            if (clipped_ ? share > kClippedShare : touched)
                continue;
            columns_.push_back(x);
            rows_.push_back(y);
            values_.push_back(v);
            halo_.push_back(haloAt(x, y));
        }
    }
}

// A start within half a pixel of the offset: a speckled image has many
// bright grains, and a solver started a pixel or two off may settle on the
// wrong pair of them. Every whole-pixel shift within kSearchPx of the
// expected offset is tried with the unshifted template, the sky and the
// ratio fitted linearly; the shift that leaves the least is the start.
void TemplateFit::coarseStart(const PlaneView& plane, double* params) {
    const int32_t ex = static_cast<int32_t>(std::lround(params[kDx]));
    const int32_t ey = static_cast<int32_t>(std::lround(params[kDy]));
    const int32_t fl = boxCorner(primaryX_ + ex, side_), ft = boxCorner(primaryY_ + ey, side_);
    // The pixels compared are the same for every shift: those of the
    // secondary's box on its side of the pair.
    columns_.clear();
    rows_.clear();
    values_.clear();
    for (int32_t y = ft; y < ft + side_; ++y)
        for (int32_t x = fl; x < fl + side_; ++x) {
            if (!plane.contains(x, y) || nearerPrimary(x, y, ex, ey))
                continue;
            const uint16_t v = plane.at(x, y);
            if (plane.saturated(v))
                continue;
            columns_.push_back(x);
            rows_.push_back(y);
            values_.push_back(v);
        }
    // Where every pixel lies on the template at a shift and no template
    // pixel is clipped, the sums need no test per pixel.
    const bool allUsable = std::find(usable_.begin(), usable_.end(), 0) == usable_.end();
    std::vector<int32_t>& cell = cells_;
    cell.resize(values_.size());
    for (std::size_t p = 0; p < values_.size(); ++p)
        cell[p] = (rows_[p] - top_ + pad_) * stride_ + columns_[p] - left_ + pad_;
    int32_t minX = 0, maxX = -1, minY = 0, maxY = -1;
    if (!values_.empty()) {
        const auto [loX, hiX] = std::minmax_element(columns_.begin(), columns_.end());
        const auto [loY, hiY] = std::minmax_element(rows_.begin(), rows_.end());
        minX = *loX - left_ + pad_;
        maxX = *hiX - left_ + pad_;
        minY = *loY - top_ + pad_;
        maxY = *hiY - top_ + pad_;
    }
    double best = std::numeric_limits<double>::infinity();
    for (int32_t sy = ey - kSearchPx; sy <= ey + kSearchPx; ++sy)
        for (int32_t sx = ex - kSearchPx; sx <= ex + kSearchPx; ++sx) {
            double n = 0, st = 0, sv = 0, stt = 0, stv = 0, svv = 0;
            const bool plain = allUsable && minX - sx >= 0 && maxX - sx < stride_ &&
                               minY - sy >= 0 && maxY - sy < stride_;
            const int32_t shift = sy * stride_ + sx;
            for (std::size_t p = 0; plain && p < values_.size(); ++p) {
                const double v = values_[p];
                const double t = template_[static_cast<std::size_t>(cell[p] - shift)];
                n += 1;
                st += t;
                sv += v;
                stt += t * t;
                stv += t * v;
                svv += v * v;
            }
            for (std::size_t p = 0; !plain && p < values_.size(); ++p) {
                const double v = values_[p];
                const int32_t i = columns_[p] - sx - left_ + pad_;
                const int32_t j = rows_[p] - sy - top_ + pad_;
                const bool onTemplate = i >= 0 && j >= 0 && i < stride_ && j < stride_;
                const std::size_t k = onTemplate ? static_cast<std::size_t>(j) * stride_ + i : 0;
                if (onTemplate && !usable_[k])
                    continue;
                const double t = onTemplate ? template_[k] : 0.0;
                n += 1;
                st += t;
                sv += v;
                stt += t * t;
                stv += t * v;
                svv += v * v;
            }
            const double vt = stt - st * st / n, cv = stv - st * sv / n;
            if (!(n > kParams) || !(vt > 0) || !(cv > 0))
                continue;
            const double left = (svv - sv * sv / n) - cv * cv / vt;
            if (left < best) {
                best = left;
                params[kDx] = sx;
                params[kDy] = sy;
                params[kRatio] = cv / vt;
                params[kSky] = (sv - params[kRatio] * st) / n;
            }
        }
    if (!std::isfinite(best))
        params[kRatio] = 0.5;
}

TemplateFitResult TemplateFit::fit(const PlaneView& plane, const TemplateFitStart& start) {
    TemplateFitResult result;
    const bool finite = std::isfinite(start.primaryX) && std::isfinite(start.primaryY) &&
                        std::isfinite(start.secondaryX) && std::isfinite(start.secondaryY);
    if (!finite || start.box < kTemplateMinBox || start.box > plane.width + plane.height ||
        std::fabs(start.primaryX) > 1e6 || std::fabs(start.primaryY) > 1e6 ||
        std::fabs(start.secondaryX) > 1e6 || std::fabs(start.secondaryY) > 1e6)
        return result;
    side_ = start.box;
    // Room for the offset to wander by half a box while the solver works.
    pad_ = side_ / 2 + kTaps;
    left_ = boxCorner(start.primaryX, side_);
    top_ = boxCorner(start.primaryY, side_);
    primaryX_ = start.primaryX;
    primaryY_ = start.primaryY;

    // The sky round both boxes: its level is taken off the template, its
    // scatter is a pixel's noise without starlight.
    const int32_t sl = boxCorner(start.secondaryX, side_), st = boxCorner(start.secondaryY, side_);
    const SkyEstimate sky = estimateSky(plane, std::min(left_, sl), std::min(top_, st),
                                        std::max(left_, sl) + side_, std::max(top_, st) + side_);
    result.status = TemplateFitStatus::TooFewPixels;
    if (sky.status != SkyStatus::Measured)
        return result;
    sky_ = sky.level;
    const NoiseModel given = noiseModelFor(sky.noise, sky_, start.readNoise, start.gain);
    const double skyVariance = given.skyVariance;
    const bool gainGiven = start.gain > 0;
    // Without a gain, the photon noise the run's earlier frames taught; the
    // first frame learns it from its own first round.
    const bool noiseKnown = gainGiven || photonNoise_.known();
    double perLight = gainGiven ? given.perLight : photonNoise_.perLight();
    result.sky = sky_;
    if (!buildTemplate(plane))
        return result;

    double params[kParams] = {
        0, start.secondaryX - start.primaryX, start.secondaryY - start.primaryY, sky_, 0, 0};
    coarseStart(plane, params);

    const auto templateGrid = [this] {
        return Grid{template_.data(), left_ - pad_, top_ - pad_, stride_, stride_};
    };
    const ceres::Solver::Options options = smallFitOptions(kMaxIterations);

    // Template pixels this far above the sky make the primary's centre.
    const double floor = kCentreNoises * std::sqrt(skyVariance);
    bool converged = false;
    double centreX = primaryX_ + params[kDx], centreY = primaryY_ + params[kDy];
    for (int round = 0; round < kMaxRounds; ++round) {
        // The secondary's light reaches the primary's box only when the
        // shifted copy overlaps it; otherwise there is nothing to clean.
        // Only where the secondary's core lies in the box does the cleaning
        // feed back on itself and need rounds until the offset settles; its
        // halo alone is taken off once.
        const bool overlaps = std::fabs(params[kDx]) < side_ && std::fabs(params[kDy]) < side_;
        const bool coreInBox = std::fabs(params[kDx]) < side_ / 2 + kTapsBack &&
                               std::fabs(params[kDy]) < side_ / 2 + kTapsBack;
        if (round > 0 && overlaps)
            cleanTemplate(params[kRatio], params[kDx], params[kDy]);
        ++result.iterations;
        centreOfLight(floor);
        measureHalo(plane, params[kDx], params[kDy]);
        collectPixels(plane, params[kDx], params[kDy]);
        result.pixels = static_cast<int32_t>(values_.size());
        if (result.pixels < kMinPixelsPerParam * kParams) {
            result.status = TemplateFitStatus::TooFewPixels;
            return result;
        }
        const Grid grid = templateGrid();
        // The tilt is measured from the secondary, so that the sky and the
        // plane's slope do not trade with each other.
        const double movedX = primaryX_ + params[kDx] - centreX;
        const double movedY = primaryY_ + params[kDy] - centreY;
        params[kSky] += params[kTiltX] * movedX + params[kTiltY] * movedY;
        centreX += movedX;
        centreY += movedY;
        // Each pixel's noise from the model as the last round left it: the
        // sky's and the photons of its light; and the template's own noise
        // as the interpolation carries it into the copy.
        AxisKernel kx, ky;
        kx.set(-params[kDx]);
        ky.set(-params[kDy]);
        const double carried = kx.sumSquares * ky.sumSquares;
        dataVariance_.resize(values_.size());
        copyVariance_.resize(values_.size());
        light_.resize(values_.size());
        templateLight_.resize(values_.size());
        ShiftedCopy copy(copyRows_, copySlopes_);
        {
            const auto [minX, maxX] = std::minmax_element(columns_.begin(), columns_.end());
            const auto [minY, maxY] = std::minmax_element(rows_.begin(), rows_.end());
            copy.set(grid, kx, ky, *minX, *minY, *maxX + 1, *maxY + 1);
        }
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const double t = std::max(copy.at(columns_[i], rows_[i]).value, 0.0);
            const double above = params[kSky] - sky_ + params[kTiltX] * (columns_[i] - centreX) +
                                 params[kTiltY] * (rows_[i] - centreY) + halo_[i] +
                                 params[kRatio] * t;
            light_[i] = std::max(above, 0.0);
            templateLight_[i] = t;
            dataVariance_[i] = skyVariance + perLight * light_[i];
            copyVariance_[i] = skyVariance + perLight * t;
        }

        SecondaryModel model(grid, columns_, rows_, values_, halo_, dataVariance_, copyVariance_,
                             centreX, centreY, copyRows_, copySlopes_);
        ceres::Problem::Options problemOptions;
        problemOptions.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
        ceres::Problem problem(problemOptions);
        const double lastDx = params[kDx], lastDy = params[kDy];
        problem.AddResidualBlock(&model, nullptr, params);
        ceres::Solver::Summary summary;
        ceres::Solve(options, &problem, &summary);
        converged = summary.termination_type == ceres::CONVERGENCE;
        // A solve that ran out of steps goes on from where it stopped in
        // the next round; only the last round's must have converged.
        if (!converged)
            continue;

        // Photon noise from the stars where no gain was given: the share of
        // the residuals' variance above the sky's that grows with the light.
        // Residual variance = sky part x (1 + r^2 carried) + perLight x (light
        // + r^2 carried x template light). Only the first round's residuals
        // teach it: later rounds', where the images overlap, hold what the
        // cleaning misses as well.
        if (!gainGiven && round == 0) {
            const std::size_t n = values_.size();
            residuals_.resize(n);
            jacobianData_.resize(n * kParams);
            const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, kParams, Eigen::RowMajor>>
                jacobian(jacobianData_.data(), static_cast<Eigen::Index>(n), kParams);
            const double* blocks[] = {params};
            double* jacobianBlocks[] = {jacobianData_.data()};
            if (model.Evaluate(blocks, residuals_.data(), jacobianBlocks)) {
                const Eigen::Matrix<double, kParams, kParams> normal =
                    jacobian.transpose() * jacobian;
                const Eigen::LDLT<Eigen::Matrix<double, kParams, kParams>> ldlt(normal);
                const Eigen::Matrix<double, kParams, kParams> inverse =
                    ldlt.solve(Eigen::Matrix<double, kParams, kParams>::Identity());
                const double r2 = params[kRatio] * params[kRatio];
                for (std::size_t i = 0; ldlt.info() == Eigen::Success && i < n; ++i) {
                    const Eigen::Matrix<double, kParams, 1> row =
                        jacobian.row(static_cast<Eigen::Index>(i)).transpose();
                    const double leverage = row.dot(inverse * row);
                    const double variance = dataVariance_[i] + r2 * carried * copyVariance_[i];
                    photonNoise_.add(residuals_[i] * std::sqrt(variance), leverage,
                                     light_[i] + r2 * carried * templateLight_[i],
                                     skyVariance * (1 + r2 * carried), variance);
                }
            }
            perLight = photonNoise_.perLight();
        }
        const bool settled = std::hypot(params[kDx] - lastDx, params[kDy] - lastDy) < kSettledPx;
        // Once the noise model is known, a pair apart needs no further round.
        if ((round > 0 || noiseKnown) && (settled || !overlaps || (round > 0 && !coreInBox)))
            break;
    }

    // Standard errors from the weighted Jacobian at the solution, scaled by
    // the reduced chi-square: when the model misses more than the noise (a
    // secondary not quite shaped like the primary), the errors grow with it.
    const std::size_t n = values_.size();
    jacobianData_.resize(n * kParams);
    residuals_.resize(n);
    const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, kParams, Eigen::RowMajor>>
        jacobian(jacobianData_.data(), static_cast<Eigen::Index>(n), kParams);
    SecondaryModel model(templateGrid(), columns_, rows_, values_, halo_, dataVariance_,
                         copyVariance_, centreX, centreY, copyRows_, copySlopes_);
    const double* blocks[] = {params};
    double* jacobianBlocks[] = {jacobianData_.data()};
    const bool evaluated = model.Evaluate(blocks, residuals_.data(), jacobianBlocks);
    double chi2 = 0;
    for (double r : residuals_)
        chi2 += r * r;
    result.reducedChiSquare = chi2 / static_cast<double>(n - kParams);
    bool determined = false;
    Eigen::Matrix<double, kParams, kParams> cov;
    cov.setZero();
    if (evaluated) {
        Eigen::Matrix<double, kParams, kParams> normal = jacobian.transpose() * jacobian;
        // The template's slopes, which the offset's information rests on,
        // are measured through its noise, and noise adds slope: the squared
        // slopes overstate the information by the noise's share, which is
        // taken off (down to half at most, where the copy is mostly noise).
        AxisKernel kx, ky;
        kx.set(-params[kDx]);
        ky.set(-params[kDy]);
        const double r2 = params[kRatio] * params[kRatio];
        double noiseX = 0, noiseY = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = skyVariance + perLight * templateLight_[i];
            const double variance =
                dataVariance_[i] + r2 * kx.sumSquares * ky.sumSquares * copyVariance_[i];
            noiseX += r2 * kx.derivativeSquares * ky.sumSquares * t / variance;
            noiseY += r2 * kx.sumSquares * ky.derivativeSquares * t / variance;
        }
        normal(kDx, kDx) = std::max(normal(kDx, kDx) - noiseX, 0.5 * normal(kDx, kDx));
        normal(kDy, kDy) = std::max(normal(kDy, kDy) - noiseY, 0.5 * normal(kDy, kDy));
        // The template's noise reaches every fitted pixel through the
        // interpolation's taps, so neighbouring pixels share it: the weights
        // hold only each pixel's own share of it, while along the smooth
        // slopes the offset rests on nearly all of it adds up. Its part of
        // the covariance is summed over the template's pixels (each one's
        // variance times how the fitted pixels it reaches pull on the
        // parameters); the sample's own noise keeps its part.
        // Only the template's pixels the fitted ones reach have a pull: a
        // rectangle of them, a sixth or less of the padded template.
        const int32_t shiftX = kx.base - kTapsBack - (left_ - pad_);
        const int32_t shiftY = ky.base - kTapsBack - (top_ - pad_);
        const auto [minX, maxX] = std::minmax_element(columns_.begin(), columns_.end());
        const auto [minY, maxY] = std::minmax_element(rows_.begin(), rows_.end());
        const int32_t reachLeft = std::max(*minX + shiftX, 0);
        const int32_t reachTop = std::max(*minY + shiftY, 0);
        const int32_t reachWidth =
            std::max(std::min(*maxX + shiftX + kTaps, stride_) - reachLeft, 0);
        const int32_t reachHeight =
            std::max(std::min(*maxY + shiftY + kTaps, stride_) - reachTop, 0);
        const Eigen::Index cells = static_cast<Eigen::Index>(reachWidth) * reachHeight;
        pull_.resize(static_cast<std::size_t>(cells) * kParams);
        Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, kParams, Eigen::RowMajor>> pull(
            pull_.data(), cells, kParams);
        pull.setZero();
        Eigen::Matrix<double, kParams, kParams> spread;
        spread.setZero();
        for (std::size_t i = 0; i < n; ++i) {
            const double variance =
                dataVariance_[i] + r2 * kx.sumSquares * ky.sumSquares * copyVariance_[i];
            const Eigen::Matrix<double, 1, kParams> row =
                jacobian.row(static_cast<Eigen::Index>(i));
            spread.noalias() += row.transpose() * row * (dataVariance_[i] / variance);
            const Eigen::Matrix<double, 1, kParams> perStep = row / std::sqrt(variance);
            const int32_t x0 = columns_[i] + shiftX, y0 = rows_[i] + shiftY;
            for (int l = 0; l < kTaps; ++l) {
                if (y0 + l < 0 || y0 + l >= stride_)
                    continue;
                for (int k = 0; k < kTaps; ++k)
                    if (x0 + k >= 0 && x0 + k < stride_)
                        pull.row(static_cast<Eigen::Index>(y0 + l - reachTop) * reachWidth + x0 +
                                 k - reachLeft) += perStep * (kx.w[k] * ky.w[l]);
            }
        }
        for (int32_t b = 0; b < reachHeight; ++b)
            for (int32_t a = 0; a < reachWidth; ++a) {
                const std::size_t k =
                    static_cast<std::size_t>(reachTop + b) * stride_ + reachLeft + a;
                const double light = std::max(template_[k], 0.0);
                pull.row(static_cast<Eigen::Index>(b) * reachWidth + a) *=
                    std::sqrt(r2 * (skyVariance + perLight * light));
            }
        spread.noalias() += pull.transpose() * pull;
        FitMatrix inverse;
        if (invertNormal(normal, inverse)) {
            cov = inverse * spread * inverse * std::max(result.reducedChiSquare, 1.0);
            determined = cov.diagonal().minCoeff() > 0;
        }
    }

    result.primaryX = primaryX_;
    result.primaryY = primaryY_;
    result.offsetX = params[kDx];
    result.offsetY = params[kDy];
    result.secondaryX = result.primaryX + params[kDx];
    result.secondaryY = result.primaryY + params[kDy];
    result.ratio = params[kRatio];
    const double inf = std::numeric_limits<double>::infinity();
    result.offsetXError = determined ? std::sqrt(cov(kDx, kDx)) : inf;
    result.offsetYError = determined ? std::sqrt(cov(kDy, kDy)) : inf;
    result.ratioError = determined ? std::sqrt(cov(kRatio, kRatio)) : inf;
    result.offsetCorrelation =
        determined ? cov(kDx, kDy) / (result.offsetXError * result.offsetYError) : 0.0;
    result.readNoise = std::sqrt(skyVariance);
    result.gain = perLight > 0 ? 1.0 / perLight : inf;
    result.primaryFwhm = imageWidth();

    const double fl = boxCorner(start.secondaryX, side_), ft = boxCorner(start.secondaryY, side_);
    const bool inside = result.secondaryX >= fl - 0.5 && result.secondaryY >= ft - 0.5 &&
                        result.secondaryX <= fl + side_ - 0.5 &&
                        result.secondaryY <= ft + side_ - 0.5;
    if (!converged || !determined)
        result.status = TemplateFitStatus::NotConverged;
    else if (!inside)
        result.status = TemplateFitStatus::OutsideBox;
    else if (std::hypot(params[kDx], params[kDy]) < kMinOffsetPx)
        result.status = TemplateFitStatus::TooClose;
    else if (!(result.ratio > kTemplateMinRatioErrors * result.ratioError))
        result.status = TemplateFitStatus::NoLight;
    else
        result.status = TemplateFitStatus::Converged;
    return result;
}

} // namespace corvane
