#include "video/FitsFrameSource.h"

#include <algorithm>

namespace corvane {

FitsFrameSource::FitsFrameSource(const std::string& path) : file_(path) {
    Shape s;
    s.width = file_.width();
    s.height = file_.height();
    s.bits = file_.bitsPerSample();
    s.sampleWhite = s.bits == 8 ? 255 : 65535;
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
