#pragma once
// What the SER and FITS readers share as frame sources: frames stored as
// plain samples (no codec), each frame readable on its own and in part, and
// frame times from a recording clock. The intensities follow the rules of
// Intensities.h; 16-bit frames are shown through a display stretch whose
// points are taken once per video, from the first frame shown, so that the
// picture does not pump as a bright star or a cloud passes (the user can set
// them).
#include "video/FrameSource.h"
#include "video/RecordingClock.h"

#include <optional>
#include <string>
#include <vector>

namespace corvane {

class SampleFrameSource : public FrameSource {
public:
    bool hasVideo() const override { return true; }
    int width() const override { return shape_.width; }
    int height() const override { return shape_.height; }
    int samplesPerPixel() const override { return shape_.channels; }
    int bitsPerSample() const override { return shape_.bits; }
    ColourLayout colourLayout() const override { return shape_.layout; }
    int32_t frameCount() const override { return shape_.frames; }
    // From the clock's ticks, rounded to the nearest (ties to even). The end
    // of the last frame is one median interval after it. Throw Error when the
    // recording has no frame times yet.
    int64_t frameTimeUs(int32_t n) const override;
    int32_t frameTimeMs(int32_t n) const override;
    TimeSource timeSource() const override;
    bool hasFrameTimes() const override { return clock_->hasFrameTimes(); }
    void setFrameRate(double fps) override;
    // From the median interval of the time stamps, else the rate given.
    double frameRate() const override;
    // The file's start time; the modification time only where it has none.
    RecordingStart recordingStart() const override;
    // Every frame the file counts has a picture: frames the camera lost
    // show as gaps in the time stamps instead.
    FrameFate frameFate(int32_t) const override { return FrameFate::Recorded; }
    bool read(int32_t n, Frame& out) override;
    bool readBand(int32_t n, const PixelRect& band, Frame& out) override;
    bool readsBands() const override { return true; }
    std::optional<StretchPoints> displayStretch() const override;
    void setDisplayStretch(StretchPoints p) override { stretch_ = p; }
    SourceStats stats() const override { return stats_; }

protected:
    struct Shape {
        int width = 0;
        int height = 0;
        int channels = 1;
        int bits = 8;            // 8 or 16, as the samples are given
        int32_t sampleWhite = 0; // the brightest sample the data use
        ColourLayout layout = ColourLayout::Mono;
        int32_t frames = 0;
    };
    // The derived source calls it once its reader is open.
    void init(const std::string& path, const Shape& shape, RecordingClock& clock);
    // Rows y0 .. y0 + rows - 1 of frame n, width * channels samples each.
    virtual void readSamples(int64_t n, int y0, int rows, uint16_t* out) const = 0;
    // The samples of the last readSamples that hold no number in the file,
    // counted from its first sample; none where every sample is a number.
    virtual const std::vector<uint32_t>* missingSamples() const { return nullptr; }

private:
    int64_t ticksOf(int32_t n) const;
    void intensitiesOfColour(int yFrom, int yTo, int yFirstRead, bool show, Frame& out);
    void showDeep(Frame& out);
    // Marks the pixels of the last readSamples (from row yFirstRead) that
    // hold no number.
    void markMissing(int yFirstRead, Frame& out) const;

    std::string path_;
    Shape shape_;
    RecordingClock* clock_ = nullptr;
    int64_t medianTicks_ = 0; // median interval of the time stamps
    int32_t white_ = 0;       // of the intensities
    std::optional<StretchPoints> stretch_;
    std::vector<uint16_t> samples_;
    std::vector<uint16_t> rgb_;
    SourceStats stats_;
};

} // namespace corvane
