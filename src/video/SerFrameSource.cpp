#include "video/SerFrameSource.h"

#include <algorithm>

namespace corvane {

namespace {

ColourLayout layoutOf(SerColour c) {
    switch (c) {
    case SerColour::BayerRGGB:
        return ColourLayout::BayerRGGB;
    case SerColour::BayerGRBG:
        return ColourLayout::BayerGRBG;
    case SerColour::BayerGBRG:
        return ColourLayout::BayerGBRG;
    case SerColour::BayerBGGR:
        return ColourLayout::BayerBGGR;
    case SerColour::RGB:
        return ColourLayout::Rgb;
    case SerColour::BGR:
        return ColourLayout::Bgr;
    default: // the reader refuses the CMY mosaics
        return ColourLayout::Mono;
    }
}

} // namespace

SerFrameSource::SerFrameSource(const std::string& path) : file_(path) {
    Shape s;
    s.width = file_.width();
    s.height = file_.height();
    s.channels = file_.channels();
    s.bits = file_.bitsPerSample();
    // 8-bit samples keep the white of 8 bits whatever depth the header
    // states, so they read as the same pixels of an 8-bit AVI would.
    s.sampleWhite = s.bits == 8 ? 255 : (1 << file_.significantBits()) - 1;
    s.layout = layoutOf(file_.colour());
    s.frames = static_cast<int32_t>(std::min<int64_t>(file_.frameCount(), kMaxFrames));
    file_.clock().setFrameCount(s.frames);
    init(path, s, file_.clock());
}

std::string SerFrameSource::formatName() const {
    return "SER, " + std::to_string(file_.significantBits()) + "-bit " +
           serColourName(file_.colour());
}

} // namespace corvane
