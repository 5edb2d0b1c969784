#include "measure/SpeckleMeasurement.h"

#include "common/Angles.h"
#include "measure/SpeckleTransfer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace corvane {

namespace {

constexpr double kPi = 3.14159265358979323846;

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
// onto the same of the two directions.
Estimate estimateOn(const SpectrumSums& pair, const SpectrumSums* reference,
                    const PixelVector& start, double startRatio) {
    Estimate e;
    const NormalisedSpectrum spectrum = normalise(pair, reference);
    const PairModelFit fit = fitPairModel(spectrum, start, startRatio);
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

// The standard errors from the bootstrap's resamples of both runs' blocks.
void bootstrap(const SpeckleSpectra& pair, const SpeckleSpectra* reference,
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
        const Estimate e = estimateOn(p, r ? &*r : nullptr, m.separation, m.fluxRatio);
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
    const PairModelFit fit = fitPairModel(spectrum, m.peak.lag, fluxRatioOfPeak(m.peak.height));
    if (!fit.converged)
        return m;
    const SpeckleMeasurement noPair = m;
    m.status = SpeckleStatus::Measured;
    m.separation = fit.separation;
    m.separationPx = std::hypot(fit.separation.x, fit.separation.y);
    m.fluxRatio = fit.fluxRatio;
    m.deltaMag = deltaMagOf(fit.fluxRatio);
    m.asymmetry = quadrantAsymmetry(all, spectrum, m.separation);
    bootstrap(pair, reference, settings, m);
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
