#include "HeadlessWindow.h"

#include "common/Error.h"
#include "measure/Reset.h"
#include "measure/Selection.h"

#include <ctime>

namespace corvane::tool {

namespace {

// The recording's start as a date in UT (a file date's whole seconds).
CivilDateTime civilOf(const RecordingStart& start, const std::string& path) {
    const int64_t micros = start.unixMicros;
    std::time_t secs = static_cast<std::time_t>(micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0));
    std::tm ut{};
    if (!::gmtime_r(&secs, &ut))
        throw Error("The file's modification time cannot be read: " + path);
    CivilDateTime t;
    t.year = ut.tm_year + 1900;
    t.month = ut.tm_mon + 1;
    t.day = ut.tm_mday;
    t.hour = ut.tm_hour;
    t.minute = ut.tm_min;
    t.second = ut.tm_sec;
    return t;
}

} // namespace

HeadlessWindow::HeadlessWindow() = default;

void HeadlessWindow::openVideo(const std::string& path) {
    player_.OpenVideo(path);
    player_.SetStepSize(1);
    player_.SetTimeFormat(TimeFormat::Frames);
    observation_ = civilOf(player_.Source()->recordingStart(), path);
    startFrame_ = 0;
    stopFrame_ = player_.VideoLength();
    player_.SeekTo(0);
    cleardata(state_, player_);
    // Timer1 fires once after the open.
    reset();
}

void HeadlessWindow::reset() {
    resetvideo(state_, player_, startFrame_);
}

void HeadlessWindow::goToFrame(int32_t n) {
    player_.SeekTo(n);
}

void HeadlessWindow::clickPrimary(int32_t x, int32_t y, int32_t boxSize) {
    selectprimary(state_, player_.Intensities(), panel_, x, y, boxSize);
}

void HeadlessWindow::clickSecondary(int32_t x, int32_t y, int32_t boxSize) {
    reset();
    selectsecondary(state_, panel_, player_, x, y, boxSize);
}

RunResult HeadlessWindow::go(Method method, const std::function<void(int32_t frame)>& afterFrame) {
    player_.RedrawFrame();
    RunHooks hooks;
    hooks.stopFrame = [this] { return stopFrame_; };
    hooks.afterFrame = afterFrame;
    return runFrames(state_, player_, method, hooks);
}

ReductionResult HeadlessWindow::calculate(Orientation orientation, const std::string& decDegrees,
                                          const std::string& decMinutes,
                                          const std::string& decSeconds) const {
    return reduce(state_.FrameData, orientation, decDegrees, decMinutes, decSeconds,
                  kDecimalSeparator);
}

EpochResult HeadlessWindow::epochTexts() const {
    return epoch(observation_, kDecimalSeparator);
}

int32_t HeadlessWindow::decodePass(int32_t from, int32_t to) {
    player_.SetTimeFormat(TimeFormat::Frames);
    player_.SeekTo(from);
    int32_t frames = 0;
    while (player_.CurrentPosition() < to) {
        const int32_t before = player_.CurrentPosition();
        player_.StepForward();
        if (player_.CurrentPosition() <= before)
            break;
        ++frames;
    }
    return frames;
}

} // namespace corvane::tool
