// corvane-measure's calibration, pair finding and batches, run as a user
// runs them: a drift video calibrates the camera (from one star, or from a
// pair found without clicks), a tracked video of another pair is measured
// with one or two calibrations, and a list of videos is measured at once.
#include "support/ToolSupport.h"

#include "sim/DriftSim.h"
#include "support/CleanDrift.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::test {
namespace {

// The end-to-end accuracy asked of every measurement of a clean video.
constexpr double kSeparationTolerance = 0.005;  // relative
constexpr double kPositionAngleTolerance = 0.3; // degrees

// One camera: the clean drift's 1.5 px per arc-second, turned 25 degrees.
sim::DriftParams camera(uint64_t seed) {
    sim::DriftParams p = test::cleanDrift(seed);
    p.width = 320;
    p.height = 240;
    p.rotationDeg = 25;
    return p;
}

std::string xy(const sim::Point& p) {
    return std::to_string(std::lround(p.x)) + "," + std::to_string(std::lround(p.y));
}

double value(const JsonOutput& j, const char* key) {
    const std::optional<std::string> v = j.shown(key);
    EXPECT_TRUE(v) << key;
    return v ? std::stod(*v) : 0.0;
}

class CalibrationTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        drift_ = new sim::Truth(sim::writeDriftVideo(dir_->file("drift.avi"), camera(3)));
        sim::writeDriftVideo(dir_->file("drift2.avi"), camera(4));
        sim::DriftParams t = camera(5);
        t.tracking = true;
        t.separationArcsec = 9;
        t.positionAngleDeg = 130;
        tracked_ = new sim::Truth(sim::writeDriftVideo(dir_->file("tracked.avi"), t));
    }
    static void TearDownTestSuite() {
        delete tracked_;
        delete drift_;
        delete dir_;
    }
    ToolRun run(const std::vector<std::string>& args) { return runTool(args, *dir_); }

    // The tracked pair measured with the given calibrations; its JSON.
    JsonOutput measureTracked(const std::vector<std::string>& calibrations, ToolRun& r) {
        std::vector<std::string> args{
            dir_->file("tracked.avi"), "--primary", "auto", "--secondary", "auto", "--json"};
        for (const std::string& c : calibrations) {
            args.push_back("--calibration");
            args.push_back(c);
        }
        r = run(args);
        return JsonOutput(r.out);
    }
    void expectTrackedPair(const JsonOutput& j) {
        EXPECT_NEAR(value(j, "separation"), tracked_->separationArcsec,
                    kSeparationTolerance * tracked_->separationArcsec);
        EXPECT_NEAR(std::remainder(value(j, "position_angle") - tracked_->positionAngleDeg, 360), 0,
                    kPositionAngleTolerance);
    }

    static TempDir* dir_;
    static sim::Truth* drift_;
    static sim::Truth* tracked_;
};

TempDir* CalibrationTool::dir_ = nullptr;
sim::Truth* CalibrationTool::drift_ = nullptr;
sim::Truth* CalibrationTool::tracked_ = nullptr;

} // namespace

TEST_F(CalibrationTool, DriftCalibrationsMeasureATrackedPairAndDisagreementIsWarned) {
    // One drifting star calibrates; so does a pair found without clicks.
    const std::string one = dir_->file("one-star.json");
    ToolRun r = run({dir_->file("drift.avi"), "--primary", xy(drift_->frames[0].primary), "--dec",
                     "+30 00 00", "--save-calibration", one});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Calibration saved to " + one), std::string::npos) << r.err;
    const std::string pair = dir_->file("pair.json");
    r = run({dir_->file("drift2.avi"), "--primary", "auto", "--secondary", "auto", "--dec",
             "+30 00 00", "--save-calibration", pair});
    ASSERT_EQ(r.status, 0) << r.err;

    JsonOutput j = measureTracked({one}, r);
    ASSERT_EQ(r.status, 0) << r.err;
    expectTrackedPair(j);

    // The results line keeps its ten fields; results.csv names the calibration.
    const std::string results = dir_->file("saved/results.txt");
    std::filesystem::create_directories(dir_->file("saved"));
    r = run({dir_->file("tracked.avi"), "--primary", "auto", "--secondary", "auto", "--calibration",
             one, "--dec", "+55 00 00", "--save", "--results", results});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string line = readFile(results);
    line.erase(line.size() - 2);           // its CR LF
    line.erase(0, line.rfind("\r\n") + 2); // the line saved last
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9) << line;
    EXPECT_NE(readFile(dir_->file("saved/results.csv")).find(",\"calibration from drift.avi ("),
              std::string::npos)
        << readFile(dir_->file("saved/results.csv"));

    j = measureTracked({one, pair}, r);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "two honest calibrations of one camera agree";
    expectTrackedPair(j);
    EXPECT_LT(std::stod(*j.rawValue("calibration_pixel_scale_stderr")),
              std::stod(*measureTracked({one}, r).rawValue("calibration_pixel_scale_stderr")))
        << "two calibrations weigh more than one";

    // The same drift reduced at a wrong declination: 10 % off in scale.
    const std::string wrong = dir_->file("wrong-dec.json");
    r = run({dir_->file("drift2.avi"), "--primary", "auto", "--secondary", "auto", "--dec",
             "+40 00 00", "--save-calibration", wrong});
    ASSERT_EQ(r.status, 0) << r.err;
    measureTracked({one, wrong}, r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: The calibrations disagree by more than their errors allow"),
              std::string::npos)
        << r.err;
}

TEST_F(CalibrationTool, BatchMeasuresEveryVideoAndTellsTheOneThatFailed) {
    const std::string cal = dir_->file("batch.json");
    ASSERT_EQ(run({dir_->file("drift.avi"), "--primary", xy(drift_->frames[0].primary), "--dec",
                   "+30 00 00", "--save-calibration", cal})
                  .status,
              0);
    const std::string bad = dir_->file("not a video.avi");
    std::ofstream(bad) << "no frames here";
    const std::string list = dir_->file("night.txt");
    std::ofstream(list) << "# tonight's pairs\n"
                        << dir_->file("tracked.avi")
                        << " --primary auto --secondary auto --calibration " << cal
                        << "\n\n"
                        // Paths taken from the list's folder, not the current one.
                        << "'not a video.avi' --primary 10,10 --secondary 20,20 --dec '+30 00'\n"
                        << "  drift.avi --primary " << xy(drift_->frames[0].primary)
                        << " --secondary " << xy(drift_->frames[0].secondary)
                        << " --dec \"+30 00 00\" --method weighted\n"
                        << "drift.avi --primary 1,1 --secondary 2,2 --dec +30 --bench\n";
    const ToolRun r = run({"--batch", list, "--jobs", "2"});
    EXPECT_EQ(r.status, 1) << "one video gave no result";
    std::vector<std::string> lines;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0].rfind("{\"video\": \"" + dir_->file("tracked.avi") + "\"", 0), 0u);
    expectTrackedPair(JsonOutput(lines[0]));
    EXPECT_NE(lines[1].find("\"video\": \"not a video.avi\", \"error\": \"line 4: Not an AVI"),
              std::string::npos)
        << lines[1];
    EXPECT_NEAR(value(JsonOutput(lines[2]), "separation"), 12, kSeparationTolerance * 12);
    // The videos share the processor: a time of one of them would be no measure of it.
    EXPECT_NE(lines[3].find("\"error\": \"line 6: --bench times one video alone"),
              std::string::npos)
        << lines[3];
    EXPECT_NE(r.err.find("4 videos: 2 measured, 2 failed (line 4 not a video.avi, line 6 "
                         "drift.avi)"),
              std::string::npos)
        << r.err;
}

} // namespace corvane::test
