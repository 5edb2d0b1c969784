// The player operations: positions and lengths in both time formats, the end
// position, the auto-rewind, the step size, what a redraw costs, and the
// files without a picture, with dropped or damaged frames.
#include "video/Player.h"
#include "VideoFiles.h"
#include "common/Error.h"
#include "video/Monochrome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>

namespace corvane {
namespace {

using sim::Codec;

// A 25 fps grey video of 30 numbered frames, written once for all tests.
class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        path_ = dir_->file("grey.avi");
        sim::writeDriftVideo(path_, test::codedVideo(Codec::Grey));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    int64_t code() const { return test::panelFrameCode(panel, 120); }

    PanelSurface panel;
    Player player{panel};
    static test::TempDir* dir_;
    static std::string path_;
};

test::TempDir* PlayerTest::dir_ = nullptr;
std::string PlayerTest::path_;

void expectNoDevice(const std::function<void()>& operation) {
    try {
        operation();
        ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No MCI device open");
    }
}

TEST_F(PlayerTest, WithoutAVideoTheOperationsNeedingOneRaiseNoMciDeviceOpen) {
    expectNoDevice([&] { player.VideoLength(); });
    expectNoDevice([&] { player.SeekTo(0); });
    expectNoDevice([&] { player.SeekToStart(); });
    expectNoDevice([&] { player.StepForward(); });
    expectNoDevice([&] { player.StepBack(); });
    expectNoDevice([&] { player.RedrawFrame(); });
}

TEST_F(PlayerTest, WithoutAVideoTheOtherOperationsDoNothing) {
    player.SetTimeFormat(TimeFormat::Milliseconds);
    EXPECT_EQ(player.GetTimeFormat(), TimeFormat::Frames);
    EXPECT_EQ(player.CurrentPosition(), 0);
    EXPECT_EQ(player.CurrentTimeMs(), 0);
    EXPECT_FALSE(player.VideoOpen());
    EXPECT_FALSE(player.HasVideo());
    EXPECT_EQ(player.FrameRate(), 0.0);
    player.SetStepSize(4);
    EXPECT_EQ(player.StepSize(), 4);
}

TEST_F(PlayerTest, OpeningSetsTheStepSizeToATenthAndDrawsNothingUntilTheFirstSeek) {
    panel.setPixel(5, 5, kYellow);
    player.OpenVideo(path_);
    EXPECT_TRUE(player.VideoOpen());
    EXPECT_TRUE(player.HasVideo());
    EXPECT_EQ(player.StepSize(), 3);
    EXPECT_EQ(player.CurrentPosition(), 0);
    EXPECT_EQ(player.FrameRate(), 25.0);
    EXPECT_EQ(player.FileName(), path_);
    EXPECT_EQ(panel.pixel(5, 5), kYellow);
    player.SeekTo(0);
    EXPECT_EQ(code(), 0);
}

TEST_F(PlayerTest, OpeningStartsInFramesWhateverTheFormatBefore) {
    player.OpenVideo(path_);
    player.SetTimeFormat(TimeFormat::Milliseconds);
    player.OpenVideo(path_);
    EXPECT_EQ(player.GetTimeFormat(), TimeFormat::Frames);
    EXPECT_EQ(player.VideoLength(), 30);
}

TEST_F(PlayerTest, SeeksOutsideTheVideoLeaveThePlayerWhereItIs) {
    player.OpenVideo(path_);
    player.SeekTo(12);
    const uint64_t drawn = panel.generation();
    for (int p : {31, -1, 1000000, INT32_MIN}) {
        player.SeekTo(p);
        EXPECT_EQ(player.CurrentPosition(), 12) << p;
    }
    player.SetTimeFormat(TimeFormat::Milliseconds);
    for (int p : {1201, -5}) {
        player.SeekTo(p);
        EXPECT_EQ(player.CurrentFrame(), 12) << p;
    }
    EXPECT_EQ(panel.generation(), drawn);
}

struct StepCase {
    const char* name;
    int from;
    int stepSize;
    bool forward;
    int to;      // position after the step
    int shownTo; // frame on the panel
};

TEST_F(PlayerTest, StepsMoveByTheStepSizeWithinTheVideo) {
    const StepCase cases[] = {
        {"forward one", 4, 1, true, 5, 5},
        {"forward by five", 4, 5, true, 9, 9},
        {"forward stops at the end position", 27, 5, true, 30, 29},
        {"at the end rewinds first, then steps", 30, 1, true, 1, 1},
        {"at the end rewinds first, then steps five", 30, 5, true, 5, 5},
        {"back one", 4, 1, false, 3, 3},
        {"back stops at the start", 2, 5, false, 0, 0},
        {"back at the start stays", 0, 1, false, 0, 0},
        {"back from the end position", 30, 1, false, 29, 29},
    };
    player.OpenVideo(path_);
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        player.SeekTo(c.from);
        player.SetStepSize(c.stepSize);
        if (c.forward)
            player.StepForward();
        else
            player.StepBack();
        EXPECT_EQ(player.CurrentPosition(), c.to);
        EXPECT_EQ(code(), c.shownTo);
    }
}

TEST_F(PlayerTest, RedrawFrameWipesMarksWithoutMoving) {
    player.OpenVideo(path_);
    player.SetStepSize(1);
    player.SeekTo(10);
    const Colour before = panel.pixel(30, 20);
    const int32_t measured = player.Intensities().at(30, 20);
    panel.rectangleOutline(20, 20, 40, 40, kRed);
    EXPECT_EQ(panel.pixel(30, 20), kRed);
    EXPECT_EQ(player.Intensities().at(30, 20), measured) << "the outline reached the intensities";
    player.RedrawFrame();
    EXPECT_EQ(player.CurrentPosition(), 10);
    EXPECT_EQ(panel.pixel(30, 20), before);
    EXPECT_EQ(code(), 10);
}

TEST_F(PlayerTest, SeekToTheFrameOnScreenWipesASingleMark) {
    player.OpenVideo(path_);
    player.SeekTo(10);
    const Colour before = panel.pixel(7, 9);
    // One mark pixel, as the track marks are drawn: the frame comes back whole.
    panel.setPixel(7, 9, kYellow);
    player.SeekTo(10);
    EXPECT_EQ(panel.pixel(7, 9), before);
    EXPECT_EQ(code(), 10);
}

TEST_F(PlayerTest, RedrawFrameAtTheEndPositionEndsAtTheStart) {
    player.OpenVideo(path_);
    player.SetStepSize(1);
    player.SeekTo(30);
    player.RedrawFrame();
    EXPECT_EQ(player.CurrentPosition(), 0);
    EXPECT_EQ(code(), 0);
}

TEST_F(PlayerTest, ShowingTheCurrentFrameAgainNeitherSeeksNorDecodes) {
    player.OpenVideo(path_);
    player.SetStepSize(1);
    player.SeekTo(17);
    const SourceStats first = player.Stats();
    player.SeekTo(17);
    EXPECT_EQ(player.Stats().framesDecoded, first.framesDecoded);
    EXPECT_EQ(player.Stats().seeks, first.seeks);
    // Forward decodes the next frame in sequence; back finds it kept.
    player.RedrawFrame();
    EXPECT_EQ(player.Stats().seeks, first.seeks);
    EXPECT_EQ(player.Stats().framesDecoded, first.framesDecoded + 1);
    // The measuring loop's next step lands on the frame just decoded.
    player.StepForward();
    EXPECT_EQ(player.Stats().framesDecoded, first.framesDecoded + 1);
    EXPECT_EQ(code(), 18);
}

TEST_F(PlayerTest, ReadingAFrameWholeLeavesThePanelAndGivesTheShownIntensities) {
    player.OpenVideo(path_);
    player.SeekTo(10);
    ASSERT_EQ(code(), 10); // drawn, as the window paints it
    player.ReadWholeFrame(12);
    EXPECT_EQ(player.CurrentPosition(), 12);
    EXPECT_EQ(code(), 10) << "the panel was drawn on";
    PanelSurface otherPanel;
    Player shown{otherPanel};
    shown.OpenVideo(path_);
    shown.SeekTo(12);
    const IntensityPlane &read = player.Intensities(), &seen = shown.Intensities();
    ASSERT_FALSE(read.partial());
    ASSERT_EQ(read.width(), seen.width());
    ASSERT_EQ(read.height(), seen.height());
    int32_t differing = 0;
    for (int y = 0; y < seen.height(); ++y)
        for (int x = 0; x < seen.width(); ++x)
            differing += read.at(x, y) != seen.at(x, y);
    EXPECT_EQ(differing, 0);
    // Showing the frame read afterwards puts it on the panel.
    player.SeekTo(12);
    EXPECT_EQ(code(), 12);
}

TEST_F(PlayerTest, RepaintPlayerCallsTheWindowsHook) {
    int calls = 0;
    player.RepaintPlayer(); // no hook installed: nothing happens
    player.onRepaintPlayer = [&] { ++calls; };
    player.RepaintPlayer();
    EXPECT_EQ(calls, 1);
}

TEST_F(PlayerTest, ClosingBlanksThePanel) {
    player.OpenVideo(path_);
    player.SeekTo(3);
    ASSERT_FALSE(test::panelIsBlack(panel));
    player.Close();
    EXPECT_TRUE(test::panelIsBlack(panel));
    EXPECT_FALSE(player.VideoOpen());
    expectNoDevice([&] { player.SeekTo(0); });
}

// --- time in milliseconds ----------------------------------------------

TEST(FrameTime, IsTheStreamTimeRoundedToTheNearestMillisecond) {
    struct Row {
        const char* name;
        int64_t n, num, den, ms;
    } rows[] = {
        {"25 fps", 7, 1, 25, 280},
        {"29.97 fps, frame 123", 123, 1001, 30000, 4104},
        {"29.97 fps, frame 1 rounds down", 1, 1001, 30000, 33},
        {"29.97 fps, frame 2 rounds up", 2, 1001, 30000, 67},
        {"tie goes to the even millisecond (0.5)", 1, 1, 2000, 0},
        {"tie goes to the even millisecond (1.5)", 3, 1, 2000, 2},
        {"59 fps, one second", 59, 1, 59, 1000},
        {"2,000,000 frames at 1001/30000", 2000000, 1001, 30000, 66733333},
    };
    for (const Row& r : rows)
        EXPECT_EQ(frameTimeMs(r.n, r.num, r.den), r.ms) << r.name;
}

class NtscPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::DriftParams p;
        p.width = 16;
        p.height = 16;
        p.frames = 130;
        p.fps = 29.97;
        p.noiseSigma = 0;
        sim::writeDriftVideo(dir.file("ntsc.avi"), p);
        player.OpenVideo(dir.file("ntsc.avi"));
    }
    test::TempDir dir;
    PanelSurface panel;
    Player player{panel};
};

TEST_F(NtscPlayerTest, TimeOfAFrameComesFromTheStreamTimeBase) {
    player.SeekTo(123);
    EXPECT_EQ(player.CurrentTimeMs(), 4104);
    EXPECT_EQ(player.CurrentPosition(), 123);
    EXPECT_EQ(player.GetTimeFormat(), TimeFormat::Frames);
    EXPECT_NEAR(player.FrameRate(), 29.97003, 1e-5);
}

TEST_F(NtscPlayerTest, MillisecondFormatCountsPositionsAndLengthInMilliseconds) {
    player.SetTimeFormat(TimeFormat::Milliseconds);
    EXPECT_EQ(player.VideoLength(), 4338); // 130 frames of 33.3667 ms
    struct Row {
        int seekMs, frame, positionMs;
    } rows[] = {
        {4104, 123, 4104}, // exactly the (rounded) time of frame 123
        {4120, 123, 4104}, // inside frame 123
        {4137, 124, 4137}, // frame 124 at 4137.47 ms reads 4137
        {0, 0, 0},         {33, 1, 33}, {4338, 130, 4338}, // the end position
    };
    for (const Row& r : rows) {
        player.SeekTo(r.seekMs);
        EXPECT_EQ(player.CurrentFrame(), r.frame) << r.seekMs;
        EXPECT_EQ(player.CurrentPosition(), r.positionMs) << r.seekMs;
        EXPECT_EQ(player.CurrentTimeMs(), r.positionMs) << r.seekMs;
    }
    // Steps count frames in either format.
    player.SeekTo(0);
    player.SetStepSize(2);
    player.StepForward();
    EXPECT_EQ(player.CurrentFrame(), 2);
    EXPECT_EQ(player.GetTimeFormat(), TimeFormat::Milliseconds);
}

// --- files without frames, dropped and damaged frames ----------------------

TEST(PlayerSpecialFiles, AVideoOfLengthZeroOpensAndShowsBlack) {
    test::TempDir dir;
    sim::VideoFormat f;
    { sim::AviWriter(dir.file("empty.avi"), f).finish(); }
    PanelSurface panel;
    panel.setPixel(1, 1, kYellow);
    Player player(panel);
    player.OpenVideo(dir.file("empty.avi"));
    EXPECT_TRUE(player.HasVideo());
    EXPECT_EQ(player.VideoLength(), 0);
    EXPECT_EQ(player.StepSize(), 0);
    player.SeekTo(0);
    EXPECT_FALSE(player.LastFrameDecoded());
    EXPECT_TRUE(test::panelIsBlack(panel));
    player.SeekTo(1);
    EXPECT_EQ(player.CurrentPosition(), 0);
    player.SetStepSize(1);
    player.StepForward();
    player.StepBack();
    player.RedrawFrame();
    EXPECT_EQ(player.CurrentPosition(), 0);
}

TEST(PlayerSpecialFiles, AFileWithoutAPictureOpensButNeitherStepsNorDraws) {
    test::TempDir dir;
    sim::writeAudioOnlyAvi(dir.file("sound.avi"), 1.0);
    PanelSurface panel;
    panel.setPixel(1, 1, kYellow);
    Player player(panel);
    player.OpenVideo(dir.file("sound.avi"));
    EXPECT_TRUE(player.VideoOpen());
    EXPECT_FALSE(player.HasVideo());
    EXPECT_EQ(player.VideoLength(), 0);
    EXPECT_EQ(player.FrameRate(), 0.0);
    player.SeekTo(0);
    player.SetStepSize(1);
    player.StepForward();
    player.StepBack();
    player.RedrawFrame();
    EXPECT_EQ(player.CurrentPosition(), 0);
    EXPECT_EQ(panel.pixel(1, 1), kYellow);
}

class DroppedFramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Frames 3, 4, 7 and 8 were dropped by the capture: zero-length chunks.
        const sim::DriftParams p = test::codedVideo(Codec::Grey, 10);
        sim::VideoFormat f;
        f.width = p.width;
        f.height = p.height;
        sim::AviWriter w(dir.file("dropped.avi"), f);
        for (int n : {0, 1, 2, 5, 6, 9})
            w.writeFrame(sim::renderFrame(p, n), n);
        w.finish();
        player.OpenVideo(dir.file("dropped.avi"));
        player.SetStepSize(1);
    }
    test::TempDir dir;
    PanelSurface panel;
    Player player{panel};
};

// Position -> frame on the panel: a dropped frame shows the one before it.
constexpr int kShownFor[10] = {0, 1, 2, 2, 2, 5, 6, 6, 6, 9};

TEST_F(DroppedFramesTest, DroppedFramesKeepTheirNumbersAndShowTheFrameBefore) {
    EXPECT_EQ(player.VideoLength(), 10);
    player.SeekTo(0);
    for (int n = 1; n < 10; ++n) {
        player.StepForward();
        EXPECT_EQ(player.CurrentPosition(), n);
        EXPECT_EQ(player.CurrentTimeMs(), 40 * n);
        EXPECT_EQ(test::panelFrameCode(panel, 120), kShownFor[n]) << n;
        EXPECT_TRUE(player.LastFrameDecoded());
    }
}

TEST_F(DroppedFramesTest, TheSourceNamesTheDroppedFramesAndTimesThemByTheFrameRate) {
    const FrameSource* source = player.Source();
    ASSERT_NE(source, nullptr);
    for (int n = 0; n < 10; ++n) {
        const bool dropped = n == 3 || n == 4 || n == 7 || n == 8;
        EXPECT_EQ(source->frameFate(n), dropped ? FrameFate::Dropped : FrameFate::Recorded) << n;
        EXPECT_EQ(source->frameTimeUs(n), 40000 * n);
    }
    EXPECT_STREQ(timeSourceText(source->timeSource()), "frame rate");
    EXPECT_FALSE(source->recordingStart().fromFile);
}

TEST_F(DroppedFramesTest, SeeksToDroppedFramesInAnyOrder) {
    for (int n : {8, 3, 9, 4, 7, 0, 5, 3, 10}) {
        player.SeekTo(n);
        EXPECT_EQ(test::panelFrameCode(panel, 120), kShownFor[std::min(n, 9)]) << n;
        EXPECT_TRUE(player.LastFrameDecoded());
    }
}

TEST(PlayerSpecialFiles, ADamagedFrameShowsBlackAndThePlayerMovesOn) {
    test::TempDir dir;
    const sim::DriftParams p = test::codedVideo(Codec::Grey, 8);
    sim::VideoFormat f;
    f.width = p.width;
    f.height = p.height;
    {
        sim::AviWriter w(dir.file("damaged.avi"), f);
        for (int n = 0; n < 8; ++n) {
            if (n == 4) // half a frame: the decoder refuses it
                w.writeRawChunk(std::vector<uint8_t>(w.rawFrameSize() / 2, 128), n);
            else
                w.writeFrame(sim::renderFrame(p, n), n);
        }
        w.finish();
    }
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(dir.file("damaged.avi"));
    player.SetStepSize(1);
    for (int from : {3, 7, 0}) {
        player.SeekTo(from);
        player.SeekTo(4);
        EXPECT_EQ(player.CurrentPosition(), 4);
        EXPECT_FALSE(player.LastFrameDecoded()) << "from " << from;
        EXPECT_TRUE(test::panelIsBlack(panel)) << "from " << from;
    }
    player.StepForward();
    EXPECT_TRUE(player.LastFrameDecoded());
    EXPECT_EQ(test::panelFrameCode(panel, 120), 5);
    player.SeekTo(3);
    player.StepForward();
    EXPECT_EQ(player.CurrentPosition(), 4);
    EXPECT_TRUE(test::panelIsBlack(panel));
}

} // namespace
} // namespace corvane
