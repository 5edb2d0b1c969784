#include "results/ResultsFile.h"

#include "common/Error.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

const std::string kTitleAndHeader =
    "Corvane Ouput File\r\n"
    "RecordDate\tdesignation\tRA\tDEC\tEpoch(J)\tEpoch(B)\tSep(rho)\tPA(theta)\t#frames\tNotes\r\n";
const std::string kLine1 =
    "3/7/25\t(Star Designation)\tHH MM SS\t+00 00 00\t2006.001\t2006.003\t\t\t0\t";
const std::string kLine2 = "3/7/25\tSTF 2\t12 34 56\t+45 00 00\t2025.18\t2025.181\t3.21\t123.45\t"
                           "180\tseeing\tgood  ";

// A fresh directory that an unprivileged user may also write to.
class TempDir : public test::TempDir {
public:
    TempDir() : test::TempDir("corvane-results", true) {}
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string saveError(const std::string& path, const std::string& line) {
    try {
        appendResultsLine(path, line);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Runs `setUp` and then a save in a child process, so that limits and a
// dropped privilege stay there. The child's outcome: the error text, "" for
// success, or "SKIP: why" when the set-up cannot be made on this machine.
struct ChildOutcome {
    bool exitedNormally = false;
    std::string text;
};

ChildOutcome saveInChild(const std::string& path, const std::string& line,
                         const std::function<std::string()>& setUp) {
    const test::ChildRun run = test::runInChild([&] {
        const std::string text = setUp();
        return text.empty() ? "RESULT:" + saveError(path, line) : text;
    });
    ChildOutcome out;
    if (!run.started)
        return out;
    out.exitedNormally = WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
    out.text = run.text;
    return out;
}

// Permission bits do not stop root: drop to an unprivileged user first.
std::string dropPrivileges() {
    if (::geteuid() != 0)
        return "";
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
        return "SKIP: cannot drop root privileges to test permissions";
    return "";
}

std::string limitFileSize(rlim_t bytes) {
    struct rlimit lim {
        bytes, bytes
    };
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
        return "SKIP: cannot set a file size limit";
    return "";
}

#define EXPECT_CHILD_RESULT(outcome, expected)                                                     \
    do {                                                                                           \
        ASSERT_TRUE((outcome).exitedNormally) << "the save killed the process";                    \
        if ((outcome).text.rfind("SKIP:", 0) == 0)                                                 \
            GTEST_SKIP() << (outcome).text;                                                        \
        EXPECT_EQ((outcome).text, std::string("RESULT:") + (expected));                            \
    } while (0)

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

} // namespace

TEST(ResultsFile, FirstSaveWritesTitleHeaderAndLine) {
    TempDir dir;
    const std::string path = dir.file("results.txt");
    appendResultsLine(path, kLine1);
    EXPECT_EQ(readAll(path), kTitleAndHeader + kLine1 + "\r\n");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"results.txt"});
}

TEST(ResultsFile, SecondSaveAddsOneLine) {
    TempDir dir;
    const std::string path = dir.file("results.txt");
    appendResultsLine(path, kLine1);
    appendResultsLine(path, kLine2);
    EXPECT_EQ(readAll(path), kTitleAndHeader + kLine1 + "\r\n" + kLine2 + "\r\n");
}

TEST(ResultsFile, AnExistingFileGetsNoNewHeader) {
    // Whatever the file holds, a save only appends.
    TempDir dir;
    const std::string path = dir.file("results.txt");
    writeAll(path, "older lines\r\n");
    appendResultsLine(path, kLine2);
    EXPECT_EQ(readAll(path), "older lines\r\n" + kLine2 + "\r\n");
}

TEST(ResultsFile, NonAsciiPathAndTextSurvive) {
    TempDir dir;
    const std::string sub = dir.file("R\xC3\xA9sultats \xE2\x98\x85 \xE8\xA6\xB3\xE6\xB8\xAC");
    fs::create_directory(sub);
    const std::string path = sub + "/results.txt";
    const std::string line = "7/3/25\t\xCE\xB1 Gem\t07 34 36\t+31 53 18\t\t\t\t\t0\t"
                             "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 Gr\xC3\xB6\xC3\x9F"
                             "e";
    appendResultsLine(path, line);
    EXPECT_EQ(readAll(path), kTitleAndHeader + line + "\r\n");
}

TEST(ResultsFile, ReadOnlyFileIsAccessDeniedAndUnchanged) {
    TempDir dir;
    const std::string path = dir.file("results.txt");
    appendResultsLine(path, kLine1);
    const std::string before = readAll(path);
    ::chmod(path.c_str(), 0444);
    EXPECT_CHILD_RESULT(saveInChild(path, kLine2, dropPrivileges),
                        "File access denied: cannot open " + path);
    EXPECT_EQ(readAll(path), before);
}

TEST(ResultsFile, UnwritableDirectoryIsAccessDeniedAndCreatesNothing) {
    TempDir dir;
    const std::string sub = dir.file("locked");
    fs::create_directory(sub);
    ::chmod(sub.c_str(), 0555);
    EXPECT_CHILD_RESULT(saveInChild(sub + "/results.txt", kLine1, dropPrivileges),
                        "File access denied: cannot create " + sub + "/results.txt");
    EXPECT_TRUE(entries(sub).empty());
}

TEST(ResultsFile, FullDiskLeavesNoPartialLine) {
    TempDir dir;
    const std::string path = dir.file("results.txt");
    appendResultsLine(path, kLine1);
    const std::string before = readAll(path);
    // Room for ten more bytes: the first write takes part of the line.
    const ChildOutcome outcome =
        saveInChild(path, kLine2, [&] { return limitFileSize(before.size() + 10); });
    EXPECT_CHILD_RESULT(outcome, "Disk full: cannot write " + path);
    EXPECT_EQ(readAll(path), before);
}

TEST(ResultsFile, FullDiskOnANewFileLeavesNoFile) {
    TempDir dir;
    const std::string path = dir.file("results.txt");
    EXPECT_CHILD_RESULT(saveInChild(path, kLine1, [] { return limitFileSize(40); }),
                        "Disk full: cannot create " + path);
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST(ResultsFile, TooManyOpenFiles) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer runtimes open files of their own while an exception is
    // thrown and caught; with every descriptor taken they abort the process.
    // The mapping of the error itself is checked by FileErrorText.
    GTEST_SKIP() << "needs free descriptors under the sanitizers";
#endif
    TempDir dir;
    const std::string path = dir.file("results.txt");
    appendResultsLine(path, kLine1);
    const std::string before = readAll(path);
    const ChildOutcome outcome = saveInChild(path, kLine2, [&dir] {
        // A failed save first, while descriptors are free: under the
        // undefined-behaviour sanitizer its type checks of the thrown Error
        // are then cached. Unchecked, the sanitizer needs a free descriptor
        // to probe the object and, finding none, reports it as invalid.
        saveError(dir.file("nowhere/results.txt"), kLine2);
        while (::open("/dev/null", O_RDONLY) >= 0) {
        }
        return errno == EMFILE ? "" : "SKIP: cannot exhaust the descriptors";
    });
    EXPECT_CHILD_RESULT(outcome, "Too many open files: cannot open " + path);
    EXPECT_EQ(readAll(path), before);
}

struct PathCase {
    const char* name;
    std::string (*pathIn)(const TempDir&);
    std::string message;
};

class BadPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(BadPath, GivesTheFileMessage) {
    const PathCase& c = GetParam();
    TempDir dir;
    fs::create_directory(dir.file("a directory"));
    writeAll(dir.file("plain file"), "x");
    const std::string path = c.pathIn(dir);
    EXPECT_EQ(saveError(path, kLine1), c.message + (": cannot open " + path));
    EXPECT_EQ(readAll(dir.file("plain file")), "x");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadPath,
    ::testing::ValuesIn(std::vector<PathCase>{
        {"missing_directory", [](const TempDir& d) { return d.file("nowhere/results.txt"); },
         "File not found"},
        {"file_in_place_of_directory",
         [](const TempDir& d) { return d.file("plain file/results.txt"); }, "File not found"},
        {"directory_in_place_of_file", [](const TempDir& d) { return d.file("a directory"); },
         "File access denied"},
        {"name_too_long", [](const TempDir& d) { return d.file(std::string(300, 'r')); },
         "Invalid filename"},
    }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileErrorText, MapsTheSystemErrors) {
    const std::map<int, std::string> expected = {
        {EACCES, "File access denied"},
        {EPERM, "File access denied"},
        {EROFS, "File access denied"},
        {ENOSPC, "Disk full"},
        {EDQUOT, "Disk full"},
        {EFBIG, "Disk full"},
        {ENAMETOOLONG, "Invalid filename"},
        {EINVAL, "Invalid filename"},
        {EMFILE, "Too many open files"},
        {ENFILE, "Too many open files"},
        {ENOENT, "File not found"},
        {ENOTDIR, "File not found"},
        {EIO, "I/O error 5"},
        {EBADF, "I/O error 9"},
    };
    for (const auto& [err, text] : expected)
        EXPECT_EQ(fileErrorText(err), text) << err;
}

TEST(ResultsFile, ConcurrentSavesNeverInterleaveOrGetLost) {
    TempDir dir;
    const std::string path = dir.file("results.txt");
    constexpr int kWriters = 4, kLines = 40;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < kLines; ++i) {
                const std::string line = "writer " + std::to_string(w) + " line " +
                                         std::to_string(i) + "\t" + std::string(300, 'a' + w);
                if (!saveError(path, line).empty())
                    ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string all = readAll(path);
    ASSERT_EQ(all.substr(0, kTitleAndHeader.size()), kTitleAndHeader);
    std::istringstream in(all.substr(kTitleAndHeader.size()));
    std::vector<int> nextOf(kWriters, 0);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        int w = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "writer %d line %d", &w, &i), 2) << line;
        ASSERT_TRUE(w >= 0 && w < kWriters);
        EXPECT_EQ(i, nextOf[w]++);
        EXPECT_EQ(line.substr(line.find('\t') + 1), std::string(300, 'a' + w) + "\r");
        ++count;
    }
    EXPECT_EQ(count, kWriters * kLines);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"results.txt"});
}

TEST(ResultsFile, PathOfABuildFolderCopyIsBesideTheExecutable) {
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(defaultResultsPath(), fs::path(exe).parent_path().string() + "/results.txt");
}

TEST(ResultsFile, SizeLimitSignalIsRestoredAfterSaving) {
    struct sigaction before {};
    sigaction(SIGXFSZ, nullptr, &before);
    TempDir dir;
    appendResultsLine(dir.file("results.txt"), kLine1);
    struct sigaction after {};
    sigaction(SIGXFSZ, nullptr, &after);
    EXPECT_EQ(before.sa_handler, after.sa_handler);
}
