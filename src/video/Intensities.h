#pragma once
// How samples of any depth become intensities, so that the same picture
// gives the same numbers whatever file it comes in.
//
// Grey samples of 8 bits follow the 8-bit grey AVI: a grey level g shows as
// the colour g * 0x010101, whose intensity (`monochrome`) is g up to 128 and
// g - 1 above, so white 255 reads 254. Deeper grey samples are their own
// intensities, up to the white of their significant bits (2^bits - 1).
//
// Colour samples (RGB, BGR, a demosaiced Bayer mosaic) of any depth give
// round_half_even((R + G + B) * 255 / 768): for 8-bit samples exactly
// `monochrome` of the colour, for 16-bit ones the same weighting at full
// depth (white 65535 in every channel reads 65279).
#include <cstdint>

namespace corvane {

inline uint16_t intensityOfGrey8(uint16_t g) {
    return static_cast<uint16_t>(g - (g > 128 ? 1 : 0));
}

inline uint16_t intensityOfColour(uint32_t r, uint32_t g, uint32_t b) {
    const uint64_t num = (uint64_t{r} + g + b) * 255u;
    uint64_t q = num / 768u;
    const uint64_t twiceRest = 2 * (num % 768u);
    if (twiceRest > 768u || (twiceRest == 768u && (q & 1u) != 0))
        ++q;
    return static_cast<uint16_t>(q);
}

// The intensity white samples give: `sampleWhite` is the brightest sample
// (255 for 8 bits, 2^bits - 1 deeper).
inline int32_t greyWhiteLevel(int32_t sampleWhite, int bitsPerSample) {
    return bitsPerSample == 8 ? intensityOfGrey8(static_cast<uint16_t>(sampleWhite)) : sampleWhite;
}
inline int32_t colourWhiteLevel(int32_t sampleWhite) {
    const auto w = static_cast<uint32_t>(sampleWhite);
    return intensityOfColour(w, w, w);
}

} // namespace corvane
