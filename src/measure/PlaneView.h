#pragma once
// A read-only window onto a plane of intensities (one sample per pixel, any
// depth up to 16 bits), the pixels the sky estimate and the PSF fit read.
// It owns nothing: whoever holds the samples keeps them alive while it is used.
#include <climits>
#include <cstddef>
#include <cstdint>

namespace corvane {

struct PlaneView {
    const uint16_t* samples = nullptr; // row 0 first, `stride` samples from one row to the next
    int32_t width = 0;
    int32_t height = 0;
    std::ptrdiff_t stride = 0;
    // Samples at or above this value were clipped by the camera or the
    // recording (255 in 8-bit video, 2^depth - 1 deeper): they tell only that
    // the light was at least this much. 0: nothing is clipped.
    uint16_t saturation = 0;
    // Columns [heldLeft, heldRight) of rows [heldTop, heldBottom) hold the
    // frame; reading another pixel of it sets *strayRead (when given), as
    // reading the plane itself would.
    int32_t heldLeft = 0;
    int32_t heldTop = 0;
    int32_t heldRight = INT32_MAX;
    int32_t heldBottom = INT32_MAX;
    bool* strayRead = nullptr;

    bool contains(int32_t x, int32_t y) const {
        return samples != nullptr && x >= 0 && y >= 0 && x < width && y < height;
    }
    bool saturated(uint16_t v) const { return saturation != 0 && v >= saturation; }
    // Outside the plane there is no light: 0, as for pixels off the panel.
    uint16_t at(int32_t x, int32_t y) const {
        if (!contains(x, y))
            return 0;
        if ((y < heldTop || y >= heldBottom || x < heldLeft || x >= heldRight) && strayRead)
            *strayRead = true;
        return samples[static_cast<std::ptrdiff_t>(y) * stride + x];
    }
    // Row y, indexed by column, where columns [first, last] all lie on the
    // plane and within the frame held: read there as `at` reads, without its
    // checks for every pixel. nullptr where a pixel needs them.
    const uint16_t* heldRow(int32_t y, int32_t first, int32_t last) const {
        if (samples == nullptr || y < 0 || y >= height || y < heldTop || y >= heldBottom ||
            first < 0 || first < heldLeft || last >= width || last >= heldRight)
            return nullptr;
        return samples + static_cast<std::ptrdiff_t>(y) * stride;
    }
};

} // namespace corvane
