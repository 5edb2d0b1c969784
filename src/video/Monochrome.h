#pragma once
// Intensity of a colour: the grey value 0..254 of a colour value.
#include "video/FrameImage.h"

#include <cstdint>

namespace corvane {

// The classic default system colours, indexes 0..30; any other index gives 0.
Colour systemColour(int index);

namespace detail {
// round_half_even(s * 255 / 768) for every s = R + G + B in 0..765.
extern const uint8_t (&kIntensityOfSumRef)[766];
} // namespace detail

// round_half_even((R + G + B) * 255 / 768); a value with the top bit set is
// replaced by the system colour of its low byte first (so the invalid colour,
// all bits set, reads as 0).
inline int32_t monochrome(Colour c) {
    if (c & 0x80000000u)
        c = systemColour(static_cast<int>(c & 0xFFu));
    const unsigned s = (c & 0xFFu) + ((c >> 8) & 0xFFu) + ((c >> 16) & 0xFFu);
    return detail::kIntensityOfSumRef[s];
}

} // namespace corvane
