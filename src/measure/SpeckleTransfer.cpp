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
// Weighted by their scatter, the radial fit's cells count only up to this
// share of the cut-off. Over the last rings the transfer falls to nothing
// faster than a smooth function of the radius follows, and their few cells
// lie on the square grid of frequencies unevenly round the circle: the
// misfit there, the same in every block of frames, turned a close pair's
// angle by 0.1-0.6 degrees depending on the angle, beyond its errors. The
// aperture's weights, which give those rings almost nothing, keep them.
constexpr double kScatterShareRadialFit = 0.95;
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

// How much a run's mean power scatters relative to itself round each whole
// radius 0 .. n / 2 of the trusted band: each trusted cell's variance over
// the run's blocks of equal length, over its mean squared, averaged round
// the ring and divided by the number of blocks. Empty with fewer than two
// such blocks.
std::vector<double> relativeScatter(const NormalisedSpectrum& s,
                                    const std::vector<SpectrumBlock>& blocks) {
    std::size_t whole = 0;
    while (whole < blocks.size() && blocks[whole].frames == blocks.front().frames)
        ++whole;
    if (whole < 2)
        return {};
    const std::size_t rings = static_cast<std::size_t>(s.shape.n / 2) + 1;
    std::vector<double> total(rings, 0.0), count(rings, 0.0);
    const double b = static_cast<double>(whole);
    forTrustedCells(s, [&](std::size_t k, int32_t u, int32_t v, double) {
        const auto ring = static_cast<std::size_t>(std::lround(std::hypot(u, v)));
        if (ring >= rings)
            return;
        double mean = 0;
        for (std::size_t i = 0; i < whole; ++i)
            mean += blocks[i].power[k] / blocks[i].frames;
        mean /= b;
        double squares = 0;
        for (std::size_t i = 0; i < whole; ++i) {
            const double d = blocks[i].power[k] / blocks[i].frames - mean;
            squares += d * d;
        }
        if (mean > 0) {
            total[ring] += squares / (b - 1.0) / (mean * mean);
            count[ring] += 1.0;
        }
    });
    for (std::size_t i = 0; i < rings; ++i)
        total[i] = count[i] > 0 ? total[i] / count[i] / b : 0.0;
    return total;
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
    out.transferProfile = radialProfile(reference);
    for (double& t : out.transferProfile)
        t = std::max(t - refFloor, 0.0);
    out.pairFloor = pairFloor;
    out.referenceFloor = refFloor;
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
    out.transferProfile = fit;
    out.pairFloor = floor;
    return out;
}

NormalisedSpectrum weightedByScatter(const NormalisedSpectrum& spectrum,
                                     const std::vector<double>& model,
                                     const std::vector<SpectrumBlock>& pair,
                                     const std::vector<SpectrumBlock>* reference) {
    // Smoothed over the band: a ring whose blocks scattered less by chance
    // would be weighed up and, drawn again from the same blocks, would
    // scatter as little in the bootstrap, whose errors would then fall short.
    const auto smooth = [&](const std::vector<double>& scatter) {
        return smoothRadialFit(scatter, 0.0, spectrum.lowLimit, spectrum.cutoff);
    };
    const std::vector<double> pairScatter = smooth(relativeScatter(spectrum, pair));
    if (pairScatter.empty() || spectrum.transferProfile.empty())
        return spectrum;
    std::vector<double> refScatter;
    if (reference) {
        refScatter = smooth(relativeScatter(spectrum, *reference));
        if (refScatter.empty())
            return spectrum;
    }
    // The ratio expected round each ring: the fringes' own swing from cell
    // to cell is left out, since in their troughs the power expected is
    // least and the slightest flaw of the model (the window's blur of the
    // spectrum, the floor's noise) would outweigh everything else.
    const std::size_t rings = pairScatter.size();
    std::vector<double> level(rings, 0.0), count(rings, 0.0);
    forTrustedCells(spectrum, [&](std::size_t k, int32_t u, int32_t v, double) {
        const auto ring = static_cast<std::size_t>(std::lround(std::hypot(u, v)));
        if (ring < rings) {
            level[ring] += std::fabs(model[k]);
            count[ring] += 1.0;
        }
    });
    for (std::size_t i = 0; i < rings; ++i)
        level[i] = count[i] > 0 ? level[i] / count[i] : 0.0;
    std::vector<double> weight(spectrum.weight.size(), 0.0);
    double largest = 0;
    const std::vector<double>& profile = spectrum.transferProfile;
    const double high =
        spectrum.radialTerms > 0 ? kScatterShareRadialFit * spectrum.cutoff : spectrum.cutoff;
    forTrustedCells(spectrum, [&](std::size_t k, int32_t u, int32_t v, double) {
        const double f = std::hypot(u, v);
        if (f >= high)
            return;
        const auto lo = static_cast<std::size_t>(std::floor(f));
        const std::size_t hi = std::min(lo + 1, profile.size() - 1);
        if (lo >= profile.size())
            return;
        const double t = f - static_cast<double>(lo);
        const double transfer = profile[lo] * (1.0 - t) + profile[hi] * t;
        const auto ring = static_cast<std::size_t>(std::lround(f));
        if (ring >= rings)
            return;
        const double r = level[ring];
        const double pairPower = r * transfer + spectrum.pairFloor;
        const double refPower = transfer + spectrum.referenceFloor;
        const double variance =
            (pairScatter[ring] * pairPower * pairPower +
             (reference ? refScatter[ring] * r * r * refPower * refPower : 0.0)) /
            (transfer * transfer);
        if (transfer > 0 && variance > 0 && std::isfinite(variance)) {
            weight[k] = 1.0 / variance;
            largest = std::max(largest, weight[k]);
        }
    });
    if (!(largest > 0))
        return spectrum;
    NormalisedSpectrum out = spectrum;
    for (std::size_t k = 0; k < weight.size(); ++k)
        out.weight[k] = static_cast<float>(weight[k] / largest);
    return out;
}

} // namespace corvane
