#pragma once
// The video player: opens a video, moves between its frames and holds the
// frame image at which it stands: its intensities for measuring, and its
// colours, which it shows on the panel surface. The operations keep the names and
// meanings the rest of the program was written against (positions in frames or
// milliseconds, a step size, auto-rewind at the end).
//
// Positions. A video of N frames has the positions 0 .. N: position n < N
// shows frame n, and the end position N (the video's length) shows the last
// frame, N - 1. In millisecond format a position is the time of its frame,
// n * (seconds per frame of the stream) * 1000 rounded to the nearest ms, so
// the end position is the time N * (seconds per frame). A seek outside
// 0 .. N leaves the player where it is. A dropped (zero-length) frame shows
// the frame before it, and keeps its own number. A frame that cannot be
// decoded leaves the panel black and its intensities 0; the player stands on
// it all the same, so a run over frames goes on. A video stream without frames (length 0) shows
// black at its only position, 0.
#include "video/FrameSource.h"
#include "video/PanelSurface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

enum class TimeFormat { Milliseconds = 0, Frames = 3 };

class Player {
public:
    // A player that shows its frames on `panel`, or on nothing (headless).
    // Without a panel a frame is read for its intensities alone: no picture
    // is made or kept.
    explicit Player(PanelSurface& panel);
    Player();
    // Shows the frames on `panel` from now on (nullptr: on nothing); the
    // frame the player stands on is read again with its picture at the next move.
    void SetPanel(PanelSurface* panel);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Closes the open video, if any, then opens `path`. Throws Error with a
    // message that says what is wrong (missing, not a video, unsupported
    // codec, ...); the earlier video is closed all the same. Shows nothing
    // until the first seek, as the original device did. The time format
    // becomes frames (the device's own default) and the step size the length
    // div 10; the position is 0. A file without a picture (only audio) opens
    // with length 0 and never draws.
    void OpenVideo(const std::string& path);
    // Closing a video blanks the panel (black): its picture is gone.
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

    // Position in the current time format: the frame number (0 .. length), or
    // the time of the current frame in ms. 0 with no video open.
    int32_t CurrentPosition() const;
    // Time of the current frame in ms (from the stream's own time base,
    // rounded to the nearest ms); leaves the time format as it was.
    int32_t CurrentTimeMs();
    // The time a measurement of the current frame carries, in microseconds
    // (FrameSource::measuredTimeUs); 0 with no video open.
    int64_t CurrentTimeUs() const;
    // Length in the current time format (frames, or ms). Throws "No MCI device open".
    int32_t VideoLength() const;

    // The operations below throw "No MCI device open" with no video open.
    // A position outside 0 .. length is ignored (the player stays). In ms
    // format the player goes to the last frame whose time is not after it.
    void SeekTo(int32_t position);
    void SeekToStart();
    // At the end position first goes back to the start; then moves forward by
    // the step size (in frames, whatever the time format), stopping at the
    // end position. Does nothing for a file without a picture.
    void StepForward();
    // Back by the step size, stopping at 0. Does nothing without a picture.
    void StepBack();
    // StepForward then StepBack: the current frame drawn afresh, without marks.
    void RedrawFrame();
    // Measuring's step: as StepForward, but where the source can read part of
    // a frame only the part `band` of the new frame's intensities is read
    // (the rest of the plane is not held, see IntensityPlane) and the panel
    // keeps the picture it had; elsewhere exactly StepForward.
    void StepForwardInBand(const PixelRect& band);
    // Whether StepForwardInBand reads only its rows.
    bool ReadsBands() const { return source_ && source_->readsBands(); }
    // The frame the player stands on read whole and shown, after
    // StepForwardInBand; nothing to read where it is whole already.
    void ShowWholeFrame();
    // Stands on `frame` (a frame number, whatever the time format) with its
    // intensities read whole, the same as showing it gives, but no picture
    // decoded: as with StepForwardInBand the panel is not drawn on, and
    // shows its picture until a frame is shown. For checks that measure
    // frames the user is not looking at.
    void ReadWholeFrame(int32_t frame);
    // Repaints the transport buttons; the window installs the hook.
    void RepaintPlayer();
    std::function<void()> onRepaintPlayer;

    // Frames per second of the open video (0 with none).
    double FrameRate() const;
    // Position in frames, whatever the time format (the end position is the
    // length, where the last frame is on screen).
    int32_t CurrentFrame() const { return frame_; }
    // Whether the last move decoded its frame; a frame that fails to decode
    // leaves the panel black and this false, and the player still moves.
    // Also false at a position of a video of length 0.
    bool LastFrameDecoded() const { return lastDecoded_; }
    // Work done by the video source since the video was opened.
    SourceStats Stats() const;

    // The intensities of the frame on screen: what every measurement reads.
    // Empty (every read 0) with no video, or where the frame did not decode.
    const IntensityPlane& Intensities() const;
    // The open video's source (nullptr with none).
    const FrameSource* Source() const { return source_.get(); }
    // The same, to give a recording without time stamps its frame rate or
    // to set the display stretch.
    FrameSource* Source() { return source_.get(); }
    // Frame size of the open video (0 x 0 with none or without a picture).
    int FrameWidth() const;
    int FrameHeight() const;
    // Whether the open video's frames have times (false with none open): a
    // recording without time stamps has none until its frame rate is given.
    bool HasFrameTimes() const { return source_ && source_->hasFrameTimes(); }
    // The black and white points the frames are shown with (nothing with no
    // video). Deep frames take theirs from the frame's percentiles; 8-bit
    // frames show their own values (0 and 255) until the user moves them.
    std::optional<StretchPoints> DisplayStretch() const;
    // New points for the open video: the frame on screen is shown again with
    // them. Only what is shown changes, never the intensities measured.
    void SetDisplayStretch(StretchPoints points);

private:
    // The last two frames shown, converted, so that showing the current
    // frame again (a seek to where the player stands, RedrawFrame's step
    // forward and back) neither seeks nor decodes.
    struct ShownFrame {
        int32_t frame = -1;
        bool decoded = false;
        bool partial = false; // only a band of its intensities read, no picture
        Frame image;
    };

    void requireOpen() const;
    // Where StepForward goes from here (the end position goes back to the start first).
    int32_t nextPosition();
    void show(int32_t frame);
    void showBand(int32_t frame, const PixelRect& band);
    void draw(const ShownFrame& f);
    int32_t lengthFrames() const;
    int64_t msOf(int64_t frame) const;

    PanelSurface* panel_ = nullptr;
    std::unique_ptr<FrameSource> source_;
    std::string fileName_;
    int32_t stepSize_ = 1;
    TimeFormat timeFormat_ = TimeFormat::Frames;
    int32_t frame_ = 0;
    bool lastDecoded_ = false;
    ShownFrame shown_[2]; // most recent first
    // The points an 8-bit frame's colours are spread with; nothing while
    // they are 0 and 255 (the frame as it is), and the frame so shown.
    std::optional<StretchPoints> colourStretch_;
    DisplayImage stretched_;
};

} // namespace corvane
