// The SER reader on files the simulator writes: every header field, frame
// and time stamp comes back; the byte order of 16-bit samples is found from
// the data whatever the header says; and damaged or odd files either open
// with what is sound (and a warning) or are refused with a message naming
// the file, in bounded memory and time.
#include "video/SerFile.h"
#include "VideoFiles.h"
#include "common/Error.h"
#include "support/BoundedRun.h"
#include "support/Recordings.h"
#include "support/SerBytes.h"
#include "support/TempDir.h"
#include "video/Demosaic.h"
#include "video/UtcTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane {
namespace {

namespace ser = test::ser;
using sim::DriftParams;

int64_t ticksOf(double seconds) {
    return static_cast<int64_t>(std::llround(seconds * kTicksPerSecond));
}

bool mentions(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& t : texts)
        if (t.find(part) != std::string::npos)
            return true;
    return false;
}

class SerFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const DriftParams& p, sim::RecordingOptions o = {}) {
        o.container = sim::Container::Ser;
        const std::string path = dir.file(name);
        truth = sim::writeRecording(path, p, o);
        return path;
    }

    // A copy of `path` changed by `edit`.
    std::string variant(const std::string& path, const std::string& name,
                        const std::function<void(std::vector<char>&)>& edit) {
        std::vector<char> bytes = test::readBytes(path);
        edit(bytes);
        const std::string out = dir.file(name);
        test::writeBytes(out, bytes);
        return out;
    }

    test::TempDir dir{"corvane-ser"};
    sim::Truth truth;
};

TEST_F(SerFileTest, EveryHeaderFieldFrameAndTimeStampComesBack) {
    struct Row {
        const char* name;
        int bits;
        bool bayer;
        double jitterMs, drop;
        SerColour colour;
    } rows[] = {
        {"mono 8-bit", 8, false, 0, 0, SerColour::Mono},
        {"mono 16-bit", 16, false, 0, 0, SerColour::Mono},
        {"RGGB 8-bit", 8, true, 0, 0, SerColour::BayerRGGB},
        {"RGGB 16-bit", 16, true, 0, 0, SerColour::BayerRGGB},
        {"16-bit with time jitter and dropped frames", 16, false, 4, 0.3, SerColour::Mono},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        DriftParams p = test::smallRecording(r.bits, 12);
        p.bayer = r.bayer;
        p.tint = {1.0, 0.7, 0.4};
        p.timeJitterMs = r.jitterMs;
        p.dropFraction = r.drop;
        sim::RecordingOptions o;
        o.startUtc = "2025-08-09T23:59:58.123456";
        o.observer = "An Observer";
        o.instrument = "Camera 462";
        o.telescope = "C8 at f/20";
        const std::string path = write("rt.ser", p, o);
        if (r.drop > 0) {
            ASSERT_GT(truth.droppedFrames, 0) << "the seed drops no frame";
        }

        const SerFile f(path);
        const SerHeader& h = f.header();
        const int64_t start = ticksFromCivil(2025, 8, 9, 23, 59, 58, 1234560);
        EXPECT_EQ(h.fileId, "LUCAM-RECORDER");
        EXPECT_EQ(h.colour, r.colour);
        EXPECT_EQ(h.width, 40);
        EXPECT_EQ(h.height, 30);
        EXPECT_EQ(h.pixelDepthPerPlane, r.bits);
        EXPECT_EQ(h.frameCount, 12);
        EXPECT_EQ(h.observer, "An Observer");
        EXPECT_EQ(h.instrument, "Camera 462");
        EXPECT_EQ(h.telescope, "C8 at f/20");
        EXPECT_EQ(h.dateTime, start);
        EXPECT_EQ(h.dateTimeUtc, start);
        EXPECT_EQ(f.frameCount(), 12);
        EXPECT_EQ(f.channels(), 1);
        EXPECT_EQ(f.bitsPerSample(), r.bits);
        EXPECT_EQ(f.significantBits(), r.bits);
        EXPECT_FALSE(f.bigEndianSamples());
        EXPECT_TRUE(f.warnings().empty()) << f.warnings().front();

        ASSERT_TRUE(f.hasTimeStamps());
        EXPECT_EQ(f.startUtc(), start);
        for (int n = 0; n < 12; ++n) {
            EXPECT_EQ(f.frameOffset(n), ticksOf(truth.frames[n].timeS)) << n;
            EXPECT_EQ(f.frame(n), sim::renderSamples(p, n)) << n;
        }
        // Rows from the middle of a frame are the same rows of the whole.
        std::vector<uint16_t> band(40 * 7);
        f.readRows(5, 11, 7, band.data());
        const std::vector<uint16_t> whole = sim::renderSamples(p, 5);
        EXPECT_TRUE(std::equal(band.begin(), band.end(), whole.begin() + 11 * 40));
    }
}

// The simulator's mosaic, the header's ColorID and the demosaicing agree on
// which filter sits where: a sky of one colour comes back as that colour.
TEST_F(SerFileTest, ASimulatedRggbSkyDemosaicsToItsColour) {
    for (int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        DriftParams p = test::smallRecording(bits, 2);
        p.bayer = true;
        p.tint = {1.0, 0.7, 0.4};
        p.sky = bits == 8 ? 200 : 50000;
        p.noiseSigma = 0;
        p.primaryBrightness = p.secondaryBrightness = 0;
        const SerFile f(write("sky.ser", p));
        ASSERT_EQ(f.colour(), SerColour::BayerRGGB);
        const std::vector<uint16_t> mosaic = f.frame(1);
        std::vector<uint16_t> rgb(3 * mosaic.size());
        demosaic(mosaic.data(), f.width(), f.height(), BayerPattern::RGGB, rgb.data());
        for (std::size_t i = 0; i < mosaic.size(); ++i) {
            ASSERT_EQ(rgb[3 * i], std::nearbyint(p.sky)) << i;
            ASSERT_EQ(rgb[3 * i + 1], std::nearbyint(p.sky * 0.7)) << i;
            ASSERT_EQ(rgb[3 * i + 2], std::nearbyint(p.sky * 0.4)) << i;
        }
    }
}

// Colour frames: three samples per pixel, in the order the file stores them
// (the ColorID says which order that is), 8- and 16-bit.
TEST_F(SerFileTest, RgbAndBgrFramesGiveThreeSamplesPerPixelAsStored) {
    const struct {
        const char* name;
        int32_t colorId;
        int32_t depth;
        SerColour colour;
    } rows[] = {{"RGB 8-bit", 100, 8, SerColour::RGB},
                {"BGR 8-bit", 101, 8, SerColour::BGR},
                {"RGB 16-bit", 100, 16, SerColour::RGB}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        constexpr int w = 3, h = 2, frames = 2;
        const int bytes = r.depth / 8;
        std::vector<char> b(ser::kHeaderSize, 0);
        std::copy_n("LUCAM-RECORDER", 14, b.begin());
        ser::put32(b, ser::kColorId, r.colorId);
        ser::put32(b, ser::kWidth, w);
        ser::put32(b, ser::kHeight, h);
        ser::put32(b, ser::kDepth, r.depth);
        ser::put32(b, ser::kFrameCount, frames);
        std::vector<uint16_t> samples;
        for (int i = 0; i < frames * w * h * 3; ++i) {
            samples.push_back(static_cast<uint16_t>(bytes == 1 ? 7 * i % 256 : 1000 + 517 * i));
            b.push_back(static_cast<char>(samples.back() & 0xFF));
            if (bytes == 2)
                b.push_back(static_cast<char>(samples.back() >> 8));
        }
        const std::string path = dir.file("colour.ser");
        test::writeBytes(path, b);
        const SerFile f(path);
        EXPECT_EQ(f.colour(), r.colour);
        EXPECT_EQ(f.channels(), 3);
        EXPECT_EQ(f.frameCount(), frames);
        const std::vector<uint16_t> second(samples.begin() + w * h * 3, samples.end());
        EXPECT_EQ(f.frame(1), second);
        std::vector<uint16_t> row(w * 3);
        f.readRows(1, 1, 1, row.data());
        EXPECT_TRUE(std::equal(row.begin(), row.end(), second.begin() + w * 3));
    }
}

TEST_F(SerFileTest, SixteenBitByteOrderComesFromTheData) {
    struct Row {
        const char* name;
        bool swapData;  // store the samples big-endian
        int32_t flag;   // the header's LittleEndian field
        bool highByte;  // 8-bit levels stored in the high byte (level x 256)
        bool expectBig; // what the reader should decide
    } rows[] = {
        {"little-endian data, flag 0 as most programs write", false, 0, false, false},
        {"little-endian data, flag 1", false, 1, false, false},
        {"big-endian data, flag 0", true, 0, false, true},
        {"big-endian data, flag 1", true, 1, false, true},
        {"8-bit levels in the high byte stay little-endian", false, 0, true, false},
    };
    const DriftParams p = test::smallRecording(16);
    const std::string path = write("order.ser", p);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string v = variant(path, "order-v.ser", [&](std::vector<char>& b) {
            ser::put32(b, ser::kLittleEndian, r.flag);
            for (std::size_t i = ser::kHeaderSize; i + 1 < ser::kHeaderSize + 6u * 40 * 30 * 2;
                 i += 2) {
                if (r.highByte) {
                    b[i + 1] = static_cast<char>(static_cast<uint8_t>(b[i]) / 2);
                    b[i] = 0;
                }
                if (r.swapData)
                    std::swap(b[i], b[i + 1]);
            }
        });
        const SerFile f(v);
        EXPECT_EQ(f.bigEndianSamples(), r.expectBig);
        if (!r.highByte) {
            EXPECT_EQ(f.frame(3), sim::renderSamples(p, 3));
        }
    }
}

TEST_F(SerFileTest, UnderstatedDepthIsRaisedToWhatTheSamplesUse) {
    struct Row {
        const char* name;
        int32_t headerDepth;
        uint16_t brightest; // written into one pixel of every frame
        int expectBits;
    } rows[] = {
        {"12-bit header, samples within 12 bits", 12, 4095, 12},
        {"12-bit header, samples to 65535", 12, 65535, 16},
        {"10-bit header, samples to 14 bits", 10, 16383, 14},
    };
    DriftParams p = test::smallRecording(16);
    p.sky = 100;
    p.noiseSigma = 5;
    p.primaryBrightness = 1500;
    p.secondaryBrightness = 900;
    const std::string path = write("depth.ser", p);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string v = variant(path, "depth-v.ser", [&](std::vector<char>& b) {
            ser::put32(b, ser::kDepth, r.headerDepth);
            for (int n = 0; n < 6; ++n) {
                const std::size_t at = ser::kHeaderSize + static_cast<std::size_t>(n) * 2400;
                b[at] = static_cast<char>(r.brightest & 0xFF);
                b[at + 1] = static_cast<char>(r.brightest >> 8);
            }
        });
        const SerFile f(v);
        EXPECT_EQ(f.significantBits(), r.expectBits);
        EXPECT_EQ(mentions(f.warnings(), "PixelDepthPerPlane is"), r.expectBits != r.headerDepth);
    }
}

TEST_F(SerFileTest, WithoutUsableStampsTimesComeFromTheFrameRate) {
    struct Row {
        const char* name;
        bool stamps;
        bool headerDate;
        std::optional<int64_t> expectStart;
    } rows[] = {
        {"time stamps: the first is the start", true, true, ticksFromCivil(2024, 2, 29, 1, 2, 3)},
        {"no stamps: DateTime_UTC is the start", false, true, ticksFromCivil(2024, 2, 29, 1, 2, 3)},
        {"no stamps, DateTime_UTC unset: no start", false, false, std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim::RecordingOptions o;
        o.startUtc = "2024-02-29T01:02:03";
        o.timeStamps = r.stamps;
        std::string path = write("fps.ser", test::smallRecording(8), o);
        if (!r.headerDate)
            path = variant(path, "fps-v.ser",
                           [](std::vector<char>& b) { ser::put64(b, ser::kDateTimeUtc, 0); });
        SerFile f(path);
        EXPECT_EQ(f.hasTimeStamps(), r.stamps);
        EXPECT_EQ(f.startUtc(), r.expectStart);
        if (!r.stamps) {
            try {
                (void)f.frameOffset(2);
                ADD_FAILURE() << "a frame time without stamps or a frame rate";
            } catch (const Error& e) {
                EXPECT_NE(std::string(e.what()).find("give the frame rate"), std::string::npos);
            }
            f.setFrameRate(25);
        }
        // 30 frames/s in the stamps, 25 given where there are none.
        EXPECT_EQ(f.frameOffset(5), r.stamps ? ticksOf(5 / 30.0) : 2'000'000);
        EXPECT_EQ(f.frameUtc(5).has_value(), r.expectStart.has_value());
    }
}

// Damaged and odd files: each opens with what is sound and says what it
// worked around, or is refused with a message that names the file and the
// fault; both within bounded memory and time.
TEST_F(SerFileTest, HostileFilesOpenWhatIsSoundOrAreRefusedClearly) {
    constexpr std::size_t kFrame = 40 * 30; // bytes of one 8-bit frame
    constexpr std::size_t kData = ser::kHeaderSize + 6 * kFrame;
    using Edit = std::function<void(std::vector<char>&)>;
    struct Row {
        const char* name;
        Edit edit;
        const char* refusal; // part of the error message, or null when it opens
        int64_t frames;      // when it opens
        bool stamps;         // when it opens
        const char* warning; // part of a warning, or null for none
    } rows[] = {
        {"header cut short", [](auto& b) { b.resize(100); }, "SER header is truncated (100 of 178",
         0, false, nullptr},
        {"not a SER file", [](auto& b) { b[0] = 'X'; }, "Not a SER video", 0, false, nullptr},
        {"width 0", [](auto& b) { ser::put32(b, ser::kWidth, 0); }, "ImageWidth is 0 (1 to 8192", 0,
         false, nullptr},
        {"width over 8192", [](auto& b) { ser::put32(b, ser::kWidth, 8193); }, "ImageWidth is 8193",
         0, false, nullptr},
        {"height 0", [](auto& b) { ser::put32(b, ser::kHeight, 0); }, "ImageHeight is 0", 0, false,
         nullptr},
        {"height over 8192", [](auto& b) { ser::put32(b, ser::kHeight, 1 << 30); },
         "ImageHeight is 1073741824", 0, false, nullptr},
        {"depth 0", [](auto& b) { ser::put32(b, ser::kDepth, 0); },
         "PixelDepthPerPlane is 0 (1 to 16", 0, false, nullptr},
        {"depth over 16", [](auto& b) { ser::put32(b, ser::kDepth, 17); },
         "PixelDepthPerPlane is 17", 0, false, nullptr},
        {"unknown ColorID", [](auto& b) { ser::put32(b, ser::kColorId, 7); },
         "ColorID 7 is unknown", 0, false, nullptr},
        {"a CYYM mosaic", [](auto& b) { ser::put32(b, ser::kColorId, 16); },
         "CYYM (ColorID 16) is not supported", 0, false, nullptr},
        {"negative FrameCount", [](auto& b) { ser::put32(b, ser::kFrameCount, -1); },
         "FrameCount is -1", 0, false, nullptr},
        {"no complete frame", [](auto& b) { b.resize(ser::kHeaderSize + 10); },
         "holds no complete frame", 0, false, nullptr},
        {"FrameCount far beyond the file",
         [](auto& b) { ser::put32(b, ser::kFrameCount, 2147483647); }, nullptr, 6, true,
         "FrameCount is 2147483647 but the file holds 6"},
        {"FrameCount 0", [](auto& b) { ser::put32(b, ser::kFrameCount, 0); }, nullptr, 6, true,
         "FrameCount is 0 but the file holds 6"},
        {"last frame cut short", [](auto& b) { b.resize(kData - kFrame / 2); }, nullptr, 5, false,
         "The SER file is truncated: the header's FrameCount is 6 but the file holds 5 complete "
         "frames"},
        {"frames twice as wide as the file holds", [](auto& b) { ser::put32(b, ser::kWidth, 80); },
         nullptr, 3, false, "FrameCount is 6 but the file holds 3"},
        {"time stamps cut short", [](auto& b) { b.resize(b.size() - 4); }, nullptr, 6, false,
         "time stamps after the frames are truncated (44 of 48 bytes"},
        {"time stamps decreasing",
         [](auto& b) {
             const int64_t t = ser::get64(b, kData + 16);
             ser::put64(b, kData + 16, ser::get64(b, kData + 24));
             ser::put64(b, kData + 24, t);
         },
         nullptr, 6, false, "out of order (frame 3 is earlier than frame 2)"},
        {"a zero time stamp", [](auto& b) { ser::put64(b, kData + 8, 0); }, nullptr, 6, false,
         "time stamp of frame 1 is zero"},
        {"a time stamp that is no date",
         [](auto& b) { ser::put64(b, kData + 40, ticksFromCivil(9999, 1, 1, 0, 0, 0)); }, nullptr,
         6, false, "frame 5 is not a date"},
        {"a DateTime_UTC that is no date",
         [](auto& b) { ser::put64(b, ser::kDateTimeUtc, 9223372036854775807); }, nullptr, 6, true,
         "DateTime_UTC is not a date"},
        {"bytes after the time stamps", [](auto& b) { b.insert(b.end(), 5, '\0'); }, nullptr, 6,
         true, "5 bytes after the time stamps"},
    };
    const std::string good = write("good.ser", test::smallRecording(8));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = variant(good, "hostile.ser", r.edit);
        const test::BoundedResult bounded = test::runBounded(
            [&] {
                try {
                    SerFile f(path);
                    std::vector<uint16_t> buf(static_cast<std::size_t>(f.width()) * f.height());
                    f.readRows(f.frameCount() - 1, 0, f.height(), buf.data());
                    return 10;
                } catch (const Error&) {
                    return 11;
                }
            },
            1ull << 30, 5);
        ASSERT_EQ(bounded.how, test::Bounded::Exited);
        EXPECT_EQ(bounded.code, r.refusal ? 11 : 10);
        try {
            const SerFile f(path);
            EXPECT_EQ(r.refusal, nullptr) << "opened";
            EXPECT_EQ(f.frameCount(), r.frames);
            EXPECT_EQ(f.hasTimeStamps(), r.stamps);
            if (r.warning)
                EXPECT_TRUE(mentions(f.warnings(), r.warning))
                    << (f.warnings().empty() ? "no warning" : f.warnings().front());
            else
                EXPECT_TRUE(f.warnings().empty());
        } catch (const Error& e) {
            ASSERT_NE(r.refusal, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(r.refusal), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

TEST_F(SerFileTest, MissingEmptyFolderAndPipeAreRefusedByName) {
    const std::string empty = dir.file("empty.ser");
    test::writeBytes(empty, {});
    const std::string folder = dir.file("folder.ser");
    std::filesystem::create_directory(folder);
    const std::string pipe = dir.file("pipe.ser"); // nobody writes: a blocking open would hang
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* text;
    } rows[] = {{dir.file("missing.ser"), "File not found"},
                {empty, "The file is empty"},
                {folder, "This is a folder"},
                {pipe, "not a regular file"}};
    for (const auto& r : rows) {
        try {
            SerFile f(r.path);
            ADD_FAILURE() << r.path << " opened";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(r.text), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(r.path), std::string::npos) << e.what();
        }
    }
}

// A 1936 x 1096 16-bit file of 1100 frames passes 4 GB: frames and stamps
// beyond it are found at their 64-bit offsets. The file is sparse, so it
// costs no disk space.
TEST_F(SerFileTest, FramesAndStampsPastFourGigabytesAreRead) {
    constexpr int kW = 1936, kH = 1096, kFrames = 1100;
    constexpr uint64_t kFrameBytes = uint64_t{kW} * kH * 2;
    const std::string path = dir.file("big.ser");
    std::vector<char> header = test::readBytes(write("h.ser", test::smallRecording(16, 1)));
    header.resize(ser::kHeaderSize);
    ser::put32(header, ser::kWidth, kW);
    ser::put32(header, ser::kHeight, kH);
    ser::put32(header, ser::kFrameCount, kFrames);
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const uint64_t dataEnd = ser::kHeaderSize + kFrameBytes * kFrames;
    ASSERT_GT(dataEnd, 1ull << 32);
    ASSERT_EQ(::pwrite(fd, header.data(), header.size(), 0), ssize_t(header.size()));
    // Row 700 of the last frame: samples counting up from 1000.
    std::vector<uint8_t> row(kW * 2);
    for (int x = 0; x < kW; ++x) {
        row[2 * x] = static_cast<uint8_t>((1000 + x) & 0xFF);
        row[2 * x + 1] = static_cast<uint8_t>((1000 + x) >> 8);
    }
    const off_t rowAt = static_cast<off_t>(dataEnd - kFrameBytes + 700ull * kW * 2);
    ASSERT_EQ(::pwrite(fd, row.data(), row.size(), rowAt), ssize_t(row.size()));
    const int64_t start = ticksFromCivil(2026, 1, 2, 3, 4, 5);
    std::vector<char> stamps(8 * kFrames);
    for (int n = 0; n < kFrames; ++n)
        ser::put64(stamps, 8 * static_cast<std::size_t>(n), start + n * 200'000);
    ASSERT_EQ(::pwrite(fd, stamps.data(), stamps.size(), static_cast<off_t>(dataEnd)),
              ssize_t(stamps.size()));
    ::close(fd);

    const SerFile f(path);
    EXPECT_EQ(f.frameCount(), kFrames);
    ASSERT_TRUE(f.hasTimeStamps());
    EXPECT_EQ(f.frameOffset(kFrames - 1), (kFrames - 1) * 200'000);
    std::vector<uint16_t> got(kW * 3);
    f.readRows(kFrames - 1, 699, 3, got.data());
    for (int x = 0; x < kW; ++x) {
        ASSERT_EQ(got[x], 0) << x;
        ASSERT_EQ(got[kW + x], 1000 + x) << x;
        ASSERT_EQ(got[2 * kW + x], 0) << x;
    }
}

TEST(SerTime, TicksCountFromTheFirstDayOfYearOne) {
    // 1970-01-01 is 621355968000000000 ticks after 0001-01-01, the offset
    // between the two epochs that .NET and SER clocks use.
    EXPECT_EQ(ticksFromCivil(1970, 1, 1, 0, 0, 0), 621355968000000000);
    const struct {
        const char* text;
        std::optional<int64_t> ticks;
    } rows[] = {
        {"2023-09-07T22:22:39.131697", ticksFromCivil(2023, 9, 7, 22, 22, 39, 1316970)},
        {"2024-02-29T00:00:00", ticksFromCivil(2024, 2, 29, 0, 0, 0)},
        {"2024-02-29", ticksFromCivil(2024, 2, 29, 0, 0, 0)},
        {"2023-02-29T00:00:00", std::nullopt},
        {"2023-09-07 22:22:39", std::nullopt},
        {"2023-09-07T22:22:39.", std::nullopt},
        {"2023-09-07T24:00:00", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& r : rows)
        EXPECT_EQ(parseIsoTime(r.text), r.ticks) << r.text;
    EXPECT_EQ(isoTimeOf(ticksFromCivil(2023, 9, 7, 22, 22, 39, 1316979)),
              "2023-09-07T22:22:39.131697");
}

} // namespace
} // namespace corvane
