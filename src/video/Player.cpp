#include "video/Player.h"

#include "common/Error.h"

#include <algorithm>
#include <utility>

namespace corvane {

Player::Player(PanelSurface& panel) : panel_(&panel) {}

Player::Player() = default;

void Player::SetPanel(PanelSurface* panel) {
    panel_ = panel;
    if (panel_)
        panel_->setFrameSize(FrameWidth(), FrameHeight());
    for (ShownFrame& s : shown_)
        s.frame = -1;
}

Player::~Player() = default;

void Player::OpenVideo(const std::string& path) {
    Close();
    fileName_ = path;
    source_ = openFrameSource(path);
    if (panel_)
        panel_->setFrameSize(FrameWidth(), FrameHeight());
    // A newly opened device counts in frames until told otherwise.
    timeFormat_ = TimeFormat::Frames;
    frame_ = 0;
    lastDecoded_ = false;
    stepSize_ = lengthFrames() / 10;
}

void Player::Close() {
    if (source_) {
        source_.reset();
        if (panel_) {
            panel_->clear();
            panel_->setFrameSize(0, 0);
        }
    }
    fileName_.clear();
    frame_ = 0;
    lastDecoded_ = false;
    colourStretch_.reset();
    stretched_.clear();
    for (ShownFrame& s : shown_) {
        s.frame = -1;
        s.decoded = false;
        s.partial = false;
        s.image = Frame{};
    }
}

bool Player::VideoOpen() const {
    return source_ != nullptr;
}

bool Player::HasVideo() const {
    return source_ && source_->hasVideo();
}

void Player::SetTimeFormat(TimeFormat f) {
    if (VideoOpen())
        timeFormat_ = f;
}

int32_t Player::lengthFrames() const {
    return source_ ? source_->frameCount() : 0;
}

int64_t Player::msOf(int64_t frame) const {
    return source_ ? source_->frameTimeMs(static_cast<int32_t>(frame)) : 0;
}

int32_t Player::CurrentPosition() const {
    if (!VideoOpen())
        return 0;
    // The opening refuses videos whose length in ms does not fit 32 bits.
    return timeFormat_ == TimeFormat::Milliseconds ? static_cast<int32_t>(msOf(frame_)) : frame_;
}

int32_t Player::CurrentTimeMs() {
    return VideoOpen() ? static_cast<int32_t>(msOf(frame_)) : 0;
}

int64_t Player::CurrentTimeUs() const {
    return VideoOpen() && source_ ? source_->measuredTimeUs(frame_) : 0;
}

int32_t Player::VideoLength() const {
    requireOpen();
    const int32_t n = lengthFrames();
    return timeFormat_ == TimeFormat::Milliseconds ? static_cast<int32_t>(msOf(n)) : n;
}

void Player::requireOpen() const {
    if (!VideoOpen())
        throw Error(kNoDeviceOpen);
}

void Player::SeekTo(int32_t position) {
    requireOpen();
    const int32_t n = lengthFrames();
    if (position < 0)
        return;
    if (timeFormat_ == TimeFormat::Frames) {
        if (position > n)
            return;
        show(position);
        return;
    }
    if (position > msOf(n))
        return;
    // The last frame whose time (as CurrentPosition reports it) is not after
    // the position, so SeekTo(CurrentPosition()) stays on the frame. Frame
    // times never decrease, so a binary search finds it.
    int32_t lo = 0, hi = n; // msOf(lo) <= position holds: msOf(0) is 0
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo + 1) / 2;
        if (msOf(mid) <= position)
            lo = mid;
        else
            hi = mid - 1;
    }
    show(lo);
}

void Player::SeekToStart() {
    requireOpen();
    show(0);
}

int32_t Player::nextPosition() {
    const int32_t n = lengthFrames();
    if (frame_ == n)
        SeekToStart();
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{frame_} + stepSize_, 0, n));
}

void Player::StepForward() {
    requireOpen();
    if (!HasVideo())
        return;
    show(nextPosition());
}

void Player::StepForwardInBand(const PixelRect& band) {
    requireOpen();
    if (!HasVideo())
        return;
    if (!ReadsBands()) {
        StepForward();
        return;
    }
    showBand(nextPosition(), band);
}

void Player::ShowWholeFrame() {
    requireOpen();
    show(frame_);
}

void Player::ReadWholeFrame(int32_t frame) {
    requireOpen();
    if (!HasVideo() || frame < 0 || frame > lengthFrames())
        return;
    showBand(frame, {0, 0, FrameWidth(), FrameHeight()});
}

void Player::StepBack() {
    requireOpen();
    if (!HasVideo())
        return;
    const int32_t n = lengthFrames();
    show(static_cast<int32_t>(std::clamp<int64_t>(int64_t{frame_} - stepSize_, 0, n)));
}

void Player::RedrawFrame() {
    requireOpen();
    StepForward();
    StepBack();
}

void Player::RepaintPlayer() {
    if (onRepaintPlayer)
        onRepaintPlayer();
}

double Player::FrameRate() const {
    return HasVideo() ? source_->frameRate() : 0.0;
}

SourceStats Player::Stats() const {
    return source_ ? source_->stats() : SourceStats{};
}

// Always the same object, whatever the player does next: a frame that did
// not decode, or no frame at all, leaves it empty.
const IntensityPlane& Player::Intensities() const {
    return shown_[0].image.intensity;
}

int Player::FrameWidth() const {
    return HasVideo() ? source_->width() : 0;
}

int Player::FrameHeight() const {
    return HasVideo() ? source_->height() : 0;
}

namespace {

// An 8-bit frame's own values: black at 0, white at 255.
constexpr StretchPoints kOwnValues{0, 255};

// `from` with each colour channel (or grey level) spread so that `points`
// become 0 and 255.
void stretchColours(const DisplayImage& from, StretchPoints points, DisplayImage& to) {
    uint8_t table[256];
    const int span = points.white - points.black;
    for (int v = 0; v < 256; ++v)
        table[v] = static_cast<uint8_t>(std::clamp((v - points.black) * 255 / span, 0, 255));
    const int w = from.width(), h = from.height();
    std::vector<Colour>& out = to.resetColour(w, h);
    std::vector<Colour> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        from.copyRow(0, y, w, row.data());
        Colour* o = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (int x = 0; x < w; ++x) {
            const Colour c = row[static_cast<std::size_t>(x)];
            o[x] = Colour{table[c & 0xff]} | Colour{table[(c >> 8) & 0xff]} << 8 |
                   Colour{table[(c >> 16) & 0xff]} << 16;
        }
    }
}

} // namespace

std::optional<StretchPoints> Player::DisplayStretch() const {
    if (!HasVideo())
        return std::nullopt;
    if (const std::optional<StretchPoints> deep = source_->displayStretch())
        return deep;
    return colourStretch_.value_or(kOwnValues);
}

void Player::SetDisplayStretch(StretchPoints points) {
    if (!HasVideo())
        return;
    points.white = std::max(points.white, points.black + 1);
    if (source_->displayStretch()) {
        source_->setDisplayStretch(points);
        for (ShownFrame& s : shown_)
            if (s.decoded && !s.partial)
                stretchToDisplay(s.image.intensity, points, 0, 0, s.image.intensity.width(),
                                 s.image.intensity.height(), s.image.display);
    } else {
        points.black = std::clamp(points.black, 0, 254);
        points.white = std::clamp(points.white, points.black + 1, 255);
        if (points == kOwnValues)
            colourStretch_.reset();
        else
            colourStretch_ = points;
    }
    if (shown_[0].frame >= 0 && !shown_[0].partial &&
        shown_[0].frame == std::min(frame_, lengthFrames() - 1))
        draw(shown_[0]);
}

void Player::draw(const ShownFrame& f) {
    lastDecoded_ = f.decoded;
    if (!panel_)
        return;
    if (f.decoded && colourStretch_) {
        stretchColours(f.image.display, *colourStretch_, stretched_);
        panel_->showFrame(&stretched_);
        return;
    }
    panel_->showFrame(f.decoded ? &f.image.display : nullptr);
}

void Player::show(int32_t position) {
    frame_ = position;
    if (!HasVideo())
        return; // nothing to draw: the panel keeps showing no frame
    // The end position shows the last frame.
    const int32_t frame = std::min(position, lengthFrames() - 1);
    if (frame < 0) { // a video of length 0
        if (panel_)
            panel_->clear();
        lastDecoded_ = false;
        return;
    }
    if (shown_[0].frame == frame && !shown_[0].partial) {
        draw(shown_[0]);
        return;
    }
    if (shown_[1].frame != frame || shown_[1].partial) {
        // Decode into the older slot, reusing its buffer; with nothing to
        // show it on, only the intensities are read.
        shown_[1].decoded =
            panel_ ? source_->read(frame, shown_[1].image)
                   : source_->readBand(frame, {0, 0, FrameWidth(), FrameHeight()}, shown_[1].image);
        // A frame that did not decode shows black and measures as no light.
        if (!shown_[1].decoded)
            shown_[1].image.clear();
        shown_[1].frame = frame;
        shown_[1].partial = false;
    }
    std::swap(shown_[0], shown_[1]);
    draw(shown_[0]);
}

// The band goes into the older slot as a whole frame would; its picture is
// not read, so the panel is left as it is.
void Player::showBand(int32_t position, const PixelRect& band) {
    frame_ = position;
    const int32_t frame = std::min(position, lengthFrames() - 1);
    if (frame < 0) {
        show(position);
        return;
    }
    if (shown_[0].frame == frame && !shown_[0].partial) {
        lastDecoded_ = shown_[0].decoded;
        return;
    }
    ShownFrame& s = shown_[0].frame == frame ? shown_[0] : shown_[1];
    s.decoded = source_->readBand(frame, band, s.image);
    if (!s.decoded)
        s.image.clear();
    s.frame = frame;
    s.partial = true;
    if (&s != &shown_[0])
        std::swap(shown_[0], shown_[1]);
    lastDecoded_ = shown_[0].decoded;
}

} // namespace corvane
