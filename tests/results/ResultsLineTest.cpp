#include "results/ResultsLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace corvane;

namespace {

// The boxes as the window shows them right after start-up, no video opened.
ResultsFields startUpFields() {
    ResultsFields f;
    f.recordDate = "3/7/25";
    f.designation = "(Star Designation)";
    f.raHours = "HH";
    f.raMinutes = "MM";
    f.raSeconds = "SS";
    f.decDegrees = "+00";
    f.decMinutes = "00";
    f.decSeconds = "00";
    f.epochJ = "2006.001";
    f.epochB = "2006.003";
    f.validFrames = 0;
    return f;
}

std::vector<std::string> splitTabs(const std::string& s) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == '\t')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

} // namespace

TEST(ResultsLine, StartUpLineHasTheDesignTimeTextsAndNineTabs) {
    const std::string line = buildResultsLine(startUpFields());
    EXPECT_EQ(line, "3/7/25\t(Star Designation)\tHH MM SS\t+00 00 00\t2006.001\t2006.003\t\t\t0\t");
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 9);
}

TEST(ResultsLine, FieldsFollowTheHeaderOrder) {
    ResultsFields f = startUpFields();
    f.designation = "STF 1234AB";
    f.raHours = "12";
    f.raMinutes = "34";
    f.raSeconds = "56.7";
    f.decDegrees = "-05";
    f.decMinutes = "30";
    f.decSeconds = "";
    f.separation = "30.08";
    f.positionAngle = "240";
    f.validFrames = 187;
    f.notes = "seeing 3/5";
    EXPECT_EQ(splitTabs(buildResultsLine(f)),
              (std::vector<std::string>{"3/7/25", "STF 1234AB", "12 34 56.7", "-05 30 ", "2006.001",
                                        "2006.003", "30.08", "240", "187", "seeing 3/5"}));
}

TEST(ResultsLine, TabsAndLineEndsInTypedTextsBecomeSpacesSoTheColumnsHold) {
    ResultsFields f = startUpFields();
    f.designation = "  A\tB ";
    f.raSeconds = "5\r\n6";
    f.notes = "a\tb  c\n";
    EXPECT_EQ(splitTabs(buildResultsLine(f)),
              (std::vector<std::string>{"3/7/25", "  A B ", "HH MM 5  6", "+00 00 00", "2006.001",
                                        "2006.003", "", "", "0", "a b  c "}));
    EXPECT_EQ(typedFieldsWithBreaks(f), (std::vector<std::string>{"designation", "RA", "notes"}));
}

TEST(ShortDateFallback, IsMonthDayTwoDigitYear) {
    EXPECT_EQ(formatShortDateFallback(2025, 3, 7), "3/7/25");
    EXPECT_EQ(formatShortDateFallback(2006, 12, 31), "12/31/06");
    EXPECT_EQ(formatShortDateFallback(2000, 1, 1), "1/1/00");
    EXPECT_EQ(formatShortDateFallback(1999, 10, 10), "10/10/99");
}
