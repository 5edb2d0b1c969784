#pragma once
// FITS recordings through cfitsio: a cube (one image of NAXIS = 3, one frame
// per plane), a file with one two-dimensional image per HDU, or a sequence of
// single-frame files in one folder ordered by DATE-OBS.
//
// Row order: FITS counts rows from the bottom of the picture, so the first
// row stored is the bottom row as the sky was imaged; astronomical viewers
// show it that way and so does Corvane. Rows are given top-down: row 0 is the
// last row stored. A file whose header says ROWORDER = 'TOP-DOWN' (written by
// capture programs that store camera rows in readout order) is given as
// stored. Getting this wrong mirrors the picture top to bottom, which turns
// a position angle p into 180 - p.
//
// Samples: BITPIX 8 gives 8-bit samples, BITPIX 16 with BZERO 32768 (how
// unsigned 16-bit is stored) 16-bit samples as they are. Every other kind
// (signed 16-bit, 32-bit, 32- and 64-bit floating point, any BSCALE/BZERO)
// is read as physical values and mapped linearly to 0 .. 65535 over a range
// fixed for the whole file: DATAMIN .. DATAMAX where the header gives both;
// else 0 .. 1 for floating-point data that lie within it; else 0 .. 65535 for
// data within that (counts stay counts); else the first frame's own minimum
// to maximum (with a warning, as later frames may be clipped).
#include "video/Demosaic.h"
#include "video/RecordingClock.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct FitsImageInfo;

enum class FitsLayout {
    Cube,        // one image HDU with NAXIS = 3
    ImagePerHdu, // one NAXIS = 2 image per HDU
    Sequence     // one single-frame file per frame
};

class FitsFile {
public:
    static constexpr int kMaxSide = 8192;
    static constexpr int64_t kMaxFrames = 2000000;

    // `path` is a FITS file or a folder of them. A file holding a single
    // frame whose name ends in a number (a258_f0001.fit) opens the sequence
    // of the files beside it with the same name before the number and the
    // same extension. Throws Error naming the file and what is wrong.
    explicit FitsFile(const std::string& path);
    ~FitsFile();
    FitsFile(const FitsFile&) = delete;
    FitsFile& operator=(const FitsFile&) = delete;

    FitsLayout layout() const { return layout_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerSample() const { return bits_; }
    int bitpix() const { return bitpix_; }
    int64_t frameCount() const;
    // The first stored row is the bottom one (the frame is turned to show it
    // at the bottom).
    bool storedBottomUp() const { return bottomUp_; }
    // The colour mosaic of a one-shot colour camera (BAYERPAT), as the frame
    // is shown (top-down); nothing for grey frames.
    std::optional<BayerPattern> bayerPattern() const { return bayer_; }
    // The files of a sequence in frame order; the one file otherwise.
    std::vector<std::string> files() const;

    // Every frame has its own DATE-OBS (sequences, one image per HDU).
    bool hasTimeStamps() const { return clock_.hasTimeStamps(); }
    // DATE-OBS of the first frame (UTC ticks since 0001-01-01), if given.
    std::optional<int64_t> startUtc() const { return clock_.startUtc(); }
    void setFrameRate(double fps) { clock_.setFrameRate(fps); }
    bool hasFrameTimes() const { return clock_.hasFrameTimes(); }
    // Ticks after frame 0; throws Error when there are neither time stamps
    // nor a frame rate given (a cube has no per-frame time).
    int64_t frameOffset(int64_t n) const { return clock_.frameOffset(n); }
    std::optional<int64_t> frameUtc(int64_t n) const { return clock_.frameUtc(n); }
    const RecordingClock& clock() const { return clock_; }
    RecordingClock& clock() { return clock_; }

    // What the file gets wrong that the reader worked around: what was found
    // on opening, then the samples without a number met in the frames read.
    std::vector<std::string> warnings() const;

    // Rows y0 .. y0 + rows - 1 of frame n, top-down as shown, width samples
    // each. The 8-bit form only for files of 8-bit samples. Throws Error.
    // Samples that hold no number (NaN, an infinity) read as 0.
    void readRows(int64_t n, int y0, int rows, uint16_t* out) const;
    // Those samples of the last readRows, counted from its first sample.
    const std::vector<uint32_t>& lastMissing() const { return lastMissing_; }
    void readRows(int64_t n, int y0, int rows, uint8_t* out) const;
    std::vector<uint16_t> frame(int64_t n) const;

    struct Impl;

private:
    FitsImageInfo openFile(const std::string& path, std::vector<std::string>& sequence);
    void takeImagesPerHdu(const std::string& first, std::vector<int> images,
                          std::vector<FitsImageInfo> infos);
    FitsImageInfo openSequence(std::vector<std::string> files, const std::string& path);
    void adopt(const FitsImageInfo& info);
    void adoptBayerPattern(const FitsImageInfo& info);
    void chooseScaling(const FitsImageInfo& info);
    void readAny(int64_t n, int y0, int rows, int type, void* out) const;

    std::unique_ptr<Impl> impl_;
    FitsLayout layout_ = FitsLayout::Cube;
    int width_ = 0;
    int height_ = 0;
    int bits_ = 16;
    int bitpix_ = 16;
    bool bottomUp_ = true;
    std::optional<BayerPattern> bayer_;
    RecordingClock clock_;
    std::vector<std::string> warnings_;
    mutable std::vector<uint32_t> lastMissing_;
    mutable std::map<int64_t, std::size_t> missingPerFrame_; // the most seen in one read
};

} // namespace corvane
