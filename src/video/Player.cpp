#include "video/Player.h"

#include "common/Error.h"

#include <algorithm>
#include <utility>

namespace corvane {

Player::Player(PanelSurface& panel) : panel_(panel) {}

Player::~Player() = default;

void Player::OpenVideo(const std::string& path) {
    Close();
    fileName_ = path;
    decoder_ = std::make_unique<VideoDecoder>(path);
    // A newly opened device counts in frames until told otherwise.
    timeFormat_ = TimeFormat::Frames;
    frame_ = 0;
    lastDecoded_ = false;
    stepSize_ = lengthFrames() / 10;
}

void Player::Close() {
    if (decoder_) {
        decoder_.reset();
        panel_.clear();
        panel_.touch();
    }
    fileName_.clear();
    frame_ = 0;
    lastDecoded_ = false;
    for (ShownFrame& s : shown_) {
        s.frame = -1;
        s.decoded = false;
        s.picture = Picture{};
    }
}

bool Player::VideoOpen() const {
    return decoder_ != nullptr;
}

bool Player::HasVideo() const {
    return decoder_ && decoder_->hasVideo();
}

void Player::SetTimeFormat(TimeFormat f) {
    if (VideoOpen())
        timeFormat_ = f;
}

int32_t Player::lengthFrames() const {
    return decoder_ ? decoder_->frameCount() : 0;
}

int64_t Player::msOf(int64_t frame) const {
    return decoder_ ? frameTimeMs(frame, decoder_->timeBaseNum(), decoder_->timeBaseDen()) : 0;
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
    // the position, so SeekTo(CurrentPosition()) stays on the frame.
    const int64_t num = decoder_->timeBaseNum();
    const int64_t den = decoder_->timeBaseDen();
    int64_t f = static_cast<int64_t>((static_cast<__int128>(position) * den) / (num * 1000));
    f = std::clamp<int64_t>(f, 0, n);
    while (f < n && msOf(f + 1) <= position)
        ++f;
    while (f > 0 && msOf(f) > position)
        --f;
    show(static_cast<int32_t>(f));
}

void Player::SeekToStart() {
    requireOpen();
    show(0);
}

void Player::StepForward() {
    requireOpen();
    if (!HasVideo())
        return;
    const int32_t n = lengthFrames();
    if (frame_ == n)
        SeekToStart();
    show(static_cast<int32_t>(std::clamp<int64_t>(int64_t{frame_} + stepSize_, 0, n)));
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
    return HasVideo() ? decoder_->frameRate() : 0.0;
}

DecoderStats Player::Stats() const {
    return decoder_ ? decoder_->stats() : DecoderStats{};
}

void Player::draw(const ShownFrame& f) {
    // The panel still holds exactly this frame, untouched since it was drawn
    // (no outline or mark over it): drawing it again would change nothing.
    if (&f == &shown_[0] && drawnFrame_ == f.frame && panel_.generation() == drawnGeneration_) {
        lastDecoded_ = f.decoded;
        return;
    }
    if (f.decoded) {
        const Picture& p = f.picture;
        panel_.drawFrame(p.pixels.data(), p.width, p.height, p.width);
    } else {
        panel_.clear();
        panel_.touch();
    }
    lastDecoded_ = f.decoded;
    drawnFrame_ = f.frame;
    drawnGeneration_ = panel_.generation();
}

void Player::show(int32_t position) {
    frame_ = position;
    if (!HasVideo())
        return; // nothing to draw: the panel keeps showing no frame
    // The end position shows the last frame.
    const int32_t frame = std::min(position, lengthFrames() - 1);
    if (frame < 0) { // a video of length 0
        panel_.clear();
        panel_.touch();
        lastDecoded_ = false;
        return;
    }
    if (shown_[0].frame == frame) {
        draw(shown_[0]);
        return;
    }
    if (shown_[1].frame != frame) {
        // Decode into the older slot, reusing its buffer.
        shown_[1].decoded = decoder_->decode(frame, shown_[1].picture);
        shown_[1].frame = frame;
    }
    std::swap(shown_[0], shown_[1]);
    draw(shown_[0]);
}

} // namespace corvane
