#include "video/FitsFrameSource.h"

#include <algorithm>

namespace corvane {

namespace {

ColourLayout layoutOf(BayerPattern p) {
    switch (p) {
    case BayerPattern::GRBG:
        return ColourLayout::BayerGRBG;
    case BayerPattern::GBRG:
        return ColourLayout::BayerGBRG;
    case BayerPattern::BGGR:
        return ColourLayout::BayerBGGR;
    case BayerPattern::RGGB:
        break;
    }
    return ColourLayout::BayerRGGB;
}

} // namespace

FitsFrameSource::FitsFrameSource(const std::string& path) : file_(path) {
    Shape s;
    s.width = file_.width();
    s.height = file_.height();
    s.bits = file_.bitsPerSample();
    s.sampleWhite = s.bits == 8 ? 255 : 65535;
    if (const std::optional<BayerPattern> p = file_.bayerPattern())
        s.layout = layoutOf(*p);
    s.frames = static_cast<int32_t>(std::min<int64_t>(file_.frameCount(), kMaxFrames));
    init(path, s, file_.clock());
}

std::string FitsFrameSource::formatName() const {
    switch (file_.layout()) {
    case FitsLayout::Cube:
        return "FITS cube";
    case FitsLayout::ImagePerHdu:
        return "FITS, one image per HDU";
    case FitsLayout::Sequence:
        return "FITS sequence";
    }
    return "FITS";
}

} // namespace corvane
