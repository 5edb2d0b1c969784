#pragma once
// Intensity planes for the sky estimate and the PSF fit: any picture given as
// a function of the pixel, and pairs rendered by the drift simulator itself
// (pixel-integrated Gaussian stars, Gaussian noise, whole grey levels), with
// the true centres it put them at.
#include "measure/PlaneView.h"
#include "sim/DriftSim.h"
#include "sim/Random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace corvane::test {

struct TestPlane {
    int32_t width = 0, height = 0;
    std::vector<uint16_t> samples;
    uint16_t saturation = 0;

    PlaneView view() const { return {samples.data(), width, height, width, saturation}; }
};

// Samples round(f(x, y) + noise), kept within 0 .. 65535.
template <class F>
TestPlane makePlane(int32_t width, int32_t height, F f, double noise = 0, uint64_t seed = 1) {
    TestPlane p{width, height, {}, 0};
    p.samples.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    sim::Random rng(seed, 0x5C1, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const double v = f(x, y) + (noise > 0 ? noise * rng.gaussian() : 0.0);
            p.samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)] =
                static_cast<uint16_t>(std::clamp(std::nearbyint(v), 0.0, 65535.0));
        }
    return p;
}

struct SimPair {
    double separationPx = 10;
    double angleDeg = 45; // position angle as the simulator takes it
    double fwhmPx = 3;
    double primaryPeak = 200, secondaryPeak = 120; // grey levels above the sky
    double sky = 20, noise = 3;
};

struct RenderedPair {
    TestPlane plane;
    sim::FrameTruth truth; // primary and secondary centres, plane pixels
};

// One frame of the simulator, `side` pixels square, with the primary near
// (x, y) moved by a sub-pixel amount that depends on the seed, so that seeds
// differ in where the stars fall on the pixel grid as well as in the noise.
inline RenderedPair renderSimPair(const SimPair& s, int32_t side, double x, double y,
                                  uint64_t seed) {
    sim::Random phase(seed, 0xF1, 0);
    sim::DriftParams p;
    p.width = side;
    p.height = side;
    p.frames = 1;
    p.separationArcsec = s.separationPx;
    p.scalePxPerArcsec = 1.0;
    p.positionAngleDeg = s.angleDeg;
    p.declinationDeg = 0;
    p.primaryBrightness = s.primaryPeak;
    p.secondaryBrightness = s.secondaryPeak;
    p.seeingFwhmPx = s.fwhmPx;
    p.jitterPx = 0;
    p.sky = s.sky;
    p.noiseSigma = s.noise;
    p.start = sim::Point{x + phase.uniform(), y + phase.uniform()};
    p.seed = seed;
    RenderedPair out;
    out.truth = sim::frameTruth(p, 0);
    const std::vector<uint8_t> levels = sim::renderGreyLevels(p, 0);
    out.plane.width = side;
    out.plane.height = side;
    out.plane.samples.assign(levels.begin(), levels.end());
    out.plane.saturation = 255; // the simulator's grey levels clip there
    return out;
}

} // namespace corvane::test
