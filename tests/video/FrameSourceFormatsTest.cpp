// SER and FITS recordings through the frame source: the same pixels give the
// same intensities as an 8-bit grey AVI, a band read gives the rows a whole
// read gives, deep and colour data keep their white levels, frame times come
// from the file or from a rate the user gives (never silently from the frame
// number), and the timing statistics find the frames the camera lost.
#include "VideoFiles.h"
#include "common/Error.h"
#include "sim/AviWriter.h"
#include "sim/RecordingWriter.h"
#include "support/FitsImages.h"
#include "support/Recordings.h"
#include "support/SerBytes.h"
#include "support/TempDir.h"
#include "video/DisplayStretch.h"
#include "video/FrameSource.h"
#include "video/FrameTiming.h"
#include "video/UtcTime.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace corvane;

namespace {

std::string writeAs(const test::TempDir& dir, const std::string& name, const sim::DriftParams& p,
                    sim::Container c, sim::RecordingOptions o = {}) {
    o.container = c;
    const std::string path = dir.file(name);
    std::vector<std::string> files;
    (void)sim::writeRecording(path, p, o, &files);
    return files.front(); // a sequence opens from any one of its files
}

bool sameRows(const IntensityPlane& a, const IntensityPlane& b, int y0, int y1) {
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.at(x, y) != b.at(x, y))
                return false;
    return true;
}

struct ContainerCase {
    const char* name;
    sim::Container container;
    const char* file;
};

class EightBitFormats : public ::testing::TestWithParam<ContainerCase> {};

// The intensities (and the picture shown) of the pixels of an 8-bit grey AVI,
// read from a SER or FITS file holding the same pixels.
TEST_P(EightBitFormats, GiveTheIntensitiesOfAGreyAvi) {
    const ContainerCase& c = GetParam();
    const test::TempDir dir;
    sim::DriftParams p = test::smallRecording(8, 5);
    p.primaryBrightness = 240; // over 128 and up to white, where the grey rule bends
    p.sky = 60;
    const std::string avi = dir.file("same.avi");
    (void)sim::writeDriftVideo(avi, p);
    const auto reference = openFrameSource(avi);
    const auto source = openFrameSource(writeAs(dir, c.file, p, c.container));
    ASSERT_EQ(source->frameCount(), p.frames);
    for (int32_t n = 0; n < p.frames; ++n) {
        Frame want, got;
        ASSERT_TRUE(reference->read(n, want));
        ASSERT_TRUE(source->read(n, got));
        EXPECT_EQ(got.intensity.whiteLevel(), IntensityPlane::kWhiteLevel8);
        EXPECT_TRUE(sameRows(got.intensity, want.intensity, 0, p.height)) << "frame " << n;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                ASSERT_EQ(got.display.pixel(x, y), want.display.pixel(x, y)) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, EightBitFormats,
    ::testing::Values(ContainerCase{"ser", sim::Container::Ser, "a.ser"},
                      ContainerCase{"fits_cube", sim::Container::FitsCube, "a.fits"},
                      ContainerCase{"fits_sequence", sim::Container::FitsSequence, "a.fits"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FitsBayerCase {
    const char* name;
    bool topDown;         // ROWORDER = 'TOP-DOWN'; else stored bottom-up, as FITS defines
    const char* bayerPat; // as the capture program writes it, for the stored order
    int yOffset;          // YBAYROFF; 0: not written
    bool known;           // a pattern Corvane demosaics
};

class FitsBayer : public ::testing::TestWithParam<FitsBayerCase> {};

// A colour camera's mosaic stored in FITS with BAYERPAT gives, in either row
// order and with an offset, the intensities of the SER file of the same
// mosaic; a pattern Corvane does not know is read as grey with a warning.
TEST_P(FitsBayer, GivesTheIntensitiesOfTheSameSerMosaic) {
    const FitsBayerCase& c = GetParam();
    const test::TempDir dir;
    sim::DriftParams p = test::smallRecording(16, 1);
    p.bayer = true;
    p.tint = sim::Tint{1.0, 0.6, 0.3}; // colours that differ, so a wrong pattern shows
    const auto ser = openFrameSource(writeAs(dir, "a.ser", p, sim::Container::Ser));
    const std::vector<uint16_t> mosaic = sim::renderSamples(p, 0);
    test::FitsImage im;
    im.bitpix = 16;
    im.axes = {p.width, p.height};
    for (int r = 0; r < p.height; ++r) {
        const int y = c.topDown ? r : p.height - 1 - r;
        for (int x = 0; x < p.width; ++x)
            im.stored.push_back(mosaic[static_cast<std::size_t>(y * p.width + x)] - 32768.0);
    }
    im.numbers = {{"BZERO", 32768}};
    im.texts = {{"BAYERPAT", c.bayerPat}};
    if (c.topDown)
        im.texts.push_back({"ROWORDER", "TOP-DOWN"});
    if (c.yOffset != 0)
        im.numbers.push_back({"YBAYROFF", c.yOffset});
    const std::string fits = dir.file("a.fits");
    test::writeFitsImages(fits, {im});
    const auto source = openFrameSource(fits);
    Frame want, got;
    ASSERT_TRUE(ser->read(0, want));
    ASSERT_TRUE(source->read(0, got));
    if (!c.known) {
        EXPECT_EQ(source->colourLayout(), ColourLayout::Mono);
        ASSERT_EQ(source->warnings().size(), 1u);
        EXPECT_NE(source->warnings()[0].find("BAYERPAT"), std::string::npos);
        return;
    }
    EXPECT_EQ(source->colourLayout(), ser->colourLayout());
    EXPECT_TRUE(source->warnings().empty());
    EXPECT_TRUE(sameRows(got.intensity, want.intensity, 0, p.height));
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FitsBayer,
    ::testing::Values(FitsBayerCase{"TopDownRggb", true, "RGGB", 0, true},
                      // 30 rows: the last stored row, shown on top, starts G B.
                      FitsBayerCase{"BottomUpGbrg", false, "GBRG", 0, true},
                      FitsBayerCase{"TopDownGbrgOffsetByARow", true, "GBRG", 1, true},
                      FitsBayerCase{"UnknownPattern", true, "CYYM", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct SampleCase {
    const char* name;
    int bits;
    bool bayer;
    sim::Container container;
    int32_t white;                       // of the intensities
    sim::Codec codec = sim::Codec::Grey; // of an AVI
    bool tinted = false;                 // colour in the picture, not only grey
};

class SampleKinds : public ::testing::TestWithParam<SampleCase> {};

// A band read holds at least its part of the frame, with what a whole read
// gives there, writes no other row and leaves the display alone; the white
// level follows the samples' depth and kind (colour sums three channels).
TEST_P(SampleKinds, BandsMatchTheWholeFrameAndWhiteFollowsTheDepth) {
    const SampleCase& c = GetParam();
    const test::TempDir dir;
    sim::DriftParams p = test::smallRecording(c.bits, 4);
    p.bayer = c.bayer;
    p.codec = c.codec;
    if (c.tinted)
        p.tint = sim::Tint{1.0, 0.8, 0.5};
    const auto source = openFrameSource(writeAs(dir, "k.rec", p, c.container));
    Frame whole;
    ASSERT_TRUE(source->read(2, whole));
    EXPECT_EQ(whole.intensity.whiteLevel(), c.white);
    EXPECT_EQ(whole.intensity.bitsPerSample(), c.bits);
    const int w = p.width, h = p.height;
    const struct {
        const char* name;
        PixelRect part;
    } bands[] = {{"top rows", {0, 0, w, 5}},
                 {"odd columns", {13, 7, 27, 19}}, // a chroma sample split at both ends
                 {"bottom right corner", {w - 5, h - 5, w, h}},
                 {"past the right and bottom", {w - 3, h - 3, w + 7, h + 7}},
                 {"before the left and top", {-2, -2, 5, 4}}};
    for (const auto& b : bands) {
        SCOPED_TRACE(b.name);
        Frame band;
        band.intensity.reset(w, h, c.bits, c.white);
        band.intensity.fill(7777);
        ASSERT_TRUE(source->readBand(2, b.part, band));
        const IntensityPlane& got = band.intensity;
        const PixelRect want = clippedTo(b.part, w, h);
        EXPECT_TRUE(got.heldLeft() <= want.left && got.heldTop() <= want.top &&
                    got.heldRight() >= want.right && got.heldBottom() >= want.bottom);
        // A read beside the held columns is caught, one inside them is not.
        (void)got.row(got.heldTop(), got.heldLeft(), got.heldRight());
        EXPECT_FALSE(got.strayRead());
        (void)got.at(got.heldRight(), got.heldTop());
        EXPECT_EQ(got.strayRead(), got.heldRight() < w && got.heldTop() < got.heldBottom());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool held = y >= got.heldTop() && y < got.heldBottom() &&
                                  x >= got.heldLeft() && x < got.heldRight();
                if (held || y < got.heldTop() || y >= got.heldBottom()) {
                    ASSERT_EQ(got.at(x, y), held ? whole.intensity.at(x, y) : 7777)
                        << "at " << x << ", " << y;
                }
            }
        EXPECT_TRUE(band.display.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SampleKinds,
    ::testing::Values(
        SampleCase{"ser_mono8", 8, false, sim::Container::Ser, 254},
        SampleCase{"ser_mono16", 16, false, sim::Container::Ser, 65535},
        SampleCase{"ser_rggb8", 8, true, sim::Container::Ser, 254},
        SampleCase{"ser_rggb16", 16, true, sim::Container::Ser, 65279},
        SampleCase{"fits_cube16", 16, false, sim::Container::FitsCube, 65535},
        // Raw AVIs are read from the file (grey top-down, colour and
        // palette bottom-up); compressed ones decoded whole.
        SampleCase{"avi_grey", 8, false, sim::Container::Avi, 254},
        SampleCase{"avi_colour", 8, false, sim::Container::Avi, 254, sim::Codec::Colour},
        SampleCase{"avi_palette", 8, false, sim::Container::Avi, 254, sim::Codec::Palette},
        SampleCase{"avi_mjpeg", 8, false, sim::Container::Avi, 254, sim::Codec::Mjpeg},
        SampleCase{"avi_mjpeg_tinted", 8, false, sim::Container::Avi, 254, sim::Codec::Mjpeg, true},
        SampleCase{"avi_h264", 8, false, sim::Container::Avi, 254, sim::Codec::H264},
        SampleCase{"avi_h264_tinted", 8, false, sim::Container::Avi, 254, sim::Codec::H264, true},
        SampleCase{"avi_yuy2_tinted", 8, false, sim::Container::Avi, 254, sim::Codec::Yuy2, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct TimesCase {
    const char* name;
    sim::Container container;
    bool timeStamps; // SER: the trailer written
    bool timed;      // the file itself times the frames
};

class RecordingTimes : public ::testing::TestWithParam<TimesCase> {};

// Frame times come from the file where it has them; otherwise the source has
// none, refuses to answer until a frame rate is given, and then uses it. The
// recording's start is the file's own, not its modification time.
TEST_P(RecordingTimes, ComeFromTheFileOrAGivenRate) {
    const TimesCase& c = GetParam();
    const test::TempDir dir;
    const sim::DriftParams p = test::smallRecording(8, 6); // 30 fps
    sim::RecordingOptions o;
    o.timeStamps = c.timeStamps;
    o.startUtc = "2025-10-11T22:33:44.556677";
    const auto source = openFrameSource(writeAs(dir, "t.rec", p, c.container, o));
    const RecordingStart start = source->recordingStart();
    EXPECT_TRUE(start.fromFile);
    EXPECT_EQ(start.unixMicros, (*parseIsoTime(o.startUtc) - ticksFromCivil(1970, 1, 1, 0, 0, 0)) /
                                    kTicksPerMicrosecond);
    EXPECT_EQ(source->hasFrameTimes(), c.timed);
    if (c.timed) {
        EXPECT_EQ(source->timeSource(), TimeSource::FileTimeStamps);
        EXPECT_EQ(source->frameTimeMs(3), 100);
        EXPECT_EQ(source->frameTimeMs(6), 200); // the end: one interval after the last
        EXPECT_THROW(source->setFrameRate(25), Error);
        return;
    }
    try {
        (void)source->frameTimeMs(3);
        ADD_FAILURE() << "a frame without a time was timed";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("give the frame rate"), std::string::npos) << e.what();
    }
    EXPECT_THROW((void)frameTimingOf(*source), Error);
    EXPECT_THROW(source->setFrameRate(0), Error);
    source->setFrameRate(25);
    EXPECT_TRUE(source->hasFrameTimes());
    EXPECT_EQ(source->timeSource(), TimeSource::FrameRate);
    EXPECT_EQ(source->frameTimeUs(3), 120000);
    EXPECT_EQ(source->frameTimeMs(6), 240);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, RecordingTimes,
    ::testing::Values(TimesCase{"ser_with_stamps", sim::Container::Ser, true, true},
                      TimesCase{"ser_without_stamps", sim::Container::Ser, false, false},
                      TimesCase{"fits_cube", sim::Container::FitsCube, true, false},
                      TimesCase{"fits_sequence", sim::Container::FitsSequence, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Lost frames show as gaps in the time stamps; the jitter of the rest is the
// spread of their intervals: with each frame off its time by sigma, an
// interval is off by sigma * sqrt(2).
TEST(FrameTiming, FindsTheLostFramesAndTheJitter) {
    for (uint64_t seed : {3u, 4u, 5u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const test::TempDir dir;
        sim::DriftParams p = test::smallRecording(8, 400);
        p.fps = 25;
        p.seed = seed;
        p.timeJitterMs = 2;
        p.dropFraction = 0.1;
        sim::RecordingOptions o;
        o.container = sim::Container::Ser;
        const sim::Truth truth = sim::writeRecording(dir.file("j.ser"), p, o);
        int32_t lost = 0;
        std::vector<int32_t> gaps;
        for (std::size_t n = 1; n < truth.frames.size(); ++n) {
            const long slots =
                std::lround((truth.frames[n].timeS - truth.frames[n - 1].timeS) * p.fps);
            if (slots > 1) {
                lost += static_cast<int32_t>(slots - 1);
                gaps.push_back(static_cast<int32_t>(n));
            }
        }
        ASSERT_GT(lost, 10);
        const FrameTiming t = frameTimingOf(*openFrameSource(dir.file("j.ser")));
        EXPECT_EQ(t.source, TimeSource::FileTimeStamps);
        // The lost frames' long gaps lift the median by some 0.14 sigma
        // (0.4 ms); over about 360 intervals it is known to some 0.2 ms.
        EXPECT_NEAR(t.medianIntervalMs, 40, 1.0);
        EXPECT_EQ(t.droppedFrames, lost);
        EXPECT_EQ(t.gapsBefore, gaps);
        // About 360 intervals: the spread is known to some 10 %.
        EXPECT_NEAR(t.jitterMs, 2 * std::sqrt(2.0), 0.3 * 2 * std::sqrt(2.0));
    }
}

// The default points lie at the 0.5 % and 99.8 % of the frame's pixels; the
// stretch spreads them over black to white within its region only.
// A broken camera clock: stamps a microsecond apart, then two gaps of 10^11
// ticks (10^10 microseconds) each.
// The lost frames it stands for are counted up to what a count holds, not
// turned into a wrong or negative number.
TEST(FrameTiming, AGapOfBillionsOfIntervalsCountsAsAtMostTheLargestCount) {
    const test::TempDir dir;
    const sim::DriftParams p = test::smallRecording(8, 7);
    sim::RecordingOptions o;
    o.container = sim::Container::Ser;
    const std::string file = dir.file("gap.ser");
    (void)sim::writeRecording(file, p, o);
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::size_t trailer = bytes.size() - 7 * 8;
    const int64_t t0 = ticksFromCivil(2026, 3, 14, 21, 30, 0);
    const int64_t stamps[] = {
        t0, t0 + 10, t0 + 20, t0 + 30, t0 + 40, t0 + 40 + 100000000000, t0 + 40 + 200000000000};
    for (std::size_t i = 0; i < 7; ++i)
        test::ser::put64(bytes, trailer + 8 * i, stamps[i]);
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const FrameTiming t = frameTimingOf(*openFrameSource(file));
    EXPECT_EQ(t.source, TimeSource::FileTimeStamps);
    EXPECT_EQ(t.droppedFrames, INT32_MAX);
    EXPECT_EQ(t.gapsBefore, (std::vector<int32_t>{5, 6}));
}

TEST(DisplayStretch, SpreadsThePercentilesOverTheGreyLevels) {
    IntensityPlane plane;
    plane.reset(100, 10, 16, 65535);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 100; ++x)
            plane.set(x, y, 1000 + 10 * (y * 100 + x)); // 1000 distinct levels
    const StretchPoints pts = stretchPointsOf(plane);
    EXPECT_EQ(pts.black, 1000 + 10 * 5);
    EXPECT_EQ(pts.white, 1000 + 10 * 997);
    // Ten counts a grey level from 1000 on.
    const StretchPoints tens{1000, 1000 + 2550};
    plane.set(1, 0, 400); // below black
    DisplayImage shown;
    stretchToDisplay(plane, tens, 0, 0, 100, 5, shown);
    EXPECT_EQ(shown.pixel(1, 0), 0u);
    EXPECT_EQ(shown.pixel(5, 0), 5 * 0x010101u);
    EXPECT_EQ(shown.pixel(99, 2), 255 * 0x010101u); // above white
    EXPECT_EQ(shown.pixel(0, 5), 0u);               // outside the region: black
    stretchToDisplay(plane, tens, 0, 5, 100, 5, shown);
    EXPECT_EQ(shown.pixel(0, 5), 255 * 0x010101u);
    EXPECT_EQ(shown.pixel(5, 0), 5 * 0x010101u); // the first region stays
    // Levels moved by the user draw with their own grey levels, not the last ones'.
    stretchToDisplay(plane, StretchPoints{1000, 1000 + 255}, 0, 0, 100, 5, shown);
    EXPECT_EQ(shown.pixel(5, 0), 50 * 0x010101u);
}

struct HostileCase {
    const char* name;
    std::string (*write)(const test::TempDir&);
    const char* message;
};

std::string truncatedSerHeader(const test::TempDir& d) {
    std::ofstream(d.file("h.ser"), std::ios::binary) << "LUCAM-RECORDER" << std::string(20, '\0');
    return d.file("h.ser");
}
std::string fitsGarbage(const test::TempDir& d) {
    std::ofstream(d.file("g.fits"), std::ios::binary)
        << "SIMPLE  = nonsense" << std::string(100, 'x');
    return d.file("g.fits");
}
// Time stamps in order but 130 years apart: no 32-bit ms position holds them.
std::string stampsSpanningDecades(const test::TempDir& d) {
    const std::string path = d.file("decades.ser");
    sim::RecordingOptions o;
    o.container = sim::Container::Ser;
    (void)sim::writeRecording(path, test::smallRecording(8, 2), o);
    std::vector<char> bytes = test::readBytes(path);
    test::ser::put64(bytes, bytes.size() - 16, ticksFromCivil(1970, 1, 2, 0, 0, 0));
    test::ser::put64(bytes, bytes.size() - 8, ticksFromCivil(2100, 1, 2, 0, 0, 0));
    test::writeBytes(path, bytes);
    return path;
}
std::string folderWithoutFits(const test::TempDir& d) {
    std::filesystem::create_directory(d.file("empty"));
    std::ofstream(d.file("empty/readme.txt")) << "no frames here";
    return d.file("empty");
}

class HostileRecordings : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRecordings, AreRefusedWithAMessageNamingTheFile) {
    const test::TempDir dir;
    const std::string path = GetParam().write(dir);
    try {
        (void)openFrameSource(path);
        ADD_FAILURE() << "opened";
    } catch (const Error& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find(GetParam().message), std::string::npos) << m;
        EXPECT_NE(m.find(path), std::string::npos) << m;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileRecordings,
    ::testing::Values(HostileCase{"ser_header_cut_short", truncatedSerHeader, "truncated"},
                      HostileCase{"fits_header_garbage", fitsGarbage, "FITS"},
                      HostileCase{"ser_stamps_spanning_decades", stampsSpanningDecades,
                                  "more than 24 days"},
                      HostileCase{"folder_without_fits", folderWithoutFits, "no FITS files"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
