// Cost of measuring one frame with each method on the worked-example
// geometry: star boxes of 12 around (100, 50) and (126, 56), so the system
// box is 76 pixels square. A dark sky lies below the smoothing threshold; on
// a bright sky the sky estimate takes the background off first. PSF Fit's
// cost is the sky estimate, the system box and one fit.
#include "measure/Methods.h"
#include "measure/Selection.h"
#include "measure/StarField.h"

#include <benchmark/benchmark.h>

namespace corvane {
namespace {

struct Scene {
    IntensityPlane plane;
    WorkingState ws;
};

Scene makeScene(double skyLevel, double noise) {
    Scene f;
    const std::vector<test::Star> stars = {{100, 50, 180, 1.6}, {126, 56, 120, 1.6}};
    const test::Sky sky{skyLevel, noise, 5};
    f.ws.FrameData.assign(10, FrameRow{});
    test::renderStars(f.plane, stars, sky);
    selectprimary(f.ws, f.plane, 100, 50, 12);
    selectsecondary(f.ws, f.plane, 126, 56, 12, [] {});
    return f;
}

template <bool (*method)(WorkingState&, const IntensityPlane&, int32_t, int64_t)>
void measureFrame(benchmark::State& state, double skyLevel, double noise) {
    Scene f = makeScene(skyLevel, noise);
    const TStarbox p = f.ws.PrimaryBox, s = f.ws.SecondaryBox, sys = f.ws.SystemBox;
    for (auto _ : state) {
        // Every frame starts from the boxes as selected.
        f.ws.PrimaryBox = p;
        f.ws.SecondaryBox = s;
        f.ws.SystemBox = sys;
        benchmark::DoNotOptimize(method(f.ws, f.plane, 5, 200));
    }
    state.counters["systemBox"] = f.ws.SystemBox.Size;
}

void BM_findcentroid_dark(benchmark::State& s) {
    measureFrame<findcentroid>(s, 0, 1.0);
}
void BM_findcentroid_bright(benchmark::State& s) {
    measureFrame<findcentroid>(s, 80, 3.0);
}
void BM_findpeaks_dark(benchmark::State& s) {
    measureFrame<findpeaks>(s, 0, 1.0);
}
void BM_findpeaks_bright(benchmark::State& s) {
    measureFrame<findpeaks>(s, 80, 3.0);
}
void BM_fitpair_dark(benchmark::State& s) {
    measureFrame<fitpair>(s, 0, 1.0);
}
void BM_fitpair_bright(benchmark::State& s) {
    measureFrame<fitpair>(s, 80, 3.0);
}

BENCHMARK(BM_findcentroid_dark)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_findcentroid_bright)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_findpeaks_dark)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_findpeaks_bright)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fitpair_dark)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fitpair_bright)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace corvane
