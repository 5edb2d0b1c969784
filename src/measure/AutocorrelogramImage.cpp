#include "measure/AutocorrelogramImage.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Decades shown below the centre.
constexpr double kDecades = 6.0;
// The rings' radius, in lags.
constexpr double kRingRadius = 2.5;

void ring(RgbImage& image, const PixelVector& lag, int32_t n, int32_t scale, uint8_t r, uint8_t g,
          uint8_t b) {
    const double cx = (n / 2 + lag.x + 0.5) * scale, cy = (n / 2 + lag.y + 0.5) * scale;
    const double radius = kRingRadius * scale;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (std::fabs(d - radius) > 1.0)
                continue;
            uint8_t* p = &image.rgb[3 * (static_cast<std::size_t>(y) * image.width + x)];
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
}

} // namespace

RgbImage autocorrelogramImage(const Autocorrelogram& a, const std::vector<PixelVector>& marks,
                              const std::vector<PixelVector>& dimMarks, int32_t scale) {
    RgbImage image;
    scale = std::max(scale, 1);
    image.width = image.height = a.n * scale;
    image.rgb.assign(3 * static_cast<std::size_t>(image.width) * image.height, 0);
    const double top = a.n > 0 ? a.centre() : 0.0;
    if (!(top > 0))
        return image;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const double v = std::fabs(a.at(x / scale, y / scale)) / top;
            const double level = v > 0 ? 1.0 + std::log10(v) / kDecades : 0.0;
            const auto grey =
                static_cast<uint8_t>(std::lround(255.0 * std::clamp(level, 0.0, 1.0)));
            uint8_t* p = &image.rgb[3 * (static_cast<std::size_t>(y) * image.width + x)];
            p[0] = p[1] = p[2] = grey;
        }
    for (const PixelVector& m : dimMarks)
        ring(image, m, a.n, scale, 60, 120, 255);
    for (const PixelVector& m : marks)
        ring(image, m, a.n, scale, 255, 40, 40);
    return image;
}

RgbImage measuredAutocorrelogram(const SpeckleMeasurement& m, int32_t scale) {
    std::vector<PixelVector> marks, dim;
    if (m.status == SpeckleStatus::Measured) {
        marks.push_back(m.separation);
        (m.quadrantDecided ? dim : marks).push_back({-m.separation.x, -m.separation.y});
    }
    return autocorrelogramImage(m.autocorrelogram, marks, dim, scale);
}

} // namespace corvane
