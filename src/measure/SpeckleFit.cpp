#include "measure/SpeckleFit.h"

#include <ceres/ceres.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>

namespace corvane {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// A normal distribution's standard deviation over its median absolute deviation.
constexpr double kMadToSigma = 1.4826;
// The search stays this share of the box from the centre (see SearchAnnulus).
constexpr double kOuterShare = 0.4;
constexpr int kMaxIterations = 50;
// The pair's fit starts from no fainter a ratio than this: at none the
// fringes, and so the separation, would have no say in the first steps.
constexpr double kMinStartRatio = 0.05;

// The inverse transform of a real half-plane spectrum, zero lag moved to the
// centre.
Autocorrelogram inverseOf(const SpectrumShape& shape, const std::vector<float>& halfPlane) {
    const int32_t n = shape.n;
    const std::size_t pixels = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    fftwf_complex* in = fftwf_alloc_complex(shape.cells());
    float* out = fftwf_alloc_real(pixels);
    if (!in || !out) {
        fftwf_free(in);
        fftwf_free(out);
        throw std::bad_alloc();
    }
    fftwf_plan plan;
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        plan = fftwf_plan_dft_c2r_2d(n, n, in, out, FFTW_ESTIMATE);
    }
    for (std::size_t k = 0; k < shape.cells(); ++k) {
        in[k][0] = halfPlane[k];
        in[k][1] = 0.0f;
    }
    fftwf_execute(plan);
    Autocorrelogram a;
    a.n = n;
    a.values.resize(pixels);
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x)
            a.values[static_cast<std::size_t>((y + n / 2) % n) * static_cast<std::size_t>(n) +
                     static_cast<std::size_t>((x + n / 2) % n)] =
                out[static_cast<std::size_t>(y) * static_cast<std::size_t>(n) +
                    static_cast<std::size_t>(x)];
    {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(in);
    fftwf_free(out);
    return a;
}

// The values of `a` whose lag lies within half a pixel of `radius`, but for
// those closer than `reach` to `+lag` or `-lag` (none for a reach of 0).
std::vector<float> ring(const Autocorrelogram& a, double radius, const PixelVector& lag = {},
                        double reach = 0) {
    std::vector<float> values;
    const int32_t c = a.n / 2;
    for (int32_t y = 0; y < a.n; ++y)
        for (int32_t x = 0; x < a.n; ++x) {
            const double dx = x - c, dy = y - c;
            if (!(std::fabs(std::hypot(dx, dy) - radius) < 0.5) ||
                std::hypot(dx - lag.x, dy - lag.y) < reach ||
                std::hypot(dx + lag.x, dy + lag.y) < reach)
                continue;
            values.push_back(a.at(x, y));
        }
    return values;
}

struct RingLevel {
    double median = 0;
    double sigma = 0;
};

RingLevel ringLevel(std::vector<float> values) {
    RingLevel level;
    if (values.empty())
        return level;
    const auto middle = [](std::vector<float>& v) {
        const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
        std::nth_element(v.begin(), mid, v.end());
        return static_cast<double>(*mid);
    };
    level.median = middle(values);
    for (float& v : values)
        v = static_cast<float>(std::fabs(v - level.median));
    level.sigma = kMadToSigma * middle(values);
    return level;
}

// The vertex of the parabola through three equally spaced values, as an
// offset from the middle one (-0.5 .. 0.5).
double parabolaVertex(double left, double middle, double right) {
    const double curvature = left - 2.0 * middle + right;
    if (!(curvature < 0))
        return 0.0;
    return std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
}

// The cell's radius mapped onto -1 .. 1 over the trusted band, and P1 ..
// P_terms of it by Legendre's recurrence appended to `out`.
void legendreTerms(const NormalisedSpectrum& s, int32_t u, int32_t v, std::vector<double>& out) {
    const double width = s.cutoff - s.lowLimit;
    const double x = width > 0 ? 2.0 * (std::hypot(u, v) - s.lowLimit) / width - 1.0 : 0.0;
    double previous = 1.0, current = x;
    for (int32_t d = 1; d <= s.radialTerms; ++d) {
        out.push_back(current);
        const double next = ((2.0 * d + 1.0) * x * current - d * previous) / (d + 1.0);
        previous = current;
        current = next;
    }
}

// Weighted residuals of the pair's model over the trusted cells, with the
// exact Jacobian. Parameters: amplitude, flux ratio, separation x and y;
// then, when the transfer came from a radial fit, the coefficients of the
// smooth radial correction b1 P1(x) + b2 P2(x) + ... added to the amplitude,
// P the Legendre polynomials and x the cell's radius mapped onto -1 .. 1
// over the trusted band. Linear in the amplitude and the correction, and
// with terms orthogonal over the band, so that the fit finds them in a few
// steps.
class SpectrumModel final : public ceres::CostFunction {
public:
    explicit SpectrumModel(const NormalisedSpectrum& s) : terms_(s.radialTerms) {
        const int32_t n = s.shape.n;
        forTrustedCells(s, [&](std::size_t k, int32_t u, int32_t v, double multiplicity) {
            u_.push_back(kTwoPi * u / n);
            v_.push_back(kTwoPi * v / n);
            legendreTerms(s, u, v, legendre_);
            value_.push_back(s.ratio[k]);
            scale_.push_back(std::sqrt(s.weight[k] * multiplicity));
        });
        set_num_residuals(static_cast<int>(u_.size()));
        mutable_parameter_block_sizes()->push_back(4);
        if (terms_ > 0)
            mutable_parameter_block_sizes()->push_back(terms_);
    }
    std::size_t cells() const { return u_.size(); }

    bool Evaluate(double const* const* parameters, double* residuals,
                  double** jacobians) const override {
        const double* p = parameters[0];
        const double* b = terms_ > 0 ? parameters[1] : nullptr;
        const double r = p[1], sx = p[2], sy = p[3];
        for (std::size_t i = 0; i < u_.size(); ++i) {
            const double* legendre = legendre_.data() + static_cast<std::size_t>(terms_) * i;
            double level = p[0];
            for (int32_t d = 0; d < terms_; ++d)
                level += b[d] * legendre[d];
            const double phase = u_[i] * sx + v_[i] * sy;
            const double cosine = std::cos(phase);
            const double shape = 1.0 + r * r + 2.0 * r * cosine;
            residuals[i] = scale_[i] * (level * shape - value_[i]);
            if (jacobians && jacobians[0]) {
                double* j = jacobians[0] + 4 * i;
                const double sine = std::sin(phase);
                const double k = scale_[i] * level;
                j[0] = scale_[i] * shape;
                j[1] = k * (2.0 * r + 2.0 * cosine);
                j[2] = -k * 2.0 * r * sine * u_[i];
                j[3] = -k * 2.0 * r * sine * v_[i];
            }
            if (terms_ > 0 && jacobians && jacobians[1]) {
                double* j = jacobians[1] + static_cast<std::size_t>(terms_) * i;
                for (int32_t d = 0; d < terms_; ++d)
                    j[d] = scale_[i] * shape * legendre[d];
            }
        }
        return true;
    }

private:
    int32_t terms_;
    std::vector<double> u_, v_, legendre_, value_, scale_;
};

} // namespace

Autocorrelogram autocorrelogram(const NormalisedSpectrum& spectrum) {
    std::vector<float> weighted(spectrum.shape.cells());
    for (std::size_t k = 0; k < weighted.size(); ++k)
        weighted[k] = spectrum.ratio[k] * spectrum.weight[k];
    return inverseOf(spectrum.shape, weighted);
}

Autocorrelogram withoutCentralPeak(const Autocorrelogram& pair,
                                   const NormalisedSpectrum& spectrum) {
    const Autocorrelogram peak = inverseOf(spectrum.shape, spectrum.weight);
    Autocorrelogram out = pair;
    const double scale = peak.centre() != 0 ? pair.centre() / peak.centre() : 0.0;
    for (std::size_t i = 0; i < out.values.size(); ++i)
        out.values[i] = static_cast<float>(pair.values[i] - scale * peak.values[i]);
    return out;
}

SearchAnnulus searchAnnulus(const NormalisedSpectrum& spectrum) {
    return {spectrum.diffractionPx(), kOuterShare * spectrum.shape.n};
}

SidePeak findSidePeak(const Autocorrelogram& residual, double centre,
                      const SearchAnnulus& annulus) {
    SidePeak peak;
    const int32_t c = residual.n / 2;
    int32_t bx = -1, by = -1;
    float best = 0;
    // Only one half: the other holds the same peak mirrored.
    for (int32_t y = 1; y <= c; ++y)
        for (int32_t x = 1; x < residual.n - 1; ++x) {
            const double r = std::hypot(x - c, y - c);
            if (r < annulus.inner || r > annulus.outer || (y == c && x < c))
                continue;
            if (bx < 0 || residual.at(x, y) > best) {
                best = residual.at(x, y);
                bx = x;
                by = y;
            }
        }
    if (bx < 0 || !(centre > 0))
        return peak;
    const double dx = parabolaVertex(residual.at(bx - 1, by), best, residual.at(bx + 1, by));
    const double dy = parabolaVertex(residual.at(bx, by - 1), best, residual.at(bx, by + 1));
    peak.lag = {bx - c + dx, by - c + dy};
    const double radius = std::hypot(bx - c, by - c);
    const RingLevel level = ringLevel(ring(residual, radius));
    peak.height = best / centre;
    peak.background = level.median / centre;
    peak.threshold = (level.median + kDetectionSigmas * level.sigma) / centre;
    peak.found = peak.height > peak.threshold && level.sigma > 0;
    const RingLevel rest =
        ringLevel(ring(residual, radius, {bx - c + 0.0, by - c + 0.0}, annulus.inner));
    peak.clearOfRing =
        rest.sigma > 0 && peak.height > (rest.median + kDetectionSigmas * rest.sigma) / centre;
    return peak;
}

double fluxRatioOfPeak(double height) {
    if (!(height > 0))
        return 0.0;
    if (height >= 0.5)
        return 1.0;
    return (1.0 - std::sqrt(1.0 - 4.0 * height * height)) / (2.0 * height);
}

std::vector<DetectionPoint> detectionLimit(const Autocorrelogram& residual, double centre,
                                           const SearchAnnulus& annulus,
                                           const PixelVector* pairLag) {
    std::vector<DetectionPoint> curve;
    if (!(centre > 0))
        return curve;
    const PixelVector lag = pairLag ? *pairLag : PixelVector{};
    const double reach = pairLag ? annulus.inner : 0.0;
    for (double r = std::ceil(annulus.inner); r <= annulus.outer; r += 1.0) {
        const RingLevel level = ringLevel(ring(residual, r, lag, reach));
        const double ratio = fluxRatioOfPeak(kDetectionSigmas * level.sigma / centre);
        if (ratio > 0)
            curve.push_back({r, -2.5 * std::log10(ratio)});
    }
    return curve;
}

PairModelFit fitPairModel(const NormalisedSpectrum& spectrum, const PixelVector& start,
                          double startRatio) {
    PairModelFit fit;
    auto* model = new SpectrumModel(spectrum);
    if (model->cells() < 8) {
        delete model;
        return fit;
    }
    // Starting amplitude: the mean of the trusted cells is about A (1 + r^2).
    double sum = 0, weights = 0;
    forTrustedCells(spectrum, [&](std::size_t k, int32_t, int32_t, double m) {
        sum += spectrum.weight[k] * m * spectrum.ratio[k];
        weights += spectrum.weight[k] * m;
    });
    const double r0 = std::clamp(startRatio, kMinStartRatio, 1.0);
    double p[4] = {weights > 0 ? sum / weights / (1.0 + r0 * r0) : 1.0, r0, start.x, start.y};
    std::vector<double> correction(static_cast<std::size_t>(std::max(spectrum.radialTerms, 0)),
                                   0.0);
    ceres::Problem problem;
    if (correction.empty())
        problem.AddResidualBlock(model, nullptr, p);
    else
        problem.AddResidualBlock(model, nullptr, p, correction.data());
    // A ratio r above 1 is the same pair as 1 / r, seen from its other star:
    // kept at 1 or below, an equal pair's fit settles at the bound instead
    // of swinging about 1, where the fringes' depth hardly changes with r.
    problem.SetParameterUpperBound(p, 1, 1.0);
    ceres::Solver::Options options;
    options.max_num_iterations = kMaxIterations;
    options.linear_solver_type = ceres::DENSE_QR;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    ceres::Solver::Summary summary;
    problem.SetManifold(p, new ceres::SubsetManifold(4, {2, 3}));
    ceres::Solve(options, &problem, &summary);
    problem.SetManifold(p, nullptr);
    ceres::Solve(options, &problem, &summary);
    const double strayed = std::min(std::hypot(p[2] - start.x, p[3] - start.y),
                                    std::hypot(p[2] + start.x, p[3] + start.y));
    fit.converged = summary.termination_type == ceres::CONVERGENCE && p[1] > 0 &&
                    std::isfinite(p[2]) && std::isfinite(p[3]) &&
                    strayed <= spectrum.diffractionPx();
    fit.separation = {p[2], p[3]};
    fit.amplitude = p[0];
    fit.correction = correction;
    // A ratio above 1 is the same pair seen from its other star.
    fit.fluxRatio = p[1] > 1.0 ? 1.0 / p[1] : p[1];
    return fit;
}

namespace {

// The fitted transfer's level at a cell: the amplitude with the smooth radial
// correction added. `terms` is scratch space.
double fittedLevel(const NormalisedSpectrum& spectrum, const PairModelFit& fit, int32_t u,
                   int32_t v, std::vector<double>& terms) {
    terms.clear();
    legendreTerms(spectrum, u, v, terms);
    double level = fit.amplitude;
    for (std::size_t d = 0; d < terms.size() && d < fit.correction.size(); ++d)
        level += fit.correction[d] * terms[d];
    return level;
}

} // namespace

std::vector<double> fittedRatio(const NormalisedSpectrum& spectrum, const PairModelFit& fit) {
    std::vector<double> model(spectrum.weight.size(), 0.0);
    std::vector<double> terms;
    const double n = spectrum.shape.n, r = fit.fluxRatio;
    forTrustedCells(spectrum, [&](std::size_t k, int32_t u, int32_t v, double) {
        const double level = fittedLevel(spectrum, fit, u, v, terms);
        const double phase = kTwoPi * (u * fit.separation.x + v * fit.separation.y) / n;
        model[k] = level * (1.0 + r * r + 2.0 * r * std::cos(phase));
    });
    return model;
}

NormalisedSpectrum withFittedCorrection(const NormalisedSpectrum& spectrum,
                                        const PairModelFit& fit) {
    NormalisedSpectrum out = spectrum;
    if (fit.correction.empty() || !(fit.amplitude > 0))
        return out;
    std::vector<double> terms;
    forTrustedCells(out, [&](std::size_t k, int32_t u, int32_t v, double) {
        const double level = fittedLevel(out, fit, u, v, terms);
        if (level > 0)
            out.ratio[k] = static_cast<float>(out.ratio[k] * fit.amplitude / level);
    });
    return out;
}

double quadrantAsymmetry(const SpectrumSums& sums, const NormalisedSpectrum& weights,
                         const PixelVector& s) {
    // C(-s) - C(s) = 2 sum Im(X) sin(2 pi f.s) over the whole plane; C(0) =
    // sum Re(X).
    double difference = 0, zero = 0;
    const double n = weights.shape.n;
    forTrustedCells(weights, [&](std::size_t k, int32_t u, int32_t v, double m) {
        const std::complex<double> x = sums.cross[k] * static_cast<double>(weights.weight[k]);
        difference += m * 2.0 * x.imag() * std::sin(kTwoPi * (u * s.x + v * s.y) / n);
        zero += m * x.real();
    });
    return zero != 0 ? difference / zero : 0.0;
}

} // namespace corvane
