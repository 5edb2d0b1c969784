#pragma once
// What a video file gives the rest of the program, whatever its format: the
// frame size and depth, how its colours are laid out, how many frames it
// holds and when each was taken, when the recording started, which frames
// are missing from it, and each frame as a frame image. One reader per file
// format implements it; `openFrameSource` picks the reader by the file's
// content, not by its name.
#include "video/DisplayStretch.h"
#include "video/FrameImage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// How the samples of a pixel are laid out in the file.
enum class ColourLayout {
    Mono,
    BayerRGGB,
    BayerGRBG,
    BayerGBRG,
    BayerBGGR,
    Rgb,
    Bgr,
    Decoded // colour frames as the codec decodes them (any AVI codec)
};

// Where the frame times come from.
enum class TimeSource {
    FileTimeStamps, // each frame carries its own time
    FrameRate       // frame number times a frame period: the file's nominal one, or
                    // the one the user gave for a recording without time stamps
};
// "file time stamps" or "frame rate".
const char* timeSourceText(TimeSource s);

// What happened to a frame on its way into the file.
enum class FrameFate {
    Recorded,
    Dropped // the file holds no picture for it: the frame before it is shown
};

// The recording's start in UT, in microseconds since 1970-01-01 00:00.
struct RecordingStart {
    int64_t unixMicros = 0;
    // The file records it; otherwise it is the file's modification time,
    // taken to the 2 seconds a file date holds (rounded down).
    bool fromFile = false;
};

// Counters for tests and benchmarks: how much work the source did.
struct SourceStats {
    int64_t seeks = 0;           // repositionings of the file
    int64_t framesDecoded = 0;   // frames that came out of the decoder
    int64_t framesConverted = 0; // frames turned into frame images
};

class FrameSource {
public:
    // Limits that keep a hostile file from taking the memory or the time.
    static constexpr int kMaxSide = 8192;
    static constexpr int64_t kMaxFrames = 2000000;

    virtual ~FrameSource() = default;

    // The file has a picture at all (an AVI may hold only sound).
    virtual bool hasVideo() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int samplesPerPixel() const = 0;
    virtual int bitsPerSample() const = 0; // 8 or 16
    virtual ColourLayout colourLayout() const = 0;
    // Frames, dropped ones included; 0 without a picture.
    virtual int32_t frameCount() const = 0;

    // Time of frame n (0 <= n <= frameCount(); n = frameCount() is the end
    // of the last frame) from the start of the recording.
    virtual int64_t frameTimeUs(int32_t n) const = 0;
    // The same to the nearest millisecond, worked out from the file's own
    // numbers so that no second rounding creeps in.
    virtual int32_t frameTimeMs(int32_t n) const = 0;
    // The time a measurement of frame n carries: frameTimeUs, but for a
    // format whose frames have always been timed to the millisecond (an AVI,
    // as the player gives it), that time, so its results stay what they were.
    virtual int64_t measuredTimeUs(int32_t n) const { return frameTimeUs(n); }
    virtual TimeSource timeSource() const = 0;
    // Whether the frames have times at all. A recording without usable time
    // stamps and without a nominal rate (a FITS cube, a SER file whose stamps
    // are missing or broken) has none until setFrameRate gives the rate:
    // until then frameTimeUs and frameTimeMs throw Error asking for it, so a
    // drift is never timed by frame number unawares.
    virtual bool hasFrameTimes() const { return true; }
    // The frame rate for a recording without time stamps. Throws Error for a
    // rate out of range, or a source whose times the file gives.
    virtual void setFrameRate(double fps);
    // Nominal frames per second (0 when unknown).
    virtual double frameRate() const = 0;
    virtual RecordingStart recordingStart() const = 0;
    virtual FrameFate frameFate(int32_t n) const = 0;

    // Reads frame n (0 <= n < frameCount()) into `out`. False when the frame
    // cannot be decoded; `out` is then left as it was.
    virtual bool read(int32_t n, Frame& out) = 0;
    // Only the intensities of the part `band` of frame n (clipped to the
    // frame), for measuring in a band of the frame: `out.intensity` gets the
    // frame's size and holds (IntensityPlane::hold) at least that part, its
    // other pixels are left as they were, and the display is not touched. A
    // source may read more than asked (whole rows); one that cannot read part
    // of a frame reads all of it.
    virtual bool readBand(int32_t n, const PixelRect& /*band*/, Frame& out) { return read(n, out); }
    // Brings frame n out of the file as the file stores it (read and, for a
    // compressed video, decompressed) without making its intensities or its
    // picture: the least any read of the frame costs, which a benchmark
    // times as decoding alone. A source that cannot part the two reads the
    // frame into `scratch`.
    virtual bool decodeOnly(int32_t n, Frame& scratch) { return read(n, scratch); }
    // Whether readBand reads only the rows asked for (and marks the others as
    // not held); false where it reads the whole frame.
    virtual bool readsBands() const { return false; }
    // The black and white points the display maps deep frames with (nothing
    // where frames show their own 8-bit values), and a way to change them.
    virtual std::optional<StretchPoints> displayStretch() const { return std::nullopt; }
    virtual void setDisplayStretch(StretchPoints) {}
    // What the file gets wrong that the reader worked around, one text each.
    virtual std::vector<std::string> warnings() const { return {}; }

    // Short description of the format for messages ("AVI, rawvideo").
    virtual std::string formatName() const = 0;
    virtual SourceStats stats() const = 0;
};

// Time of frame n of a stream whose frames are num / den seconds apart, in
// ms (or us) rounded to the nearest (ties to even), computed exactly in integers.
int64_t frameTimeMs(int64_t n, int64_t num, int64_t den);
int64_t frameTimeUs(int64_t n, int64_t num, int64_t den);

// Opens `path` with the reader its content calls for. Throws Error with a
// message naming the file and what is wrong.
std::unique_ptr<FrameSource> openFrameSource(const std::string& path);

// The modification time of `path` as a recording start, to the 2 seconds a
// file date holds. Throws Error when the file cannot be examined.
RecordingStart modificationTimeStart(const std::string& path);

} // namespace corvane
