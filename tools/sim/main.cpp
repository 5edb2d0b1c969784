// corvane-sim: writes a recording (AVI, SER, or FITS) of a double star
// drifting across the field of a telescope that does not track, and prints
// what it holds as "name: value" lines, so a measurement can be checked
// against it.
#include "common/Error.h"
#include "common/NumberText.h"
#include "common/Version.h"
#include "sim/DriftSim.h"
#include "sim/RecordingWriter.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace corvane;
using namespace corvane::sim;

namespace {

const char* const kUsage =
    "usage: corvane-sim OUT.avi|OUT.ser|OUT.fits [options]\n"
    "  --format F            avi | ser | fits-cube | fits-sequence (from OUT's extension;\n"
    "                        a sequence writes OUT_00001.fits, OUT_00002.fits, ...)\n"
    "  --frames N            number of frames (100)\n"
    "  --width W --height H  frame size in pixels (640 x 480)\n"
    "  --fps F               frames per second (25; 29.97 is stored as 30000/1001)\n"
    "  --codec C             grey | colour | palette | mjpeg | h264 | mpeg4 | yuy2 (grey)\n"
    "  --separation ARCSEC   separation of the pair (10)\n"
    "  --pa DEG              position angle, from north through east (45)\n"
    "  --dec DEG             declination (30)\n"
    "  --scale PX_PER_ARCSEC pixel scale (1)\n"
    "  --rotation DEG        drift direction on the screen, counter-clockwise from +x (0)\n"
    "  --orientation O       correct | mirrored (correct)\n"
    "  --tracking            the telescope tracks: the pair stays put (no drift)\n"
    "  --primary-brightness B, --secondary-brightness B\n"
    "                        peak grey levels above the sky (200, 120)\n"
    "  --seeing PX           FWHM of the star images (3)\n"
    "  --jitter PX           image motion per frame and axis, sigma (0.3)\n"
    "  --sky LEVEL           background grey level (20)\n"
    "  --noise SIGMA         pixel noise, grey levels (3)\n"
    "  --start X,Y           primary in frame 0 (default: the track is centred)\n"
    "  --seed N              random seed (1)\n"
    "  --gop N --bframes N   H.264 and MPEG-4 key-frame interval and B-frames (12, 2)\n"
    "  --tint R,G,B          channel factors 0..1 for the colour codecs (1,1,1)\n"
    "  --frame-code          write the frame number as blocks along the bottom edge\n"
    "  --per-frame           also print every frame's star positions\n"
    "SER and FITS only:\n"
    "  --bits B              8 | 16 bits per sample; levels above are then in counts (8)\n"
    "  --bayer               SER: an RGGB mosaic, each filter passing its --tint share\n"
    "  --time-jitter MS      sigma of each frame's time off its nominal time (0)\n"
    "  --drop FRACTION       share of frame times with no frame recorded (0)\n"
    "  --start-utc TIME      UTC of the first frame, YYYY-MM-DDThh:mm:ss[.ffffff]\n"
    "                        (2026-03-14T21:30:00)\n"
    "  --no-time-stamps      SER: no trailer of frame time stamps\n"
    "Seeing (stars seen through the atmosphere; off: Gaussian stars of --seeing and --jitter):\n"
    "  --d-over-r0 X         turns the model on: aperture over Fried parameter (e.g. 2-15)\n"
    "  --aperture MM         telescope's diameter (200); with --wavelength and --scale it\n"
    "                        gives the pixels per lambda/D\n"
    "  --obstruction SHARE   central obstruction, share of the diameter (0)\n"
    "  --wavelength NM       (550)\n"
    "  --outer-scale M       outer scale of the turbulence, 0 for none (25)\n"
    "  --high-layer SHARE,KM share of the turbulence in the high layer and its height (0.3,8)\n"
    "  --wind GROUND,HIGH    wind speeds of the two layers, m/s (3,15)\n"
    "  --exposure MS         exposure of each frame, 0 for an instant (20)\n"
    "  --sub-exposures N     instants averaged over the exposure (4)\n"
    "  --gain E              electrons per count: photon noise plus --read-noise instead\n"
    "                        of --noise (0: Gaussian --noise)\n"
    "  --read-noise E        read noise, electrons (0)\n"
    "  --bias COUNTS         added to every sample (0)\n"
    "  --hot-pixels N        fixed bright pixels (0)\n"
    "  --sky-gradient COUNTS rise of the sky from the top left to the bottom right (0)\n"
    "  --scintillation SIGMA the stars' brightness flicker, share (0)\n"
    "  --spoiled SHARE[,N]   share of frames spoiled in bursts of about N (5) frames,\n"
    "                        dimmed by a cloud or smeared by a shake (0)\n"
    "  --help, --version     print this text or the version and exit\n";

// A mistake on the command line, told apart from a recording that cannot be
// written: the exit status says which (2 and 1, as the other programs do).
struct UsageError : Error {
    using Error::Error;
};

[[noreturn]] void usageError(const std::string& text) {
    // One line, so that the message stays on the screen.
    throw UsageError(text + "\nTry 'corvane-sim --help'.");
}

// An option's value that is not a number is a mistake on the command line.
template <typename Read> auto optionValue(const std::string& text, Read read) {
    try {
        return read(text);
    } catch (const Error& e) {
        usageError(e.what());
    }
}

double number(const std::string& text) {
    return optionValue(text, [](const std::string& t) { return textToFloat(t, '.'); });
}

int integer(const std::string& text) {
    return optionValue(text, [](const std::string& t) { return textToInt(t); });
}

std::vector<double> numberList(const std::string& text, std::size_t count) {
    std::vector<double> out;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(',', begin);
        out.push_back(number(text.substr(begin, comma - begin)));
        if (comma == std::string::npos)
            break;
        begin = comma + 1;
    }
    if (out.size() != count)
        usageError("'" + text + "' must hold " + std::to_string(count) +
                   " numbers separated by commas");
    return out;
}

Codec codecFrom(const std::string& s) {
    for (Codec c : {Codec::Grey, Codec::Colour, Codec::Palette, Codec::Mjpeg, Codec::H264,
                    Codec::Mpeg4, Codec::Yuy2})
        if (s == codecName(c))
            return c;
    usageError("unknown codec '" + s + "'");
}

struct Options {
    std::string out;
    DriftParams params;
    RecordingOptions recording;
    bool formatGiven = false;
    bool perFrame = false;
};

Container containerFrom(const std::string& s) {
    for (Container c :
         {Container::Avi, Container::Ser, Container::FitsCube, Container::FitsSequence})
        if (s == containerName(c))
            return c;
    usageError("unknown format '" + s + "'");
}

Options parse(int argc, char** argv) {
    Options o;
    DriftParams& p = o.params;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usageError("option " + a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::cout << "corvane-sim " << kVersion << "\n";
            std::exit(0);
        } else if (a == "--frames") {
            p.frames = integer(value());
        } else if (a == "--width") {
            p.width = integer(value());
        } else if (a == "--height") {
            p.height = integer(value());
        } else if (a == "--fps") {
            p.fps = number(value());
        } else if (a == "--codec") {
            p.codec = codecFrom(value());
        } else if (a == "--separation") {
            p.separationArcsec = number(value());
        } else if (a == "--pa") {
            p.positionAngleDeg = number(value());
        } else if (a == "--dec") {
            p.declinationDeg = number(value());
        } else if (a == "--scale") {
            p.scalePxPerArcsec = number(value());
        } else if (a == "--rotation") {
            p.rotationDeg = number(value());
        } else if (a == "--orientation") {
            const std::string v = value();
            if (v == "correct")
                p.orientation = Orientation::Correct;
            else if (v == "mirrored")
                p.orientation = Orientation::Mirrored;
            else
                usageError("unknown orientation '" + v + "'");
        } else if (a == "--tracking") {
            p.tracking = true;
        } else if (a == "--primary-brightness") {
            p.primaryBrightness = number(value());
        } else if (a == "--secondary-brightness") {
            p.secondaryBrightness = number(value());
        } else if (a == "--seeing") {
            p.seeingFwhmPx = number(value());
        } else if (a == "--jitter") {
            p.jitterPx = number(value());
        } else if (a == "--sky") {
            p.sky = number(value());
        } else if (a == "--noise") {
            p.noiseSigma = number(value());
        } else if (a == "--start") {
            const std::vector<double> xy = numberList(value(), 2);
            p.start = Point{xy[0], xy[1]};
        } else if (a == "--seed") {
            const std::string v = value();
            char* end = nullptr;
            p.seed = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || v[0] == '-')
                usageError("'" + v + "' is not a valid seed");
        } else if (a == "--gop") {
            p.gopSize = integer(value());
        } else if (a == "--bframes") {
            p.bFrames = integer(value());
        } else if (a == "--tint") {
            const std::vector<double> t = numberList(value(), 3);
            p.tint = Tint{t[0], t[1], t[2]};
        } else if (a == "--frame-code") {
            p.frameCode = true;
        } else if (a == "--per-frame") {
            o.perFrame = true;
        } else if (a == "--format") {
            o.recording.container = containerFrom(value());
            o.formatGiven = true;
        } else if (a == "--bits") {
            p.bits = integer(value());
        } else if (a == "--bayer") {
            p.bayer = true;
        } else if (a == "--time-jitter") {
            p.timeJitterMs = number(value());
        } else if (a == "--drop") {
            p.dropFraction = number(value());
        } else if (a == "--d-over-r0") {
            p.seeing.enabled = true;
            p.seeing.dOverR0 = number(value());
        } else if (a == "--aperture") {
            p.seeing.apertureM = number(value()) / 1000.0;
        } else if (a == "--obstruction") {
            p.seeing.obstruction = number(value());
        } else if (a == "--wavelength") {
            p.seeing.wavelengthNm = number(value());
        } else if (a == "--outer-scale") {
            p.seeing.outerScaleM = number(value());
        } else if (a == "--high-layer") {
            const std::vector<double> v = numberList(value(), 2);
            p.seeing.highLayerShare = v[0];
            p.seeing.highLayerKm = v[1];
        } else if (a == "--wind") {
            const std::vector<double> v = numberList(value(), 2);
            p.seeing.groundWindMps = v[0];
            p.seeing.highWindMps = v[1];
        } else if (a == "--exposure") {
            p.seeing.exposureMs = number(value());
        } else if (a == "--sub-exposures") {
            p.seeing.subExposures = integer(value());
        } else if (a == "--gain") {
            p.seeing.gainEPerCount = number(value());
        } else if (a == "--read-noise") {
            p.seeing.readNoiseE = number(value());
        } else if (a == "--bias") {
            p.seeing.bias = number(value());
        } else if (a == "--hot-pixels") {
            p.seeing.hotPixels = integer(value());
        } else if (a == "--sky-gradient") {
            p.seeing.skyGradient = number(value());
        } else if (a == "--scintillation") {
            p.seeing.scintillation = number(value());
        } else if (a == "--spoiled") {
            const std::string v = value();
            const std::size_t comma = v.find(',');
            p.seeing.spoiledShare = number(v.substr(0, comma));
            if (comma != std::string::npos)
                p.seeing.burstFrames = integer(v.substr(comma + 1));
        } else if (a == "--start-utc") {
            o.recording.startUtc = value();
        } else if (a == "--no-time-stamps") {
            o.recording.timeStamps = false;
        } else if (!a.empty() && a[0] == '-') {
            usageError("unknown option " + a);
        } else if (o.out.empty()) {
            o.out = a;
        } else {
            usageError("more than one output file given");
        }
    }
    if (o.out.empty())
        usageError("no output file given");
    if (!o.formatGiven)
        o.recording.container = containerOf(o.out);
    return o;
}

std::string num(double v) {
    return formatGeneral(v, '.');
}

void printTruth(const Options& o, const Truth& t) {
    const DriftParams& p = o.params;
    std::cout << "file: " << o.out << "\n"
              << "codec: " << codecName(p.codec) << "\n"
              << "width: " << p.width << "\n"
              << "height: " << p.height << "\n"
              << "frames: " << p.frames << "\n"
              << "frame_rate: " << t.frameRate.num << "/" << t.frameRate.den << "\n"
              << "fps: " << num(static_cast<double>(t.frameRate.num) / t.frameRate.den) << "\n"
              << "declination_deg: " << num(p.declinationDeg) << "\n"
              << "orientation: "
              << (p.orientation == Orientation::Mirrored ? "mirrored" : "correct") << "\n"
              << "separation_arcsec: " << num(t.separationArcsec) << "\n"
              << "position_angle_deg: " << num(t.positionAngleDeg) << "\n"
              << "pixel_scale_px_per_arcsec: " << num(t.pixelScalePxPerArcsec) << "\n"
              << "separation_px: " << num(t.separationPx) << "\n"
              << "screen_angle_deg: " << num(t.screenAngleDeg) << "\n"
              << "drift_angle_deg: " << num(t.driftAngleDeg) << "\n"
              << "drift_speed_px_per_s: " << num(t.driftSpeedPxPerS) << "\n";
    if (!t.frames.empty()) {
        const FrameTruth& a = t.frames.front();
        const FrameTruth& b = t.frames.back();
        std::cout << "primary_first: " << num(a.primary.x) << "," << num(a.primary.y) << "\n"
                  << "primary_last: " << num(b.primary.x) << "," << num(b.primary.y) << "\n";
    }
    if (p.seeing.enabled)
        std::cout << "d_over_r0: " << num(p.seeing.dOverR0) << "\n"
                  << "lambda_over_d_px: " << num(p.scalePxPerArcsec * lambdaOverDArcsec(p.seeing))
                  << "\n"
                  << "seeing_fwhm_px: " << num(starFwhmPx(p)) << "\n";
    std::cout << "stays_in_frame: " << (t.staysInFrame ? "yes" : "no") << "\n";
    if (o.recording.container != Container::Avi)
        std::cout << "format: " << containerName(o.recording.container) << "\n"
                  << "bits: " << p.bits << "\n"
                  << "mosaic: " << (p.bayer ? "RGGB" : "mono") << "\n"
                  << "start_utc: " << o.recording.startUtc << "\n"
                  << "dropped_frames: " << t.droppedFrames << "\n";
    if (o.perFrame) {
        for (std::size_t n = 0; n < t.frames.size(); ++n) {
            const FrameTruth& f = t.frames[n];
            std::cout << "frame_" << n << ": " << num(f.timeS) << " " << num(f.primary.x) << " "
                      << num(f.primary.y) << " " << num(f.secondary.x) << " " << num(f.secondary.y)
                      << "\n";
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        const Options o = parse(argc, argv);
        const Truth t = writeRecording(o.out, o.params, o.recording);
        printTruth(o, t);
        if (!t.staysInFrame)
            std::cerr << "corvane-sim: warning: the pair leaves the frame in some frames\n";
        return 0;
    } catch (const UsageError& e) {
        std::cerr << "corvane-sim: " << e.what() << "\n";
        return 2;
    } catch (const Error& e) {
        std::cerr << "corvane-sim: " << e.what() << "\n";
        return 1;
    }
}
