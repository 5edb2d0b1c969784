#include "video/Monochrome.h"

#include <array>
#include <cstddef>

namespace corvane {

namespace {

// The classic Windows defaults of GetSysColor, indexes 0 (scroll bar) to 30
// (menu bar), as 0x00BBGGRR.
constexpr std::array<Colour, 31> kSystemColours = {
    0xC8C8C8, // 0 scroll bar
    0x000000, // 1 background (desktop)
    0xD1B499, // 2 active caption
    0xDBCDBF, // 3 inactive caption
    0xF0F0F0, // 4 menu
    0xFFFFFF, // 5 window
    0x646464, // 6 window frame
    0x000000, // 7 menu text
    0x000000, // 8 window text
    0x000000, // 9 caption text
    0xB4B4B4, // 10 active border
    0xFCF7F4, // 11 inactive border
    0xABABAB, // 12 application workspace
    0xFF9933, // 13 highlight
    0xFFFFFF, // 14 highlight text
    0xF0F0F0, // 15 button face
    0xA0A0A0, // 16 button shadow
    0x6D6D6D, // 17 grey text
    0x000000, // 18 button text
    0x000000, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x696969, // 21 3D dark shadow
    0xE3E3E3, // 22 3D light
    0x000000, // 23 info text
    0xE1FFFF, // 24 info background
    0x000000, // 25 (undefined)
    0xCC6600, // 26 hot light
    0xEAD1B9, // 27 gradient active caption
    0xF2E4D7, // 28 gradient inactive caption
    0xFF9933, // 29 menu highlight
    0xF0F0F0, // 30 menu bar
};

} // namespace

namespace detail {

// s * 255 / 768 rounded half to even, worked in integers so the ties
// (s = 128, 384, 640) are exact.
struct IntensityTable {
    uint8_t v[766];
    constexpr IntensityTable() : v() {
        for (int s = 0; s <= 765; ++s) {
            const int num = s * 255;
            int q = num / 768;
            const int twiceRest = 2 * (num % 768);
            if (twiceRest > 768 || (twiceRest == 768 && (q % 2) == 1))
                ++q;
            v[s] = static_cast<uint8_t>(q);
        }
    }
};
constexpr IntensityTable kTable;
const uint8_t (&kIntensityOfSumRef)[766] = kTable.v;

} // namespace detail

Colour systemColour(int index) {
    if (index < 0 || index >= static_cast<int>(kSystemColours.size()))
        return 0;
    return kSystemColours[static_cast<std::size_t>(index)];
}

} // namespace corvane
