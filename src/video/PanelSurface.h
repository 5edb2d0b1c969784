#pragma once
// The pixels of the video panel, held in memory. The player draws each frame
// here; star box outlines and track marks are drawn into the same pixels, so
// later reads see them until the next frame is drawn. The Qt panel widget only
// displays this array.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// 0x00BBGGRR, red in the low byte. A value with the top bit set names a
// system colour by its low byte.
using Colour = uint32_t;

inline constexpr Colour kInvalidColour = 0xFFFFFFFFu;
inline constexpr Colour kRed = 0x0000FFu;
inline constexpr Colour kYellow = 0x00FFFFu;
inline constexpr Colour kBlue = 0xFF0000u;
inline constexpr Colour kBlack = 0x000000u;

class PanelSurface {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;

    PanelSurface() : pixels_(static_cast<std::size_t>(kWidth) * kHeight, kBlack) {}

    // Outside the panel every read gives the invalid colour (intensity 0).
    Colour pixel(int x, int y) const {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(kWidth) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(kHeight))
            return kInvalidColour;
        return pixels_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)];
    }
    // Writes outside the panel are dropped.
    void setPixel(int x, int y, Colour c) {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(kWidth) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(kHeight))
            return;
        pixels_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] = c;
        ++generation_;
    }

    // Hollow rectangle in the platform convention: right and bottom exclusive,
    // so the lines lie on columns left and right-1, rows top and bottom-1.
    void rectangleOutline(int left, int top, int right, int bottom, Colour c);

    // Everything black: the background around a frame smaller than the panel.
    void clear() { std::fill(pixels_.begin(), pixels_.end(), kBlack); }

    // Draw a frame of w x h colour values (row stride in values) at the
    // top-left; what lies beyond 640 x 480 is cut off, the rest is black.
    void drawFrame(const Colour* frame, int w, int h, int stride);

    const Colour* data() const { return pixels_.data(); }
    Colour* data() { return pixels_.data(); }

    // Bumped on every change made through this class (every write goes
    // through it), so a view can tell whether it needs to repaint and the
    // player whether the panel still shows the frame it drew.
    uint64_t generation() const { return generation_; }
    void touch() { ++generation_; }

private:
    std::vector<Colour> pixels_;
    uint64_t generation_ = 0;
};

} // namespace corvane
