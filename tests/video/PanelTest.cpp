// Intensities of colours (the grey-value table with its ties, system colours,
// the invalid colour) and the panel: outlines and marks over the frame, and
// how a frame of any size is seen through the panel and where a click lands.
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

// A colour frame of w x h whose every pixel tells where it lies.
DisplayImage patternFrame(int w, int h) {
    DisplayImage image;
    std::vector<Colour>& px = image.resetColour(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<std::size_t>(y * w + x)] =
                rgb(x % 256, y % 256, (x / 256) * 16 + y / 256);
    return image;
}

DisplayImage greyFrame(int w, int h, uint8_t level) {
    DisplayImage image;
    std::vector<uint8_t>& g = image.resetGrey(w, h);
    std::fill(g.begin(), g.end(), level);
    return image;
}

TEST(Panel, ReadsOutsideThePanelGiveTheInvalidColour) {
    PanelSurface panel;
    const DisplayImage white = greyFrame(640, 480, 255);
    panel.showFrame(&white);
    for (auto [x, y] : {std::pair{-1, 0}, {640, 0}, {0, -1}, {0, 480}, {10000, 10000}})
        EXPECT_EQ(panel.pixel(x, y), kInvalidColour);
    panel.setPixel(640, 0, kRed); // beyond the panel: shown nowhere, no crash
    EXPECT_EQ(panel.pixel(639, 0), rgb(255, 255, 255));
}

TEST(Panel, AnOutlineIsShownOverTheFrameUntilTheNextFrame) {
    PanelSurface panel;
    const DisplayImage grey = greyFrame(640, 480, 200);
    panel.showFrame(&grey);
    panel.rectangleOutline(10, 20, 30, 40, kRed);
    // Right and bottom are exclusive: the lines lie on columns 10 and 29,
    // rows 20 and 39.
    for (auto [x, y] : {std::pair{10, 25}, {29, 25}, {15, 20}, {15, 39}})
        EXPECT_EQ(panel.pixel(x, y), kRed) << x << "," << y;
    for (auto [x, y] : {std::pair{30, 25}, {15, 40}, {15, 30}})
        EXPECT_EQ(panel.pixel(x, y), rgb(200, 200, 200)) << x << "," << y;
    panel.showFrame(&grey);
    EXPECT_EQ(panel.pixel(10, 25), rgb(200, 200, 200));
    EXPECT_EQ(panel.markCount(), 0u);
}

TEST(Panel, ASmallerFrameSitsTopLeftOnBlack) {
    PanelSurface panel;
    const DisplayImage white = greyFrame(640, 480, 255);
    panel.showFrame(&white);
    DisplayImage frame;
    std::vector<Colour>& px = frame.resetColour(100, 50);
    std::fill(px.begin(), px.end(), rgb(10, 20, 30));
    panel.setFrameSize(100, 50);
    panel.showFrame(&frame);
    panel.setFit(true); // nothing to fit: the view stays as it is
    EXPECT_EQ(panel.pixel(0, 0), rgb(10, 20, 30));
    EXPECT_EQ(panel.pixel(99, 49), rgb(10, 20, 30));
    EXPECT_EQ(panel.pixel(100, 0), kBlack);
    EXPECT_EQ(panel.pixel(0, 50), kBlack);
    EXPECT_EQ(panel.pixel(639, 479), kBlack);
    int fx = 0, fy = 0;
    panel.panelToFrame(500, 400, fx, fy); // a click on the black counts on
    EXPECT_EQ(fx, 500);
    EXPECT_EQ(fy, 400);
}

// A 1280 x 960 frame seen through the panel: which frame pixel each panel
// pixel shows, and where a click on it lands.
struct ViewCase {
    const char* name;
    bool fit;
    int originX, originY; // asked for; kept within the frame
    int px, py;           // panel pixel
    int fx, fy;           // frame pixel it shows and a click there names
};

class LargerFrameView : public ::testing::TestWithParam<ViewCase> {};

TEST_P(LargerFrameView, ShowsAndMapsTheSameFramePixel) {
    const ViewCase& c = GetParam();
    const DisplayImage frame = patternFrame(1280, 960);
    PanelSurface panel;
    panel.setFrameSize(1280, 960);
    panel.showFrame(&frame);
    panel.setFit(c.fit);
    panel.setOrigin(c.originX, c.originY);
    int fx = -1, fy = -1;
    panel.panelToFrame(c.px, c.py, fx, fy);
    EXPECT_EQ(fx, c.fx);
    EXPECT_EQ(fy, c.fy);
    EXPECT_EQ(panel.pixel(c.px, c.py), frame.pixel(c.fx, c.fy));
    // A mark on that frame pixel shows on that panel pixel.
    panel.setPixel(c.fx, c.fy, kYellow);
    EXPECT_EQ(panel.pixel(c.px, c.py), kYellow);
}

INSTANTIATE_TEST_SUITE_P(
    Views, LargerFrameView,
    ::testing::Values(ViewCase{"top_left_at_its_own_size", false, 0, 0, 300, 301, 300, 301},
                      ViewCase{"scrolled_to_the_pair", false, 600, 450, 300, 250, 900, 700},
                      ViewCase{"scrolled_past_the_edge_is_held", false, 5000, 5000, 0, 0,
                               1280 - 640 + PanelSurface::kScrollSlack,
                               960 - 480 + PanelSurface::kScrollSlack},
                      ViewCase{"fit_halves_the_frame", true, 0, 0, 450, 350, 900, 700},
                      ViewCase{"fit_ignores_the_origin", true, 600, 450, 639, 479, 1278, 958}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Panel, FitViewOfAWideFrameKeepsItsShape) {
    // 1936 x 1096 fills the width: 640 x 362 panel pixels, black below.
    const DisplayImage frame = patternFrame(1936, 1096);
    PanelSurface panel;
    panel.setFrameSize(1936, 1096);
    panel.showFrame(&frame);
    panel.setFit(true);
    int fx = 0, fy = 0;
    panel.panelToFrame(639, 361, fx, fy);
    EXPECT_EQ(fx, 639 * 1936 / 640);
    EXPECT_EQ(fy, 361 * 1936 / 640);
    EXPECT_NE(panel.pixel(639, 361), kBlack);
    EXPECT_EQ(panel.pixel(0, 363), kBlack);
}

TEST(Panel, FollowingAStarScrollsOnlyWhenItNearsTheEdge) {
    const DisplayImage frame = patternFrame(1280, 960);
    PanelSurface panel;
    panel.setFrameSize(1280, 960);
    panel.showFrame(&frame);
    panel.follow(300, 200, 40); // well inside the first view
    EXPECT_EQ(panel.originX(), 0);
    EXPECT_EQ(panel.originY(), 0);
    panel.follow(900, 700, 40); // off the view: centred on it
    EXPECT_EQ(panel.originX(), 900 - 320);
    EXPECT_EQ(panel.originY(), 700 - 240);
    panel.follow(910, 705, 40);
    EXPECT_EQ(panel.originX(), 900 - 320);
}

TEST(Panel, EveryChangeBumpsTheGeneration) {
    PanelSurface panel;
    const uint64_t g0 = panel.generation();
    const DisplayImage frame = greyFrame(2, 2, 9);
    panel.showFrame(&frame);
    const uint64_t g1 = panel.generation();
    EXPECT_GT(g1, g0);
    panel.rectangleOutline(0, 0, 5, 5, kYellow);
    EXPECT_GT(panel.generation(), g1);
}

} // namespace
} // namespace corvane
