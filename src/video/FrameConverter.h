#pragma once
// Turns a decoded FFmpeg frame into the panel's colour values 0x00BBGGRR with
// the top byte always 0 (a set top bit would name a system colour). Grey,
// 24-bit and palette frames are converted here exactly; everything else goes
// through swscale with one context kept per source format.
#include "video/VideoDecoder.h"

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
    bool convert(const AVFrame* frame, Picture& out);

private:
    bool convertWithSwscale(const AVFrame* frame, Picture& out);

    SwsContext* sws_ = nullptr;
    // What sws_ was built for.
    int swsFormat_ = -1;
    int swsWidth_ = 0;
    int swsHeight_ = 0;
    bool swsFullRange_ = false;
    int swsColourSpace_ = -1;
};

} // namespace corvane
