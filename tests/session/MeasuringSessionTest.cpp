// The measuring session on simulated drift videos, with no window: what each
// of the user's steps leaves in the table and on the player.
#include "support/CleanDrift.h"
#include "support/Recordings.h"
#include "support/TempDir.h"

#include "measure/Methods.h"
#include "session/MeasureVideo.h"
#include "session/MeasuringSession.h"
#include "sim/RecordingWriter.h"

#include "common/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>
#include <thread>

namespace corvane {
namespace {

class MeasuringSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        video = dir.file("pair.avi");
        truth = sim::writeDriftVideo(video, test::cleanDrift());
        ASSERT_TRUE(truth.staysInFrame);
        session.open(video);
        session.reset(0);
    }

    // Both clicks on the stars' true places in frame `frame`.
    void clickPair(int32_t frame, int32_t start) {
        const sim::FrameTruth& t = truth.frames[static_cast<std::size_t>(frame)];
        session.goToFrame(frame);
        session.selectPrimary(std::lround(t.primary.x), std::lround(t.primary.y), 12);
        const sim::FrameTruth& s = truth.frames[static_cast<std::size_t>(start)];
        session.selectSecondary(std::lround(s.secondary.x), std::lround(s.secondary.y), 12,
                                [start] { return start; });
    }

    static RunHooks until(int32_t stop) {
        RunHooks h;
        h.stopFrame = [stop] { return stop; };
        return h;
    }

    test::TempDir dir;
    std::string video;
    sim::Truth truth;
    MeasuringSession session;
};

TEST_F(MeasuringSessionTest, OpenGivesOneEmptyRowPerPositionAndTheFileDate) {
    EXPECT_EQ(session.player().CurrentPosition(), 0);
    EXPECT_EQ(session.table().size(), static_cast<std::size_t>(session.player().VideoLength()) + 1);
    EXPECT_EQ(session.acceptedFrames(), 0);
    // An AVI records no start: its modification time to the even second.
    struct stat st {};
    ASSERT_EQ(::stat(video.c_str(), &st), 0);
    const std::time_t even = st.st_mtime - st.st_mtime % 2;
    std::tm ut{};
    ::gmtime_r(&even, &ut);
    const CivilDateTime t = session.recordingStart();
    EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second,
              ut.tm_hour * 3600 + ut.tm_min * 60 + ut.tm_sec);
    EXPECT_EQ(t.day, ut.tm_mday);
}

TEST_F(MeasuringSessionTest, SecondClickEmptiesTheTableAndReturnsToTheStartFrame) {
    clickPair(0, 0);
    session.run(kDefaultMethod, until(40));
    ASSERT_GT(session.acceptedFrames(), 0);
    clickPair(5, 5);
    EXPECT_EQ(session.acceptedFrames(), 0);
    EXPECT_EQ(session.player().CurrentPosition(), 5);
}

TEST_F(MeasuringSessionTest, RunEndsAtTheStopFrameOrWhenCancelled) {
    clickPair(0, 0);
    RunHooks hooks = until(60);
    std::vector<int32_t> shown;
    hooks.afterFrame = [&shown](int32_t f) { shown.push_back(f); };
    hooks.cancelRequested = [&shown] { return shown.size() == 25; };
    const RunResult r = session.run(kDefaultMethod, hooks);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.framesMeasured, 25);
    ASSERT_EQ(shown.size(), 25u);
    EXPECT_EQ(shown.front(), 1);
    EXPECT_EQ(shown.back(), 25);

    const RunResult rest = session.run(kDefaultMethod, until(60));
    EXPECT_FALSE(rest.cancelled);
    EXPECT_EQ(rest.framesMeasured, 35);
    EXPECT_EQ(session.player().CurrentPosition(), 60);
}

// A frame measured by hand after the one before it gives the row the run
// gave it, for every method,
// and an index that names no button measures with the default method.
TEST_F(MeasuringSessionTest, AStepMeasuresAsTheRunDoesWithEveryMethod) {
    for (int index = -1; index <= static_cast<int>(methodCount()); ++index) {
        SCOPED_TRACE("button index " + std::to_string(index));
        const Method method = methodAtIndex(index);
        if (index < 0 || index == static_cast<int>(methodCount())) {
            EXPECT_EQ(method, kDefaultMethod);
        }
        clickPair(0, 0);
        session.run(method, until(30));
        const FrameRow ran = *session.row(30);
        ASSERT_TRUE(ran.Valid);
        clickPair(0, 0);
        session.run(method, until(29));
        ASSERT_TRUE(session.measureAt(30, method));
        const FrameRow stepped = *session.row(30);
        EXPECT_EQ(stepped.PrimaryX, ran.PrimaryX);
        EXPECT_EQ(stepped.SecondaryY, ran.SecondaryY);
        EXPECT_EQ(stepped.TimeUs, ran.TimeUs);
    }
}

TEST_F(MeasuringSessionTest, AcceptanceByHandCountsInTheResultsLine) {
    clickPair(0, 0);
    session.run(kDefaultMethod, until(60));
    const int32_t accepted = session.acceptedFrames();
    ASSERT_TRUE(session.row(30)->Valid);
    EXPECT_TRUE(session.setAccepted(30, false));
    EXPECT_FALSE(session.setAccepted(-1, true));
    EXPECT_FALSE(session.setAccepted(static_cast<int32_t>(session.table().size()), true));
    EXPECT_EQ(session.acceptedFrames(), accepted - 1);

    const ReductionResult r =
        session.reduce(Orientation::CorrectOrInverted, "+30", "00", "00", '.');
    ASSERT_TRUE(r.error.empty()) << r.error;
    const std::string line =
        session.resultsLine("1/2/26", PairTexts{}, measuredTexts(EpochResult{}, r, '.'));
    EXPECT_NE(line.find("\t" + formatRounded(r.separation.separation, 2) + "\t" +
                        formatRounded(r.regression.positionAngle, 2) + "\t" +
                        std::to_string(accepted - 1) + "\t"),
              std::string::npos)
        << line;
}

// The one-call measurement is the user's steps in order, and calls on
// several threads at once (a batch) share nothing: each gives the rows the
// steps give on their own.
TEST_F(MeasuringSessionTest, OneCallMeasuresAsTheStepsDoAlsoOnSeveralThreads) {
    clickPair(0, 0);
    session.run(kDefaultMethod, until(session.player().VideoLength()));
    const sim::FrameTruth& t = truth.frames[0];
    MeasureRequest request;
    request.video = video;
    request.primary = {static_cast<int32_t>(std::lround(t.primary.x)),
                       static_cast<int32_t>(std::lround(t.primary.y))};
    request.secondary = {static_cast<int32_t>(std::lround(t.secondary.x)),
                         static_cast<int32_t>(std::lround(t.secondary.y))};
    request.decDegrees = "+30";

    std::vector<MeasureOutcome> outcomes(3);
    std::vector<std::thread> threads;
    for (MeasureOutcome& out : outcomes)
        threads.emplace_back([&out, &request] { out = measureVideo(request); });
    for (std::thread& th : threads)
        th.join();
    for (const MeasureOutcome& out : outcomes) {
        ASSERT_TRUE(out.reduction) << out.reductionError;
        EXPECT_EQ(out.validFrames, session.acceptedFrames());
        ASSERT_EQ(out.table.size(), session.table().size());
        for (std::size_t i = 0; i < out.table.size(); ++i) {
            EXPECT_EQ(out.table[i].PrimaryX, session.table()[i].PrimaryX) << "frame " << i;
            EXPECT_EQ(out.table[i].SecondaryY, session.table()[i].SecondaryY) << "frame " << i;
            EXPECT_EQ(out.table[i].Valid, session.table()[i].Valid) << "frame " << i;
        }
    }
}

struct BandRow {
    const char* name;
    int bits;
    bool bayer;
    Method method;
    double rotationDeg; // drift direction: 90 runs along the columns, across the rows
    double fps;         // lower: the pair moves further from one frame to the next
    bool someReadAgain; // the pair moves out of the band on some frames
    sim::Container container = sim::Container::Ser;
    sim::Codec codec = sim::Codec::Grey; // of an AVI
};

void PrintTo(const BandRow& row, std::ostream* os) {
    *os << row.name;
}

class BandReads : public ::testing::TestWithParam<BandRow> {};

// A run reads frames only in the band around the system box (SER: whole
// rows; AVI: only the columns around the box converted); where the
// measuring reaches outside it the frame is read whole and measured again.
// Either way every row is the one that measuring each whole frame by hand
// gives, bit for bit.
TEST_P(BandReads, RunInBandsGivesTheRowsOfWholeFrames) {
    const BandRow& row = GetParam();
    sim::DriftParams p = test::cleanDrift();
    p.width = 320;
    p.height = 240;
    p.frames = 40;
    p.bits = row.bits;
    p.bayer = row.bayer;
    p.rotationDeg = row.rotationDeg;
    p.fps = row.fps;
    p.codec = row.codec;
    p.declinationDeg = 0;
    if (row.bits == 16) {
        p.sky = 1000;
        p.noiseSigma = 20;
        p.primaryBrightness = 30000;
        p.secondaryBrightness = 20000;
    }
    test::TempDir dir;
    const std::string file = dir.file("pair.rec");
    sim::RecordingOptions o;
    o.container = row.container;
    const sim::Truth truth = sim::writeRecording(file, p, o);

    // Each pass on a session of its own, opened and clicked alike.
    const sim::FrameTruth& t = truth.frames[0];
    auto clickPair = [&](MeasuringSession& session) {
        session.open(file);
        session.reset(0);
        session.selectPrimary(std::lround(t.primary.x), std::lround(t.primary.y), 12);
        session.selectSecondary(std::lround(t.secondary.x), std::lround(t.secondary.y), 12,
                                [] { return 0; });
    };
    MeasuringSession session;
    clickPair(session);
    ASSERT_TRUE(session.player().ReadsBands());
    RunHooks hooks;
    const int32_t stop = p.frames - 1;
    hooks.stopFrame = [stop] { return stop; };
    const RunResult run = session.run(row.method, hooks);
    ASSERT_EQ(run.framesMeasured, stop);
    EXPECT_EQ(run.framesInBand, stop);
    EXPECT_EQ(run.framesReadAgainWhole > 0, row.someReadAgain) << run.framesReadAgainWhole;
    const FrameTable& ran = session.table();

    MeasuringSession byHand;
    clickPair(byHand);
    for (int32_t n = 1; n <= stop; ++n)
        byHand.measureAt(n, row.method);
    for (int32_t n = 1; n <= stop; ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        const FrameRow& a = ran[static_cast<std::size_t>(n)];
        const FrameRow& b = *byHand.row(n);
        EXPECT_EQ(a.PrimaryX, b.PrimaryX);
        EXPECT_EQ(a.PrimaryY, b.PrimaryY);
        EXPECT_EQ(a.SecondaryX, b.SecondaryX);
        EXPECT_EQ(a.SecondaryY, b.SecondaryY);
        EXPECT_EQ(a.SystemX, b.SystemX);
        EXPECT_EQ(a.SystemY, b.SystemY);
        EXPECT_EQ(a.Valid, b.Valid);
        EXPECT_EQ(a.TimeUs, b.TimeUs);
    }
}

// clang-format off
const BandRow kBandRows[] = {
    {"Mono8PeakAcrossTheRows",              8,  false, Method::PeakSearch,      0,  10,  false},
    {"Mono16WeightedAcrossTheRows",         16, false, Method::WeightedAverage, 0,  10,  false},
    {"Mono16PsfFitAcrossTheRows",           16, false, Method::PsfFit,          0,  10,  false},
    {"Bayer16PeakAlongTheColumns",          16, true,  Method::PeakSearch,      90, 10,  false},
    {"Mono8WeightedJumpingAlongTheColumns", 8,  false, Method::WeightedAverage, 90, 0.5, true},
    {"AviGreyWeightedJumpingAlongTheRows",  8,  false, Method::WeightedAverage, 0,  0.5, true, sim::Container::Avi},
    {"AviH264WeightedJumpingAlongTheRows",  8,  false, Method::WeightedAverage, 0,  0.5, true, sim::Container::Avi, sim::Codec::H264},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Ser, BandReads, ::testing::ValuesIn(kBandRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
