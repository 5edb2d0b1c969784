#include "video/PanelSurface.h"

#include <algorithm>
#include <cstddef>

namespace corvane {

namespace {

constexpr std::size_t kPanelPixels = static_cast<std::size_t>(PanelSurface::kWidth) *
                                     static_cast<std::size_t>(PanelSurface::kHeight);

int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

PanelSurface::PanelSurface() : pixels_(kPanelPixels, kBlack) {}

void PanelSurface::setSize(int w, int h) {
    w = std::max(w, kWidth);
    h = std::max(h, kHeight);
    if (w == width_ && h == height_)
        return;
    width_ = w;
    height_ = h;
    pixels_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), kBlack);
    clampOrigin();
    touch();
}

void PanelSurface::showFrame(const DisplayImage* image) {
    frame_ = image && !image->empty() ? image : nullptr;
    marks_.clear();
    touch();
}

void PanelSurface::setFrameSize(int w, int h) {
    frameWidth_ = std::max(w, 0);
    frameHeight_ = std::max(h, 0);
    originX_ = originY_ = 0;
    touch();
}

void PanelSurface::rectangleOutline(int left, int top, int right, int bottom, Colour c) {
    if (right <= left || bottom <= top)
        return;
    marks_.push_back({left, top, right, bottom, c, true});
    touch();
}

void PanelSurface::setPixel(int x, int y, Colour c) {
    marks_.push_back({x, y, x + 1, y + 1, c, false});
    touch();
}

void PanelSurface::clearMarks() {
    marks_.clear();
    touch();
}

void PanelSurface::setFit(bool fit) {
    fit_ = fit;
    touch();
}

void PanelSurface::setOrigin(int x, int y) {
    originX_ = x;
    originY_ = y;
    clampOrigin();
    touch();
}

void PanelSurface::clampOrigin() {
    const auto limit = [](int frame, int panel) {
        return frame > panel ? frame - panel + kScrollSlack : 0;
    };
    originX_ = std::clamp(originX_, 0, limit(frameWidth(), width_));
    originY_ = std::clamp(originY_, 0, limit(frameHeight(), height_));
}

void PanelSurface::follow(int x, int y, int margin) {
    if (scaled() || !frameLargerThanPanel())
        return;
    const int m = std::clamp(margin, 0, height_ / 2);
    int ox = originX_, oy = originY_;
    // Off the view or too near its edge: centre the view on the point.
    if (x < ox + m || x >= ox + width_ - m)
        ox = x - width_ / 2;
    if (y < oy + m || y >= oy + height_ - m)
        oy = y - height_ / 2;
    if (ox != originX_ || oy != originY_)
        setOrigin(ox, oy);
}

int64_t PanelSurface::fitNum() const {
    // The side that fills the panel first sets the scale.
    return int64_t{frameWidth()} * height_ >= int64_t{frameHeight()} * width_ ? width_ : height_;
}

int64_t PanelSurface::fitDen() const {
    return int64_t{frameWidth()} * height_ >= int64_t{frameHeight()} * width_ ? frameWidth()
                                                                              : frameHeight();
}

void PanelSurface::panelToFrame(int px, int py, int& fx, int& fy) const {
    px = std::clamp(px, -width_, 2 * width_);
    py = std::clamp(py, -height_, 2 * height_);
    if (scaled()) {
        fx = static_cast<int>(floorDiv(int64_t{px} * fitDen(), fitNum()));
        fy = static_cast<int>(floorDiv(int64_t{py} * fitDen(), fitNum()));
    } else {
        fx = px + originX_;
        fy = py + originY_;
    }
}

void PanelSurface::frameToPanel(int64_t fx, int64_t fy, int64_t& px, int64_t& py) const {
    if (scaled()) {
        px = floorDiv(fx * fitNum(), fitDen());
        py = floorDiv(fy * fitNum(), fitDen());
    } else {
        px = fx - originX_;
        py = fy - originY_;
    }
}

Colour PanelSurface::pixel(int x, int y) const {
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
        return kInvalidColour;
    return data()[static_cast<std::size_t>(y) * width_ + static_cast<std::size_t>(x)];
}

const Colour* PanelSurface::data() const {
    if (renderedGeneration_ != generation_)
        render();
    return pixels_.data();
}

void PanelSurface::render() const {
    renderedGeneration_ = generation_;
    // Black only where no frame pixel lands: a frame that fills the panel,
    // the common case during a run, is written once.
    const PixelRect covered = frame_ ? renderFrame(*frame_) : PixelRect{};
    for (int py = 0; py < covered.bottom; ++py) {
        Colour* row = &pixels_[static_cast<std::size_t>(py) * width_];
        std::fill(row + covered.right, row + width_, kBlack);
    }
    std::fill(pixels_.begin() + static_cast<std::ptrdiff_t>(covered.bottom) * width_, pixels_.end(),
              kBlack);
    for (const Mark& m : marks_)
        drawMark(m);
}

PixelRect PanelSurface::renderFrame(const DisplayImage& f) const {
    int w = 0, h = 0;
    if (scaled()) {
        // Nearest frame pixel of each panel pixel: the one panelToFrame names.
        const int64_t num = fitNum(), den = fitDen();
        w = static_cast<int>(std::min<int64_t>(width_, f.width() * num / den));
        h = static_cast<int>(std::min<int64_t>(height_, f.height() * num / den));
        for (int py = 0; py < h; ++py) {
            const int fy = static_cast<int>(int64_t{py} * den / num);
            Colour* out = &pixels_[static_cast<std::size_t>(py) * width_];
            for (int px = 0; px < w; ++px)
                out[px] = f.pixel(static_cast<int>(int64_t{px} * den / num), fy);
        }
    } else {
        w = std::min(width_, f.width() - originX_);
        h = std::min(height_, f.height() - originY_);
        for (int py = 0; py < h; ++py)
            f.copyRow(originX_, originY_ + py, w, &pixels_[static_cast<std::size_t>(py) * width_]);
    }
    return {0, 0, std::max(w, 0), std::max(h, 0)};
}

void PanelSurface::drawMark(const Mark& m) const {
    int64_t l = 0, t = 0, r = 0, b = 0;
    frameToPanel(m.left, m.top, l, t);
    frameToPanel(m.right - 1, m.bottom - 1, r, b);
    const auto put = [this, &m](int64_t x, int64_t y) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            pixels_[static_cast<std::size_t>(y) * width_ + static_cast<std::size_t>(x)] = m.colour;
    };
    if (!m.outline) {
        put(l, t);
        return;
    }
    // Only the part of each line that lies on the panel is walked.
    for (int64_t x = std::max<int64_t>(l, 0); x <= std::min<int64_t>(r, width_ - 1); ++x) {
        put(x, t);
        put(x, b);
    }
    for (int64_t y = std::max<int64_t>(t, 0); y <= std::min<int64_t>(b, height_ - 1); ++y) {
        put(l, y);
        put(r, y);
    }
}

void PanelSurface::copyFrameRegion(int left, int top, int w, int h,
                                   std::vector<Colour>& out) const {
    w = std::max(w, 0);
    h = std::max(h, 0);
    out.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), kInvalidColour);
    if (frame_)
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                out[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) +
                    static_cast<std::size_t>(c)] = frame_->pixel(left + c, top + r);
    const auto put = [&](int64_t x, int64_t y, Colour colour) {
        x -= left;
        y -= top;
        if (x >= 0 && y >= 0 && x < w && y < h)
            out[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                static_cast<std::size_t>(x)] = colour;
    };
    for (const Mark& m : marks_) {
        if (!m.outline) {
            put(m.left, m.top, m.colour);
            continue;
        }
        const int64_t x0 = std::max<int64_t>(m.left, left - 1);
        const int64_t x1 = std::min<int64_t>(m.right - 1, int64_t{left} + w);
        for (int64_t x = x0; x <= x1; ++x) {
            put(x, m.top, m.colour);
            put(x, m.bottom - 1, m.colour);
        }
        const int64_t y0 = std::max<int64_t>(m.top, top - 1);
        const int64_t y1 = std::min<int64_t>(m.bottom - 1, int64_t{top} + h);
        for (int64_t y = y0; y <= y1; ++y) {
            put(m.left, y, m.colour);
            put(m.right - 1, y, m.colour);
        }
    }
}

} // namespace corvane
