// Replays the fuzzers' seed corpora and every kept regression input through
// their harnesses in the ordinary build (the AVI source with the methods,
// the SER reader, the FITS reader): each input that once crashed, hung
// or ran away with memory must now run through quickly. Under the sanitizer
// build the same inputs are checked for memory and undefined-behaviour faults.
#include "FuzzHarness.h"
#include "FuzzReaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace corvane {
namespace {

namespace fs = std::filesystem;

using Harness = int (*)(const uint8_t*, std::size_t);

struct Input {
    std::string folder; // corpus or regressions, with the reader's suffix
    fs::path path;
    Harness harness = nullptr;
};

std::vector<Input> inputs() {
    const struct {
        const char* folder;
        Harness harness;
    } folders[] = {
        {"corpus", corvaneFuzzOneInput},       {"regressions", corvaneFuzzOneInput},
        {"corpus-ser", corvaneFuzzSerInput},   {"regressions-ser", corvaneFuzzSerInput},
        {"corpus-fits", corvaneFuzzFitsInput}, {"regressions-fits", corvaneFuzzFitsInput}};
    std::vector<Input> out;
    for (const auto& f : folders) {
        const fs::path dir = fs::path(CORVANE_SOURCE_DIR) / "fuzz" / f.folder;
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file() && e.path().filename().string().front() != '.')
                out.push_back({f.folder, e.path(), f.harness});
    }
    std::sort(out.begin(), out.end(),
              [](const Input& a, const Input& b) { return a.path < b.path; });
    return out;
}

std::string testName(const ::testing::TestParamInfo<Input>& info) {
    std::string name = info.param.folder + "_" + info.param.path.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class FuzzReplay : public ::testing::TestWithParam<Input> {};

// The fuzzer gives each input 10 s (scripts/fuzz.sh); a kept input must stay
// far below that, also under the sanitizers.
constexpr double kSecondsPerInput = 10.0;

TEST_P(FuzzReplay, RunsThroughWithoutFaultInBoundedTime) {
    std::ifstream in(GetParam().path, std::ios::binary);
    ASSERT_TRUE(in) << GetParam().path;
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetParam().harness(bytes.data(), bytes.size()), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), kSecondsPerInput) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Kept, FuzzReplay, ::testing::ValuesIn(inputs()), testName);

TEST(FuzzCorpus, HoldsASeedOfEveryCodecAndLayout) {
    const struct {
        const char* folder;
        int least;
        const char* what;
    } rows[] = {
        {"corpus", 5, "grey, colour, palette, mjpeg and h264 seeds"},
        {"corpus-ser", 4, "mono 8- and 16-bit, RGGB and stamp-less seeds"},
        {"corpus-fits", 4, "8- and 16-bit cube, single frame and image-per-HDU seeds"},
    };
    for (const auto& r : rows) {
        int seeds = 0;
        for (const Input& i : inputs())
            seeds += i.folder == r.folder;
        EXPECT_GE(seeds, r.least) << r.what << " in fuzz/" << r.folder;
    }
}

} // namespace
} // namespace corvane
