#pragma once
// The AVI reader: opens an AVI with FFmpeg and decodes frame n exactly into a
// frame image. Frames are numbered as the file numbers its chunks, so a
// dropped (zero-length) frame keeps its number and shows the frame before it.
// AVI stores no time per frame: frame n was taken at n times the stream's
// time base. FFmpeg stays inside this class. Uncompressed frames whose chunks
// the index locates are also read straight from the file,
// so that measuring in a band reads only its rows.
#include "video/FrameSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class AviFrameSource : public FrameSource {
public:
    // Opens `path`; throws Error with a message that says what is wrong.
    explicit AviFrameSource(const std::string& path);
    ~AviFrameSource() override;
    AviFrameSource(const AviFrameSource&) = delete;
    AviFrameSource& operator=(const AviFrameSource&) = delete;

    bool hasVideo() const override;
    int width() const override;
    int height() const override;
    // Every codec's frames are turned into 8-bit colour values first, so the
    // intensities are those of the colours on screen.
    int samplesPerPixel() const override;
    int bitsPerSample() const override { return 8; }
    ColourLayout colourLayout() const override;
    int32_t frameCount() const override;
    int64_t frameTimeUs(int32_t n) const override;
    int32_t frameTimeMs(int32_t n) const override;
    int64_t measuredTimeUs(int32_t n) const override { return int64_t{frameTimeMs(n)} * 1000; }
    TimeSource timeSource() const override { return TimeSource::FrameRate; }
    double frameRate() const override;
    // AVI records no start time: the file's modification time.
    RecordingStart recordingStart() const override;
    FrameFate frameFate(int32_t n) const override;
    bool read(int32_t n, Frame& out) override;
    // Uncompressed frames are read straight from the file, only the rows
    // asked for; compressed ones are decoded whole. Either way only the
    // band's columns of those rows are converted.
    bool readBand(int32_t n, const PixelRect& band, Frame& out) override;
    bool readsBands() const override { return hasVideo(); }
    // Demuxes and decodes with FFmpeg, whatever the codec; no conversion.
    bool decodeOnly(int32_t n, Frame& scratch) override;
    std::string formatName() const override;
    SourceStats stats() const override;

    // Seconds per frame as the stream stores it: num / den.
    int64_t timeBaseNum() const;
    int64_t timeBaseDen() const;
    // FFmpeg's name of the video codec ("rawvideo", "h264", ...).
    std::string codecName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Whether the file starts like an AVI (a RIFF "AVI " part).
bool looksLikeAvi(const unsigned char* head, std::size_t size);

} // namespace corvane
