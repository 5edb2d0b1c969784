#include "video/PixelCanvas.h"

#include <algorithm>

namespace corvane {

void PixelCanvas::ensureSize(int w, int h) {
    w = std::clamp(w, 0, kMaxSide);
    h = std::clamp(h, 0, kMaxSide);
    if (w <= width_ && h <= height_)
        return;
    const int nw = std::max(w, width_);
    const int nh = std::max(h, height_);
    std::vector<Colour> grown(static_cast<std::size_t>(nw) * static_cast<std::size_t>(nh), kBlack);
    for (int y = 0; y < height_; ++y)
        std::copy_n(&pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_)],
                    width_, &grown[static_cast<std::size_t>(y) * static_cast<std::size_t>(nw)]);
    pixels_.swap(grown);
    width_ = nw;
    height_ = nh;
    touch();
}

void PixelCanvas::clear() {
    std::fill(pixels_.begin(), pixels_.end(), kBlack);
    touch();
}

} // namespace corvane
