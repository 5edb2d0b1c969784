#include "measure/SpeckleTransfer.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The signal ends where it is no longer this many times the noise floor, or
// this share of the first ring (a spectrum without noise).
constexpr double kCutoffSnr = 3.0;
constexpr double kCutoffShare = 1e-6;
// Frequencies below this share of the cut-off hold the seeing disc's shape,
// which neither a reference taken minutes apart nor a smooth fit matches.
constexpr double kLowShareReference = 0.04;
constexpr double kLowShareRadialFit = 0.12;
// Degree of the polynomial in the radius fitted to the log of the profile.
constexpr int kRadialFitDegree = 4;
// Terms of the radial correction fitted with the pair. The transfer's true
// shape (the seeing disc's shoulder at low frequencies, the fall to the
// cut-off) differs from the smooth fit by more than a few terms can follow,
// and the difference, transformed, leaves a slope under the side peak that
// pulls the separation short; fitted together with the pair the correction
// cannot take up the fringes, which are not round.
constexpr int kRadialCorrectionTerms = 12;

double perFrame(const SpectrumSums& s, std::size_t k) {
    return s.frames > 0 ? s.power[k] / s.frames : 0.0;
}

// The cells' weights: the aperture's transfer inside the cut-off, 0 below
// the low limit and where the divisor holds no signal.
void fillWeights(NormalisedSpectrum& out, const std::vector<double>& divisor) {
    out.weight.assign(out.shape.cells(), 0.0f);
    for (std::size_t k = 0; k < out.weight.size(); ++k) {
        const double f = cellRadius(out.shape, k);
        if (f < out.lowLimit || f >= out.cutoff || !(divisor[k] > 0))
            continue;
        out.weight[k] = static_cast<float>(apertureTransfer(f / out.cutoff));
    }
}

} // namespace

double cellRadius(const SpectrumShape& shape, std::size_t cell) {
    const int32_t cols = shape.columns();
    const int32_t u = static_cast<int32_t>(cell % static_cast<std::size_t>(cols));
    const int32_t v =
        shape.rowFrequency(static_cast<int32_t>(cell / static_cast<std::size_t>(cols)));
    return std::hypot(static_cast<double>(u), static_cast<double>(v));
}

double apertureTransfer(double rho) {
    if (rho >= 1.0)
        return 0.0;
    if (rho <= 0.0)
        return 1.0;
    return 2.0 / kPi * (std::acos(rho) - rho * std::sqrt(1.0 - rho * rho));
}

double noiseFloor(const SpectrumSums& sums) {
    const double half = sums.shape.n / 2.0;
    std::vector<double> corner;
    for (std::size_t k = 0; k < sums.power.size(); ++k)
        if (cellRadius(sums.shape, k) > half)
            corner.push_back(perFrame(sums, k));
    if (corner.empty())
        return 0.0;
    const auto mid = corner.begin() + static_cast<std::ptrdiff_t>(corner.size() / 2);
    std::nth_element(corner.begin(), mid, corner.end());
    return *mid;
}

std::vector<double> radialProfile(const SpectrumSums& sums) {
    const std::size_t rings = static_cast<std::size_t>(sums.shape.n / 2) + 1;
    std::vector<double> total(rings, 0.0), count(rings, 0.0);
    for (std::size_t k = 0; k < sums.power.size(); ++k) {
        const auto ring = static_cast<std::size_t>(std::lround(cellRadius(sums.shape, k)));
        if (ring >= rings)
            continue;
        total[ring] += perFrame(sums, k);
        count[ring] += 1.0;
    }
    for (std::size_t i = 0; i < rings; ++i)
        total[i] = count[i] > 0 ? total[i] / count[i] : 0.0;
    return total;
}

double cutoffRadius(const std::vector<double>& profile, double floor) {
    if (profile.size() < 3)
        return 0.0;
    const double limit = std::max(kCutoffSnr * floor, kCutoffShare * (profile[1] - floor));
    for (std::size_t i = 1; i < profile.size(); ++i)
        if (!(profile[i] - floor > limit))
            return static_cast<double>(i);
    return static_cast<double>(profile.size() - 1);
}

std::vector<double> smoothRadialFit(const std::vector<double>& profile, double floor, double from,
                                    double to) {
    std::vector<double> xs, ys;
    for (std::size_t i = 0; i < profile.size(); ++i) {
        const double x = static_cast<double>(i);
        const double v = profile[i] - floor;
        if (x >= from && x < to && v > 0) {
            xs.push_back(x / to);
            ys.push_back(std::log(v));
        }
    }
    std::vector<double> fit(profile.size(), 0.0);
    const int degree = std::min<int>(kRadialFitDegree, static_cast<int>(xs.size()) - 1);
    if (degree < 0)
        return fit;
    Eigen::MatrixXd a(static_cast<Eigen::Index>(xs.size()), degree + 1);
    Eigen::VectorXd b(static_cast<Eigen::Index>(xs.size()));
    for (std::size_t i = 0; i < xs.size(); ++i) {
        double p = 1.0;
        for (int d = 0; d <= degree; ++d, p *= xs[i])
            a(static_cast<Eigen::Index>(i), d) = p;
        b(static_cast<Eigen::Index>(i)) = ys[i];
    }
    const Eigen::VectorXd c = a.colPivHouseholderQr().solve(b);
    for (std::size_t i = 0; i < profile.size(); ++i) {
        const double x = static_cast<double>(i) / to;
        double p = 1.0, v = 0.0;
        for (int d = 0; d <= degree; ++d, p *= x)
            v += c(d) * p;
        fit[i] = std::exp(v);
    }
    return fit;
}

NormalisedSpectrum normaliseByReference(const SpectrumSums& pair, const SpectrumSums& reference) {
    NormalisedSpectrum out;
    out.shape = pair.shape;
    const double pairFloor = noiseFloor(pair);
    const double refFloor = noiseFloor(reference);
    out.cutoff = cutoffRadius(radialProfile(reference), refFloor);
    out.lowLimit = kLowShareReference * out.cutoff;
    std::vector<double> divisor(out.shape.cells());
    out.ratio.assign(out.shape.cells(), 0.0f);
    for (std::size_t k = 0; k < divisor.size(); ++k) {
        divisor[k] = perFrame(reference, k) - refFloor;
        if (divisor[k] > 0)
            out.ratio[k] = static_cast<float>((perFrame(pair, k) - pairFloor) / divisor[k]);
    }
    fillWeights(out, divisor);
    return out;
}

NormalisedSpectrum normaliseByRadialFit(const SpectrumSums& pair) {
    NormalisedSpectrum out;
    out.shape = pair.shape;
    const double floor = noiseFloor(pair);
    const std::vector<double> profile = radialProfile(pair);
    out.cutoff = cutoffRadius(profile, floor);
    out.lowLimit = kLowShareRadialFit * out.cutoff;
    out.radialTerms = kRadialCorrectionTerms;
    const std::vector<double> fit = smoothRadialFit(profile, floor, out.lowLimit, out.cutoff);
    std::vector<double> divisor(out.shape.cells());
    out.ratio.assign(out.shape.cells(), 0.0f);
    for (std::size_t k = 0; k < divisor.size(); ++k) {
        const double f = cellRadius(out.shape, k);
        // The fit between the two rings either side of the cell.
        const auto lo = static_cast<std::size_t>(std::floor(f));
        const std::size_t hi = std::min(lo + 1, fit.size() - 1);
        const double t = f - static_cast<double>(lo);
        divisor[k] = lo < fit.size() ? fit[lo] * (1.0 - t) + fit[hi] * t : 0.0;
        if (divisor[k] > 0)
            out.ratio[k] = static_cast<float>((perFrame(pair, k) - floor) / divisor[k]);
    }
    fillWeights(out, divisor);
    return out;
}

} // namespace corvane
