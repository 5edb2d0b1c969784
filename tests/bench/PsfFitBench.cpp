// Cost of one PSF fit on a 40-pixel box, the largest box the window offers:
// a pair 10 pixels apart on a sky of 30 with noise 3, started from centres
// 0.7 pixels off, as the previous frame's fit leaves them at a fast drift;
// and a close pair (1.5 star widths) in a 20-pixel box.
#include "measure/PsfFit.h"
#include "measure/SimPlane.h"

#include <benchmark/benchmark.h>

namespace corvane {
namespace {

void fitPair(benchmark::State& state, double separationPx, int32_t side) {
    const test::SimPair pair{separationPx, 60, 3, 200, 120, 30, 3};
    const test::RenderedPair r = test::renderSimPair(pair, 96, 48, 48, 7);
    const sim::Point a = r.truth.primary, b = r.truth.secondary;
    const int32_t left = static_cast<int32_t>(0.5 * (a.x + b.x)) - side / 2;
    const int32_t top = static_cast<int32_t>(0.5 * (a.y + b.y)) - side / 2;
    PsfFitStart start;
    start.x = {a.x + 0.7, b.x - 0.5};
    start.y = {a.y - 0.5, b.y + 0.6};
    PsfFit fit;
    int32_t iterations = 0;
    for (auto _ : state) {
        const PsfFitResult res = fit.fit(r.plane.view(), left, top, left + side, top + side, start);
        iterations = res.iterations;
        benchmark::DoNotOptimize(res);
    }
    state.counters["iterations"] = iterations;
}

void BM_psffit_box40(benchmark::State& s) {
    fitPair(s, 10, 40);
}
void BM_psffit_close_box20(benchmark::State& s) {
    fitPair(s, 4.5, 20);
}

BENCHMARK(BM_psffit_box40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_psffit_close_box20)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace corvane
