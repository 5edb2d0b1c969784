#pragma once
// Frames with known intensities for the view tests.
#include "measure/Starbox.h"
#include "video/PanelSurface.h"

namespace corvane::testing {

// A black 640 x 480 frame's intensities.
inline IntensityPlane blankPlane() {
    IntensityPlane plane;
    plane.reset(PanelSurface::kWidth, PanelSurface::kHeight);
    plane.fill(0);
    return plane;
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
