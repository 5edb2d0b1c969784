// The panel's pixels and their intensities: the grey-value table with its
// ties, system colours, the invalid colour, outlines, and how a frame of any
// size lands on the panel.
#include "video/Monochrome.h"
#include "video/PanelSurface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvane {
namespace {

Colour rgb(unsigned r, unsigned g, unsigned b) {
    return r | (g << 8) | (b << 16);
}

TEST(Monochrome, IntensityIsTheChannelSumTimes255Over768RoundedHalfToEven) {
    struct Row {
        const char* name;
        Colour colour;
        int intensity;
    } rows[] = {
        {"black", rgb(0, 0, 0), 0},
        {"sum 1", rgb(1, 0, 0), 0},
        {"sum 2", rgb(0, 1, 1), 1},
        {"pure red", rgb(255, 0, 0), 85},
        {"pure green", rgb(0, 255, 0), 85},
        {"pure blue", rgb(0, 0, 255), 85},
        {"tie at sum 128 goes down to 42", rgb(128, 0, 0), 42},
        {"tie at sum 384 (mid grey) stays at 128", rgb(128, 128, 128), 128},
        {"yellow", rgb(255, 255, 0), 169},
        {"tie at sum 640 goes down to 212", rgb(255, 255, 130), 212},
        {"white is 254, never 255", rgb(255, 255, 255), 254},
    };
    for (const Row& r : rows)
        EXPECT_EQ(monochrome(r.colour), r.intensity) << r.name;
}

TEST(Monochrome, EveryChannelSumMatchesTheFloatingPointRule) {
    for (unsigned s = 0; s <= 765; ++s) {
        const unsigned r = std::min(s, 255u);
        const unsigned g = std::min(s - r, 255u);
        const unsigned b = s - r - g;
        const double exact = s * 255.0 / 768.0;
        EXPECT_EQ(monochrome(rgb(r, g, b)), static_cast<int>(std::nearbyint(exact))) << s;
    }
}

TEST(Monochrome, TopBitNamesASystemColour) {
    EXPECT_EQ(monochrome(0x80000005u), monochrome(systemColour(5))); // window: white
    EXPECT_EQ(monochrome(0x80000005u), 254);
    EXPECT_EQ(monochrome(0x80000010u), monochrome(systemColour(16))); // button shadow
    // Only the low byte counts.
    EXPECT_EQ(monochrome(0x80FFFF05u), 254);
    // Indexes the platform does not define are black, so is the invalid colour.
    EXPECT_EQ(monochrome(0x8000001Fu), 0);
    EXPECT_EQ(monochrome(kInvalidColour), 0);
}

TEST(Panel, ReadsOutsideThePanelGiveTheInvalidColourAndIntensityZero) {
    PanelSurface panel;
    for (int x = 0; x < PanelSurface::kWidth; ++x)
        panel.setPixel(x, 0, rgb(255, 255, 255));
    for (auto [x, y] : {std::pair{-1, 0}, {640, 0}, {0, -1}, {0, 480}, {10000, 10000}}) {
        EXPECT_EQ(panel.pixel(x, y), kInvalidColour);
        EXPECT_EQ(intensity(panel, x, y), 0);
    }
    panel.setPixel(640, 0, kRed); // dropped, no crash
    EXPECT_EQ(intensity(panel, 639, 0), 254);
}

TEST(Panel, AnOutlineReadsAsIntensity85UntilTheFrameIsDrawnAgain) {
    PanelSurface panel;
    const std::vector<Colour> grey(640 * 480, rgb(200, 200, 200));
    panel.drawFrame(grey.data(), 640, 480, 640);
    panel.rectangleOutline(10, 20, 30, 40, kRed);
    // Right and bottom are exclusive: the lines lie on columns 10 and 29,
    // rows 20 and 39.
    for (auto [x, y] : {std::pair{10, 25}, {29, 25}, {15, 20}, {15, 39}})
        EXPECT_EQ(intensity(panel, x, y), 85) << x << "," << y;
    for (auto [x, y] : {std::pair{30, 25}, {15, 40}, {15, 30}})
        EXPECT_EQ(intensity(panel, x, y), 199) << x << "," << y;
    panel.drawFrame(grey.data(), 640, 480, 640);
    EXPECT_EQ(intensity(panel, 10, 25), 199);
}

TEST(Panel, ASmallerFrameSitsTopLeftOnBlack) {
    PanelSurface panel;
    const std::vector<Colour> white(640 * 480, rgb(255, 255, 255));
    panel.drawFrame(white.data(), 640, 480, 640);
    const std::vector<Colour> frame(100 * 50, rgb(10, 20, 30));
    panel.drawFrame(frame.data(), 100, 50, 100);
    EXPECT_EQ(panel.pixel(0, 0), rgb(10, 20, 30));
    EXPECT_EQ(panel.pixel(99, 49), rgb(10, 20, 30));
    EXPECT_EQ(panel.pixel(100, 0), kBlack);
    EXPECT_EQ(panel.pixel(0, 50), kBlack);
    EXPECT_EQ(panel.pixel(639, 479), kBlack);
}

TEST(Panel, ALargerFrameShowsItsTopLeft640By480) {
    PanelSurface panel;
    const int w = 1280, h = 960;
    std::vector<Colour> frame(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            frame[static_cast<std::size_t>(y * w + x)] =
                rgb(x % 256, y % 256, (x / 256) * 16 + y / 256);
    panel.drawFrame(frame.data(), w, h, w);
    for (auto [x, y] : {std::pair{0, 0}, {639, 0}, {0, 479}, {639, 479}, {300, 301}})
        EXPECT_EQ(panel.pixel(x, y), frame[static_cast<std::size_t>(y * w + x)]) << x << "," << y;
}

TEST(Panel, EveryChangeBumpsTheGeneration) {
    PanelSurface panel;
    const uint64_t g0 = panel.generation();
    const std::vector<Colour> frame(4, kRed);
    panel.drawFrame(frame.data(), 2, 2, 2);
    const uint64_t g1 = panel.generation();
    EXPECT_GT(g1, g0);
    panel.rectangleOutline(0, 0, 5, 5, kYellow);
    EXPECT_GT(panel.generation(), g1);
}

} // namespace
} // namespace corvane
