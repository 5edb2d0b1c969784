#pragma once
// What the main window does for a user who opens a video, picks the range,
// clicks the pair, presses "GO!" and reads the results, without the window:
// the same core calls in the same order, on a panel in memory. Each method
// names the window's handler it stands for.
#include "measure/Runs.h"
#include "measure/WorkingState.h"
#include "reduce/Epoch.h"
#include "reduce/Reduction.h"
#include "video/PanelSurface.h"
#include "video/Player.h"

#include <cstdint>
#include <functional>
#include <string>

namespace corvane::tool {

// Numbers are shown and read with '.' whatever the locale.
inline constexpr char kDecimalSeparator = '.';

class HeadlessWindow {
public:
    HeadlessWindow();

    // "File" > "Open AVI": OpenVideo, step size 1, frame time format, the
    // observation date from the recording's start (for an AVI the file's
    // modification time, UT, to the 2 seconds of a file date), the range
    // 0 .. VideoLength, SeekTo(0),
    // cleardata. Then the reset that the window's timer runs half a second
    // later, with the start frame the open has just set (0).
    void openVideo(const std::string& path);

    int32_t videoLength() const { return player_.VideoLength(); }
    int frameWidth() const { return player_.FrameWidth(); }
    int frameHeight() const { return player_.FrameHeight(); }
    const CivilDateTime& observation() const { return observation_; }
    // The date picker set by hand (UT).
    void setObservation(const CivilDateTime& t) { observation_ = t; }

    // "Start Frame" and "End Frame" pressed with the player on frame n.
    void setStartFrame(int32_t n) { startFrame_ = n; }
    void setStopFrame(int32_t n) { stopFrame_ = n; }
    int32_t startFrame() const { return startFrame_; }
    int32_t stopFrame() const { return stopFrame_; }

    // The track bar moved to frame n.
    void goToFrame(int32_t n);

    // Panel1MouseUp with "Primary" selected: place and settle the primary box.
    void clickPrimary(int32_t x, int32_t y, int32_t boxSize);
    // Panel1MouseUp with "Secondary" selected: the reset (back to the start
    // frame, the table emptied), then the secondary box, the system box and
    // the expected offset.
    void clickSecondary(int32_t x, int32_t y, int32_t boxSize);

    // "GO!": RedrawFrame, then the run up to the stop frame with `method`.
    RunResult go(Method method, const std::function<void(int32_t frame)>& afterFrame);

    // What the window does after a run with more than 15 valid rows, and
    // "Calculate": the reduction with the Dec boxes and the orientation.
    ReductionResult calculate(Orientation orientation, const std::string& decDegrees,
                              const std::string& decMinutes, const std::string& decSeconds) const;

    // `epoch` of the observation date: Edit17 and Edit18.
    EpochResult epochTexts() const;

    const FrameTable& table() const { return state_.FrameData; }

    // Steps the player from frame `from` up to `to` without measuring: the
    // work of the video source alone. Returns the number of frames stepped.
    int32_t decodePass(int32_t from, int32_t to);

private:
    // Timer1Timer / "Reset": back to the start frame with an empty table.
    void reset();

    PanelSurface panel_;
    Player player_{panel_};
    WorkingState state_;
    CivilDateTime observation_; // design-time 1 January 2006, 12:00
    int32_t startFrame_ = 0;
    int32_t stopFrame_ = 0;
};

} // namespace corvane::tool
