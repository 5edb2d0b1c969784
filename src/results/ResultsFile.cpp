#include "results/ResultsFile.h"

#include "common/Error.h"
#include "results/FileLocation.h"
#include "results/ResultsCsv.h"
#include "results/ResultsLine.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

const char* const kLineEnd = "\r\n";

[[noreturn]] void fail(int errorNumber) {
    throw Error(fileErrorText(errorNumber));
}

// A write past the file size limit raises SIGXFSZ, whose default action ends
// the program. While saving it is ignored, so the write fails with EFBIG
// and the save reports "Disk full" instead.
class FileSizeSignalIgnored {
public:
    FileSizeSignalIgnored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        active_ = sigaction(SIGXFSZ, &ignore, &previous_) == 0;
    }
    ~FileSizeSignalIgnored() {
        if (active_)
            sigaction(SIGXFSZ, &previous_, nullptr);
    }
    FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
    FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

private:
    struct sigaction previous_ {};
    bool active_ = false;
};

// A descriptor that is closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now; the errno of a failed close, or 0.
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Writes all of `data`: the first write() carries the whole of it, so on an
// append-only descriptor it lands in one piece. Only when the system takes
// less (a size limit, a full disk) is the rest tried, which then yields the
// reason. 0 or the errno.
int writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int syncFile(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes a new directory entry durable. Best effort: the file's own contents
// are already synced, and a failure here says nothing about them.
void syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Appends to an existing file under an exclusive lock, so that a failed write
// can be cut back without cutting away another save's line. False when no
// file exists at `path`.
bool appendToExisting(const std::string& path, const std::string& data) {
    // O_NONBLOCK: a FIFO in place of the file must not hang the save.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int openErr = errno;
        if (openErr == ENOENT && ::access(directoryOf(path).c_str(), F_OK) == 0)
            return false;
        fail(openErr);
    }
    Descriptor file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        fail(errno);
    if (!S_ISREG(st.st_mode))
        fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    // Another program's lock-less writes are not ours to guard; when the file
    // system has no locks the save goes on without one.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::fstat(fd, &st) != 0)
        fail(errno);
    const off_t before = st.st_size;

    int err = writeAll(fd, data);
    if (err == 0)
        err = syncFile(fd);
    if (err != 0) {
        // Take back whatever part of the line reached the file.
        if (::ftruncate(fd, before) == 0)
            syncFile(fd);
        fail(err);
    }
    // The line is on disk; a late close error cannot take it back.
    file.close();
    return true;
}

std::string uniqueTemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return directoryOf(path) + "/." + fileNameOf(path) + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter++) + ".tmp";
}

enum class Creation { Created, AlreadyThere };

// Writes `content` into a new file and fails without leaving any file.
int writeNewFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    Descriptor file(fd);
    int err = writeAll(fd, content);
    if (err == 0)
        err = syncFile(fd);
    if (err == 0)
        err = file.close();
    if (err != 0)
        ::unlink(path.c_str());
    return err;
}

// A new file appears with its title, header and first line at once: they are
// written and synced under a temporary name, then linked to `path`, which
// fails if the file has come into being meanwhile. So no other save can ever
// find the file without its header lines, and a failed write leaves nothing.
Creation createWhole(const std::string& path, const std::string& content) {
    std::string temporary;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        temporary = uniqueTemporaryName(path);
        err = writeNewFile(temporary, content);
    }
    if (err != 0)
        fail(err);
    const int linked = ::link(temporary.c_str(), path.c_str());
    const int linkErr = linked == 0 ? 0 : errno;
    ::unlink(temporary.c_str());
    if (linkErr == 0) {
        syncDirectory(directoryOf(path));
        return Creation::Created;
    }
    if (linkErr == EEXIST)
        return Creation::AlreadyThere;
    if (linkErr != EPERM && linkErr != EOPNOTSUPP)
        fail(linkErr);
    // A file system without hard links: create the file in place.
    err = writeNewFile(path, content);
    if (err == EEXIST)
        return Creation::AlreadyThere;
    if (err != 0)
        fail(err);
    syncDirectory(directoryOf(path));
    return Creation::Created;
}

} // namespace

std::string fileErrorText(int e) {
    switch (e) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
        return "File access denied";
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return "Disk full";
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
        return "Invalid filename";
    case EMFILE:
    case ENFILE:
        return "Too many open files";
    case ENOENT:
    case ENOTDIR:
        return "File not found";
    default:
        return "I/O error " + std::to_string(e);
    }
}

namespace {

// Appends `data` (its own line end included) to the file at `path`, or
// creates the file holding `head` and then `data`.
void appendRecord(const std::string& path, const std::string& head, const std::string& data) {
    FileSizeSignalIgnored noSignal;
    const std::string whole = head + data;
    // The file may be removed or created by another save between the steps;
    // a few rounds settle that.
    for (int round = 0; round < 8; ++round) {
        if (appendToExisting(path, data))
            return;
        if (createWhole(path, whole) == Creation::Created)
            return;
    }
    fail(EAGAIN);
}

} // namespace

void appendResultsLine(const std::string& path, const std::string& line) {
    appendRecord(path, std::string(kResultsTitle) + kLineEnd + kResultsHeader + kLineEnd,
                 line + kLineEnd);
}

std::string resultsCsvPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? path.substr(0, dot) : path) + ".csv";
}

void saveResultsRecord(const std::string& path, const std::string& line,
                       const std::string& csvRow) {
    appendResultsLine(path, line);
    const std::string csv = resultsCsvPath(path);
    try {
        appendRecord(csv, std::string(kResultsCsvHeader) + kLineEnd, csvRow + kLineEnd);
    } catch (const Error& e) {
        throw Error(fileNameOf(csv) + ": " + e.what() + ". The results line was saved in " +
                    fileNameOf(path));
    }
}

std::string defaultResultsPath() {
    return userFilePath("results.txt");
}

} // namespace corvane
