#include "common/FileError.h"

#include "common/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

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

std::string fileErrorMessage(int errorNumber, const std::string& operation,
                             const std::string& path) {
    return fileErrorText(errorNumber) + ": cannot " + operation + " " + path;
}

int openRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw Error(fileErrorMessage(errno, "open", path));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw Error(fileErrorMessage(err, "read", path));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error("not a regular file: " + path);
    }
    // Reads of a regular file never block; the flag only guarded the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void requireRegularFile(const std::string& path) {
    ::close(openRegularFile(path));
}

} // namespace corvane
