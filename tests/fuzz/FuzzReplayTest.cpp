// Replays the fuzzer's seed corpus and every kept regression input through
// the fuzz harness in the ordinary build: each input that once crashed, hung
// or ran away with memory must now run through quickly. Under the sanitizer
// build the same inputs are checked for memory and undefined-behaviour faults.
#include "FuzzHarness.h"

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

struct Input {
    std::string folder; // corpus or regressions
    fs::path path;
};

std::vector<Input> inputs() {
    std::vector<Input> out;
    for (const char* folder : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(CORVANE_SOURCE_DIR) / "fuzz" / folder;
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file() && e.path().filename().string().front() != '.')
                out.push_back({folder, e.path()});
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
    EXPECT_EQ(corvaneFuzzOneInput(bytes.data(), bytes.size()), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), kSecondsPerInput) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Kept, FuzzReplay, ::testing::ValuesIn(inputs()), testName);

TEST(FuzzCorpus, HoldsASeedOfEveryCodec) {
    int seeds = 0;
    for (const Input& i : inputs())
        seeds += i.folder == "corpus";
    EXPECT_GE(seeds, 5) << "grey, colour, palette, mjpeg and h264 seeds in fuzz/corpus";
}

} // namespace
} // namespace corvane
