#pragma once
// The second step of a speckle measurement: the summed power spectrum of a
// pair's exposures is the pair's own power spectrum times the atmosphere's
// and telescope's mean transfer. This step divides that transfer out, by the
// power spectrum of a single star taken the same way (a reference) or, with
// no reference, by a smooth fit to the spectrum's own radial profile; and it
// finds the telescope's cut-off, beyond which the spectrum holds only noise.
#include "measure/SpeckleSpectra.h"

#include <cstdint>
#include <vector>

namespace corvane {

// The pair's spectrum freed of the transfer, over the half plane: `ratio`
// is 1 + r^2 + 2 r cos(2 pi f.s) times a constant for a pair of flux ratio r
// and separation s; `weight` (0 .. 1) says how far each cell is to be trusted:
// a telescope's transfer shape falling to 0 at the cut-off, 0 beyond it and
// at the lowest frequencies, which the seeing disc's own shape fills.
struct NormalisedSpectrum {
    SpectrumShape shape;
    std::vector<float> ratio;
    std::vector<float> weight;
    double cutoff = 0;   // frequency index (cycles per box) where the signal ends
    double lowLimit = 0; // frequency index below which cells are not used
    // Terms of a smooth radial correction (polynomials of the radius) that
    // the pair's fit is to find with the pair: 0 when a reference star's
    // spectrum fixed the transfer. A fit of the radial profile alone partly
    // follows the pair's own fringes, whose mean round each ring is not
    // constant but a ripple, and leaves them distorted; fitted together with
    // the pair, the correction takes only what the fringes cannot explain.
    int32_t radialTerms = 0;
    // The transfer divided out, as power per exposure round each whole
    // radius 0 .. n / 2 (the reference's radial profile or the smooth fit),
    // and the noise floors of the pair's and the reference's spectra: what
    // each cell's power is expected to be, for its scatter.
    std::vector<double> transferProfile;
    double pairFloor = 0;
    double referenceFloor = 0;
    // Diffraction width lambda / D in box pixels: the box over the cut-off.
    double diffractionPx() const { return cutoff > 0 ? shape.n / cutoff : 0; }
};

// The spectrum's cells that count: u, v frequency indices, the cell's value,
// its weight and how often it stands in the whole plane (a half-plane cell
// also stands for its mirror, but for the columns 0 and n / 2).
template <typename F> void forTrustedCells(const NormalisedSpectrum& s, F&& visit) {
    const int32_t cols = s.shape.columns();
    for (std::size_t k = 0; k < s.weight.size(); ++k) {
        if (!(s.weight[k] > 0))
            continue;
        const int32_t u = static_cast<int32_t>(k % static_cast<std::size_t>(cols));
        const int32_t v =
            s.shape.rowFrequency(static_cast<int32_t>(k / static_cast<std::size_t>(cols)));
        const double multiplicity = (u == 0 || u == s.shape.n / 2) ? 1.0 : 2.0;
        visit(k, u, v, multiplicity);
    }
}

// The mean power per exposure of the noise (photon and read noise): flat
// over the spectrum, read from the cells beyond the largest circle the box
// holds (the median of those corner cells).
double noiseFloor(const SpectrumSums& sums);

// Mean power per exposure at each whole frequency radius 0 .. n / 2.
std::vector<double> radialProfile(const SpectrumSums& sums);

// The frequency radius where the profile, the noise floor taken off, falls
// to three times the floor or to a millionth of its first ring, whichever
// is higher: the telescope's cut-off D / lambda in cycles per box.
double cutoffRadius(const std::vector<double>& profile, double floor);

// A smooth function of the radius through the profile between `from` and
// `to` (log power, a polynomial of low degree, least squares): the
// atmosphere's mean transfer, to which the fringes of a pair add only a
// ripple that averages out round each ring.
std::vector<double> smoothRadialFit(const std::vector<double>& profile, double floor, double from,
                                    double to);

// Transfer divided out by a reference star's spectrum.
NormalisedSpectrum normaliseByReference(const SpectrumSums& pair, const SpectrumSums& reference);
// Transfer divided out by the smooth fit of the pair's own radial profile.
NormalisedSpectrum normaliseByRadialFit(const SpectrumSums& pair);

// The spectrum with its cells weighted by how little their ratio scatters,
// for the pair's fit: 1 over the ratio's variance round each ring of
// frequencies, where `model` (the ratio expected at each cell, as a first
// fit gives it) holds on the ring's average, with the trusted cells
// unchanged. The summed power of a speckled or noisy cell, a sum of many
// random phasors, scatters in proportion to its mean; how much, for each
// run, is read from the scatter of its blocks, pooled round each ring. The
// aperture's transfer, the weights the first fit used, falls long before
// the cut-off while the ratio's scatter over the band the speckles fill
// stays nearly flat: those weights give away the high frequencies, which
// fix a close pair's fringes best.
NormalisedSpectrum weightedByScatter(const NormalisedSpectrum& spectrum,
                                     const std::vector<double>& model,
                                     const std::vector<SpectrumBlock>& pair,
                                     const std::vector<SpectrumBlock>* reference);

// The frequency radius of a half-plane cell, in cycles per box.
double cellRadius(const SpectrumShape& shape, std::size_t cell);

// A perfect round telescope's transfer at `rho` of its cut-off (1 at 0,
// 0 from 1 on): the weight the spectrum's cells are given.
double apertureTransfer(double rho);

} // namespace corvane
