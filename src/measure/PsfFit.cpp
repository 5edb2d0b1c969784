#include "measure/PsfFit.h"

#include <Eigen/Dense>
#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace corvane {

namespace {

// Why this model: a star's image in a short video exposure is the seeing disc,
// which the drift simulator renders as a round Gaussian and which the single
// frames of a real recording at hand (a 16-bit lucky-imaging frame) follow
// about as well as a Moffat profile does, with no lasting elongation. Each
// pixel receives the Gaussian's light integrated over its square (the erf
// differences below), not the Gaussian's value at its centre: the centres
// come out the same either way, but only the integrated model gives the
// star's own width (sampled, a 3-pixel FWHM reads about 3 % wide).

// Parameter layout. The centres are counted from the corner of the fitted
// pixels' rectangle, so the numbers stay small.
enum Param { kX0, kY0, kFlux0, kX1, kY1, kFlux1, kSigma, kSky, kParams };

constexpr int kMaxIterations = 50;
// At least this many pixels per fitted parameter.
constexpr int32_t kMinPixelsPerParam = 4;
constexpr double kInvSqrtPi = 0.5641895835477563;
constexpr double kInvSqrt2 = 0.7071067811865476;
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

// Share of a unit Gaussian's light falling in each of n cells (cell j spans
// [j - 0.5, j + 0.5]), with its derivatives by the centre and by sigma.
struct AxisProfile {
    std::vector<double> share, byCentre, bySigma;
    std::vector<double> erfs, gauss, t; // at the n + 1 cell edges

    void compute(int32_t n, double centre, double sigma) {
        const std::size_t cells = static_cast<std::size_t>(n);
        share.resize(cells);
        byCentre.resize(cells);
        bySigma.resize(cells);
        erfs.resize(cells + 1);
        gauss.resize(cells + 1);
        t.resize(cells + 1);
        const double k = kInvSqrt2 / sigma;
        for (std::size_t j = 0; j <= cells; ++j) {
            t[j] = (static_cast<double>(j) - 0.5 - centre) * k;
            erfs[j] = std::erf(t[j]);
            gauss[j] = std::exp(-t[j] * t[j]);
        }
        for (std::size_t j = 0; j < cells; ++j) {
            share[j] = 0.5 * (erfs[j + 1] - erfs[j]);
            byCentre[j] = -k * kInvSqrtPi * (gauss[j + 1] - gauss[j]);
            bySigma[j] = -kInvSqrtPi / sigma * (t[j + 1] * gauss[j + 1] - t[j] * gauss[j]);
        }
    }
};

// Residuals model - pixel for every fitted pixel, with the exact Jacobian.
class PairModel final : public ceres::CostFunction {
public:
    PairModel(int32_t width, int32_t height, const std::vector<int32_t>& columns,
              const std::vector<int32_t>& rows, const std::vector<double>& values)
        : width_(width), height_(height), columns_(columns), rows_(rows), values_(values) {
        set_num_residuals(static_cast<int>(values.size()));
        mutable_parameter_block_sizes()->push_back(kParams);
    }

    bool Evaluate(double const* const* parameters, double* residuals,
                  double** jacobians) const override {
        const double* p = parameters[0];
        const double sigma = p[kSigma];
        if (!(sigma > 0))
            return false;
        for (int s = 0; s < 2; ++s) {
            const int base = s == 0 ? kX0 : kX1;
            px_[s].compute(width_, p[base], sigma);
            py_[s].compute(height_, p[base + 1], sigma);
        }
        const double f0 = p[kFlux0], f1 = p[kFlux1];
        double* jac = jacobians != nullptr ? jacobians[0] : nullptr;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const std::size_t c = static_cast<std::size_t>(columns_[i]);
            const std::size_t r = static_cast<std::size_t>(rows_[i]);
            const double a0 = px_[0].share[c] * py_[0].share[r];
            const double a1 = px_[1].share[c] * py_[1].share[r];
            residuals[i] = p[kSky] + f0 * a0 + f1 * a1 - values_[i];
            if (jac == nullptr)
                continue;
            double* row = jac + i * kParams;
            row[kX0] = f0 * px_[0].byCentre[c] * py_[0].share[r];
            row[kY0] = f0 * px_[0].share[c] * py_[0].byCentre[r];
            row[kFlux0] = a0;
            row[kX1] = f1 * px_[1].byCentre[c] * py_[1].share[r];
            row[kY1] = f1 * px_[1].share[c] * py_[1].byCentre[r];
            row[kFlux1] = a1;
            row[kSigma] =
                f0 * (px_[0].bySigma[c] * py_[0].share[r] + px_[0].share[c] * py_[0].bySigma[r]) +
                f1 * (px_[1].bySigma[c] * py_[1].share[r] + px_[1].share[c] * py_[1].bySigma[r]);
            row[kSky] = 1.0;
        }
        return true;
    }

private:
    int32_t width_, height_;
    const std::vector<int32_t>& columns_;
    const std::vector<int32_t>& rows_;
    const std::vector<double>& values_;
    // Scratch: the solver evaluates on one thread.
    mutable AxisProfile px_[2], py_[2];
};

double medianOf(std::vector<double> v) {
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
    columns_.clear();
    rows_.clear();
    values_.clear();
    skyValues_.clear();
    const double reach = kWindowSigmas * sigma + kWindowMarginPx;
    const double starReach = kStarSigmas * sigma;
    // Only the part of the box on the plane is visited, however large the box.
    const int32_t x0 = std::max(left, 0), x1 = std::min(right, plane.width);
    const int32_t y0 = std::max(top, 0), y1 = std::min(bottom, plane.height);
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            const double d = std::min(std::hypot(x - start.x[0], y - start.y[0]),
                                      std::hypot(x - start.x[1], y - start.y[1]));
            const uint16_t v = plane.at(x, y);
            // A clipped sample would pull the model's core down and its width
            // out; the unclipped pixels round it still fix the star.
            if (d > reach || plane.saturated(v))
                continue;
            columns_.push_back(x);
            rows_.push_back(y);
            values_.push_back(v);
            if (d > starReach)
                skyValues_.push_back(values_.back());
        }
    if (skyValues_.empty())
        skyValues_ = values_;
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
    }
    return "unknown";
}

PsfFitResult PsfFit::fit(const PlaneView& plane, int32_t left, int32_t top, int32_t right,
                         int32_t bottom, const PsfFitStart& start) {
    PsfFitResult result;
    const bool finiteStart = std::isfinite(start.x[0]) && std::isfinite(start.y[0]) &&
                             std::isfinite(start.x[1]) && std::isfinite(start.y[1]) &&
                             std::isfinite(start.sigma);
    if (!finiteStart) {
        result.status = PsfFitStatus::BadStart;
        return result;
    }
    const double sigma0 = start.sigma > 0 ? start.sigma : kPsfDefaultSigmaPx;
    collectPixels(plane, left, top, right, bottom, start, sigma0);
    result.pixels = static_cast<int32_t>(values_.size());
    if (result.pixels < kMinPixelsPerParam * kParams)
        return result;

    // The model lives on the rectangle the fitted pixels span, with its own
    // origin, so its size and cost follow the stars, not the box.
    const auto [minX, maxX] = std::minmax_element(columns_.begin(), columns_.end());
    const auto [minY, maxY] = std::minmax_element(rows_.begin(), rows_.end());
    const int32_t originX = *minX, originY = *minY;
    const int32_t width = *maxX - originX + 1, height = *maxY - originY + 1;
    for (int32_t& c : columns_)
        c -= originX;
    for (int32_t& r : rows_)
        r -= originY;

    // Starting point: the given centres and width, the sky from the fitted
    // pixels away from both stars, each star's light from its nearest pixel.
    const double sky0 = medianOf(skyValues_);
    double params[kParams];
    params[kSigma] = sigma0;
    params[kSky] = sky0;
    for (std::size_t s = 0; s < 2; ++s) {
        const int base = s == 0 ? kX0 : kX1;
        params[base] = start.x[s] - originX;
        params[base + 1] = start.y[s] - originY;
        const double nearest = plane.contains(static_cast<int32_t>(std::lround(start.x[s])),
                                              static_cast<int32_t>(std::lround(start.y[s])))
                                   ? plane.at(static_cast<int32_t>(std::lround(start.x[s])),
                                              static_cast<int32_t>(std::lround(start.y[s])))
                                   : sky0;
        params[base + 2] = std::max(nearest - sky0, 1.0) * kTwoPi * sigma0 * sigma0;
    }

    PairModel model(width, height, columns_, rows_, values_);
    ceres::Problem::Options problemOptions;
    problemOptions.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problemOptions);
    problem.AddResidualBlock(&model, nullptr, params);
    problem.SetParameterLowerBound(params, kSigma, kPsfMinSigmaPx);
    problem.SetParameterUpperBound(params, kSigma, std::max(width, height));

    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_NORMAL_CHOLESKY;
    options.max_num_iterations = kMaxIterations;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    options.minimizer_progress_to_stdout = false;
    options.function_tolerance = 1e-10;
    options.parameter_tolerance = 1e-10;
    ceres::Solver::Summary summary;
    ceres::Solve(options, &problem, &summary);
    result.iterations = static_cast<int32_t>(summary.iterations.size());

    // Standard errors from the Jacobian at the solution: the covariance is
    // (J^T J)^-1 times the residual variance RSS / (n - parameters). The
    // residual variance stands in for the pixel noise, so the errors follow
    // the noise actually present (sky noise, read noise, the rounding to
    // whole steps) without being told it.
    const std::size_t n = values_.size();
    Eigen::Matrix<double, Eigen::Dynamic, kParams, Eigen::RowMajor> jacobian(n, kParams);
    std::vector<double> residuals(n);
    const double* blocks[] = {params};
    double* jacobianBlocks[] = {jacobian.data()};
    const bool evaluated = model.Evaluate(blocks, residuals.data(), jacobianBlocks);
    double rss = 0;
    for (double r : residuals)
        rss += r * r;
    const double variance = rss / static_cast<double>(n - kParams);
    Eigen::Matrix<double, kParams, 1> errors;
    errors.setConstant(std::numeric_limits<double>::infinity());
    bool determined = false;
    if (evaluated) {
        const Eigen::Matrix<double, kParams, kParams> normal = jacobian.transpose() * jacobian;
        const Eigen::LDLT<Eigen::Matrix<double, kParams, kParams>> ldlt(normal);
        if (ldlt.info() == Eigen::Success && ldlt.isPositive()) {
            const Eigen::Matrix<double, kParams, kParams> inverse =
                ldlt.solve(Eigen::Matrix<double, kParams, kParams>::Identity());
            determined = inverse.diagonal().minCoeff() > 0;
            if (determined)
                errors = (inverse.diagonal() * variance).cwiseSqrt();
        }
    }

    for (int s = 0; s < 2; ++s) {
        const int base = s == 0 ? kX0 : kX1;
        PsfStar& star = result.stars[static_cast<std::size_t>(s)];
        star.x = params[base] + originX;
        star.y = params[base + 1] + originY;
        star.flux = params[base + 2];
        star.xError = errors[base];
        star.yError = errors[base + 1];
        star.fluxError = errors[base + 2];
    }
    result.sigma = params[kSigma];
    result.sigmaError = errors[kSigma];
    result.sky = params[kSky];
    result.skyError = errors[kSky];
    result.residualSd = std::sqrt(variance);

    const PsfStar& a = result.stars[0];
    const PsfStar& b = result.stars[1];
    const auto lit = [](const PsfStar& s) { return s.lit(); };
    if (summary.termination_type != ceres::CONVERGENCE)
        result.status = PsfFitStatus::NotConverged;
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
    return result;
}

} // namespace corvane
