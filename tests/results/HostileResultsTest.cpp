// Odd places for the results file that the other results tests leave out:
// a read-only folder that already holds a writable file, and a named pipe
// where the file should be. Each save either lands whole or gives a file
// message, quickly, and never changes bytes already in the file.
#include "results/ResultsFile.h"

#include "common/Error.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace
