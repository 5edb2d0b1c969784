#include "measure/SpeckleBox.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Passes of the box onto the light's centroid: the second corrects the
// first's box cutting off part of a star that lay near its edge.
constexpr int kCentringPasses = 2;

} // namespace

BoxCorner boxCorner(const BoxCentre& centre, int32_t size) {
    const int32_t half = size / 2;
    return {static_cast<int32_t>(std::lround(centre.x)) - half,
            static_cast<int32_t>(std::lround(centre.y)) - half};
}

float borderSky(const IntensityPlane& plane, const BoxCorner& c, int32_t size) {
    std::vector<float> edge;
    edge.reserve(static_cast<std::size_t>(4 * size));
    const auto take = [&](int32_t x, int32_t y) {
        if (x >= 0 && y >= 0 && x < plane.width() && y < plane.height())
            edge.push_back(static_cast<float>(plane.at(x, y)));
    };
    for (int32_t i = 0; i < size; ++i) {
        take(c.left + i, c.top);
        take(c.left + i, c.top + size - 1);
        if (i > 0 && i < size - 1) {
            take(c.left, c.top + i);
            take(c.left + size - 1, c.top + i);
        }
    }
    if (edge.empty())
        return 0.0f;
    const auto mid = edge.begin() + static_cast<std::ptrdiff_t>(edge.size() / 2);
    std::nth_element(edge.begin(), mid, edge.end());
    return *mid;
}

BoxCentre lightCentre(const IntensityPlane& plane, const BoxCorner& c, int32_t size, float sky) {
    double sum = 0, sx = 0, sy = 0;
    for (int32_t y = std::max(c.top, 0); y < std::min(c.top + size, plane.height()); ++y) {
        const uint16_t* row = plane.row(y);
        for (int32_t x = std::max(c.left, 0); x < std::min(c.left + size, plane.width()); ++x) {
            const double v = row[x] - sky;
            if (v <= 0)
                continue;
            sum += v;
            sx += v * x;
            sy += v * y;
        }
    }
    if (!(sum > 0))
        return {c.left + size / 2.0 - 0.5, c.top + size / 2.0 - 0.5};
    return {sx / sum, sy / sum};
}

void cutBox(const IntensityPlane& plane, const BoxCorner& c, int32_t size, float sky, float* out) {
    std::fill(out, out + static_cast<std::size_t>(size) * static_cast<std::size_t>(size), 0.0f);
    if (plane.holds(c.left, c.top, size)) {
        for (int32_t j = 0; j < size; ++j) {
            const uint16_t* row = plane.row(c.top + j) + c.left;
            float* o = out + static_cast<std::size_t>(j) * static_cast<std::size_t>(size);
            for (int32_t i = 0; i < size; ++i)
                o[i] = static_cast<float>(row[i]) - sky;
        }
        return;
    }
    for (int32_t j = 0; j < size; ++j) {
        const int32_t y = c.top + j;
        if (y < 0 || y >= plane.height())
            continue;
        for (int32_t i = 0; i < size; ++i) {
            const int32_t x = c.left + i;
            if (x >= 0 && x < plane.width())
                out[static_cast<std::size_t>(j) * static_cast<std::size_t>(size) +
                    static_cast<std::size_t>(i)] = static_cast<float>(plane.at(x, y)) - sky;
        }
    }
}

std::vector<float> apodisingWindow(int32_t size) {
    std::vector<float> w(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    const double radius = size / 2.0;
    const double centre = size / 2.0 - 0.5;
    for (int32_t j = 0; j < size; ++j)
        for (int32_t i = 0; i < size; ++i) {
            const double r = std::hypot(i - centre, j - centre) / radius;
            double v = 1.0;
            if (r >= 1.0)
                v = 0.0;
            else if (r > 0.5) {
                const double c = std::cos(kPi * (r - 0.5));
                v = c * c;
            }
            w[static_cast<std::size_t>(j) * static_cast<std::size_t>(size) +
              static_cast<std::size_t>(i)] = static_cast<float>(v);
        }
    return w;
}

BoxCentre speckleBox(const IntensityPlane& plane, const BoxCentre& guess, int32_t size,
                     const std::vector<float>& window, float* out) {
    BoxCentre centre = guess;
    BoxCorner corner = boxCorner(centre, size);
    float sky = 0;
    for (int pass = 0; pass < kCentringPasses; ++pass) {
        sky = borderSky(plane, corner, size);
        centre = lightCentre(plane, corner, size, sky);
        corner = boxCorner(centre, size);
    }
    sky = borderSky(plane, corner, size);
    cutBox(plane, corner, size, sky, out);
    const std::size_t n = window.size();
    for (std::size_t k = 0; k < n; ++k)
        out[k] *= window[k];
    return centre;
}

} // namespace corvane
