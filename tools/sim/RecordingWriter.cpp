#include "sim/RecordingWriter.h"

#include "sim/Seeing.h"

#include "common/Error.h"
#include "video/UtcTime.h"

#include <fitsio.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace corvane::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSerHeaderBytes = 178;
constexpr int32_t kSerMono = 0;
constexpr int32_t kSerRggb = 8;

void put32(std::vector<uint8_t>& b, std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] =
            static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

void put64(std::vector<uint8_t>& b, std::size_t at, int64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + static_cast<std::size_t>(i)] =
            static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
}

void putText(std::vector<uint8_t>& b, std::size_t at, const std::string& text) {
    std::memcpy(&b[at], text.data(), std::min<std::size_t>(text.size(), 40));
}

int64_t startTicks(const RecordingOptions& o) {
    const std::optional<int64_t> t = parseIsoTime(o.startUtc);
    if (!t)
        throw Error("Invalid simulation parameter: start time '" + o.startUtc + "'");
    return *t;
}

int64_t stampOf(int64_t start, const FrameTruth& f) {
    return start + static_cast<int64_t>(std::llround(f.timeS * kTicksPerSecond));
}

Truth writeSer(const std::string& path, const DriftParams& p, const RecordingOptions& o) {
    Truth truth = nominalTruth(p);
    FrameRenderer renderer(p);
    const int64_t start = startTicks(o);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw Error("Cannot create the file: " + path);
    std::vector<uint8_t> h(kSerHeaderBytes, 0);
    std::memcpy(h.data(), "LUCAM-RECORDER", 14);
    put32(h, 18, p.bayer ? kSerRggb : kSerMono);
    // The data are little-endian; most capture programs then write 0 here.
    put32(h, 22, 0);
    put32(h, 26, p.width);
    put32(h, 30, p.height);
    put32(h, 34, p.bits);
    put32(h, 38, p.frames);
    putText(h, 42, o.observer);
    putText(h, 82, o.instrument);
    putText(h, 122, o.telescope);
    put64(h, 162, start);
    put64(h, 170, start);
    out.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
    const int bytes = p.bits / 8;
    std::vector<uint8_t> frame;
    for (int n = 0; n < p.frames; ++n) {
        const std::vector<uint16_t> s =
            renderer.samples(n, truth.frames[static_cast<std::size_t>(n)]);
        frame.resize(s.size() * static_cast<std::size_t>(bytes));
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (bytes == 1) {
                frame[i] = static_cast<uint8_t>(s[i]);
            } else {
                frame[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
                frame[2 * i + 1] = static_cast<uint8_t>(s[i] >> 8);
            }
        }
        out.write(reinterpret_cast<const char*>(frame.data()),
                  static_cast<std::streamsize>(frame.size()));
    }
    if (o.timeStamps) {
        std::vector<uint8_t> trailer(8 * static_cast<std::size_t>(p.frames));
        for (int n = 0; n < p.frames; ++n)
            put64(trailer, 8 * static_cast<std::size_t>(n),
                  stampOf(start, truth.frames[static_cast<std::size_t>(n)]));
        out.write(reinterpret_cast<const char*>(trailer.data()),
                  static_cast<std::streamsize>(trailer.size()));
    }
    out.close();
    if (!out)
        throw Error("Cannot write the file: " + path);
    return truth;
}

std::string fitsText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

// One FITS file holding `planes` frames from `first` on, rows stored bottom
// row first as FITS counts them.
void writeFits(const std::string& path, const DriftParams& p, FrameRenderer& renderer, Truth& truth,
               int first, int planes, bool cube, int64_t dateObs, const RecordingOptions& o) {
    std::error_code ec;
    fs::remove(path, ec);
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_create_diskfile(&f, path.c_str(), &status) != 0)
        throw Error("Cannot create the FITS file (" + fitsText(status) + "): " + path);
    long axes[3] = {p.width, p.height, planes};
    const bool floating = o.fitsFloatWhite > 0;
    fits_create_img(f,
                    floating       ? FLOAT_IMG
                    : p.bits == 16 ? USHORT_IMG
                                   : BYTE_IMG,
                    cube ? 3 : 2, axes, &status);
    const std::string date = isoTimeOf(dateObs);
    fits_update_key(f, TSTRING, "DATE-OBS", const_cast<char*>(date.c_str()),
                    "UTC start of the exposure", &status);
    const std::size_t w = static_cast<std::size_t>(p.width);
    std::vector<uint16_t> stored(w * static_cast<std::size_t>(p.height));
    std::vector<float> values(floating ? stored.size() : 0);
    const double perSample = o.fitsFloatWhite / ((1 << p.bits) - 1);
    for (int k = 0; k < planes && status == 0; ++k) {
        const int n = first + k;
        const std::vector<uint16_t> s =
            renderer.samples(n, truth.frames[static_cast<std::size_t>(n)]);
        for (int y = 0; y < p.height; ++y)
            std::memcpy(&stored[static_cast<std::size_t>(p.height - 1 - y) * w],
                        &s[static_cast<std::size_t>(y) * w], w * sizeof(uint16_t));
        LONGLONG pixel[3] = {1, 1, k + 1};
        if (floating) {
            for (std::size_t i = 0; i < stored.size(); ++i)
                values[i] = static_cast<float>(stored[i] * perSample);
            if (o.fitsHotPixel > 0)
                values[(static_cast<std::size_t>(p.height) - 1) * w] =
                    static_cast<float>(o.fitsHotPixel);
            fits_write_pixll(f, TFLOAT, pixel, static_cast<LONGLONG>(values.size()), values.data(),
                             &status);
        } else {
            fits_write_pixll(f, TUSHORT, pixel, static_cast<LONGLONG>(stored.size()), stored.data(),
                             &status);
        }
    }
    fits_close_file(f, &status);
    if (status != 0)
        throw Error("Cannot write the FITS file (" + fitsText(status) + "): " + path);
}

} // namespace

Container containerOf(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".ser")
        return Container::Ser;
    if (ext == ".fits" || ext == ".fit" || ext == ".fts")
        return Container::FitsCube;
    return Container::Avi;
}

const char* containerName(Container c) {
    switch (c) {
    case Container::Avi:
        return "avi";
    case Container::Ser:
        return "ser";
    case Container::FitsCube:
        return "fits-cube";
    case Container::FitsSequence:
        return "fits-sequence";
    }
    return "?";
}

std::string sequenceFileName(const std::string& path, int64_t n) {
    const fs::path p(path);
    char number[32];
    std::snprintf(number, sizeof number, "_%05lld", static_cast<long long>(n + 1));
    const std::string ext = p.has_extension() ? p.extension().string() : ".fits";
    return (p.parent_path() / (p.stem().string() + number + ext)).string();
}

Truth writeRecording(const std::string& path, const DriftParams& p, const RecordingOptions& o,
                     std::vector<std::string>* files) {
    if (files)
        files->clear();
    switch (o.container) {
    case Container::Avi:
        if (files)
            files->push_back(path);
        return writeDriftVideo(path, p);
    case Container::Ser:
        if (files)
            files->push_back(path);
        return writeSer(path, p, o);
    case Container::FitsCube:
    case Container::FitsSequence:
        break;
    }
    if (p.bayer)
        throw Error("A Bayer mosaic is written to SER only");
    const bool cube = o.container == Container::FitsCube;
    if (cube && (p.timeJitterMs > 0 || p.dropFraction > 0))
        throw Error("A FITS cube has no time for each frame: time jitter and dropped frames "
                    "need SER or a FITS sequence");
    Truth truth = nominalTruth(p);
    FrameRenderer renderer(p);
    const int64_t start = startTicks(o);
    if (cube) {
        if (p.frames < 1)
            throw Error("Invalid simulation parameter: frames = 0 (a FITS cube needs one)");
        writeFits(path, p, renderer, truth, 0, p.frames, true, start, o);
        if (files)
            files->push_back(path);
        return truth;
    }
    for (int n = 0; n < p.frames; ++n) {
        const std::string name = sequenceFileName(path, n);
        writeFits(name, p, renderer, truth, n, 1, false,
                  stampOf(start, truth.frames[static_cast<std::size_t>(n)]), o);
        if (files)
            files->push_back(name);
    }
    return truth;
}

} // namespace corvane::sim
