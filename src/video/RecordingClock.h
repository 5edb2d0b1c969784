#pragma once
// When each frame of a SER or FITS recording was taken: from the file's own
// time stamps where it has usable ones, else from a frame rate the user gives.
// Without either the recording has no frame times at all, and every question
// about them is refused with a message asking for the frame rate, so that no
// drift is ever timed by frame number behind the user's back.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class RecordingClock {
public:
    // Frame rates a user may give; the slowest keeps 2^31 frames' times
    // within 64-bit ticks.
    static constexpr double kMinFps = 0.01;
    static constexpr double kMaxFps = 1e6;

    // `recording` names the kind of file in messages ("SER file"); `path` is
    // the file they name.
    RecordingClock(std::string recording, std::string path);

    void setFrameCount(int64_t frames) { frames_ = frames; }
    // UTC ticks of every frame, in order (empty: the file has none usable).
    void setStamps(std::vector<int64_t> stamps) { stamps_ = std::move(stamps); }
    const std::vector<int64_t>& stamps() const { return stamps_; }
    // The recording's start in UTC ticks, as the file records it.
    void setStart(std::optional<int64_t> start) { start_ = start; }

    bool hasTimeStamps() const { return !stamps_.empty(); }
    std::optional<int64_t> startUtc() const { return start_; }
    // Frame n is n / fps after frame 0 where there are no usable time
    // stamps. Throws Error unless fps is within kMinFps .. kMaxFps.
    void setFrameRate(double fps);
    // The rate given (0: none).
    double frameRate() const { return fps_; }
    // Whether frameOffset can answer: time stamps, or a frame rate given.
    bool hasFrameTimes() const { return hasTimeStamps() || fps_ > 0; }
    // Ticks of frame n after frame 0. Throws Error for a frame outside the
    // recording, and when there are neither time stamps nor a frame rate.
    int64_t frameOffset(int64_t n) const;
    // UTC ticks of frame n; nothing when the start is unknown.
    std::optional<int64_t> frameUtc(int64_t n) const;
    // The message frameOffset gives without frame times.
    std::string missingTimesText() const;
    // Why the file has no time for each frame, said in that message (a file
    // cut short loses its time stamps with its last frames).
    void setMissingTimesReason(std::string reason) { missingReason_ = std::move(reason); }

private:
    std::string recording_;
    std::string path_;
    int64_t frames_ = 0;
    std::vector<int64_t> stamps_;
    std::optional<int64_t> start_;
    double fps_ = 0;
    std::string missingReason_;
};

} // namespace corvane
