#pragma once
// A speckle measurement of a pair closer than the seeing: the summed spectra
// of its short exposures (and of a single star's, when one was recorded)
// turned into the pair's separation vector in pixels, its flux ratio, which
// of the two stars is the fainter, and how faint a companion it could have
// shown, each with a standard error from the scatter of the same measurement
// on blocks of exposures drawn at random with replacement (a bootstrap),
// widened by how much consecutive blocks follow on from each other.
#include "measure/SpeckleFit.h"
#include "measure/SpeckleSpectra.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// Boxes of this side, in pixels, unless the user picks another: several
// seeing discs across at the sampling speckle work needs.
inline constexpr int32_t kDefaultSpeckleBox = 64;
// The exposures are summed in about this many blocks for the bootstrap.
inline constexpr int32_t kSpeckleBlocks = 32;
// Exposures per block for a run of `frames`: at least one.
int32_t speckleBlockFrames(int32_t frames);

enum class SpeckleStatus {
    Measured,
    NoPair,      // no side peak above the detection limit: a single star, as far as can be seen
    NoSignal,    // the spectrum holds nothing above the noise (no star in the box)
    TooFewFrames // fewer exposures than kMinSpeckleFrames
};
inline constexpr int32_t kMinSpeckleFrames = 16;
// The quadrant is decided only when the cross-correlation's asymmetry stands
// this many standard errors from none, and the pair is not equal within two
// standard errors of its magnitude difference; else it stays ambiguous.
inline constexpr double kQuadrantSigmas = 3.0;

struct SpeckleSettings {
    int32_t bootstrapSamples = 100;
    uint64_t seed = 1; // the bootstrap's draws: the same run gives the same errors
};

struct SpeckleMeasurement {
    SpeckleStatus status = SpeckleStatus::TooFewFrames;
    int32_t frames = 0;
    int32_t referenceFrames = 0; // 0: the transfer came from the radial fit
    double diffractionPx = 0;    // lambda / D in pixels

    // From the brighter star to the fainter when the quadrant is decided;
    // else the one of the two directions whose screen angle is 0 .. 180.
    PixelVector separation;
    double separationPx = 0;
    double separationPxStderr = 0;
    // Counter-clockwise from the screen's +x with y up, degrees: 0 .. 360
    // when decided, else 0 .. 180.
    double screenAngle = 0;
    double screenAngleStderr = 0;
    double fluxRatio = 0; // fainter over brighter
    double deltaMag = 0;
    double deltaMagStderr = 0;

    bool quadrantDecided = false;
    // The chance that the quadrant is right, from the asymmetry's standard
    // errors (0.5: none to go by).
    double quadrantConfidence = 0.5;
    double asymmetry = 0;
    double asymmetryStderr = 0;

    SidePeak peak;                     // the autocorrelogram's side peak
    std::vector<DetectionPoint> limit; // faintest companion seen at each radius
    Autocorrelogram autocorrelogram;   // of all the exposures, for the display
    int32_t bootstrapSamples = 0;
};

// Measures the pair from the spectra of its exposures, with the reference
// star's (nullptr: the smooth radial fit stands in for it).
SpeckleMeasurement measureSpeckle(const SpeckleSpectra& pair, const SpeckleSpectra* reference,
                                  const SpeckleSettings& settings = {});

// The screen angle of a separation vector in box pixels (y down), degrees
// counter-clockwise from +x with y up, 0 .. 360.
double screenAngleOf(const PixelVector& s);

} // namespace corvane
