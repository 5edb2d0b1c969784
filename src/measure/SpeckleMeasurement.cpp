#include "measure/SpeckleMeasurement.h"

#include "common/Angles.h"
#include "measure/SpeckleTransfer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace corvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Pairs closer than this many diffraction widths, whose broad fringes only
// the high frequencies pin down, are refitted with the scatter's weights.
constexpr double kScatterWeightedReach = 3.0;
// Without a reference, only pairs closer than this: at 2.5 widths the
// aperture's weights already hold the angle within 0.2 degrees, and so
// reweighted, equal pairs read their separation 0.1-0.2 % wide, beyond its
// errors.
constexpr double kScatterWeightedReachRadialFit = 2.0;

// One pass of the measurement over a choice of blocks.
struct Estimate {
    bool ok = false;
    PixelVector s;
    double fluxRatio = 0;
    double asymmetry = 0;
};

NormalisedSpectrum normalise(const SpectrumSums& pair, const SpectrumSums* reference) {
    return reference ? normaliseByReference(pair, *reference) : normaliseByRadialFit(pair);
}

double deltaMagOf(double fluxRatio) {
    // An equal pair (a ratio held at 1) reads 0, not -0.
    return fluxRatio > 0 && fluxRatio < 1 ? -2.5 * std::log10(fluxRatio) : 0.0;
}

// The fit on a resample, started where the whole run's fit ended and turned
// onto the same of the two directions, with the whole run's weights on the
// cells the resample trusts.
Estimate estimateOn(const SpectrumSums& pair, const SpectrumSums* reference,
                    const PixelVector& start, double startRatio,
                    const std::vector<float>& fitWeight) {
    Estimate e;
    const NormalisedSpectrum spectrum = normalise(pair, reference);
    NormalisedSpectrum weighted = spectrum;
    for (std::size_t k = 0; k < weighted.weight.size(); ++k)
        weighted.weight[k] = spectrum.weight[k] > 0 ? fitWeight[k] : 0.0f;
    const PairModelFit fit = fitPairModel(weighted, start, startRatio);
    if (!fit.converged)
        return e;
    e.ok = true;
    e.s = fit.separation;
    if (e.s.x * start.x + e.s.y * start.y < 0)
        e.s = {-e.s.x, -e.s.y};
    e.fluxRatio = fit.fluxRatio;
    e.asymmetry = quadrantAsymmetry(pair, spectrum, start);
    return e;
}

std::vector<std::size_t> draw(std::size_t blocks, std::mt19937_64& rng) {
    std::uniform_int_distribution<std::size_t> pick(0, blocks - 1);
    std::vector<std::size_t> picks(blocks);
    for (std::size_t& p : picks)
        p = pick(rng);
    return picks;
}

double standardDeviation(const std::vector<double>& values) {
    if (values.size() < 2)
        return 0.0;
    double mean = 0;
    for (double v : values)
        mean += v;
    mean /= static_cast<double>(values.size());
    double ss = 0;
    for (double v : values)
        ss += (v - mean) * (v - mean);
    return std::sqrt(ss / static_cast<double>(values.size() - 1));
}

// An angle difference brought into -180 .. 180 degrees.
double angleDifference(double a, double b) {
    return wrapDegrees180(a - b);
}

// A trusted cell of the spectrum and how much the estimate of one quantity
// leans on its block values: the square of its share in the estimate.
struct CellInfluence {
    std::size_t cell = 0;
    double weight = 0;
};

// Blocks of the same length as the first, from the start: the one short
// block at the end of a run would count for as much as a whole one.
std::size_t wholeBlocks(const std::vector<SpectrumBlock>& blocks) {
    std::size_t b = 0;
    while (b < blocks.size() && blocks[b].frames == blocks.front().frames)
        ++b;
    return b;
}

// Adds to gamma[j] the blocks' autocovariance at lag j of `value(block,
// cell)`, over the cells, each times its weight.
template <typename Value>
void addAutocovariances(const std::vector<SpectrumBlock>& blocks,
                        const std::vector<CellInfluence>& cells, Value&& value,
                        std::vector<double>& gamma) {
    const std::size_t n = wholeBlocks(blocks);
    if (n < 2)
        return;
    std::vector<double> x(n);
    for (const CellInfluence& c : cells) {
        double mean = 0;
        for (std::size_t b = 0; b < n; ++b) {
            x[b] = value(blocks[b], c.cell);
            mean += x[b];
        }
        mean /= static_cast<double>(n);
        for (double& v : x)
            v -= mean;
        for (std::size_t j = 0; j < gamma.size() && j < n; ++j) {
            double sum = 0;
            for (std::size_t b = 0; b + j < n; ++b)
                sum += x[b] * x[b + j];
            gamma[j] += c.weight * sum / static_cast<double>(n - j);
        }
    }
}

// How far the true variance of an estimate from the run's blocks exceeds
// the bootstrap's, which draws the blocks as if they were independent.
// Consecutive exposures share most of their turbulence: a frozen screen
// carried across the aperture renews only the strip the wind brings in,
// and the speckles change wholly only once it has crossed a good share of
// the aperture. Blocks of a few exposures then carry on from each other,
// and a sum of B of them varies B (1 + 2 sum_j (1 - j / B) rho_j) times a
// block's variance, rho_j the correlation of blocks j apart, counted out to
// the last lag still positive. An autocovariance about the blocks' own
// mean falls short by that mean's variance, F gamma_0 / B for a factor F;
// so does the bootstrap's variance of a block, whence F / (1 - F / B).
double serialVarianceFactor(const std::vector<double>& gamma, std::size_t blocks) {
    const double n = static_cast<double>(blocks);
    if (gamma.size() < 2 || !(gamma[0] > 0) || n < 4)
        return 1.0;
    double weighted = 0, weights = 0, factor = 1.0;
    for (std::size_t j = 1; j < gamma.size(); ++j) {
        const double w = 1.0 - static_cast<double>(j) / n;
        if (!(gamma[j] / gamma[0] + factor / n > 0))
            break;
        weighted += w * gamma[j] / gamma[0];
        weights += w;
        factor = (1.0 + 2.0 * weighted) / (1.0 - 2.0 * weights / n);
    }
    return factor < n ? factor / (1.0 - factor / n) : n;
}

// The serial variance factors of the separation, the angle, the flux ratio
// and the asymmetry, from the blocks of both runs. A cell's block values
// count by their share in the transfer-free spectrum, times the cell's
// influence on the pair's fit (its weight there, `fitWeight`, times the
// model's slope along the separation, across it and with the fringes'
// depth), or on the asymmetry (the spectrum's own weight).
struct SerialFactors {
    double separation = 1, angle = 1, ratio = 1, asymmetry = 1;
};

SerialFactors serialFactors(const SpeckleSpectra& pair, const SpeckleSpectra* reference,
                            const NormalisedSpectrum& spectrum, const std::vector<float>& fitWeight,
                            const PixelVector& s, double fluxRatio) {
    const SpectrumSums all = sumAll(pair.shape(), pair.blocks());
    std::optional<SpectrumSums> ref;
    if (reference)
        ref = sumAll(reference->shape(), reference->blocks());
    const double pairFloor = noiseFloor(all), refFloor = ref ? noiseFloor(*ref) : 0.0;
    const double length = std::hypot(s.x, s.y);
    const double ax = length > 0 ? s.x / length : 1.0, ay = length > 0 ? s.y / length : 0.0;
    const int32_t n = spectrum.shape.n;
    // Along the separation, across it, the ratio: on the pair's blocks and
    // on the reference's.
    std::vector<CellInfluence> ofPair[3], ofRef[3], asymmetry;
    forTrustedCells(spectrum, [&](std::size_t k, int32_t u, int32_t v, double multiplicity) {
        const double a = spectrum.weight[k] * multiplicity;
        const double w = fitWeight[k] * multiplicity;
        const double phase = 2.0 * kPi * (u * s.x + v * s.y) / n;
        const double slope = w * fluxRatio * std::sin(phase);
        const double h[3] = {slope * (u * ax + v * ay), slope * (v * ax - u * ay),
                             w * std::cos(phase)};
        asymmetry.push_back({k, a * a * std::sin(phase) * std::sin(phase)});
        // The cell's ratio per unit of its power in each run.
        const double perPair = spectrum.ratio[k] / (all.power[k] / all.frames - pairFloor);
        const double perRef =
            ref ? spectrum.ratio[k] / (ref->power[k] / ref->frames - refFloor) : 0.0;
        for (int q = 0; q < 3; ++q) {
            if (std::isfinite(perPair))
                ofPair[q].push_back({k, h[q] * h[q] * perPair * perPair});
            if (ref && std::isfinite(perRef))
                ofRef[q].push_back({k, h[q] * h[q] * perRef * perRef});
        }
    });
    const std::size_t blocks = wholeBlocks(pair.blocks());
    const std::size_t lags = blocks / 4 + 1;
    const auto power = [](const SpectrumBlock& b, std::size_t k) { return b.power[k] / b.frames; };
    double factors[3];
    for (int q = 0; q < 3; ++q) {
        std::vector<double> gamma(lags, 0.0);
        addAutocovariances(pair.blocks(), ofPair[q], power, gamma);
        if (reference)
            addAutocovariances(reference->blocks(), ofRef[q], power, gamma);
        factors[q] = serialVarianceFactor(gamma, blocks);
    }
    std::vector<double> gamma(lags, 0.0);
    addAutocovariances(
        pair.blocks(), asymmetry,
        [](const SpectrumBlock& b, std::size_t k) { return b.cross[k].imag() / b.frames; }, gamma);
    return {factors[0], factors[1], factors[2], serialVarianceFactor(gamma, blocks)};
}

// The standard errors from the bootstrap's resamples of both runs' blocks,
// each fitted with the whole run's weights.
void bootstrap(const SpeckleSpectra& pair, const SpeckleSpectra* reference,
               const NormalisedSpectrum& spectrum, const std::vector<float>& fitWeight,
               const SpeckleSettings& settings, SpeckleMeasurement& m) {
    std::mt19937_64 rng(settings.seed);
    std::vector<double> seps, angles, mags, asyms;
    const double angle = screenAngleOf(m.separation);
    for (int32_t i = 0; i < settings.bootstrapSamples; ++i) {
        const SpectrumSums p =
            sumBlocks(pair.shape(), pair.blocks(), draw(pair.blocks().size(), rng));
        std::optional<SpectrumSums> r;
        if (reference)
            r = sumBlocks(reference->shape(), reference->blocks(),
                          draw(reference->blocks().size(), rng));
        const Estimate e = estimateOn(p, r ? &*r : nullptr, m.separation, m.fluxRatio, fitWeight);
        if (!e.ok)
            continue;
        seps.push_back(std::hypot(e.s.x, e.s.y));
        angles.push_back(angleDifference(screenAngleOf(e.s), angle));
        mags.push_back(deltaMagOf(e.fluxRatio));
        asyms.push_back(e.asymmetry);
    }
    m.bootstrapSamples = static_cast<int32_t>(seps.size());
    m.separationPxStderr = standardDeviation(seps);
    m.screenAngleStderr = standardDeviation(angles);
    m.deltaMagStderr = standardDeviation(mags);
    m.asymmetryStderr = standardDeviation(asyms);
    const SerialFactors f =
        serialFactors(pair, reference, spectrum, fitWeight, m.separation, m.fluxRatio);
    m.separationPxStderr *= std::sqrt(f.separation);
    m.screenAngleStderr *= std::sqrt(f.angle);
    m.deltaMagStderr *= std::sqrt(f.ratio);
    m.asymmetryStderr *= std::sqrt(f.asymmetry);
}

// Which side peak is the fainter star's: decided only when the asymmetry is
// clear and the pair is not equal within its errors; the separation vector
// then points from the brighter star to the fainter.
void decideQuadrant(SpeckleMeasurement& m) {
    const double z = m.asymmetryStderr > 0 ? m.asymmetry / m.asymmetryStderr : 0.0;
    m.quadrantConfidence = 0.5 * std::erfc(-std::fabs(z) / std::sqrt(2.0));
    m.quadrantDecided =
        std::fabs(z) >= kQuadrantSigmas && m.deltaMag > 2.0 * m.deltaMagStderr && m.deltaMag > 0;
    if (m.quadrantDecided && z < 0) {
        m.separation = {-m.separation.x, -m.separation.y};
        m.asymmetry = -m.asymmetry;
    }
    if (!m.quadrantDecided && screenAngleOf(m.separation) >= 180.0)
        m.separation = {-m.separation.x, -m.separation.y};
    m.screenAngle = screenAngleOf(m.separation);
}

} // namespace

int32_t speckleBlockFrames(int32_t frames) {
    return std::max<int32_t>(1, frames / kSpeckleBlocks);
}

double screenAngleOf(const PixelVector& s) {
    return wrapDegrees360(std::atan2(-s.y, s.x) * 180.0 / kPi);
}

SpeckleMeasurement measureSpeckle(const SpeckleSpectra& pair, const SpeckleSpectra* reference,
                                  const SpeckleSettings& settings) {
    SpeckleMeasurement m;
    m.frames = pair.frames();
    m.referenceFrames = reference ? reference->frames() : 0;
    if (m.frames < kMinSpeckleFrames || (reference && m.referenceFrames < kMinSpeckleFrames))
        return m;
    const SpectrumSums all = sumAll(pair.shape(), pair.blocks());
    std::optional<SpectrumSums> ref;
    if (reference)
        ref = sumAll(reference->shape(), reference->blocks());
    const NormalisedSpectrum spectrum = normalise(all, ref ? &*ref : nullptr);
    m.diffractionPx = spectrum.diffractionPx();
    m.status = SpeckleStatus::NoSignal;
    if (!(spectrum.cutoff > 2))
        return m;
    m.autocorrelogram = autocorrelogram(spectrum);
    const Autocorrelogram residual = withoutCentralPeak(m.autocorrelogram, spectrum);
    const SearchAnnulus annulus = searchAnnulus(spectrum);
    const double centre = m.autocorrelogram.centre();
    m.limit = detectionLimit(residual, centre, annulus);
    m.peak = findSidePeak(residual, centre, annulus);
    m.status = SpeckleStatus::NoPair;
    if (!m.peak.found && !m.peak.clearOfRing)
        return m;
    const PairModelFit first = fitPairModel(spectrum, m.peak.lag, fluxRatioOfPeak(m.peak.height));
    if (!first.converged)
        return m;
    // A close pair is fitted again with each cell weighted by how little its
    // ratio scatters where the first fit holds; the first fit stands if the
    // second strays. Wider pairs keep the aperture's weights, which already
    // hold their many fringes: reweighted, their errors fell short of their
    // scatter.
    NormalisedSpectrum weighted = spectrum;
    PairModelFit fit = first;
    const double reach = reference ? kScatterWeightedReach : kScatterWeightedReachRadialFit;
    if (std::hypot(first.separation.x, first.separation.y) < reach * spectrum.diffractionPx()) {
        weighted = weightedByScatter(spectrum, fittedRatio(spectrum, first), pair.blocks(),
                                     reference ? &reference->blocks() : nullptr);
        fit = fitPairModel(weighted, first.separation, first.fluxRatio);
        if (!fit.converged) {
            fit = first;
            weighted = spectrum;
        }
    }
    const SpeckleMeasurement noPair = m;
    m.status = SpeckleStatus::Measured;
    m.separation = fit.separation;
    m.separationPx = std::hypot(fit.separation.x, fit.separation.y);
    m.fluxRatio = fit.fluxRatio;
    m.deltaMag = deltaMagOf(fit.fluxRatio);
    m.asymmetry = quadrantAsymmetry(all, spectrum, m.separation);
    bootstrap(pair, reference, spectrum, weighted.weight, settings, m);
    // A peak that stood clear only of its ring's rest is a pair when the
    // companion's flux is kDetectionSigmas standard errors from none: the
    // magnitude difference's error is that share of 2.5 / ln 10.
    if (!m.peak.found &&
        !(m.bootstrapSamples > 1 && m.deltaMagStderr * kDetectionSigmas < 2.5 / std::log(10.0)))
        return noPair;
    if (spectrum.radialTerms > 0) {
        const NormalisedSpectrum corrected = withFittedCorrection(spectrum, fit);
        const Autocorrelogram whole = autocorrelogram(corrected);
        m.limit = detectionLimit(withoutCentralPeak(whole, corrected), whole.centre(), annulus,
                                 &m.separation);
    } else {
        m.limit = detectionLimit(residual, centre, annulus, &m.separation);
    }
    decideQuadrant(m);
    return m;
}

} // namespace corvane
