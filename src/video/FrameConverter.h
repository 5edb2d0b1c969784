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

private:
    static void convertGrey(const AVFrame* frame, Frame& out);
    static void intensitiesOfColours(Frame& out);
    bool convertColour(const AVFrame* frame, std::vector<Colour>& pixels);
    bool convertWithSwscale(const AVFrame* frame, std::vector<Colour>& pixels);

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
