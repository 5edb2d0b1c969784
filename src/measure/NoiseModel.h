#pragma once
// How much a pixel's sample scatters, for the fits that weigh pixels by it:
// the sky's own scatter (read noise, the sky's photons and the rounding to
// whole steps, all seen in the pixels round the stars) plus the photon noise
// of the starlight above the sky, each step of light adding 1 / gain to the
// variance (gain in electrons per step).
#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane {

// The largest photon noise granted, variance per step of light (a gain of
// one electron per step): more would weigh the stars' cores away.
inline constexpr double kMaxVariancePerLight = 1.0;

struct NoiseModel {
    double skyVariance = 1.0 / 12.0; // steps^2; never below the rounding's 1/12
    double perLight = 0;             // variance per step of light above the sky: 1 / gain

    double variance(double light) const { return skyVariance + perLight * std::max(light, 0.0); }
    double readNoise() const { return std::sqrt(skyVariance); }
    double gain() const {
        return perLight > 0 ? 1.0 / perLight : std::numeric_limits<double>::infinity();
    }
};

// The model for a frame whose sky scatters by `skyNoise` steps. A given read
// noise (steps) and gain (electrons per step) override the estimates: then
// the sky's variance is the read noise's plus the sky level's photons.
NoiseModel noiseModelFor(double skyNoise, double skyLevel, double givenReadNoise, double givenGain);

// The photon noise learnt from fits' residuals where no gain is given, pooled
// over the frames of a run: the gain is the camera's and stays from frame to
// frame, while one frame's few bright pixels tell it poorly.
//
// Each pixel's squared residual is divided by what the fit left of its
// noise, 1 - leverage: a fit takes part of every pixel's noise into its
// parameters, most of it from the bright pixels that fix the centres, so
// residuals read as they stand make the photon noise, and with it every
// error, come out too small. What exceeds the sky's variance is regressed on
// the model's light, each pixel weighed by the inverse square of its
// variance (the scatter of a squared residual grows with it), so that a few
// bright pixels do not decide it alone.
class PhotonNoiseEstimate {
public:
    // One fitted pixel: its residual (model - sample) in steps, its leverage
    // in the weighted fit, the light the model puts there above the sky and
    // the variance the fit assumed for it.
    void add(double residual, double leverage, double light, double skyVariance,
             double assumedVariance);
    // Variance per step of light, within [0, kMaxVariancePerLight]; 0 before
    // any pixel with light was added.
    double perLight() const;
    bool known() const { return den_ > 0; }
    void reset() { num_ = den_ = 0; }

private:
    double num_ = 0, den_ = 0;
};

} // namespace corvane
