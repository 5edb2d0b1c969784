#pragma once
// The third step of a speckle measurement: the pair read from its spectrum
// freed of the transfer. Its inverse transform, the autocorrelogram, holds a
// central peak and, for a pair, two side peaks at plus and minus the
// separation vector, each r / (1 + r^2) of the centre for a flux ratio r.
// The side peak is found there, then the pair's model is fitted to every
// trusted cell of the spectrum (the same fit as one of the autocorrelogram's
// three peaks, whose shape the weights fix, but exact to a fraction of a
// pixel). Which of the two side peaks is the fainter star's is read from the
// cross-correlation of the exposures with their squares.
#include "measure/SpeckleSpectra.h"
#include "measure/SpeckleTransfer.h"

#include <cstdint>
#include <vector>

namespace corvane {

// A separation vector in box pixels, x right, y down.
struct PixelVector {
    double x = 0;
    double y = 0;
};

// An n x n image with zero lag at (n / 2, n / 2), row by row.
struct Autocorrelogram {
    int32_t n = 0;
    std::vector<float> values;
    float at(int32_t x, int32_t y) const {
        return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(n) +
                      static_cast<std::size_t>(x)];
    }
    float centre() const { return at(n / 2, n / 2); }
};

// The inverse transform of the weighted ratio: the pair's autocorrelogram
// as a telescope of the cut-off's aperture would show it.
Autocorrelogram autocorrelogram(const NormalisedSpectrum& spectrum);
// The central peak alone: a single star's autocorrelogram at the same
// weights, scaled to the pair's centre and taken off, so that side peaks
// close to the centre stand clear of its wings.
Autocorrelogram withoutCentralPeak(const Autocorrelogram& pair, const NormalisedSpectrum& spectrum);

// The annulus of lags searched for a side peak, in box pixels: from one
// diffraction width (inside it the central peak's own residue) out to 0.4
// of the box, within which the window leaves both stars' light.
struct SearchAnnulus {
    double inner = 0;
    double outer = 0;
};
SearchAnnulus searchAnnulus(const NormalisedSpectrum& spectrum);

struct SidePeak {
    bool found = false;
    PixelVector lag;       // sub-pixel (a parabola through the peak and its neighbours)
    double height = 0;     // over the centre of the pair's autocorrelogram
    double threshold = 0;  // the height a peak must reach at this lag to count
    double background = 0; // the ring's median at the peak's lag, over the centre
    // Above the same bar set by the ring without the peak and its mirror. On
    // a close pair's short ring the two side peaks fill a good share of it
    // and raise the whole ring's scatter above their own height; the peak
    // then counts only when the pair's fit gives its flux ratio clear of
    // none (see kDetectionSigmas), since a single star's highest grain
    // also stands clear of a ring that leaves it out.
    bool clearOfRing = false;
};

// The highest point of `residual` in the annulus, with the ring's own level
// and noise at its radius. It counts as found when it rises above the ring's
// median by kDetectionSigmas of the ring's scatter (robust: a median of
// absolute deviations), so that a single star gives no pair.
inline constexpr double kDetectionSigmas = 5.0;
SidePeak findSidePeak(const Autocorrelogram& residual, double centre, const SearchAnnulus& annulus);

// The faintest companion the autocorrelogram would have shown at each whole
// radius of the annulus: the ring's detection threshold as a flux ratio and
// in magnitudes. With a pair measured, the lags within the annulus's inner
// radius of its side peaks are left out: the curve then says what the data
// without the companion support, where the peaks' own height would raise
// their ring's scatter and give a close pair's radius a limit too bright.
struct DetectionPoint {
    double radiusPx = 0;
    double deltaMag = 0;
};
std::vector<DetectionPoint> detectionLimit(const Autocorrelogram& residual, double centre,
                                           const SearchAnnulus& annulus,
                                           const PixelVector* pairLag = nullptr);

// The flux ratio r <= 1 whose side peaks stand `height` of the centre:
// r / (1 + r^2) = height (0 for none; 1 from 0.5 on).
double fluxRatioOfPeak(double height);

struct PairModelFit {
    bool converged = false;
    PixelVector separation; // one of the two directions, the other is its negative
    double fluxRatio = 0;   // fainter over brighter, 0 .. 1
    double amplitude = 0;   // A
    // The radial correction's coefficients (none when a reference fixed the
    // transfer).
    std::vector<double> correction;
};
// The pair's model A (1 + r^2 + 2 r cos(2 pi f.s)) fitted to the spectrum's
// weighted cells by least squares, starting from `start` and `startRatio`;
// times the smooth radial correction, fitted with it, when the spectrum asks
// for one. The level, ratio and correction are first fitted with the
// separation held at the start: from a ratio far from the pair's, the first
// steps with everything free could let the ratio fall to nearly none, where
// the correction takes up the fringes and the separation drifts to another
// lag. A fit that still ends farther than a diffraction width from the start
// (or its mirror) did not follow the side peak and is not converged.
PairModelFit fitPairModel(const NormalisedSpectrum& spectrum, const PixelVector& start,
                          double startRatio = 0.5);

// The ratio the fitted model gives at each cell of the spectrum: trusted
// cells only, 0 elsewhere.
std::vector<double> fittedRatio(const NormalisedSpectrum& spectrum, const PairModelFit& fit);

// The spectrum with the fit's radial correction divided out, so that its
// autocorrelogram holds what the pair's model and the noise leave: the
// smooth radial fit alone partly follows the pair's fringes, and their
// ripple round each ring comes back as rings through the side peaks' radius.
// Unchanged when the spectrum asks for no correction.
NormalisedSpectrum withFittedCorrection(const NormalisedSpectrum& spectrum,
                                        const PairModelFit& fit);

// How much more the exposures' cross-correlation with their squares holds at
// minus `s` than at plus `s`, over the trusted cells of `weights`, relative
// to its value at zero lag. Positive when the fainter star lies at +s from
// the brighter: the brighter star's speckles, squared, stand out more.
double quadrantAsymmetry(const SpectrumSums& sums, const NormalisedSpectrum& weights,
                         const PixelVector& s);

} // namespace corvane
