#include "results/ResultsFile.h"

#include "common/Error.h"
#include "common/FileError.h"
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

[[noreturn]] void fail(int errorNumber, const char* operation, const std::string& path) {
    throw Error(fileErrorMessage(errorNumber, operation, path));
}

// The open file's state; a pipe, a device or a folder is refused by name.
struct stat regularFileState(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        fail(errno, "read", path);
    if (!S_ISREG(st.st_mode))
        throw Error("not a regular file: " + path);
    return st;
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
// can be cut back without cutting away another save's line. A file whose last
// line has lost its line end (edited by hand) gets one first, so the new
// record starts a line of its own. False when no file exists at `path`.
bool appendToExisting(const std::string& path, const std::string& data) {
    // O_NONBLOCK: a FIFO in place of the file must not hang the save.
    // Reading is needed only to see the last byte; a file the user may write
    // but not read still takes the line.
    const int flags = O_APPEND | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(path.c_str(), O_RDWR | flags);
    const bool readable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_WRONLY | flags);
    if (fd < 0) {
        const int openErr = errno;
        if (openErr == ENOENT && ::access(directoryOf(path).c_str(), F_OK) == 0)
            return false;
        fail(openErr, "open", path);
    }
    Descriptor file(fd);
    struct stat st = regularFileState(fd, path);
    // Another program's lock-less writes are not ours to guard; when the file
    // system has no locks the save goes on without one.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::fstat(fd, &st) != 0)
        fail(errno, "read", path);
    const off_t before = st.st_size;
    char last = '\n';
    if (readable && before > 0 && ::pread(fd, &last, 1, before - 1) != 1)
        fail(errno ? errno : EIO, "read", path);

    int err = writeAll(fd, last == '\n' ? data : kLineEnd + data);
    if (err == 0)
        err = syncFile(fd);
    if (err != 0) {
        // Take back whatever part of the line reached the file.
        if (::ftruncate(fd, before) == 0)
            syncFile(fd);
        fail(err, "write", path);
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
        fail(err, "create", path);
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
        fail(linkErr, "create", path);
    // A file system without hard links: create the file in place.
    err = writeNewFile(path, content);
    if (err == EEXIST)
        return Creation::AlreadyThere;
    if (err != 0)
        fail(err, "create", path);
    syncDirectory(directoryOf(path));
    return Creation::Created;
}

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
    fail(EAGAIN, "write", path);
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

namespace {

const char* const kPendingMark = "corvane pending record";

SaveStepHook saveStepHook = nullptr;

void reachedStep(SaveStep step) {
    if (saveStepHook)
        saveStepHook(step);
}

std::string resultsHead() {
    return std::string(kResultsTitle) + kLineEnd + kResultsHeader + kLineEnd;
}

std::string csvHead() {
    return std::string(kResultsCsvHeader) + kLineEnd;
}

// The journal of a save: the record's two lines, written and synced before
// either results file is touched, and emptied once both files hold them. A
// save cut short (a crash, a kill, a power cut) leaves it full, and the next
// save completes the record in whichever file lacks it. Its lock also keeps
// the saves of several programs from interleaving their two appends.
std::string pendingPath(const std::string& path) {
    return directoryOf(path) + "/." + fileNameOf(path) + ".pending";
}

std::string pendingText(const std::string& line, const std::string& csvRow) {
    return std::string(kPendingMark) + "\n" + std::to_string(line.size()) + "\n" + line + "\n" +
           std::to_string(csvRow.size()) + "\n" + csvRow + "\nend\n";
}

// One length-prefixed part of the journal at `at`, moving `at` past it.
bool readPart(const std::string& text, std::size_t& at, std::string& part) {
    const std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos || eol == at || eol - at > 12)
        return false;
    std::size_t size = 0;
    for (std::size_t i = at; i < eol; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        size = size * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    at = eol + 1;
    if (size > text.size() - at || text.compare(at + size, 1, "\n") != 0)
        return false;
    part = text.substr(at, size);
    at += size + 1;
    return true;
}

// The record a journal holds; false for an empty journal or one whose writing
// was cut short (then no results file was touched yet).
bool parsePending(const std::string& text, std::string& line, std::string& csvRow) {
    const std::string mark = std::string(kPendingMark) + "\n";
    if (text.compare(0, mark.size(), mark) != 0)
        return false;
    std::size_t at = mark.size();
    return readPart(text, at, line) && readPart(text, at, csvRow) && text.substr(at) == "end\n";
}

// Whether the last line of the file at `path` is `line` (its line end may be
// missing). A file that is not there holds nothing.
bool endsWithLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return false;
        fail(errno, "open", path);
    }
    Descriptor file(fd);
    const struct stat st = regularFileState(fd, path);
    const std::size_t want = line.size() + 3;
    const off_t from =
        st.st_size > static_cast<off_t>(want) ? st.st_size - static_cast<off_t>(want) : 0;
    std::string tail(static_cast<std::size_t>(st.st_size - from), '\0');
    if (!tail.empty() &&
        ::pread(fd, tail.data(), tail.size(), from) != static_cast<ssize_t>(tail.size()))
        fail(errno ? errno : EIO, "read", path);
    for (const char* end : {kLineEnd, ""}) {
        const std::string whole = "\n" + line + end;
        if (tail.size() >= whole.size() &&
            tail.compare(tail.size() - whole.size(), whole.size(), whole) == 0)
            return true;
    }
    return false;
}

// The open, locked journal of one save.
class Journal {
public:
    explicit Journal(const std::string& path) : path_(pendingPath(path)) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666);
        if (fd_ < 0) {
            // A folder the user may not write to still takes saves into files
            // that exist there; they go without a journal, as before.
            if (errno == EACCES || errno == EROFS || errno == EPERM)
                return;
            // No folder: the results file is what the user asked for.
            fail(errno, "open", errno == ENOENT || errno == ENOTDIR ? path : path_);
        }
        regularFileState(fd_, path_);
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR && errno != ENOLCK && errno != EOPNOTSUPP)
                fail(errno, "lock", path_);
            if (errno != EINTR)
                break;
        }
    }
    ~Journal() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    std::string read() const {
        std::string text;
        if (fd_ < 0)
            return text;
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                fail(errno, "read", path_);
            if (n == 0)
                return text;
            text.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
    }

    void write(const std::string& text) {
        if (fd_ < 0)
            return;
        int err = ::ftruncate(fd_, 0) == 0 ? 0 : errno;
        if (err == 0 && !text.empty()) {
            ::lseek(fd_, 0, SEEK_SET);
            err = writeAll(fd_, text);
        }
        if (err == 0)
            err = syncFile(fd_);
        if (err != 0) {
            if (::ftruncate(fd_, 0) == 0)
                syncFile(fd_);
            fail(err, "write", path_);
        }
    }

    void clear() { write(std::string()); }

private:
    std::string path_;
    int fd_ = -1;
};

// Completes a record whose save was cut short, in whichever file lacks it.
void completePending(const std::string& path, Journal& journal) {
    std::string line, csvRow;
    if (!parsePending(journal.read(), line, csvRow))
        return;
    const std::string csv = resultsCsvPath(path);
    if (!endsWithLine(path, line))
        appendRecord(path, resultsHead(), line + kLineEnd);
    if (!endsWithLine(csv, csvRow))
        appendRecord(csv, csvHead(), csvRow + kLineEnd);
    journal.clear();
}

} // namespace

void setSaveStepHook(SaveStepHook hook) {
    saveStepHook = hook;
}

void completePendingRecord(const std::string& path) {
    FileSizeSignalIgnored noSignal;
    Journal journal(path);
    completePending(path, journal);
}

void saveResultsRecord(const std::string& path, const std::string& line,
                       const std::string& csvRow) {
    FileSizeSignalIgnored noSignal;
    Journal journal(path);
    try {
        completePending(path, journal);
    } catch (const Error& e) {
        throw Error(std::string(e.what()) +
                    ". An earlier measurement is still to be added there; this one was not saved");
    }
    journal.write(pendingText(line, csvRow));
    reachedStep(SaveStep::Journal);
    try {
        appendResultsLine(path, line);
    } catch (const Error&) {
        // Nothing of the record reached either file: it is no longer pending.
        journal.clear();
        throw;
    }
    reachedStep(SaveStep::Results);
    const std::string csv = resultsCsvPath(path);
    try {
        appendRecord(csv, csvHead(), csvRow + kLineEnd);
    } catch (const Error& e) {
        // The journal keeps the row, to be added at the next save.
        throw Error(std::string(e.what()) + ". The results line was saved in " + fileNameOf(path));
    }
    reachedStep(SaveStep::Csv);
    journal.clear();
}

std::string defaultResultsPath() {
    return userFilePath("results.txt");
}

} // namespace corvane
