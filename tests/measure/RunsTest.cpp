// Runs over the frames of a simulated drift video through the player: which
// frames a run measures, when it ends, and the marks left on the panel.
#include "measure/Runs.h"
#include "common/Error.h"
#include "measure/Reset.h"
#include "measure/Selection.h"
#include "sim/AviWriter.h"
#include "sim/DriftSim.h"
#include "video/Player.h"
#include "views/Overlays.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace corvane {
namespace {

constexpr int kFrames = 40;

// Tests run as separate processes at the same time: each writes its own file.
std::string tempVideo(const char* name) {
    return ::testing::TempDir() + "corvane_" + name + "_" + std::to_string(getpid()) + ".avi";
}

// A clean pair 26 pixels apart drifting along the screen at 25 frames a second.
// The sky is black: a sky background outweighs the stars in the large system
// box, which then lags behind the drift.
sim::DriftParams driftParams() {
    sim::DriftParams p;
    p.frames = kFrames;
    p.separationArcsec = 10;
    p.scalePxPerArcsec = 2.6;
    p.positionAngleDeg = 60;
    p.declinationDeg = 0;
    p.seeingFwhmPx = 3.5;
    p.jitterPx = 0;
    p.sky = 0;
    p.noiseSigma = 0.5;
    return p;
}

class RunOverVideo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        path_ = tempVideo("runs");
        truth_ = new sim::Truth(sim::writeDriftVideo(path_, driftParams()));
    }
    static void TearDownTestSuite() {
        std::remove(path_.c_str());
        delete truth_;
        truth_ = nullptr;
    }

    void SetUp() override {
        player.OpenVideo(path_);
        player.SetStepSize(1);
        player.SetTimeFormat(TimeFormat::Frames);
    }

    // Both clicks on frame `start`, as the window makes them: the primary
    // click, the reset, the secondary click. Then "GO!" redraws the frame.
    void selectOn(int32_t start) {
        resetvideo(ws, player, start);
        const sim::FrameTruth& t = truth_->frames[static_cast<std::size_t>(start)];
        selectprimary(ws, player.Intensities(), static_cast<int32_t>(std::lround(t.primary.x)),
                      static_cast<int32_t>(std::lround(t.primary.y)), 12);
        resetvideo(ws, player, start);
        selectsecondary(ws, player, static_cast<int32_t>(std::lround(t.secondary.x)),
                        static_cast<int32_t>(std::lround(t.secondary.y)), 12);
        player.RedrawFrame();
    }

    RunResult runTo(int32_t stop, Method method, std::vector<int32_t>* seen = nullptr) {
        RunHooks hooks;
        hooks.stopFrame = [stop] { return stop; };
        if (seen)
            hooks.afterFrame = [seen](int32_t f) { seen->push_back(f); };
        return runFrames(ws, player, method, hooks);
    }

    static std::string path_;
    static sim::Truth* truth_;
    PanelSurface panel;
    Player player{panel};
    WorkingState ws;
};

std::string RunOverVideo::path_;
sim::Truth* RunOverVideo::truth_ = nullptr;

TEST_F(RunOverVideo, MeasuresTheFramesAfterTheStartUpToTheStop) {
    for (Method method : {Method::WeightedAverage, Method::PeakSearch}) {
        SCOPED_TRACE(method == Method::PeakSearch ? "peak search" : "weighted average");
        selectOn(5);
        ASSERT_EQ(ws.FrameData.size(), static_cast<std::size_t>(kFrames) + 1);
        std::vector<int32_t> seen;
        const RunResult r = runTo(30, method, &seen);
        EXPECT_EQ(r.framesMeasured, 25);
        EXPECT_FALSE(r.cancelled);
        EXPECT_FALSE(r.stoppedMoving);
        EXPECT_EQ(player.CurrentPosition(), 30);
        ASSERT_EQ(seen.size(), 25u);
        for (int32_t i = 0; i < 25; ++i)
            EXPECT_EQ(seen[static_cast<std::size_t>(i)], 6 + i);
        for (int32_t n = 0; n <= kFrames; ++n) {
            const FrameRow& row = ws.FrameData[static_cast<std::size_t>(n)];
            if (n < 6 || n > 30) {
                EXPECT_EQ(row.FrameNo, 0) << n;
                EXPECT_FALSE(row.Valid) << n;
                continue;
            }
            EXPECT_EQ(row.FrameNo, n);
            EXPECT_EQ(row.TimeUs, n * 40000);
            EXPECT_TRUE(row.Valid) << n;
            // Within half a pixel of the truth: the most the peak search's
            // centre can stay off a clean star.
            const sim::FrameTruth& t = truth_->frames[static_cast<std::size_t>(n)];
            EXPECT_NEAR(row.PrimaryX, t.primary.x, 0.5) << n;
            EXPECT_NEAR(row.PrimaryY, t.primary.y, 0.5) << n;
            EXPECT_NEAR(row.SecondaryX, t.secondary.x, 0.5) << n;
            EXPECT_NEAR(row.SecondaryY, t.secondary.y, 0.5) << n;
        }
        EXPECT_EQ(CountValidRows(ws.FrameData), 25);
        EXPECT_TRUE(reductionDue(ws.FrameData));
    }
}

TEST_F(RunOverVideo, StartOnOrPastTheStopMeasuresNothing) {
    selectOn(10);
    EXPECT_EQ(runTo(10, Method::PeakSearch).framesMeasured, 0);
    EXPECT_EQ(runTo(4, Method::PeakSearch).framesMeasured, 0);
    EXPECT_EQ(CountValidRows(ws.FrameData), 0);
    EXPECT_EQ(player.CurrentPosition(), 10);
}

TEST_F(RunOverVideo, StopFrameIsReadBeforeEveryFrame) {
    selectOn(0);
    RunHooks hooks;
    int reads = 0;
    hooks.stopFrame = [&reads] { return ++reads <= 3 ? 20 : 3; };
    const RunResult r = runFrames(ws, player, Method::PeakSearch, hooks);
    EXPECT_EQ(r.framesMeasured, 3);
    EXPECT_EQ(player.CurrentPosition(), 3);
}

TEST_F(RunOverVideo, CancelEndsTheRunBeforeTheNextFrame) {
    selectOn(0);
    RunHooks hooks;
    int measured = 0;
    hooks.stopFrame = [] { return kFrames; };
    hooks.afterFrame = [&measured](int32_t) { ++measured; };
    hooks.cancelRequested = [&measured] { return measured == 5; };
    const RunResult r = runFrames(ws, player, Method::WeightedAverage, hooks);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.framesMeasured, 5);
    EXPECT_EQ(player.CurrentPosition(), 5);
    EXPECT_EQ(CountValidRows(ws.FrameData), 5);
}

TEST_F(RunOverVideo, EndsWhenAStepDoesNotMoveThePlayer) {
    selectOn(0);
    player.SetStepSize(0);
    const RunResult r = runTo(kFrames, Method::PeakSearch);
    EXPECT_TRUE(r.stoppedMoving);
    EXPECT_EQ(r.framesMeasured, 0);
}

TEST_F(RunOverVideo, StopBeyondTheEndEndsAtTheWrap) {
    // A stop past the video's end: the step from the end position wraps to the
    // start, which the run takes as the player no longer moving on.
    selectOn(35);
    const RunResult r = runTo(kFrames + 10, Method::PeakSearch);
    EXPECT_TRUE(r.stoppedMoving);
    EXPECT_EQ(r.framesMeasured, kFrames - 35);
}

TEST_F(RunOverVideo, GoOnTheEndPositionMeasuresFromFrameOne) {
    selectOn(0);
    player.SeekTo(kFrames);
    player.RedrawFrame(); // "GO!": the step from the end rewinds to the start
    ASSERT_EQ(player.CurrentPosition(), 0);
    EXPECT_EQ(runTo(4, Method::PeakSearch).framesMeasured, 4);
    EXPECT_EQ(ws.FrameData[1].FrameNo, 1);
    EXPECT_EQ(ws.FrameData[4].FrameNo, 4);
}

TEST_F(RunOverVideo, ResetEmptiesTheTableAndGoesToTheStartFrame) {
    selectOn(0);
    runTo(20, Method::PeakSearch);
    ASSERT_GT(CountValidRows(ws.FrameData), 0);
    const TStarbox primary = ws.PrimaryBox;
    resetvideo(ws, player, 12);
    EXPECT_EQ(player.CurrentPosition(), 12);
    EXPECT_EQ(ws.FrameData.size(), static_cast<std::size_t>(kFrames) + 1);
    EXPECT_EQ(CountValidRows(ws.FrameData), 0);
    EXPECT_EQ(ws.FrameData[10].FrameNo, 0);
    EXPECT_EQ(ws.PrimaryBox.CentreX, primary.CentreX) << "reset leaves the boxes";
}

TEST(ClearData, WithoutAVideoEmptiesTheTableAndReportsNoDevice) {
    PanelSurface panel;
    Player player(panel);
    WorkingState ws;
    ws.FrameData.assign(7, FrameRow{});
    try {
        cleardata(ws, player);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "No MCI device open");
    }
    EXPECT_TRUE(ws.FrameData.empty());
    EXPECT_THROW(resetvideo(ws, player, 0), Error);
}

TEST(RunWithoutPicture, EndsAtOnce) {
    const std::string path = tempVideo("audio");
    sim::writeAudioOnlyAvi(path, 2.0);
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(path);
    WorkingState ws;
    RunHooks hooks;
    hooks.stopFrame = [] { return 1000; };
    const RunResult r = runFrames(ws, player, Method::PeakSearch, hooks);
    EXPECT_TRUE(r.stoppedMoving);
    EXPECT_EQ(r.framesMeasured, 0);
    std::remove(path.c_str());
}

TEST(ReductionDue, NeedsSixteenValidRowsInTheWholeTable) {
    FrameTable table(40);
    for (int i = 0; i < 15; ++i)
        table[static_cast<std::size_t>(2 * i)].Valid = true;
    EXPECT_FALSE(reductionDue(table));
    table[39].Valid = true;
    EXPECT_TRUE(reductionDue(table));
}

struct MarkCase {
    const char* name;
    float x, y;
    int px, py;
};

class Drawpoints : public ::testing::TestWithParam<MarkCase> {};

TEST_P(Drawpoints, MarksAtTheRoundedPositionHalvesToEven) {
    const MarkCase& c = GetParam();
    FrameTable table(3);
    table[1] = FrameRow{};
    table[1].PrimaryX = c.x;
    table[1].PrimaryY = c.y;
    table[1].SecondaryX = c.x + 20;
    table[1].SecondaryY = c.y;
    table[1].Valid = true;
    PanelSurface panel;
    drawpoints(table, 1, panel);
    EXPECT_EQ(panel.pixel(c.px, c.py), kRed);
    EXPECT_EQ(panel.pixel(c.px + 20, c.py), kYellow);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, Drawpoints,
    ::testing::Values(MarkCase{"ten_and_a_half_goes_to_10", 10.5f, 30.5f, 10, 30},
                      MarkCase{"eleven_and_a_half_goes_to_12", 11.5f, 31.5f, 12, 32},
                      MarkCase{"nearest", 100.4f, 200.6f, 100, 201}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Drawpoints, InvalidRowsAndFramesOutsideTheTableDrawNothing) {
    FrameTable table(2);
    table[1].PrimaryX = 50;
    table[1].PrimaryY = 60;
    PanelSurface panel;
    drawpoints(table, 1, panel);
    drawpoints(table, 2, panel);
    drawpoints(table, -1, panel);
    EXPECT_EQ(panel.pixel(50, 60), kBlack);
}

TEST(Drawtrail, MarksEveryValidRow) {
    FrameTable table(5);
    for (int i = 0; i < 5; ++i) {
        FrameRow& r = table[static_cast<std::size_t>(i)];
        r.PrimaryX = 100.0f + i;
        r.PrimaryY = 50;
        r.SecondaryX = 100.0f + i;
        r.SecondaryY = 80;
        r.Valid = i != 2;
    }
    PanelSurface panel;
    drawtrail(table, panel);
    for (int i = 0; i < 5; ++i) {
        const Colour expectPrimary = i == 2 ? kBlack : kRed;
        const Colour expectSecondary = i == 2 ? kBlack : kYellow;
        EXPECT_EQ(panel.pixel(100 + i, 50), expectPrimary) << i;
        EXPECT_EQ(panel.pixel(100 + i, 80), expectSecondary) << i;
    }
}

TEST(Drawtrail, NeverMeasuredRowTickedActiveMarksTheOrigin) {
    FrameTable table(3);
    table[2].Valid = true; // "Active" ticked on a frame never measured
    PanelSurface panel;
    drawtrail(table, panel);
    EXPECT_EQ(panel.pixel(0, 0), kYellow); // the secondary is drawn last
}

} // namespace
} // namespace corvane
