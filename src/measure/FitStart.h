#pragma once
// Where the fitting methods start both stars on a frame.
#include "measure/WorkingState.h"

#include <array>
#include <cmath>

namespace corvane {

struct FitStartPoints {
    std::array<double, 2> x; // primary, secondary
    std::array<double, 2> y;
};

// Where the last fit (or the click) put each star relative to the system box,
// carried along with the box since the last frame. The star boxes keep that
// place: CentreX/Y stay at the system box centre plus the offset fixed at
// selection, FineX/Y hold the star's own centre. Two starts closer than a
// pixel are one point to a fit: both boxes sit on one blend (a box larger
// than the separation weighs both stars), and the clicks tell them apart.
inline FitStartPoints fitStartPoints(const WorkingState& ws) {
    const TStarbox& sys = ws.SystemBox;
    FitStartPoints p;
    const TStarbox* stars[2] = {&ws.PrimaryBox, &ws.SecondaryBox};
    for (int i = 0; i < 2; ++i) {
        const TStarbox& s = *stars[i];
        p.x[i] = sys.CentreX + s.OffsetX + (static_cast<double>(s.FineX) - s.CentreX);
        p.y[i] = sys.CentreY + s.OffsetY + (static_cast<double>(s.FineY) - s.CentreY);
    }
    if (std::hypot(p.x[0] - p.x[1], p.y[0] - p.y[1]) < 1.0) {
        p.x = {static_cast<double>(sys.CentreX + ws.PrimaryClickDX),
               static_cast<double>(sys.CentreX + ws.SecondaryClickDX)};
        p.y = {static_cast<double>(sys.CentreY + ws.PrimaryClickDY),
               static_cast<double>(sys.CentreY + ws.SecondaryClickDY)};
    }
    return p;
}

} // namespace corvane
