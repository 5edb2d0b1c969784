#include "sim/Seeing.h"

#include "common/Error.h"
#include "sim/Random.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>
#include <sstream>

namespace corvane::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kArcsecPerRad = 206264.80624709636;
constexpr double kFwhmPerSigma = 2.3548200450309493;
// Phase power spectrum of the turbulence: 0.023 r0^(-5/3) (f^2 + 1/L0^2)^(-11/6).
constexpr double kKolmogorov = 0.023;
// Levels of subharmonics below the screen's lowest frequency: each third of
// the one before. They carry much of the image motion, which comes from
// scales far larger than the aperture.
constexpr int kSubharmonicLevels = 8;

constexpr uint64_t kScreenSalt = 0x5c3ee7u;
constexpr uint64_t kLongScreenSalt = 0x10095c3eu;
constexpr uint64_t kSubharmonicSalt = 0x5b4a7u;
constexpr uint64_t kWindSalt = 0x3171du;
constexpr uint64_t kCameraSalt = 0xca3e7au;
constexpr uint64_t kHotSalt = 0x4075u;
constexpr uint64_t kBurstSalt = 0xb0257u;
constexpr uint64_t kScintillationSalt = 0x5c1717u;

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& planMutex() {
    static std::mutex m;
    return m;
}

// The smallest even size at least n whose only prime factors are 2, 3 and 5.
int fastEvenSize(int n) {
    for (n += n & 1;; n += 2) {
        int m = n;
        for (int f : {2, 3, 5})
            while (m % f == 0)
                m /= f;
        if (m == 1)
            return n;
    }
}

struct Grid {
    int pupil = 0;  // samples across the aperture
    int fft = 0;    // focal-plane FFT size
    int screen = 0; // phase screen side, a power of two
    double pxPerLambdaOverD = 0;
};

// The pupil must resolve r0 (five samples per r0) and its FFT spans as many
// lambda/D as it has samples, which must hold the seeing disc; the focal
// plane is padded to at least 2 samples per lambda/D and per pixel.
Grid gridOf(const DriftParams& p) {
    Grid g;
    const SeeingParams& s = p.seeing;
    g.pupil = std::max(32, 8 * static_cast<int>(std::ceil(5.0 * s.dOverR0 / 8.0)));
    g.pxPerLambdaOverD = p.scalePxPerArcsec * lambdaOverDArcsec(s);
    const double pad = std::max(2.0, 2.0 * g.pxPerLambdaOverD);
    g.fft = fastEvenSize(static_cast<int>(std::ceil(g.pupil * pad)));
    g.screen = 512;
    while (g.screen < 8 * g.pupil)
        g.screen *= 2;
    return g;
}

constexpr int kMaxPupil = 256;
constexpr int kMaxFft = 4096;
// A screen laid along the wind holds at most this many samples (32 MB a
// layer, 128 MB while the two are made: 16384 x 512 samples, 100 m for
// D/r0 up to 6 on 20 cm); a recording whose wind crosses more passes along
// it again, one lane further across each time.
constexpr std::size_t kMaxLongScreenSamples = std::size_t{1} << 23;

[[noreturn]] void bad(const std::string& what, double value) {
    std::ostringstream s;
    s << "Invalid simulation parameter: " << what << " = " << value;
    throw Error(s.str());
}

struct Subharmonic {
    double fx = 0, fy = 0; // cycles per metre
    std::complex<double> c;
};

struct Layer {
    std::vector<float> screen; // periodic, radians
    std::vector<Subharmonic> low;
    double vx = 0, vy = 0; // wind, screen samples per second
    double ox = 0, oy = 0; // the pupil patch's corner at time 0, samples
    // A screen laid along its wind, `length` samples along it and `across`
    // across: u runs with the wind, (cosA, sinA) in the pupil's frame, and v
    // to its left. Its subharmonics' frequencies are along u and v too.
    bool alongWind = false;
    int length = 0, across = 0;
    double speed = 0, cosA = 1, sinA = 0;
    // Samples per second the patch slips across a screen too short for the
    // recording: each pass along it one patch further over, so that the
    // same turbulence comes back only after every lane has been crossed.
    double slip = 0;
};

struct PupilPoint {
    int i = 0, j = 0;   // row and column in the pupil grid
    float x = 0, y = 0; // from the aperture's centre, samples
};

struct Spoiling {
    bool spoiled = false;
    double transmission = 1; // a cloud's
    Point smear;             // a shake's, pixels over the exposure
};

double poisson(double mean, Random& rng) {
    if (mean <= 0)
        return 0;
    if (mean > 30)
        return mean + std::sqrt(mean) * rng.gaussian();
    const double limit = std::exp(-mean);
    double prod = rng.uniform();
    int k = 0;
    while (prod > limit) {
        prod *= rng.uniform();
        ++k;
    }
    return k;
}

} // namespace

double lambdaOverDArcsec(const SeeingParams& s) {
    return s.wavelengthNm * 1e-9 / s.apertureM * kArcsecPerRad;
}

double starFwhmPx(const DriftParams& p) {
    if (!p.seeing.enabled)
        return p.seeingFwhmPx;
    // Long-exposure width of the seeing disc, with the diffraction's added
    // in quadrature (close enough for a brightness and a margin).
    const double ld = p.scalePxPerArcsec * lambdaOverDArcsec(p.seeing);
    return ld * std::hypot(1.03, 0.98 * p.seeing.dOverR0);
}

void validateSeeing(const DriftParams& p) {
    const SeeingParams& s = p.seeing;
    if (!s.enabled)
        return;
    const double white = p.bits == 16 ? 65535.0 : 255.0;
    if (!(s.dOverR0 > 0 && s.dOverR0 <= 50))
        bad("D/r0", s.dOverR0);
    if (!(s.apertureM >= 0.01 && s.apertureM <= 10))
        bad("aperture", s.apertureM);
    if (!(s.obstruction >= 0 && s.obstruction <= 0.9))
        bad("obstruction", s.obstruction);
    if (!(s.wavelengthNm >= 200 && s.wavelengthNm <= 5000))
        bad("wavelength", s.wavelengthNm);
    if (!(s.outerScaleM >= 0 && s.outerScaleM <= 1e6))
        bad("outer scale", s.outerScaleM);
    if (!(s.highLayerShare >= 0 && s.highLayerShare <= 1))
        bad("high layer share", s.highLayerShare);
    if (!(s.highLayerKm >= 0 && s.highLayerKm <= 30))
        bad("high layer height", s.highLayerKm);
    if (!(s.groundWindMps >= 0 && s.groundWindMps <= 100))
        bad("ground wind", s.groundWindMps);
    if (!(s.highWindMps >= 0 && s.highWindMps <= 100))
        bad("high wind", s.highWindMps);
    if (!(s.exposureMs >= 0 && s.exposureMs <= 1000.0 / p.fps + 1e-9))
        bad("exposure (at most the frame period)", s.exposureMs);
    if (s.subExposures < 1 || s.subExposures > 64)
        bad("sub-exposures", s.subExposures);
    if (!(s.gainEPerCount >= 0 && s.gainEPerCount <= 1000))
        bad("gain", s.gainEPerCount);
    if (!(s.readNoiseE >= 0 && s.readNoiseE <= 1e5))
        bad("read noise", s.readNoiseE);
    if (!(s.bias >= 0 && s.bias < white))
        bad("bias", s.bias);
    if (s.hotPixels < 0 || static_cast<double>(s.hotPixels) > double(p.width) * p.height)
        bad("hot pixels", s.hotPixels);
    if (!(std::fabs(s.skyGradient) <= white))
        bad("sky gradient", s.skyGradient);
    if (!(s.scintillation >= 0 && s.scintillation <= 1))
        bad("scintillation", s.scintillation);
    if (!(s.spoiledShare >= 0 && s.spoiledShare <= 1))
        bad("spoiled share", s.spoiledShare);
    if (s.burstFrames < 1 || s.burstFrames > 10000)
        bad("burst frames", s.burstFrames);
    const Grid g = gridOf(p);
    if (g.pupil > kMaxPupil)
        bad("D/r0", s.dOverR0);
    if (g.fft > kMaxFft)
        bad("pixels per lambda/D (scale x wavelength / aperture)", g.pxPerLambdaOverD);
}

struct SeeingSim::Impl {
    DriftParams p;
    Grid g;
    double metresPerSample = 0;
    double q = 0; // detector pixels per focal-plane sample
    double flux[2] = {0, 0};
    Point driftVelocity; // pixels per second on the screen
    Point highShift;     // the secondary's patch of the high layer, samples
    Layer layers[2];     // ground, high
    std::vector<PupilPoint> pupil;
    double sumXX = 0, sumYY = 0;
    std::vector<int> hot; // the hot pixels' indices
    std::vector<uint16_t> hotLevel;

    fftwf_complex* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
    std::vector<float> intensity;
    std::vector<int> col, row;
    std::vector<float> colShare, rowShare;

    void makeScreens();
    // Whether a layer's path over a square screen over the whole recording
    // is longer than the screen's period, so that the recording would pass
    // the same turbulence again; `duration` in seconds.
    bool pathWraps(const Layer& l, int k, double duration) const;
    void makeLongScreens(double duration);
    void addSubharmonics(Layer& l, int k, double df, double w);
    Spoiling spoilingOf(int64_t n) const;
    // Adds one instant's image of star `star` to `light` with total `weight`
    // at `centre`, and returns the image's centroid.
    Point addInstant(int star, double t, Point centre, double weight, SeeingFrame& f);
    float phaseAt(const Layer& l, double x, double y) const;
    float phaseAlongWind(const Layer& l, double u, double v) const;
    // Adds a screen laid along the wind to each pupil sample's phase, for the
    // patch whose corner is `shift` from the primary's, and its
    // subharmonics' slope at the aperture's centre to (gx, gy).
    void addAlongWind(const Layer& l, Point shift, double t, std::vector<float>& phase, double& gx,
                      double& gy) const;
};

float SeeingSim::Impl::phaseAt(const Layer& l, double x, double y) const {
    const int s = g.screen;
    const double fx = std::floor(x), fy = std::floor(y);
    const double ax = x - fx, ay = y - fy;
    const int mask = s - 1;
    const int x0 = static_cast<int>(static_cast<int64_t>(fx) & mask);
    const int y0 = static_cast<int>(static_cast<int64_t>(fy) & mask);
    const int x1 = (x0 + 1) & mask, y1 = (y0 + 1) & mask;
    const float* r0 = &l.screen[static_cast<std::size_t>(y0) * static_cast<std::size_t>(s)];
    const float* r1 = &l.screen[static_cast<std::size_t>(y1) * static_cast<std::size_t>(s)];
    return static_cast<float>((1 - ay) * ((1 - ax) * r0[x0] + ax * r0[x1]) +
                              ay * ((1 - ax) * r1[x0] + ax * r1[x1]));
}

float SeeingSim::Impl::phaseAlongWind(const Layer& l, double u, double v) const {
    const double fu = std::floor(u), fv = std::floor(v);
    const double au = u - fu, av = v - fv;
    auto wrap = [](double f, int n) {
        const int64_t i = static_cast<int64_t>(f) % n;
        return static_cast<int>(i < 0 ? i + n : i);
    };
    const int u0 = wrap(fu, l.length), v0 = wrap(fv, l.across);
    const int u1 = u0 + 1 == l.length ? 0 : u0 + 1, v1 = v0 + 1 == l.across ? 0 : v0 + 1;
    const std::size_t n = static_cast<std::size_t>(l.length);
    const float* r0 = &l.screen[static_cast<std::size_t>(v0) * n];
    const float* r1 = &l.screen[static_cast<std::size_t>(v1) * n];
    return static_cast<float>((1 - av) * ((1 - au) * r0[u0] + au * r0[u1]) +
                              av * ((1 - au) * r1[u0] + au * r1[u1]));
}

namespace {

double amplitudeOf(const SeeingParams& sp, double f, double step) {
    const double r0 = sp.apertureM / sp.dOverR0;
    const double f0 = sp.outerScaleM > 0 ? 1.0 / sp.outerScaleM : 0.0;
    return std::sqrt(kKolmogorov) * std::pow(r0, -5.0 / 6.0) *
           std::pow(f * f + f0 * f0, -11.0 / 12.0) * step;
}

} // namespace

void SeeingSim::Impl::addSubharmonics(Layer& l, int k, double df, double w) {
    Random low(p.seed, kSubharmonicSalt, static_cast<uint64_t>(k));
    double step = df;
    for (int level = 0; level < kSubharmonicLevels; ++level) {
        step /= 3.0;
        for (int m = -1; m <= 1; ++m)
            for (int n = -1; n <= 1; ++n) {
                if (m == 0 && n == 0)
                    continue;
                Subharmonic h;
                h.fx = m * step;
                h.fy = n * step;
                const double a = amplitudeOf(p.seeing, std::hypot(h.fx, h.fy), step) * w;
                const double re = low.gaussian() * a;
                h.c = {re, low.gaussian() * a};
                l.low.push_back(h);
            }
    }
}

bool SeeingSim::Impl::pathWraps(const Layer& l, int k, double duration) const {
    const double shiftX = k == 1 ? std::fabs(highShift.x) : 0.0;
    const double shiftY = k == 1 ? std::fabs(highShift.y) : 0.0;
    // The pupil's patch and the one sample beyond it that interpolation reads.
    const double patch = g.pupil + 1.0;
    return std::fabs(l.vx) * duration + shiftX + patch > g.screen ||
           std::fabs(l.vy) * duration + shiftY + patch > g.screen;
}

void SeeingSim::Impl::makeScreens() {
    const SeeingParams& sp = p.seeing;
    const int s = g.screen;
    const double side = s * metresPerSample;
    const double df = 1.0 / side;
    const double weights[2] = {1.0 - sp.highLayerShare, sp.highLayerShare};
    for (int k = 0; k < 2; ++k) {
        Layer& l = layers[k];
        Random wind(p.seed, kWindSalt, static_cast<uint64_t>(k));
        l.speed = (k == 0 ? sp.groundWindMps : sp.highWindMps) / metresPerSample;
        const double angle = 2 * kPi * wind.uniform();
        l.cosA = std::cos(angle);
        l.sinA = std::sin(angle);
        l.vx = l.speed * l.cosA;
        l.vy = l.speed * l.sinA;
        l.ox = wind.uniform();
        l.oy = wind.uniform();
    }
    // From the first instant of the first frame to the last of the last.
    const double duration = frameTimeS(p, std::max(0, p.frames - 1)) + sp.exposureMs / 1000.0;
    bool wraps = false;
    for (int k = 0; k < 2; ++k)
        wraps = wraps || (weights[k] > 0 && pathWraps(layers[k], k, duration));
    if (wraps) {
        makeLongScreens(duration);
        return;
    }
    for (Layer& l : layers) {
        l.ox *= s;
        l.oy *= s;
    }
    // One complex screen gives two independent real ones: its real part for
    // the ground layer, its imaginary part for the high one.
    fftw_complex* c = fftw_alloc_complex(static_cast<std::size_t>(s) * s);
    fftw_plan plan;
    {
        std::lock_guard<std::mutex> lock(planMutex());
        plan = fftw_plan_dft_2d(s, s, c, c, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    Random rng(p.seed, kScreenSalt, 0);
    for (int ky = 0; ky < s; ++ky)
        for (int kx = 0; kx < s; ++kx) {
            const double fx = (kx <= s / 2 ? kx : kx - s) * df;
            const double fy = (ky <= s / 2 ? ky : ky - s) * df;
            const double f = std::hypot(fx, fy);
            const double a = f > 0 ? amplitudeOf(sp, f, df) : 0.0;
            const double re = rng.gaussian() * a, im = rng.gaussian() * a;
            fftw_complex& v = c[static_cast<std::size_t>(ky) * s + static_cast<std::size_t>(kx)];
            v[0] = re;
            v[1] = im;
        }
    fftw_execute(plan);
    for (int k = 0; k < 2; ++k) {
        Layer& l = layers[k];
        const double w = std::sqrt(weights[k]);
        l.screen.resize(static_cast<std::size_t>(s) * s);
        for (std::size_t i = 0; i < l.screen.size(); ++i)
            l.screen[i] = static_cast<float>(c[i][k] * w);
        addSubharmonics(l, k, df, w);
    }
    {
        std::lock_guard<std::mutex> lock(planMutex());
        fftw_destroy_plan(plan);
    }
    fftw_free(c);
}

// A screen long enough along each layer's wind for the whole recording, as
// wide across it as the square screen: the same turbulence never passes the
// aperture twice. Its Fourier grid is finer along the wind; the cells inside
// the square screen's lowest cell are left to the subharmonics, as there.
void SeeingSim::Impl::makeLongScreens(double duration) {
    const SeeingParams& sp = p.seeing;
    const int across = g.screen;
    const double weights[2] = {1.0 - sp.highLayerShare, sp.highLayerShare};
    double need = across;
    for (int k = 0; k < 2; ++k)
        if (weights[k] > 0) {
            const double shift = k == 1 ? std::hypot(highShift.x, highShift.y) : 0.0;
            need = std::max(need,
                            layers[k].speed * duration + std::sqrt(2.0) * (g.pupil + shift) + 2.0);
        }
    const int most = static_cast<int>(kMaxLongScreenSamples / static_cast<std::size_t>(across));
    const int length = std::min(fastEvenSize(static_cast<int>(std::ceil(need))), most);
    const std::size_t cells = static_cast<std::size_t>(length) * static_cast<std::size_t>(across);
    const double dfu = 1.0 / (length * metresPerSample), dfv = 1.0 / (across * metresPerSample);
    const double step = std::sqrt(dfu * dfv);

    fftwf_complex* c = fftwf_alloc_complex(cells);
    fftwf_plan plan;
    {
        std::lock_guard<std::mutex> lock(planMutex());
        plan = fftwf_plan_dft_2d(across, length, c, c, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    Random rng(p.seed, kLongScreenSalt, 0);
    for (int kv = 0; kv < across; ++kv)
        for (int ku = 0; ku < length; ++ku) {
            const int mu = ku <= length / 2 ? ku : ku - length;
            const double fu = mu * dfu;
            const double fv = (kv <= across / 2 ? kv : kv - across) * dfv;
            const bool subharmonic = kv == 0 && 2 * std::abs(mu) * across < length;
            const double a = subharmonic ? 0.0 : amplitudeOf(sp, std::hypot(fu, fv), step);
            const double re = rng.gaussian() * a, im = rng.gaussian() * a;
            fftwf_complex& v = c[static_cast<std::size_t>(kv) * static_cast<std::size_t>(length) +
                                 static_cast<std::size_t>(ku)];
            v[0] = static_cast<float>(re);
            v[1] = static_cast<float>(im);
        }
    fftwf_execute(plan);
    for (int k = 0; k < 2; ++k) {
        Layer& l = layers[k];
        l.alongWind = true;
        l.length = length;
        l.across = across;
        l.ox *= length;
        l.oy *= across;
        if (weights[k] <= 0)
            continue; // no turbulence: an empty screen adds nothing
        if (need > length) {
            const double shift = k == 1 ? std::hypot(highShift.x, highShift.y) : 0.0;
            l.slip = l.speed * (std::sqrt(2.0) * (g.pupil + shift) + 2.0) / length;
        }
        const double w = std::sqrt(weights[k]);
        l.screen.resize(cells);
        for (std::size_t i = 0; i < cells; ++i)
            l.screen[i] = static_cast<float>(c[i][k] * w);
        addSubharmonics(l, k, dfv, w);
    }
    {
        std::lock_guard<std::mutex> lock(planMutex());
        fftwf_destroy_plan(plan);
    }
    fftwf_free(c);
}

SeeingSim::SeeingSim(const DriftParams& params) : d_(std::make_unique<Impl>()) {
    Impl& d = *d_;
    d.p = params;
    d.p.seeing.enabled = true;
    validate(d.p);
    const SeeingParams& sp = d.p.seeing;
    d.g = gridOf(d.p);
    d.metresPerSample = sp.apertureM / d.g.pupil;
    d.q = d.g.pxPerLambdaOverD * d.g.pupil / d.g.fft;
    DriftParams geometry = d.p;
    geometry.frames = 0;
    const Truth t = nominalTruth(geometry);
    const double drift = t.driftAngleDeg * kPi / 180;
    d.driftVelocity = {t.driftSpeedPxPerS * std::cos(drift), -t.driftSpeedPxPerS * std::sin(drift)};
    // The secondary's beam crosses the high layer this far from the primary's.
    const double screen = t.screenAngleDeg * kPi / 180;
    const double shift =
        d.p.separationArcsec / kArcsecPerRad * sp.highLayerKm * 1000.0 / d.metresPerSample;
    d.highShift = {shift * std::cos(screen), -shift * std::sin(screen)};
    const double sigma = starFwhmPx(d.p) / kFwhmPerSigma;
    const double area = 2 * kPi * (sigma * sigma + 1.0 / 12.0);
    d.flux[0] = d.p.primaryBrightness * area;
    d.flux[1] = d.p.secondaryBrightness * area;

    const int np = d.g.pupil;
    const double outer = np / 2.0, inner = sp.obstruction * np / 2.0;
    for (int i = 0; i < np; ++i)
        for (int j = 0; j < np; ++j) {
            const double x = j + 0.5 - np / 2.0, y = i + 0.5 - np / 2.0;
            const double r = std::hypot(x, y);
            if (r <= outer && r >= inner) {
                d.pupil.push_back({i, j, static_cast<float>(x), static_cast<float>(y)});
                d.sumXX += x * x;
                d.sumYY += y * y;
            }
        }
    d.makeScreens();

    const int m = d.g.fft;
    const std::size_t cells = static_cast<std::size_t>(m) * static_cast<std::size_t>(m);
    d.in = fftwf_alloc_complex(cells);
    d.out = fftwf_alloc_complex(cells);
    std::fill(&d.in[0][0], &d.in[0][0] + 2 * cells, 0.0f);
    {
        std::lock_guard<std::mutex> lock(planMutex());
        d.plan = fftwf_plan_dft_2d(m, m, d.in, d.out, FFTW_FORWARD, FFTW_ESTIMATE);
    }
    d.intensity.resize(cells);
    d.col.resize(static_cast<std::size_t>(m));
    d.row.resize(static_cast<std::size_t>(m));
    d.colShare.resize(static_cast<std::size_t>(m));
    d.rowShare.resize(static_cast<std::size_t>(m));

    const double white = d.p.bits == 16 ? 65535.0 : 255.0;
    Random hot(d.p.seed, kHotSalt, 0);
    const double pixels = static_cast<double>(d.p.width) * d.p.height;
    for (int k = 0; k < sp.hotPixels; ++k) {
        d.hot.push_back(
            std::min(static_cast<int>(hot.uniform() * pixels), static_cast<int>(pixels) - 1));
        d.hotLevel.push_back(
            static_cast<uint16_t>(std::nearbyint(white * (0.3 + 0.7 * hot.uniform()))));
    }
}

SeeingSim::~SeeingSim() {
    if (!d_)
        return;
    {
        std::lock_guard<std::mutex> lock(planMutex());
        if (d_->plan)
            fftwf_destroy_plan(d_->plan);
    }
    fftwf_free(d_->in);
    fftwf_free(d_->out);
}

double SeeingSim::pxPerLambdaOverD() const {
    return d_->g.pxPerLambdaOverD;
}

int SeeingSim::pupilSamples() const {
    return d_->g.pupil;
}

int SeeingSim::fftSize() const {
    return d_->g.fft;
}

Spoiling SeeingSim::Impl::spoilingOf(int64_t n) const {
    Spoiling s;
    const SeeingParams& sp = p.seeing;
    if (sp.spoiledShare <= 0)
        return s;
    // A burst starts at each frame with this chance, and spoils the frames
    // up to `burstFrames` from its start: the latest start rules.
    const double start = std::min(1.0, sp.spoiledShare / sp.burstFrames);
    for (int64_t b = n; b >= 0 && b > n - sp.burstFrames; --b) {
        Random r(p.seed, kBurstSalt, static_cast<uint64_t>(b));
        if (r.uniform() >= start)
            continue;
        s.spoiled = true;
        if (r.uniform() < 0.5) {
            s.transmission = 0.1 + 0.5 * r.uniform();
        } else {
            const double length = (1.0 + 2.0 * r.uniform()) * starFwhmPx(p);
            const double angle = 2 * kPi * r.uniform();
            s.smear = {length * std::cos(angle), length * std::sin(angle)};
        }
        break;
    }
    return s;
}

Point SeeingSim::Impl::addInstant(int star, double t, Point centre, double weight, SeeingFrame& f) {
    const int np = g.pupil, m = g.fft;
    // The phase over the pupil from both layers, its best plane taken out:
    // the plane's slope moves the image, which is placed exactly on the
    // detector instead of riding in the FFT's periodic box.
    double gx = 0, gy = 0;
    static thread_local std::vector<float> phase;
    phase.resize(pupil.size());
    std::fill(phase.begin(), phase.end(), 0.0f);
    for (int k = 0; k < 2; ++k) {
        const Layer& l = layers[k];
        if (l.screen.empty())
            continue;
        if (l.alongWind) {
            addAlongWind(l, k == 1 && star == 1 ? highShift : Point{}, t, phase, gx, gy);
            continue;
        }
        double x0 = l.ox + l.vx * t, y0 = l.oy + l.vy * t;
        if (k == 1 && star == 1) {
            x0 += highShift.x;
            y0 += highShift.y;
        }
        for (std::size_t a = 0; a < pupil.size(); ++a)
            phase[a] += phaseAt(l, x0 + pupil[a].j, y0 + pupil[a].i);
        // The subharmonics' slope at the aperture's centre, radians per sample.
        const double cx = (x0 + np / 2.0) * metresPerSample, cy = (y0 + np / 2.0) * metresPerSample;
        for (const Subharmonic& h : l.low) {
            const double arg = 2 * kPi * (h.fx * cx + h.fy * cy);
            const double im = h.c.real() * std::sin(arg) + h.c.imag() * std::cos(arg);
            gx -= 2 * kPi * h.fx * im * metresPerSample;
            gy -= 2 * kPi * h.fy * im * metresPerSample;
        }
    }
    double sx = 0, sy = 0;
    for (std::size_t a = 0; a < pupil.size(); ++a) {
        sx += phase[a] * pupil[a].x;
        sy += phase[a] * pupil[a].y;
    }
    const double bx = sx / sumXX, by = sy / sumYY;
    for (std::size_t a = 0; a < pupil.size(); ++a) {
        const PupilPoint& pp = pupil[a];
        const float ph = static_cast<float>(phase[a] - bx * pp.x - by * pp.y);
        // The sign (-1)^(i+j) puts the image's centre in the middle of the box.
        const float sign = ((pp.i + pp.j) & 1) ? -1.0f : 1.0f;
        fftwf_complex& v = in[static_cast<std::size_t>(pp.i) * static_cast<std::size_t>(m) +
                              static_cast<std::size_t>(pp.j)];
        v[0] = sign * std::cos(ph);
        v[1] = sign * std::sin(ph);
    }
    fftwf_execute(plan);

    // A phase slope of b radians per sample moves the image by b / 2 pi
    // of the pupil's samples in units of lambda / D.
    const double perSlope = np * g.pxPerLambdaOverD / (2 * kPi);
    const Point at = {centre.x + (bx + gx) * perSlope, centre.y + (by + gy) * perSlope};
    double total = 0, mx = 0, my = 0;
    const std::size_t cells = intensity.size();
    for (std::size_t c = 0; c < cells; ++c)
        intensity[c] = out[c][0] * out[c][0] + out[c][1] * out[c][1];
    for (int v = 0; v < m; ++v) {
        double rowSum = 0, rowX = 0;
        const float* r = &intensity[static_cast<std::size_t>(v) * static_cast<std::size_t>(m)];
        for (int u = 0; u < m; ++u) {
            rowSum += r[u];
            rowX += r[u] * (u - m / 2);
        }
        total += rowSum;
        mx += rowX;
        my += rowSum * (v - m / 2);
    }
    const Point centroid = {at.x + mx / total * q, at.y + my / total * q};
    if (weight <= 0)
        return centroid;

    // Each focal-plane sample is a square q pixels wide: its light goes to
    // the one or two pixels it overlaps along each axis.
    auto cover = [this, m](double c0, std::vector<int>& first, std::vector<float>& share) {
        for (int u = 0; u < m; ++u) {
            const double left = c0 + (u - m / 2) * q - q / 2 + 0.5;
            const double i0 = std::floor(left);
            first[static_cast<std::size_t>(u)] = static_cast<int>(i0);
            share[static_cast<std::size_t>(u)] =
                static_cast<float>(std::min(1.0, (i0 + 1 - left) / q));
        }
    };
    cover(at.x, col, colShare);
    cover(at.y, row, rowShare);
    const float scale = static_cast<float>(weight / total);
    const int w = f.width, h = f.height;
    for (int v = 0; v < m; ++v) {
        const int y0 = row[static_cast<std::size_t>(v)];
        if (y0 + 1 < 0 || y0 >= h)
            continue;
        const float wy0 = rowShare[static_cast<std::size_t>(v)] * scale;
        const float wy1 = scale - wy0;
        float* line0 = y0 >= 0
                           ? &f.light[static_cast<std::size_t>(y0) * static_cast<std::size_t>(w)]
                           : nullptr;
        float* line1 =
            y0 + 1 < h ? &f.light[static_cast<std::size_t>(y0 + 1) * static_cast<std::size_t>(w)]
                       : nullptr;
        const float* r = &intensity[static_cast<std::size_t>(v) * static_cast<std::size_t>(m)];
        for (int u = 0; u < m; ++u) {
            const int x0 = col[static_cast<std::size_t>(u)];
            if (x0 + 1 < 0 || x0 >= w)
                continue;
            const float s0 = colShare[static_cast<std::size_t>(u)];
            const float a = r[u] * s0, b = r[u] - a;
            if (line0) {
                if (x0 >= 0)
                    line0[x0] += a * wy0;
                if (x0 + 1 < w)
                    line0[x0 + 1] += b * wy0;
            }
            if (line1) {
                if (x0 >= 0)
                    line1[x0] += a * wy1;
                if (x0 + 1 < w)
                    line1[x0 + 1] += b * wy1;
            }
        }
    }
    return centroid;
}

void SeeingSim::Impl::addAlongWind(const Layer& l, Point shift, double t, std::vector<float>& phase,
                                   double& gx, double& gy) const {
    const double c = l.cosA, s = l.sinA;
    // The pupil's offset (x, y) lies x c + y s along the wind, y c - x s across.
    const double u0 = l.ox + l.speed * t + shift.x * c + shift.y * s;
    const double v0 = l.oy + l.slip * t + shift.y * c - shift.x * s;
    for (std::size_t a = 0; a < pupil.size(); ++a) {
        const double j = pupil[a].j, i = pupil[a].i;
        phase[a] += phaseAlongWind(l, u0 + j * c + i * s, v0 + i * c - j * s);
    }
    const double half = g.pupil / 2.0;
    const double cu = (u0 + half * (c + s)) * metresPerSample;
    const double cv = (v0 + half * (c - s)) * metresPerSample;
    double gu = 0, gv = 0;
    for (const Subharmonic& h : l.low) {
        const double arg = 2 * kPi * (h.fx * cu + h.fy * cv);
        const double im = h.c.real() * std::sin(arg) + h.c.imag() * std::cos(arg);
        gu -= 2 * kPi * h.fx * im * metresPerSample;
        gv -= 2 * kPi * h.fy * im * metresPerSample;
    }
    gx += gu * c - gv * s;
    gy += gu * s + gv * c;
}

SeeingFrame SeeingSim::render(int64_t n) {
    return render(n, frameTruth(d_->p, n));
}

SeeingFrame SeeingSim::render(int64_t n, const FrameTruth& nominal) {
    Impl& d = *d_;
    const DriftParams& p = d.p;
    const SeeingParams& sp = p.seeing;
    SeeingFrame f;
    f.width = p.width;
    f.height = p.height;
    f.truth = nominal;
    f.light.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
    const double gx = sp.skyGradient / std::max(1, p.width - 1) / 2;
    const double gy = sp.skyGradient / std::max(1, p.height - 1) / 2;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            f.light[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
                    static_cast<std::size_t>(x)] =
                static_cast<float>(p.sky + gx * x + gy * y - sp.skyGradient / 2);

    const Spoiling spoil = d.spoilingOf(n);
    f.spoiled = spoil.spoiled;
    double factor = spoil.transmission;
    if (sp.scintillation > 0) {
        Random r(p.seed, kScintillationSalt, static_cast<uint64_t>(n));
        factor *= std::max(0.0, 1.0 + sp.scintillation * r.gaussian());
    }
    const double exposureS = sp.exposureMs / 1000.0;
    const bool smeared = spoil.smear.x != 0 || spoil.smear.y != 0;
    int instants = exposureS > 0 ? sp.subExposures : 1;
    if (smeared)
        instants = std::max(instants, 8);
    Point* centres[2] = {&f.truth.primary, &f.truth.secondary};
    for (int star = 0; star < 2; ++star) {
        const double weight = d.flux[star] * factor / instants;
        if (d.flux[star] <= 0)
            continue;
        const Point nominalAt = *centres[star];
        Point sum;
        for (int k = 0; k < instants; ++k) {
            const double share = (k + 0.5) / instants - 0.5;
            const double dt = share * exposureS;
            const Point c = {nominalAt.x + d.driftVelocity.x * dt + spoil.smear.x * share,
                             nominalAt.y + d.driftVelocity.y * dt + spoil.smear.y * share};
            const Point centroid = d.addInstant(star, nominal.timeS + dt, c, weight, f);
            sum.x += centroid.x;
            sum.y += centroid.y;
        }
        *centres[star] = {sum.x / instants, sum.y / instants};
    }
    return f;
}

std::vector<uint16_t> SeeingSim::record(const SeeingFrame& f, int64_t n) const {
    const DriftParams& p = d_->p;
    const SeeingParams& sp = p.seeing;
    const double white = p.bits == 16 ? 65535.0 : 255.0;
    std::vector<uint16_t> samples(f.light.size());
    Random rng(p.seed, kCameraSalt, static_cast<uint64_t>(n));
    const double gain = sp.gainEPerCount;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width) +
                                  static_cast<std::size_t>(x);
            double v = f.light[i];
            if (p.bayer)
                v *= (y % 2 == 0 && x % 2 == 0)   ? p.tint.red
                     : (y % 2 == 1 && x % 2 == 1) ? p.tint.blue
                                                  : p.tint.green;
            if (gain > 0)
                v = (poisson(v * gain, rng) + sp.readNoiseE * rng.gaussian()) / gain;
            else if (p.noiseSigma > 0)
                v += p.noiseSigma * rng.gaussian();
            samples[i] = static_cast<uint16_t>(std::clamp(std::nearbyint(v + sp.bias), 0.0, white));
        }
    for (std::size_t k = 0; k < d_->hot.size(); ++k) {
        uint16_t& s = samples[static_cast<std::size_t>(d_->hot[k])];
        s = std::max(s, d_->hotLevel[k]);
    }
    return samples;
}

FrameRenderer::FrameRenderer(const DriftParams& p) : p_(p) {
    if (p.seeing.enabled)
        seeing_ = std::make_unique<SeeingSim>(p);
}

FrameRenderer::~FrameRenderer() = default;

std::vector<uint16_t> FrameRenderer::samples(int64_t n, FrameTruth& f) {
    if (!seeing_)
        return renderSamples(p_, n, f);
    const SeeingFrame frame = seeing_->render(n, f);
    f = frame.truth;
    std::vector<uint16_t> s = seeing_->record(frame, n);
    if (p_.frameCode)
        drawFrameCode(s, p_, n);
    return s;
}

} // namespace corvane::sim
