#pragma once
// The zoom view's hidden spectrum test: a two-dimensional Fourier transform of
// the top-left 128 x 128 pixels of the zoom picture, painted back below it
// together with the picture rebuilt from the spectrum. Plain C++ on a
// PixelCanvas, so it runs without a window.
#include "video/PixelCanvas.h"

#include <array>
#include <complex>
#include <vector>

namespace corvane {

inline constexpr int kSpectrumSide = 128;
// First canvas row of the painted spectrum and of the painted reconstruction.
inline constexpr int kSpectrumTop = 130;
inline constexpr int kReconstructionTop = 260;

using SpectrumValue = std::complex<long double>;
using SpectrumRow = std::array<SpectrumValue, kSpectrumSide>;
// kSpectrumSide rows of kSpectrumSide values, indexed [row][column]; held on
// the heap because one array is half a megabyte.
using SpectrumGrid = std::vector<SpectrumRow>;

// The two working arrays of the test. They start as zeros and keep the
// results of the last test.
struct SpectrumArrays {
    SpectrumArrays();
    SpectrumGrid SpectrumA;
    SpectrumGrid SpectrumB;
};

// Radix-2 decimation-in-time FFT of the first N values of `input` (taken as a
// copy) into the first N values of `output`. Forward:
//   X[k] = (1/N) * sum_n x[n] * exp(-2 pi i k n / N);
// inverse: x[n] = sum_k X[k] * exp(+2 pi i k n / N), without a factor.
// N must be a power of two from 1 to kSpectrumSide; anything else throws
// std::invalid_argument before touching `output`.
void fft(SpectrumRow input, SpectrumRow& output, int N, bool inverse);

// Loads the canvas's pixels (x, y), 0..127, as numbers, transforms them,
// paints the spectrum at (u, kSpectrumTop + v) and the reconstruction at
// (a, kReconstructionTop + b). The reconstruction comes out transposed: the
// loaded pixel (x, y) is painted again at (y, kReconstructionTop + x). The
// canvas grows to hold both pictures.
void spectrumTest(SpectrumArrays& arrays, PixelCanvas& canvas);

// The colour painted for a transformed value: the low 32 bits of its real
// part rounded half to even.
Colour spectrumColour(const SpectrumValue& v);

} // namespace corvane
