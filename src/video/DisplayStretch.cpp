#include "video/DisplayStretch.h"

#include <algorithm>
#include <vector>

namespace corvane {

StretchPoints stretchPointsOf(const IntensityPlane& plane, double low, double high) {
    StretchPoints p;
    if (plane.empty()) {
        p.white = plane.whiteLevel();
        return p;
    }
    std::vector<uint32_t> histogram(65536, 0);
    for (int y = 0; y < plane.height(); ++y) {
        const uint16_t* r = plane.row(y);
        for (int x = 0; x < plane.width(); ++x)
            ++histogram[r[x]];
    }
    const double total = static_cast<double>(plane.width()) * plane.height();
    const double lowCount = std::clamp(low, 0.0, 1.0) * total;
    const double highCount = std::clamp(high, 0.0, 1.0) * total;
    double seen = 0;
    bool blackFound = false;
    for (int v = 0; v < 65536; ++v) {
        seen += histogram[static_cast<std::size_t>(v)];
        if (!blackFound && seen > lowCount) {
            p.black = v;
            blackFound = true;
        }
        if (seen >= highCount) {
            p.white = v;
            break;
        }
    }
    p.white = std::max(p.white, p.black + 1);
    return p;
}

void stretchToDisplay(const IntensityPlane& plane, StretchPoints points, int x0, int y0, int w,
                      int h, DisplayImage& out) {
    if (out.width() != plane.width() || out.height() != plane.height() || !out.isGrey()) {
        std::vector<uint8_t>& g = out.resetGrey(plane.width(), plane.height());
        std::fill(g.begin(), g.end(), uint8_t{0});
    }
    const int left = std::max(x0, 0), top = std::max(y0, 0);
    const int right = std::min(x0 + std::max(w, 0), plane.width());
    const int bottom = std::min(y0 + std::max(h, 0), plane.height());
    if (left >= right || top >= bottom)
        return;
    // One grey level per intensity, rounded to the nearest. The table costs more
    // than a 640 x 480 frame's lookups, and a video keeps its stretch from frame
    // to frame, so each thread keeps its last table.
    thread_local StretchPoints tabled{-1, -1};
    thread_local std::vector<uint8_t> lut(65536);
    if (!(tabled == points)) {
        const int32_t black = points.black;
        const int32_t span = std::max(points.white - points.black, 1);
        for (int32_t v = 0; v < 65536; ++v) {
            const int64_t scaled =
                (int64_t{std::clamp(v - black, 0, span)} * 510 + span) / (2 * span);
            lut[static_cast<std::size_t>(v)] = static_cast<uint8_t>(std::min<int64_t>(scaled, 255));
        }
        tabled = points;
    }
    for (int y = top; y < bottom; ++y) {
        const uint16_t* r = plane.row(y);
        uint8_t* g = out.greyRow(y);
        for (int x = left; x < right; ++x)
            g[x] = lut[r[x]];
    }
}

} // namespace corvane
