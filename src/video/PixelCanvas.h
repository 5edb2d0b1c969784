#pragma once
// A drawing surface of its own size, for side windows (the zoom view): it
// grows to hold whatever is painted and keeps what was painted before, so
// covering and uncovering its window loses nothing.
#include "video/PanelSurface.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

class PixelCanvas {
public:
    PixelCanvas(int width = 0, int height = 0) { ensureSize(width, height); }

    int width() const { return width_; }
    int height() const { return height_; }

    // Grows (never shrinks) to at least w x h, keeping the pixels; new area
    // is black. Sizes are capped at kMaxSide.
    void ensureSize(int w, int h);

    Colour pixel(int x, int y) const {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
            return kInvalidColour;
        return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                       static_cast<std::size_t>(x)];
    }
    void setPixel(int x, int y, Colour c) {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
            return;
        pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                static_cast<std::size_t>(x)] = c;
    }
    void clear();
    const Colour* data() const { return pixels_.data(); }

    uint64_t generation() const { return generation_; }
    void touch() { ++generation_; }

    static constexpr int kMaxSide = 4096;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<Colour> pixels_;
    uint64_t generation_ = 0;
};

} // namespace corvane
