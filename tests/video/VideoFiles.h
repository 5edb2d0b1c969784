#pragma once
// Test videos written into a temporary folder that lives as long as the
// object, and small helpers to look at what the player put on the panel.
#include "support/TempDir.h"

#include "sim/AviWriter.h"
#include "sim/DriftSim.h"
#include "video/PanelSurface.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::test {

inline std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A small drift video whose frames carry their number.
inline sim::DriftParams codedVideo(sim::Codec codec, int frames = 30) {
    sim::DriftParams p;
    p.codec = codec;
    p.width = 160;
    p.height = 120;
    p.frames = frames;
    p.frameCode = true;
    p.separationArcsec = 8;
    p.scalePxPerArcsec = 2;
    p.declinationDeg = 10;
    p.seed = 7;
    p.gopSize = 8;
    p.bFrames = 2;
    // Unequal channels, so a swap of red and blue shows.
    if (sim::carriesColour(codec))
        p.tint = sim::Tint{1.0, 0.8, 0.5};
    return p;
}

// The frame number written into the picture on the panel, -1 if unreadable.
inline int64_t panelFrameCode(const PanelSurface& panel, int frameHeight) {
    return sim::readFrameCode(panel.data(), PanelSurface::kWidth, frameHeight,
                              PanelSurface::kWidth);
}

// Number of pixels of a w x h frame at the panel's top-left that differ from
// `expected`.
inline int differingPixels(const PanelSurface& panel, const std::vector<sim::Pixel>& expected,
                           int w, int h) {
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bad += panel.pixel(x, y) != expected[static_cast<std::size_t>(y * w + x)];
    return bad;
}

inline bool panelIsBlack(const PanelSurface& panel) {
    for (int y = 0; y < PanelSurface::kHeight; ++y)
        for (int x = 0; x < PanelSurface::kWidth; ++x)
            if (panel.pixel(x, y) != kBlack)
                return false;
    return true;
}

} // namespace corvane::test
