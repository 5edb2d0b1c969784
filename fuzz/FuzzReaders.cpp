#include "FuzzReaders.h"
#include "FuzzScratch.h"

#include "common/Error.h"
#include "video/Demosaic.h"
#include "video/FitsFile.h"
#include "video/FrameSource.h"
#include "video/FrameTiming.h"
#include "video/SerFile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

namespace {

// One file per reader; the name does not end in a number, so a one-frame
// FITS file is not taken for a member of a sequence of other processes' files.
std::string scratchPath(const char* extension) {
    return fuzz::scratchPath(std::string("-input") + extension);
}

using fuzz::writeFile;

// Rows the measuring reads: a band under a box near the middle, and the
// first and last rows.
template <typename Reader> void readSomeRows(const Reader& r, std::vector<uint16_t>& buf) {
    const int64_t frames = r.frameCount();
    const int h = r.height();
    const std::size_t row = static_cast<std::size_t>(r.width()) * 3;
    buf.resize(row * 8);
    for (int64_t n : {int64_t{0}, frames / 2, frames - 1}) {
        r.readRows(n, 0, 1, buf.data());
        r.readRows(n, h - 1, 1, buf.data());
        const int band = std::min(h, 8);
        r.readRows(n, (h - band) / 2, band, buf.data());
    }
}

// Both readers time their frames through the same recording clock.
template <typename Reader> void readTimes(Reader& f) {
    (void)f.startUtc();
    if (!f.hasFrameTimes())
        f.setFrameRate(25);
    (void)f.frameOffset(f.frameCount() - 1);
    (void)f.frameUtc(f.frameCount() / 2);
}

// What the player and the measuring ask of the frame source: the start, the
// timing (a rate given where the file has no times), a whole frame for the
// display and bands for measuring, at the start, middle and end.
void useFrameSource(const std::string& path) {
    const std::unique_ptr<FrameSource> s = openFrameSource(path);
    (void)s->recordingStart();
    if (!s->hasFrameTimes())
        s->setFrameRate(25);
    (void)frameTimingOf(*s);
    (void)s->frameTimeMs(s->frameCount());
    Frame frame;
    for (int32_t n : {0, s->frameCount() / 2, s->frameCount() - 1}) {
        s->read(n, frame);
        const int x = s->width() / 2, y = s->height() / 2;
        s->readBand(n, {x - 3, y - 3, x + 3, y + 3}, frame);
        s->readBand(n, {-2, s->height() - 1, s->width() + 2, s->height() + 3}, frame);
    }
}

void demosaicCorner(const SerFile& f, std::vector<uint16_t>& buf) {
    const SerColour c = f.colour();
    if (c < SerColour::BayerRGGB || c > SerColour::BayerBGGR)
        return;
    const int w = std::min(f.width(), 16), h = std::min(f.height(), 8);
    std::vector<uint16_t> rows(static_cast<std::size_t>(f.width()) * static_cast<std::size_t>(h));
    f.readRows(0, 0, h, rows.data());
    std::vector<uint16_t> mosaic(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        std::copy_n(&rows[static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width())], w,
                    &mosaic[static_cast<std::size_t>(y) * static_cast<std::size_t>(w)]);
    buf.resize(mosaic.size() * 3);
    const auto pattern = static_cast<BayerPattern>(static_cast<int>(c) - 8);
    demosaic(mosaic.data(), w, h, bayerPatternAt(pattern, 1, 1), buf.data());
}

} // namespace

int corvaneFuzzSerInput(const uint8_t* data, std::size_t size) {
    static const std::string path = scratchPath(".ser");
    if (!writeFile(path, data, size))
        return 0;
    std::vector<uint16_t> buf;
    try {
        SerFile f(path);
        readTimes(f);
        readSomeRows(f, buf);
        demosaicCorner(f, buf);
        useFrameSource(path);
    } catch (const Error&) {
        // A clear refusal is what a hostile file should get.
    }
    std::remove(path.c_str());
    return 0;
}

int corvaneFuzzFitsInput(const uint8_t* data, std::size_t size) {
    static const std::string path = scratchPath(".fits");
    if (!writeFile(path, data, size))
        return 0;
    std::vector<uint16_t> buf;
    try {
        FitsFile f(path);
        readTimes(f);
        readSomeRows(f, buf);
        useFrameSource(path);
    } catch (const Error&) {
    }
    std::remove(path.c_str());
    return 0;
}

} // namespace corvane
