#include "video/PanelSurface.h"

#include <algorithm>
#include <cstring>

namespace corvane {

void PanelSurface::rectangleOutline(int left, int top, int right, int bottom, Colour c) {
    if (right <= left || bottom <= top)
        return;
    for (int x = left; x < right; ++x) {
        setPixel(x, top, c);
        setPixel(x, bottom - 1, c);
    }
    for (int y = top; y < bottom; ++y) {
        setPixel(left, y, c);
        setPixel(right - 1, y, c);
    }
    touch();
}

void PanelSurface::drawFrame(const Colour* frame, int w, int h, int stride) {
    const int cw = std::clamp(w, 0, kWidth);
    const int ch = std::clamp(h, 0, kHeight);
    if (cw < kWidth || ch < kHeight)
        clear();
    for (int y = 0; y < ch; ++y)
        std::memcpy(&pixels_[static_cast<std::size_t>(y) * kWidth],
                    frame + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride),
                    static_cast<std::size_t>(cw) * sizeof(Colour));
    touch();
}

} // namespace corvane
