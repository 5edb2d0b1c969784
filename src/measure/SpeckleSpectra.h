#pragma once
// The sums a speckle measurement is made from: over the exposures, each box's
// power spectrum |F|^2 and the cross spectrum conj(F) G of the box with its
// own square (G the transform of the squared box), whose inverse is the
// cross-correlation <I * I^2> that tells a pair's fainter star from its
// brighter one. The sums are kept per block of consecutive exposures, so
// that the measurement can be repeated on blocks drawn at random for its
// standard errors.
//
// Transforms are real-to-complex in single precision (FFTW); the sums are
// kept in double, so that tens of thousands of exposures add up without loss.
#include <complex>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// A half plane of an n x n transform as FFTW lays out a real input's: n rows
// of n / 2 + 1 columns. Column u is the frequency u / n, row v the frequency
// v / n for v <= n / 2 and (v - n) / n above it (cycles per pixel).
struct SpectrumShape {
    int32_t n = 0;
    int32_t columns() const { return n / 2 + 1; }
    std::size_t cells() const {
        return static_cast<std::size_t>(n) * static_cast<std::size_t>(columns());
    }
    // The signed frequency index of row v.
    int32_t rowFrequency(int32_t v) const { return v <= n / 2 ? v : v - n; }
};

struct SpectrumBlock {
    int32_t frames = 0;
    std::vector<double> power;               // sum of |F|^2, SpectrumShape cells
    std::vector<std::complex<double>> cross; // sum of conj(F) G
};

// The sums of a whole run, or of a choice of its blocks.
struct SpectrumSums {
    SpectrumShape shape;
    int32_t frames = 0;
    std::vector<double> power;
    std::vector<std::complex<double>> cross;
};

class SpeckleSpectra {
public:
    // Boxes of `size` x `size` pixels; every `framesPerBlock` exposures start a
    // new block. Throws std::invalid_argument for a size below 8 or odd.
    SpeckleSpectra(int32_t size, int32_t framesPerBlock);
    ~SpeckleSpectra();
    SpeckleSpectra(const SpeckleSpectra&) = delete;
    SpeckleSpectra& operator=(const SpeckleSpectra&) = delete;

    SpectrumShape shape() const { return {size_}; }
    // Where the caller writes the next box (size x size values, row by row)
    // before calling `add`.
    float* box();
    // Adds the box's spectra to the current block.
    void add();

    int32_t frames() const { return frames_; }
    const std::vector<SpectrumBlock>& blocks() const { return blocks_; }

private:
    struct Plan;
    int32_t size_;
    int32_t framesPerBlock_;
    int32_t frames_ = 0;
    std::unique_ptr<Plan> plan_;
    std::vector<SpectrumBlock> blocks_;
};

// FFTW's planner is not reentrant (executing a plan is): every plan is made
// and destroyed under this lock, since a batch measures videos on threads.
std::mutex& fftwPlannerMutex();

// The blocks chosen by `picks` (indices, repeats allowed) added up.
SpectrumSums sumBlocks(const SpectrumShape& shape, const std::vector<SpectrumBlock>& blocks,
                       const std::vector<std::size_t>& picks);
// Every block added up.
SpectrumSums sumAll(const SpectrumShape& shape, const std::vector<SpectrumBlock>& blocks);

} // namespace corvane
