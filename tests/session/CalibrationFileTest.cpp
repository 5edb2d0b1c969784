#include "session/CalibrationFile.h"
#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace corvane;

namespace {

Calibration awkward() {
    Calibration c;
    c.pixelsPerArcsec = 0.1 + 0.2; // not exactly 0.3: every digit must survive
    c.pixelsPerArcsecStderr = 1.0 / 3.0 * 1e-3;
    c.driftAngle = 269.99;
    c.driftAngleStderr = 0.0123456789;
    c.dec = -12.5;
    c.observedUtc = "2026-12-08T21:14:05.250Z";
    c.source = "Stf 1234 \xC3\xA4 \"night 2\".avi";
    c.framesAccepted = 187;
    return c;
}

std::string messageOf(const std::string& content) {
    try {
        parseCalibration(content, "cal.json");
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

const char* const kGood = R"({"pixels_per_arcsec": 1.5, "pixels_per_arcsec_stderr": 0.002,
  "drift_angle": 20.5, "drift_angle_stderr": 0.05, "dec": 30, "observed_utc": "2026-12-08T21:00Z",
  "source": "drift.avi", "frames_accepted": 120})";

// kGood with one key's value replaced, or the key dropped when `value` is null.
std::string with(const char* key, const char* value) {
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(kGood);
    if (value)
        j[key] = nlohmann::ordered_json::parse(value);
    else
        j.erase(key);
    return j.dump();
}

// kGood with a piece of its text replaced, for what the JSON library itself
// will not write.
std::string replaced(const std::string& from, const std::string& to) {
    std::string s = kGood;
    return s.replace(s.find(from), from.size(), to);
}

struct RefusalCase {
    const char* name;
    std::string content;
    std::string message;
};

class CalibrationRefusal : public ::testing::TestWithParam<RefusalCase> {};

std::string refused(const std::string& what) {
    return "Cannot use the calibration file cal.json: " + what + ".";
}

} // namespace

TEST(CalibrationFile, RoundTripKeepsEveryValueAndWritesExactlyTheKeys) {
    const test::TempDir dir;
    const std::string path = dir.file("camera.json");
    saveCalibration(awkward(), path);
    const Calibration c = loadCalibration(path);
    const Calibration e = awkward();
    EXPECT_EQ(c.pixelsPerArcsec, e.pixelsPerArcsec);
    EXPECT_EQ(c.pixelsPerArcsecStderr, e.pixelsPerArcsecStderr);
    EXPECT_EQ(c.driftAngle, e.driftAngle);
    EXPECT_EQ(c.driftAngleStderr, e.driftAngleStderr);
    EXPECT_EQ(c.dec, e.dec);
    EXPECT_EQ(c.observedUtc, e.observedUtc);
    EXPECT_EQ(c.source, e.source);
    EXPECT_EQ(c.framesAccepted, e.framesAccepted);

    std::ifstream in(path);
    const nlohmann::ordered_json written = nlohmann::ordered_json::parse(in);
    std::vector<std::string> keys;
    for (const auto& item : written.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"pixels_per_arcsec", "pixels_per_arcsec_stderr",
                                              "drift_angle", "drift_angle_stderr", "dec",
                                              "observed_utc", "source", "frames_accepted"}));
}

TEST_P(CalibrationRefusal, NamesTheFileAndWhatIsWrong) {
    EXPECT_EQ(messageOf(GetParam().content), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, CalibrationRefusal,
    ::testing::Values(
        RefusalCase{"good_file_is_taken", kGood, ""},
        RefusalCase{"extra_keys_are_left_alone", with("comment", R"("from the 8th")"), ""},
        RefusalCase{"not_json", "pixels_per_arcsec = 1.5", refused("it is not JSON (at byte 1)")},
        RefusalCase{"cut_short", std::string(kGood).substr(0, 40),
                    refused("it is not JSON (at byte 41)")},
        RefusalCase{"not_an_object", "[1.5, 0.002]", refused("it is not a JSON object")},
        RefusalCase{"missing_key", with("drift_angle_stderr", nullptr),
                    refused("the key \"drift_angle_stderr\" is missing")},
        RefusalCase{"number_as_text", with("pixels_per_arcsec", R"("1.5")"),
                    refused("the key \"pixels_per_arcsec\" does not hold a number")},
        RefusalCase{"text_as_number", with("source", "7"),
                    refused("the key \"source\" does not hold a text")},
        RefusalCase{"null_number", with("dec", "null"),
                    refused("the key \"dec\" does not hold a number")},
        RefusalCase{"number_beyond_double", replaced("20.5", "1e400"),
                    refused("it holds a number too large to be finite")},
        RefusalCase{"negative_scale_error", with("pixels_per_arcsec_stderr", "-0.002"),
                    refused("the key \"pixels_per_arcsec_stderr\" holds a negative standard "
                            "error")},
        RefusalCase{"negative_drift_error", with("drift_angle_stderr", "-1"),
                    refused("the key \"drift_angle_stderr\" holds a negative standard error")},
        RefusalCase{"zero_scale", with("pixels_per_arcsec", "0"),
                    refused("the key \"pixels_per_arcsec\" holds a pixel scale outside 0.001 to "
                            "1000 pixels per arc-second")},
        RefusalCase{"scale_near_the_largest_double", with("pixels_per_arcsec", "1e308"),
                    refused("the key \"pixels_per_arcsec\" holds a pixel scale outside 0.001 to "
                            "1000 pixels per arc-second")},
        RefusalCase{"scale_near_the_smallest_double", with("pixels_per_arcsec", "1e-308"),
                    refused("the key \"pixels_per_arcsec\" holds a pixel scale outside 0.001 to "
                            "1000 pixels per arc-second")},
        RefusalCase{"drift_angle_of_1e300", with("drift_angle", "1e300"),
                    refused("the key \"drift_angle\" holds an angle beyond -720 to 720 degrees")},
        RefusalCase{"declination_past_the_pole", with("dec", "90.5"),
                    refused("the key \"dec\" holds a declination beyond -90 to +90 degrees")},
        RefusalCase{"fractional_frame_count", with("frames_accepted", "12.5"),
                    refused("the key \"frames_accepted\" does not hold a whole number")},
        RefusalCase{"negative_frame_count", with("frames_accepted", "-3"),
                    refused("the key \"frames_accepted\" holds a count below 0 or too large")},
        RefusalCase{"frame_count_past_32_bits", with("frames_accepted", "4294967296"),
                    refused("the key \"frames_accepted\" holds a count below 0 or too large")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CalibrationFile, SavingRefusesAValueThatIsNotFiniteAndWritesNothing) {
    const test::TempDir dir;
    const std::string path = dir.file("camera.json");
    Calibration c = awkward();
    c.driftAngleStderr = std::numeric_limits<double>::quiet_NaN();
    try {
        saveCalibration(c, path);
        ADD_FAILURE() << "saved";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot use the calibration file " + path +
                                             ": the key \"drift_angle_stderr\" holds a number "
                                             "that is not finite.");
    }
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST(CalibrationFile, LoadingRefusesAMissingOrOversizedFileAFolderOrAPipe) {
    const test::TempDir dir;
    const std::string missing = dir.file("none.json");
    const std::string big = dir.file("big.json");
    const std::string folder = dir.file("");
    const std::string pipe = dir.file("pipe.json");
    std::ofstream(big) << std::string(kMaxCalibrationFileBytes + 1, ' ');
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0); // no writer: reading it would wait for ever
    for (const auto& [path, what] :
         {std::pair{missing, std::string("No such file or directory")},
          std::pair{pipe, std::string("not a regular file")},
          std::pair{folder, std::string("it is a folder, not a file")},
          std::pair{big, std::string("it is larger than 64 KiB, far more than a calibration "
                                     "holds")}}) {
        try {
            loadCalibration(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot use the calibration file " + path + ": " + what + ".");
        }
    }
}
