#pragma once
// The SER video format of planetary and lucky-imaging capture programs: a
// 178-byte header, the frames one after the other (rows top-down, samples
// interleaved per pixel for RGB), and optionally one 64-bit UTC time stamp
// per frame after the last frame. The file is memory-mapped, with 64-bit
// offsets, so files past 4 GB read like small ones and no frame is copied
// that the caller does not ask for.
#include "video/RecordingClock.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

inline constexpr std::size_t kSerHeaderSize = 178;

// ColorID of the header: the sensor's colour layout.
enum class SerColour : int32_t {
    Mono = 0,
    BayerRGGB = 8,
    BayerGRBG = 9,
    BayerGBRG = 10,
    BayerBGGR = 11,
    BayerCYYM = 16,
    BayerYCMY = 17,
    BayerYMCY = 18,
    BayerMYYC = 19,
    RGB = 100,
    BGR = 101
};

// "mono", "RGGB", ..., "RGB", "BGR".
const char* serColourName(SerColour c);

// The header's fields as the file stores them (integers little-endian).
struct SerHeader {
    std::string fileId; // "LUCAM-RECORDER"
    int32_t luId = 0;
    SerColour colour = SerColour::Mono;
    int32_t littleEndian = 0; // as written; not trusted, see SerFile
    int32_t width = 0;
    int32_t height = 0;
    int32_t pixelDepthPerPlane = 0; // 1 to 16; above 8 means two bytes per sample
    int32_t frameCount = 0;
    std::string observer;    // 40 bytes, trailing NULs and spaces dropped
    std::string instrument;  // 40 bytes
    std::string telescope;   // 40 bytes
    int64_t dateTime = 0;    // local time, 100-ns ticks since 0001-01-01; 0 when unset
    int64_t dateTimeUtc = 0; // UTC, same ticks; 0 when unset

    int planes() const; // 3 for RGB and BGR, else 1
    int bytesPerSample() const { return pixelDepthPerPlane > 8 ? 2 : 1; }
};

// Reads the header from the first `size` bytes of the file at `path`; throws
// Error naming the file and the field when it is not a SER header Corvane
// can read (truncated, wrong id, size or depth out of range, unknown ColorID).
SerHeader parseSerHeader(const uint8_t* bytes, std::size_t size, const std::string& path);

class SerFile {
public:
    // Limits that keep a hostile header from taking the memory or the time.
    static constexpr int kMaxSide = 8192;

    // Opens and checks the file; throws Error with a message that names the
    // file and what is wrong. A file with recoverable faults (fewer frames
    // than the header claims, unusable time stamps, understated depth) opens
    // with warnings().
    explicit SerFile(const std::string& path);
    ~SerFile();
    SerFile(const SerFile&) = delete;
    SerFile& operator=(const SerFile&) = delete;

    const std::string& path() const { return path_; }
    const SerHeader& header() const { return header_; }
    SerColour colour() const { return header_.colour; }
    int width() const { return header_.width; }
    int height() const { return header_.height; }
    // Samples per pixel: 1 (mono or a Bayer mosaic) or 3 (RGB, BGR order as stored).
    int channels() const { return header_.planes(); }
    // 8 or 16: the size of the samples readRows gives.
    int bitsPerSample() const { return header_.bytesPerSample() * 8; }
    // The depth the data use: PixelDepthPerPlane, or more where the samples
    // of the frames looked at exceed it (a warning says so).
    int significantBits() const { return significantBits_; }
    // The 16-bit samples are stored big-endian (decided from the data).
    bool bigEndianSamples() const { return bigEndian_; }
    // Complete frames in the file (at most the header's FrameCount).
    int64_t frameCount() const { return frames_; }

    // The trailer of time stamps is present, complete, non-zero and in order.
    bool hasTimeStamps() const { return clock_.hasTimeStamps(); }
    // The recording's start in UTC ticks: the first frame's time stamp where
    // they are usable, else DateTime_UTC where it is set, else nothing.
    std::optional<int64_t> startUtc() const { return clock_.startUtc(); }
    // Frame times without usable time stamps: frame n is n / fps after the
    // first. The fps must be finite and positive.
    void setFrameRate(double fps) { clock_.setFrameRate(fps); }
    // Can frameOffset answer: time stamps, or a frame rate given.
    bool hasFrameTimes() const { return clock_.hasFrameTimes(); }
    // Time of frame n after frame 0, in 100-ns ticks: from the time stamps,
    // else from the frame rate given; throws Error when there is neither.
    int64_t frameOffset(int64_t n) const { return clock_.frameOffset(n); }
    // UTC ticks of frame n (the start plus its offset); nothing when the
    // start is unknown.
    std::optional<int64_t> frameUtc(int64_t n) const { return clock_.frameUtc(n); }
    const RecordingClock& clock() const { return clock_; }
    RecordingClock& clock() { return clock_; }

    // What the file gets wrong that the reader worked around, one text each.
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Rows y0 .. y0 + rows - 1 of frame n, top-down, width * channels samples
    // each, into `out`. The 16-bit form takes any depth; the 8-bit form only
    // files of one byte per sample. Throws Error when out of range or when
    // the file cannot be read. Not for several threads at once.
    void readRows(int64_t n, int y0, int rows, uint16_t* out) const;
    void readRows(int64_t n, int y0, int rows, uint8_t* out) const;
    // The whole frame n in 16-bit samples.
    std::vector<uint16_t> frame(int64_t n) const;

private:
    const uint8_t* rowsAt(int64_t n, int y0, int rows) const;
    // Counts a read of `bytes` at `at` in the map, and hands the mapped pages
    // back to the kernel once they pass the budget.
    void releaseIfDue(const uint8_t* at, std::size_t bytes) const;
    void checkData();
    void readTrailer(uint64_t trailerBytes);
    void decideByteOrder();
    void findSignificantBits();

    std::string path_;
    int fd_ = -1;
    const uint8_t* map_ = nullptr;
    uint64_t fileSize_ = 0;
    SerHeader header_;
    uint64_t frameBytes_ = 0;
    int64_t frames_ = 0;
    RecordingClock clock_;
    bool bigEndian_ = false;
    int significantBits_ = 8;
    std::vector<std::string> warnings_;
    mutable uint64_t touchedSinceRelease_ = 0;
    // Offsets in the file of the span read since the last release.
    mutable uint64_t touchedBegin_ = 0;
    mutable uint64_t touchedEnd_ = 0;
    mutable std::vector<uint8_t> rowBytes_; // the rows as the file holds them
};

} // namespace corvane
