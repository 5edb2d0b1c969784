#include "video/Demosaic.h"

#include <cmath>
#include <cstddef>

namespace corvane {

namespace {

enum Channel { kRed = 0, kGreen = 1, kBlue = 2 };

// Channel of each cell position (y & 1) * 2 + (x & 1).
struct Cell {
    Channel at[4];
};

Cell cellOf(BayerPattern p) {
    switch (p) {
    case BayerPattern::RGGB:
        return {{kRed, kGreen, kGreen, kBlue}};
    case BayerPattern::GRBG:
        return {{kGreen, kRed, kBlue, kGreen}};
    case BayerPattern::GBRG:
        return {{kGreen, kBlue, kRed, kGreen}};
    case BayerPattern::BGGR:
        return {{kBlue, kGreen, kGreen, kRed}};
    }
    return {{kRed, kGreen, kGreen, kBlue}};
}

template <typename T> void demosaicAny(const T* m, int w, int h, BayerPattern p, T* rgb) {
    const Cell cell = cellOf(p);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            long sum[3] = {0, 0, 0};
            int count[3] = {0, 0, 0};
            for (int dy = -1; dy <= 1; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= h)
                    continue;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx;
                    if (xx < 0 || xx >= w)
                        continue;
                    const Channel c = cell.at[(yy & 1) * 2 + (xx & 1)];
                    sum[c] += m[static_cast<std::size_t>(yy) * static_cast<std::size_t>(w) +
                                static_cast<std::size_t>(xx)];
                    ++count[c];
                }
            }
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                                  static_cast<std::size_t>(x);
            const Channel own = cell.at[(y & 1) * 2 + (x & 1)];
            for (int c = 0; c < 3; ++c) {
                // A 1-pixel-wide or -high frame lacks some colours entirely.
                const double v = c == own   ? m[i]
                                 : count[c] ? static_cast<double>(sum[c]) / count[c]
                                            : static_cast<double>(m[i]);
                rgb[3 * i + static_cast<std::size_t>(c)] = static_cast<T>(std::nearbyint(v));
            }
        }
}

} // namespace

const char* bayerPatternName(BayerPattern p) {
    switch (p) {
    case BayerPattern::RGGB:
        return "RGGB";
    case BayerPattern::GRBG:
        return "GRBG";
    case BayerPattern::GBRG:
        return "GBRG";
    case BayerPattern::BGGR:
        return "BGGR";
    }
    return "?";
}

BayerPattern bayerPatternAt(BayerPattern p, int x0, int y0) {
    const bool dx = x0 & 1, dy = y0 & 1;
    // Moving one column swaps the colours within each row of the cell, one
    // row swaps the rows.
    static const BayerPattern swapColumns[] = {BayerPattern::GRBG, BayerPattern::RGGB,
                                               BayerPattern::BGGR, BayerPattern::GBRG};
    static const BayerPattern swapRows[] = {BayerPattern::GBRG, BayerPattern::BGGR,
                                            BayerPattern::RGGB, BayerPattern::GRBG};
    if (dx)
        p = swapColumns[static_cast<int>(p)];
    if (dy)
        p = swapRows[static_cast<int>(p)];
    return p;
}

void demosaic(const uint8_t* mosaic, int width, int height, BayerPattern p, uint8_t* rgb) {
    demosaicAny(mosaic, width, height, p, rgb);
}

void demosaic(const uint16_t* mosaic, int width, int height, BayerPattern p, uint16_t* rgb) {
    demosaicAny(mosaic, width, height, p, rgb);
}

} // namespace corvane
