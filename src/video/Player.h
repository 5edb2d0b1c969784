#pragma once
// The video player: opens an AVI, moves between its frames and draws the frame
// at which it stands into the panel surface. The operations keep the names and
// meanings the rest of the program was written against (positions in frames or
// milliseconds, a step size, auto-rewind at the end).
#include "video/PanelSurface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane {

enum class TimeFormat { Milliseconds = 0, Frames = 3 };

class VideoDecoder;

class Player {
public:
    explicit Player(PanelSurface& panel);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Closes the open video, if any, then opens `path`. Throws Error with a
    // message that says what is wrong (missing, not a video, unsupported
    // codec, ...); the earlier video is closed all the same. Shows nothing
    // until the first seek, as the original device did.
    void OpenVideo(const std::string& path);
    void Close();
    bool VideoOpen() const;
    // The open file has a picture (a video stream that decodes).
    bool HasVideo() const;
    const std::string& FileName() const { return fileName_; }

    void SetStepSize(int32_t n) { stepSize_ = n; }
    int32_t StepSize() const { return stepSize_; }
    // No effect with no video open.
    void SetTimeFormat(TimeFormat f);
    TimeFormat GetTimeFormat() const { return timeFormat_; }

    // Position in the current time format: the frame number, or the time of
    // the current frame in ms. 0 with no video open.
    int32_t CurrentPosition() const;
    // Time of the current frame in ms (from the stream's own time base,
    // rounded to the nearest ms); leaves the time format as it was.
    int32_t CurrentTimeMs();
    // Length in the current time format (frames, or ms). Throws "No MCI device open".
    int32_t VideoLength() const;

    // The operations below throw "No MCI device open" with no video open.
    void SeekTo(int32_t position);
    void SeekToStart();
    // At the end position first goes back to the start; then moves forward by
    // the step size. Does nothing for a file without a picture.
    void StepForward();
    void StepBack();
    // StepForward then StepBack: the current frame drawn afresh, without marks.
    void RedrawFrame();
    // Repaints the transport buttons; the window installs the hook.
    void RepaintPlayer();
    std::function<void()> onRepaintPlayer;

    // Frames per second of the open video (0 with none).
    double FrameRate() const;
    // Frame number on screen, whatever the time format.
    int32_t CurrentFrame() const { return frame_; }
    // Whether the last move decoded its frame; a frame that fails to decode
    // leaves the panel black and this false, and the player still moves.
    bool LastFrameDecoded() const { return lastDecoded_; }

private:
    void requireOpen() const;
    void show(int32_t frame);

    PanelSurface& panel_;
    std::unique_ptr<VideoDecoder> decoder_;
    std::string fileName_;
    int32_t stepSize_ = 1;
    TimeFormat timeFormat_ = TimeFormat::Frames;
    int32_t frame_ = 0;
    bool lastDecoded_ = false;
};

} // namespace corvane
