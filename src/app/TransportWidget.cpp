#include "app/TransportWidget.h"

#include "video/Player.h"

#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {
constexpr int kButtonCount = 6;
constexpr double kFallbackFrameRate = 25.0; // a file that reports no rate
} // namespace

TransportWidget::TransportWidget(Player& player, QWidget* parent)
    : QWidget(parent), player_(player) {
    btPlay_ = addButton("btPlay", 0, QStyle::SP_MediaPlay, &TransportWidget::play);
    btPause_ = addButton("btPause", 1, QStyle::SP_MediaPause, &TransportWidget::pause);
    btStop_ = addButton("btStop", 2, QStyle::SP_MediaStop, &TransportWidget::stop);
    btPrev_ = addButton("btPrev", 3, QStyle::SP_MediaSkipBackward, &TransportWidget::prev);
    btStep_ = addButton("btStep", 4, QStyle::SP_MediaSeekForward, &TransportWidget::step);
    btBack_ = addButton("btBack", 5, QStyle::SP_MediaSeekBackward, &TransportWidget::back);
    playTimer_.setTimerType(Qt::PreciseTimer);
    connect(&playTimer_, &QTimer::timeout, this, [this] { run(&TransportWidget::playTick); });
    setMode(Mode::NotOpen);
}

QToolButton* TransportWidget::addButton(const char* name, int index, int style,
                                        void (TransportWidget::*slot)()) {
    auto* b = new QToolButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(this->style()->standardIcon(static_cast<QStyle::StandardPixmap>(style)));
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRaise(false);
    // Six equal buttons across the control, like the original button row.
    const int w = 169 / kButtonCount;
    b->setGeometry(index * w, 0, w, 30);
    connect(b, &QToolButton::clicked, this, [this, slot] { run(slot); });
    return b;
}

void TransportWidget::run(void (TransportWidget::*action)()) {
    if (guard)
        guard([this, action] { (this->*action)(); });
    else
        (this->*action)();
}

void TransportWidget::videoChanged() {
    playTimer_.stop();
    setMode(player_.VideoOpen() ? Mode::Stopped : Mode::NotOpen);
}

void TransportWidget::stopPlaying() {
    if (mode_ == Mode::Playing || mode_ == Mode::Paused) {
        playTimer_.stop();
        setMode(Mode::Stopped);
    }
}

void TransportWidget::setMode(Mode m) {
    mode_ = m;
    const bool open = m != Mode::NotOpen;
    btPlay_->setEnabled(open && m != Mode::Playing);
    btPause_->setEnabled(m == Mode::Playing || m == Mode::Paused);
    btStop_->setEnabled(m == Mode::Playing || m == Mode::Paused);
    btPrev_->setEnabled(open);
    btStep_->setEnabled(open);
    btBack_->setEnabled(open);
}

// Play from the current frame at the video's own frame rate.
void TransportWidget::play() {
    if (!player_.VideoOpen() || !player_.HasVideo())
        return;
    double fps = player_.FrameRate();
    if (!(fps > 0.0) || !std::isfinite(fps))
        fps = kFallbackFrameRate;
    playTimer_.start(std::max(1, static_cast<int>(std::lround(1000.0 / fps))));
    setMode(Mode::Playing);
}

// Pause while playing; resume when paused.
void TransportWidget::pause() {
    if (mode_ == Mode::Playing) {
        playTimer_.stop();
        setMode(Mode::Paused);
    } else if (mode_ == Mode::Paused) {
        play();
    }
}

void TransportWidget::stop() {
    stopPlaying();
}

void TransportWidget::prev() {
    player_.SeekToStart();
    emit frameShown();
}

void TransportWidget::step() {
    player_.StepForward();
    emit frameShown();
}

void TransportWidget::back() {
    player_.StepBack();
    emit frameShown();
}

// Playing ends on the last frame; it never wraps around to the start. An
// error stops playing, so it is reported once and not on every tick.
void TransportWidget::playTick() {
    try {
        if (!player_.VideoOpen()) {
            videoChanged();
            return;
        }
        const int32_t before = player_.CurrentFrame();
        if (before >= player_.VideoLength()) {
            stopPlaying();
            return;
        }
        const int32_t savedStep = player_.StepSize();
        player_.SetStepSize(1);
        player_.StepForward();
        player_.SetStepSize(savedStep);
        emit frameShown();
        if (player_.CurrentFrame() == before)
            stopPlaying();
    } catch (...) {
        stopPlaying();
        throw;
    }
}

} // namespace corvane
