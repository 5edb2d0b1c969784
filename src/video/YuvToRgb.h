#pragma once
// YUV to the panel's colour values, to within a level, for the
// 8-bit layouts that AVI files carry: planar 4:2:0, 4:2:2, 4:4:4, 4:1:1,
// 4:4:0, NV12/NV21 and packed YUY2/UYVY/YVYU. Each pixel takes the chroma of
// its sample, as decoders show it; BT.601, BT.709 and the other matrices,
// limited or full range. swscale's fast path is about one level dark and its
// exact path ten times slower.
#include "video/PanelSurface.h"

#include <cstdint>
#include <memory>

struct AVFrame;

namespace corvane {

class YuvToRgb {
public:
    YuvToRgb();
    ~YuvToRgb();
    YuvToRgb(const YuvToRgb&) = delete;
    YuvToRgb& operator=(const YuvToRgb&) = delete;

    // Converts rows [y0, y1) of `f` into `out` (width values a row, row y0
    // first); full range also when the format says so (the JPEG formats).
    // False when the frame's pixel format is not one of the layouts above.
    bool convert(const AVFrame* f, bool fullRange, int y0, int y1, Colour* out);
    // The intensities of those colours (`monochrome` of each) into the part
    // `band` of `out` (inside the frame), without making the colours: a row
    // whose chroma there is all neutral (a grey picture) reads its
    // intensities from the luma alone. Where the chroma is shared by
    // neighbouring columns, the band starts at the first column of its sample.
    bool intensities(const AVFrame* f, bool fullRange, const PixelRect& band, IntensityPlane& out);

    struct Tables;
    struct Layout;

private:
    // The frame's layout, and the tables for its matrix and range; false for
    // a pixel format that is not one of the layouts above.
    bool prepare(const AVFrame* f, bool fullRange, Layout& l);

    std::unique_ptr<Tables> tables_; // for the matrix and range below
    int colourSpace_ = -1;
    bool fullRange_ = false;
};

} // namespace corvane
