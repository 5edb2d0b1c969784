#pragma once
// What the video panel shows: a view onto the frame on screen, with
// the star box outlines and track marks drawn over it for the user. Nothing
// here is ever measured; the measurements read the frame's intensities.
//
// The view. A frame no larger than the panel is shown at its own size from the
// panel's top-left, black around it. A larger frame is shown either at its own
// size from a movable origin (the panel scrolls over it) or, in the fit view,
// scaled down whole into the panel. Outlines and marks are kept in frame
// pixels, so they stay on their stars whatever the view; they go when the
// next frame is shown, as marks on a screen do when the picture is drawn again.
// The panel's pixels are worked out only when they are looked at.
#include "video/FrameImage.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

class PanelSurface {
public:
    // The classic panel's size, and the least a panel has.
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    // How far the unscaled view of a larger frame may pass the frame's far
    // edges, so that no frame pixel stays hidden under the scroll bars.
    static constexpr int kScrollSlack = 16;

    PanelSurface();

    // The panel's size in pixels, at least kWidth x kHeight: a window with
    // room to spare shows more of a large frame at its own size.
    void setSize(int w, int h);
    int width() const { return width_; }
    int height() const { return height_; }

    // The frame on show (nullptr: none, the panel is black). The image must
    // live until the next call; the player keeps it. Clears the marks.
    void showFrame(const DisplayImage* image);
    const DisplayImage* frame() const { return frame_; }
    // The size of the video's frames, which the view is laid out for (a frame
    // that fails to decode shows black in the same view). The player sets it.
    void setFrameSize(int w, int h);
    int frameWidth() const { return frameWidth_; }
    int frameHeight() const { return frameHeight_; }
    // No frame, no marks: black.
    void clear() { showFrame(nullptr); }

    // ---- marks over the frame, in frame pixels ----
    // Hollow rectangle in the platform convention: right and bottom exclusive,
    // so the lines lie on columns left and right-1, rows top and bottom-1.
    void rectangleOutline(int left, int top, int right, int bottom, Colour c);
    // One marked pixel.
    void setPixel(int x, int y, Colour c);
    void clearMarks();
    std::size_t markCount() const { return marks_.size(); }

    // ---- the view ----
    // The frame does not fit the panel at its own size.
    bool frameLargerThanPanel() const { return frameWidth() > width_ || frameHeight() > height_; }
    // The fit view scales a larger frame into the panel; no effect otherwise.
    void setFit(bool fit);
    bool fit() const { return fit_; }
    bool scaled() const { return fit_ && frameLargerThanPanel(); }
    // Frame pixel at the panel's top-left in the unscaled view, kept within
    // 0 .. the frame's spare size plus kScrollSlack (0 when the frame fits).
    void setOrigin(int x, int y);
    int originX() const { return originX_; }
    int originY() const { return originY_; }
    // Scrolls the unscaled view, if needed, so that frame pixel (x, y) lies at
    // least `margin` pixels inside the panel: the view follows a star.
    void follow(int x, int y, int margin);
    // Frame pixel under panel pixel (px, py). Beyond the frame's edge (the
    // black around a smaller frame) the count goes on, so a click there lands
    // on black sky as it always did.
    void panelToFrame(int px, int py, int& fx, int& fy) const;

    // ---- what the panel shows, in panel pixels ----
    // Outside the panel every read gives the invalid colour.
    Colour pixel(int x, int y) const;
    const Colour* data() const;

    // The frame's colours with the marks over them, at frame pixels
    // [left, left + w) x [top, top + h), row by row into `out`: what the zoom
    // view enlarges. Outside the frame: the invalid colour.
    void copyFrameRegion(int left, int top, int w, int h, std::vector<Colour>& out) const;

    // Bumped on every change of what the panel shows.
    uint64_t generation() const { return generation_; }
    void touch() { ++generation_; }

private:
    struct Mark {
        int left, top, right, bottom; // a single pixel: right = left + 1, bottom = top + 1
        Colour colour;
        bool outline;
    };
    void render() const;
    // The frame's pixels into the panel; returns the part they cover, from
    // the panel's top-left.
    PixelRect renderFrame(const DisplayImage& f) const;
    void clampOrigin();
    // Panel position of frame pixel (fx, fy) in the current view.
    void frameToPanel(int64_t fx, int64_t fy, int64_t& px, int64_t& py) const;
    void drawMark(const Mark& m) const;
    // Scale of the fit view: panel pixels = frame pixels * num / den.
    int64_t fitNum() const;
    int64_t fitDen() const;

    const DisplayImage* frame_ = nullptr;
    std::vector<Mark> marks_;
    int width_ = kWidth;
    int height_ = kHeight;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    bool fit_ = false;
    int originX_ = 0;
    int originY_ = 0;
    uint64_t generation_ = 0;
    mutable std::vector<Colour> pixels_;
    mutable uint64_t renderedGeneration_ = ~uint64_t{0};
};

} // namespace corvane
