#pragma once
// Panels with known intensities for the view tests.
#include "measure/Starbox.h"
#include "video/Monochrome.h"
#include "video/PanelSurface.h"

#include <stdexcept>

namespace corvane::testing {

// A grey-ish colour whose intensity is exactly `level` (0..254).
inline Colour colourOfIntensity(int level) {
    for (unsigned s = 0; s <= 765; ++s) {
        const unsigned r = s / 3 + (s % 3 > 0 ? 1 : 0);
        const unsigned g = s / 3 + (s % 3 > 1 ? 1 : 0);
        const unsigned b = s / 3;
        const Colour c = r | (g << 8) | (b << 16);
        if (monochrome(c) == level)
            return c;
    }
    throw std::invalid_argument("no colour has this intensity");
}

// A box of n x n pixels from (left, top), as place() leaves it.
inline TStarbox boxAt(int left, int top, int n) {
    TStarbox box;
    box.Left = left;
    box.Top = top;
    box.Right = left + n;
    box.Bottom = top + n;
    box.Size = n;
    box.CentreX = left + n / 2;
    box.CentreY = top + n / 2;
    return box;
}

} // namespace corvane::testing
