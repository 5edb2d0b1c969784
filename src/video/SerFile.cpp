#include "video/SerFile.h"

#include "common/Error.h"
#include "video/UtcTime.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace corvane {

namespace {

constexpr const char* kFileId = "LUCAM-RECORDER";
constexpr std::size_t kFileIdSize = 14;
constexpr std::size_t kTextFieldSize = 40;
constexpr int64_t kStampBytes = 8;

// Mapped pages the reader lets accumulate before it hands them back: the
// kernel keeps them in the page cache, but they stop counting as this
// process's memory, so reading a 20 GB file holds a few tens of MB at most.
constexpr uint64_t kResidentBudgetBytes = 64ull << 20;
// A read maps more than the bytes it copies: the kernel maps the page cache
// in folios of up to this size (a sparse file's holes come in whole ones), so
// every read counts as the folios its bytes lie in.
constexpr uint64_t kMappingGrainBytes = 2ull << 20;

// Time stamps outside these years are not a clock's reading but junk.
const int64_t kEarliestStamp = ticksFromCivil(1970, 1, 1, 0, 0, 0);
const int64_t kLatestStamp = ticksFromCivil(2200, 1, 1, 0, 0, 0);

int32_t int32At(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

int64_t int64At(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return static_cast<int64_t>(v);
}

std::string textAt(const uint8_t* p) {
    std::string s(reinterpret_cast<const char*>(p), kTextFieldSize);
    s.resize(std::strlen(s.c_str()));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

bool knownColour(int32_t id) {
    return id == 0 || (id >= 8 && id <= 11) || (id >= 16 && id <= 19) || id == 100 || id == 101;
}

bool isCyym(SerColour c) {
    return c >= SerColour::BayerCYYM && c <= SerColour::BayerMYYC;
}

bool isBayer(SerColour c) {
    return c >= SerColour::BayerRGGB && c <= SerColour::BayerMYYC;
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw Error(what + ": " + path);
}

void checkRange(const char* field, int32_t value, int32_t lo, int32_t hi, const std::string& path) {
    if (value < lo || value > hi)
        fail("The SER header's " + std::string(field) + " is " + std::to_string(value) + " (" +
                 std::to_string(lo) + " to " + std::to_string(hi) + " allowed)",
             path);
}

uint16_t sampleAt(const uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

// Mean absolute difference between neighbouring samples of the same colour,
// as a share of the range the samples span, when read in the given byte
// order: small for a picture, large for noise.
double roughness(const uint8_t* data, std::size_t samples, std::size_t step, bool bigEndian) {
    if (samples <= step)
        return 0;
    uint16_t lo = 65535, hi = 0;
    double sum = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const uint16_t v = sampleAt(data + 2 * i, bigEndian);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        if (i >= step)
            sum += std::abs(int{v} - int{sampleAt(data + 2 * (i - step), bigEndian)});
    }
    return sum / static_cast<double>(samples - step) / (hi - lo + 1.0);
}

} // namespace

const char* serColourName(SerColour c) {
    switch (c) {
    case SerColour::Mono:
        return "mono";
    case SerColour::BayerRGGB:
        return "RGGB";
    case SerColour::BayerGRBG:
        return "GRBG";
    case SerColour::BayerGBRG:
        return "GBRG";
    case SerColour::BayerBGGR:
        return "BGGR";
    case SerColour::BayerCYYM:
        return "CYYM";
    case SerColour::BayerYCMY:
        return "YCMY";
    case SerColour::BayerYMCY:
        return "YMCY";
    case SerColour::BayerMYYC:
        return "MYYC";
    case SerColour::RGB:
        return "RGB";
    case SerColour::BGR:
        return "BGR";
    }
    return "?";
}

int SerHeader::planes() const {
    return colour == SerColour::RGB || colour == SerColour::BGR ? 3 : 1;
}

SerHeader parseSerHeader(const uint8_t* b, std::size_t size, const std::string& path) {
    if (size < kSerHeaderSize)
        fail("The SER header is truncated (" + std::to_string(size) + " of " +
                 std::to_string(kSerHeaderSize) + " bytes present)",
             path);
    if (std::memcmp(b, kFileId, kFileIdSize) != 0)
        fail("Not a SER video (the file does not start with \"LUCAM-RECORDER\")", path);
    SerHeader h;
    h.fileId = kFileId;
    h.luId = int32At(b + 14);
    const int32_t colorId = int32At(b + 18);
    if (!knownColour(colorId))
        fail("The SER header's ColorID " + std::to_string(colorId) + " is unknown", path);
    h.colour = static_cast<SerColour>(colorId);
    h.littleEndian = int32At(b + 22);
    h.width = int32At(b + 26);
    h.height = int32At(b + 30);
    h.pixelDepthPerPlane = int32At(b + 34);
    h.frameCount = int32At(b + 38);
    checkRange("ImageWidth", h.width, 1, SerFile::kMaxSide, path);
    checkRange("ImageHeight", h.height, 1, SerFile::kMaxSide, path);
    checkRange("PixelDepthPerPlane", h.pixelDepthPerPlane, 1, 16, path);
    if (h.frameCount < 0)
        fail("The SER header's FrameCount is " + std::to_string(h.frameCount), path);
    h.observer = textAt(b + 42);
    h.instrument = textAt(b + 82);
    h.telescope = textAt(b + 122);
    h.dateTime = int64At(b + 162);
    h.dateTimeUtc = int64At(b + 170);
    return h;
}

SerFile::SerFile(const std::string& path) : path_(path), clock_("SER file", path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (path.empty() || !fs::exists(status))
        fail("File not found", path);
    if (fs::is_directory(status))
        fail("This is a folder, not a video file", path);
    // Without blocking: a named pipe must not hang the open.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0)
        fail("File access denied", path);
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fail("not a regular file", path);
    }
    fileSize_ = static_cast<uint64_t>(st.st_size);
    if (fileSize_ == 0) {
        ::close(fd_);
        fail("The file is empty", path);
    }
    void* m = ::mmap(nullptr, fileSize_, PROT_READ, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) {
        ::close(fd_);
        fail("The file cannot be mapped into memory (" + std::string(std::strerror(errno)) + ")",
             path);
    }
    map_ = static_cast<const uint8_t*>(m);
    try {
        header_ = parseSerHeader(map_, fileSize_, path);
        if (isCyym(header_.colour))
            // A cyan-yellow-magenta mosaic needs a colour matrix of its own
            // camera to give intensities; read as a grey picture its filter
            // pattern would pull the star centres by a fraction of a pixel.
            fail(std::string("The SER file's colour layout ") + serColourName(header_.colour) +
                     " (ColorID " + std::to_string(static_cast<int>(header_.colour)) +
                     ") is not supported; Corvane reads mono, Bayer RGGB, GRBG, GBRG, BGGR, "
                     "RGB and BGR",
                 path);
        checkData();
        clock_.setFrameCount(frames_);
        if (clock_.hasTimeStamps())
            clock_.setStart(clock_.stamps().front());
        else if (header_.dateTimeUtc >= kEarliestStamp && header_.dateTimeUtc < kLatestStamp)
            clock_.setStart(header_.dateTimeUtc);
        decideByteOrder();
        findSignificantBits();
        if (header_.dateTimeUtc != 0 &&
            (header_.dateTimeUtc < kEarliestStamp || header_.dateTimeUtc >= kLatestStamp))
            warnings_.push_back("DateTime_UTC is not a date from 1970 to 2199; it is ignored");
    } catch (...) {
        ::munmap(const_cast<uint8_t*>(map_), fileSize_);
        ::close(fd_);
        throw;
    }
}

SerFile::~SerFile() {
    ::munmap(const_cast<uint8_t*>(map_), fileSize_);
    ::close(fd_);
}

void SerFile::checkData() {
    frameBytes_ = static_cast<uint64_t>(header_.width) * static_cast<uint64_t>(header_.height) *
                  static_cast<uint64_t>(header_.planes()) *
                  static_cast<uint64_t>(header_.bytesPerSample());
    const uint64_t dataBytes = fileSize_ - kSerHeaderSize;
    const uint64_t available = dataBytes / frameBytes_;
    if (available == 0)
        fail("The SER file holds no complete frame (" + std::to_string(dataBytes) +
                 " bytes of image data, one frame takes " + std::to_string(frameBytes_) + ")",
             path_);
    const uint64_t claimed = static_cast<uint64_t>(header_.frameCount);
    frames_ = static_cast<int64_t>(claimed > 0 ? std::min(claimed, available) : available);
    const uint64_t rest = dataBytes - static_cast<uint64_t>(frames_) * frameBytes_;
    const uint64_t trailer = static_cast<uint64_t>(frames_) * kStampBytes;
    if (claimed != static_cast<uint64_t>(frames_)) {
        // Fewer frames than the header counts: the file was cut short, and
        // its time stamps, which follow the frames, went with its end.
        const bool truncated = claimed > static_cast<uint64_t>(frames_);
        warnings_.push_back(std::string(truncated ? "The SER file is truncated: the" : "The") +
                            " header's FrameCount is " + std::to_string(claimed) +
                            " but the file holds " + std::to_string(frames_) +
                            " complete frames; those are used");
        if (rest == trailer)
            readTrailer(rest);
        else if (truncated)
            clock_.setMissingTimesReason("the file is truncated: " + std::to_string(frames_) +
                                         " of " + std::to_string(claimed) +
                                         " frames and none of their time stamps are present");
        return;
    }
    if (rest == 0)
        return;
    if (rest < trailer) {
        warnings_.push_back("The time stamps after the frames are truncated (" +
                            std::to_string(rest) + " of " + std::to_string(trailer) +
                            " bytes present); frame times come from the start time and the "
                            "frame rate");
        return;
    }
    if (rest > trailer)
        warnings_.push_back(std::to_string(rest - trailer) +
                            " bytes after the time stamps are ignored");
    readTrailer(trailer);
}

void SerFile::readTrailer(uint64_t trailerBytes) {
    const uint8_t* p = map_ + kSerHeaderSize + static_cast<uint64_t>(frames_) * frameBytes_;
    std::vector<int64_t> stamps(static_cast<std::size_t>(trailerBytes / kStampBytes));
    const std::string fallback = "; frame times come from the start time and the frame rate";
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        stamps[i] = int64At(p + i * kStampBytes);
        if (stamps[i] < kEarliestStamp || stamps[i] >= kLatestStamp) {
            warnings_.push_back("The time stamp of frame " + std::to_string(i) +
                                (stamps[i] == 0 ? " is zero" : " is not a date from 1970 to 2199") +
                                fallback);
            return;
        }
        if (i > 0 && stamps[i] < stamps[i - 1]) {
            warnings_.push_back("The time stamps are out of order (frame " + std::to_string(i) +
                                " is earlier than frame " + std::to_string(i - 1) + ")" + fallback);
            return;
        }
    }
    if (stamps.size() > 1 && stamps.back() == stamps.front()) {
        warnings_.push_back("All time stamps are equal" + fallback);
        return;
    }
    clock_.setStamps(std::move(stamps));
}

// Capture programs disagree about the header's LittleEndian field: most
// write 0 for little-endian data, the reverse of the format's own document,
// so the field decides nothing. The data do: a picture read in its right byte
// order changes little from one sample to its neighbour of the same colour,
// read in the wrong order its noisy low bytes become the high ones. The
// samples are read big-endian only when that reading is at least four times
// smoother (relative to the range it spans) over the first, middle and last
// frames; anything less clear, a flat frame for instance, stays little-endian.
void SerFile::decideByteOrder() {
    if (header_.bytesPerSample() != 2)
        return;
    const std::size_t samples = static_cast<std::size_t>(frameBytes_ / 2);
    const std::size_t step = isBayer(header_.colour) ? 2 : static_cast<std::size_t>(channels());
    double little = 0, big = 0;
    for (int64_t n : {int64_t{0}, frames_ / 2, frames_ - 1}) {
        const uint8_t* data = map_ + kSerHeaderSize + static_cast<uint64_t>(n) * frameBytes_;
        little += roughness(data, samples, step, false);
        big += roughness(data, samples, step, true);
        releaseIfDue(data, frameBytes_);
    }
    bigEndian_ = big * 4 < little;
    if (bigEndian_)
        warnings_.push_back("The 16-bit samples are big-endian (the data show it)");
}

void SerFile::findSignificantBits() {
    significantBits_ = header_.pixelDepthPerPlane;
    const int stored = bitsPerSample();
    if (significantBits_ >= stored)
        return;
    uint16_t top = 0;
    const std::size_t samples = static_cast<std::size_t>(frameBytes_) / (stored / 8);
    for (int64_t n : {int64_t{0}, frames_ / 2, frames_ - 1}) {
        const uint8_t* data = map_ + kSerHeaderSize + static_cast<uint64_t>(n) * frameBytes_;
        for (std::size_t i = 0; i < samples; ++i)
            top =
                std::max<uint16_t>(top, stored == 8 ? data[i] : sampleAt(data + 2 * i, bigEndian_));
        releaseIfDue(data, frameBytes_);
    }
    int bits = 0;
    while (bits < 16 && (top >> bits) != 0)
        ++bits;
    if (bits > significantBits_) {
        warnings_.push_back("PixelDepthPerPlane is " + std::to_string(significantBits_) +
                            " but the samples reach " + std::to_string(top) + "; read as " +
                            std::to_string(bits) + "-bit");
        significantBits_ = bits;
    }
}

const uint8_t* SerFile::rowsAt(int64_t n, int y0, int rows) const {
    if (n < 0 || n >= frames_)
        fail("Frame " + std::to_string(n) + " is not in the SER file (" + std::to_string(frames_) +
                 " frames)",
             path_);
    if (y0 < 0 || rows < 0 || rows > header_.height - y0)
        fail("Rows " + std::to_string(y0) + " to " + std::to_string(y0 + rows - 1) +
                 " are outside the frame's " + std::to_string(header_.height) + " rows",
             path_);
    const uint64_t rowBytes = frameBytes_ / static_cast<uint64_t>(header_.height);
    return map_ + kSerHeaderSize + static_cast<uint64_t>(n) * frameBytes_ +
           static_cast<uint64_t>(y0) * rowBytes;
}

void SerFile::releaseIfDue(const uint8_t* at, std::size_t bytes) const {
    const uint64_t begin =
        static_cast<uint64_t>(at - map_) / kMappingGrainBytes * kMappingGrainBytes;
    const uint64_t end =
        std::min<uint64_t>((static_cast<uint64_t>(at - map_) + bytes + kMappingGrainBytes - 1) /
                               kMappingGrainBytes * kMappingGrainBytes,
                           fileSize_);
    if (touchedSinceRelease_ == 0) {
        touchedBegin_ = begin;
        touchedEnd_ = end;
    }
    touchedBegin_ = std::min(touchedBegin_, begin);
    touchedEnd_ = std::max(touchedEnd_, end);
    touchedSinceRelease_ += end - begin;
    if (touchedSinceRelease_ < kResidentBudgetBytes)
        return;
    // Only drops this process's page-table entries; the data stay cached.
    ::madvise(const_cast<uint8_t*>(map_) + touchedBegin_, touchedEnd_ - touchedBegin_,
              MADV_DONTNEED);
    touchedSinceRelease_ = 0;
}

// Through one read of the file rather than the map: each page of the map
// touched for the first time costs a fault, several times what copying it does.
void SerFile::readRows(int64_t n, int y0, int rows, uint16_t* out) const {
    const uint8_t* at = rowsAt(n, y0, rows);
    const std::size_t count = static_cast<std::size_t>(rows) *
                              static_cast<std::size_t>(header_.width) *
                              static_cast<std::size_t>(channels());
    rowBytes_.resize(count * static_cast<std::size_t>(header_.bytesPerSample()));
    uint64_t offset = static_cast<uint64_t>(at - map_);
    for (std::size_t done = 0; done < rowBytes_.size();) {
        const ssize_t got = ::pread(fd_, rowBytes_.data() + done, rowBytes_.size() - done,
                                    static_cast<off_t>(offset));
        if (got <= 0)
            fail("Frame " + std::to_string(n) + " cannot be read (" +
                     std::string(got < 0 ? std::strerror(errno) : "the file ends early") + ")",
                 path_);
        done += static_cast<std::size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    const uint8_t* src = rowBytes_.data();
    if (bitsPerSample() == 8) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = src[i];
    } else if (bigEndian_) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = sampleAt(src + 2 * i, true);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = sampleAt(src + 2 * i, false);
    }
}

void SerFile::readRows(int64_t n, int y0, int rows, uint8_t* out) const {
    if (bitsPerSample() != 8)
        fail("The SER file has 16-bit samples, not 8-bit", path_);
    const uint8_t* src = rowsAt(n, y0, rows);
    const std::size_t count = static_cast<std::size_t>(rows) *
                              static_cast<std::size_t>(header_.width) *
                              static_cast<std::size_t>(channels());
    std::memcpy(out, src, count);
    releaseIfDue(src, count);
}

std::vector<uint16_t> SerFile::frame(int64_t n) const {
    std::vector<uint16_t> out(static_cast<std::size_t>(header_.width) *
                              static_cast<std::size_t>(header_.height) *
                              static_cast<std::size_t>(channels()));
    readRows(n, 0, header_.height, out.data());
    return out;
}

} // namespace corvane
