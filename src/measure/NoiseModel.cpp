#include "measure/NoiseModel.h"

namespace corvane {

namespace {
// The rounding to whole steps leaves at least this variance in any sample.
constexpr double kRoundingVariance = 1.0 / 12.0;
// Pixels the fit holds almost wholly (leverage near 1) tell nothing of their noise.
constexpr double kMaxLeverage = 0.9;
} // namespace

NoiseModel noiseModelFor(double skyNoise, double skyLevel, double givenReadNoise,
                         double givenGain) {
    NoiseModel m;
    if (givenReadNoise > 0) {
        m.skyVariance = givenReadNoise * givenReadNoise +
                        (givenGain > 0 ? std::max(skyLevel, 0.0) / givenGain : 0.0);
    } else {
        m.skyVariance = skyNoise * skyNoise;
    }
    m.skyVariance = std::max(m.skyVariance, kRoundingVariance);
    m.perLight = givenGain > 0 ? 1.0 / givenGain : 0.0;
    return m;
}

void PhotonNoiseEstimate::add(double residual, double leverage, double light, double skyVariance,
                              double assumedVariance) {
    if (!(light > 0) || !(leverage < kMaxLeverage) || !(assumedVariance > 0) ||
        !std::isfinite(residual))
        return;
    const double excess = residual * residual / (1.0 - std::max(leverage, 0.0)) - skyVariance;
    const double w = 1.0 / (assumedVariance * assumedVariance);
    num_ += w * light * excess;
    den_ += w * light * light;
}

double PhotonNoiseEstimate::perLight() const {
    return den_ > 0 ? std::clamp(num_ / den_, 0.0, kMaxVariancePerLight) : 0.0;
}

} // namespace corvane
