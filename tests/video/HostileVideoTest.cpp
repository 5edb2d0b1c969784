// Hand-made hostile AVIs: small simulator videos with one header field, the
// index or the data patched, each found through the file's chunk tree. Every
// file gives a clear error at open, or opens and handles what is wrong with
// it, with bounded memory and time: the window's open path (open, length,
// frame table of length + 1 rows, a few seeks and steps) runs in a child
// process under an address-space limit and an alarm, so a file that makes
// the program allocate per claimed frame or loop without end fails the test
// instead of taking the machine.
#include "VideoFiles.h"
#include "common/Error.h"
#include "measure/FrameTable.h"
#include "measure/Methods.h"
#include "measure/Reset.h"
#include "measure/Runs.h"
#include "measure/Selection.h"
#include "support/AviChunks.h"
#include "video/Player.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_ASAN 1
#endif
#endif

namespace corvane {
namespace {

using sim::Codec;
using test::AviChunk;

// Memory the window's open path may take beyond what the test process holds
// already: a few frames, the decoder, the index and thread arenas, never one
// row (44 bytes) per claimed frame of a billion-frame header.
constexpr uint64_t kMemoryHeadroom = 1ull << 30;
// Time for the whole open path of one small file.
constexpr unsigned kSecondsAllowed = 5;

#ifndef CORVANE_ASAN
// The address space the process uses now, in bytes.
uint64_t addressSpaceNow() {
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}
#endif

enum class OpenPath { Opened, Refused, OutOfMemory, Failed, TimedOut };

const char* describe(OpenPath p) {
    switch (p) {
    case OpenPath::Opened:
        return "opened";
    case OpenPath::Refused:
        return "refused with an Error";
    case OpenPath::OutOfMemory:
        return "ran out of memory";
    case OpenPath::Failed:
        return "failed another way (crash or foreign exception)";
    case OpenPath::TimedOut:
        return "did not finish in time";
    }
    return "?";
}

// What the window does with a newly opened file, in a child process whose
// address space and time are limited. (Under AddressSanitizer, whose shadow
// memory takes terabytes of address space, only the time is limited.)
OpenPath openPathBounded(const std::string& path) {
    const pid_t child = fork();
    if (child < 0)
        return OpenPath::Failed;
    if (child == 0) {
#ifndef CORVANE_ASAN
        const rlim_t limit = addressSpaceNow() + kMemoryHeadroom;
        const rlimit rl{limit, limit};
        setrlimit(RLIMIT_AS, &rl);
#endif
        alarm(kSecondsAllowed);
        int code = 0;
        try {
            PanelSurface panel;
            Player player(panel);
            player.OpenVideo(path);
            player.SetStepSize(1);
            WorkingState ws;
            resetvideo(ws, player, 0); // the frame table: length + 1 rows
            const int32_t n = player.VideoLength();
            for (int32_t p : {n, n / 2, 0, n - 1})
                player.SeekTo(p);
            player.StepForward();
            player.StepBack();
            code = 10;
        } catch (const Error&) {
            code = 11;
        } catch (const std::bad_alloc&) {
            code = 12;
        } catch (...) {
            code = 13;
        }
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGALRM ? OpenPath::TimedOut : OpenPath::Failed;
    switch (WEXITSTATUS(status)) {
    case 10:
        return OpenPath::Opened;
    case 11:
        return OpenPath::Refused;
    case 12:
        return OpenPath::OutOfMemory;
    default:
        return OpenPath::Failed;
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class HostileVideoTest : public ::testing::Test {
protected:
    static constexpr int kFrames = 12;
    static constexpr int kHeight = 120;

    void SetUp() override {
        good = dir.file("good.avi");
        sim::writeDriftVideo(good, test::codedVideo(Codec::Grey, kFrames));
        goodBytes = test::readBytes(good);
    }

    // A copy of the good file (or of `base`) changed by `edit`.
    std::string variant(const std::string& name,
                        const std::function<void(std::vector<char>&)>& edit,
                        const std::vector<char>* base = nullptr) {
        std::vector<char> bytes = base ? *base : goodBytes;
        edit(bytes);
        const std::string path = dir.file(name);
        test::writeBytes(path, bytes);
        return path;
    }

    // The file is refused at open with a message holding `expected` and the
    // path, quickly and within the memory bound; the player is usable after.
    void expectRefused(const std::string& path, const std::string& expected) {
        EXPECT_EQ(openPathBounded(path), OpenPath::Refused) << describe(openPathBounded(path));
        const auto start = std::chrono::steady_clock::now();
        try {
            player.OpenVideo(path);
            ADD_FAILURE() << path << " opened with length " << player.VideoLength();
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_LT(secondsSince(start), kSecondsAllowed);
        EXPECT_FALSE(player.VideoOpen());
        player.OpenVideo(good);
        player.SeekTo(5);
        EXPECT_EQ(test::panelFrameCode(panel, kHeight), 5);
    }

    // The file opens within the memory and time bounds; returns its length.
    int32_t expectOpens(const std::string& path) {
        const OpenPath bounded = openPathBounded(path);
        EXPECT_EQ(bounded, OpenPath::Opened) << describe(bounded);
        if (bounded != OpenPath::Opened)
            return -1;
        player.OpenVideo(path);
        player.SetStepSize(1);
        return player.VideoLength();
    }

    // Every frame 0 .. length - 1, reached by seeks in a scattered order and
    // by steps, shows its own number.
    void expectEveryFrameExact(int32_t length) {
        for (int32_t n : {length - 1, 0, length / 2, 3, length - 2, 1})
            if (n >= 0 && n < length) {
                player.SeekTo(n);
                EXPECT_TRUE(player.LastFrameDecoded()) << n;
                EXPECT_EQ(test::panelFrameCode(panel, kHeight), n);
            }
        player.SeekTo(0);
        for (int32_t n = 1; n < length; ++n) {
            player.StepForward();
            EXPECT_EQ(test::panelFrameCode(panel, kHeight), n);
        }
    }

    test::TempDir dir;
    std::string good;
    std::vector<char> goodBytes;
    PanelSurface panel;
    Player player{panel};
};

// --- frame counts -------------------------------------------------------------

TEST_F(HostileVideoTest, ABillionFramesInTheMainHeaderIsIgnoredForTheStreamsOwnCount) {
    // The main header's total is not what the player counts (OpenDML files
    // over 1 GB state only their first part there); the stream's own count
    // and index give the length.
    const std::string path = variant("billion-avih.avi", [](std::vector<char>& b) {
        test::putU32(b, test::findChunk(b, "avih").data + 16, 1000000000u);
    });
    EXPECT_EQ(expectOpens(path), kFrames);
    expectEveryFrameExact(kFrames);
}

TEST_F(HostileVideoTest, ABillionFramesInTheStreamHeaderIsRefusedAtOpen) {
    const std::string path = variant("billion-strh.avi", [](std::vector<char>& b) {
        test::putU32(b, test::findChunk(b, "strh").data + 32, 1000000000u);
    });
    expectRefused(path, "too many frames");
}

TEST_F(HostileVideoTest, ABillionFramesInEveryHeaderIsRefusedAtOpen) {
    const std::string path = variant("billion-all.avi", [](std::vector<char>& b) {
        test::putU32(b, test::findChunk(b, "avih").data + 16, 1000000000u);
        test::putU32(b, test::findChunk(b, "strh").data + 32, 1000000000u);
    });
    expectRefused(path, "too many frames (1000000000; at most 2000000)");
}

TEST_F(HostileVideoTest, AClaimJustUnderTheFrameLimitOpensAndStaysBounded) {
    // 1.9 million frames claimed by a 12-frame file: the player believes the
    // header, the frame table takes 1.9 million rows (about 80 MB), and the
    // positions past the data show the last frame held, as dropped frames do.
    constexpr uint32_t kClaimed = 1900000;
    const std::string path = variant("claim.avi", [](std::vector<char>& b) {
        test::putU32(b, test::findChunk(b, "strh").data + 32, kClaimed);
    });
    ASSERT_EQ(expectOpens(path), static_cast<int32_t>(kClaimed));
    const auto start = std::chrono::steady_clock::now();
    for (int32_t n : {static_cast<int32_t>(kClaimed), 1000000, 3, 1899999}) {
        player.SeekTo(n);
        EXPECT_EQ(player.CurrentPosition(), n);
        const int64_t shown = test::panelFrameCode(panel, kHeight);
        EXPECT_TRUE(shown == std::min<int64_t>(n, kFrames - 1) || !player.LastFrameDecoded())
            << n << " shows " << shown;
    }
    EXPECT_LT(secondsSince(start), kSecondsAllowed);
}

// --- frame sizes --------------------------------------------------------------

TEST_F(HostileVideoTest, AFrameSizeOf65535By65535IsRefusedAtOpen) {
    const std::string path = variant("huge.avi", [](std::vector<char>& b) {
        const std::size_t strf = test::findChunk(b, "strf").data;
        test::putU32(b, strf + 4, 65535);
        test::putU32(b, strf + 8, 65535);
    });
    expectRefused(path, "Unsupported frame size 65535 x 65535");
}

TEST_F(HostileVideoTest, AFrameSizeOf0By0IsRefusedAtOpen) {
    const std::string path = variant("empty-frame.avi", [](std::vector<char>& b) {
        const std::size_t strf = test::findChunk(b, "strf").data;
        test::putU32(b, strf + 4, 0);
        test::putU32(b, strf + 8, 0);
    });
    expectRefused(path, "Unsupported frame size 0 x 0");
}

TEST_F(HostileVideoTest, AHugeSizeInTheMainHeaderOnlyIsIgnored) {
    // The player sizes frames from the stream's bitmap header.
    const std::string path = variant("huge-avih.avi", [](std::vector<char>& b) {
        const std::size_t avih = test::findChunk(b, "avih").data;
        test::putU32(b, avih + 32, 65535);
        test::putU32(b, avih + 36, 65535);
    });
    EXPECT_EQ(expectOpens(path), kFrames);
    expectEveryFrameExact(kFrames);
}

// --- frame rate ---------------------------------------------------------------

// The stream's rate and scale (frames = rate per scale seconds) patched; the
// main header's microseconds per frame set to 0 as well, so nothing in the
// file gives a usable rate.
std::vector<char> withFrameRate(std::vector<char> b, uint32_t rate, uint32_t scale) {
    const std::size_t strh = test::findChunk(b, "strh").data;
    test::putU32(b, strh + 20, scale);
    test::putU32(b, strh + 24, rate);
    test::putU32(b, test::findChunk(b, "avih").data, 0);
    return b;
}

TEST_F(HostileVideoTest, AFrameRateOf0OpensWithAUsableRate) {
    // The demuxer falls back to a default rate; what matters is that the
    // times the read-outs show are finite, whole and rising.
    struct Case {
        const char* name;
        uint32_t rate;
        uint32_t scale;
    };
    for (const Case c : {Case{"rate-0", 0, 1}, Case{"scale-0", 25, 0}, Case{"both-0", 0, 0}}) {
        SCOPED_TRACE(c.name);
        const std::string path = variant(std::string(c.name) + ".avi", [&](std::vector<char>& b) {
            b = withFrameRate(b, c.rate, c.scale);
        });
        ASSERT_EQ(expectOpens(path), kFrames);
        EXPECT_TRUE(std::isfinite(player.FrameRate()));
        EXPECT_GT(player.FrameRate(), 0.0);
        player.SeekTo(kFrames - 1);
        EXPECT_EQ(test::panelFrameCode(panel, kHeight), kFrames - 1);
        EXPECT_GT(player.CurrentTimeMs(), 0);
        player.SetTimeFormat(TimeFormat::Milliseconds);
        EXPECT_GT(player.VideoLength(), player.CurrentPosition());
        player.SetTimeFormat(TimeFormat::Frames);
    }
}

TEST_F(HostileVideoTest, AFrameRateSoSlowThatTimesOverflowIsRefusedAtOpen) {
    // One frame per 2^32 - 1 seconds: 12 frames would last 1600 years,
    // beyond the 32-bit millisecond positions.
    const std::string path =
        variant("slow.avi", [](std::vector<char>& b) { b = withFrameRate(b, 1, 0xFFFFFFFFu); });
    expectRefused(path, "too long to be played");
}

TEST_F(HostileVideoTest, AFrameRateSoFastThatEveryFrameIsAt0MsStillSteps) {
    const std::string path =
        variant("fast.avi", [](std::vector<char>& b) { b = withFrameRate(b, 0xFFFFFFFFu, 1); });
    ASSERT_EQ(expectOpens(path), kFrames);
    EXPECT_TRUE(std::isfinite(player.FrameRate()));
    expectEveryFrameExact(kFrames);
    EXPECT_EQ(player.CurrentTimeMs(), 0);
}

// --- the index ----------------------------------------------------------------

TEST_F(HostileVideoTest, NoIndexStillPlaysEveryFrameExactly) {
    const std::string path = variant("no-index.avi", [](std::vector<char>& b) {
        test::putTag(b, test::findChunk(b, "idx1").header, "JUNK");
        const std::size_t flags = test::findChunk(b, "avih").data + 12;
        test::putU32(b, flags, test::getU32(b, flags) & ~0x10u); // AVIF_HASINDEX
    });
    EXPECT_EQ(expectOpens(path), kFrames);
    expectEveryFrameExact(kFrames);
}

TEST_F(HostileVideoTest, AnIndexListingHalfTheFramesStillPlaysEveryFrameExactly) {
    // The index is cut after half its entries; the rest becomes padding.
    const std::string path = variant("half-index.avi", [](std::vector<char>& b) {
        const AviChunk idx = test::findChunk(b, "idx1");
        const uint32_t kept = (idx.size / 16 / 2) * 16;
        test::putU32(b, idx.header + 4, kept);
        const std::size_t rest = idx.data + kept;
        test::putTag(b, rest, "JUNK");
        test::putU32(b, rest + 4, idx.size - kept - 8);
    });
    const int32_t length = expectOpens(path);
    ASSERT_GT(length, 0);
    EXPECT_LE(length, kFrames);
    expectEveryFrameExact(length);
}

TEST_F(HostileVideoTest, AFileThatEndsInsideItsIndexIsRefusedAsTruncated) {
    const std::string path = variant("cut-index.avi", [](std::vector<char>& b) {
        const AviChunk idx = test::findChunk(b, "idx1");
        b.resize(idx.data + idx.size / 2);
    });
    expectRefused(path, "truncated");
}

// --- stream kinds -------------------------------------------------------------

TEST_F(HostileVideoTest, AStreamThatSaysVideoButHoldsAudioIsRefused) {
    // An audio-only file whose stream header is relabelled "vids": the wave
    // format in its "strf" is then read as a bitmap header (sample rate as
    // width, bytes per second as height).
    sim::writeAudioOnlyAvi(dir.file("sound.avi"), 1.0);
    const std::vector<char> sound = test::readBytes(dir.file("sound.avi"));
    const std::string path = variant(
        "vids-audio.avi",
        [](std::vector<char>& b) { test::putTag(b, test::findChunk(b, "strh").data, "vids"); },
        &sound);
    expectRefused(path, "Unsupported");
}

TEST_F(HostileVideoTest, AStreamThatSaysVideoButHoldsAudioWithAPlausibleSizeShowsNoPicture) {
    // The same, with the wave format's rates patched to a small plausible
    // frame size, so the file gets past the size check: its "frames" are
    // sound samples and must not decode as pictures of another size.
    sim::writeAudioOnlyAvi(dir.file("sound.avi"), 1.0);
    const std::vector<char> sound = test::readBytes(dir.file("sound.avi"));
    const std::string path = variant(
        "vids-audio-small.avi",
        [](std::vector<char>& b) {
            test::putTag(b, test::findChunk(b, "strh").data, "vids");
            const std::size_t strf = test::findChunk(b, "strf").data;
            test::putU32(b, strf + 4, 16);
            test::putU32(b, strf + 8, 16);
        },
        &sound);
    const OpenPath bounded = openPathBounded(path);
    ASSERT_TRUE(bounded == OpenPath::Opened || bounded == OpenPath::Refused) << describe(bounded);
    if (bounded == OpenPath::Refused) {
        EXPECT_THROW(player.OpenVideo(path), Error);
        return;
    }
    player.OpenVideo(path);
    player.SetStepSize(1);
    const int32_t length = player.VideoLength();
    for (int32_t n : {0, length / 2, length})
        player.SeekTo(n);
    player.StepForward();
    player.StepBack();
    EXPECT_LE(player.CurrentPosition(), length);
}

// --- cut short ----------------------------------------------------------------

TEST_F(HostileVideoTest, AFileThatEndsInTheMiddleOfAFrameIsRefusedAsTruncated) {
    const std::string path = variant("cut-frame.avi", [](std::vector<char>& b) {
        const AviChunk frame = test::frameChunks(b)[7];
        b.resize(frame.data + frame.size / 2);
    });
    expectRefused(path, "truncated");
}

TEST_F(HostileVideoTest, AFrameCutShortWithConsistentSizesShowsNoFrameOfItsOwn) {
    // A capture stopped in the middle of writing frame 7, then closed with
    // the sizes of what was written: the RIFF and 'movi' sizes match the
    // file, frame 7's chunk says more bytes than remain, no index follows,
    // and the stream header still counts 12 frames.
    const std::string path = variant("cut-frame-closed.avi", [](std::vector<char>& b) {
        const AviChunk frame = test::frameChunks(b)[7];
        const AviChunk movi = test::findChunk(b, "movi");
        b.resize(frame.data + frame.size / 2);
        test::putU32(b, 4, static_cast<uint32_t>(b.size() - 8));
        test::putU32(b, movi.header + 4, static_cast<uint32_t>(b.size() - movi.header - 8));
        const std::size_t flags = test::findChunk(b, "avih").data + 12;
        test::putU32(b, flags, test::getU32(b, flags) & ~0x10u); // no index
    });
    const int32_t length = expectOpens(path);
    ASSERT_EQ(length, kFrames);
    expectEveryFrameExact(7);
    // The frames that hold no data of their own, the cut one included, show
    // the last whole frame, as a dropped frame does, or nothing; never a
    // picture made from half a frame.
    for (int32_t n : {7, length - 1, 9, length, 8}) {
        player.SeekTo(n);
        if (player.LastFrameDecoded()) {
            EXPECT_EQ(test::panelFrameCode(panel, kHeight), 6) << n;
        } else {
            EXPECT_TRUE(test::panelIsBlack(panel)) << n;
        }
    }
    player.SeekTo(2);
    EXPECT_EQ(test::panelFrameCode(panel, kHeight), 2);
}

// --- a frame that fails to decode in the middle of a run ------------------------

struct RunOutcome {
    RunResult run;
    FrameTable table;
};

// The window's measuring path on `path`: click the pair at its true places on
// frame 0 and run to the last frame.
RunOutcome measureRun(const std::string& path, const sim::DriftParams& p, Method method) {
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(path);
    player.SetStepSize(1);
    WorkingState ws;
    const sim::FrameTruth t = sim::frameTruth(p, 0);
    resetvideo(ws, player, 0);
    selectprimary(ws, player.Intensities(), static_cast<int32_t>(std::lround(t.primary.x)),
                  static_cast<int32_t>(std::lround(t.primary.y)), 12);
    resetvideo(ws, player, 0);
    selectsecondary(ws, player, static_cast<int32_t>(std::lround(t.secondary.x)),
                    static_cast<int32_t>(std::lround(t.secondary.y)), 12);
    player.RedrawFrame();
    RunHooks hooks;
    const int32_t stop = player.VideoLength();
    hooks.stopFrame = [stop] { return stop; };
    RunOutcome out;
    out.run = runFrames(ws, player, method, hooks);
    out.table = ws.FrameData;
    return out;
}

class FailingFrameInARun : public ::testing::TestWithParam<Codec> {
protected:
    static constexpr int kFrames = 24;
    static constexpr int kBadFrame = 11;

    // A drift video whose frame kBadFrame the decoder refuses: half a frame
    // of grey for the raw codec, the compressed data overwritten with noise
    // bytes for Motion JPEG.
    std::string writeWithBadFrame() {
        p.codec = GetParam();
        p.frames = kFrames;
        p.width = 320;
        p.height = 240;
        p.separationArcsec = 10;
        p.scalePxPerArcsec = 1.5;
        p.jitterPx = 0.1;
        p.seed = 5;
        const std::string path = dir.file("bad-frame.avi");
        if (GetParam() == Codec::Grey) {
            sim::VideoFormat f;
            f.width = p.width;
            f.height = p.height;
            sim::AviWriter w(path, f);
            for (int n = 0; n < kFrames; ++n) {
                if (n == kBadFrame)
                    w.writeRawChunk(std::vector<uint8_t>(w.rawFrameSize() / 2, 128), n);
                else
                    w.writeFrame(sim::renderFrame(p, n), n);
            }
            w.finish();
            return path;
        }
        sim::writeDriftVideo(path, p);
        std::vector<char> b = test::readBytes(path);
        const AviChunk frame = test::frameChunks(b)[kBadFrame];
        for (uint32_t i = 0; i < frame.size; ++i)
            b[frame.data + i] = static_cast<char>(i * 97 % 256);
        test::writeBytes(path, b);
        return path;
    }

    test::TempDir dir;
    sim::DriftParams p;
};

TEST_P(FailingFrameInARun, TheRunGoesOnAndOnlyThatFramesRowIsInvalid) {
    const std::string path = writeWithBadFrame();
    const std::string clean = dir.file("clean.avi");
    sim::writeDriftVideo(clean, p);
    for (Method method : {Method::WeightedAverage, Method::PeakSearch}) {
        SCOPED_TRACE(method == Method::WeightedAverage ? "Weighted Average" : "Peak Search");
        const auto start = std::chrono::steady_clock::now();
        const RunOutcome r = measureRun(path, p, method);
        EXPECT_LT(secondsSince(start), kSecondsAllowed);
        EXPECT_EQ(r.run.framesMeasured, kFrames) << "every frame after the first, to the end";
        EXPECT_FALSE(r.run.stoppedMoving);
        ASSERT_EQ(r.table.size(), static_cast<std::size_t>(kFrames) + 1);
        EXPECT_FALSE(r.table[kBadFrame].Valid);
        EXPECT_EQ(r.table[kBadFrame].FrameNo, kBadFrame);
        // Every other row is judged as in the undamaged video, except the
        // frame right after the bad one: its boxes start from wherever the
        // black frame left them.
        const RunOutcome c = measureRun(clean, p, method);
        ASSERT_EQ(c.table.size(), r.table.size());
        for (std::size_t n = 0; n < r.table.size(); ++n)
            if (n != kBadFrame && n != kBadFrame + 1) {
                EXPECT_EQ(r.table[n].Valid, c.table[n].Valid) << "frame " << n;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(RawAndCompressed, FailingFrameInARun,
                         ::testing::Values(Codec::Grey, Codec::Mjpeg),
                         [](const ::testing::TestParamInfo<Codec>& i) {
                             return std::string(sim::codecName(i.param));
                         });

} // namespace
} // namespace corvane
