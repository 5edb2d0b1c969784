// Saved measurements combined per pair and night: weighted or plain means by
// whether the spread agrees with the errors, the circular mean of the angle,
// the grouping, the flags, the WDS identifier and listing, and results.csv
// read back whatever its age or guards.
#include "report/MeasureList.h"
#include "report/PairSummary.h"
#include "report/ReportFiles.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace corvane;

namespace {

const std::string kHeader = "designation,RA,DEC,Epoch(B),Sep(rho),PA(theta),separation_stderr,"
                            "position_angle_stderr,julian_date\r\n";

std::string row(const std::string& name, double jd, const std::string& sep, const std::string& pa,
                const std::string& sepErr = "", const std::string& paErr = "",
                const std::string& ra = "19 05 33", const std::string& dec = "+33 52 40") {
    return name + ',' + ra + ',' + dec + ",2023.000," + sep + ',' + pa + ',' + sepErr + ',' +
           paErr + ',' + std::to_string(jd) + "\r\n";
}

std::vector<PairReport> report(const std::string& csv, MeasureList* listOut = nullptr) {
    test::TempDir dir;
    const std::string path = dir.file("results.csv");
    std::ofstream(path, std::ios::binary) << csv;
    MeasureList list;
    readResultsCsv(path, list);
    if (listOut)
        *listOut = list;
    return summarisePairs(list.measures);
}

struct MeanCase {
    const char* name;
    std::string rows;
    double sep, sepSe;
    Weighting sepWeighting;
    double pa, paSe;
    Weighting paWeighting;
};

class PairMeans : public ::testing::TestWithParam<MeanCase> {};

TEST_P(PairMeans, WeightedOnlyWhereTheSpreadAgreesWithTheErrors) {
    const MeanCase& c = GetParam();
    const std::vector<PairReport> pairs = report(c.rows);
    ASSERT_EQ(pairs.size(), 1u);
    const MeasureSummary& s = pairs[0].overall;
    EXPECT_NEAR(s.separation.mean, c.sep, 1e-4);
    EXPECT_NEAR(*s.separation.standardError, c.sepSe, 1e-4);
    EXPECT_EQ(s.separation.weighting, c.sepWeighting);
    EXPECT_NEAR(s.positionAngle.mean, c.pa, 1e-4);
    EXPECT_NEAR(*s.positionAngle.standardError, c.paSe, 1e-4);
    EXPECT_EQ(s.positionAngle.weighting, c.paWeighting);
}

const double kJd = 2460000.6;

INSTANTIATE_TEST_SUITE_P(
    Cases, PairMeans,
    ::testing::Values(
        // Weights 100, 100, 25: (1000 + 1010 + 255) / 225; chi-square 1.0; SE 1/15.
        // Angles 100, 100.5, 99.5 +- 0.5: chi-square 2.0; SE 1/sqrt(12).
        MeanCase{"errors_agree",
                 kHeader + row("A", kJd, "10.00", "100.0", "0.10", "0.5") +
                     row("A", kJd, "10.10", "100.5", "0.10", "0.5") +
                     row("A", kJd, "10.20", "99.5", "0.20", "0.5"),
                 10.066667, 0.066667, Weighting::Errors, 100.0, 0.288675, Weighting::Errors},
        // Spread 0.5 against errors of 0.01: plain mean, SE 0.5 / sqrt(3).
        MeanCase{"errors_too_small",
                 kHeader + row("A", kJd, "10.0", "45", "0.01", "0.01") +
                     row("A", kJd, "10.5", "45", "0.01", "0.01") +
                     row("A", kJd, "11.0", "45", "0.01", "0.01"),
                 10.5, 0.288675, Weighting::Scatter, 45.0, 0.005774, Weighting::Errors},
        // 359 and 1 average to north, not to south.
        MeanCase{"angle_across_north",
                 kHeader + row("A", kJd, "5", "359.0", "0.1", "1") +
                     row("A", kJd, "5", "1.0", "0.1", "1"),
                 5.0, 0.070711, Weighting::Errors, 0.0, 0.707107, Weighting::Errors},
        // A file from before the standard errors: the spread alone.
        MeanCase{
            "older_file_without_errors",
            "designation,Epoch(B),Sep(rho),PA(theta)\r\nA,2023.5,8.0,10\r\nA,2023.5,8.2,12\r\n",
            8.1, 0.1, Weighting::Scatter, 11.0, 1.0, Weighting::Scatter}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PairGrouping, ByNameWithoutCaseOrBlanksOrByPositionThenByNight) {
    const std::vector<PairReport> pairs =
        report(kHeader + row("STF 2486", kJd, "10", "100") +
               row("stf2486", kJd + 0.2, "10", "100", "", "", "HH MM SS") +
               // 1 s of RA is 12.4" at this declination.
               row("Mystery", kJd + 1.1, "10", "100", "", "", "19 05 34") +
               row("Far", kJd, "10", "100", "", "", "19 07 33"));
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].designation, "STF 2486");
    EXPECT_EQ(pairs[0].wdsId, "19055+3352");
    ASSERT_EQ(pairs[0].nights.size(), 2u);
    EXPECT_EQ(pairs[0].nights[0].measures.size(), 2u);
    EXPECT_EQ(pairs[1].wdsId, "19075+3352");
}

TEST(PairFlags, OneMeasurementFarFromTheOthersIsFlaggedAndKept) {
    // The others of 12.0 have mean 10.0 and SD 0.0816: 24.5 SDs away. B's
    // 10.5 is 6.1 of them away, which four values give by chance more often
    // than a normal value lies beyond 3: Student's t for 3 degrees of
    // freedom at that rarity is 9.2, widened by sqrt(1 + 1/4).
    const std::string far = "23 00 00";
    const std::vector<PairReport> pairs =
        report(kHeader + row("A", kJd, "10.0", "90") + row("A", kJd, "10.1", "91") +
               row("A", kJd, "9.9", "89") + row("A", kJd, "12.0", "90") +
               row("A", kJd, "10.0", "90") + row("B", kJd, "10.0", "90", "", "", far) +
               row("B", kJd, "10.1", "91", "", "", far) + row("B", kJd, "9.9", "89", "", "", far) +
               row("B", kJd, "10.5", "90", "", "", far) + row("B", kJd, "10.0", "90", "", "", far));
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_TRUE(pairs[1].flags.empty());
    ASSERT_EQ(pairs[0].flags.size(), 1u);
    EXPECT_EQ(pairs[0].flags[0].quantity, "sep");
    EXPECT_NEAR(pairs[0].flags[0].sigmas, 24.49, 0.01);
    EXPECT_NEAR(pairs[0].overall.separation.mean, 10.4, 1e-9);
}

struct IdCase {
    const char* name;
    const char* ra;
    const char* dec;
    const char* id;
};

class WdsIdentifier : public ::testing::TestWithParam<IdCase> {};

TEST_P(WdsIdentifier, EveryFieldTruncated) {
    EXPECT_EQ(wdsIdentifier(*parseSexagesimal(GetParam().ra), *parseSexagesimal(GetParam().dec)),
              GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, WdsIdentifier,
    ::testing::Values(IdCase{"published_example", "19 05 33", "+33 52 40", "19055+3352"},
                      IdCase{"just_below_the_next", "23 59 59.9", "-00 10 00", "23599-0010"},
                      IdCase{"whole_minutes_exactly", "00:00:06", "+33 52", "00001+3352"}),
    [](const auto& info) { return std::string(info.param.name); });

struct AngleTextCase {
    const char* name;
    double degrees;
    int decimals;
    const char* text;
};

class AngleText : public ::testing::TestWithParam<AngleTextCase> {};

TEST_P(AngleText, OneTurnAndNorthReadsZero) {
    EXPECT_EQ(fixedAngle(GetParam().degrees, GetParam().decimals), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Angles, AngleText,
    ::testing::Values(AngleTextCase{"inside_the_turn", 123.456, 2, "123.46"},
                      AngleTextCase{"rounds_up_to_north", 359.996, 2, "0.00"},
                      AngleTextCase{"rounds_up_to_north_at_one_decimal", 359.96, 1, "0.0"},
                      AngleTextCase{"negative_zero", -0.0, 1, "0.0"},
                      AngleTextCase{"a_hair_below_north", -0.001, 2, "0.00"},
                      AngleTextCase{"west_written_negative", -90.0, 1, "270.0"},
                      AngleTextCase{"two_turns_out", 725.26, 1, "5.3"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResultsCsvReading, QuotesGuardsDecimalCommasAndAddedColumns) {
    MeasureList list;
    const std::vector<PairReport> pairs =
        report("designation,effective_frames,DEC,Epoch(B),Sep(rho),PA(theta)\r\n"
               "\"STF 2, AB\",99,'+33 52 40,2023.500,\"10,5\",'-0\r\n"
               "STF 2,99,+33 52 40,2023.500,abc,10\r\n",
               &list);
    ASSERT_EQ(list.measures.size(), 1u);
    EXPECT_EQ(list.measures[0].designation, "STF 2, AB");
    EXPECT_NEAR(*list.measures[0].decDegrees, 33.877778, 1e-6);
    EXPECT_EQ(list.measures[0].separation, 10.5);
    ASSERT_EQ(list.skipped.size(), 1u);
    EXPECT_NE(list.skipped[0].find("line 3: 'abc' in Sep(rho)"), std::string::npos);
}

TEST(WdsListing, ColumnsUnderTheHeader) {
    const std::vector<PairReport> pairs =
        report(kHeader + row("STF 2486", kJd, "10.004", "359.96") +
               row("STF 2486", kJd + 2, "10.008", "359.96"));
    const std::string listing = wdsListing(pairs, {"8", "Ca", "Observer"});
    EXPECT_EQ(listing.substr(listing.rfind('-') + 2),
              "19055+3352     STF 2486       2023.155     0.0  10.01  2  8  Ca  Observer\n");
}

} // namespace
