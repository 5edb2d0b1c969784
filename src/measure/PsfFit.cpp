#include "measure/PsfFit.h"

#include "measure/FitSolver.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace corvane {

namespace {

// Why these models: a star's image in a short video exposure is the seeing
// disc, whose core a Gaussian follows and whose wings, in real seeing, fall
// off far more slowly, as a power of the radius: a Moffat profile has both,
// its beta saying how steep the wings are (large beta: a Gaussian). Where
// the wings matter (a faint companion in a bright star's halo) a Gaussian
// leaves them to the sky and pulls the faint star's centre; where they do
// not, its fewer parameters serve better. The Gaussian receives each pixel's
// light integrated over its square (the erf differences below): the centres
// come out the same as sampled, but only the integrated model gives the
// star's own width (sampled, a 3-pixel FWHM reads about 3 % wide). The Moffat
// is sampled at the pixel centres, which leaves its centres as they are.

// Parameter layout: the centres and lights of both stars and the sky in one
// block; each star's width and Moffat's beta in blocks of their own, so that
// a shared width or a Gaussian holds them still. The centres are counted
// from the corner of the fitted pixels' rectangle, so the numbers stay small.
enum Param { kX0, kY0, kFlux0, kX1, kY1, kFlux1, kSky, kMain };
// All parameters in one row: the main block, both widths, beta.
enum Column { kW0 = kMain, kW1, kBeta, kColumns };

constexpr int kMaxIterations = 50;
// At least this many pixels per fitted parameter.
constexpr int32_t kMinPixelsPerParam = 4;
constexpr double kInvSqrtPi = 0.5641895835477563;
constexpr double kInvSqrt2 = 0.7071067811865476;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// Only pixels within this many sigmas, plus a margin for the stars' motion
// since the starting centres were found, of either starting centre are
// fitted: beyond 5 sigmas a Gaussian star has left 4e-6 of its peak, so the
// rest of a large box holds only sky, which the pixels between the stars and
// round them already give. It keeps the fit's cost with the stars, not with
// the box (a system box round a wide pair can be 80 pixels across).
constexpr double kWindowSigmas = 5.0;
constexpr double kWindowMarginPx = 3.0;
// Pixels further than this from both starting centres give the starting sky.
constexpr double kStarSigmas = 3.0;
// A pair is two stars only when the centres lie more than this many FWHM apart.
constexpr double kMinSeparationFwhm = 0.25;
// Moffat's beta: where it starts (a typical seeing disc) and the range it may
// take (below 1 the light would not sum; above 20 it is a Gaussian).
constexpr double kStartBeta = 3.0;
constexpr double kMinBeta = 2.0;
constexpr double kMaxBeta = 20.0;
// The run's first frames fitted with both profiles, the better (by the sum
// of chi-square plus twice the parameters, over these frames) kept after.
constexpr int32_t kChoiceFrames = 5;
// How far a Moffat's FWHM may lie from the Gaussian's on the same stars.
constexpr double kMaxFwhmRatio = 1.5;
// Each star gets its own width when, in most of those frames, the fainter
// star's light was this many standard errors above zero: a width rests on
// the star's core and the slope of its wings, which a faint star's noise hides.
constexpr double kOwnWidthFluxErrors = 40.0;
// Images whose centres lie closer than this many FWHM (as the Gaussian fits
// the run's first frame) overlap: the wings of each lie on the other's core.
constexpr double kOverlapFwhm = 3.0;

// A Moffat's FWHM over its alpha.
double moffatFwhmPerAlpha(double beta) {
    return 2.0 * std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0);
}

// Share of a unit Gaussian's light falling in each of n cells (cell j spans
// [j - 0.5, j + 0.5]), with its derivatives by the centre and by sigma, in
// storage of the fitter's (axisDoubles(n) values).
struct AxisProfile {
    const double *share = nullptr, *byCentre = nullptr, *bySigma = nullptr;

    static std::size_t axisDoubles(int32_t n) { return 6 * static_cast<std::size_t>(n) + 3; }

    void compute(int32_t n, double centre, double sigma, double* store) {
        const std::size_t cells = static_cast<std::size_t>(n);
        double* sh = store;
        double* bc = sh + cells;
        double* bs = bc + cells;
        double* erfs = bs + cells; // at the n + 1 cell edges
        double* gauss = erfs + cells + 1;
        double* t = gauss + cells + 1;
        const double k = kInvSqrt2 / sigma;
        for (std::size_t j = 0; j <= cells; ++j) {
            t[j] = (static_cast<double>(j) - 0.5 - centre) * k;
            erfs[j] = std::erf(t[j]);
            gauss[j] = std::exp(-t[j] * t[j]);
        }
        for (std::size_t j = 0; j < cells; ++j) {
            sh[j] = 0.5 * (erfs[j + 1] - erfs[j]);
            bc[j] = -k * kInvSqrtPi * (gauss[j + 1] - gauss[j]);
            bs[j] = -kInvSqrtPi / sigma * (t[j + 1] * gauss[j + 1] - t[j] * gauss[j]);
        }
        share = sh;
        byCentre = bc;
        bySigma = bs;
    }
};

// Weighted residuals (model - pixel) / noise for every fitted pixel, with
// the exact Jacobian. Blocks: the main parameters, the first star's width,
// the second star's (the first's again when they share one), beta.
template <class Buffers> class PairModel final : public ceres::CostFunction {
public:
    PairModel(PsfProfile profile, bool ownWidths, int32_t width, int32_t height, Buffers& buffers)
        : profile_(profile), own_(ownWidths), width_(width), height_(height), b_(buffers) {
        set_num_residuals(static_cast<int>(b_.values.size()));
        *mutable_parameter_block_sizes() = {kMain, 1, 1, 1};
    }

    bool Evaluate(double const* const* parameters, double* residuals,
                  double** jacobians) const override {
        const double* p = parameters[0];
        const double w[2] = {parameters[1][0], own_ ? parameters[2][0] : parameters[1][0]};
        if (!(w[0] > 0) || !(w[1] > 0))
            return false;
        double* jm = jacobians != nullptr ? jacobians[0] : nullptr;
        double* jw[2] = {jacobians != nullptr ? jacobians[1] : nullptr,
                         jacobians != nullptr ? jacobians[2] : nullptr};
        double* jb = jacobians != nullptr ? jacobians[3] : nullptr;
        const double f[2] = {p[kFlux0], p[kFlux1]};
        const std::vector<int32_t>& columns = b_.columns;
        const std::vector<int32_t>& rows = b_.rows;
        const std::vector<double>& values = b_.values;
        const std::vector<double>& invSd = b_.invSd;
        const std::size_t n = values.size();
        if (profile_ == PsfProfile::Gaussian) {
            AxisProfile px[2], py[2];
            const std::size_t xs = AxisProfile::axisDoubles(width_);
            const std::size_t ys = AxisProfile::axisDoubles(height_);
            b_.axes.resize(2 * (xs + ys));
            for (int s = 0; s < 2; ++s) {
                double* store = b_.axes.data() + static_cast<std::size_t>(s) * (xs + ys);
                px[s].compute(width_, p[3 * s], w[s], store);
                py[s].compute(height_, p[3 * s + 1], w[s], store + xs);
            }
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t c = static_cast<std::size_t>(columns[i]);
                const std::size_t r = static_cast<std::size_t>(rows[i]);
                const double inv = invSd[i];
                double model = p[kSky];
                double byWidth[2];
                for (int s = 0; s < 2; ++s) {
                    const double a = px[s].share[c] * py[s].share[r];
                    model += f[s] * a;
                    if (jm != nullptr) {
                        double* row = jm + i * kMain + 3 * s;
                        row[0] = f[s] * px[s].byCentre[c] * py[s].share[r] * inv;
                        row[1] = f[s] * px[s].share[c] * py[s].byCentre[r] * inv;
                        row[2] = a * inv;
                    }
                    byWidth[s] =
                        f[s] *
                        (px[s].bySigma[c] * py[s].share[r] + px[s].share[c] * py[s].bySigma[r]) *
                        inv;
                }
                residuals[i] = (model - values[i]) * inv;
                if (jm != nullptr)
                    jm[i * kMain + kSky] = inv;
                storeWidths(jw, i, byWidth);
                if (jb != nullptr)
                    jb[i] = 0;
            }
            return true;
        }
        const double beta = parameters[3][0];
        if (!(beta > 1))
            return false;
        double norm[2], inv2[2];
        // The solver asks for the cost at a point and then, when it keeps
        // the point, for the slopes there; the lights change more often than
        // the shapes. A star's powers are worked out again only when its
        // centre, width or beta moved.
        bool fresh[2];
        b_.power.resize(2 * n);
        b_.logQ.resize(2 * n);
        for (int s = 0; s < 2; ++s) {
            inv2[s] = 1.0 / (w[s] * w[s]);
            norm[s] = (beta - 1) / kPi * inv2[s];
            const std::array<double, 4> at = {p[3 * s], p[3 * s + 1], w[s], beta};
            const std::size_t k = static_cast<std::size_t>(s);
            fresh[s] = !b_.powerKnown[k] || b_.powerAt[k] != at;
            b_.powerAt[k] = at;
            b_.powerKnown[k] = true;
        }
        double* power = b_.power.data();
        double* logQs = b_.logQ.data();
        for (std::size_t i = 0; i < n; ++i) {
            const double inv = invSd[i];
            double model = p[kSky], byBeta = 0, byWidth[2];
            for (int s = 0; s < 2; ++s) {
                const double dx = columns[i] - p[3 * s], dy = rows[i] - p[3 * s + 1];
                const double u = (dx * dx + dy * dy) * inv2[s];
                const std::size_t at = 2 * i + static_cast<std::size_t>(s);
                if (fresh[s]) {
                    logQs[at] = std::log1p(u);
                    power[at] = std::exp(-beta * logQs[at]);
                }
                const double logQ = logQs[at];
                const double shape = norm[s] * power[at];
                const double light = f[s] * shape;
                model += light;
                if (jacobians == nullptr)
                    continue;
                // d/dcentre: f norm beta q^(-beta-1) 2 d / alpha^2.
                const double slope = 2 * beta * light / (1 + u) * inv2[s] * inv;
                if (jm != nullptr) {
                    double* row = jm + i * kMain + 3 * s;
                    row[0] = slope * dx;
                    row[1] = slope * dy;
                    row[2] = shape * inv;
                }
                byWidth[s] = light * (-2.0 + 2.0 * beta * u / (1 + u)) / w[s] * inv;
                byBeta += light * (1.0 / (beta - 1) - logQ) * inv;
            }
            residuals[i] = (model - values[i]) * inv;
            if (jacobians == nullptr)
                continue;
            if (jm != nullptr)
                jm[i * kMain + kSky] = inv;
            storeWidths(jw, i, byWidth);
            if (jb != nullptr)
                jb[i] = byBeta;
        }
        return true;
    }

private:
    void storeWidths(double* const* jw, std::size_t i, const double* byWidth) const {
        if (own_) {
            if (jw[0] != nullptr)
                jw[0][i] = byWidth[0];
            if (jw[1] != nullptr)
                jw[1][i] = byWidth[1];
        } else {
            if (jw[0] != nullptr)
                jw[0][i] = byWidth[0] + byWidth[1];
            if (jw[1] != nullptr)
                jw[1][i] = 0;
        }
    }

    PsfProfile profile_;
    bool own_;
    int32_t width_, height_;
    Buffers& b_; // the solver evaluates on one thread
};

double squared(double dx, double dy) {
    return dx * dx + dy * dy;
}

// The median, found in place: the order of v is lost.
double medianOf(std::vector<double>& v) {
    if (v.empty())
        return 0;
    auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Pixel x covers [x - 0.5, x + 0.5], so the box's area runs from half a
// pixel before its first column to half a pixel after its last.
bool insideBox(const PsfStar& s, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return s.inside(left, top, right, bottom);
}

} // namespace

void PsfFit::collectPixels(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                           int32_t bottom, const PsfFitStart& start, double sigma) {
    Buffers& buf = buffers_.value;
    buf.powerKnown = {false, false};
    buf.columns.clear();
    buf.rows.clear();
    buf.values.clear();
    buf.skyValues.clear();
    buf.light.clear();
    const double reach = kWindowSigmas * sigma + kWindowMarginPx;
    const double starReach = kStarSigmas * sigma;
    const double reach2 = reach * reach, starReach2 = starReach * starReach;
    // Only the part of the box on the plane is visited, however large the box.
    const int32_t x0 = std::max(left, 0), x1 = std::min(right, plane.width);
    const int32_t y0 = std::max(top, 0), y1 = std::min(bottom, plane.height);
    for (int32_t y = y0; y < y1; ++y) {
        // The row and the three round it that the 3 x 3 means read, where
        // they lie whole in the frame held: read without a check per pixel.
        const uint16_t* row = plane.heldRow(y, x0, x1 - 1);
        const int32_t b0 = std::max(y - 1, 0), b1 = std::min(y + 1, plane.height - 1);
        const int32_t a0 = std::max(x0 - 1, 0), a1 = std::min(x1, plane.width - 1);
        const uint16_t* around[3] = {nullptr, nullptr, nullptr};
        bool aroundHeld = true;
        for (int32_t b = b0; b <= b1; ++b) {
            around[b - b0] = plane.heldRow(b, a0, a1);
            aroundHeld = aroundHeld && around[b - b0] != nullptr;
        }
        for (int32_t x = x0; x < x1; ++x) {
            const double d2 = std::min(squared(x - start.x[0], y - start.y[0]),
                                       squared(x - start.x[1], y - start.y[1]));
            const uint16_t v = row != nullptr ? row[x] : plane.at(x, y);
            // A clipped sample would pull the model's core down and its width
            // out; the unclipped pixels round it still fix the star.
            if (d2 > reach2 || plane.saturated(v))
                continue;
            buf.columns.push_back(x);
            buf.rows.push_back(y);
            buf.values.push_back(v);
            // The light round the pixel, its 3 x 3 mean: what sets its photon
            // noise, without the pixel's own noise deciding its weight.
            double sum = 0;
            int32_t count = 0;
            for (int32_t b = b0; b <= b1; ++b)
                for (int32_t a = std::max(x - 1, 0); a <= std::min(x + 1, plane.width - 1); ++a) {
                    sum += aroundHeld ? around[b - b0][a] : plane.at(a, b);
                    ++count;
                }
            buf.light.push_back(sum / count);
            if (d2 > starReach2)
                buf.skyValues.push_back(buf.values.back());
        }
    }
    if (buf.skyValues.empty())
        buf.skyValues = buf.values;
}

const char* psfFitStatusText(PsfFitStatus status) {
    switch (status) {
    case PsfFitStatus::Converged:
        return "converged";
    case PsfFitStatus::NotConverged:
        return "did not converge";
    case PsfFitStatus::NoLight:
        return "a star without light";
    case PsfFitStatus::CentreOutsideBox:
        return "centre outside the box";
    case PsfFitStatus::TooClose:
        return "centres closer than a quarter of the star width";
    case PsfFitStatus::TooFewPixels:
        return "too few pixels in the box";
    case PsfFitStatus::BadStart:
        return "starting centres or width not a number";
    case PsfFitStatus::SecondaryAtReach:
        return "the second star's centre at the end of its reach";
    }
    return "unknown";
}

namespace {

// A run's first width: the second moment of the light round the first star,
// within half the separation (and 8 default widths), of the pixels clearly
// above the sky of the ring just beyond. A start far narrower than the star
// lets the solver settle on one bright grain of a speckled image, with the
// rest of the star taken for its wings.
double startingSigma(const PlaneView& plane, const PsfFitStart& start) {
    const double reach = std::min(
        0.5 * std::hypot(start.x[1] - start.x[0], start.y[1] - start.y[0]), 8 * kPsfDefaultSigmaPx);
    const int32_t r = static_cast<int32_t>(std::ceil(reach)) + 1;
    const int32_t cx = static_cast<int32_t>(std::lround(start.x[0]));
    const int32_t cy = static_cast<int32_t>(std::lround(start.y[0]));
    std::vector<double> ring;
    for (int32_t y = cy - r; y <= cy + r; ++y)
        for (int32_t x = cx - r; x <= cx + r; ++x) {
            const double d = std::hypot(x - start.x[0], y - start.y[0]);
            if (plane.contains(x, y) && d > reach - 1.5 && d <= reach)
                ring.push_back(plane.at(x, y));
        }
    if (ring.size() < 8)
        return kPsfDefaultSigmaPx;
    const double sky = medianOf(ring);
    for (double& v : ring)
        v = std::fabs(v - sky);
    const double floor = 3 * std::max(1.4826 * medianOf(ring), 0.5);
    double sum = 0, second = 0;
    for (int32_t y = cy - r; y <= cy + r; ++y)
        for (int32_t x = cx - r; x <= cx + r; ++x) {
            const double d = std::hypot(x - start.x[0], y - start.y[0]);
            if (!plane.contains(x, y) || d > reach)
                continue;
            const double w = plane.at(x, y) - sky;
            if (w <= floor)
                continue;
            sum += w;
            second += w * d * d;
        }
    const double sigma = sum > 0 ? std::sqrt(second / (2 * sum)) : 0.0;
    return std::isfinite(sigma) && sigma > kPsfDefaultSigmaPx ? sigma : kPsfDefaultSigmaPx;
}

// The parameters' covariance from the weighted Jacobian's rows at the
// solution: (J^T J)^-1 over the fitted parameters, times the reduced
// chi-square, so that the errors follow the noise actually present (where
// the noise model is right, the chi-square is 1).
struct Covariance {
    bool determined = false;
    FitMatrix matrix, inverse;
};

template <class Row>
Covariance covarianceOf(std::size_t n, int used, const Row& jacobianRow, double reducedChiSquare) {
    FitMatrix normal = FitMatrix::Zero(used, used);
    for (std::size_t i = 0; i < n; ++i) {
        const FitVector row = jacobianRow(i);
        normal.selfadjointView<Eigen::Lower>().rankUpdate(row);
    }
    normal.triangularView<Eigen::StrictlyUpper>() = normal.transpose();
    Covariance c;
    if (invertNormal(normal, c.inverse) && c.inverse.diagonal().minCoeff() > 0) {
        c.determined = true;
        c.matrix = c.inverse * reducedChiSquare;
    }
    return c;
}

} // namespace

struct PsfFit::Solved {
    double main[kMain];
    double width[2];
    double beta;
    bool converged = false;
    int32_t iterations = 0;
    double chiSquare = 0;
    int32_t free = 0; // parameters fitted
};

PsfFit::Solved PsfFit::solve(PsfProfile profile, bool ownWidths, const double* start, int32_t width,
                             int32_t height, double secondaryReach) {
    Solved out;
    std::copy(start, start + kMain, out.main);
    out.width[0] = start[kW0];
    out.width[1] = start[kW1];
    out.beta = start[kBeta];
    PairModel<Buffers> model(profile, ownWidths, width, height, buffers_.value);
    ceres::Problem::Options problemOptions;
    problemOptions.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problemOptions);
    problem.AddResidualBlock(&model, nullptr, out.main, &out.width[0], &out.width[1], &out.beta);
    const double widest = std::max(width, height);
    for (int s = 0; s < 2; ++s) {
        problem.SetParameterLowerBound(&out.width[s], 0, kPsfMinSigmaPx);
        problem.SetParameterUpperBound(&out.width[s], 0, widest);
    }
    if (secondaryReach > 0)
        for (const int k : {kX1, kY1}) {
            problem.SetParameterLowerBound(out.main, k, start[k] - secondaryReach);
            problem.SetParameterUpperBound(out.main, k, start[k] + secondaryReach);
        }
    problem.SetParameterLowerBound(&out.beta, 0, kMinBeta);
    problem.SetParameterUpperBound(&out.beta, 0, kMaxBeta);
    out.free = kMain + 1;
    if (ownWidths)
        ++out.free;
    else
        problem.SetParameterBlockConstant(&out.width[1]);
    if (profile == PsfProfile::Moffat)
        ++out.free;
    else
        problem.SetParameterBlockConstant(&out.beta);

    ceres::Solver::Options options = smallFitOptions(kMaxIterations);
    // No line search along the bounds: where a width or beta met its bound
    // it took three times the evaluations per step, and on a speckled frame
    // it walked the stars' centres off to a wrong minimum; the step is held
    // inside the bounds all the same.
    options.max_num_line_search_step_size_iterations = 0;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    out.converged = summary.termination_type == ceres::CONVERGENCE;
    out.iterations = static_cast<int32_t>(summary.iterations.size());
    out.chiSquare = 2 * summary.final_cost;
    return out;
}

PsfFitResult PsfFit::fit(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                         int32_t bottom, const PsfFitStart& start) {
    PsfFitResult result;
    Buffers& buf = buffers_.value;
    const bool finiteStart = std::isfinite(start.x[0]) && std::isfinite(start.y[0]) &&
                             std::isfinite(start.x[1]) && std::isfinite(start.y[1]) &&
                             std::isfinite(start.sigma);
    if (!finiteStart) {
        result.status = PsfFitStatus::BadStart;
        return result;
    }
    double sigma0 = start.sigma > 0  ? start.sigma
                    : lastSigma_ > 0 ? lastSigma_
                                     : startingSigma(plane, start);
    collectPixels(plane, left, top, right, bottom, start, sigma0);
    result.pixels = static_cast<int32_t>(buf.values.size());
    if (result.pixels < kMinPixelsPerParam * kColumns)
        return result;

    // The model lives on the rectangle the fitted pixels span, with its own
    // origin, so its size and cost follow the stars, not the box.
    const auto [minX, maxX] = std::minmax_element(buf.columns.begin(), buf.columns.end());
    const auto [minY, maxY] = std::minmax_element(buf.rows.begin(), buf.rows.end());
    const int32_t originX = *minX, originY = *minY;
    const int32_t width = *maxX - originX + 1, height = *maxY - originY + 1;
    for (int32_t& c : buf.columns)
        c -= originX;
    for (int32_t& r : buf.rows)
        r -= originY;

    // The weights: the sky's scatter from the fitted pixels away from both
    // stars (their median absolute deviation, which a star's wing in a few
    // of them does not move), the photon noise as the run has learnt it.
    const double sky0 = medianOf(buf.skyValues);
    for (double& v : buf.skyValues)
        v = std::fabs(v - sky0);
    const double skyNoise = 1.4826 * medianOf(buf.skyValues);
    NoiseModel noise = noiseModelFor(skyNoise, sky0, start.readNoise, start.gain);
    if (!(start.gain > 0))
        noise.perLight = photonNoise_.perLight();
    buf.invSd.resize(buf.values.size());
    for (std::size_t i = 0; i < buf.values.size(); ++i)
        buf.invSd[i] = 1.0 / std::sqrt(noise.variance(buf.light[i] - sky0));
    result.noise = noise;

    // Starting point: the given centres and width, the sky from the fitted
    // pixels away from both stars, each star's light from its nearest pixel.
    double params[kColumns];
    params[kSky] = sky0;
    params[kW0] = params[kW1] = sigma0;
    params[kBeta] = lastBeta_ > 0 ? lastBeta_ : kStartBeta;
    double peaks[2];
    for (std::size_t s = 0; s < 2; ++s) {
        params[3 * s] = start.x[s] - originX;
        params[3 * s + 1] = start.y[s] - originY;
        const int32_t nx = static_cast<int32_t>(std::lround(start.x[s]));
        const int32_t ny = static_cast<int32_t>(std::lround(start.y[s]));
        const double nearest = plane.contains(nx, ny) ? plane.at(nx, ny) : sky0;
        peaks[s] = std::max(nearest - sky0, 1.0);
    }
    const auto startFor = [&](PsfProfile profile) {
        std::array<double, kColumns> p;
        std::copy(params, params + kColumns, p.begin());
        for (int s = 0; s < 2; ++s) {
            if (profile == PsfProfile::Gaussian) {
                p[3 * s + 2] = peaks[s] * kTwoPi * sigma0 * sigma0;
            } else {
                // The same FWHM; the peak holds (beta - 1) / (pi alpha^2) of the light.
                const double alpha = sigma0 * kFwhmPerSigma / moffatFwhmPerAlpha(p[kBeta]);
                p[kW0 + s] = alpha;
                p[3 * s + 2] = peaks[s] * kPi * alpha * alpha / (p[kBeta] - 1);
            }
        }
        return p;
    };

    // The run's first frames try both profiles with one shared width and
    // keep the better on each; after them the run's choice holds.
    Solved fitted;
    PsfProfile profile;
    bool own = false;
    const bool choosing = choiceFrames_ < kChoiceFrames;
    if (choosing) {
        const auto gs = startFor(PsfProfile::Gaussian);
        const auto ms = startFor(PsfProfile::Moffat);
        const Solved g = solve(PsfProfile::Gaussian, false, gs.data(), width, height, 0);
        const Solved m = solve(PsfProfile::Moffat, false, ms.data(), width, height, 0);
        const double gScore = g.chiSquare + 2.0 * g.free, mScore = m.chiSquare + 2.0 * m.free;
        // A Moffat whose FWHM strays far from the Gaussian's has taken one
        // bright grain of a speckled image for the star and the rest for its
        // wings: then the run keeps the Gaussian.
        const double gFwhm = g.width[0] * kFwhmPerSigma;
        const double mFwhm = m.width[0] * moffatFwhmPerAlpha(m.beta);
        if (!overlapKnown_ && g.converged) {
            overlapKnown_ = true;
            overlapping_ = std::hypot(g.main[kX1] - g.main[kX0], g.main[kY1] - g.main[kY0]) <
                           kOverlapFwhm * gFwhm;
        }
        // So has one whose wings pressed beta to its floor. Where the images
        // overlap, though, the wings decide how the light between the stars
        // is shared: a speckled image's halo reaches far, and the Gaussian,
        // without it, reads such pairs a per cent short or more. There the
        // better fit is kept, whatever the wings' beta.
        const bool whole = m.converged && (overlapping_ || (mFwhm > gFwhm / kMaxFwhmRatio &&
                                                            mFwhm < gFwhm * kMaxFwhmRatio &&
                                                            m.beta > 1.05 * kMinBeta));
        const bool moffat = whole && (!g.converged || mScore < gScore);
        fitted = moffat ? m : g;
        profile = moffat ? PsfProfile::Moffat : PsfProfile::Gaussian;
        fitted.iterations = g.iterations + m.iterations;
        if (g.converged && m.converged) {
            ++choiceFrames_;
            gaussianScore_ += gScore;
            moffatScore_ += whole ? mScore : std::numeric_limits<double>::infinity();
        }
    } else {
        profile = moffatScore_ < gaussianScore_ ? PsfProfile::Moffat : PsfProfile::Gaussian;
        own = 2 * brightFrames_ > kChoiceFrames;
        const auto p = startFor(profile);
        fitted = solve(profile, own, p.data(), width, height, 0);
    }
    // A second star that walked beyond its reach is fitted again, held
    // within it: then it either finds its own light there or stops at the
    // bound. (A fit that stayed within never meets the bound, and is kept
    // as it came.)
    const double reach = start.secondaryReach;
    const auto beyond = [&](const Solved& f) {
        return std::fabs(f.main[kX1] + originX - start.x[1]) > reach ||
               std::fabs(f.main[kY1] + originY - start.y[1]) > reach;
    };
    if (reach > 0 && beyond(fitted)) {
        const auto p = startFor(profile);
        const int32_t before = fitted.iterations;
        fitted = solve(profile, own, p.data(), width, height, reach);
        fitted.iterations += before;
    }
    result.iterations = fitted.iterations;
    result.profile = profile;
    result.ownWidths = own;

    // Standard errors from the weighted Jacobian at the solution.
    const std::size_t n = buf.values.size();
    const int32_t free = fitted.free;
    buf.residuals.resize(n);
    buf.mainRows.resize(n * kMain); // kMain to a row
    buf.widthColumns.resize(3 * n); // widths and beta, a column each
    double* jw = buf.widthColumns.data();
    double* jacobianBlocks[] = {buf.mainRows.data(), jw, jw + n, jw + 2 * n};
    PairModel<Buffers> model(profile, own, width, height, buf);
    const double* blocks[] = {fitted.main, &fitted.width[0], &fitted.width[1], &fitted.beta};
    const bool evaluated = model.Evaluate(blocks, buf.residuals.data(), jacobianBlocks);
    // The fitted columns: the main block, the first width, then the second
    // width and beta where they were fitted.
    int columns[kColumns];
    int used = 0;
    for (int c = 0; c < kMain; ++c)
        columns[used++] = c;
    columns[used++] = kW0;
    if (own)
        columns[used++] = kW1;
    if (profile == PsfProfile::Moffat)
        columns[used++] = kBeta;
    const auto jacobianRow = [&](std::size_t i) {
        FitVector row(used);
        for (int k = 0; k < used; ++k) {
            const int c = columns[k];
            row[k] = c < kMain ? buf.mainRows[i * kMain + static_cast<std::size_t>(c)]
                               : jw[static_cast<std::size_t>(c - kMain) * n + i];
        }
        return row;
    };
    double chi2 = 0, rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        chi2 += buf.residuals[i] * buf.residuals[i];
        const double r = buf.residuals[i] / buf.invSd[i];
        rss += r * r;
    }
    const double dof = static_cast<double>(static_cast<int32_t>(n) - free);
    result.reducedChiSquare = chi2 / dof;
    result.residualSd = std::sqrt(rss / dof);
    const Covariance cov =
        evaluated ? covarianceOf(n, used, jacobianRow, result.reducedChiSquare) : Covariance{};
    const bool determined = cov.determined;
    const FitMatrix& covariance = cov.matrix;
    const auto errors = [&](int k) {
        return determined ? std::sqrt(covariance(k, k)) : std::numeric_limits<double>::infinity();
    };
    // The photon noise, learnt where no gain was given, from this frame's
    // residuals and what the fit left of each pixel's noise.
    if (determined && !(start.gain > 0) && fitted.converged)
        for (std::size_t i = 0; i < n; ++i) {
            const auto row = jacobianRow(i);
            const double leverage = row.dot(cov.inverse * row);
            const double variance = 1.0 / (buf.invSd[i] * buf.invSd[i]);
            const double r = buf.residuals[i] / buf.invSd[i];
            const double light = buf.values[i] + r - fitted.main[kSky];
            photonNoise_.add(r, leverage, light, noise.skyVariance, variance);
        }
    for (int s = 0; s < 2; ++s) {
        PsfStar& star = result.stars[static_cast<std::size_t>(s)];
        star.x = fitted.main[3 * s] + originX;
        star.y = fitted.main[3 * s + 1] + originY;
        star.flux = fitted.main[3 * s + 2];
        star.xError = errors(3 * s);
        star.yError = errors(3 * s + 1);
        star.fluxError = errors(3 * s + 2);
        star.width = own || s == 0 ? fitted.width[s] : fitted.width[0];
    }
    result.beta = profile == PsfProfile::Moffat ? fitted.beta : 0.0;
    // The first star's width as a Gaussian's sigma of the same FWHM.
    const double perWidth =
        profile == PsfProfile::Moffat ? moffatFwhmPerAlpha(fitted.beta) / kFwhmPerSigma : 1.0;
    result.sigma = fitted.width[0] * perWidth;
    result.sigmaError = errors(kMain) * perWidth; // the first width follows the main block
    result.sky = fitted.main[kSky];
    result.skyError = errors(kSky);
    const auto offsetError = [&](int a, int b) {
        return std::sqrt(std::max(covariance(a, a) + covariance(b, b) - 2 * covariance(a, b), 0.0));
    };
    const double inf = std::numeric_limits<double>::infinity();
    result.offsetXError = determined ? offsetError(kX0, kX1) : inf;
    result.offsetYError = determined ? offsetError(kY0, kY1) : inf;
    const double f0 = fitted.main[kFlux0], f1 = fitted.main[kFlux1];
    result.fluxRatio = f0 != 0 ? f1 / f0 : 0.0;
    if (determined && f0 > 0 && f1 > 0) {
        const double rel = covariance(kFlux0, kFlux0) / (f0 * f0) +
                           covariance(kFlux1, kFlux1) / (f1 * f1) -
                           2 * covariance(kFlux0, kFlux1) / (f0 * f1);
        result.fluxRatioError = result.fluxRatio * std::sqrt(std::max(rel, 0.0));
    } else {
        result.fluxRatioError = inf;
    }

    const PsfStar& a = result.stars[0];
    const PsfStar& b = result.stars[1];
    const auto lit = [](const PsfStar& st) { return st.lit(); };
    // A centre within a thousandth of a pixel of its bound was held there.
    const auto atReach = [&](double at, double from) {
        return std::fabs(at - from) > reach - 1e-3;
    };
    if (!fitted.converged)
        result.status = PsfFitStatus::NotConverged;
    else if (reach > 0 && (atReach(b.x, start.x[1]) || atReach(b.y, start.y[1])))
        result.status = PsfFitStatus::SecondaryAtReach;
    else if (!insideBox(a, left, top, right, bottom) || !insideBox(b, left, top, right, bottom))
        result.status = PsfFitStatus::CentreOutsideBox;
    else if (std::hypot(a.x - b.x, a.y - b.y) <= kMinSeparationFwhm * result.fwhm())
        result.status = PsfFitStatus::TooClose;
    else if (!lit(a) || !lit(b))
        result.status = PsfFitStatus::NoLight;
    else if (!determined)
        result.status = PsfFitStatus::NotConverged; // a minimum, but not a unique one
    else
        result.status = PsfFitStatus::Converged;

    if (result.ok()) {
        // The next frame starts from this one's widths; a bright enough
        // fainter star in the run's first frames earns each star its width.
        lastSigma_ = result.sigma;
        if (profile == PsfProfile::Moffat)
            lastBeta_ = fitted.beta;
        if (choosing && std::min(a.flux / a.fluxError, b.flux / b.fluxError) >= kOwnWidthFluxErrors)
            ++brightFrames_;
    }
    return result;
}

} // namespace corvane
