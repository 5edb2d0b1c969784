// The zoom view's spectrum test: the transform against its closed forms, and
// the painted spectrum and reconstruction on a canvas.
#include "views/Fourier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

namespace corvane {
namespace {

using LD = long double;
const LD kPi = std::acos(-1.0L);

// Rounding error of the transform: every output is a sum of N products made
// in log2(N) butterfly stages, with twiddles from a recurrence that adds one
// rounding per stage. A bound of N * log2(N) units of extended precision
// (relative to the largest input) covers both with room to spare and is still
// a million times smaller than anything a wrong index or sign would cause.
LD tolerance(int N, LD scale) {
    const LD eps = std::numeric_limits<LD>::epsilon();
    return N * std::max(1.0L, std::log2(static_cast<LD>(N))) * eps * scale * 4;
}

void expectRowNear(const SpectrumRow& got, const SpectrumRow& want, int N, LD scale,
                   const std::string& what) {
    for (int k = 0; k < N; ++k) {
        EXPECT_NEAR(static_cast<double>(got[k].real()), static_cast<double>(want[k].real()),
                    static_cast<double>(tolerance(N, scale)))
            << what << " real part at " << k;
        EXPECT_NEAR(static_cast<double>(got[k].imag()), static_cast<double>(want[k].imag()),
                    static_cast<double>(tolerance(N, scale)))
            << what << " imaginary part at " << k;
    }
}

SpectrumValue expi(LD angle) {
    return SpectrumValue(std::cos(angle), std::sin(angle));
}

struct ClosedFormCase {
    const char* name;
    int N;
    bool inverse;
    // Input and expected output at index k.
    SpectrumValue (*input)(int N, int k);
    SpectrumValue (*expected)(int N, int k);
};

constexpr LD kLevel = 37.25L;
constexpr int kSpot = 5; // position of the single impulse

const ClosedFormCase kClosedForms[] = {
    {"constant forward gives the level at frequency 0", 128, false,
     [](int, int) { return SpectrumValue(kLevel, 0); },
     [](int, int k) { return SpectrumValue(k == 0 ? kLevel : 0, 0); }},
    {"level at frequency 0 inverse gives the constant back", 128, true,
     [](int, int k) { return SpectrumValue(k == 0 ? kLevel : 0, 0); },
     [](int, int) { return SpectrumValue(kLevel, 0); }},
    {"impulse forward is a phase ramp divided by N", 128, false,
     [](int, int k) { return SpectrumValue(k == kSpot ? 1 : 0, 0); },
     [](int N, int k) { return expi(-2 * kPi * k * kSpot / N) / static_cast<LD>(N); }},
    {"impulse inverse is a phase ramp without a factor", 128, true,
     [](int, int k) { return SpectrumValue(k == kSpot ? 1 : 0, 0); },
     [](int N, int k) { return expi(2 * kPi * k * kSpot / N); }},
    {"eight points, impulse forward", 8, false,
     [](int, int k) { return SpectrumValue(k == kSpot ? 1 : 0, 0); },
     [](int N, int k) { return expi(-2 * kPi * k * kSpot / N) / static_cast<LD>(N); }},
    {"two points, constant forward", 2, false, [](int, int) { return SpectrumValue(kLevel, 0); },
     [](int, int k) { return SpectrumValue(k == 0 ? kLevel : 0, 0); }},
    {"one point is left as it is", 1, false, [](int, int) { return SpectrumValue(kLevel, -2); },
     [](int, int) { return SpectrumValue(kLevel, -2); }},
};

TEST(Fft, MatchesClosedForms) {
    for (const ClosedFormCase& c : kClosedForms) {
        SpectrumRow in{}, out{}, want{};
        for (int k = 0; k < c.N; ++k) {
            in[k] = c.input(c.N, k);
            want[k] = c.expected(c.N, k);
        }
        fft(in, out, c.N, c.inverse);
        expectRowNear(out, want, c.N, kLevel, c.name);
    }
}

TEST(Fft, ForwardThenInverseGivesTheInputBack) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> value(-1000.0, 1000.0);
    SpectrumRow in{};
    for (auto& v : in)
        v = SpectrumValue(value(rng), value(rng));
    SpectrumRow spectrum{}, back{};
    fft(in, spectrum, kSpectrumSide, false);
    fft(spectrum, back, kSpectrumSide, true);
    expectRowNear(back, in, kSpectrumSide, 1000.0L, "round trip");
}

TEST(Fft, ReadsItsInputAsACopySoInPlaceWorks) {
    SpectrumRow row{};
    row[kSpot] = 1;
    SpectrumRow separate{};
    fft(row, separate, kSpectrumSide, false);
    fft(row, row, kSpectrumSide, false);
    expectRowNear(row, separate, kSpectrumSide, 1.0L, "in place");
}

TEST(Fft, RejectsSizesThatAreNotPowersOfTwoUpTo128) {
    for (int bad : {0, -4, 3, 96, 256}) {
        SpectrumRow in{}, out{};
        out[0] = 7;
        EXPECT_THROW(fft(in, out, bad, false), std::invalid_argument) << "N = " << bad;
        EXPECT_EQ(out[0], SpectrumValue(7, 0)) << "N = " << bad;
    }
}

TEST(SpectrumColour, IsTheLow32BitsOfTheRoundedRealPart) {
    struct Row {
        const char* name;
        LD real;
        Colour want;
    } rows[] = {
        {"half rounds to even (down)", 2.5L, 2u},
        {"half rounds to even (up)", 3.5L, 4u},
        {"fraction rounds to nearest", 1023.6L, 1024u},
        {"minus one wraps to all bits set", -1.0L, 0xFFFFFFFFu},
        {"negative value wraps", -1024.0L, 0xFFFFFC00u},
        {"largest colour value", 4294967295.0L, 0xFFFFFFFFu},
        {"one past 32 bits keeps the low bits", 4294967296.0L + 5, 5u},
    };
    for (const Row& r : rows)
        EXPECT_EQ(spectrumColour(SpectrumValue(r.real, 3.7L)), r.want) << r.name;
}

// A picture drawn into the top-left 128 x 128 of a canvas the size of the
// zoom window.
PixelCanvas zoomCanvas() {
    return PixelCanvas(210, 230);
}

TEST(SpectrumTest, BrightPixelIsRepaintedTransposedInTheReconstruction) {
    PixelCanvas canvas = zoomCanvas();
    const Colour white = 0xFFFFFF;
    canvas.setPixel(5, 2, white);
    SpectrumArrays arrays;
    // Leftovers of an earlier test must not leak in: the test reloads.
    arrays.SpectrumA[3][4] = SpectrumValue(11, 22);
    arrays.SpectrumB[7][1] = SpectrumValue(-5, 8);

    spectrumTest(arrays, canvas);

    for (int b = 0; b < kSpectrumSide; ++b)
        for (int a = 0; a < kSpectrumSide; ++a) {
            const Colour want = (a == 2 && b == 5) ? white : 0u;
            ASSERT_EQ(canvas.pixel(a, kReconstructionTop + b), want) << a << ", " << b;
        }
    EXPECT_EQ(canvas.pixel(2, 265), white);
    EXPECT_EQ(canvas.pixel(5, 262), 0u);
}

TEST(SpectrumTest, SpectrumOfAnImpulseIsPaintedWithHorizontalFrequencyAcross) {
    // White (16777215) at (5, 2): the real part at (u, v) is
    // 16777215 / 16384 * cos(2 pi (5u + 2v) / 128), i.e. +-1023.99994 where
    // the cosine is +-1, rounded to +-1024.
    PixelCanvas canvas = zoomCanvas();
    canvas.setPixel(5, 2, 0xFFFFFF);
    SpectrumArrays arrays;
    spectrumTest(arrays, canvas);

    struct Row {
        const char* name;
        int u, v;
        Colour want;
    } rows[] = {
        {"frequency 0", 0, 0, 1024u},
        {"vertical frequency 32: cos(pi)", 0, 32, 0xFFFFFC00u},
        {"horizontal frequency 32: cos(5 pi / 2)", 32, 0, 0u},
        {"horizontal frequency 64: cos(5 pi)", 64, 0, 0xFFFFFC00u},
        {"vertical frequency 64: cos(2 pi)", 0, 64, 1024u},
    };
    for (const Row& r : rows)
        EXPECT_EQ(canvas.pixel(r.u, kSpectrumTop + r.v), r.want) << r.name;
}

TEST(SpectrumTest, RandomPictureComesBackExactlyAndTransposed) {
    PixelCanvas canvas = zoomCanvas();
    std::mt19937 rng(7);
    std::uniform_int_distribution<Colour> colour(0, 0xFFFFFF);
    for (int y = 0; y < kSpectrumSide; ++y)
        for (int x = 0; x < kSpectrumSide; ++x)
            canvas.setPixel(x, y, colour(rng));
    const PixelCanvas before = canvas;
    SpectrumArrays arrays;
    spectrumTest(arrays, canvas);
    for (int y = 0; y < kSpectrumSide; ++y)
        for (int x = 0; x < kSpectrumSide; ++x)
            ASSERT_EQ(canvas.pixel(y, kReconstructionTop + x), before.pixel(x, y))
                << x << ", " << y;
}

TEST(SpectrumTest, UnpaintedWindowReadsAsBlackAndTheCanvasGrowsForBothPictures) {
    PixelCanvas canvas; // nothing painted yet
    canvas.ensureSize(300, 100);
    canvas.setPixel(200, 50, 0x123456); // outside the loaded square
    SpectrumArrays arrays;
    spectrumTest(arrays, canvas);
    EXPECT_GE(canvas.width(), 300);
    EXPECT_GE(canvas.height(), kReconstructionTop + kSpectrumSide);
    EXPECT_EQ(canvas.pixel(0, kSpectrumTop), 0u)
        << "an unread pixel must not count as all bits set";
    EXPECT_EQ(canvas.pixel(127, kReconstructionTop + 127), 0u);
    EXPECT_EQ(canvas.pixel(200, 50), 0x123456u) << "pixels beside the pictures stay";
}

} // namespace
} // namespace corvane
