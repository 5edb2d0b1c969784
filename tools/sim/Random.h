#pragma once
// Deterministic random numbers for the simulator. The engine's output
// sequence is fixed by the C++ standard, and the conversions to uniform and
// Gaussian values are written out here, so a seed gives the same pictures with
// every standard library.
#include <cmath>
#include <cstdint>
#include <random>

namespace corvane::sim {

// SplitMix64 finaliser: spreads a seed over all 64 bits.
inline uint64_t mix64(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class Random {
public:
    // One independent stream per (seed, salt, index): frame n of a video can
    // be drawn without drawing the frames before it.
    Random(uint64_t seed, uint64_t salt, uint64_t index)
        : engine_(mix64(mix64(seed) ^ mix64(salt + 0x51ED2701ull) ^ mix64(index * 3 + 1))) {}

    // Uniform in (0, 1), never 0 or 1.
    double uniform() { return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1.0p-53; }

    // Standard normal by the Box-Muller transform; values come in pairs.
    double gaussian() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        const double r = std::sqrt(-2.0 * std::log(uniform()));
        const double a = 6.283185307179586 * uniform();
        spare_ = r * std::sin(a);
        hasSpare_ = true;
        return r * std::cos(a);
    }

private:
    std::mt19937_64 engine_;
    double spare_ = 0;
    bool hasSpare_ = false;
};

} // namespace corvane::sim
