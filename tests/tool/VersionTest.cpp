// `--version` of every program: the project's version, on stdout, with
// no display at hand (the window program must answer before it opens one).
#include "support/ToolSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef CORVANE_EXPECTED_VERSION
#error "CORVANE_EXPECTED_VERSION must hold the project's version"
#endif

namespace {

using corvane::test::runProgram;
using corvane::test::TempDir;
using corvane::test::ToolRun;

struct Program {
    const char* name;
    const char* path; // empty when the program is not built
};

const Program kPrograms[] = {
    {"corvane_measure", CORVANE_MEASURE_TOOL},
    {"corvane_report", CORVANE_REPORT_TOOL},
    {"corvane_sim", CORVANE_SIM_TOOL},
    {"corvane", CORVANE_WINDOW_PROGRAM},
};

class ProgramVersion : public ::testing::TestWithParam<Program> {};

TEST_P(ProgramVersion, PrintsTheProjectVersionWithoutADisplay) {
    const Program& p = GetParam();
    if (std::string(p.path).empty())
        GTEST_SKIP() << "not built";
    TempDir dir;
    // A platform that cannot start: any attempt to open a window fails.
    const ToolRun r = runProgram(p.path, {"--version"}, dir,
                                 {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string program = std::string(p.path).substr(std::string(p.path).rfind('/') + 1);
    EXPECT_EQ(r.out, program + " " + CORVANE_EXPECTED_VERSION + "\n");
    EXPECT_EQ(r.err, "");
}

// A usage error is one line naming the option and a pointer to the help: the
// whole usage would push the message off the screen. Every program exits 2
// on it, so a script tells a mistyped option from a file that failed.
TEST_P(ProgramVersion, AnUnknownOptionIsOneLineAndAPointerToTheHelp) {
    const Program& p = GetParam();
    if (std::string(p.path).empty())
        GTEST_SKIP() << "not built";
    TempDir dir;
    const ToolRun r = runProgram(p.path, {"--bad"}, dir, {"QT_QPA_PLATFORM=offscreen"});
    const std::string program = std::string(p.path).substr(std::string(p.path).rfind('/') + 1);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    // The window's toolkit may say something about the desktop first.
    const std::string message = program + ": unknown option --bad\nTry '" + program + " --help'.\n";
    EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), message.size())), message);
    EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramVersion, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
