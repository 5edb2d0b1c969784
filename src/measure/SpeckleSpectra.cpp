#include "measure/SpeckleSpectra.h"

#include <fftw3.h>

#include <algorithm>
#include <mutex>
#include <numeric>
#include <stdexcept>

namespace corvane {

namespace {

struct FloatBuffer {
    explicit FloatBuffer(std::size_t n) : p(fftwf_alloc_real(n)) {
        if (!p)
            throw std::bad_alloc();
    }
    ~FloatBuffer() { fftwf_free(p); }
    FloatBuffer(const FloatBuffer&) = delete;
    FloatBuffer& operator=(const FloatBuffer&) = delete;
    float* p;
};

struct ComplexBuffer {
    explicit ComplexBuffer(std::size_t n) : p(fftwf_alloc_complex(n)) {
        if (!p)
            throw std::bad_alloc();
    }
    ~ComplexBuffer() { fftwf_free(p); }
    ComplexBuffer(const ComplexBuffer&) = delete;
    ComplexBuffer& operator=(const ComplexBuffer&) = delete;
    fftwf_complex* p;
};

} // namespace

std::mutex& fftwPlannerMutex() {
    static std::mutex m;
    return m;
}

struct SpeckleSpectra::Plan {
    Plan(int32_t n, std::size_t cells)
        : box(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)),
          squared(static_cast<std::size_t>(n) * static_cast<std::size_t>(n)), f(cells), g(cells) {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        plan = fftwf_plan_dft_r2c_2d(n, n, box.p, f.p, FFTW_ESTIMATE);
        if (!plan)
            throw std::runtime_error("no transform for a speckle box of this size");
    }
    ~Plan() {
        std::lock_guard<std::mutex> lock(fftwPlannerMutex());
        fftwf_destroy_plan(plan);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;

    FloatBuffer box, squared;
    ComplexBuffer f, g;
    fftwf_plan plan = nullptr;
};

SpeckleSpectra::SpeckleSpectra(int32_t size, int32_t framesPerBlock)
    : size_(size), framesPerBlock_(std::max(framesPerBlock, 1)) {
    if (size < 8 || size % 2 != 0)
        throw std::invalid_argument("a speckle box is even and at least 8 pixels");
    plan_ = std::make_unique<Plan>(size, shape().cells());
}

SpeckleSpectra::~SpeckleSpectra() = default;

float* SpeckleSpectra::box() {
    return plan_->box.p;
}

void SpeckleSpectra::add() {
    const std::size_t pixels = static_cast<std::size_t>(size_) * static_cast<std::size_t>(size_);
    const std::size_t cells = shape().cells();
    for (std::size_t k = 0; k < pixels; ++k)
        plan_->squared.p[k] = plan_->box.p[k] * plan_->box.p[k];
    fftwf_execute_dft_r2c(plan_->plan, plan_->box.p, plan_->f.p);
    fftwf_execute_dft_r2c(plan_->plan, plan_->squared.p, plan_->g.p);

    if (blocks_.empty() || blocks_.back().frames >= framesPerBlock_) {
        SpectrumBlock b;
        b.power.assign(cells, 0.0);
        b.cross.assign(cells, {0.0, 0.0});
        blocks_.push_back(std::move(b));
    }
    SpectrumBlock& b = blocks_.back();
    double* power = b.power.data();
    std::complex<double>* cross = b.cross.data();
    const fftwf_complex* f = plan_->f.p;
    const fftwf_complex* g = plan_->g.p;
    for (std::size_t k = 0; k < cells; ++k) {
        const float fr = f[k][0], fi = f[k][1];
        const float gr = g[k][0], gi = g[k][1];
        power[k] += static_cast<double>(fr * fr + fi * fi);
        // conj(F) G
        cross[k] += std::complex<double>(fr * gr + fi * gi, fr * gi - fi * gr);
    }
    ++b.frames;
    ++frames_;
}

SpectrumSums sumBlocks(const SpectrumShape& shape, const std::vector<SpectrumBlock>& blocks,
                       const std::vector<std::size_t>& picks) {
    SpectrumSums s;
    s.shape = shape;
    s.power.assign(shape.cells(), 0.0);
    s.cross.assign(shape.cells(), {0.0, 0.0});
    for (std::size_t i : picks) {
        const SpectrumBlock& b = blocks.at(i);
        s.frames += b.frames;
        for (std::size_t k = 0; k < s.power.size(); ++k) {
            s.power[k] += b.power[k];
            s.cross[k] += b.cross[k];
        }
    }
    return s;
}

SpectrumSums sumAll(const SpectrumShape& shape, const std::vector<SpectrumBlock>& blocks) {
    std::vector<std::size_t> all(blocks.size());
    std::iota(all.begin(), all.end(), std::size_t{0});
    return sumBlocks(shape, blocks, all);
}

} // namespace corvane
