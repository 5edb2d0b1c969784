// Where the results file goes: beside a program that runs from a folder the
// user may write to, otherwise in the user's data folder, which is made when
// it is missing.
#include "results/FileLocation.h"

#include "common/Error.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

enum class ProgramFolder {
    Build,     // a build folder the user may write to
    Installed, // <prefix>/bin beside <prefix>/share/applications/corvane.desktop
    ReadOnly   // a folder the user may not write to
};
enum class DataHome { Set, Unset, Relative };
enum class Lands { BesideProgram, InDataHome, InHomeShare };

struct LocationCase {
    const char* name;
    ProgramFolder folder;
    DataHome dataHome;
    Lands expected;
};

const LocationCase kCases[] = {
    {"build_folder_keeps_it_beside", ProgramFolder::Build, DataHome::Set, Lands::BesideProgram},
    {"installed_copy_uses_XDG_DATA_HOME", ProgramFolder::Installed, DataHome::Set,
     Lands::InDataHome},
    {"installed_copy_without_XDG_DATA_HOME_uses_home", ProgramFolder::Installed, DataHome::Unset,
     Lands::InHomeShare},
    {"relative_XDG_DATA_HOME_is_ignored", ProgramFolder::Installed, DataHome::Relative,
     Lands::InHomeShare},
    {"read_only_folder_uses_XDG_DATA_HOME", ProgramFolder::ReadOnly, DataHome::Set,
     Lands::InDataHome},
    {"read_only_folder_without_XDG_DATA_HOME_uses_home", ProgramFolder::ReadOnly, DataHome::Unset,
     Lands::InHomeShare},
};

class ResultsLocation : public ::testing::TestWithParam<LocationCase> {
protected:
    void SetUp() override {
        // A child that has given up root must reach every folder below.
        ::chmod(root_.file("").c_str(), 0777);
    }
    std::string folder(const std::string& relative) const {
        const std::string dir = root_.file(relative);
        fs::create_directories(dir);
        fs::permissions(dir, fs::perms::all);
        return dir;
    }

    test::TempDir root_{"corvane-location"};
};

TEST_P(ResultsLocation, LandsWhereTheUserFindsIt) {
    const LocationCase& c = GetParam();
    const std::string home = folder("home"); // holds no .local yet
    const std::string dataHome = root_.file("data");
    std::string programDir = folder("build/src/app");
    if (c.folder == ProgramFolder::Installed) {
        programDir = folder("usr/bin");
        std::ofstream(folder("usr/share/applications") + "/corvane.desktop") << "[Desktop Entry]\n";
    } else if (c.folder == ProgramFolder::ReadOnly) {
        programDir = folder("opt/corvane");
        fs::permissions(programDir, fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    }
    const char* xdg = c.dataHome == DataHome::Set        ? dataHome.c_str()
                      : c.dataHome == DataHome::Relative ? "data"
                                                         : nullptr;

    // Permission bits do not stop root: the read-only case runs as nobody.
    const test::ChildRun run = test::runInChild([&] {
        if (c.folder == ProgramFolder::ReadOnly && ::geteuid() == 0 &&
            (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return std::string("SKIP");
        try {
            return "PATH:" + userFilePath("results.txt", programDir, xdg, home.c_str());
        } catch (const Error& e) {
            return std::string("ERROR:") + e.what();
        }
    });
    ASSERT_TRUE(run.started);
    if (run.text == "SKIP")
        GTEST_SKIP() << "cannot give up root";

    const std::string expectedDir = c.expected == Lands::BesideProgram ? programDir
                                    : c.expected == Lands::InDataHome
                                        ? dataHome + "/corvane"
                                        : home + "/.local/share/corvane";
    EXPECT_EQ(run.text, "PATH:" + expectedDir + "/results.txt");
    EXPECT_TRUE(fs::is_directory(expectedDir));
    if (c.expected != Lands::BesideProgram) {
        // Made private to the user, as data folders are.
        EXPECT_EQ(fs::status(expectedDir).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_FALSE(fs::exists(programDir + "/results.txt"));
    } else {
        EXPECT_FALSE(fs::exists(dataHome)) << "nothing is made for a build folder";
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, ResultsLocation, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ResultsLocationFailure, DataFolderThatCannotBeMadeIsNamed) {
    test::TempDir root("corvane-location");
    const std::string blocker = root.file("not-a-folder");
    std::ofstream(blocker) << "x";
    try {
        userFilePath("results.txt", "", blocker.c_str(), "/nonexistent");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The folder " + blocker + " cannot be made: a file of that name is in the way");
    }
}

} // namespace
