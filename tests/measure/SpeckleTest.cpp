// The speckle measurement on exposures made here: each a random cloud of
// speckles (sharp spots of random brightness scattered over a seeing disc),
// and for a pair the same cloud again, fainter and shifted by the separation.
// The measurement knows neither the cloud nor its spots' shape; it must find
// the shift, its sign when the pair is unequal, and no pair in a single star.
#include "measure/SpeckleBox.h"
#include "measure/SpeckleMeasurement.h"
#include "measure/SpeckleTransfer.h"
#include "sim/Random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace corvane {
namespace {

constexpr int32_t kSide = 96; // the frame
constexpr int32_t kBox = 64;
constexpr int32_t kFrames = 400;
constexpr double kSpeckleSigmaPx = 1.0;
constexpr double kCloudSigmaPx = 5.0;
constexpr int kSpeckles = 25;

struct Scene {
    double dx = 0, dy = 0; // secondary minus primary, pixels (y down)
    double fluxRatio = 0;  // 0: a single star
};

// A Gaussian spot of `peak` at (px, py) added to `image`.
void addSpot(std::vector<double>& image, double px, double py, double peak) {
    const int32_t reach = static_cast<int32_t>(std::ceil(4 * kSpeckleSigmaPx));
    const int32_t x0 = static_cast<int32_t>(std::lround(px)),
                  y0 = static_cast<int32_t>(std::lround(py));
    for (int32_t y = std::max(0, y0 - reach); y <= std::min(kSide - 1, y0 + reach); ++y)
        for (int32_t x = std::max(0, x0 - reach); x <= std::min(kSide - 1, x0 + reach); ++x) {
            const double r2 = (x - px) * (x - px) + (y - py) * (y - py);
            image[static_cast<std::size_t>(y * kSide + x)] +=
                peak * std::exp(-r2 / (2 * kSpeckleSigmaPx * kSpeckleSigmaPx));
        }
}

struct Speckle {
    double x = 0, y = 0, peak = 0;
};

std::vector<Speckle> cloud(sim::Random& rng) {
    std::vector<Speckle> c;
    const double cx = kSide / 2.0 + rng.gaussian(), cy = kSide / 2.0 + rng.gaussian();
    for (int i = 0; i < kSpeckles; ++i) {
        const double x = cx + kCloudSigmaPx * rng.gaussian();
        const double y = cy + kCloudSigmaPx * rng.gaussian();
        c.push_back({x, y, -std::log(1.0 - rng.uniform()) * 400.0});
    }
    return c;
}

// One exposure of `speckles`: every speckle a spot, the secondary's a
// fainter copy.
void expose(const Scene& s, const std::vector<Speckle>& speckles, sim::Random& rng,
            IntensityPlane& plane) {
    std::vector<double> image(static_cast<std::size_t>(kSide * kSide), 100.0);
    for (const Speckle& p : speckles) {
        addSpot(image, p.x, p.y, p.peak);
        if (s.fluxRatio > 0)
            addSpot(image, p.x + s.dx, p.y + s.dy, s.fluxRatio * p.peak);
    }
    plane.reset(kSide, kSide, 16, 65535);
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
            plane.set(x, y,
                      static_cast<int32_t>(std::lround(
                          image[static_cast<std::size_t>(y * kSide + x)] + 3.0 * rng.gaussian())));
}

// `frames` exposures, each cloud of speckles held for `hold` of them.
std::unique_ptr<SpeckleSpectra> record(const Scene& s, uint64_t seed, int32_t frames = kFrames,
                                       int32_t hold = 1) {
    auto spectra = std::make_unique<SpeckleSpectra>(kBox, speckleBlockFrames(frames));
    sim::Random rng(seed, 0x5BEC, 0);
    const std::vector<float> window = apodisingWindow(kBox);
    IntensityPlane plane;
    BoxCentre centre{kSide / 2.0, kSide / 2.0};
    std::vector<Speckle> speckles;
    for (int32_t f = 0; f < frames; ++f) {
        if (f % hold == 0)
            speckles = cloud(rng);
        expose(s, speckles, rng, plane);
        centre = speckleBox(plane, centre, kBox, window, spectra->box());
        spectra->add();
    }
    return spectra;
}

struct Row {
    std::string name;
    Scene scene;
    bool withReference;
};

class SpeckleTable : public ::testing::TestWithParam<Row> {};

TEST_P(SpeckleTable, FindsTheShiftItsSignAndNoPairInOneStar) {
    const Row& row = GetParam();
    const auto pair = record(row.scene, 11);
    const auto reference = row.withReference ? record(Scene{}, 12) : nullptr;
    const SpeckleMeasurement m = measureSpeckle(*pair, reference.get());
    if (row.scene.fluxRatio == 0) {
        EXPECT_EQ(m.status, SpeckleStatus::NoPair)
            << "peak " << m.peak.height << " over limit " << m.peak.threshold;
        EXPECT_FALSE(m.limit.empty());
        return;
    }
    ASSERT_EQ(m.status, SpeckleStatus::Measured);
    const double trueSep = std::hypot(row.scene.dx, row.scene.dy);
    const double trueAngle = screenAngleOf({row.scene.dx, row.scene.dy});
    EXPECT_NEAR(m.separationPx, trueSep, 3 * m.separationPxStderr + 0.01 * trueSep);
    const double dm = -2.5 * std::log10(row.scene.fluxRatio);
    EXPECT_NEAR(m.deltaMag, dm, 3 * m.deltaMagStderr + 0.1);
    if (dm >= 0.5) {
        EXPECT_TRUE(m.quadrantDecided)
            << "asymmetry " << m.asymmetry << " +- " << m.asymmetryStderr;
        EXPECT_NEAR(std::remainder(m.screenAngle - trueAngle, 360.0), 0.0, 2.0);
    } else {
        EXPECT_FALSE(m.quadrantDecided);
        EXPECT_NEAR(std::remainder(m.screenAngle - trueAngle, 180.0), 0.0, 2.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Speckle, SpeckleTable,
    ::testing::Values(Row{"unequal_close_pair_by_reference", {4.0, -2.0, 0.4}, true},
                      Row{"unequal_wide_pair_by_radial_fit", {-9.0, 5.0, 0.5}, false},
                      Row{"equal_pair_stays_ambiguous", {3.0, 5.0, 1.0}, true},
                      Row{"single_star_gives_no_pair", {0, 0, 0}, true},
                      Row{"single_star_without_reference", {0, 0, 0}, false}),
    [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

// Exposures that repeat one cloud of speckles over two blocks hold no more
// than the cloud once: the stated errors follow the clouds, not the blocks.
// Over the seeds, the errors in their standard errors scatter as a unit
// normal's, whose mean square over n values has a standard deviation of
// sqrt(2 / n); taken for independent, the blocks give twice that square.
TEST(SpeckleErrors, ExposuresSharingTheirSpecklesCountOnce) {
    const int32_t frames = 320, hold = 2 * speckleBlockFrames(frames);
    const Scene scene{4.0, -2.0, 0.6};
    double squares = 0;
    int n = 0;
    for (uint64_t seed = 101; seed <= 116; ++seed) {
        const auto pair = record(scene, seed, frames, hold);
        const auto reference = record(Scene{}, seed + 100, frames, hold);
        const SpeckleMeasurement m = measureSpeckle(*pair, reference.get());
        ASSERT_EQ(m.status, SpeckleStatus::Measured) << "seed " << seed;
        const double sep = m.separationPx - std::hypot(scene.dx, scene.dy);
        const double angle =
            std::remainder(m.screenAngle - screenAngleOf({scene.dx, scene.dy}), 180.0);
        squares +=
            std::pow(sep / m.separationPxStderr, 2) + std::pow(angle / m.screenAngleStderr, 2);
        n += 2;
    }
    EXPECT_LT(squares / n, 1.0 + 3.0 * std::sqrt(2.0 / n));
}

// The pair's fit weighs each ring of frequencies by how little its blocks
// scatter: spectra whose eight blocks swing by +-`swing` about a flat
// transfer on the rings 3, 4 and 5 (the trusted band), with the fringes'
// depth `fringe` along u.
struct ScatterRow {
    std::string name;
    double pair3 = 0, pair5 = 0;
    double ref3 = 0, ref5 = 0; // 0: no reference
    double fringe = 0;
    double ringFiveOverThree = 0; // the weights' ratio expected (0: not checked)
};
constexpr double kHalfPi = 1.5707963267948966;

class SpeckleScatterWeights : public ::testing::TestWithParam<ScatterRow> {};

TEST_P(SpeckleScatterWeights, FollowEachRingsScatterNotTheFringes) {
    const ScatterRow& row = GetParam();
    NormalisedSpectrum s;
    s.shape.n = 16;
    s.weight.assign(s.shape.cells(), 0.0f);
    s.transferProfile.assign(9, 1.0);
    s.lowLimit = 2.5;
    s.cutoff = 5.5;
    std::vector<double> model(s.shape.cells(), 0.0);
    std::vector<SpectrumBlock> pair(8), ref(8);
    for (std::size_t b = 0; b < 8; ++b)
        pair[b] = ref[b] = {1, std::vector<double>(s.shape.cells(), 1.0), {}};
    for (std::size_t k = 0; k < s.weight.size(); ++k) {
        const int32_t u = static_cast<int32_t>(k % 9), ring = std::lround(cellRadius(s.shape, k));
        if (ring < 3 || ring > 5)
            continue;
        s.weight[k] = 0.5f;
        model[k] = 1.0 + row.fringe * std::cos(kHalfPi * u);
        const double p = ring == 3 ? row.pair3 : ring == 5 ? row.pair5 : 0.1;
        const double r = ring == 3 ? row.ref3 : ring == 5 ? row.ref5 : 0.1;
        for (std::size_t b = 0; b < 8; ++b) {
            pair[b].power[k] += b % 2 ? p : -p;
            ref[b].power[k] += b % 2 ? r : -r;
        }
    }
    const NormalisedSpectrum w = weightedByScatter(s, model, pair, row.ref3 > 0 ? &ref : nullptr);
    const auto at = [&](int32_t u, int32_t v) {
        return w.weight[static_cast<std::size_t>(v * 9 + u)];
    };
    if (row.ringFiveOverThree > 0) {
        EXPECT_NEAR(at(5, 0) / at(3, 0), row.ringFiveOverThree, 1e-4);
    }
    EXPECT_NEAR(at(4, 3) / at(5, 0), 1.0, 1e-4) << "round ring 5";
    EXPECT_EQ(at(1, 1), 0.0f) << "below the trusted band";
    EXPECT_EQ(at(6, 0), 0.0f) << "above it";
}

INSTANTIATE_TEST_SUITE_P(
    Speckle, SpeckleScatterWeights,
    ::testing::Values(ScatterRow{"twice_the_scatter_weighs_a_quarter", 0.1, 0.2, 0, 0, 0, 0.25},
                      ScatterRow{"the_references_scatter_adds", 0.1, 0.1, 0.1, 0.3, 0, 0.2},
                      ScatterRow{"fringes_leave_a_ring_evenly_weighed", 0.1, 0.1, 0, 0, 0.9, 0}),
    [](const ::testing::TestParamInfo<ScatterRow>& info) { return info.param.name; });

} // namespace
} // namespace corvane
