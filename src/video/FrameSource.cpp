#include "video/FrameSource.h"

#include "common/Error.h"
#include "common/FileError.h"
#include "video/AviCheck.h"
#include "video/AviFrameSource.h"
#include "video/FitsFrameSource.h"
#include "video/SerFrameSource.h"

#include <cstring>
#include <filesystem>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

const char* timeSourceText(TimeSource s) {
    return s == TimeSource::FileTimeStamps ? "file time stamps" : "frame rate";
}

void FrameSource::setFrameRate(double) {
    throw Error("The frame rate of this " + formatName() +
                " comes from the file and cannot be given");
}

namespace {

// The first bytes of the file; fewer (or none) when it is shorter or cannot
// be read, which the checks below then name.
std::size_t readHead(const std::string& path, unsigned char* head, std::size_t size) {
    // Without blocking: a named pipe must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return 0;
    std::size_t n = 0;
    while (n < size) {
        const ssize_t got = ::read(fd, head + n, size - n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        n += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return n;
}

constexpr std::size_t kHeadBytes = 16;
constexpr int64_t kMicrosPerSecond = 1000000;

} // namespace

std::unique_ptr<FrameSource> openFrameSource(const std::string& path) {
    // A pipe, a device or a socket would block the readers or never end.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        throw Error("not a regular file: " + path);
    // A name too long, a loop of links, a file in place of a folder: said
    // as what they are, not as a missing file.
    if (!path.empty() && ::stat(path.c_str(), &st) != 0 && errno != ENOENT)
        throw Error(fileErrorMessage(errno, "open", path));
    unsigned char head[kHeadBytes] = {};
    const std::size_t n = readHead(path, head, sizeof head);
    if (looksLikeAvi(head, n))
        return std::make_unique<AviFrameSource>(path);
    if (n >= 14 && std::memcmp(head, "LUCAM-RECORDER", 14) == 0)
        return std::make_unique<SerFrameSource>(path);
    // A folder may hold a sequence of FITS files; FITS files start with the
    // keyword SIMPLE padded to column 9.
    std::error_code ec;
    if ((n >= 9 && std::memcmp(head, "SIMPLE  =", 9) == 0) ||
        std::filesystem::is_directory(path, ec))
        return std::make_unique<FitsFrameSource>(path);
    // Missing, unreadable, empty: the AVI checks say which.
    checkAviFile(path);
    throw Error("Not an AVI, SER or FITS video (the file's format is not recognised): " + path);
}

RecordingStart modificationTimeStart(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw Error("The file's modification time cannot be read: " + path);
    int64_t secs = st.st_mtime;
    secs -= ((secs % 2) + 2) % 2; // a file date holds even seconds
    RecordingStart r;
    r.unixMicros = secs * kMicrosPerSecond;
    r.fromFile = false;
    return r;
}

} // namespace corvane
