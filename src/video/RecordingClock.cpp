#include "video/RecordingClock.h"

#include "common/Error.h"
#include "video/UtcTime.h"

#include <cmath>

namespace corvane {

RecordingClock::RecordingClock(std::string recording, std::string path)
    : recording_(std::move(recording)), path_(std::move(path)) {}

void RecordingClock::setFrameRate(double fps) {
    if (!(fps >= kMinFps && fps <= kMaxFps))
        throw Error("The frame rate must be from 0.01 to 1000000 frames per second");
    fps_ = fps;
}

std::string RecordingClock::missingTimesText() const {
    const std::string why = missingReason_.empty() ? "" : " (" + missingReason_ + ")";
    return "The " + recording_ + " has no time for each frame" + why +
           "; give the frame rate: " + path_;
}

int64_t RecordingClock::frameOffset(int64_t n) const {
    if (n < 0 || n >= frames_)
        throw Error("Frame " + std::to_string(n) + " is not in the " + recording_ + " (" +
                    std::to_string(frames_) + " frames): " + path_);
    if (!stamps_.empty())
        return stamps_[static_cast<std::size_t>(n)] - stamps_.front();
    if (fps_ > 0)
        return static_cast<int64_t>(
            std::nearbyint(static_cast<double>(n) * kTicksPerSecond / fps_));
    throw Error(missingTimesText());
}

std::optional<int64_t> RecordingClock::frameUtc(int64_t n) const {
    if (!start_)
        return std::nullopt;
    return *start_ + frameOffset(n);
}

} // namespace corvane
