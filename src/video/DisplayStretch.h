#pragma once
// Showing deep or faint frames: intensities from a black point to a white
// point are spread over the 256 grey levels of the display, those below
// black show black and those above white show white. The default points are
// the frame's 0.5 % and 99.8 % percentiles: the sky sits just above black and
// only the cores of the brightest stars reach white.
#include "video/FrameImage.h"

#include <cstdint>

namespace corvane {

struct StretchPoints {
    int32_t black = 0;
    int32_t white = IntensityPlane::kWhiteLevel8;
    bool operator==(const StretchPoints& o) const { return black == o.black && white == o.white; }
};

// The intensities below which the fractions `low` and `high` of the frame's
// pixels lie; white is kept above black.
StretchPoints stretchPointsOf(const IntensityPlane& plane, double low = 0.005, double high = 0.998);

// Grey levels of the columns [x0, x0 + w) of rows [y0, y0 + h) (clipped to
// the frame) of `plane` into `out`. A display of another size, or one of
// colour values, is first made a black grey display of the plane's size;
// otherwise its other pixels are left alone.
void stretchToDisplay(const IntensityPlane& plane, StretchPoints points, int x0, int y0, int w,
                      int h, DisplayImage& out);

} // namespace corvane
