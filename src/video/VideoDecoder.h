#pragma once
// The video source: opens an AVI with FFmpeg and decodes frame n exactly,
// converted to the panel's colour values. Frames are numbered as the file
// numbers its chunks, so a dropped (zero-length) frame keeps its number and
// shows the frame before it. FFmpeg stays inside this class.
#include "video/PanelSurface.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// A decoded frame in the panel's layout, top byte always 0.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Colour> pixels; // width * height, row by row from the top
};

// Counters for tests and benchmarks: how much work the source did.
struct DecoderStats {
    int64_t seeks = 0;           // repositionings of the file
    int64_t framesDecoded = 0;   // frames that came out of the decoder
    int64_t framesConverted = 0; // frames converted to colour values
};

class VideoDecoder {
public:
    // Limits that keep a hostile file from taking the memory or the time.
    static constexpr int kMaxSide = 8192;
    static constexpr int64_t kMaxFrames = 2000000;

    // Opens `path`; throws Error with a message that says what is wrong.
    explicit VideoDecoder(const std::string& path);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // The file has a video stream whose codec we can decode.
    bool hasVideo() const;
    // Number of frames, dropped ones included; 0 without a picture.
    int32_t frameCount() const;
    // Seconds per frame as the stream stores it: num / den.
    int64_t timeBaseNum() const;
    int64_t timeBaseDen() const;
    double frameRate() const;
    int width() const;
    int height() const;
    // FFmpeg's name of the video codec ("rawvideo", "h264", ...).
    std::string codecName() const;

    // Decodes frame n (0 <= n < frameCount()) into `out`. False when the
    // frame cannot be decoded (damaged data, missing from a truncated file);
    // `out` is then left as it was.
    bool decode(int32_t n, Picture& out);

    const DecoderStats& stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Time of frame n in ms, n * num / den * 1000 rounded to the nearest ms (ties
// to even), computed exactly in integers.
int64_t frameTimeMs(int64_t n, int64_t num, int64_t den);

} // namespace corvane
