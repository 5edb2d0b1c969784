#pragma once
// One decoded frame, in two forms kept apart: the intensities that every
// measurement reads, at the frame's own size and depth, and the colours the
// user sees. Box outlines and track marks never go into either; they belong
// to the panel's display.
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

// Columns [left, right) and rows [top, bottom) of a frame: the part of it
// that measuring reads.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The part of `r` inside a w x h frame (empty where they do not meet).
inline PixelRect clippedTo(const PixelRect& r, int w, int h) {
    PixelRect c;
    c.left = std::clamp(r.left, 0, std::max(w, 0));
    c.right = std::clamp(r.right, c.left, std::max(w, 0));
    c.top = std::clamp(r.top, 0, std::max(h, 0));
    c.bottom = std::clamp(r.bottom, c.top, std::max(h, 0));
    return c;
}

// Intensity of every pixel of a frame, row by row from the top. 8-bit video
// gives the grey value 0..254 of each pixel's colour (`monochrome`); deeper
// sources keep their own samples up to `whiteLevel`.
class IntensityPlane {
public:
    // The brightest intensity of an 8-bit source (white reads 254).
    static constexpr int32_t kWhiteLevel8 = 254;

    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerSample() const { return bits_; }
    int32_t whiteLevel() const { return white_; }
    // A level set on the 8-bit scale (white 254) as the same share of this
    // plane's white: (t * white) / 254, rounded down. Exact at white 254, so
    // an 8-bit frame keeps every threshold as it is.
    int32_t levelFrom8Bit(int32_t t) const {
        return static_cast<int32_t>(int64_t{t} * white_ / kWhiteLevel8);
    }
    bool empty() const { return width_ == 0 || height_ == 0; }

    // Resizes to w x h (all 0 when it grows); the storage is kept. Every row
    // then counts as held.
    void reset(int w, int h, int bitsPerSample = 8, int32_t whiteLevel = kWhiteLevel8) {
        width_ = std::max(w, 0);
        height_ = std::max(h, 0);
        bits_ = bitsPerSample;
        white_ = whiteLevel;
        samples_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
        heldLeft_ = 0;
        heldTop_ = 0;
        heldRight_ = width_;
        heldBottom_ = height_;
        strayRead_ = false;
        missing_.clear();
        missingCount_ = 0;
    }

    // A frame read only in part holds this frame's intensities in columns
    // [left, right) of rows [top, bottom) alone; the other pixels keep
    // whatever an earlier frame left. Reading another pixel of the frame
    // (through `at`, `row` or a view that carries the held part) marks the
    // plane, so that whoever read the part can read the
    // frame whole and measure it again: a measurement never rests on another
    // frame's pixels.
    void holdRows(int top, int bottom) { hold({0, top, width_, bottom}); }
    void hold(const PixelRect& r) {
        const PixelRect c = clippedTo(r, width_, height_);
        heldLeft_ = c.left;
        heldRight_ = c.right;
        heldTop_ = c.top;
        heldBottom_ = c.bottom;
        strayRead_ = false;
    }
    int heldLeft() const { return heldLeft_; }
    int heldTop() const { return heldTop_; }
    int heldRight() const { return heldRight_; }
    int heldBottom() const { return heldBottom_; }
    // Whether only part of the frame is held.
    bool partial() const {
        return heldLeft_ > 0 || heldTop_ > 0 || heldRight_ < width_ || heldBottom_ < height_;
    }
    bool strayRead() const { return strayRead_; }
    // Where a view that reads the samples on its own marks a stray read.
    bool* strayReadFlag() const { return &strayRead_; }
    void clear() { reset(0, 0); }

    // Positions outside the frame count as intensity 0, like black sky.
    int32_t at(int x, int y) const {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
            return 0;
        noteRead(x, x + 1, y);
        return samples_[index(x, y)];
    }
    // Writes outside the frame are dropped.
    void set(int x, int y, int32_t v) {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
            return;
        samples_[index(x, y)] = static_cast<uint16_t>(std::clamp<int32_t>(v, 0, 65535));
    }
    void fill(int32_t v) {
        std::fill(samples_.begin(), samples_.end(),
                  static_cast<uint16_t>(std::clamp<int32_t>(v, 0, 65535)));
    }

    // Pixels the file holds no number for (a NaN or an infinity): they read
    // as 0, and a star box that holds one cannot be measured soundly.
    void markMissing(int x, int y) {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
            return;
        if (missing_.empty())
            missing_.resize(samples_.size());
        missingCount_ += missing_[index(x, y)] ? 0 : 1;
        missing_[index(x, y)] = true;
    }
    std::size_t missingCount() const { return missingCount_; }
    // Whether a missing pixel lies in the square [left, left + size) x
    // [top, top + size).
    bool missingIn(int32_t left, int32_t top, int32_t size) const {
        if (missingCount_ == 0)
            return false;
        const int x0 = std::max(left, 0), y0 = std::max(top, 0);
        const int x1 = static_cast<int>(std::min<int64_t>(int64_t{left} + size, width_));
        const int y1 = static_cast<int>(std::min<int64_t>(int64_t{top} + size, height_));
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (missing_[index(x, y)])
                    return true;
        return false;
    }

    // Whether the square [left, left + size) x [top, top + size) lies wholly
    // inside the frame, so its rows can be read straight from `row`.
    bool holds(int32_t left, int32_t top, int32_t size) const {
        return left >= 0 && top >= 0 && size >= 0 && int64_t{left} + size <= width_ &&
               int64_t{top} + size <= height_;
    }
    // Row y, all of whose columns may be read: a read of a row held only in
    // part is stray. Measuring says which columns it reads with the other
    // form, columns [x0, x1) of row y (x0 <= x1, inside the frame).
    const uint16_t* row(int y) const {
        noteRead(0, width_, y);
        return samples_.data() + index(0, y);
    }
    const uint16_t* row(int y, int x0, int x1) const {
        noteRead(x0, x1, y);
        return samples_.data() + index(0, y);
    }
    uint16_t* row(int y) { return samples_.data() + index(0, y); }
    // The samples from row 0 on, for a view that reads them itself; not a
    // read of any row.
    const uint16_t* samples() const { return samples_.data(); }

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    void noteRead(int x0, int x1, int y) const {
        if (y < heldTop_ || y >= heldBottom_ || x0 < heldLeft_ || x1 > heldRight_)
            strayRead_ = true;
    }

    int width_ = 0;
    int height_ = 0;
    int bits_ = 8;
    int32_t white_ = kWhiteLevel8;
    std::vector<uint16_t> samples_;
    int heldLeft_ = 0;
    int heldTop_ = 0;
    int heldRight_ = 0;
    int heldBottom_ = 0;
    mutable bool strayRead_ = false;
    std::vector<bool> missing_; // empty while no pixel is missing
    std::size_t missingCount_ = 0;
};

// The colours of a frame as the user sees it, at the frame's own size. A grey
// source keeps its grey levels (a quarter of the memory); anything else its
// colour values.
class DisplayImage {
public:
    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    // w x h grey levels, each shown as grey * 0x010101.
    std::vector<uint8_t>& resetGrey(int w, int h) {
        setSize(w, h);
        colour_.clear();
        grey_.resize(count());
        return grey_;
    }
    // w x h colour values, top byte 0.
    std::vector<Colour>& resetColour(int w, int h) {
        setSize(w, h);
        grey_.clear();
        colour_.resize(count());
        return colour_;
    }
    void clear() {
        width_ = height_ = 0;
        grey_.clear();
        colour_.clear();
    }

    // Grey levels kept (not colour values), and row y of them.
    bool isGrey() const { return !empty() && colour_.empty(); }
    uint8_t* greyRow(int y) {
        return grey_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
    }

    // Outside the frame: the invalid colour.
    Colour pixel(int x, int y) const {
        if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_) ||
            static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
            return kInvalidColour;
        const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                              static_cast<std::size_t>(x);
        return grey_.empty() ? colour_[i] : grey_[i] * 0x010101u;
    }
    // Columns [x, x + n) of row y, all inside the frame, into `out`.
    void copyRow(int x, int y, int n, Colour* out) const;

private:
    void setSize(int w, int h) {
        width_ = std::max(w, 0);
        height_ = std::max(h, 0);
    }
    std::size_t count() const {
        return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<uint8_t> grey_;
    std::vector<Colour> colour_;
};

inline void DisplayImage::copyRow(int x, int y, int n, Colour* out) const {
    const std::size_t start = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                              static_cast<std::size_t>(x);
    if (grey_.empty()) {
        std::copy_n(colour_.data() + start, n, out);
        return;
    }
    // Shifts rather than the product: a plain compiler packs them.
    const uint8_t* g = grey_.data() + start;
    for (int i = 0; i < n; ++i) {
        const Colour v = g[i];
        out[i] = v | v << 8 | v << 16;
    }
}

struct Frame {
    IntensityPlane intensity;
    DisplayImage display;
    void clear() {
        intensity.clear();
        display.clear();
    }
};

} // namespace corvane
