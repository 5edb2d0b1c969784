// Opening files that are not what they should be: each gives a message that
// says what is wrong and leaves the player usable. Also a real AVI written by
// other software, and (on request) an OpenDML file over 1 GB.
#include "VideoFiles.h"
#include "common/Error.h"
#include "sim/Random.h"
#include "video/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>

namespace corvane {
namespace {

using sim::Codec;

// Offset of the four bytes `tag` in the file's header, which lies well within
// the first 8 KB of these small files.
std::size_t findTag(const std::vector<char>& bytes, const char* tag) {
    for (std::size_t i = 0; i + 4 <= bytes.size() && i < 8192; ++i)
        if (std::memcmp(&bytes[i], tag, 4) == 0)
            return i;
    throw std::runtime_error(std::string("no ") + tag + " in the test file");
}

void putU32(std::vector<char>& bytes, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class OpenFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        good = dir.file("good.avi");
        sim::writeDriftVideo(good, test::codedVideo(Codec::Grey, 10));
        goodBytes = test::readBytes(good);
    }

    // Writes a copy of the good file changed by `edit` and returns its path.
    std::string variant(const std::string& name,
                        const std::function<void(std::vector<char>&)>& edit) {
        std::vector<char> bytes = goodBytes;
        edit(bytes);
        const std::string path = dir.file(name);
        test::writeBytes(path, bytes);
        return path;
    }

    // Opening `path` fails with a message holding `expected` and the file's
    // path; the player is then closed and opens a good file.
    void expectRefused(const std::string& path, const std::string& expected) {
        player.OpenVideo(good);
        player.SeekTo(2);
        try {
            player.OpenVideo(path);
            ADD_FAILURE() << path << " opened";
        } catch (const Error& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(expected), std::string::npos) << text;
            EXPECT_NE(text.find(path), std::string::npos) << text;
        }
        EXPECT_FALSE(player.VideoOpen());
        EXPECT_TRUE(test::panelIsBlack(panel)) << "the earlier video is closed";
        player.OpenVideo(good);
        player.SeekTo(5);
        EXPECT_EQ(test::panelFrameCode(panel, 120), 5);
    }

    test::TempDir dir;
    std::string good;
    std::vector<char> goodBytes;
    PanelSurface panel;
    Player player{panel};
};

TEST_F(OpenFilesTest, MissingFile) {
    expectRefused(dir.file("nowhere.avi"), "File not found");
}

TEST_F(OpenFilesTest, AFolder) {
    expectRefused(dir.file(""), "folder");
}

TEST_F(OpenFilesTest, ZeroByteFile) {
    test::writeBytes(dir.file("zero.avi"), {});
    expectRefused(dir.file("zero.avi"), "empty");
}

TEST_F(OpenFilesTest, RandomBytesNamedAvi) {
    sim::Random rng(5, 1, 1);
    std::vector<char> bytes(5000);
    for (char& c : bytes)
        c = static_cast<char>(rng.uniform() * 256);
    test::writeBytes(dir.file("noise.avi"), bytes);
    expectRefused(dir.file("noise.avi"), "Not an AVI, SER or FITS video");
}

TEST_F(OpenFilesTest, TheReaderIsChosenByContentNotByName) {
    const std::string avi = variant("video.dat", [](std::vector<char>&) {});
    EXPECT_NO_THROW(player.OpenVideo(avi));
    EXPECT_GT(player.VideoLength(), 0);
}

TEST_F(OpenFilesTest, TextAndSoundFilesAreNotAviVideos) {
    test::writeBytes(dir.file("notes.avi"), {'h', 'e', 'l', 'l', 'o', '\n'});
    expectRefused(dir.file("notes.avi"), "Not an AVI, SER or FITS video");
    const std::string wave =
        variant("sound.avi", [](std::vector<char>& b) { std::memcpy(&b[8], "WAVE", 4); });
    expectRefused(wave, "Not an AVI, SER or FITS video");
}

TEST_F(OpenFilesTest, TruncatedFiles) {
    for (std::size_t keep :
         {goodBytes.size() * 6 / 10, std::size_t{3000}, std::size_t{100}, std::size_t{13}}) {
        SCOPED_TRACE(keep);
        const std::string path = variant("cut" + std::to_string(keep) + ".avi",
                                         [&](std::vector<char>& b) { b.resize(keep); });
        expectRefused(path, "truncated");
    }
}

TEST_F(OpenFilesTest, ADamagedHeader) {
    // The RIFF frame is whole but the AVI header inside it is noise.
    const std::string path = variant("garbled.avi", [](std::vector<char>& b) {
        for (std::size_t i = 12; i < 2000; ++i)
            b[i] = static_cast<char>(i * 37 % 251);
    });
    expectRefused(path, "damaged");
}

TEST_F(OpenFilesTest, UnsupportedCodecIsNamed) {
    const std::string path = variant("qqqq.avi", [](std::vector<char>& b) {
        std::memcpy(&b[findTag(b, "strh") + 12], "QQQQ", 4);
        std::memcpy(&b[findTag(b, "strf") + 8 + 16], "QQQQ", 4);
    });
    expectRefused(path, "Unsupported video codec 'QQQQ'");
}

TEST_F(OpenFilesTest, NoStream) {
    const std::string path = variant("nostream.avi", [](std::vector<char>& b) {
        std::memcpy(&b[findTag(b, "strh") + 8], "xxxx", 4); // a stream of no known kind
    });
    expectRefused(path, "no video or audio stream");
}

TEST_F(OpenFilesTest, AbsurdFrameSizesAreRefused) {
    for (auto [w, h] : {std::pair<int, int>{100000, 100000}, {0, 0}, {8193, 16}, {16, -9000}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        const std::string path = variant("size.avi", [w = w, h = h](std::vector<char>& b) {
            const std::size_t strf = findTag(b, "strf");
            putU32(b, strf + 12, static_cast<uint32_t>(w));
            putU32(b, strf + 16, static_cast<uint32_t>(h));
        });
        expectRefused(path, "Unsupported frame size");
    }
}

TEST_F(OpenFilesTest, AbsurdFrameCountsAreRefused) {
    const std::string path = variant("many.avi", [](std::vector<char>& b) {
        putU32(b, findTag(b, "avih") + 8 + 16, 3000000); // total frames
        putU32(b, findTag(b, "strh") + 8 + 32, 3000000); // stream length
    });
    expectRefused(path, "too many frames");
}

TEST_F(OpenFilesTest, DamagedBytesAnywhereNeverCrashTheSource) {
    // Damage a few bytes at a time, in the header and in the frames; every
    // file either opens and plays (black for what cannot be decoded) or is
    // refused with a message.
    sim::Random rng(11, 2, 3);
    std::set<std::string> messages;
    int opened = 0;
    for (int round = 0; round < 60; ++round) {
        const std::string path = variant("hit.avi", [&](std::vector<char>& b) {
            const std::size_t span = round % 2 ? 600 : b.size();
            for (int k = 0; k < 1 + round % 5; ++k)
                b[static_cast<std::size_t>(rng.uniform() * static_cast<double>(span))] =
                    static_cast<char>(rng.uniform() * 256);
        });
        try {
            player.OpenVideo(path);
        } catch (const Error& e) {
            messages.insert(e.what());
            continue;
        }
        ++opened;
        const int n = player.VideoLength();
        player.SetStepSize(1);
        for (int p : {n, 0, n / 2, 1, n - 1})
            player.SeekTo(p);
        for (int i = 0; i < 4; ++i)
            player.StepForward();
        player.StepBack();
    }
    EXPECT_GT(opened, 0);
    for (const std::string& m : messages)
        EXPECT_FALSE(m.empty());
}

// --- a real AVI from other software ---------------------------------------

TEST(ForeignFile, AnMpeg4AviFromAnotherProgramOpensStepsAndSeeks) {
    const std::string path =
        std::string(CORVANE_SOURCE_DIR) + "/../shared/samples/moon-mpeg4-1280x960.avi";
    if (!std::filesystem::exists(path)) {
        // CI lays ../shared beside its clone and sets CORVANE_REQUIRE_SAMPLES,
        // so there a missing sample fails instead of passing unseen.
        if (std::getenv("CORVANE_REQUIRE_SAMPLES"))
            FAIL() << "the shared sample " << path << " is missing";
        GTEST_SKIP() << "the shared sample " << path
                     << " is not here (a clone of the repository alone has no ../shared)";
    }
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(path);
    ASSERT_EQ(player.VideoLength(), 101);
    EXPECT_EQ(player.FrameRate(), 59.0);
    // Step through once, remembering each frame as shown; then seeks in a
    // scattered order must show the same pictures.
    std::vector<std::vector<Colour>> stepped;
    player.SetStepSize(1);
    player.SeekTo(0);
    stepped.emplace_back(panel.data(), panel.data() + 640 * 480);
    for (int n = 1; n < 101; ++n) {
        player.StepForward();
        ASSERT_TRUE(player.LastFrameDecoded()) << n;
        stepped.emplace_back(panel.data(), panel.data() + 640 * 480);
    }
    EXPECT_NE(stepped[0], stepped[100]);
    for (int n : {100, 3, 59, 58, 0, 77, 40}) {
        player.SeekTo(n);
        EXPECT_TRUE(std::equal(stepped[static_cast<std::size_t>(n)].begin(),
                               stepped[static_cast<std::size_t>(n)].end(), panel.data()))
            << "frame " << n;
    }
    player.SeekTo(59);
    EXPECT_EQ(player.CurrentTimeMs(), 1000);
}

// --- OpenDML over 1 GB (slow; only on request) ------------------------------

TEST(LargeFile, AnOpenDmlFileOver1GbSeeksToItsLastFrames) {
    const char* wanted = std::getenv("CORVANE_TEST_LARGE_AVI");
    if (!wanted || std::string(wanted) != "1")
        GTEST_SKIP() << "writes 1.1 GB; set CORVANE_TEST_LARGE_AVI=1 to run it";
    test::TempDir dir;
    sim::DriftParams p = test::codedVideo(Codec::Grey, 3700); // 3700 x 307200 bytes
    p.width = 640;
    p.height = 480;
    p.noiseSigma = 0;
    sim::writeDriftVideo(dir.file("large.avi"), p);
    ASSERT_GT(std::filesystem::file_size(dir.file("large.avi")), 1100000000u);
    PanelSurface panel;
    Player player(panel);
    player.OpenVideo(dir.file("large.avi"));
    ASSERT_EQ(player.VideoLength(), 3700);
    for (int n : {3699, 10, 3500, 1800, 3700}) {
        player.SeekTo(n);
        EXPECT_EQ(test::panelFrameCode(panel, 480), std::min(n, 3699));
    }
}

} // namespace
} // namespace corvane
