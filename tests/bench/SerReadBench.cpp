// Reading SER frames as the measuring does: only the rows under the system
// box (76 rows for the 12-pixel boxes of the worked example), frame after
// frame, from a file the page cache holds. And the peak memory of reading a
// 20 GB file through (sparse, so it takes no disk), with a full frame for the
// display every 25th frame as a screen would show it.
#include "support/SerBytes.h"
#include "video/FrameSource.h"
#include "video/SerFile.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
namespace {

constexpr int kSystemBoxRows = 76;

// A SER file of `frames` frames of noise-like samples, written for real so
// that the page cache holds data, not holes.
std::string writeSer(int w, int h, int depth, int frames, bool sparse) {
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("corvane-bench-" + std::to_string(::getpid()) + "-" + std::to_string(w) + ".ser"))
            .string();
    std::vector<char> header(test::ser::kHeaderSize, 0);
    std::copy_n("LUCAM-RECORDER", 14, header.begin());
    test::ser::put32(header, test::ser::kWidth, w);
    test::ser::put32(header, test::ser::kHeight, h);
    test::ser::put32(header, test::ser::kDepth, depth);
    test::ser::put32(header, test::ser::kFrameCount, frames);
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    (void)!::write(fd, header.data(), header.size());
    const std::size_t frameBytes =
        static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * (depth > 8 ? 2 : 1);
    if (sparse) {
        (void)!::ftruncate(fd, static_cast<off_t>(header.size() + frameBytes * frames));
    } else {
        std::vector<char> frame(frameBytes);
        uint32_t x = 12345;
        for (char& c : frame) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 26); // small values: a dark sky
        }
        for (int n = 0; n < frames; ++n)
            (void)!::write(fd, frame.data(), frame.size());
    }
    ::close(fd);
    return path;
}

void readBoxRows(benchmark::State& state, int w, int h, int depth, int frames) {
    const std::string path = writeSer(w, h, depth, frames, false);
    {
        const SerFile f(path);
        std::vector<uint16_t> rows(static_cast<std::size_t>(w) * kSystemBoxRows);
        const int y0 = (h - kSystemBoxRows) / 2;
        int64_t n = 0;
        for (auto _ : state) {
            f.readRows(n, y0, kSystemBoxRows, rows.data());
            benchmark::DoNotOptimize(rows.data());
            n = n + 1 == f.frameCount() ? 0 : n + 1;
        }
        state.SetItemsProcessed(state.iterations());
        state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
    }
    std::remove(path.c_str());
}

void BM_SerBoxRows_640x480_8bit(benchmark::State& state) {
    readBoxRows(state, 640, 480, 8, 2000);
}
BENCHMARK(BM_SerBoxRows_640x480_8bit);

void BM_SerBoxRows_1936x1096_16bit(benchmark::State& state) {
    readBoxRows(state, 1936, 1096, 16, 200);
}
BENCHMARK(BM_SerBoxRows_1936x1096_16bit);

// The same through the frame source as the measuring will read it: the
// intensities of the band under the system box, into a full-size plane.
void readBandThroughSource(benchmark::State& state, int w, int h, int depth, int frames) {
    const std::string path = writeSer(w, h, depth, frames, false);
    {
        const std::unique_ptr<FrameSource> source = openFrameSource(path);
        Frame frame;
        const int y0 = (h - kSystemBoxRows) / 2;
        int32_t n = 0;
        for (auto _ : state) {
            source->readBand(n, {0, y0, w, y0 + kSystemBoxRows}, frame);
            benchmark::DoNotOptimize(frame.intensity.row(y0));
            n = n + 1 == source->frameCount() ? 0 : n + 1;
        }
        state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
    }
    std::remove(path.c_str());
}

void BM_SourceBand_640x480_8bit(benchmark::State& state) {
    readBandThroughSource(state, 640, 480, 8, 2000);
}
BENCHMARK(BM_SourceBand_640x480_8bit);

void BM_SourceBand_1936x1096_16bit(benchmark::State& state) {
    readBandThroughSource(state, 1936, 1096, 16, 200);
}
BENCHMARK(BM_SourceBand_1936x1096_16bit);

// Peak resident memory (the process's high-water mark, so run it alone with
// --benchmark_filter=PeakMemory) over one pass through a 20 GB file.
void BM_SerPeakMemory_20GB(benchmark::State& state) {
    constexpr int w = 1936, h = 1096;
    constexpr int frames = 4720; // 4720 x 4.24 MB = 20.0 GB
    const std::string path = writeSer(w, h, 16, frames, true);
    {
        const SerFile f(path);
        std::vector<uint16_t> rows(static_cast<std::size_t>(w) * kSystemBoxRows);
        std::vector<uint16_t> whole(static_cast<std::size_t>(w) * h);
        for (auto _ : state)
            for (int64_t n = 0; n < f.frameCount(); ++n) {
                f.readRows(n, (h - kSystemBoxRows) / 2, kSystemBoxRows, rows.data());
                if (n % 25 == 0)
                    f.readRows(n, 0, h, whole.data());
            }
        rusage use{};
        ::getrusage(RUSAGE_SELF, &use);
        state.counters["peak_rss_MB"] = static_cast<double>(use.ru_maxrss) / 1024.0;
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_SerPeakMemory_20GB)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same through the frame source: bands for measuring, every 25th frame
// whole for the display (the frame images are the source's only copies).
void BM_SourcePeakMemory_20GB(benchmark::State& state) {
    constexpr int w = 1936, h = 1096;
    constexpr int frames = 4720;
    const std::string path = writeSer(w, h, 16, frames, true);
    {
        const std::unique_ptr<FrameSource> source = openFrameSource(path);
        Frame band, shown;
        for (auto _ : state)
            for (int32_t n = 0; n < source->frameCount(); ++n) {
                const int y0 = (h - kSystemBoxRows) / 2;
                source->readBand(n, {0, y0, w, y0 + kSystemBoxRows}, band);
                if (n % 25 == 0)
                    source->read(n, shown);
            }
        rusage use{};
        ::getrusage(RUSAGE_SELF, &use);
        state.counters["peak_rss_MB"] = static_cast<double>(use.ru_maxrss) / 1024.0;
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_SourcePeakMemory_20GB)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace corvane
