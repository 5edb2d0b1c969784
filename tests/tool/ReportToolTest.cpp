// Two pairs measured by corvane-measure on three nights, one measurement
// saved with a mistyped declination, then corvane-report: the pairs told
// apart, the nights counted, the mistyped one flagged, the WDS identifiers,
// and the means within their standard errors of the simulated pairs.
#include "support/ToolSupport.h"

#include "sim/AviWriter.h"
#include "sim/DriftSim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#ifndef CORVANE_REPORT_TOOL
#error "CORVANE_REPORT_TOOL must name corvane-report"
#endif

namespace corvane::test {
namespace {

struct SimPair {
    const char* designation;
    const char* ra;
    const char* dec;
    double decDeg, sep, pa;
};

// 19h05m33s +33 52 40 and 06h45m09.4s -05 30 12, as typed.
const SimPair kPairs[] = {{"STF 2486", "19 05 33", "+33 52 40", 33.877778, 12.0, 60.0},
                          {"BU 1 AB", "06 45 09.4", "-05 30 12", -5.503333, 8.0, 300.0}};
const char* const kNights[] = {"2025-03-07 21:00", "2025-03-07 23:40", "2025-03-08 22:10",
                               "2025-03-08 22:50", "2025-03-10 01:00", "2025-03-10 02:00"};

// A row of the report's CSV by column name (no field of these rows is quoted).
std::map<std::string, std::string> csvRow(const std::string& header, const std::string& line) {
    std::map<std::string, std::string> row;
    std::istringstream h(header.substr(0, header.find('\r'))), l(line.substr(0, line.find('\r')));
    for (std::string name, value; std::getline(h, name, ',') && std::getline(l, value, ',');)
        row[name] = value;
    return row;
}

TEST(ReportTool, ThreeNightsOfTwoPairsCombinedAndTheMistypedOneFlagged) {
    TempDir dir;
    const std::string results = dir.file("results.txt");
    int runs = 0;
    for (const SimPair& pair : kPairs)
        for (const char* night : kNights) {
            sim::DriftParams p;
            p.width = 320;
            p.height = 240;
            p.frames = 120;
            p.fps = 15;
            p.separationArcsec = pair.sep;
            p.positionAngleDeg = pair.pa;
            p.declinationDeg = pair.decDeg;
            p.scalePxPerArcsec = 1.5;
            p.sky = 0;
            p.seed = static_cast<uint64_t>(++runs);
            const std::string video = dir.file("v" + std::to_string(runs) + ".avi");
            const sim::Truth truth = sim::writeDriftVideo(video, p);
            const auto at = [](const sim::Point& q) {
                return std::to_string(std::lround(q.x)) + "," + std::to_string(std::lround(q.y));
            };
            // The last video of the first pair saved with 53 typed for 33 degrees.
            const bool mistyped = runs == 6;
            const ToolRun r =
                runTool({video, "--primary", at(truth.frames[0].primary), "--secondary",
                         at(truth.frames[0].secondary), "--dec", mistyped ? "+53 52 40" : pair.dec,
                         "--date", night, "--designation", runs == 2 ? "stf2486" : pair.designation,
                         "--ra", pair.ra, "--save", "--results", results},
                        dir);
            ASSERT_EQ(r.status, 0) << r.err;
        }

    const std::string table = dir.file("report.csv"), wds = dir.file("report.txt");
    const ToolRun r = runProgram(CORVANE_REPORT_TOOL,
                                 {dir.file("results.csv"), "--csv", table, "--html",
                                  dir.file("report.html"), "--wds", wds, "--method-code", "Ca"},
                                 dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Flagged: STF 2486: " + dir.file("results.csv") + " line 7 (v6.avi), sep"),
              std::string::npos)
        << r.err;

    std::ifstream in(table);
    std::string header, line;
    std::getline(in, header);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line))
        rows.push_back(csvRow(header, line));
    ASSERT_EQ(rows.size(), 8u); // three nights and all, for each pair
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& all = rows[4 * k + 3];
        EXPECT_EQ(all.at("wds_id"), k == 0 ? "19055+3352" : "06451-0530");
        EXPECT_EQ(all.at("night"), "all");
        EXPECT_EQ(all.at("n"), "6");
        EXPECT_EQ(all.at("nights"), "3");
        EXPECT_EQ(rows[4 * k].at("n"), "2");
        EXPECT_EQ(all.at("flagged"), k == 0 ? "1" : "0");
    }
    // The second pair has no stray measurement: its means lie within four
    // of their standard errors of the simulated pair.
    const auto& b = rows[7];
    EXPECT_NEAR(std::stod(b.at("sep")), 8.0, 4 * std::stod(b.at("sep_se")));
    EXPECT_NEAR(std::stod(b.at("pa")), 300.0, 4 * std::stod(b.at("pa_se")));
    // The flagged one is kept: the first pair's separation lies between
    // the mistyped value (12 x cos 53.88 / cos 33.88 = 8.5) and the truth.
    EXPECT_LT(std::stod(rows[3].at("sep")), 11.8);

    std::ifstream listing(wds);
    std::string wdsText((std::istreambuf_iterator<char>(listing)),
                        std::istreambuf_iterator<char>());
    EXPECT_NE(wdsText.find("\n19055+3352     STF 2486       2025.1"), std::string::npos) << wdsText;
    EXPECT_NE(wdsText.find("  3  Ca\n"), std::string::npos) << wdsText;
}

} // namespace
} // namespace corvane::test
