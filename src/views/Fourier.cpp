#include "views/Fourier.h"

#include "common/Rounding.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace corvane {

namespace {

bool isPowerOfTwoUpTo(int n, int limit) {
    return n >= 1 && n <= limit && (n & (n - 1)) == 0;
}

// The picture's colour values as complex numbers with imaginary parts zero.
void load(SpectrumGrid& a, const PixelCanvas& canvas) {
    for (int y = 0; y < kSpectrumSide; ++y)
        for (int x = 0; x < kSpectrumSide; ++x)
            a[y][x] = SpectrumValue(static_cast<long double>(canvas.pixel(x, y)), 0.0L);
}

void transformRows(const SpectrumGrid& from, SpectrumGrid& to, bool inverse) {
    for (int r = 0; r < kSpectrumSide; ++r)
        fft(from[r], to[r], kSpectrumSide, inverse);
}

void transpose(const SpectrumGrid& from, SpectrumGrid& to) {
    for (int r = 0; r < kSpectrumSide; ++r)
        for (int c = 0; c < kSpectrumSide; ++c)
            to[c][r] = from[r][c];
}

// A spectrum back onto the picture: element [i][j] goes to pixel (i, top + j),
// so the picture shows the grid transposed.
void paint(const SpectrumGrid& b, PixelCanvas& canvas, int top) {
    for (int i = 0; i < kSpectrumSide; ++i)
        for (int j = 0; j < kSpectrumSide; ++j)
            canvas.setPixel(i, top + j, spectrumColour(b[i][j]));
}

} // namespace

SpectrumArrays::SpectrumArrays()
    : SpectrumA(kSpectrumSide, SpectrumRow{}), SpectrumB(kSpectrumSide, SpectrumRow{}) {}

void fft(SpectrumRow input, SpectrumRow& output, int N, bool inverse) {
    if (!isPowerOfTwoUpTo(N, kSpectrumSide))
        throw std::invalid_argument("fft: N must be a power of two from 1 to 128");

    // Bit-reversed order.
    int j = 0;
    for (int i = 0; i <= N - 2; ++i) {
        output[i] = input[j];
        int k = N / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    output[N - 1] = input[N - 1];

    // Butterflies; the twiddle step (c, s) halves its angle after each stage.
    const int stages = static_cast<int>(round_half_even(std::log2(static_cast<long double>(N))));
    long double c = -1.0L;
    long double s = 0.0L;
    int span = 1;
    for (int stage = 0; stage < stages; ++stage) {
        const int half = span;
        span *= 2;
        SpectrumValue w(1.0L, 0.0L);
        for (int jj = 0; jj < half; ++jj) {
            for (int i = jj; i < N; i += span) {
                const int p = i + half;
                const SpectrumValue t = w * output[p];
                output[p] = output[i] - t;
                output[i] = output[i] + t;
            }
            w = w * SpectrumValue(c, s);
        }
        s = std::sqrt((1.0L - c) / 2.0L);
        if (!inverse)
            s = -s;
        c = std::sqrt((1.0L + c) / 2.0L);
    }

    if (!inverse) {
        for (int i = 0; i < N; ++i)
            output[i] = SpectrumValue(output[i].real() / N, output[i].imag() / N);
    }
}

Colour spectrumColour(const SpectrumValue& v) {
    // Every value the test produces lies well within +-2^33 (colour values
    // are below 2^32 and the forward transform averages), so the rounded
    // value fits 64 bits and its low 32 bits are the colour.
    const auto rounded = static_cast<int64_t>(round_half_even(v.real()));
    return static_cast<Colour>(static_cast<uint64_t>(rounded) & 0xFFFFFFFFu);
}

void spectrumTest(SpectrumArrays& arrays, PixelCanvas& canvas) {
    SpectrumGrid& a = arrays.SpectrumA;
    SpectrumGrid& b = arrays.SpectrumB;
    // The window always covers the loaded square; area never painted is the
    // black background, not the unreadable colour.
    canvas.ensureSize(kSpectrumSide, kReconstructionTop + kSpectrumSide);

    load(a, canvas);
    transformRows(a, b, false); // along x
    transpose(b, a);
    transformRows(a, b, false); // along y: b[u][v]
    paint(b, canvas, kSpectrumTop);

    a = b;
    transformRows(a, b, true);
    transpose(b, a);
    transformRows(a, b, true); // b[y][x], the loaded picture again
    paint(b, canvas, kReconstructionTop);
    canvas.touch();
}

} // namespace corvane
