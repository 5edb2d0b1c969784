#pragma once
// A double star drifting across the field of a telescope that does not track:
// the parameters of such a recording, the truth it holds (where each star is
// in each frame) and the picture of any frame, rendered deterministically from
// the seed so that a test can ask for frame n in any order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::sim {

// Colour value in the panel's layout 0x00BBGGRR (red in the low byte).
using Pixel = uint32_t;

// Sidereal drift of a star on the equator, arc-seconds per second of time.
inline constexpr double kSiderealRateArcsecPerS = 15.04107;

enum class Codec {
    Grey,    // raw 8-bit grey, FourCC Y800
    Colour,  // raw 24-bit DIB (bgr24, bottom-up)
    Palette, // classic 8-bit DIB with a 256-entry palette
    Mjpeg,   // Motion JPEG
    H264,    // H.264 through libx264, with B-frames (closed GOPs)
    Mpeg4,   // MPEG-4 Part 2 (FourCC XVID) with B-frames in open GOPs
    Yuy2     // raw YUV 4:2:2, FourCC YUY2, as many capture cards write
};

// The codec stores colour (and takes DriftParams::tint).
bool carriesColour(Codec c);

enum class Orientation {
    Correct, // north 90 degrees counter-clockwise from the drift
    Mirrored // flipped left-right
};

struct Point {
    double x = 0;
    double y = 0;
};

// Colour of the light in the colour codecs (colour raw, MJPEG, H.264): each
// channel is the grey level times its factor. Grey and palette ignore it.
struct Tint {
    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
};

// Stars seen through the atmosphere instead of as smooth Gaussians (off by
// default). Each frame's image of each star is the short-exposure image of
// the aperture through two layers of Kolmogorov turbulence carried by the
// wind: a ground layer both stars see alike and a high layer the secondary
// sees through a patch shifted by separation x height. The camera adds
// photon and read noise, bias, hot pixels and saturation at white. With the
// model on, DriftParams::seeingFwhmPx and jitterPx are not used (the
// atmosphere makes the width and the image motion), and brightness is about
// the peak of the long-exposure image.
struct SeeingParams {
    bool enabled = false;
    double dOverR0 = 4.0;      // aperture over Fried parameter, both layers together
    double apertureM = 0.2;    // telescope's diameter, metres
    double obstruction = 0.0;  // central obstruction, share of the diameter
    double wavelengthNm = 550; // lambda/D on the sky follows, and so the pixels per lambda/D
    // Outer scale of the turbulence, metres (von Karman): larger eddies are
    // rare, which damps the slow wander of the images. 0: none (Kolmogorov).
    double outerScaleM = 25.0;
    double highLayerShare = 0.3; // share of the turbulence (of r0^(-5/3)) in the high layer
    double highLayerKm = 8.0;
    double groundWindMps = 3.0; // frozen flow: each layer's screen moves with its wind
    double highWindMps = 15.0;
    // Exposure of each frame, averaged over this many instants; 0: one
    // instant (no blur by the wind or the drift).
    double exposureMs = 20.0;
    int subExposures = 4;

    // Camera. Gain 0: the noise is DriftParams::noiseSigma as with Gaussian
    // stars; above 0: photon noise of (counts x gain) electrons plus read noise.
    double gainEPerCount = 0;
    double readNoiseE = 0;
    double bias = 0;   // counts added to every sample
    int hotPixels = 0; // fixed bright pixels, the same in every frame
    double skyGradient =
        0; // counts the sky rises across the frame, left to right and top to bottom
    double scintillation = 0; // sigma of the stars' brightness from frame to frame, share
    // Bursts of spoiled frames: this share of the frames, in bursts of
    // about `burstFrames`, each either dimmed by a passing cloud or smeared
    // by a shake of the telescope.
    double spoiledShare = 0;
    int burstFrames = 5;
};

// lambda/D on the sky, arc-seconds.
double lambdaOverDArcsec(const SeeingParams& s);

struct DriftParams {
    int width = 640;
    int height = 480;
    int frames = 100;
    double fps = 25.0; // 23.976, 29.97 and 59.94 are stored as n*1000/1001
    Codec codec = Codec::Grey;

    double separationArcsec = 10.0;
    double positionAngleDeg = 45.0; // from north through east
    double declinationDeg = 30.0;
    double scalePxPerArcsec = 1.0;
    // Direction of the drift (west) on the screen, degrees counter-clockwise
    // from the screen's +x axis with y pointing up, before any mirroring.
    double rotationDeg = 0.0;
    Orientation orientation = Orientation::Correct;
    // The telescope tracks: the stars stay where they are (only the jitter
    // moves them), while the camera keeps its scale and rotation.
    bool tracking = false;

    double primaryBrightness = 200.0;   // peak grey levels above the sky
    double secondaryBrightness = 120.0; // peak grey levels above the sky
    double seeingFwhmPx = 3.0;          // full width at half maximum of the Gaussian PSF
    double jitterPx = 0.3;              // sigma of the image motion per frame and axis
    double sky = 20.0;                  // background grey level
    double noiseSigma = 3.0;            // sigma of the Gaussian pixel noise, grey levels

    // Primary's screen position (x right, y down) in frame 0. Unset: the pair
    // is placed so that its track is centred in the visible part of the frame.
    std::optional<Point> start;
    uint64_t seed = 1;

    // Frame number written as 16 black/white 8 x 8 blocks along the bottom
    // edge (bit 0 leftmost), so a test can tell frames apart after lossy
    // compression. Needs a frame at least 128 pixels wide.
    bool frameCode = false;
    Tint tint;

    int gopSize = 12; // H.264, MPEG-4: frames between key frames
    int bFrames = 2;  // H.264, MPEG-4: B-frames between references

    // Recordings with samples and time stamps of their own (SER, FITS; the
    // AVI codecs take the defaults). Brightness, sky and noise are then in
    // counts of `bits`-bit samples.
    int bits = 8;       // 8 or 16
    bool bayer = false; // an RGGB mosaic: each pixel keeps its filter's share (tint) of the light
    // The camera's frame times wander: each frame is taken this much (sigma,
    // ms, at most 0.4 of the period) off its nominal time, and the stars are
    // where they are at the real time.
    double timeJitterMs = 0;
    // Share of the nominal frame times at which no frame is recorded (the
    // frames written are the ones kept, numbered without gaps).
    double dropFraction = 0;

    SeeingParams seeing;
};

// Width of the stars' long-exposure images in pixels: seeingFwhmPx, or about
// 0.98 lambda/r0 with diffraction when the seeing model is on.
double starFwhmPx(const DriftParams& p);

// Frame rate as the rational the AVI stores (frames = num per den seconds).
struct Rational {
    int num = 25;
    int den = 1;
};
Rational frameRateOf(double fps);

struct FrameTruth {
    double timeS = 0; // time of the frame from the first, seconds
    // Screen pixels, x right, y down, jitter included; with the seeing model
    // the centroid of each star's noiseless image.
    Point primary;
    Point secondary;
};

struct Truth {
    Rational frameRate;
    int64_t droppedFrames = 0; // nominal frame times skipped
    double pixelScalePxPerArcsec = 0;
    double separationArcsec = 0;
    double positionAngleDeg = 0;
    double separationPx = 0;
    // Direction of the secondary seen from the primary on the screen, and
    // direction of the drift: degrees counter-clockwise from +x with y up,
    // in [0, 360).
    double screenAngleDeg = 0;
    double driftAngleDeg = 0;
    double driftSpeedPxPerS = 0;
    // Both stars stay inside the frame, with a margin of two seeing widths,
    // in every frame.
    bool staysInFrame = false;
    std::vector<FrameTruth> frames;
};

// Checks the parameters; throws corvane::Error naming the first bad one.
void validate(const DriftParams& p);

// The truth of a recording without writing it. With the seeing model this
// renders every frame's star images (as slow as writing the recording).
Truth computeTruth(const DriftParams& p);
// The same with the stars where the drift puts them, before the atmosphere.
Truth nominalTruth(const DriftParams& p);
FrameTruth frameTruth(const DriftParams& p, int64_t n);

// The picture of frame n as the codec stores it before compression: width x
// height values in 0x00BBGGRR, row by row from the top.
std::vector<Pixel> renderFrame(const DriftParams& p, int64_t n);

// Writes the drift video and returns its truth. Throws corvane::Error.
Truth writeDriftVideo(const std::string& path, const DriftParams& p);

// Reads the frame number written by DriftParams::frameCode from a picture of
// at least 128 x 8 values with the given row stride; -1 when a block is
// neither clearly dark nor clearly light.
int64_t readFrameCode(const Pixel* pixels, int width, int height, int stride);

// Grey levels 0..255 (before the codec) of frame n, row by row.
std::vector<uint8_t> renderGreyLevels(const DriftParams& p, int64_t n);

// Samples 0 .. 2^bits - 1 of frame n, row by row from the top: the grey
// levels of renderGreyLevels at `bits` = 8 without a mosaic, the mosaic of
// filtered light with `bayer`.
std::vector<uint16_t> renderSamples(const DriftParams& p, int64_t n);
// The same with frame n's truth already at hand (a writer's loop).
std::vector<uint16_t> renderSamples(const DriftParams& p, int64_t n, const FrameTruth& f);

// Seconds from the first frame's nominal time to frame n's real time, with
// dropped and jittered frame times.
double frameTimeS(const DriftParams& p, int64_t n);

const char* codecName(Codec c);

} // namespace corvane::sim
