// Frame-exact seeking and stepping on simulated drift videos of every codec
// the simulator writes: each frame carries its number, and the lossless
// codecs must give back exactly the rendered picture.
#include "VideoFiles.h"
#include "video/Monochrome.h"
#include "video/Player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

namespace corvane {
namespace {

using sim::Codec;

class PlayerCodecTest : public ::testing::TestWithParam<Codec> {
protected:
    static void SetUpTestSuite() { dir_ = std::make_unique<test::TempDir>(); }
    static void TearDownTestSuite() {
        paths_.clear();
        dir_.reset();
    }

    // Each codec's video is written once for the whole suite.
    static const std::string& videoFor(Codec c) {
        auto it = paths_.find(c);
        if (it == paths_.end()) {
            const std::string path = dir_->file(std::string(sim::codecName(c)) + ".avi");
            sim::writeDriftVideo(path, test::codedVideo(c));
            it = paths_.emplace(c, path).first;
        }
        return it->second;
    }

    void SetUp() override { player.OpenVideo(videoFor(GetParam())); }

    bool lossless() const {
        return GetParam() == Codec::Grey || GetParam() == Codec::Colour ||
               GetParam() == Codec::Palette;
    }

    // The panel shows frame `frame` of the video: its number, its picture
    // (exactly, or for lossy codecs within the noise), black beside it.
    void expectFrameOnPanel(int frame) {
        const sim::DriftParams p = test::codedVideo(GetParam());
        EXPECT_EQ(test::panelFrameCode(panel, p.height), frame);
        EXPECT_TRUE(player.LastFrameDecoded());
        const std::vector<sim::Pixel> expected = sim::renderFrame(p, frame);
        if (lossless()) {
            EXPECT_EQ(test::differingPixels(panel, expected, p.width, p.height), 0)
                << "frame " << frame;
        } else {
            // The codec may lose detail, but a pixel's grey value may not be
            // off by more than the picture's own noise on average; and no
            // channel may be off on average by a grey level (a swap of red
            // and blue or a wrong YUV range is off by 5 and more on the sky
            // alone).
            double grey = 0;
            double bias[3] = {0, 0, 0};
            const int rows = p.height - 8; // above the frame-number blocks
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < p.width; ++x) {
                    const Colour got = panel.pixel(x, y);
                    const sim::Pixel want = expected[static_cast<std::size_t>(y * p.width + x)];
                    double d = 0;
                    for (int ch = 0; ch < 3; ++ch) {
                        const double c = static_cast<double>((got >> (8 * ch)) & 0xFF) -
                                         static_cast<double>((want >> (8 * ch)) & 0xFF);
                        bias[ch] += c;
                        d += c;
                    }
                    grey += std::fabs(d / 3);
                }
            const double count = rows * p.width;
            EXPECT_LT(grey / count, p.noiseSigma) << "frame " << frame;
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_LT(std::fabs(bias[ch] / count), 1.0)
                    << "channel " << ch << " of frame " << frame;
        }
        // What is measured is exactly the intensity of the colour shown.
        const IntensityPlane& measured = player.Intensities();
        ASSERT_EQ(measured.width(), p.width);
        ASSERT_EQ(measured.height(), p.height);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                ASSERT_EQ(panel.pixel(x, y) & 0xFF000000u, 0u)
                    << "top byte set at " << x << "," << y;
                ASSERT_EQ(measured.at(x, y), monochrome(panel.pixel(x, y)))
                    << "at " << x << "," << y;
            }
        EXPECT_EQ(measured.at(p.width, 0), 0);
        EXPECT_EQ(panel.pixel(p.width, 0), kBlack);
        EXPECT_EQ(panel.pixel(0, p.height), kBlack);
        EXPECT_EQ(panel.pixel(PanelSurface::kWidth - 1, PanelSurface::kHeight - 1), kBlack);
    }

    PanelSurface panel;
    Player player{panel};

    static std::unique_ptr<test::TempDir> dir_;
    static std::map<Codec, std::string> paths_;
};

std::unique_ptr<test::TempDir> PlayerCodecTest::dir_;
std::map<Codec, std::string> PlayerCodecTest::paths_;

TEST_P(PlayerCodecTest, SeeksShowTheExactFrameInAnyOrder) {
    ASSERT_EQ(player.VideoLength(), 30);
    // Backwards, across key frames, within one GOP, and the end position.
    for (int n : {0, 29, 13, 12, 14, 7, 8, 16, 3, 22, 21, 1, 15, 9, 25, 0, 24, 23}) {
        player.SeekTo(n);
        ASSERT_EQ(player.CurrentPosition(), n);
        expectFrameOnPanel(n);
    }
}

TEST_P(PlayerCodecTest, StepsForwardDecodeOnwardsWithoutSeeking) {
    player.SetStepSize(1);
    player.SeekTo(0);
    const int64_t seeks = player.Stats().seeks;
    for (int n = 1; n < 30; ++n) {
        player.StepForward();
        ASSERT_EQ(player.CurrentPosition(), n);
        expectFrameOnPanel(n);
    }
    EXPECT_EQ(player.Stats().seeks, seeks);
}

TEST_P(PlayerCodecTest, StepsBackShowEveryFrame) {
    player.SetStepSize(1);
    player.SeekTo(29);
    for (int n = 28; n >= 0; --n) {
        player.StepBack();
        ASSERT_EQ(player.CurrentPosition(), n);
        expectFrameOnPanel(n);
    }
}

TEST_P(PlayerCodecTest, EndPositionShowsTheLastFrame) {
    player.SeekTo(30);
    EXPECT_EQ(player.CurrentPosition(), 30);
    expectFrameOnPanel(29);
    EXPECT_EQ(player.CurrentTimeMs(), 1200); // 30 frames at 25 per second
}

INSTANTIATE_TEST_SUITE_P(EveryCodec, PlayerCodecTest,
                         ::testing::Values(Codec::Grey, Codec::Colour, Codec::Palette, Codec::Mjpeg,
                                           Codec::H264, Codec::Mpeg4, Codec::Yuy2),
                         [](const ::testing::TestParamInfo<Codec>& info) {
                             return std::string(sim::codecName(info.param));
                         });

} // namespace
} // namespace corvane
