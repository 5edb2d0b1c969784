// Cost of the sky estimate, which runs on every frame: around the worked
// example's 76-pixel system box (a ring of 1312 pixels) on a lit sky of 30
// with noise 3 and a field star in the ring.
#include "measure/SimPlane.h"
#include "measure/SkyEstimate.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace corvane {
namespace {

void BM_estimateSky_systemBox76(benchmark::State& state) {
    const test::TestPlane plane = test::makePlane(
        160, 160,
        [](int32_t x, int32_t y) {
            const double dx = x - 120.0, dy = y - 60.0;
            return 30 + 200 * std::exp(-(dx * dx + dy * dy) / (2 * 1.6 * 1.6));
        },
        3.0, 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(estimateSky(plane.view(), 42, 42, 118, 118));
}

BENCHMARK(BM_estimateSky_systemBox76)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace corvane
