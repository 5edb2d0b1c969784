#include "sim/DriftSim.h"

#include "common/Angles.h"
#include "common/Error.h"
#include "sim/AviWriter.h"
#include "sim/Random.h"
#include "sim/Seeing.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace corvane::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kFwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)

// The panel shows at most this much of a frame.
constexpr int kPanelWidth = 640;
constexpr int kPanelHeight = 480;

constexpr int kCodeBits = 16;
constexpr int kCodeBlock = 8; // pixels per side of one bit's block

// Stream salts keep the jitter and the noise of a frame independent.
constexpr uint64_t kJitterSalt = 0x4a17e5u;
constexpr uint64_t kNoiseSalt = 0x9015eu;
constexpr uint64_t kDropSalt = 0xd209u;
constexpr uint64_t kTimeSalt = 0x71e5u;

// A frame time wanders at most this share of the period, so frames stay in order.
constexpr double kMaxTimeJitterShare = 0.4;

[[noreturn]] void bad(const std::string& what, double value) {
    std::ostringstream s;
    s << "Invalid simulation parameter: " << what << " = " << value;
    throw Error(s.str());
}

// Screen displacement (y down) of one unit along a mathematical angle (y up).
Point unitOnScreen(double angleDeg) {
    return {std::cos(angleDeg * kDegToRad), -std::sin(angleDeg * kDegToRad)};
}

struct Geometry {
    double timePerFrameS = 0;
    double speedPxPerS = 0;
    double driftAngleDeg = 0;
    double screenAngleDeg = 0;
    double separationPx = 0;
    Point drift;  // unit vector on screen
    Point offset; // secondary minus primary, screen pixels
    Point start;  // primary in frame 0 without jitter
};

Geometry geometryOf(const DriftParams& p) {
    Geometry g;
    const Rational r = frameRateOf(p.fps);
    g.timePerFrameS = static_cast<double>(r.den) / r.num;
    g.speedPxPerS = p.tracking ? 0.0
                               : kSiderealRateArcsecPerS * std::cos(p.declinationDeg * kDegToRad) *
                                     p.scalePxPerArcsec;
    const bool mirrored = p.orientation == Orientation::Mirrored;
    // North lies 90 degrees counter-clockwise from west on a correct image and
    // the position angle counts from north towards east; a left-right flip
    // sends every angle a to 180 - a.
    const double drift = p.rotationDeg;
    const double secondary = p.rotationDeg + 90.0 + p.positionAngleDeg;
    g.driftAngleDeg = wrapDegrees360(mirrored ? 180.0 - drift : drift);
    g.screenAngleDeg = wrapDegrees360(mirrored ? 180.0 - secondary : secondary);
    g.separationPx = p.separationArcsec * p.scalePxPerArcsec;
    g.drift = unitOnScreen(g.driftAngleDeg);
    const Point dir = unitOnScreen(g.screenAngleDeg);
    g.offset = {dir.x * g.separationPx, dir.y * g.separationPx};
    if (p.start) {
        g.start = *p.start;
    } else {
        // Centre the pair's track in the visible part of the frame.
        const double cx = (std::min(p.width, kPanelWidth) - 1) / 2.0;
        const double cy = (std::min(p.height, kPanelHeight) - 1) / 2.0;
        const double midS = g.timePerFrameS * std::max(0, p.frames - 1) / 2.0;
        g.start = {cx - g.drift.x * g.speedPxPerS * midS - g.offset.x / 2.0,
                   cy - g.drift.y * g.speedPxPerS * midS - g.offset.y / 2.0};
    }
    return g;
}

Point jitterOf(const DriftParams& p, int64_t n) {
    // With seeing the atmosphere moves the images.
    if (p.jitterPx <= 0 || p.seeing.enabled)
        return {};
    Random rng(p.seed, kJitterSalt, static_cast<uint64_t>(n));
    const double jx = rng.gaussian() * p.jitterPx;
    const double jy = rng.gaussian() * p.jitterPx;
    return {jx, jy};
}

// Whether the frame due at nominal slot s is dropped: one cheap hash per slot,
// so frame n's slot is found by counting from the start.
bool slotDropped(const DriftParams& p, int64_t s) {
    if (p.dropFraction <= 0 || s == 0)
        return false;
    const uint64_t h = mix64(mix64(p.seed ^ kDropSalt) ^ static_cast<uint64_t>(s));
    return (static_cast<double>(h >> 11) + 0.5) * 0x1.0p-53 < p.dropFraction;
}

int64_t slotOf(const DriftParams& p, int64_t n) {
    if (p.dropFraction <= 0)
        return n;
    int64_t s = 0;
    for (int64_t kept = 0;; ++s)
        if (!slotDropped(p, s) && kept++ == n)
            return s;
}

double timeAt(const DriftParams& p, const Geometry& g, int64_t n, int64_t slot) {
    double t = static_cast<double>(slot) * g.timePerFrameS;
    if (p.timeJitterMs > 0 && n > 0) {
        Random rng(p.seed, kTimeSalt, static_cast<uint64_t>(n));
        const double limit = kMaxTimeJitterShare * g.timePerFrameS;
        t += std::clamp(rng.gaussian() * p.timeJitterMs / 1000.0, -limit, limit);
    }
    return t;
}

double timeOf(const DriftParams& p, const Geometry& g, int64_t n) {
    return timeAt(p, g, n, slotOf(p, n));
}

FrameTruth truthAt(const DriftParams& p, const Geometry& g, int64_t n, double timeS) {
    FrameTruth f;
    f.timeS = timeS;
    const Point j = jitterOf(p, n);
    const double along = g.speedPxPerS * f.timeS;
    f.primary = {g.start.x + g.drift.x * along + j.x, g.start.y + g.drift.y * along + j.y};
    f.secondary = {f.primary.x + g.offset.x, f.primary.y + g.offset.y};
    return f;
}

FrameTruth truthOf(const DriftParams& p, const Geometry& g, int64_t n) {
    return truthAt(p, g, n, timeOf(p, g, n));
}

// Light of a Gaussian star integrated over each pixel, added to `image`.
void addStar(std::vector<double>& image, int w, int h, Point at, double peak, double sigma) {
    if (peak <= 0)
        return;
    const double reach = 5.0 * sigma + 2.0;
    const int x0 = std::max(0, static_cast<int>(std::floor(at.x - reach)));
    const int x1 = std::min(w - 1, static_cast<int>(std::ceil(at.x + reach)));
    const int y0 = std::max(0, static_cast<int>(std::floor(at.y - reach)));
    const int y1 = std::min(h - 1, static_cast<int>(std::ceil(at.y + reach)));
    if (x0 > x1 || y0 > y1)
        return;
    const double k = 1.0 / (sigma * std::sqrt(2.0));
    auto profile = [k](int i, double c) {
        return 0.5 * (std::erf((i + 0.5 - c) * k) - std::erf((i - 0.5 - c) * k));
    };
    std::vector<double> px(static_cast<std::size_t>(x1 - x0 + 1));
    for (int x = x0; x <= x1; ++x)
        px[static_cast<std::size_t>(x - x0)] = profile(x, at.x);
    // Peak of the continuous profile is `peak`, so its total light is
    // peak * 2 pi sigma^2.
    const double total = peak * 2.0 * kPi * sigma * sigma;
    for (int y = y0; y <= y1; ++y) {
        const double py = total * profile(y, at.y);
        double* row = &image[static_cast<std::size_t>(y) * static_cast<std::size_t>(w)];
        for (int x = x0; x <= x1; ++x)
            row[x] += py * px[static_cast<std::size_t>(x - x0)];
    }
}

template <typename T> void drawFrameCode(std::vector<T>& levels, int w, int h, int64_t n, T white) {
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const T v = ((n >> bit) & 1) ? white : 0;
        for (int y = h - kCodeBlock; y < h; ++y)
            for (int x = bit * kCodeBlock; x < (bit + 1) * kCodeBlock; ++x)
                levels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                       static_cast<std::size_t>(x)] = v;
    }
}

uint8_t toLevel(double v) {
    return static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
}

double whiteOf(const DriftParams& p) {
    return p.bits == 16 ? 65535.0 : 255.0;
}

// The light of frame n with its truth f, noise included, before it is quantised.
std::vector<double> renderLight(const DriftParams& p, const FrameTruth& f, int64_t n) {
    const std::size_t count =
        static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
    std::vector<double> image(count, p.sky);
    const double sigma = p.seeingFwhmPx / kFwhmPerSigma;
    addStar(image, p.width, p.height, f.primary, p.primaryBrightness, sigma);
    addStar(image, p.width, p.height, f.secondary, p.secondaryBrightness, sigma);
    if (p.noiseSigma > 0) {
        Random rng(p.seed, kNoiseSalt, static_cast<uint64_t>(n));
        for (std::size_t i = 0; i < count; ++i)
            image[i] = image[i] + rng.gaussian() * p.noiseSigma;
    }
    return image;
}

} // namespace

const char* codecName(Codec c) {
    switch (c) {
    case Codec::Grey:
        return "grey";
    case Codec::Colour:
        return "colour";
    case Codec::Palette:
        return "palette";
    case Codec::Mjpeg:
        return "mjpeg";
    case Codec::H264:
        return "h264";
    case Codec::Mpeg4:
        return "mpeg4";
    case Codec::Yuy2:
        return "yuy2";
    }
    return "?";
}

bool carriesColour(Codec c) {
    return c != Codec::Grey && c != Codec::Palette;
}

Rational frameRateOf(double fps) {
    // The NTSC family is stored exactly as n*1000/1001.
    for (int base : {24, 30, 60, 120}) {
        const double ntsc = base * 1000.0 / 1001.0;
        if (std::fabs(fps - ntsc) < 0.006)
            return {base * 1000, 1001};
    }
    const double whole = std::nearbyint(fps);
    if (std::fabs(fps - whole) < 1e-9)
        return {static_cast<int>(whole), 1};
    // Otherwise to a thousandth of a frame per second.
    const int num = static_cast<int>(std::nearbyint(fps * 1000.0));
    int a = num, b = 1000;
    while (b != 0) {
        const int t = a % b;
        a = b;
        b = t;
    }
    return {num / a, 1000 / a};
}

void validate(const DriftParams& p) {
    if (p.width < 1 || p.width > 8192)
        bad("width", p.width);
    if (p.height < 1 || p.height > 8192)
        bad("height", p.height);
    if (p.frames < 0 || p.frames > 2000000)
        bad("frames", p.frames);
    if (!(p.fps >= 0.01 && p.fps <= 1000.0))
        bad("fps", p.fps);
    if (!(p.separationArcsec >= 0) || !std::isfinite(p.separationArcsec))
        bad("separation", p.separationArcsec);
    if (!std::isfinite(p.positionAngleDeg))
        bad("position angle", p.positionAngleDeg);
    if (!(std::fabs(p.declinationDeg) <= 90.0))
        bad("declination", p.declinationDeg);
    if (!(p.scalePxPerArcsec > 0) || !std::isfinite(p.scalePxPerArcsec))
        bad("scale", p.scalePxPerArcsec);
    if (!std::isfinite(p.rotationDeg))
        bad("rotation", p.rotationDeg);
    if (!(p.primaryBrightness >= 0 && p.primaryBrightness <= 1e6))
        bad("primary brightness", p.primaryBrightness);
    if (!(p.secondaryBrightness >= 0 && p.secondaryBrightness <= 1e6))
        bad("secondary brightness", p.secondaryBrightness);
    if (!(p.seeingFwhmPx > 0 && p.seeingFwhmPx <= 1000))
        bad("seeing", p.seeingFwhmPx);
    if (!(p.jitterPx >= 0 && p.jitterPx <= 1000))
        bad("jitter", p.jitterPx);
    if (p.bits != 8 && p.bits != 16)
        bad("bits", p.bits);
    if (!(p.sky >= 0 && p.sky <= whiteOf(p)))
        bad("sky", p.sky);
    if (!(p.noiseSigma >= 0 && p.noiseSigma <= whiteOf(p)))
        bad("noise", p.noiseSigma);
    if (!(p.timeJitterMs >= 0 && p.timeJitterMs <= 1e6))
        bad("time jitter", p.timeJitterMs);
    if (!(p.dropFraction >= 0 && p.dropFraction <= 0.9))
        bad("drop fraction", p.dropFraction);
    if (p.start && !(std::isfinite(p.start->x) && std::isfinite(p.start->y)))
        bad("start", p.start->x);
    if (p.frameCode && (p.width < kCodeBits * kCodeBlock || p.height < kCodeBlock))
        bad("width for the frame code", p.width);
    for (double t : {p.tint.red, p.tint.green, p.tint.blue})
        if (!(t >= 0 && t <= 1))
            bad("tint", t);
    if (p.gopSize < 1 || p.gopSize > 1000)
        bad("GOP size", p.gopSize);
    if (p.bFrames < 0 || p.bFrames > 16)
        bad("B-frames", p.bFrames);
    if (p.codec != Codec::Grey && p.codec != Codec::Colour && p.codec != Codec::Palette &&
        (p.width % 2 || p.height % 2))
        bad("width and height must be even for this codec; width", p.width);
    validateSeeing(p);
}

FrameTruth frameTruth(const DriftParams& p, int64_t n) {
    return truthOf(p, geometryOf(p), n);
}

Truth computeTruth(const DriftParams& p) {
    Truth t = nominalTruth(p);
    if (p.seeing.enabled) {
        SeeingSim seeing(p);
        for (std::size_t n = 0; n < t.frames.size(); ++n)
            t.frames[n] = seeing.render(static_cast<int64_t>(n), t.frames[n]).truth;
    }
    return t;
}

Truth nominalTruth(const DriftParams& p) {
    validate(p);
    const Geometry g = geometryOf(p);
    Truth t;
    t.frameRate = frameRateOf(p.fps);
    t.pixelScalePxPerArcsec = p.scalePxPerArcsec;
    t.separationArcsec = p.separationArcsec;
    t.positionAngleDeg = wrapDegrees360(p.positionAngleDeg);
    t.separationPx = g.separationPx;
    t.screenAngleDeg = g.screenAngleDeg;
    t.driftAngleDeg = g.driftAngleDeg;
    t.driftSpeedPxPerS = g.speedPxPerS;
    const double margin = std::max(2.0, 2.0 * starFwhmPx(p));
    const double maxX = p.width - 1 - margin;
    const double maxY = p.height - 1 - margin;
    auto inside = [&](Point q) {
        return q.x >= margin && q.y >= margin && q.x <= maxX && q.y <= maxY;
    };
    t.staysInFrame = true;
    t.frames.reserve(static_cast<std::size_t>(p.frames));
    int64_t slot = -1;
    for (int n = 0; n < p.frames; ++n) {
        const int64_t previous = slot;
        while (slotDropped(p, ++slot))
            ;
        t.droppedFrames += n > 0 ? slot - previous - 1 : 0;
        t.frames.push_back(truthAt(p, g, n, timeAt(p, g, n, slot)));
        t.staysInFrame =
            t.staysInFrame && inside(t.frames.back().primary) && inside(t.frames.back().secondary);
    }
    return t;
}

void drawFrameCode(std::vector<uint16_t>& samples, const DriftParams& p, int64_t n) {
    if (p.frameCode)
        drawFrameCode<uint16_t>(samples, p.width, p.height, n, static_cast<uint16_t>(whiteOf(p)));
}

std::vector<uint8_t> renderGreyLevels(const DriftParams& p, int64_t n) {
    if (p.seeing.enabled) {
        DriftParams grey = p;
        grey.bits = 8;
        grey.bayer = false;
        const std::vector<uint16_t> s = renderSamples(grey, n);
        return std::vector<uint8_t>(s.begin(), s.end());
    }
    const std::vector<double> light = renderLight(p, frameTruth(p, n), n);
    std::vector<uint8_t> levels(light.size());
    for (std::size_t i = 0; i < light.size(); ++i)
        levels[i] = toLevel(light[i]);
    if (p.frameCode)
        drawFrameCode<uint8_t>(levels, p.width, p.height, n, 255);
    return levels;
}

std::vector<uint16_t> renderSamples(const DriftParams& p, int64_t n) {
    return renderSamples(p, n, frameTruth(p, n));
}

std::vector<uint16_t> renderSamples(const DriftParams& p, int64_t n, const FrameTruth& f) {
    if (p.seeing.enabled) {
        // One frame alone: the atmosphere is made for it (a writer keeps
        // one through FrameRenderer instead).
        FrameRenderer renderer(p);
        FrameTruth truth = f;
        return renderer.samples(n, truth);
    }
    std::vector<double> light = renderLight(p, f, n);
    if (p.bayer)
        // RGGB: red at even rows and columns, blue at odd ones, green between.
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const double share = (y % 2 == 0 && x % 2 == 0)   ? p.tint.red
                                     : (y % 2 == 1 && x % 2 == 1) ? p.tint.blue
                                                                  : p.tint.green;
                light[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
                      static_cast<std::size_t>(x)] *= share;
            }
    const double white = whiteOf(p);
    std::vector<uint16_t> samples(light.size());
    for (std::size_t i = 0; i < light.size(); ++i)
        samples[i] = static_cast<uint16_t>(std::clamp(std::nearbyint(light[i]), 0.0, white));
    if (p.frameCode)
        drawFrameCode<uint16_t>(samples, p.width, p.height, n, static_cast<uint16_t>(white));
    return samples;
}

double frameTimeS(const DriftParams& p, int64_t n) {
    return timeOf(p, geometryOf(p), n);
}

namespace {

std::vector<Pixel> pixelsOf(const DriftParams& p, const std::vector<uint8_t>& levels) {
    std::vector<Pixel> out(levels.size());
    if (!carriesColour(p.codec)) {
        for (std::size_t i = 0; i < levels.size(); ++i)
            out[i] = levels[i] * 0x010101u;
        return out;
    }
    // One lookup per grey level keeps the tint cheap.
    Pixel lut[256];
    for (int v = 0; v < 256; ++v) {
        const Pixel r = toLevel(v * p.tint.red);
        const Pixel gr = toLevel(v * p.tint.green);
        const Pixel b = toLevel(v * p.tint.blue);
        lut[v] = r | (gr << 8) | (b << 16);
    }
    for (std::size_t i = 0; i < levels.size(); ++i)
        out[i] = lut[levels[i]];
    return out;
}

} // namespace

std::vector<Pixel> renderFrame(const DriftParams& p, int64_t n) {
    return pixelsOf(p, renderGreyLevels(p, n));
}

int64_t readFrameCode(const Pixel* pixels, int width, int height, int stride) {
    if (width < kCodeBits * kCodeBlock || height < kCodeBlock)
        return -1;
    int64_t n = 0;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        // The middle 4 x 4 of each block: compression rings at its edges.
        int sum = 0;
        for (int y = height - 6; y < height - 2; ++y)
            for (int x = bit * kCodeBlock + 2; x < bit * kCodeBlock + 6; ++x) {
                const Pixel c =
                    pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) +
                           static_cast<std::size_t>(x)];
                sum += static_cast<int>((c & 0xFF) + ((c >> 8) & 0xFF) + ((c >> 16) & 0xFF));
            }
        const double mean = sum / 48.0; // 16 pixels, 3 channels
        if (mean > 170)
            n |= int64_t{1} << bit;
        else if (mean >= 85)
            return -1;
    }
    return n;
}

Truth writeDriftVideo(const std::string& path, const DriftParams& p) {
    Truth truth = nominalTruth(p);
    if (p.bits != 8 || p.bayer || p.timeJitterMs > 0 || p.dropFraction > 0)
        throw Error("16-bit samples, a Bayer mosaic, time jitter and dropped frames need a SER "
                    "or FITS recording, not an AVI");
    VideoFormat format;
    format.codec = p.codec;
    format.width = p.width;
    format.height = p.height;
    format.frameRate = truth.frameRate;
    format.gopSize = p.gopSize;
    format.bFrames = p.bFrames;
    AviWriter writer(path, format);
    if (!p.seeing.enabled) {
        for (int n = 0; n < p.frames; ++n)
            writer.writeFrame(renderFrame(p, n), n);
        writer.finish();
        return truth;
    }
    FrameRenderer renderer(p);
    for (int n = 0; n < p.frames; ++n) {
        const std::vector<uint16_t> s =
            renderer.samples(n, truth.frames[static_cast<std::size_t>(n)]);
        writer.writeFrame(pixelsOf(p, std::vector<uint8_t>(s.begin(), s.end())), n);
    }
    writer.finish();
    return truth;
}

} // namespace corvane::sim
