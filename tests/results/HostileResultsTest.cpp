// Odd places for the results file that the other results tests leave out:
// a read-only folder that already holds a writable file, and a named pipe
// where the file should be. Each save either lands whole or gives a file
// message, quickly, and never changes bytes already in the file. And saves
// cut short by a kill: the two results files still hold the same records.
#include "results/ResultsFile.h"

#include "common/Error.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

const std::string kLine = "3/7/25\tSTF 2\t12 34 56\t+45 00 00\t2025.18\t2025.181\t3.21\t"
                          "123.45\t180\tnote";

// A folder an unprivileged child may enter.
class OpenDir : public test::TempDir {
public:
    OpenDir() : test::TempDir("corvane-hostile-results", true) {}
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A save in a child process that first drops root (permission bits do not
// stop root) and is killed after `seconds`. Returns "RESULT:<error text>",
// "SKIP:..." when the set-up cannot be made, or "HUNG"/"DIED".
std::string saveInChild(const std::string& path, bool unprivileged, unsigned seconds) {
    const test::ChildRun run = test::runInChild([&] {
        ::alarm(seconds);
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return std::string("SKIP: cannot drop root privileges");
        try {
            appendResultsLine(path, kLine);
            return std::string("RESULT:");
        } catch (const Error& e) {
            return std::string("RESULT:") + e.what();
        }
    });
    if (!run.started)
        return "SKIP: no pipe";
    if (WIFSIGNALED(run.status))
        return WTERMSIG(run.status) == SIGALRM ? "HUNG" : "DIED";
    return run.text;
}

TEST(HostileResultsPlace, AReadOnlyFolderWithAWritableFileStillTakesTheLine) {
    // Appending needs the file, not the folder: nothing is created beside it.
    OpenDir dir;
    const std::string sub = dir.file("archive");
    fs::create_directory(sub);
    const std::string path = sub + "/results.txt";
    appendResultsLine(path, "first");
    ::chmod(path.c_str(), 0666);
    ::chmod(sub.c_str(), 0555);
    const std::string before = readAll(path);
    const std::string outcome = saveInChild(path, true, 10);
    if (outcome.rfind("SKIP:", 0) == 0)
        GTEST_SKIP() << outcome;
    EXPECT_EQ(outcome, "RESULT:");
    EXPECT_EQ(readAll(path), before + kLine + "\r\n");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(sub))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(HostileResultsPlace, ANamedPipeInPlaceOfTheFileGivesAMessageWithoutHanging) {
    // Nobody reads the pipe: a save that waited for a reader would hang the
    // window for good.
    OpenDir dir;
    const std::string path = dir.file("results.txt");
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
    const std::string outcome = saveInChild(path, false, 5);
    ASSERT_NE(outcome, "HUNG");
    ASSERT_EQ(outcome.rfind("RESULT:", 0), 0u) << outcome;
    const std::string message = outcome.substr(7);
    EXPECT_FALSE(message.empty()) << "a pipe is not a results file";
    EXPECT_EQ(message.find("Disk full"), std::string::npos) << message;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe is left as it was";
}

// The data lines of results.txt (after its two head lines) and the rows of
// results.csv (after its header), as the record names they carry.
std::vector<std::string> records(const std::string& path, std::size_t headLines) {
    std::istringstream in(readAll(path));
    std::vector<std::string> names;
    std::string line;
    for (std::size_t n = 0; std::getline(in, line); ++n)
        if (n >= headLines)
            names.push_back(line.substr(line.find("rec")));
    return names;
}

std::string txtLine(int n) {
    return "3/7/25\tSTF 2\t\t\t\t\t\t\t180\trec" + std::to_string(n) + "\r";
}

std::string csvRow(int n) {
    return "3/7/25,STF 2,,,,,,,180,rec" + std::to_string(n) + "\r";
}

void save(const std::string& path, int n) {
    saveResultsRecord(path, txtLine(n).substr(0, txtLine(n).size() - 1),
                      csvRow(n).substr(0, csvRow(n).size() - 1));
}

struct StopCase {
    const char* name;
    SaveStep step;
};

class SaveKilledAt : public ::testing::TestWithParam<StopCase> {};

SaveStep stopAt;

TEST_P(SaveKilledAt, TheNextSaveCompletesTheRecordInTheFileThatLacksIt) {
    OpenDir dir;
    const std::string path = dir.file("results.txt");
    save(path, 1);
    stopAt = GetParam().step;
    const test::ChildRun run = test::runInChild([&] {
        setSaveStepHook([](SaveStep step) {
            if (step == stopAt)
                ::raise(SIGKILL);
        });
        save(path, 2);
        return std::string("not killed");
    });
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(WIFSIGNALED(run.status)) << run.text;
    save(path, 3);
    const std::vector<std::string> expected = {"rec1\r", "rec2\r", "rec3\r"};
    EXPECT_EQ(records(path, 2), expected);
    EXPECT_EQ(records(resultsCsvPath(path), 1), expected);
}

INSTANTIATE_TEST_SUITE_P(Steps, SaveKilledAt,
                         ::testing::Values(StopCase{"journal_written", SaveStep::Journal},
                                           StopCase{"results_txt_written", SaveStep::Results},
                                           StopCase{"results_csv_written", SaveStep::Csv}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostileResultsKill, RandomKillsOfConcurrentSaversLeaveBothFilesWithTheSameRecords) {
    OpenDir dir;
    const std::string path = dir.file("results.txt");
    std::mt19937 random(26);
    int next = 0;
    for (int round = 0; round < 8; ++round) {
        std::vector<pid_t> savers;
        for (int s = 0; s < 2; ++s, next += 1000) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                for (int n = next;; ++n)
                    save(path, n);
            }
            savers.push_back(pid);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(5000, 60000)(random));
        for (pid_t pid : savers) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    completePendingRecord(path);
    const std::vector<std::string> txt = records(path, 2);
    EXPECT_FALSE(txt.empty());
    EXPECT_EQ(txt, records(resultsCsvPath(path), 1));
}

TEST(HostileResultsPlace, ALastLineWithoutItsLineEndGetsOneBeforeTheNextRecord) {
    // Both files were edited by hand and saved without a final newline.
    OpenDir dir;
    const std::string path = dir.file("results.txt");
    save(path, 1);
    for (const std::string& file : {path, resultsCsvPath(path)}) {
        const std::string text = readAll(file);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text.substr(0, text.size() - 2);
    }
    save(path, 2);
    const std::vector<std::string> expected = {"rec1\r", "rec2\r"};
    EXPECT_EQ(records(path, 2), expected);
    EXPECT_EQ(records(resultsCsvPath(path), 1), expected);
}

} // namespace
