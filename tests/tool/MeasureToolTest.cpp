// corvane-measure run as a user runs it, on a simulated drift video: exit
// statuses, the printed texts, the frame table, the saved results line, the
// epoch, the bench and the progress bar.
#include "support/ToolSupport.h"

#include "reduce/Epoch.h"
#include "results/ResultsLine.h"
#include "sim/AviWriter.h"
#include "sim/DriftSim.h"
#include "sim/RecordingWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>

namespace corvane::test {
namespace {

// A clean drift video: dark sky, faint noise, a pair 18 pixels apart drifting
// 1.5 pixels per frame to the right, 120 frames at 15 per second.
sim::DriftParams cleanPair() {
    sim::DriftParams p;
    p.width = 320;
    p.height = 240;
    p.frames = 120;
    p.fps = 15;
    p.codec = sim::Codec::Grey;
    p.separationArcsec = 12;
    p.positionAngleDeg = 60;
    p.declinationDeg = 0;
    p.scalePxPerArcsec = 1.5;
    p.sky = 0;
    p.noiseSigma = 1;
    p.seed = 3;
    return p;
}

std::string xy(const sim::Point& p) {
    return std::to_string(std::lround(p.x)) + "," + std::to_string(std::lround(p.y));
}

double number(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0')
        ADD_FAILURE() << "'" << text << "' is not a number";
    return v;
}

class MeasureTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        video_ = dir_->file("pair.avi");
        truth_ = new sim::Truth(sim::writeDriftVideo(video_, cleanPair()));
    }
    static void TearDownTestSuite() {
        delete truth_;
        delete dir_;
    }

    // The clicks on the stars where they are in frame n.
    static std::vector<std::string> clicksAt(int n) {
        const sim::FrameTruth& f = truth_->frames[static_cast<std::size_t>(n)];
        return {"--primary", xy(f.primary), "--secondary", xy(f.secondary)};
    }
    // The video, the clicks on frame 0, the declination (unless `extra` gives
    // one) and `extra`.
    static std::vector<std::string> base(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{video_};
        for (const std::string& a : clicksAt(0))
            args.push_back(a);
        if (std::find(extra.begin(), extra.end(), "--dec") == extra.end())
            args.insert(args.end(), {"--dec", "+00 00 00"});
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    ToolRun run(const std::vector<std::string>& args) { return runTool(args, *dir_); }

    static TempDir* dir_;
    static std::string video_;
    static sim::Truth* truth_;
};

TempDir* MeasureTool::dir_ = nullptr;
std::string MeasureTool::video_;
sim::Truth* MeasureTool::truth_ = nullptr;

const std::vector<std::string> kTextNames = {"frames measured",
                                             "valid frames",
                                             "frames accepted",
                                             "frames clipped",
                                             "sep px",
                                             "screen angle",
                                             "drift angle",
                                             "position angle",
                                             "pixel scale",
                                             "separation",
                                             "separation stderr",
                                             "position angle stderr",
                                             "pixel scale stderr",
                                             "drift angle stderr",
                                             "sep px sd",
                                             "screen angle sd",
                                             "frames effective",
                                             "epoch J",
                                             "epoch B"};

TEST_F(MeasureTool, PrintsTheWindowsTextsInOrderAndNothingOnStderr) {
    const ToolRun r = run(base());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "no progress bar when stderr is not a terminal";
    std::vector<std::string> names;
    for (const auto& [name, value] : textLines(r.out)) {
        names.push_back(name);
        EXPECT_NE(value, "") << name;
    }
    EXPECT_EQ(names, kTextNames);
    const auto m = textMap(r.out);
    EXPECT_EQ(m.at("frames measured"), "120");
}

struct AccuracyRow {
    const char* name;
    const char* method;
};

void PrintTo(const AccuracyRow& row, std::ostream* os) {
    *os << row.name;
}

class MeasureToolAccuracy : public MeasureTool,
                            public ::testing::WithParamInterface<AccuracyRow> {};

// On a clean video the separation is limited by the drift's jitter in the 12
// pixel-scale pairs (about 0.1 %) and the position angle by the jitter of the
// drift line (a few hundredths of a degree).
TEST_P(MeasureToolAccuracy, MatchesTheSimulatedPair) {
    const ToolRun r = run(base({"--method", GetParam().method, "--dec", "+00 00 00"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto m = textMap(r.out);
    EXPECT_GE(number(m.at("valid frames")), 100);
    EXPECT_NEAR(number(m.at("separation")), truth_->separationArcsec,
                0.005 * truth_->separationArcsec);
    EXPECT_NEAR(number(m.at("pixel scale")), truth_->pixelScalePxPerArcsec,
                0.005 * truth_->pixelScalePxPerArcsec);
    EXPECT_NEAR(number(m.at("sep px")), truth_->separationPx, 0.005 * truth_->separationPx);
    EXPECT_NEAR(number(m.at("position angle")), truth_->positionAngleDeg, 0.3);
    EXPECT_NEAR(number(m.at("drift angle")), truth_->driftAngleDeg, 0.3);
}

INSTANTIATE_TEST_SUITE_P(Methods, MeasureToolAccuracy,
                         ::testing::Values(AccuracyRow{"PeakSearch", "peak"},
                                           AccuracyRow{"WeightedAverage", "weighted"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A 640 x 480 recording through the air (D/r0 4) of a pair 3 magnitudes
// apart, 10" at `scale` pixels per arc-second: a primary whose speckles
// reach white (200 grey levels) at 1 pixel per arc-second, or a companion
// of 6 grey levels, under the noise of one frame, at 1.5.
std::string seeingPair(const TempDir& dir, const char* name, double scale, double primary,
                       double secondary, uint64_t seed) {
    sim::DriftParams p;
    p.frames = 200;
    p.fps = 50;
    p.positionAngleDeg = 60;
    p.scalePxPerArcsec = scale;
    p.seeing.enabled = true;
    p.seeing.dOverR0 = 4;
    p.primaryBrightness = primary;
    p.secondaryBrightness = secondary;
    p.seed = seed;
    const std::string file = dir.file(name);
    sim::writeRecording(file, p, sim::RecordingOptions{});
    return file;
}

struct StatusRow {
    const char* name;
    std::vector<std::string> args; // after the video and the two clicks
    int status;
    const char* stderrHolds;
};

// Rows whose arguments replace the usual ones entirely start with "!".
TEST_F(MeasureTool, ExitStatusForEachCase) {
    const std::string junk = dir_->file("junk.avi");
    {
        std::FILE* f = std::fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("this is not a video at all, only some text in a file", f);
        std::fclose(f);
    }
    const std::string truncated = dir_->file("truncated.avi");
    {
        const std::string whole = readFile(video_);
        std::ofstream(truncated, std::ios::binary) << whole.substr(0, whole.size() / 3);
    }
    const std::string silent = dir_->file("silent.avi");
    sim::writeAudioOnlyAvi(silent, 2.0);
    // Named pipes nobody writes to: opening one for reading would wait for ever.
    const std::string pipeVideo = dir_->file("pipe.avi");
    const std::string pipeCalibration = dir_->file("pipe.json");
    ::mkfifo(pipeVideo.c_str(), 0600);
    ::mkfifo(pipeCalibration.c_str(), 0600);
    const std::string hugeScale = dir_->file("huge-scale.json");
    std::ofstream(hugeScale) << R"({"pixels_per_arcsec": 1e308, "pixels_per_arcsec_stderr": 0,
        "drift_angle": 0, "drift_angle_stderr": 0, "dec": 0, "observed_utc": "",
        "source": "x", "frames_accepted": 20})";
    const std::string saturated = seeingPair(*dir_, "saturated.avi", 1, 200, 12.6, 2);
    const std::string faint = seeingPair(*dir_, "faint.avi", 1.5, 100, 6.3, 3);
    const std::vector<std::string> found = {"--primary", "auto", "--secondary", "auto",
                                            "--dec",     "30",   "--method",    "psf"};
    const auto with = [&found](const std::string& video, const std::vector<std::string>& more) {
        std::vector<std::string> args{"!", video};
        args.insert(args.end(), found.begin(), found.end());
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const std::string longLine = dir_->file("long-line.txt");
    std::ofstream(longLine) << video_ << std::string(70000, ' ') << "\n";
    const std::vector<StatusRow> rows = {
        {"results", {}, 0, ""},
        {"missing file",
         {"!", dir_->file("absent.avi"), "--primary", "1,1", "--secondary", "2,2", "--dec", "+10"},
         1,
         "File not found"},
        {"not a video",
         {"!", junk, "--primary", "1,1", "--secondary", "2,2", "--dec", "+10"},
         1,
         "Not an AVI"},
        {"truncated video",
         {"!", truncated, "--primary", "1,1", "--secondary", "2,2", "--dec", "+10"},
         1,
         "The AVI file is truncated"},
        {"video without a picture",
         {"!", silent, "--primary", "1,1", "--secondary", "2,2", "--dec", "+10"},
         3,
         "No frame was measured."},
        {"declination missing",
         {"!", video_, "--primary", "1,1", "--secondary", "2,2"},
         2,
         "--dec is required"},
        {"declination not a number", {"--dec", "+1x 00 00"}, 2, "--dec: '+1x' is not a number"},
        {"declination minutes out of range",
         {"--dec", "+10:75"},
         2,
         "--dec: 75 is not 0 to under 60 minutes"},
        {"declination degrees out of range", {"--dec", "+95"}, 2, "--dec: +95 is not -90 to +90"},
        {"declination at the pole", {"--dec", "+90 00 00"}, 2, "lies at the pole"},
        {"clipping below one sigma", {"--clip", "0.5"}, 2, "--clip: '0.5' is not a number"},
        {"no arguments", {"!"}, 2, "no video given"},
        {"no secondary", {"!", video_, "--primary", "1,1"}, 2, "--secondary X,Y is required"},
        {"unknown option", {"--speed", "2"}, 2, "unknown option --speed"},
        {"option without its value", {"--box"}, 2, "--box needs a value"},
        {"option given twice", {"--box", "12", "--box", "14"}, 2, "--box given twice"},
        {"odd box size", {"--box", "13"}, 2, "not an even size"},
        {"box size above 40", {"--box", "42"}, 2, "not an even size"},
        {"box size in exponent form", {"--box", "1e1"}, 2, "not a valid integer value"},
        {"click outside the frame",
         {"!", video_, "--primary", "320,10", "--secondary", "2,2", "--dec", "+10"},
         2,
         "--primary 320,10 lies outside the 320 x 240 frame"},
        {"click at a negative pixel",
         {"!", video_, "--primary", "3,-1", "--secondary", "2,2"},
         2,
         "not a frame pixel"},
        {"click without a comma",
         {"!", video_, "--primary", "10", "--secondary", "2,2"},
         2,
         "is not X,Y"},
        {"click with junk",
         {"!", video_, "--primary", "1x,2", "--secondary", "2,2"},
         2,
         "not a valid integer value"},
        {"frame rate not a number", {"--fps", "fast"}, 2, "--fps: 'fast' is not a frame rate"},
        {"frame rate for an AVI", {"--fps", "30"}, 1, "comes from the file and cannot be given"},
        {"unknown method", {"--method", "fast"}, 2, "'fast' is none of peak, weighted, psf"},
        {"unknown orientation", {"--orientation", "upside"}, 2, "neither correct nor mirrored"},
        {"date that does not exist", {"--date", "2023-02-29 10:00"}, 2, "is not a date"},
        {"date without a time", {"--date", "2023-02-03"}, 2, "is not a date"},
        {"start beyond the video", {"--start", "121"}, 2, "beyond the video's last position 120"},
        {"stop before start", {"--start", "50", "--stop", "40"}, 2, "is not after --start"},
        {"stop at the start", {"--start", "50", "--stop", "50"}, 2, "nothing to measure"},
        {"negative frame", {"--stop", "-1"}, 2, "not negative"},
        {"primary frame beyond the video", {"--primary-frame", "500"}, 2, "beyond the video"},
        {"star data without --save", {"--notes", "x"}, 2, "--notes needs --save"},
        {"frames file in a missing folder",
         {"--frames", "/nonexistent/dir/f.csv"},
         1,
         "--frames /nonexistent/dir/f.csv: "},
        {"two videos", {"other.avi"}, 2, "more than one video"},
        {"one click found, one given",
         {"!", video_, "--primary", "auto", "--secondary", "2,2"},
         2,
         "--primary auto and --secondary auto go together"},
        {"calibration used and saved",
         {"--calibration", "a.json", "--save-calibration", "b.json"},
         2,
         "--save-calibration needs the drift itself"},
        {"missing calibration file",
         {"--calibration", dir_->file("absent.json")},
         1,
         "Cannot use the calibration file"},
        {"saved with a calibration but no declination",
         {"!", video_, "--primary", "1,1", "--secondary", "2,2", "--calibration", "a.json",
          "--save"},
         2,
         "--dec is required"},
        {"jobs without a batch", {"--jobs", "2"}, 2, "--jobs needs --batch"},
        {"speckle given a secondary",
         {"!", video_, "--method", "speckle", "--primary", "1,1", "--secondary", "2,2", "--dec",
          "+10"},
         2,
         "--method speckle takes no --secondary"},
        {"reference without speckle", {"--reference", "r.ser"}, 2, "needs --method speckle"},
        {"odd speckle box",
         {"!", video_, "--method", "speckle", "--primary", "1,1", "--dec", "+10", "--speckle-box",
          "65"},
         2,
         "not an even size from 16 to 512"},
        {"batch with a video", {"!", "--batch", "list.txt", video_}, 2, "--batch takes no video"},
        {"video that is a named pipe",
         {"!", pipeVideo, "--primary", "1,1", "--secondary", "2,2", "--dec", "+10"},
         1,
         "not a regular file: "},
        {"calibration that is a named pipe",
         {"--calibration", pipeCalibration},
         1,
         "not a regular file"},
        {"calibration with a pixel scale of 1e308",
         {"--calibration", hugeScale},
         1,
         "holds a pixel scale outside 0.001 to 1000"},
        {"declination a hair from the pole",
         {"--dec", "+89 59 59.9999"},
         3,
         "the stars drift too slowly to give a pixel scale"},
        {"batch list that never ends", {"!", "--batch", "/dev/urandom"}, 1, "not a regular file"},
        {"batch list with a line of 70,000 bytes",
         {"!", "--batch", longLine},
         1,
         "line 1 is longer than 64 KiB"},
        {"too few valid frames",
         {"--stop", "10"},
         3,
         "Only 10 of 10 frames were accepted; at least 16 are needed."},
        {"frames a saturated primary spoilt counted with their reason", with(saturated, {}), 0,
         "a star's image reached the white level in "},
        {"lone noise pixel not found as a faint companion", with(faint, {}), 1,
         "the lone bright pixel at "},
        {"clicks on empty sky",
         {"!", video_, "--primary", "300,20", "--secondary", "310,30", "--dec", "+10"},
         3,
         "frames were accepted; at least 16 are needed: the primary was too faint in"},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args;
        if (!row.args.empty() && row.args[0] == "!")
            args.assign(row.args.begin() + 1, row.args.end());
        else
            args = base(row.args);
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE(r.err.find(row.stderrHolds), std::string::npos) << r.err;
        // A usage error is one line and the pointer to the help, which
        // would push the message off the screen.
        const bool usage = r.err.find("\nTry 'corvane-measure --help'.\n") != std::string::npos;
        EXPECT_EQ(usage, row.status == 2) << r.err;
        EXPECT_EQ(r.err.find("usage: corvane-measure"), std::string::npos) << r.err;
        if (row.status == 1 || row.status == 2) {
            EXPECT_EQ(r.out, "") << "an error prints no results";
        }
    }
}

// Every form of the declination the option takes gives the result of the
// same value typed into the three boxes.
TEST_F(MeasureTool, DeclinationInEachFormGivesTheSameResult) {
    const struct {
        const char* dec;
        const char* sameAs;
    } forms[] = {{"+30:15:00", "+30 15 00"},
                 {"+30 15", "+30 15 00"},
                 {"+30.25", "+30 15 00"},
                 {"30 15 0", "+30 15 00"},
                 {"+30", "+30 00 00"}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.dec);
        const ToolRun r = run(base({"--dec", form.dec}));
        const ToolRun same = run(base({"--dec", form.sameAs}));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(textMap(r.out).at("separation"), textMap(same.out).at("separation"));
    }
}

// A doubtful result is printed as any other, with its warnings on stderr and
// in the JSON; --clip removes the frames off the mean and counts them.
TEST_F(MeasureTool, WarningsAndClippingAreReported) {
    sim::DriftParams p = cleanPair();
    p.sky = 20;
    p.noiseSigma = 8;
    const std::string noisy = dir_->file("noisy.avi");
    const sim::Truth t = sim::writeDriftVideo(noisy, p);
    const std::vector<std::string> args{noisy,
                                        "--primary",
                                        xy(t.frames[0].primary),
                                        "--secondary",
                                        xy(t.frames[0].secondary),
                                        "--dec",
                                        "+00",
                                        "--method",
                                        "weighted"};
    const ToolRun text = run(args);
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.err.rfind("Warning: The sky around the stars is ", 0), 0u) << text.err;
    EXPECT_NE(text.err.find("Weighted Average counts the noise"), std::string::npos) << text.err;
    EXPECT_NE(textMap(text.out).at("separation"), "");
    std::vector<std::string> withJson = args;
    withJson.push_back("--json");
    const ToolRun json = run(withJson);
    EXPECT_NE(json.out.find("\"warnings\": [\"The sky around the stars is "), std::string::npos)
        << json.out;

    const ToolRun clipped = run(base({"--clip", "1.5"}));
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    const auto m = textMap(clipped.out);
    const auto plain = textMap(run(base()).out);
    EXPECT_GT(number(m.at("frames clipped")), 0);
    EXPECT_EQ(number(m.at("frames accepted")),
              number(plain.at("frames accepted")) - number(m.at("frames clipped")));
}

TEST_F(MeasureTool, HelpPrintsTheUsageAndSucceeds) {
    const ToolRun r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        r.out.rfind("usage: corvane-measure VIDEO --primary X,Y --secondary X,Y --dec DEC", 0), 0u);
}

TEST_F(MeasureTool, TooFewValidFramesStillPrintsTheCountsWithEmptyResults) {
    const ToolRun text = run(base({"--stop", "10"}));
    ASSERT_EQ(text.status, 3) << text.err;
    const auto m = textMap(text.out);
    EXPECT_EQ(m.at("frames measured"), "10");
    EXPECT_LE(number(m.at("valid frames")), 10);
    for (const char* empty :
         {"sep px", "screen angle", "drift angle", "position angle", "pixel scale", "separation"})
        EXPECT_EQ(m.at(empty), "") << empty;
    EXPECT_NE(m.at("epoch J"), "");

    const ToolRun json = run(base({"--stop", "10", "--json"}));
    ASSERT_EQ(json.status, 3) << json.err;
    const JsonOutput j(json.out);
    EXPECT_EQ(j.shown("frames_measured"), "10");
    for (const char* key :
         {"sep_px", "screen_angle", "drift_angle", "position_angle", "pixel_scale", "separation"}) {
        EXPECT_EQ(j.shown(key), "null") << key;
        EXPECT_EQ(j.rawValue(key), "null") << key;
    }
    EXPECT_NE(j.shown("epoch_julian"), "null");
}

// The shown numbers are the texts of the text form; the raw ones round to them.
TEST_F(MeasureTool, JsonHoldsTheShownTextsAndTheUnroundedValues) {
    const ToolRun text = run(base());
    const ToolRun json = run(base({"--json"}));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto m = textMap(text.out);
    const JsonOutput j(json.out);
    const std::vector<std::tuple<const char*, const char*, int>> keys = {
        {"frames_measured", "frames measured", 0},
        {"valid_frames", "valid frames", 0},
        {"sep_px", "sep px", 2},
        {"screen_angle", "screen angle", 2},
        {"drift_angle", "drift angle", 2},
        {"position_angle", "position angle", 2},
        {"pixel_scale", "pixel scale", 4},
        {"separation", "separation", 2},
        {"frames_accepted", "frames accepted", 0},
        {"separation_stderr", "separation stderr", 2},
        {"position_angle_stderr", "position angle stderr", 2},
        {"pixel_scale_stderr", "pixel scale stderr", 4},
        {"drift_angle_stderr", "drift angle stderr", 2},
        {"sep_px_sd", "sep px sd", 2},
        {"screen_angle_sd", "screen angle sd", 2},
        {"epoch_julian", "epoch J", 3},
        {"epoch_besselian", "epoch B", 3}};
    for (const auto& [key, name, decimals] : keys) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(j.shown(key));
        EXPECT_EQ(*j.shown(key), m.at(name));
        ASSERT_TRUE(j.rawValue(key));
        const double raw = number(*j.rawValue(key));
        EXPECT_NEAR(raw, number(m.at(name)), 0.5 * std::pow(10.0, -decimals) + 1e-9);
    }
    EXPECT_FALSE(j.shown("decode_fps")) << "bench keys only with --bench";
    EXPECT_NE(json.out.find("\"warnings\": [], "), std::string::npos) << "a sound result";
    EXPECT_NE(json.out.find("\"saturated\": 0, \"refused\": 0, \"repeat\": 1, "),
              std::string::npos);
    EXPECT_NE(json.out.find("\"not_converged\": 0, \"off_track\": 0}"), std::string::npos);
}

TEST_F(MeasureTool, FramesCsvHasOneRowPerFrameOfTheTable) {
    const std::string csv = dir_->file("frames.csv");
    const ToolRun r = run(base({"--frames", csv}));
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(readFile(csv));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "frame,time_ms,primary_x,primary_y,secondary_x,secondary_y,sep_px,"
                    "screen_angle,system_x,system_y,valid,primary_status,secondary_status,"
                    "offset_x_stderr,offset_y_stderr,flux_ratio,flux_ratio_stderr,rejection");
    int rows = 0;
    int valid = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream s(line);
        for (std::string field; std::getline(s, field, ',');)
            f.push_back(field);
        ASSERT_EQ(f.size(), 18u) << line;
        EXPECT_EQ(f[0], std::to_string(rows));
        if (rows > 0) {
            // Every frame after the start frame is measured, at 15 frames a second.
            EXPECT_EQ(number(f[1]), std::lround(rows * 1000.0 / 15.0)) << line;
        }
        if (f[10] == "1") {
            // The columns in their order: each star within a pixel of where it was.
            const sim::FrameTruth& t = truth_->frames[static_cast<std::size_t>(rows)];
            EXPECT_NEAR(number(f[2]), t.primary.x, 1.0) << line;
            EXPECT_NEAR(number(f[3]), t.primary.y, 1.0) << line;
            EXPECT_NEAR(number(f[4]), t.secondary.x, 1.0) << line;
            EXPECT_NEAR(number(f[5]), t.secondary.y, 1.0) << line;
            EXPECT_NEAR(number(f[6]), truth_->separationPx, 1.0) << line;
            ++valid;
        }
        ++rows;
    }
    EXPECT_EQ(rows, cleanPair().frames + 1) << "rows 0 .. length";
    EXPECT_EQ(std::to_string(valid), textMap(r.out).at("valid frames"));
}

TEST_F(MeasureTool, StartAndStopLimitTheMeasuredFrames) {
    const std::string csv = dir_->file("range.csv");
    std::vector<std::string> args{video_};
    for (const std::string& a : clicksAt(30))
        args.push_back(a);
    for (const char* a : {"--dec", "+00", "--start", "30", "--stop", "90", "--frames"})
        args.push_back(a);
    args.push_back(csv);
    const ToolRun r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(textMap(r.out).at("frames measured"), "60");
    std::istringstream in(readFile(csv));
    std::string line;
    std::getline(in, line);
    for (int n = 0; std::getline(in, line); ++n) {
        const bool measured = n > 30 && n <= 90;
        const std::string unmeasured =
            std::to_string(n) + ",0,0,0,0,0,0,0,0,0,0,not_measured,not_measured,,,,,none";
        EXPECT_EQ(line == unmeasured, !measured) << line;
    }
    EXPECT_NEAR(number(textMap(r.out).at("separation")), truth_->separationArcsec,
                0.005 * truth_->separationArcsec);
}

TEST_F(MeasureTool, EpochFromTheDateOption) {
    const auto m = textMap(run(base({"--date", "2000-01-01 12:00"})).out);
    EXPECT_EQ(m.at("epoch J"), "2000");
    EXPECT_EQ(m.at("epoch B"), "2000.001");
}

// Without --date the window takes the file's modification time in UT, to the
// 2 seconds of a file date: 00:00:01 counts as 00:00:00.
TEST_F(MeasureTool, EpochFromTheFilesModificationTimeInUt) {
    const std::string copy = dir_->file("dated.avi");
    std::filesystem::copy_file(video_, copy, std::filesystem::copy_options::overwrite_existing);
    std::tm t{};
    t.tm_year = 2018 - 1900;
    t.tm_mon = 6;
    t.tm_mday = 11;
    t.tm_sec = 1;
    const std::time_t secs = ::timegm(&t);
    const timeval times[2] = {{secs, 0}, {secs, 0}};
    ASSERT_EQ(::utimes(copy.c_str(), times), 0);

    std::vector<std::string> args{copy};
    for (const std::string& a : clicksAt(0))
        args.push_back(a);
    args.insert(args.end(), {"--dec", "+00", "--json"});
    const ToolRun r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const JsonOutput j(r.out);
    // JD 2458310.5: Julian epoch 2018.522930, Besselian 2018.524603.
    EXPECT_EQ(j.shown("epoch_julian"), "2018.523");
    EXPECT_EQ(j.shown("epoch_besselian"), "2018.525");
    const EpochResult e = epoch(CivilDateTime{2018, 7, 11, 0, 0, 0});
    EXPECT_DOUBLE_EQ(number(*j.rawValue("epoch_julian")), e.julianEpoch);
    EXPECT_DOUBLE_EQ(number(*j.rawValue("epoch_besselian")), e.besselianEpoch);
}

std::string todayShortDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return formatShortDateFallback(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

TEST_F(MeasureTool, SaveAppendsTheResultsLineAsTheWindowWrites) {
    const std::string results = dir_->file("results.txt");
    const std::string date = todayShortDate();
    const ToolRun first =
        run(base({"--save", "--results", results, "--designation", "STF 1234", "--ra", "12 34 56.7",
                  "--dec", "+00 00 00", "--notes", "seeing 3/5\tnight 2"}));
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "Warning: Tabs and line breaks in the notes become spaces in "
                         "results.txt.\nResults saved to " +
                             results + " and " + dir_->file("results.csv") + "\n");
    const auto m = textMap(first.out);
    const std::string line = date + "\tSTF 1234\t12 34 56.7\t+00 00 00\t" + m.at("epoch J") + "\t" +
                             m.at("epoch B") + "\t" + m.at("separation") + "\t" +
                             m.at("position angle") + "\t" + m.at("valid frames") +
                             "\tseeing 3/5 night 2";
    const std::string header = "RecordDate\tdesignation\tRA\tDEC\tEpoch(J)\tEpoch(B)\tSep(rho)\t"
                               "PA(theta)\t#frames\tNotes";
    EXPECT_EQ(readFile(results), "Corvane Ouput File\r\n" + header + "\r\n" + line + "\r\n");

    // A second save adds one line; the star data not given keep the window's
    // texts after opening a video.
    const ToolRun second = run(base({"--save", "--results", results}));
    ASSERT_EQ(second.status, 0) << second.err;
    const std::string secondLine = date + "\t(Star Designation)\tHH MM SS\t+00 00 00\t" +
                                   m.at("epoch J") + "\t" + m.at("epoch B") + "\t" +
                                   m.at("separation") + "\t" + m.at("position angle") + "\t" +
                                   m.at("valid frames") + "\t";
    EXPECT_EQ(readFile(results),
              "Corvane Ouput File\r\n" + header + "\r\n" + line + "\r\n" + secondLine + "\r\n");
    // results.csv beside it: the header and a row per save, with the counts,
    // the method, the video, where the scale came from, the observation's
    // Julian date, the orientation and the frames measured.
    std::istringstream csv(readFile(dir_->file("results.csv")));
    std::vector<std::string> rows;
    for (std::string row; std::getline(csv, row);)
        rows.push_back(row);
    ASSERT_EQ(rows.size(), 3u);
    const std::string counts = "120," + m.at("valid frames") + ",0,Peak Search,pair.avi,";
    EXPECT_NE(rows[1].find(counts), std::string::npos) << rows[1];
    // The orientation and frames measured, then the frames the errors count:
    // every accepted one on this clean drift; then the artificial-star test's.
    const std::string tail = ",correct,1,120," + m.at("valid frames") + ",";
    EXPECT_NE(rows[1].find(tail), std::string::npos) << rows[1];
    EXPECT_EQ(rows[1].substr(rows[1].size() - 4), ",no\r") << rows[1];
    EXPECT_NE(rows[1].find(",drift,,,,,24"), std::string::npos) << rows[1]; // and the Julian date
}

TEST_F(MeasureTool, SaveWithoutResultsWritesNothing) {
    const std::string results = dir_->file("none.txt");
    const ToolRun r = run(base({"--stop", "10", "--save", "--results", results}));
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(std::filesystem::exists(results));
}

TEST_F(MeasureTool, SaveIntoAFolderThatCannotBeWrittenFailsWithTheFileMessage) {
    const std::string results = dir_->file("no-such-folder/results.txt");
    const ToolRun r = run(base({"--save", "--results", results}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File not found: cannot open " + results + "\n");
}

TEST_F(MeasureTool, BenchReportsBothFrameRatesAndLeavesTheResultsAlone) {
    const ToolRun plain = run(base());
    const ToolRun bench = run(base({"--bench"}));
    ASSERT_EQ(bench.status, 0) << bench.err;
    // The decoding passes come before the clicks, so the results are the same.
    const std::string results = plain.out;
    EXPECT_EQ(bench.out.substr(0, results.size()), results);
    const auto m = textMap(bench.out);
    EXPECT_GT(number(m.at("decode fps")), 0);
    EXPECT_GT(number(m.at("run fps")), 0);

    const ToolRun json = run(base({"--bench", "--json"}));
    ASSERT_EQ(json.status, 0) << json.err;
    const JsonOutput j(json.out);
    const double decode = number(*j.rawValue("decode_fps"));
    const double runFps = number(*j.rawValue("run_fps"));
    EXPECT_GT(decode, 0);
    EXPECT_NEAR(number(*j.rawValue("ratio")), runFps / decode, 1e-9);
    EXPECT_TRUE(j.shown("ratio"));
}

// On a terminal the run draws a bar on stderr and clears it at the end.
TEST_F(MeasureTool, ProgressBarOnlyOnATerminal) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slaveName = ::ptsname(master);
    const std::string outPath = dir_->file("bar-stdout");
    std::vector<std::string> all{CORVANE_MEASURE_TOOL};
    for (const std::string& a : base())
        all.push_back(a);
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int slave = ::open(slaveName.c_str(), O_RDWR);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (slave < 0 || out < 0)
            ::_exit(126);
        ::dup2(out, 1);
        ::dup2(slave, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string err;
    char buf[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0)
            break;
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break; // the child has closed the terminal
        err.append(buf, static_cast<std::size_t>(n));
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    ::close(master);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    EXPECT_NE(err.find("100%"), std::string::npos) << err;
    EXPECT_NE(err.find("[#"), std::string::npos) << err;
    EXPECT_EQ(err.substr(err.size() - 4), "\r\033[K") << "the bar is cleared at the end";
    EXPECT_EQ(textMap(readFile(outPath)).at("frames measured"), "120");
}

struct TimingRow {
    const char* name;
    const char* file;
    bool timeStamps;
    std::vector<std::string> extra;
    int status;
    const char* stderrHolds; // the error, when the status says one
    const char* source;
    double medianMs;
};

void PrintTo(const TimingRow& row, std::ostream* os) {
    *os << row.name;
}

// What the reader worked around in the file reaches the user with the result:
// a DATE-OBS that is no date leaves the start time to the file's date.
TEST_F(MeasureTool, AReaderWarningReachesStderrAndTheJson) {
    const std::string file = dir_->file("bad-date.fits");
    sim::RecordingOptions o;
    o.container = sim::Container::FitsCube;
    sim::writeRecording(file, cleanPair(), o);
    std::string bytes = readFile(file);
    const std::size_t card = bytes.find("DATE-OBS=");
    ASSERT_NE(card, std::string::npos);
    std::string replaced = "DATE-OBS= '2026-99-99T99:99:99'";
    replaced.resize(80, ' ');
    bytes.replace(card, 80, replaced);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    std::vector<std::string> args{file, "--json", "--dec", "+00", "--fps", "15"};
    for (const std::string& a : clicksAt(0))
        args.push_back(a);
    const ToolRun r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string warning = "DATE-OBS is not a date and time Corvane can read; the "
                                "observation time is the file's modification time";
    EXPECT_NE(r.err.find("Warning: " + warning), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(warning), std::string::npos) << r.out;
}

class MeasureToolTiming : public MeasureTool, public ::testing::WithParamInterface<TimingRow> {};

// A recording with dropped frames and wandering frame times: the JSON says
// where the times came from and how many frames were lost; a recording
// without frame times needs --fps, and one that has them refuses it.
TEST_P(MeasureToolTiming, JsonReportsTheTimingOfTheRecording) {
    const TimingRow& row = GetParam();
    sim::DriftParams p = cleanPair();
    sim::RecordingOptions o;
    o.container = sim::containerOf(row.file);
    if (o.container == sim::Container::Ser) { // a cube has no time per frame to wander
        p.timeJitterMs = 2;
        p.dropFraction = 0.1;
    }
    o.timeStamps = row.timeStamps;
    const std::string file = dir_->file(row.file);
    const sim::Truth truth = sim::writeRecording(file, p, o);
    std::vector<std::string> args{file, "--json", "--dec", "+00"};
    for (const std::string& a : clicksAt(0))
        args.push_back(a);
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    const ToolRun r = run(args);
    ASSERT_EQ(r.status, row.status) << r.err;
    if (row.status != 0) {
        EXPECT_NE(r.err.find(row.stderrHolds), std::string::npos) << r.err;
        return;
    }
    const JsonOutput j(r.out);
    EXPECT_EQ(j.shown("source"), "\"" + std::string(row.source) + "\"");
    EXPECT_NEAR(number(*j.shown("median_interval_ms")), row.medianMs, 0.5);
    const bool stamped = std::string(row.source) == "file time stamps";
    // The frames lost show as gaps only in the time stamps.
    EXPECT_EQ(number(*j.shown("dropped_frames")), stamped ? truth.droppedFrames : 0);
    EXPECT_EQ(number(*j.shown("jitter_ms")) > 0.5, stamped);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, MeasureToolTiming,
    ::testing::Values(
        TimingRow{"SerWithTimeStamps", "pair.ser", true, {}, 0, "", "file time stamps", 66.7},
        TimingRow{"SerWithoutTimeStampsAtAGivenRate",
                  "bare.ser",
                  false,
                  {"--fps", "20"},
                  0,
                  "",
                  "frame rate",
                  50},
        TimingRow{
            "FitsCubeAtAGivenRate", "pair.fits", true, {"--fps", "15"}, 0, "", "frame rate", 66.7},
        TimingRow{"FitsCubeWithoutARate",
                  "pair.fits",
                  true,
                  {},
                  2,
                  "--fps N is needed: The frames of this FITS cube have no times",
                  "",
                  0},
        TimingRow{"SerWithTimeStampsAndARate",
                  "pair.ser",
                  true,
                  {"--fps", "15"},
                  1,
                  "a frame rate is not needed",
                  "",
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane::test
