// The FITS reader: simulated cubes and sequences come back frame for frame
// with their times; rows are shown with the first stored row at the bottom
// unless ROWORDER says TOP-DOWN; every BITPIX with its BZERO/BSCALE gives the
// samples the documented mapping says; and damaged files, odd layouts and
// folders of mixed frames are refused with a message naming the file, in
// bounded memory and time.
#include "video/FitsFile.h"
#include "VideoFiles.h"
#include "common/Error.h"
#include "support/BoundedRun.h"
#include "support/FitsImages.h"
#include "support/Recordings.h"
#include "support/TempDir.h"
#include "video/UtcTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::FitsImage;

bool mentions(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& t : texts)
        if (t.find(part) != std::string::npos)
            return true;
    return false;
}

TEST(FitsFile, SimulatedCubesAndSequencesComeBackFrameForFrame) {
    struct Row {
        const char* name;
        sim::Container container;
        int bits;
        double jitterMs, drop;
    } rows[] = {
        {"8-bit cube", sim::Container::FitsCube, 8, 0, 0},
        {"16-bit cube", sim::Container::FitsCube, 16, 0, 0},
        {"8-bit sequence", sim::Container::FitsSequence, 8, 0, 0},
        {"16-bit sequence with time jitter and dropped frames", sim::Container::FitsSequence, 16, 3,
         0.3},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        test::TempDir dir("corvane-fits");
        sim::DriftParams p = test::smallRecording(r.bits, 8);
        p.timeJitterMs = r.jitterMs;
        p.dropFraction = r.drop;
        sim::RecordingOptions o;
        o.container = r.container;
        o.startUtc = "2025-06-30T23:59:59.500000";
        std::vector<std::string> files;
        const sim::Truth truth = sim::writeRecording(dir.file("pair.fits"), p, o, &files);
        const bool cube = r.container == sim::Container::FitsCube;
        const int64_t start = *parseIsoTime(o.startUtc);
        // A sequence opens from its folder and from any file picked in it.
        std::vector<std::string> opens = {files.front()};
        if (!cube)
            opens = {files[3], dir.file("")};
        for (const std::string& path : opens) {
            SCOPED_TRACE(path);
            FitsFile f(path);
            EXPECT_EQ(f.layout(), cube ? FitsLayout::Cube : FitsLayout::Sequence);
            EXPECT_EQ(f.width(), 40);
            EXPECT_EQ(f.height(), 30);
            EXPECT_EQ(f.bitsPerSample(), r.bits);
            EXPECT_TRUE(f.storedBottomUp());
            ASSERT_EQ(f.frameCount(), 8);
            EXPECT_TRUE(f.warnings().empty()) << f.warnings().front();
            EXPECT_EQ(f.startUtc(), start);
            for (int n = 0; n < 8; ++n)
                EXPECT_EQ(f.frame(n), sim::renderSamples(p, n)) << n;
            if (cube) {
                EXPECT_FALSE(f.hasTimeStamps());
                EXPECT_THROW((void)f.frameOffset(1), Error);
                f.setFrameRate(30);
                EXPECT_EQ(f.frameOffset(3), 1'000'000);
            } else {
                // DATE-OBS holds microseconds: each time within one of the truth.
                ASSERT_TRUE(f.hasTimeStamps());
                for (int n = 0; n < 8; ++n)
                    EXPECT_NEAR(f.frameOffset(n), truth.frames[n].timeS * kTicksPerSecond,
                                kTicksPerMicrosecond)
                        << n;
            }
        }
    }
}

// A 4 x 3 frame whose only light is the first stored pixel (FITS pixel 1, 1)
// and, dimmer, the last pixel of the first stored row: where they show tells
// the row order and that columns are not mirrored.
TEST(FitsFile, TheFirstStoredRowIsShownAtTheBottomUnlessTopDown) {
    struct Row {
        const char* name;
        const char* rowOrder; // null: no ROWORDER keyword
        int shownRow;         // where the first stored row is shown
        bool warned;
    } rows[] = {
        {"no ROWORDER: FITS counts rows from the bottom", nullptr, 2, false},
        {"ROWORDER BOTTOM-UP", "BOTTOM-UP", 2, false},
        {"ROWORDER TOP-DOWN, as some capture programs write", "TOP-DOWN", 0, false},
        {"an unknown ROWORDER is taken as bottom-up", "SIDEWAYS", 2, true},
    };
    test::TempDir dir("corvane-fits-rows");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FitsImage im = test::flatFrame(4, 3, 0, "");
        im.stored[0] = 200;
        im.stored[3] = 100;
        if (r.rowOrder)
            im.texts.push_back({"ROWORDER", r.rowOrder});
        const std::string path = dir.file("rows.fits");
        test::writeFitsImages(path, {im});
        const FitsFile f(path);
        EXPECT_EQ(f.storedBottomUp(), r.shownRow == 2);
        EXPECT_EQ(mentions(f.warnings(), "ROWORDER"), r.warned);
        std::vector<uint16_t> expected(12, 0);
        expected[static_cast<std::size_t>(r.shownRow) * 4] = 200;
        expected[static_cast<std::size_t>(r.shownRow) * 4 + 3] = 100;
        EXPECT_EQ(f.frame(0), expected);
        // A band of rows reads the same rows as the whole frame.
        std::vector<uint8_t> band(8);
        f.readRows(0, 1, 2, band.data());
        EXPECT_TRUE(std::equal(band.begin(), band.end(), expected.begin() + 4));
    }
}

TEST(FitsFile, EveryBitpixGivesTheDocumentedSamples) {
    struct Row {
        const char* name;
        int bitpix;
        std::vector<std::pair<std::string, double>> keys;
        std::vector<double> stored;
        int bits;
        std::vector<uint16_t> samples;
        bool warned;
    } rows[] = {
        {"BITPIX 8", 8, {}, {0, 7, 255}, 8, {0, 7, 255}, false},
        {"unsigned 16-bit: BITPIX 16, BZERO 32768",
         16,
         {{"BZERO", 32768}},
         {-32768, -32767, 32767},
         16,
         {0, 1, 65535},
         false},
        {"signed 16-bit counts stay counts", 16, {}, {0, 1000, 32767}, 16, {0, 1000, 32767}, false},
        {"signed 16-bit below zero: the first frame's range",
         16,
         {},
         {-100, 0, 100},
         16,
         {0, 32768, 65535},
         true},
        {"BITPIX 16 with BSCALE 2", 16, {{"BSCALE", 2}}, {0, 100, 200}, 16, {0, 200, 400}, false},
        {"BITPIX 32 counts", 32, {}, {0, 40000, 65535}, 16, {0, 40000, 65535}, false},
        {"BITPIX -32 from 0 to 1", -32, {}, {0, 0.25, 1}, 16, {0, 16384, 65535}, false},
        {"BITPIX -32 from 0 to 255: white at 255",
         -32,
         {},
         {0, 51, 255},
         16,
         {0, 13107, 65535},
         false},
        {"BITPIX -32 white at DATAMAX",
         -32,
         {{"DATAMAX", 1000}},
         {0, 200, 1000},
         16,
         {0, 13107, 65535},
         false},
        {"BITPIX -64 over DATAMIN to DATAMAX",
         -64,
         {{"DATAMIN", 10}, {"DATAMAX", 30}},
         {10, 20, 30},
         16,
         {0, 32768, 65535},
         false},
        {"BITPIX -64 in counts", -64, {}, {0, 1.4, 60000.6}, 16, {0, 1, 60001}, false},
        {"BITPIX -32 with an undefined pixel",
         -32,
         {},
         {NAN, 0.5, 1},
         16,
         {0, 32768, 65535},
         false},
        {"BITPIX -64 with a range too narrow to scale: counts",
         -64,
         {{"DATAMIN", 0}, {"DATAMAX", 1e-320}},
         {0, 5, 7},
         16,
         {0, 5, 7},
         false},
    };
    test::TempDir dir("corvane-fits-bitpix");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FitsImage im;
        im.bitpix = r.bitpix;
        im.axes = {3, 1};
        im.stored = r.stored;
        im.numbers = r.keys;
        const std::string path = dir.file("bitpix.fits");
        test::writeFitsImages(path, {im});
        const FitsFile f(path);
        EXPECT_EQ(f.bitsPerSample(), r.bits);
        EXPECT_EQ(f.frame(0), r.samples);
        EXPECT_EQ(mentions(f.warnings(), "first frame's range"), r.warned);
    }
}

// Floating-point frames are read in blocks of rows; a frame taller than one
// block comes back whole and the right way up.
TEST(FitsFile, ATallFloatingPointFrameComesBackWhole) {
    test::TempDir dir("corvane-fits-tall");
    FitsImage im;
    im.bitpix = -32;
    im.axes = {3, 600};
    for (int r = 0; r < 600; ++r)
        im.stored.insert(im.stored.end(), 3, r); // stored row r holds r
    test::writeFitsImages(dir.file("tall.fits"), {im});
    const FitsFile f(dir.file("tall.fits"));
    const std::vector<uint16_t> frame = f.frame(0);
    for (int y = 0; y < 600; ++y)
        ASSERT_EQ(frame[static_cast<std::size_t>(3 * y + 2)], 599 - y) << y;
    std::vector<uint16_t> band(3 * 300);
    f.readRows(0, 200, 300, band.data());
    EXPECT_TRUE(std::equal(band.begin(), band.end(), frame.begin() + 600));
}

TEST(FitsFile, SequencesAreOrderedByDateObs) {
    struct Row {
        const char* name;
        std::vector<std::string> dates; // of f_1, f_2, f_3 (levels 1, 2, 3)
        std::vector<uint16_t> order;    // levels in frame order
        bool timed;
    } rows[] = {
        {"DATE-OBS order beats name order",
         {"2024-01-01T00:00:02.000002", "2024-01-01T00:00:01", "2024-01-01T00:00:03.5"},
         {2, 1, 3},
         true},
        {"a file without DATE-OBS: name order, no frame times",
         {"2024-01-01T00:00:02", "", "2024-01-01T00:00:01"},
         {1, 2, 3},
         false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        test::TempDir dir("corvane-fits-seq");
        for (int k = 0; k < 3; ++k)
            test::writeFitsImages(dir.file("f_" + std::to_string(k + 1) + ".fit"),
                                  {test::flatFrame(4, 3, k + 1, r.dates[k])});
        // A file of another name in the folder is not part of the sequence.
        test::writeFitsImages(dir.file("dark_1.fit"), {test::flatFrame(4, 3, 99, "")});
        const FitsFile f(dir.file("f_2.fit"));
        ASSERT_EQ(f.frameCount(), 3);
        for (int n = 0; n < 3; ++n)
            EXPECT_EQ(f.frame(n)[0], r.order[n]) << n;
        EXPECT_EQ(f.hasTimeStamps(), r.timed);
        EXPECT_EQ(mentions(f.warnings(), "DATE-OBS"), !r.timed);
        if (r.timed) {
            EXPECT_EQ(f.frameOffset(1), 10'000'020);
            EXPECT_EQ(f.frameOffset(2), 25'000'000);
        }
    }
}

TEST(FitsFile, OneImagePerHduTakesEachImagesDateObs) {
    test::TempDir dir("corvane-fits-hdus");
    FitsImage empty;
    empty.axes = {};
    std::vector<FitsImage> hdus = {empty};
    for (int k = 0; k < 3; ++k) {
        hdus.push_back(
            test::flatFrame(5, 4, 10 * (k + 1), "2024-05-06T07:08:0" + std::to_string(k) + ".25"));
    }
    const std::string path = dir.file("hdus.fits");
    test::writeFitsImages(path, hdus);
    const FitsFile f(path);
    EXPECT_EQ(f.layout(), FitsLayout::ImagePerHdu);
    ASSERT_EQ(f.frameCount(), 3);
    EXPECT_EQ(f.frame(2)[0], 30);
    EXPECT_EQ(f.startUtc(), ticksFromCivil(2024, 5, 6, 7, 8, 0, 2'500'000));
    EXPECT_EQ(f.frameOffset(2), 2 * kTicksPerSecond);
}

// The sample from another program: a 192 x 192 unsigned 16-bit frame with a
// DATE-OBS to the microsecond (CORVANE_SAMPLES names its folder).
TEST(FitsFile, OpensASingleFrameWrittenByAnotherProgram) {
    const char* env = std::getenv("CORVANE_SAMPLES");
    const fs::path folder =
        env ? fs::path(env) : fs::path(CORVANE_SOURCE_DIR) / ".." / "shared" / "samples";
    const fs::path sample = folder / "a258_f0001.fit";
    if (!fs::exists(sample))
        GTEST_SKIP() << sample << " is not on this machine";
    const FitsFile f(sample.string());
    EXPECT_EQ(f.width(), 192);
    EXPECT_EQ(f.height(), 192);
    EXPECT_EQ(f.bitsPerSample(), 16);
    EXPECT_GE(f.frameCount(), 1);
    EXPECT_EQ(f.startUtc(), ticksFromCivil(2023, 9, 7, 22, 22, 39, 1'316'970));
    const std::vector<uint16_t> frame = f.frame(0);
    EXPECT_NE(*std::max_element(frame.begin(), frame.end()),
              *std::min_element(frame.begin(), frame.end()));
}

TEST(FitsFile, HostileFilesAndFoldersAreRefusedClearly) {
    using Make = std::function<std::string(test::TempDir&)>;
    auto one = [](const char* name, FitsImage im) -> Make {
        return [name, im](test::TempDir& d) {
            test::writeFitsImages(d.file(name), {im});
            return d.file(name);
        };
    };
    auto cut = [](const char* name, FitsImage im, std::size_t keep) -> Make {
        return [name, im, keep](test::TempDir& d) {
            test::writeFitsImages(d.file(name), {im});
            fs::resize_file(d.file(name), keep);
            return d.file(name);
        };
    };
    FitsImage line;
    line.axes = {16};
    line.stored.assign(16, 1);
    FitsImage four;
    four.axes = {4, 3, 2, 2};
    four.stored.assign(48, 1);
    FitsImage cube;
    cube.bitpix = 8;
    cube.axes = {100, 100, 3};
    cube.stored.assign(30000, 5);
    FitsImage noImage;
    noImage.axes = {};
    FitsImage wide = test::flatFrame(9000, 1, 1, "");
    FitsImage sixtyFour = test::flatFrame(4, 3, 1, "", 64);
    FitsImage nanFrame = test::flatFrame(8, 6, 0.5, "", -32);
    nanFrame.stored[3] = nanFrame.stored[20] = std::nan("");
    nanFrame.stored[40] = -HUGE_VAL;
    struct Row {
        const char* name;
        Make make;
        const char* refusal; // null: it opens
        int64_t frames;
        const char* warning;
    } rows[] = {
        {"NAXIS 1", one("line.fits", line), "NAXIS = 1; Corvane reads 2", 0, nullptr},
        {"NAXIS 4", one("four.fits", four), "NAXIS = 4", 0, nullptr},
        {"no image at all", one("none.fits", noImage), "holds no image", 0, nullptr},
        {"NAXIS1 over 8192", one("wide.fits", wide), "NAXIS1 is 9000 (1 to 8192", 0, nullptr},
        {"BITPIX 64", one("b64.fits", sixtyFour), "BITPIX is 64", 0, nullptr},
        {"not a FITS file",
         [](test::TempDir& d) {
             test::writeBytes(d.file("text.fits"), {'h', 'e', 'l', 'l', 'o'});
             return d.file("text.fits");
         },
         "Not a FITS file", 0, nullptr},
        {"a cube cut short in its second frame", cut("cube.fits", cube, 2880 + 15000), nullptr, 1,
         "NAXIS3 is 3 but the file holds 1"},
        {"a frame cut short", cut("frame.fits", test::flatFrame(100, 100, 1, ""), 2880 + 5000),
         "FITS image is truncated", 0, nullptr},
        {"a folder of frames of mixed sizes",
         [](test::TempDir& d) {
             test::writeFitsImages(d.file("m_1.fits"), {test::flatFrame(8, 6, 1, "")});
             test::writeFitsImages(d.file("m_2.fits"), {test::flatFrame(8, 6, 1, "")});
             test::writeFitsImages(d.file("m_3.fits"), {test::flatFrame(6, 8, 1, "")});
             return d.file("");
         },
         "differ in size: this one is 6 x 8", 0, nullptr},
        {"a cube among single frames",
         [&](test::TempDir& d) {
             test::writeFitsImages(d.file("c_1.fits"), {test::flatFrame(100, 100, 1, "")});
             test::writeFitsImages(d.file("c_2.fits"), {cube});
             return d.file("c_1.fits");
         },
         "holds 3 frames, not one", 0, nullptr},
        {"images per HDU of mixed sizes",
         [](test::TempDir& d) {
             test::writeFitsImages(d.file("h.fits"),
                                   {test::flatFrame(8, 6, 1, ""), test::flatFrame(6, 8, 1, "")});
             return d.file("h.fits");
         },
         "images differ: HDU 2 is 6 x 8", 0, nullptr},
        {"a folder without FITS files",
         [](test::TempDir& d) {
             test::writeBytes(d.file("notes.txt"), {'x'});
             return d.file("");
         },
         "holds no FITS files", 0, nullptr},
        {"a missing file", [](test::TempDir& d) { return d.file("gone.fits"); }, "File not found",
         0, nullptr},
        {"a named pipe",
         [](test::TempDir& d) {
             ::mkfifo(d.file("pipe.fits").c_str(), 0600);
             return d.file("pipe.fits");
         },
         "not a regular file", 0, nullptr},
        {"NaN and infinite pixels", one("nan.fits", nanFrame), nullptr, 1,
         "3 pixels in 1 frame read hold no number (NaN or infinite)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        test::TempDir dir("corvane-fits-hostile");
        const std::string path = r.make(dir);
        const test::BoundedResult bounded = test::runBounded(
            [&] {
                try {
                    FitsFile f(path);
                    (void)f.frame(f.frameCount() - 1);
                    return 10;
                } catch (const Error&) {
                    return 11;
                }
            },
            1ull << 30, 5);
        ASSERT_EQ(bounded.how, test::Bounded::Exited);
        EXPECT_EQ(bounded.code, r.refusal ? 11 : 10);
        try {
            const FitsFile f(path);
            EXPECT_EQ(r.refusal, nullptr) << "opened";
            EXPECT_EQ(f.frameCount(), r.frames);
            (void)f.frame(0);
            if (r.warning) {
                EXPECT_TRUE(mentions(f.warnings(), r.warning))
                    << (f.warnings().empty() ? "no warning" : f.warnings().front());
            }
        } catch (const Error& e) {
            ASSERT_NE(r.refusal, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(r.refusal), std::string::npos) << e.what();
            // The message names the file, or the folder for folder faults.
            EXPECT_NE(std::string(e.what()).find(dir.file("")), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace corvane
