// Bilinear demosaicing of the four Bayer patterns: a field of one colour
// comes back as that colour at every pixel (edges and corners included), so
// a pattern read with its colours swapped or shifted shows; a smooth ramp
// comes back exactly where the interpolation is linear; and a window read
// from the middle of a frame keeps its colours through bayerPatternAt.
#include "video/Demosaic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace corvane {
namespace {

constexpr BayerPattern kPatterns[] = {BayerPattern::RGGB, BayerPattern::GRBG, BayerPattern::GBRG,
                                      BayerPattern::BGGR};

// Which of red (0), green (1), blue (2) the filter at (x, y) passes, written
// from the pattern's name so it is independent of the code under test.
int filterAt(BayerPattern p, int x, int y) {
    const char c = bayerPatternName(p)[(y & 1) * 2 + (x & 1)];
    return c == 'R' ? 0 : c == 'G' ? 1 : 2;
}

// The mosaic a sensor with pattern p gives of the picture `rgb(x, y)`.
template <typename T, typename F> std::vector<T> mosaicOf(BayerPattern p, int w, int h, F rgb) {
    std::vector<T> m(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m[static_cast<std::size_t>(y * w + x)] = static_cast<T>(rgb(x, y)[filterAt(p, x, y)]);
    return m;
}

template <typename T> void expectUniformColourEverywhere(T red, T green, T blue) {
    constexpr int w = 7, h = 5; // odd sizes: every edge ends on both parities
    for (BayerPattern p : kPatterns) {
        const std::vector<T> m = mosaicOf<T>(p, w, h, [&](int, int) {
            return std::vector<long>{red, green, blue};
        });
        std::vector<T> rgb(static_cast<std::size_t>(3 * w * h));
        demosaic(m.data(), w, h, p, rgb.data());
        for (int i = 0; i < w * h; ++i) {
            ASSERT_EQ(rgb[3 * i], red) << bayerPatternName(p) << " pixel " << i;
            ASSERT_EQ(rgb[3 * i + 1], green) << bayerPatternName(p) << " pixel " << i;
            ASSERT_EQ(rgb[3 * i + 2], blue) << bayerPatternName(p) << " pixel " << i;
        }
    }
}

TEST(Demosaic, AFieldOfOneColourComesBackAtEveryPixel) {
    expectUniformColourEverywhere<uint8_t>(200, 90, 17);
    expectUniformColourEverywhere<uint16_t>(60000, 2500, 31);
}

TEST(Demosaic, ARampComesBackExactlyInsideTheFrame) {
    // Each channel rises linearly in x and y, so the mean of opposite
    // neighbours is the value between them: exact away from the edges.
    constexpr int w = 12, h = 10;
    auto ramp = [](int x, int y) {
        return std::vector<long>{1000 + 40 * x + 8 * y, 3000 + 12 * x + 30 * y,
                                 500 + 100 * x + 60 * y};
    };
    for (BayerPattern p : kPatterns) {
        const std::vector<uint16_t> m = mosaicOf<uint16_t>(p, w, h, ramp);
        std::vector<uint16_t> rgb(3 * w * h);
        demosaic(m.data(), w, h, p, rgb.data());
        for (int y = 1; y < h - 1; ++y)
            for (int x = 1; x < w - 1; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(rgb[static_cast<std::size_t>(3 * (y * w + x) + c)], ramp(x, y)[c])
                        << bayerPatternName(p) << " at " << x << "," << y << " channel " << c;
    }
}

TEST(Demosaic, AWindowFromTheMiddleKeepsItsColours) {
    for (BayerPattern p : kPatterns)
        for (int x0 : {0, 1})
            for (int y0 : {0, 1}) {
                const BayerPattern q = bayerPatternAt(p, x0, y0);
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x)
                        ASSERT_EQ(filterAt(q, x, y), filterAt(p, x + x0, y + y0))
                            << bayerPatternName(p) << " from " << x0 << "," << y0;
            }
}

} // namespace
} // namespace corvane
