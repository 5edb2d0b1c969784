#pragma once
// Turns a decoded FFmpeg frame into a frame image: colour values 0x00BBGGRR
// with the top byte always 0 (a set top bit would name a system colour) for
// the display, and their intensities for measuring. Grey frames keep their
// grey levels for the display and get their intensities straight from them.
// 24/32-bit RGB, palette and the common 8-bit YUV frames are converted here
// exactly; anything else goes through swscale's exact path, with the context
// kept while the format stays.
#include "video/FrameSource.h"
#include "video/YuvToRgb.h"

#include <vector>

struct AVFrame;
struct SwsContext;

namespace corvane {

class FrameConverter {
public:
    FrameConverter() = default;
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // False when the frame's format or size cannot be converted.
    bool convert(const AVFrame* frame, Frame& out);
    // Only the intensities of the part `band` (clipped to the frame), for
    // measuring in a band: `out` gets the frame's size, the other pixels keep
    // what they held and are marked as not held; no display is made.
    bool convertBand(const AVFrame* frame, const PixelRect& band, IntensityPlane& out);

private:
    static void convertGrey(const AVFrame* frame, Frame& out);
    static void intensitiesOfColours(Frame& out);
    // Rows [y0, y1) of the frame's colours into `dst` (row y0 first).
    bool convertColour(const AVFrame* frame, int y0, int y1, Colour* dst);
    bool convertWithSwscale(const AVFrame* frame, int y0, int y1, Colour* dst);

    std::vector<Colour> band_;  // the colours of a band
    std::vector<Colour> whole_; // a whole frame, for swscale's band

    YuvToRgb yuv_;
    SwsContext* sws_ = nullptr;
    // What sws_ was built for.
    int swsFormat_ = -1;
    int swsWidth_ = 0;
    int swsHeight_ = 0;
    bool swsFullRange_ = false;
    int swsColourSpace_ = -1;
};

} // namespace corvane
