#pragma once
// Writes AVI files through libavformat, with the codecs the simulator offers.
// Raw codecs are stored the way capture programs store them (grey Y800
// top-down; 24-bit and 8-bit DIBs bottom-up with rows padded to 4 bytes).
#include "sim/DriftSim.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::sim {

struct VideoFormat {
    Codec codec = Codec::Grey;
    int width = 160;
    int height = 120;
    Rational frameRate;
    int gopSize = 12; // H.264
    int bFrames = 2;  // H.264
};

class AviWriter {
public:
    // Creates the file; throws corvane::Error (also when libx264 is missing).
    AviWriter(const std::string& path, const VideoFormat& format);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Stores `picture` (width x height values 0x00BBGGRR, top row first) as
    // frame n. Frame numbers must increase; with a raw codec a gap leaves
    // zero-length chunks, the dropped frames of a real capture.
    void writeFrame(const std::vector<Pixel>& picture, int64_t n);
    // Raw codecs only: stores `bytes` as the chunk of frame n as they are, so
    // a test can write a damaged frame.
    void writeRawChunk(const std::vector<uint8_t>& bytes, int64_t n);
    // Bytes of one stored frame of a raw codec.
    std::size_t rawFrameSize() const;
    // Flushes the encoder and writes the index. Throws corvane::Error.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// An AVI that holds only an audio stream (16-bit PCM silence), no picture.
void writeAudioOnlyAvi(const std::string& path, double seconds);

} // namespace corvane::sim
