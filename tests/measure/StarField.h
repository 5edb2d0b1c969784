#pragma once
// Synthetic frames for the measuring tests: round Gaussian stars at known
// sub-pixel positions on a sky with optional Gaussian noise, written as the
// intensities a 640 x 480 8-bit frame would give.
#include "video/FrameImage.h"
#include "video/Monochrome.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace corvane::test {

// Size of the synthetic frames.
inline constexpr int kFieldWidth = 640;
inline constexpr int kFieldHeight = 480;

struct Star {
    double x = 0, y = 0; // centre, frame pixels (pixel centres are integers)
    double peak = 0;     // intensity at the centre
    double sigma = 1.5;  // pixels
};

struct Sky {
    double level = 0; // mean intensity of the background
    double noise = 0; // standard deviation of the added Gaussian noise
    uint32_t seed = 1;
};

// A grey colour whose monochrome intensity is exactly `i` (0..254).
inline Colour greyColour(int i) {
    i = std::clamp(i, 0, 254);
    const int s = static_cast<int>(std::lround(i * 768.0 / 255.0));
    const int r = s / 3, g = (s - r) / 2, b = s - r - g;
    return static_cast<Colour>(r) | static_cast<Colour>(g) << 8 | static_cast<Colour>(b) << 16;
}

// Noise-free intensity at pixel (x, y).
inline double modelIntensity(const std::vector<Star>& stars, double level, int x, int y) {
    double v = level;
    for (const Star& s : stars) {
        const double dx = x - s.x, dy = y - s.y;
        v += s.peak * std::exp(-(dx * dx + dy * dy) / (2 * s.sigma * s.sigma));
    }
    return v;
}

// A blank (black) frame of the synthetic size.
inline IntensityPlane blankFrame() {
    IntensityPlane plane;
    plane.reset(kFieldWidth, kFieldHeight);
    plane.fill(0);
    return plane;
}

// The rendered intensity is clamp(round(model + noise), 0, 254). An empty
// plane becomes a frame of the synthetic size first.
inline void renderStars(IntensityPlane& plane, const std::vector<Star>& stars,
                        const Sky& sky = {}) {
    if (plane.empty())
        plane.reset(kFieldWidth, kFieldHeight);
    std::mt19937 gen(sky.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int y = 0; y < plane.height(); ++y)
        for (int x = 0; x < plane.width(); ++x) {
            double v = modelIntensity(stars, sky.level, x, y);
            if (sky.noise > 0)
                v += sky.noise * noise(gen);
            plane.set(x, y, static_cast<int>(std::clamp(std::nearbyint(v), 0.0, 254.0)));
        }
}

// Expected rendered intensity at a pixel: the mean of clamp(round(model + noise)).
inline double expectedIntensity(double model, double noise) {
    if (noise <= 0)
        return std::clamp(std::nearbyint(model), 0.0, 254.0);
    const auto cdf = [&](double k) {
        return 0.5 * std::erfc(-(k - model) / (noise * std::sqrt(2.0)));
    };
    double e = 0;
    const int lo = std::max(1, static_cast<int>(model - 8 * noise));
    const int hi = std::min(254, static_cast<int>(model + 8 * noise) + 1);
    for (int k = lo; k <= hi; ++k) {
        const double p = (k == 254 ? 1.0 : cdf(k + 0.5)) - cdf(k - 0.5);
        e += k * p;
    }
    return e;
}

struct CentroidExpectation {
    double x = 0, y = 0;     // mean weighted centre of the box, frame pixels
    double sdX = 0, sdY = 0; // its standard deviation from the noise and the rounding
};

// The weighted centre of a box over the mean rendered image, and its spread:
// per pixel the noise variance plus 1/12 for the rounding to whole intensities.
inline CentroidExpectation expectedCentroid(const std::vector<Star>& stars, const Sky& sky,
                                            int left, int top, int size) {
    double w = 0, sx = 0, sy = 0;
    std::vector<double> e(static_cast<std::size_t>(size) * size);
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c) {
            const int x = left + c, y = top + r;
            double v = 0;
            if (x >= 0 && y >= 0 && x < kFieldWidth && y < kFieldHeight)
                v = expectedIntensity(modelIntensity(stars, sky.level, x, y), sky.noise);
            e[static_cast<std::size_t>(r) * size + c] = v;
            w += v;
            sx += v * x;
            sy += v * y;
        }
    CentroidExpectation out;
    out.x = sx / w;
    out.y = sy / w;
    const double var = sky.noise * sky.noise + 1.0 / 12.0;
    double vx = 0, vy = 0;
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c) {
            vx += (left + c - out.x) * (left + c - out.x) * var;
            vy += (top + r - out.y) * (top + r - out.y) * var;
        }
    out.sdX = std::sqrt(vx) / w;
    out.sdY = std::sqrt(vy) / w;
    return out;
}

// Every pixel of the frame one intensity (an empty plane gets the synthetic size).
inline void fillFrame(IntensityPlane& plane, int intensity) {
    if (plane.empty())
        plane.reset(kFieldWidth, kFieldHeight);
    plane.fill(intensity);
}

} // namespace corvane::test
