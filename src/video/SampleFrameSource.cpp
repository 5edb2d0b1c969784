#include "video/SampleFrameSource.h"

#include "common/Error.h"
#include "video/Demosaic.h"
#include "video/Intensities.h"
#include "video/UtcTime.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace corvane {

namespace {

constexpr int64_t kTicksPerMs = 1000 * kTicksPerMicrosecond;

// a / b rounded to the nearest, ties to even; b > 0.
int64_t roundedDiv(int64_t a, int64_t b) {
    int64_t q = a / b, r = a % b;
    if (r < 0) {
        --q;
        r += b;
    }
    if (2 * r > b || (2 * r == b && (q & 1) != 0))
        ++q;
    return q;
}

bool isBayer(ColourLayout l) {
    return l == ColourLayout::BayerRGGB || l == ColourLayout::BayerGRBG ||
           l == ColourLayout::BayerGBRG || l == ColourLayout::BayerBGGR;
}

BayerPattern patternOf(ColourLayout l) {
    switch (l) {
    case ColourLayout::BayerGRBG:
        return BayerPattern::GRBG;
    case ColourLayout::BayerGBRG:
        return BayerPattern::GBRG;
    case ColourLayout::BayerBGGR:
        return BayerPattern::BGGR;
    default:
        return BayerPattern::RGGB;
    }
}

} // namespace

void SampleFrameSource::init(const std::string& path, const Shape& shape, RecordingClock& clock) {
    path_ = path;
    shape_ = shape;
    clock_ = &clock;
    const bool grey = shape.layout == ColourLayout::Mono;
    white_ =
        grey ? greyWhiteLevel(shape.sampleWhite, shape.bits) : colourWhiteLevel(shape.sampleWhite);
    const std::vector<int64_t>& stamps = clock.stamps();
    if (stamps.size() > 1) {
        std::vector<int64_t> gaps(stamps.size() - 1);
        for (std::size_t i = 1; i < stamps.size(); ++i)
            gaps[i - 1] = stamps[i] - stamps[i - 1];
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2),
                         gaps.end());
        medianTicks_ = gaps[gaps.size() / 2];
    }
    // Positions in ms are 32-bit: a recording must end within 2^31 ms.
    if (clock.hasTimeStamps() && ticksOf(shape.frames) / kTicksPerMs > INT32_MAX)
        throw Error("The time stamps span more than 24 days, more than a video can: " + path);
}

int64_t SampleFrameSource::ticksOf(int32_t n) const {
    if (n == shape_.frames && n > 0) {
        if (!clock_->hasFrameTimes())
            throw Error(clock_->missingTimesText());
        if (clock_->hasTimeStamps())
            return clock_->frameOffset(n - 1) + medianTicks_;
        return static_cast<int64_t>(
            std::nearbyint(static_cast<double>(n) * kTicksPerSecond / clock_->frameRate()));
    }
    return clock_->frameOffset(n);
}

int64_t SampleFrameSource::frameTimeUs(int32_t n) const {
    return roundedDiv(ticksOf(n), kTicksPerMicrosecond);
}

int32_t SampleFrameSource::frameTimeMs(int32_t n) const {
    return static_cast<int32_t>(roundedDiv(ticksOf(n), kTicksPerMs));
}

TimeSource SampleFrameSource::timeSource() const {
    return clock_->hasTimeStamps() ? TimeSource::FileTimeStamps : TimeSource::FrameRate;
}

void SampleFrameSource::setFrameRate(double fps) {
    if (clock_->hasTimeStamps())
        throw Error("The frames of this " + formatName() +
                    " are timed by the file's time stamps; a frame rate is not needed: " + path_);
    if (static_cast<double>(shape_.frames) / fps * 1000.0 > INT32_MAX)
        throw Error("At " + std::to_string(fps) +
                    " frames per second the recording would last more than 24 days: " + path_);
    clock_->setFrameRate(fps);
}

double SampleFrameSource::frameRate() const {
    if (clock_->hasTimeStamps())
        return medianTicks_ > 0 ? static_cast<double>(kTicksPerSecond) / medianTicks_ : 0;
    return clock_->frameRate();
}

RecordingStart SampleFrameSource::recordingStart() const {
    const std::optional<int64_t> start = clock_->startUtc();
    if (!start)
        return modificationTimeStart(path_);
    RecordingStart r;
    r.unixMicros = roundedDiv(*start - ticksFromCivil(1970, 1, 1, 0, 0, 0), kTicksPerMicrosecond);
    r.fromFile = true;
    return r;
}

std::optional<StretchPoints> SampleFrameSource::displayStretch() const {
    if (shape_.bits == 8)
        return std::nullopt;
    return stretch_;
}

// Intensities of rows yFrom .. yTo - 1 from the colour samples in samples_,
// whose first row is frame row yFirstRead (a Bayer band is read with a row
// more above and below, which its demosaicing needs); `show`: the colours of
// 8-bit samples go to the display as well.
void SampleFrameSource::intensitiesOfColour(int yFrom, int yTo, int yFirstRead, bool show,
                                            Frame& out) {
    const int w = shape_.width;
    const std::size_t uw = static_cast<std::size_t>(w);
    const uint16_t* rgb = samples_.data();
    if (isBayer(shape_.layout)) {
        const int rowsRead = static_cast<int>(samples_.size() / uw);
        rgb_.resize(samples_.size() * 3);
        demosaic(samples_.data(), w, rowsRead,
                 bayerPatternAt(patternOf(shape_.layout), 0, yFirstRead), rgb_.data());
        rgb = rgb_.data();
    }
    const bool bgr = shape_.layout == ColourLayout::Bgr;
    for (int y = yFrom; y < yTo; ++y) {
        const uint16_t* s = rgb + static_cast<std::size_t>(y - yFirstRead) * uw * 3;
        uint16_t* v = out.intensity.row(y);
        for (std::size_t x = 0; x < uw; ++x, s += 3)
            v[x] = intensityOfColour(s[0], s[1], s[2]);
    }
    if (!show || shape_.bits != 8)
        return;
    std::vector<Colour>& colours = out.display.resetColour(w, shape_.height);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const uint16_t* s = rgb + 3 * i;
        const Colour r = bgr ? s[2] : s[0], b = bgr ? s[0] : s[2];
        colours[i] = r | Colour{s[1]} << 8 | b << 16;
    }
}

void SampleFrameSource::showDeep(Frame& out) {
    if (!stretch_)
        stretch_ = stretchPointsOf(out.intensity);
    stretchToDisplay(out.intensity, *stretch_, 0, 0, shape_.width, shape_.height, out.display);
}

void SampleFrameSource::markMissing(int yFirstRead, Frame& out) const {
    const std::vector<uint32_t>* missing = missingSamples();
    if (!missing)
        return;
    const std::size_t channels = static_cast<std::size_t>(shape_.channels);
    const std::size_t perRow = static_cast<std::size_t>(shape_.width) * channels;
    for (const uint32_t i : *missing)
        out.intensity.markMissing(static_cast<int>(i % perRow / channels),
                                  yFirstRead + static_cast<int>(i / perRow));
}

bool SampleFrameSource::read(int32_t n, Frame& out) {
    if (n < 0 || n >= shape_.frames)
        return false;
    const int w = shape_.width, h = shape_.height;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    out.intensity.reset(w, h, shape_.bits, white_);
    try {
        if (shape_.layout == ColourLayout::Mono) {
            uint16_t* v = out.intensity.row(0);
            readSamples(n, 0, h, v);
            markMissing(0, out);
            if (shape_.bits == 8) {
                std::vector<uint8_t>& grey = out.display.resetGrey(w, h);
                for (std::size_t i = 0; i < count; ++i) {
                    grey[i] = static_cast<uint8_t>(v[i]);
                    v[i] = intensityOfGrey8(v[i]);
                }
            }
        } else {
            samples_.resize(count * static_cast<std::size_t>(shape_.channels));
            readSamples(n, 0, h, samples_.data());
            markMissing(0, out);
            intensitiesOfColour(0, h, 0, true, out);
        }
    } catch (const Error&) {
        return false;
    }
    if (shape_.bits != 8)
        showDeep(out);
    ++stats_.framesDecoded;
    ++stats_.framesConverted;
    return true;
}

// Whole rows: the file stores them together.
bool SampleFrameSource::readBand(int32_t n, const PixelRect& band, Frame& out) {
    if (n < 0 || n >= shape_.frames)
        return false;
    const int w = shape_.width, h = shape_.height;
    const int top = std::clamp(band.top, 0, h);
    const int bottom = std::clamp(band.bottom, top, h);
    out.intensity.reset(w, h, shape_.bits, white_);
    const std::size_t uw = static_cast<std::size_t>(w);
    try {
        if (shape_.layout == ColourLayout::Mono) {
            uint16_t* v = out.intensity.row(top);
            readSamples(n, top, bottom - top, v);
            markMissing(top, out);
            if (shape_.bits == 8) {
                const std::size_t count = static_cast<std::size_t>(bottom - top) * uw;
                for (std::size_t i = 0; i < count; ++i)
                    v[i] = intensityOfGrey8(v[i]);
            }
        } else {
            const bool bayer = isBayer(shape_.layout);
            const int first = bayer ? std::max(top - 1, 0) : top;
            const int last = bayer ? std::min(bottom + 1, h) : bottom;
            samples_.resize(static_cast<std::size_t>(last - first) * uw *
                            static_cast<std::size_t>(shape_.channels));
            readSamples(n, first, last - first, samples_.data());
            markMissing(first, out);
            intensitiesOfColour(top, bottom, first, false, out);
        }
    } catch (const Error&) {
        return false;
    }
    out.intensity.holdRows(top, bottom);
    ++stats_.framesDecoded;
    return true;
}

} // namespace corvane
